#pragma once

// The machine facts the privilege and platform checks ask the system for, each
// behind a narrow interface so that a caller can put its own answers in place
// (imdp::Seam<...>::Scoped) where the real machine cannot be arranged.

#include "install_utils/MsiUtil.h"
#include "imdp/Seam.h"

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace clientca {

// Which step of a token question failed.
enum class TokenStep {
    None,
    OpenToken,
    DuplicateToken,
    AllocateSid,
    CheckMembership,
    LinkedToken,
    CheckLinkedMembership,
};

struct TokenAnswer {
    bool member = false;
    TokenStep failedAt = TokenStep::None; // None when the question was answered
    DWORD error = 0;                      // last error of the failed step
};

// Membership of the Administrators group (S-1-5-32-544).
class IAdminMembership {
public:
    virtual ~IAdminMembership() = default;
    // The process token itself (elevated, or UAC off).
    virtual TokenAnswer ProcessToken() = 0;
    // The token linked to the process token: the full token of an
    // administrator whose process runs with the filtered half.
    virtual TokenAnswer LinkedToken() = 0;

    static IAdminMembership& Production();
};

struct SystemTimes {
    FILETIME idle;
    FILETIME kernel; // includes the idle time
    FILETIME user;
};

// GetSystemTimes.
class ISystemTimesSource {
public:
    virtual ~ISystemTimesSource() = default;
    // False when the system refused; the last error is then set.
    virtual bool Read(SystemTimes& times) = 0;

    static ISystemTimesSource& Production();
};

// SerialNumber of every Win32_BIOS instance in ROOT\CIMV2. The caller has
// initialised COM on its thread.
class IBiosSerialNumbers {
public:
    virtual ~IBiosSerialNumbers() = default;
    // S_OK with the serial numbers found (instances without a string serial
    // number are skipped), or the failing call's HRESULT.
    virtual HRESULT Query(std::vector<std::wstring>& serials) = 0;

    static IBiosSerialNumbers& Production();
};

// Answers whether a path is a reparse point and remembers each answer for the
// life of the library. The process-wide instance is Seam<CReparsePointCache>;
// a caller that needs an empty memory or other attributes installs its own.
class CReparsePointCache {
public:
    // GetFileAttributesW's contract: INVALID_FILE_ATTRIBUTES with the last error set on failure.
    using AttributeQuery = std::function<DWORD(const std::wstring&)>;

    CReparsePointCache();
    explicit CReparsePointCache(AttributeQuery query) : query_(std::move(query)) {}
    CReparsePointCache(const CReparsePointCache&) = delete;
    CReparsePointCache& operator=(const CReparsePointCache&) = delete;

    // Asks the file system the first time a path is seen and writes what it
    // found to `msi`; a path whose attributes cannot be read answers false and
    // is asked again next time.
    bool IsReparsePoint(const std::wstring& path, InstallUtils::CMsiUtil& msi);

    static CReparsePointCache& Production();

private:
    AttributeQuery query_;
    std::map<std::wstring, bool> answers_;
};

} // namespace clientca
