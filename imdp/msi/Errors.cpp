#include "imdp/msi/Errors.h"

namespace imdp {
namespace msi {

msi_error::msi_error(const std::string& message, UINT code)
    : std::runtime_error(message), message_(message), code_(code)
{
}

const char* msi_error::what() const noexcept
{
    if (text_.empty()) {
        try {
            text_ = (message_.empty() ? std::string("Windows Installer error") : message_) + ": " +
                    std::to_string(code_);
        } catch (...) {
            return std::runtime_error::what();
        }
    }
    return text_.c_str();
}

custom_action_error::custom_action_error(const std::string& message, UINT result)
    : std::runtime_error(message), result_(result)
{
}

} // namespace msi
} // namespace imdp
