#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

namespace imdp {
namespace msi {

// A failed installer call: message and the installer's result code.
// what() is "<message>: <code>", with "Windows Installer error" for an empty message.
class msi_error : public std::runtime_error {
public:
    msi_error(const std::string& message, UINT code);

    UINT code() const noexcept { return code_; }
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override;

private:
    std::string message_;
    UINT code_;
    mutable std::string text_;
};

// Thrown by an action body to end the action with a chosen result code.
class custom_action_error : public std::runtime_error {
public:
    custom_action_error(const std::string& message, UINT result);

    UINT result() const noexcept { return result_; }

private:
    UINT result_;
};

} // namespace msi
} // namespace imdp
