#include "actions/preinstall/BasicChecks.h"

#include "install_utils/ExportGuard.h"
#include "install_utils/MsiUtil.h"

namespace clientca {

UINT ForceInstallFailureAction(MSIHANDLE hInstall)
{
    InstallUtils::CMsiUtil msi(hInstall, L"clientca: ");
    msi.logMessage(L"Intentional force of Install Failure!");
    return ERROR_INSTALL_FAILURE;
}

UINT Check32BitSupportAction(MSIHANDLE hInstall)
{
    InstallUtils::CMsiUtil msi(hInstall, L"Check32BitSupport");
    msi.setProperty(L"Supports32BitDlls", L"1");
    return ERROR_SUCCESS;
}

} // namespace clientca

CLIENTCA_EXPORT(ForceInstallFailure, clientca::ForceInstallFailureAction)
CLIENTCA_EXPORT(Check32BitSupport, clientca::Check32BitSupportAction)
