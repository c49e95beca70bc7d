#include "install_utils/UserInterface.h"

#include <shellapi.h>

namespace InstallUtils {
namespace {

class CWindowsUserInterface : public IUserInterface {
public:
    int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) override
    {
        return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
    }

    bool Open(const std::wstring& target) override
    {
        const HINSTANCE result = ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return reinterpret_cast<INT_PTR>(result) > 32;
    }
};

HMODULE ThisModule()
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

} // namespace

IUserInterface& WindowsUserInterface()
{
    static CWindowsUserInterface real;
    return real;
}

std::wstring LoadResourceString(UINT id)
{
    const wchar_t* text = nullptr;
    // With a zero buffer size LoadStringW hands back a pointer into the resource itself.
    const int length = LoadStringW(ThisModule(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr)
        return std::wstring();
    return std::wstring(text, static_cast<size_t>(length));
}

} // namespace InstallUtils
