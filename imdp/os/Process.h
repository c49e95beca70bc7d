#pragma once

#include <windows.h>

#include <string>

namespace imdp {
namespace os {

// The id of the process that started `pid`, from a process snapshot.
// A pid that is not in the snapshot throws win32_error "Process32NextW".
DWORD GetParentProcessId(DWORD pid);

// The image file of `pid` in device form ("\Device\HarddiskVolume1\...").
// Failures throw win32_error.
std::wstring GetProcessImagePath(DWORD pid);

// A device-form path ("\Device\HarddiskVolume1\dir\file.exe") written with
// the drive letter that names its volume ("C:\dir\file.exe"), or through the
// network redirector as a UNC path ("\Device\Mup\server\share\..." ->
// "\\server\share\..."), so that file functions can open it. A volume no
// drive letter names throws win32_error ERROR_PATH_NOT_FOUND.
std::wstring DevicePathToDrivePath(const std::wstring& devicePath);

} // namespace os
} // namespace imdp
