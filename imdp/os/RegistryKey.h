#pragma once

#include "imdp/UniqueHandle.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace imdp {
namespace os {

// Shared ownership of one open registry key: copies share the handle and the
// last holder closes it. Carries the access the key was opened with, the
// registry view it belongs to (KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0) and its
// path below its root (empty for a root itself). A predefined root is held
// but never closed.
class CRegistryHandle {
public:
    CRegistryHandle() = default;
    virtual ~CRegistryHandle() = default;

    HKEY Get() const noexcept { return state_ ? state_->key : nullptr; }
    bool IsValid() const noexcept { return Get() != nullptr; }
    REGSAM Access() const noexcept { return access_; }
    REGSAM View() const noexcept { return view_; }
    const std::wstring& Path() const noexcept { return path_; }

    // Whether the key is one of the predefined roots (HKEY_LOCAL_MACHINE, ...).
    // An empty handle throws win32_error ERROR_INVALID_HANDLE.
    bool IsPredefined() const;

protected:
    // Takes ownership of an opened key.
    CRegistryHandle(unique_hkey key, REGSAM access, REGSAM view, std::wstring path);
    // Refers to a predefined root, which is not closed.
    CRegistryHandle(HKEY root, REGSAM access, REGSAM view);

    // The open key; throws win32_error ERROR_INVALID_HANDLE for an empty handle.
    HKEY Checked() const;

private:
    struct State {
        unique_hkey owned;
        HKEY key = nullptr;
    };
    std::shared_ptr<State> state_;
    REGSAM access_ = 0;
    REGSAM view_ = 0;
    std::wstring path_;
};

// A value as stored: its type and its bytes.
struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// A key with an explicit registry view, descending from a root. Failures
// throw win32_error with the Win32 code.
class CRegistryKey : public CRegistryHandle {
public:
    // An empty key (every operation on it throws ERROR_INVALID_HANDLE).
    CRegistryKey() = default;
    // HKEY_LOCAL_MACHINE for KEY_READ in the view `view`.
    explicit CRegistryKey(REGSAM view);
    // Another predefined root (HKEY_CURRENT_USER, HKEY_USERS, ...) for KEY_READ in `view`.
    CRegistryKey(HKEY root, REGSAM view);

    HKEY Root() const noexcept { return root_; }

    // Opens `name` below this key with KEY_READ when this key is a root and with
    // this key's own access otherwise ("RegOpenKeyEx failed").
    CRegistryKey OpenSubKey(const std::wstring& name) const;
    // Opens `name` below this key with `access` ("RegOpenKeyEx failed").
    CRegistryKey OpenSubKey(const std::wstring& name, REGSAM access) const;

    // True when `name` opens for KEY_QUERY_VALUE; false when it or its path is
    // missing; any other failure throws ("RegOpenKeyEx").
    bool SubKeyExists(const std::wstring& name) const;

    // The type and bytes of value `name` ("RegQueryValueEx").
    RegistryValue QueryValue(const std::wstring& name) const;
    // A REG_SZ or REG_EXPAND_SZ value up to its first terminator (unexpanded).
    // Another type throws ERROR_INVALID_DATA "data type mismatch".
    std::wstring QueryString(const std::wstring& name) const;
    // A REG_DWORD of exactly 4 bytes; another type throws ERROR_INVALID_DATA
    // "data type mismatch", another size "data size mismatch".
    DWORD QueryDword(const std::wstring& name) const;
    // A REG_MULTI_SZ as its list of strings (up to the empty string that ends
    // the list); another type throws ERROR_INVALID_DATA "data type mismatch".
    std::vector<std::wstring> QueryMultiString(const std::wstring& name) const;

    // The flag that selects this key's view, as it must be added to an access
    // mask in this process (0 where the system has only one view).
    REGSAM ViewFlag() const;

private:
    CRegistryKey(unique_hkey key, REGSAM access, REGSAM view, std::wstring path, HKEY root);

    HKEY root_ = nullptr;
};

// The view flag to add to an access mask for `view` in this process. Views
// exist only on 64-bit Windows: there a 32-bit process runs under WOW64 and a
// 64-bit process always has both. On 32-bit Windows the flag is left out.
REGSAM EffectiveViewFlag(REGSAM view);

} // namespace os
} // namespace imdp
