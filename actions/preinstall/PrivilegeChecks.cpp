#include "actions/preinstall/PrivilegeChecks.h"

#include "actions/preinstall/PlatformProbes.h"
#include "imdp/UniqueHandle.h"
#include "install_utils/ExportGuard.h"
#include "install_utils/MsiUtil.h"

namespace clientca {
namespace {

const wchar_t kInstallerPolicyKey[] = L"Software\\Policies\\Microsoft\\Windows\\Installer";

// Windows does not redirect the policy key between the 32-bit and 64-bit
// registry views, so the plain view of either process sees it.
bool PolicyValueIsOne(HKEY root)
{
    imdp::unique_hkey key;
    if (RegOpenKeyExW(root, kInstallerPolicyKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegQueryValueExW(key.get(), L"AlwaysInstallElevated", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS)
        return false;
    return type == REG_DWORD && size == sizeof(value) && value == 1;
}

const wchar_t* FailureText(TokenStep step)
{
    switch (step) {
    case TokenStep::OpenToken:
        return L"Could not open current process' token. Error: ";
    case TokenStep::DuplicateToken:
        return L"Could not duplicate current process' token. Error: ";
    case TokenStep::AllocateSid:
        return L"Could not allocate Admins' SID. Error: ";
    case TokenStep::CheckMembership:
        return L"Could not check token membership. Error: ";
    case TokenStep::LinkedToken:
        return L"Could not obtain linked token (this is ok if UAC is off). Error: ";
    case TokenStep::CheckLinkedMembership:
        return L"Could not check linked token membership. Error: ";
    case TokenStep::None:
        break;
    }
    return L"";
}

// The answer, with a failure written to the log; a failed question answers no.
bool Answered(const TokenAnswer& answer, InstallUtils::CMsiUtil& msi)
{
    if (answer.failedAt != TokenStep::None) {
        msi << FailureText(answer.failedAt) << answer.error << std::endl;
        return false;
    }
    return answer.member;
}

// Split tokens exist from Windows Vista (6.0) on.
bool HasSplitTokens()
{
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 0;
    version.wServicePackMajor = 0;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
    mask = VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask) != FALSE;
}

bool AllowedByPolicy(InstallUtils::CMsiUtil& msi)
{
    if (!AlwaysInstallElevatedPolicy())
        return false;
    msi << L"Allowing install due to AlwaysInstallElevated policy" << std::endl;
    return true;
}

} // namespace

bool AlwaysInstallElevatedPolicy()
{
    return PolicyValueIsOne(HKEY_LOCAL_MACHINE) && PolicyValueIsOne(HKEY_CURRENT_USER);
}

UINT IsAdminAction(MSIHANDLE hInstall)
{
    InstallUtils::CMsiUtil msi(hInstall, L"clientca: ");
    IAdminMembership& membership = imdp::Seam<IAdminMembership>::Current();
    bool admin = Answered(membership.ProcessToken(), msi);
    if (!admin && HasSplitTokens())
        admin = Answered(membership.LinkedToken(), msi);
    if (!admin)
        admin = AllowedByPolicy(msi);
    msi.setProperty(L"QvnAdminUser", admin ? L"1" : L"0");
    return ERROR_SUCCESS;
}

UINT IsAlreadyElevatedAction(MSIHANDLE hInstall)
{
    InstallUtils::CMsiUtil msi(hInstall, L"clientca: ");
    bool elevated = Answered(imdp::Seam<IAdminMembership>::Current().ProcessToken(), msi);
    if (!elevated) {
        msi << L"Member is not elevated admin" << std::endl;
        elevated = AllowedByPolicy(msi);
    }
    msi.setProperty(L"AlreadyElevated", elevated ? L"1" : L"0");
    return ERROR_SUCCESS;
}

} // namespace clientca

CLIENTCA_EXPORT(IsAdmin, clientca::IsAdminAction)
CLIENTCA_EXPORT(IsAlreadyElevated, clientca::IsAlreadyElevatedAction)
