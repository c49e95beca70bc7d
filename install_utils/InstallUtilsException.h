#pragma once

#include <windows.h>

#include <string>

namespace InstallUtils {

// Failure of an InstallUtils routine: a wide message and the installer's (or Win32) code.
class CInstallUtilsException {
public:
    CInstallUtilsException(std::wstring message, UINT code) : message_(std::move(message)), code_(code) {}

    const std::wstring& message() const noexcept { return message_; }
    UINT code() const noexcept { return code_; }

private:
    std::wstring message_;
    UINT code_;
};

} // namespace InstallUtils
