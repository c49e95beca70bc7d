#include "imdp/Errors.h"

#include <sstream>

namespace imdp {
namespace {

std::string SystemMessage(DWORD code)
{
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (length != 0 && text != nullptr)
        result.assign(text, length);
    if (text != nullptr)
        LocalFree(text);
    return result;
}

std::string Compose(const std::string& message, DWORD code)
{
    std::ostringstream out;
    out << message;
    if (!message.empty())
        out << ". ";
    out << "Error code: " << code;
    const std::string system = SystemMessage(code);
    if (!system.empty())
        out << ": " << system;
    return out.str();
}

} // namespace

win32_error::win32_error(const std::string& message, DWORD code)
    : std::runtime_error(Compose(message, code)), code_(code)
{
}

void ThrowLastErrorIf(bool failed, const char* message)
{
    if (failed)
        throw win32_error(message, GetLastError());
}

} // namespace imdp
