#pragma once

#include <windows.h>
#include <msi.h>

namespace clientca {

// Fails the installation where the package schedules it.
UINT ForceInstallFailureAction(MSIHANDLE hInstall);
// Tells the package that 32-bit custom-action DLLs run here.
UINT Check32BitSupportAction(MSIHANDLE hInstall);

} // namespace clientca
