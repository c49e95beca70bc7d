#pragma once

#include <windows.h>
#include <msi.h>

namespace InstallUtils {

// Whether the running installation was started through the client agent's
// own trusted chain of installer programs: an installed client of version
// 12.1.6000.0 or later, the installer client (CLIENTPROCESSID) started by a
// trusted "setup.exe", that one by a trusted "ktainst.exe" or
// "RXKSetupRunner.exe", and the agent service behind them (its process id in
// KTAPID, or it started the grandparent). Logs its answer into the session's
// log; every failure answers false. Never throws.
bool PackageValidated(MSIHANDLE hInstall);

} // namespace InstallUtils
