#pragma once

#include "imdp/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace imdp {
namespace kx {

// Where the client records the framework's install folder: the string value
// KXCOREDIR of HKLM\SOFTWARE\Quorvane\Quorvane Aegix\CurrentVersion in the
// 32-bit registry view (REG_SZ, or REG_EXPAND_SZ with environment names).
extern const wchar_t* const kClientVersionKey;
extern const wchar_t* const kFrameworkFolderValue;

// The framework's install folder with a trailing backslash, or empty when the
// value is missing, empty, not a string, or when the folder with a library
// name of `reserve` characters would not fit in MAX_PATH.
std::wstring FrameworkFolder(size_t reserve = 0);

// Loads `fileName` by full path from the framework folder (its own
// dependencies are looked up beside it). Gives back 0 or the Win32 error:
// ERROR_PATH_NOT_FOUND when there is no usable framework folder.
DWORD LoadFrameworkLibrary(const wchar_t* fileName, unique_module& module);

} // namespace kx
} // namespace imdp
