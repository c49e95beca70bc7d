#pragma once

// Pieces shared by the stand-in framework libraries.

#include "imdp/kx/KxAbi.h"

#include <windows.h>

#include <map>
#include <string>

namespace kxstandin {

// Every key of the stand-in lives under HKLM in the 32-bit view, where the
// (32-bit) client keeps its own.
constexpr REGSAM kView = KEY_WOW64_32KEY;
// Root used when no silo is attached.
constexpr const wchar_t* kDefaultRoot = L"SOFTWARE\\Quorvane\\Kestrel Core";

inline HRESULT FromStatus(LONG status)
{
    if (status == ERROR_SUCCESS)
        return S_OK;
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND)
        return kxabi::KX_E_NOT_FOUND;
    return HRESULT_FROM_WIN32(status);
}

inline std::wstring RootOrDefault(const wchar_t* root)
{
    return root != nullptr && root[0] != L'\0' ? std::wstring(root) : std::wstring(kDefaultRoot);
}

// Reference counting for the objects handed out.
template <typename Interface>
class RefCounted : public Interface {
public:
    virtual ~RefCounted() = default;
    ULONG __stdcall AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG __stdcall Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

private:
    LONG references_ = 1;
};

// A registry key of the stand-in and the DWORD writes held for it.
class PendingKey {
public:
    explicit PendingKey(std::wstring path) : path_(std::move(path)) {}
    ~PendingKey()
    {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }

    HRESULT Open()
    {
        return FromStatus(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ | kView, &key_));
    }

    HRESULT GetDword(const wchar_t* name, DWORD* value)
    {
        if (name == nullptr || value == nullptr)
            return E_POINTER;
        const auto pending = pending_.find(name);
        if (pending != pending_.end()) {
            *value = pending->second;
            return S_OK;
        }
        DWORD type = 0;
        DWORD data = 0;
        DWORD size = sizeof(data);
        const LONG status = RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
        if (status == ERROR_MORE_DATA)
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE);
        if (status != ERROR_SUCCESS)
            return FromStatus(status);
        if (type != REG_DWORD || size != sizeof(data))
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE);
        *value = data;
        return S_OK;
    }

    HRESULT SetDword(const wchar_t* name, DWORD value)
    {
        if (name == nullptr)
            return E_POINTER;
        pending_[name] = value;
        return S_OK;
    }

    HRESULT Commit()
    {
        HKEY writable = nullptr;
        LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_SET_VALUE | kView, &writable);
        if (status != ERROR_SUCCESS)
            return FromStatus(status);
        for (auto it = pending_.begin(); it != pending_.end();) {
            status = RegSetValueExW(writable, it->first.c_str(), 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&it->second), sizeof(DWORD));
            if (status != ERROR_SUCCESS)
                break;
            it = pending_.erase(it);
        }
        RegCloseKey(writable);
        return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
    }

    HKEY get() const { return key_; }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
    HKEY key_ = nullptr;
    std::map<std::wstring, DWORD> pending_;
};

} // namespace kxstandin
