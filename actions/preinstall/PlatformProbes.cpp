#include "actions/preinstall/PlatformProbes.h"

#include "imdp/UniqueHandle.h"

#include <oleauto.h>
#include <wbemidl.h>

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

struct bstr_traits {
    using pointer = BSTR;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer s) noexcept { SysFreeString(s); }
};
using unique_bstr = imdp::unique_handle<bstr_traits>;

class CWmiBiosSerialNumbers : public IBiosSerialNumbers {
public:
    HRESULT Query(std::vector<std::wstring>& serials) override
    {
        serials.clear();
        imdp::com_ptr<IWbemLocator> locator;
        HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                      locator.put_void());
        if (FAILED(hr))
            return hr;
        const unique_bstr nameSpace(SysAllocString(L"ROOT\\CIMV2"));
        const unique_bstr language(SysAllocString(L"WQL"));
        const unique_bstr query(SysAllocString(L"SELECT * from Win32_BIOS"));
        if (!nameSpace || !language || !query)
            return E_OUTOFMEMORY;
        imdp::com_ptr<IWbemServices> services;
        hr = locator->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                    services.put());
        if (FAILED(hr))
            return hr;
        hr = CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
        if (FAILED(hr))
            return hr;
        imdp::com_ptr<IEnumWbemClassObject> instances;
        hr = services->ExecQuery(language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 nullptr, instances.put());
        if (FAILED(hr))
            return hr;
        for (;;) {
            imdp::com_ptr<IWbemClassObject> instance;
            ULONG returned = 0;
            hr = instances->Next(WBEM_INFINITE, 1, instance.put(), &returned);
            if (FAILED(hr))
                return hr;
            if (returned == 0)
                break;
            VARIANT serial;
            VariantInit(&serial);
            if (SUCCEEDED(instance->Get(L"SerialNumber", 0, &serial, nullptr, nullptr)) && serial.vt == VT_BSTR &&
                serial.bstrVal != nullptr)
                serials.emplace_back(serial.bstrVal, SysStringLen(serial.bstrVal));
            VariantClear(&serial);
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
