#include "imdp/StringConv.h"

#include "imdp/Errors.h"

#include <windows.h>

namespace imdp {

std::wstring AnsiToWide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    ThrowLastErrorIf(needed == 0, "MultiByteToWideChar failed");
    std::wstring result(static_cast<size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(CP_ACP, 0, text.data(), size, &result[0], needed);
    ThrowLastErrorIf(written == 0, "MultiByteToWideChar failed");
    result.resize(static_cast<size_t>(written));
    return result;
}

std::string WideToAnsi(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = static_cast<int>(text.size());
    const int needed = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    ThrowLastErrorIf(needed == 0, "WideCharToMultiByte failed");
    std::string result(static_cast<size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, text.data(), size, &result[0], needed, nullptr, nullptr);
    ThrowLastErrorIf(written == 0, "WideCharToMultiByte failed");
    result.resize(static_cast<size_t>(written));
    return result;
}

} // namespace imdp
