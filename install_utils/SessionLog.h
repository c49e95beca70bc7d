#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace InstallUtils {

// "clientca: " and the text as one unfiltered installer log line.
void WriteSessionLog(MSIHANDLE hInstall, const wchar_t* text);

// Reads a property and logs it as name=value. Throws a std::wstring holding
// the error text when the installer refuses.
std::wstring ReadSessionProperty(MSIHANDLE hInstall, const std::wstring& name);

} // namespace InstallUtils
