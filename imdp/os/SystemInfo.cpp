#include "imdp/os/SystemInfo.h"

#include <windows.h>

namespace imdp {
namespace os {

bool IsWow64()
{
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel32 = GetModuleHandleW(L"KERNEL32.DLL");
    if (kernel32 == nullptr)
        return false;
    const auto isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel32, "IsWow64Process")));
    if (isWow64Process == nullptr)
        return false;
    BOOL answer = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &answer))
        return false;
    return answer == 1;
}

bool IsWorkstation()
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    info.wProductType = VER_NT_WORKSTATION;
    const DWORDLONG mask = VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL);
    return VerifyVersionInfoW(&info, VER_PRODUCT_TYPE, mask) != FALSE;
}

std::wstring GetSystemDirectory()
{
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return std::wstring(buffer, length);
}

} // namespace os
} // namespace imdp
