#include "imdp/kx/FrameworkFolder.h"

#include <vector>

namespace imdp {
namespace kx {

const wchar_t* const kClientVersionKey = L"SOFTWARE\\Quorvane\\Quorvane Aegix\\CurrentVersion";
const wchar_t* const kFrameworkFolderValue = L"KXCOREDIR";

std::wstring FrameworkFolder(size_t reserve)
{
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientVersionKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.put()) !=
        ERROR_SUCCESS)
        return std::wstring();
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), kFrameworkFolderValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(wchar_t))
        return std::wstring();
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD read = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), kFrameworkFolderValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &read) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring folder(buffer.data());
    if (type == REG_EXPAND_SZ && !folder.empty()) {
        wchar_t expanded[MAX_PATH] = {};
        const DWORD length = ExpandEnvironmentStringsW(folder.c_str(), expanded, MAX_PATH);
        if (length == 0 || length > MAX_PATH)
            return std::wstring();
        folder = expanded;
    }
    if (folder.empty())
        return folder;
    if (folder.back() != L'\\')
        folder += L'\\';
    // The folder, the library name and the terminating NUL must fit one path buffer.
    if (folder.size() + reserve >= MAX_PATH)
        return std::wstring();
    return folder;
}

DWORD LoadFrameworkLibrary(const wchar_t* fileName, unique_module& module)
{
    const std::wstring folder = FrameworkFolder(wcslen(fileName));
    if (folder.empty())
        return ERROR_PATH_NOT_FOUND;
    const std::wstring path = folder + fileName;
    module.reset(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module)
        return GetLastError();
    return ERROR_SUCCESS;
}

} // namespace kx
} // namespace imdp
