#pragma once

#include <windows.h>
#include <msi.h>

#include <utility>

namespace InstallUtils {

// Writes the ERROR line for an exception that reached an export's boundary.
void LogEscapedException(MSIHANDLE hInstall, const wchar_t* exportName) noexcept;

// Runs an export's body so that nothing thrown crosses the DLL boundary:
// whatever escapes becomes an ERROR line in the installer log and 1603.
template <typename Body>
UINT GuardExport(MSIHANDLE hInstall, const wchar_t* exportName, Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        LogEscapedException(hInstall, exportName);
        return ERROR_INSTALL_FAILURE;
    }
}

} // namespace InstallUtils

// Defines the export `Name` as a guarded call of `Body(hInstall)`.
#define CLIENTCA_EXPORT(Name, Body)                                                          \
    extern "C" UINT __stdcall Name(MSIHANDLE hInstall)                                       \
    {                                                                                        \
        return ::InstallUtils::GuardExport(hInstall, L## #Name, [hInstall] { return Body(hInstall); }); \
    }
