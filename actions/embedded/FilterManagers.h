#pragma once

#include "actions/embedded/Environment.h"
#include "install_utils/MsiUtil.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace EmbeddedSupport {

enum class CompareMode { AtLeast, Equal };

// Is this an embedded edition of Windows, and which version is it.
class CSystemDetector {
public:
    explicit CSystemDetector(IPlatformInfo& platform) : platform_(platform) {}
    virtual ~CSystemDetector() = default;

    // Major, minor and service-pack major compared by `mode`; a non-zero suite mask must match too.
    bool IsVersion(DWORD major, DWORD minor, WORD spMajor, WORD suiteMask, CompareMode mode) const;
    bool IsEmbedded() const;

    // The product types GetProductInfo reports for embedded editions.
    static bool IsEmbeddedProductType(DWORD type);

private:
    IPlatformInfo& platform_;
};

// Services and libraries an embedded system must have, reached through the
// system folder's own advapi32, shlwapi and shell32.
class CEmbDependencyChecker {
public:
    CEmbDependencyChecker();
    virtual ~CEmbDependencyChecker();
    CEmbDependencyChecker(const CEmbDependencyChecker&) = delete;
    CEmbDependencyChecker& operator=(const CEmbDependencyChecker&) = delete;

    enum ServiceState { NotFound = 0, Stopped = 1, Running = 2 };
    // 0 not found or not queryable, 1 exists and not running, 2 running.
    ServiceState GetServiceState(InstallUtils::CMsiUtil& msi, const wchar_t* name);
    // Whether every service runs, asked in order over one service-manager
    // connection; S_OK, S_FALSE at the first that does not, or an HRESULT.
    HRESULT AllServicesRunning(InstallUtils::CMsiUtil& msi, const std::vector<std::wstring>& names);
    bool FileExists(InstallUtils::CMsiUtil& msi, const std::wstring& path);

private:
    struct Api;
    Api* api_;
};

// The Enhanced Write Filter through ewfapi.dll.
class CEwfMgr {
public:
    CEwfMgr(Environment& environment, CSystemDetector& detector, CEmbDependencyChecker& dependencies)
        : environment_(environment), detector_(detector), dependencies_(dependencies)
    {
    }
    virtual ~CEwfMgr() = default;

    bool LibraryLoaded();
    // The library is loaded or the ewf service exists.
    bool IsInstalled(InstallUtils::CMsiUtil& msi);
    // (current-enabled, enabled-after-restart) of a drive "X:"; both false for any other form.
    std::pair<bool, bool> GetVolumeState(const std::wstring& drive);
    bool ProtectsDrive(const std::wstring& path);

    struct EntryPoints;

private:
    void Load();

    Environment& environment_;
    CSystemDetector& detector_;
    CEmbDependencyChecker& dependencies_;
    std::once_flag loaded_;
    HMODULE module_ = nullptr;
    std::vector<FARPROC> entries_;
};

// The File-Based Write Filter through fbwflib.dll.
class CFbwfMgr {
public:
    CFbwfMgr(Environment& environment, CSystemDetector& detector) : environment_(environment), detector_(detector) {}
    virtual ~CFbwfMgr() = default;

    bool LibraryLoaded();
    bool ProtectsDrive(const std::wstring& path);
    // An entry point of the loaded library (for the exclusions), or null.
    FARPROC EntryPoint(const char* name);

private:
    void Load();

    Environment& environment_;
    CSystemDetector& detector_;
    std::once_flag loaded_;
    HMODULE module_ = nullptr;
    std::map<std::string, FARPROC> entries_;
    std::map<std::wstring, bool> protectedDrives_;
};

// The Unified Write Filter through WMI (root\standardcimv2\embedded).
class CUwfMgr {
public:
    explicit CUwfMgr(Environment& environment) : environment_(environment) {}
    virtual ~CUwfMgr() = default;

    static const wchar_t* const kNamespace;

    // The first UWF_Filter instance (with CurrentEnabled); false when there is none or WMI failed.
    bool GetFilter(WmiUtil::WmiRow& filter);
    // (current-session protected, next-session protected) of a drive "X:".
    std::pair<bool, bool> GetVolumeState(const std::wstring& drive);
    bool ProtectsDrive(const std::wstring& path);

private:
    Environment& environment_;
};

// The Registry Filter's data files on its hidden volume.
class CRegFilterMgr {
public:
    explicit CRegFilterMgr(Environment& environment) : environment_(environment) {}
    virtual ~CRegFilterMgr() = default;

    static const char* const kDataVolume;
    static const wchar_t* const kFallbackFolderName;

    // Mounts the data volume on a fresh folder of the system drive and deletes
    // the files matching `pattern` in its root: 0, or the Win32 error of the
    // first failing step among expansion, folder creation, mounting and search.
    DWORD RemoveDataFiles(const std::wstring& pattern);

    static std::wstring FolderName();

private:
    Environment& environment_;
};

// The managers of one environment; the exports use the process-wide set.
struct CManagers {
    explicit CManagers(Environment& environment);

    Environment& environment;
    CSystemDetector detector;
    CEmbDependencyChecker dependencies;
    CEwfMgr ewf;
    CFbwfMgr fbwf;
    CUwfMgr uwf;
    CRegFilterMgr regFilter;
};

CManagers& ProcessManagers();

// A drive "X:" (a letter and a colon, nothing more) from the first two characters of a path.
bool IsDriveForm(const std::wstring& drive);

} // namespace EmbeddedSupport
