#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace imdp {

// A failed Win32 call: the caller's message, the error code and, where the
// system message table has one, the system's text for the code.
class win32_error : public std::runtime_error {
public:
    win32_error(const std::string& message, DWORD code);

    DWORD code() const noexcept { return code_; }

private:
    DWORD code_;
};

// Throws win32_error with GetLastError() when `ok` is false.
void ThrowLastErrorIf(bool failed, const char* message);

} // namespace imdp
