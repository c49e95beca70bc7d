#pragma once

#include <windows.h>
#include <msi.h>

namespace clientca {

// Whether the installer is told to install elevated for everyone: the DWORD
// AlwaysInstallElevated is 1 under the installer policy key of both
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER.
bool AlwaysInstallElevatedPolicy();

// Sets QvnAdminUser to "1" for an administrator (also one whose process runs
// with the filtered half of a split token) or under the always-elevated policy.
UINT IsAdminAction(MSIHANDLE hInstall);
// Sets AlreadyElevated to "1" when the process token itself holds the
// Administrators group, or under the always-elevated policy.
UINT IsAlreadyElevatedAction(MSIHANDLE hInstall);

} // namespace clientca
