#pragma once

// The stand-in framework installed for a test: kxSet.dll and kxCore.dll
// copied from bin\kxstandin into a fresh framework folder, the client's
// registry pointed at it, and registry helpers for the 32-bit view the client
// and the framework use. Everything is put back when the object goes.

#include "imdp/UniqueHandle.h"
#include "imdp/kx/FrameworkFolder.h"
#include "tests/support/Package.h"

#include <windows.h>
#include <wincrypt.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace kxtest {

inline std::wstring StandinFolder()
{
    return testsupport::ModuleFolder() + L"kxstandin\\";
}

// Adds the test root certificate in `derFile` (made with the signed test
// files) to the machine's ROOT store. Wine does not persist a removal from a
// system store, so it stays in the test prefix. Programs using it link crypt32.
inline bool AddTrustedRoot(const std::wstring& derFile)
{
    std::vector<char> der(16384);
    DWORD read = 0;
    {
        imdp::unique_file_handle file(
            CreateFileW(derFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file || !ReadFile(file.get(), der.data(), static_cast<DWORD>(der.size()), &read, nullptr) || read == 0)
            return false;
    }
    der.resize(read);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (store == nullptr)
        return false;
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                        reinterpret_cast<const BYTE*>(der.data()),
                                                        static_cast<DWORD>(der.size()),
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    return added != FALSE;
}

// HKLM keys in the 32-bit view.
inline void SetString32(const std::wstring& key, const std::wstring& name, const std::wstring& value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create test key");
    RegSetValueExW(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
}

inline void SetValue32(const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD size)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create test key");
    RegSetValueExW(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(handle);
}

inline void SetDword32(const std::wstring& key, const std::wstring& name, DWORD value)
{
    SetValue32(key, name, REG_DWORD, &value, sizeof(value));
}

inline void CreateKey32(const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WOW64_32KEY, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create test key");
    RegCloseKey(handle);
}

// The DWORD as stored, or -1 when it cannot be read.
inline long long GetDword32(const std::wstring& key, const std::wstring& name)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6432KEY, nullptr,
                     &value, &size) != ERROR_SUCCESS)
        return -1;
    return value;
}

inline void DeleteTree32(const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &handle) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(handle, nullptr);
    RegCloseKey(handle);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), KEY_WOW64_32KEY, 0);
}

// The client's registry as the tests leave it for each other: the framework
// value and every silo under the client key are removed afterwards.
class ClientRegistry {
public:
    static constexpr const wchar_t* kClientKey = L"SOFTWARE\\Quorvane\\Quorvane Aegix";

    ClientRegistry() { Clear(); }
    ~ClientRegistry() { Clear(); }
    ClientRegistry(const ClientRegistry&) = delete;
    ClientRegistry& operator=(const ClientRegistry&) = delete;

    void SetFrameworkFolder(const std::wstring& folder)
    {
        SetString32(imdp::kx::kClientVersionKey, imdp::kx::kFrameworkFolderValue, folder);
    }
    void SetClientSilo(const std::wstring& value) { SetString32(kClientKey, L"silo", value); }

private:
    static void Clear()
    {
        HKEY handle = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, imdp::kx::kClientVersionKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                          &handle) == ERROR_SUCCESS) {
            RegDeleteValueW(handle, imdp::kx::kFrameworkFolderValue);
            RegCloseKey(handle);
        }
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &handle) ==
            ERROR_SUCCESS) {
            RegDeleteValueW(handle, L"silo");
            RegCloseKey(handle);
        }
        DeleteTree32(std::wstring(kClientKey) + L"\\Silos");
        DeleteTree32(L"SOFTWARE\\Quorvane\\Kestrel Core");
    }
};

// A framework folder with the stand-in libraries, recorded in the client's registry.
class StandinFramework : public ClientRegistry {
public:
    // `libraries` names the stand-in files to install (all by default).
    explicit StandinFramework(std::vector<std::wstring> libraries = {L"kxSet.dll", L"kxCore.dll"})
    {
        folder_ = testsupport::DataPath(L"kxframework-" + testsupport::NewGuid()) + L"\\";
        CreateDirectoryW(folder_.c_str(), nullptr);
        for (const auto& library : libraries)
            if (!CopyFileW((StandinFolder() + library).c_str(), (folder_ + library).c_str(), FALSE))
                throw std::runtime_error("cannot install the stand-in framework");
        SetFrameworkFolder(folder_);
    }

    const std::wstring& Folder() const { return folder_; }

private:
    std::wstring folder_;
};

} // namespace kxtest
