#pragma once

// Sets the Windows version the library sees for a test's scope. The version
// values of HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion are written in
// both registry views, the process-wide version probe is filled again, and on
// leaving the scope the values are put back as they were and the probe filled
// once more. Every reader of the version (the probe and the actions that read
// the registry themselves) thus sees the same machine.

#include "install_utils/OSVersion.h"

#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// One registry value in one view, restored (or deleted) when the scope ends.
class ScopedRegistryValue {
public:
    ScopedRegistryValue(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view)
        : root_(root), path_(path), name_(name), view_(view)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_QUERY_VALUE | view_, &key) != ERROR_SUCCESS)
            return;
        DWORD size = 0;
        if (RegQueryValueExW(key, name_.c_str(), nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            data_.resize(size);
            existed_ = RegQueryValueExW(key, name_.c_str(), nullptr, &type_, size ? data_.data() : nullptr, &size) ==
                       ERROR_SUCCESS;
            data_.resize(size);
        }
        RegCloseKey(key);
    }
    ~ScopedRegistryValue()
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view_, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return;
        if (existed_)
            RegSetValueExW(key, name_.c_str(), 0, type_, data_.empty() ? nullptr : data_.data(),
                           static_cast<DWORD>(data_.size()));
        else
            RegDeleteValueW(key, name_.c_str());
        RegCloseKey(key);
    }
    ScopedRegistryValue(const ScopedRegistryValue&) = delete;
    ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

    // Writes raw data of any type; returns the Win32 result.
    LSTATUS Set(DWORD type, const void* data, DWORD size) const
    {
        HKEY key = nullptr;
        LSTATUS result =
            RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view_, nullptr, &key, nullptr);
        if (result != ERROR_SUCCESS)
            return result;
        result = RegSetValueExW(key, name_.c_str(), 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
        return result;
    }
    LSTATUS SetString(const std::wstring& text, DWORD type = REG_SZ) const
    {
        return Set(type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    LSTATUS SetDword(DWORD value) const { return Set(REG_DWORD, &value, sizeof(value)); }
    LSTATUS Delete() const
    {
        HKEY key = nullptr;
        LSTATUS result = RegOpenKeyExW(root_, path_.c_str(), 0, KEY_SET_VALUE | view_, &key);
        if (result != ERROR_SUCCESS)
            return result;
        result = RegDeleteValueW(key, name_.c_str());
        RegCloseKey(key);
        return result;
    }

private:
    HKEY root_;
    std::wstring path_;
    std::wstring name_;
    REGSAM view_;
    bool existed_ = false;
    DWORD type_ = REG_NONE;
    std::vector<BYTE> data_;
};

// The version values in both views, restored at the end of the scope.
class ScopedWindowsVersion {
public:
    // Records the values only; a test then sets them one by one with Value().
    ScopedWindowsVersion()
    {
        for (const wchar_t* name : kNames)
            for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
                values_.emplace_back(new ScopedRegistryValue(HKEY_LOCAL_MACHINE, kKey, name, view));
    }
    // Windows major.minor.build: the DWORD values (left out when major is below
    // 10, as before Windows 10), the CurrentVersion text and the build text.
    ScopedWindowsVersion(DWORD major, DWORD minor, DWORD build) : ScopedWindowsVersion()
    {
        for (bool view64 : {true, false}) {
            if (major >= 10) {
                Value(L"CurrentMajorVersionNumber", view64).SetDword(major);
                Value(L"CurrentMinorVersionNumber", view64).SetDword(minor);
                // Windows 10 keeps reporting 6.3 in the text value.
                Value(L"CurrentVersion", view64).SetString(L"6.3");
            } else {
                Value(L"CurrentMajorVersionNumber", view64).Delete();
                Value(L"CurrentMinorVersionNumber", view64).Delete();
                Value(L"CurrentVersion", view64).SetString(std::to_wstring(major) + L"." + std::to_wstring(minor));
            }
            Value(L"CurrentBuildNumber", view64).SetString(std::to_wstring(build));
        }
        InstallUtils::COSVersion::Refill();
    }
    ~ScopedWindowsVersion()
    {
        values_.clear();
        InstallUtils::COSVersion::Refill();
    }
    ScopedWindowsVersion(const ScopedWindowsVersion&) = delete;
    ScopedWindowsVersion& operator=(const ScopedWindowsVersion&) = delete;

    // The value `name` (one of the four version values) in the 64-bit or 32-bit view.
    const ScopedRegistryValue& Value(const std::wstring& name, bool view64 = true) const
    {
        for (size_t i = 0; i < sizeof(kNames) / sizeof(kNames[0]); ++i)
            if (name == kNames[i])
                return *values_[i * 2 + (view64 ? 0 : 1)];
        throw std::invalid_argument("not a version value");
    }

private:
    static constexpr const wchar_t* kKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    static constexpr const wchar_t* kNames[] = {L"CurrentMajorVersionNumber", L"CurrentMinorVersionNumber",
                                                 L"CurrentVersion", L"CurrentBuildNumber"};
    std::vector<std::unique_ptr<ScopedRegistryValue>> values_;
};

} // namespace testsupport
