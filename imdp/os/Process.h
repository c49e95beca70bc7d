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

} // namespace os
} // namespace imdp
