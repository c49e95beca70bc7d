#pragma once

#include <string>

namespace imdp {
namespace os {

// True when this process is a 32-bit process under WOW64 (IsWow64Process
// answered 1); false when the function is absent or the answer is anything else.
bool IsWow64();

// True on a workstation product type (VER_NT_WORKSTATION).
bool IsWorkstation();

// The system folder, read into a 260-character buffer.
std::wstring GetSystemDirectory();

} // namespace os
} // namespace imdp
