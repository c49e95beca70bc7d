#pragma once

// Stand-ins for what an embedded Windows has and Wine lacks: the edition and
// product queries, the write-filter libraries (their entry points), the UWF
// WMI classes, the registry filter's hidden volume and message boxes.

#include "actions/embedded/Environment.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace embedded_test {

struct FakePlatform : EmbeddedSupport::IPlatformInfo {
    DWORD major = 10, minor = 0;
    WORD spMajor = 0, suite = 0;
    bool productInfoAvailable = true;
    DWORD productType = 0x30; // professional

    bool VerifyVersion(OSVERSIONINFOEXW& wanted, DWORD typeMask, DWORDLONG conditions) override;
    bool GetProductInfo(DWORD, DWORD, DWORD, DWORD, DWORD* type) override
    {
        *type = productType;
        return productInfoAvailable;
    }
};

// Volumes the fake ewfapi.dll reports as protected.
struct EwfVolume {
    std::wstring name;
    wchar_t letter;
    int state;       // 0 enabled, 1 disabled
    int bootCommand; // 0 none, 1 enable, 2 disable
};

struct FakeLibraries : EmbeddedSupport::ILibraryLoader {
    FakeLibraries();
    ~FakeLibraries() override;
    bool ewfPresent = false;
    bool fbwfPresent = false;
    std::vector<std::pair<std::wstring, bool>> loads; // (path, verified)

    HMODULE Load(const std::wstring& fullPath, bool verifySignature) override;
    FARPROC Resolve(HMODULE module, const char* name) override;

    // State behind the fake entry points.
    static std::vector<EwfVolume> ewfVolumes;
    static std::map<std::wstring, ULONG> fbwfProtected; // drive -> current-session protected
    static ULONG fbwfAnswer;
    static int fbwfCalls;
};

struct FakeWmi : WmiUtil::IWmiQuery {
    bool fail = false;
    bool filterPresent = false;
    bool filterEnabled = false;
    std::map<wchar_t, std::pair<bool, bool>> volumes; // letter -> (current session protected, next)
    std::set<wchar_t> storageSpaceDrives; // drive letters whose disk is a storage space
    std::vector<std::wstring> queries;

    std::vector<WmiUtil::WmiRow> Query(const std::wstring& nameSpace, const std::wstring& wql,
                                       const std::vector<std::wstring>& properties, size_t maxRows) override;
};

struct FakeMounter : EmbeddedSupport::IVolumeMounter {
    DWORD mountResult = ERROR_SUCCESS;
    std::vector<std::wstring> volumeFiles{L"QvncQaxRegData1.dat", L"QvncQaxRegData2.dat", L"keep.txt"};
    std::wstring mountedOn;
    std::vector<std::wstring> leftAtUnmount;

    DWORD Mount(const std::string& volume, const std::wstring& folder) override;
    void Unmount(const std::wstring& folder) override;
};

struct FakeUi : InstallUtils::IUserInterface {
    int answer = IDNO;
    std::vector<std::pair<std::wstring, std::wstring>> shown; // (text, caption)
    std::vector<std::wstring> opened;

    int ShowMessage(HWND, const std::wstring& text, const std::wstring& caption, UINT) override
    {
        shown.emplace_back(text, caption);
        return answer;
    }
    bool Open(const std::wstring& target) override
    {
        opened.push_back(target);
        return true;
    }
};

} // namespace embedded_test
