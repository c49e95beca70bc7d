#include "actions/preinstall/PlatformProbes.h"

#include "actions/embedded/WmiInfo.h"
#include "imdp/UniqueHandle.h"


#include <iomanip>

namespace clientca {
namespace {

// BUILTIN\Administrators.
imdp::unique_sid AllocateAdministratorsSid()
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    imdp::unique_sid sid;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                  0, 0, 0, sid.put()))
        return imdp::unique_sid();
    return sid;
}

TokenAnswer Failed(TokenStep step)
{
    TokenAnswer answer;
    answer.failedAt = step;
    answer.error = GetLastError();
    return answer;
}

// Membership test on a token that CheckTokenMembership accepts (an
// impersonation token); `checkStep` names the step in a failure.
TokenAnswer CheckAdministrators(HANDLE token, TokenStep checkStep)
{
    const imdp::unique_sid admins = AllocateAdministratorsSid();
    if (!admins)
        return Failed(TokenStep::AllocateSid);
    BOOL member = FALSE;
    if (!CheckTokenMembership(token, admins.get(), &member))
        return Failed(checkStep);
    TokenAnswer answer;
    answer.member = member != FALSE;
    return answer;
}

class CTokenAdminMembership : public IAdminMembership {
public:
    TokenAnswer ProcessToken() override
    {
        imdp::unique_kernel_handle process;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, process.put()))
            return Failed(TokenStep::OpenToken);
        imdp::unique_kernel_handle duplicate;
        if (!DuplicateToken(process.get(), SecurityIdentification, duplicate.put()))
            return Failed(TokenStep::DuplicateToken);
        return CheckAdministrators(duplicate.get(), TokenStep::CheckMembership);
    }

    TokenAnswer LinkedToken() override
    {
        imdp::unique_kernel_handle process;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, process.put()))
            return Failed(TokenStep::OpenToken);
        TOKEN_LINKED_TOKEN linked = {};
        DWORD returned = 0;
        if (!GetTokenInformation(process.get(), TokenLinkedToken, &linked, sizeof(linked), &returned))
            return Failed(TokenStep::LinkedToken);
        // The linked token handed to a caller without the TCB privilege is an
        // identification token: it can be tested as it is.
        const imdp::unique_kernel_handle owner(linked.LinkedToken);
        return CheckAdministrators(owner.get(), TokenStep::CheckLinkedMembership);
    }
};

class CKernelSystemTimes : public ISystemTimesSource {
public:
    bool Read(SystemTimes& times) override
    {
        return GetSystemTimes(&times.idle, &times.kernel, &times.user) != FALSE;
    }
};

class CWmiBiosSerialNumbers : public IBiosSerialNumbers {
public:
    HRESULT Query(std::vector<std::wstring>& serials) override
    {
        serials.clear();
        try {
            WmiUtil::CWmiInfoBase wmi(L"ROOT\\CIMV2");
            for (const WmiUtil::WmiRow& bios :
                 wmi.Query(L"SELECT * from Win32_BIOS", {L"SerialNumber"}, static_cast<size_t>(-1))) {
                const auto serial = bios.find(L"SerialNumber");
                if (serial != bios.end() && serial->second.kind == WmiUtil::WmiValue::Text)
                    serials.push_back(serial->second.text);
            }
        } catch (const WmiUtil::wmi_error& e) {
            return e.result();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
};

} // namespace

IAdminMembership& IAdminMembership::Production()
{
    static CTokenAdminMembership instance;
    return instance;
}

ISystemTimesSource& ISystemTimesSource::Production()
{
    static CKernelSystemTimes instance;
    return instance;
}

IBiosSerialNumbers& IBiosSerialNumbers::Production()
{
    static CWmiBiosSerialNumbers instance;
    return instance;
}

CReparsePointCache::CReparsePointCache()
    : query_([](const std::wstring& path) { return GetFileAttributesW(path.c_str()); })
{
}

CReparsePointCache& CReparsePointCache::Production()
{
    static CReparsePointCache instance;
    return instance;
}

bool CReparsePointCache::IsReparsePoint(const std::wstring& path, InstallUtils::CMsiUtil& msi)
{
    const auto known = answers_.find(path);
    if (known != answers_.end())
        return known->second;
    const DWORD attributes = query_(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        msi << L"Could not get attributes for " << path << std::endl;
        return false;
    }
    const bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    msi.log(1) << L"We believe that " << path << (reparse ? L" is a reparse point." : L" is good.")
               << L" Its attributes were 0x" << std::hex << attributes << std::dec << std::endl;
    answers_.emplace(path, reparse);
    return reparse;
}

} // namespace clientca
