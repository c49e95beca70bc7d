#pragma once

#include "actions/preinstall/PlatformProbes.h"

#include <windows.h>
#include <msi.h>

#include <string>

namespace clientca {

// Percentage of busy time between two readings; 0 when the first idle
// reading has a zero half (a machine that has not been idle for 2^32 ticks)
// or when no time passed.
double CpuLoadBetween(const SystemTimes& first, const SystemTimes& second);

// The installer's packed form of a product code "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}":
// each of the first three groups reversed, each byte of the last two swapped.
// Empty when `code` does not have that form.
std::wstring PackedProductCode(const std::wstring& code);

// The folder that holds the installed folder `installLocation` (with or
// without its trailing backslash), without a trailing backslash; empty when
// the location names no parent.
std::wstring ParentOfInstallLocation(const std::wstring& installLocation);

// Sets CPUUSAGEHIGH to "1" when the load over a quarter second is above 50 %.
UINT CheckCPULoadAction(MSIHANDLE hInstall);
// Sets VMWAREDETECTED to "1" when a BIOS serial number marks a VMware machine.
UINT DetectVMWareAction(MSIHANDLE hInstall);
// Sets InstallingToReparse to "1" when Appdata or Basedir is a reparse point.
UINT ReparseCheckAction(MSIHANDLE hInstall);
// Sets SOURCEDIRISATROOT to the source folder when it is the root of a local
// fixed drive, to the empty string otherwise.
UINT IsSourceDirAtRootAction(MSIHANDLE hInstall);
// Sets QAXMIGINSTDIR to the parent of the running product's registered
// install location.
UINT GetCurrentInstallPathAction(MSIHANDLE hInstall);

} // namespace clientca
