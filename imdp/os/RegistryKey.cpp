#include "imdp/os/RegistryKey.h"

#include "imdp/Errors.h"
#include "imdp/rtdl/Kernel32.h"

#include <cstring>

namespace imdp {
namespace os {
namespace {

const HKEY kPredefinedRoots[] = {
    HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,     HKEY_LOCAL_MACHINE, HKEY_USERS,
    HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA,     HKEY_PERFORMANCE_TEXT,
    HKEY_PERFORMANCE_NLSTEXT,
};

bool IsPredefinedRoot(HKEY key) noexcept
{
    for (HKEY root : kPredefinedRoots)
        if (key == root)
            return true;
    return false;
}

std::wstring JoinKeyPath(const std::wstring& parent, const std::wstring& name)
{
    if (parent.empty())
        return name;
    if (name.empty())
        return parent;
    return parent + L"\\" + name;
}

win32_error TypeMismatch()
{
    return win32_error("data type mismatch", ERROR_INVALID_DATA);
}

} // namespace

REGSAM EffectiveViewFlag(REGSAM view)
{
    view &= KEY_WOW64_64KEY | KEY_WOW64_32KEY;
    if (view == 0)
        return 0;
#if defined(_WIN64)
    // A 64-bit process only runs on 64-bit Windows, where both views exist.
    return view;
#else
    return rtdl::CKernel32::Instance().IsWow64() ? view : 0;
#endif
}

CRegistryHandle::CRegistryHandle(unique_hkey key, REGSAM access, REGSAM view, std::wstring path)
    : state_(std::make_shared<State>()), access_(access), view_(view), path_(std::move(path))
{
    state_->key = key.get();
    state_->owned = std::move(key);
}

CRegistryHandle::CRegistryHandle(HKEY root, REGSAM access, REGSAM view)
    : state_(std::make_shared<State>()), access_(access), view_(view)
{
    state_->key = root;
}

HKEY CRegistryHandle::Checked() const
{
    const HKEY key = Get();
    if (key == nullptr)
        throw win32_error("Registry key is not open", ERROR_INVALID_HANDLE);
    return key;
}

bool CRegistryHandle::IsPredefined() const
{
    return IsPredefinedRoot(Checked());
}

CRegistryKey::CRegistryKey(REGSAM view) : CRegistryKey(HKEY_LOCAL_MACHINE, view) {}

CRegistryKey::CRegistryKey(HKEY root, REGSAM view)
    : CRegistryHandle(root, KEY_READ, view & (KEY_WOW64_64KEY | KEY_WOW64_32KEY)), root_(root)
{
    if (!IsPredefinedRoot(root))
        throw win32_error("Not a predefined registry root", ERROR_INVALID_HANDLE);
}

CRegistryKey::CRegistryKey(unique_hkey key, REGSAM access, REGSAM view, std::wstring path, HKEY root)
    : CRegistryHandle(std::move(key), access, view, std::move(path)), root_(root)
{
}

REGSAM CRegistryKey::ViewFlag() const
{
    return EffectiveViewFlag(View());
}

CRegistryKey CRegistryKey::OpenSubKey(const std::wstring& name) const
{
    return OpenSubKey(name, IsPredefined() ? KEY_READ : Access());
}

CRegistryKey CRegistryKey::OpenSubKey(const std::wstring& name, REGSAM access) const
{
    const HKEY parent = Checked();
    access &= ~static_cast<REGSAM>(KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    unique_hkey key;
    const LSTATUS result = RegOpenKeyExW(parent, name.c_str(), 0, access | ViewFlag(), key.put());
    if (result != ERROR_SUCCESS)
        throw win32_error("RegOpenKeyEx failed", static_cast<DWORD>(result));
    return CRegistryKey(std::move(key), access, View(), JoinKeyPath(Path(), name), root_);
}

bool CRegistryKey::SubKeyExists(const std::wstring& name) const
{
    const HKEY parent = Checked();
    unique_hkey key;
    const LSTATUS result = RegOpenKeyExW(parent, name.c_str(), 0, KEY_QUERY_VALUE | ViewFlag(), key.put());
    if (result == ERROR_SUCCESS)
        return true;
    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_PATH_NOT_FOUND)
        return false;
    throw win32_error("RegOpenKeyEx", static_cast<DWORD>(result));
}

RegistryValue CRegistryKey::QueryValue(const std::wstring& name) const
{
    const HKEY key = Checked();
    RegistryValue value;
    DWORD size = 0;
    LSTATUS result = RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size);
    // The value may grow between the size query and the read: ask again then.
    while (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
        value.data.assign(size, 0);
        DWORD read = size;
        result = RegQueryValueExW(key, name.c_str(), nullptr, &value.type, size != 0 ? value.data.data() : nullptr,
                                  &read);
        if (result == ERROR_SUCCESS) {
            value.data.resize(read);
            return value;
        }
        size = read;
    }
    throw win32_error("RegQueryValueEx", static_cast<DWORD>(result));
}

std::wstring CRegistryKey::QueryString(const std::wstring& name) const
{
    const RegistryValue value = QueryValue(name);
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
        throw TypeMismatch();
    // The stored bytes need not end with a terminator, nor be a whole number of characters.
    const size_t count = value.data.size() / sizeof(wchar_t);
    std::wstring text(count, L'\0');
    if (count != 0)
        memcpy(&text[0], value.data.data(), count * sizeof(wchar_t));
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos)
        text.resize(end);
    return text;
}

DWORD CRegistryKey::QueryDword(const std::wstring& name) const
{
    const RegistryValue value = QueryValue(name);
    if (value.type != REG_DWORD)
        throw TypeMismatch();
    if (value.data.size() != sizeof(DWORD))
        throw win32_error("data size mismatch", ERROR_INVALID_DATA);
    DWORD number = 0;
    memcpy(&number, value.data.data(), sizeof(number));
    return number;
}

std::vector<std::wstring> CRegistryKey::QueryMultiString(const std::wstring& name) const
{
    const RegistryValue value = QueryValue(name);
    if (value.type != REG_MULTI_SZ)
        throw TypeMismatch();
    const size_t count = value.data.size() / sizeof(wchar_t);
    std::wstring all(count, L'\0');
    if (count != 0)
        memcpy(&all[0], value.data.data(), count * sizeof(wchar_t));
    std::vector<std::wstring> strings;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(L'\0', start);
        if (end == std::wstring::npos)
            end = all.size();
        if (end == start)
            break; // the empty string that ends the list
        strings.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return strings;
}

} // namespace os
} // namespace imdp
