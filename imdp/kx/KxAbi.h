#pragma once

// The binary interface of the Kestrel Core framework libraries that the
// installer loads at run time from the framework's install folder:
//
//   kxSet.dll   settings manager   kxSetCreateInstance(clsid, iid, out)
//   kxCore.dll  object factory     kxCreateObject(clsid, iid, out)
//               component library  kxCreateComLib(out)
//               interface loader   kxLoadInterface(iid, out)
//
// Objects are reference counted and released with Release(); every method is
// __stdcall so that either side may be built by any Windows compiler. Texts
// are NUL-terminated UTF-16. Registry roots are key paths under
// HKEY_LOCAL_MACHINE, read in the 32-bit registry view.

#include <windows.h>

namespace kxabi {

// Framework result codes besides the usual HRESULTs.
constexpr HRESULT KX_E_NOT_FOUND = static_cast<HRESULT>(0x80000100);        // no such key or value
constexpr HRESULT KX_E_BUFFER_TOO_SMALL = static_cast<HRESULT>(0x80000200); // the size is given back
constexpr HRESULT KX_E_VALUE_REJECTED = static_cast<HRESULT>(0x80000300);   // a command value was refused

// Trust verifier answers: 1 yes, 0 no, a negative HRESULT when the check itself failed.
constexpr LONG KX_TRUST_YES = 1;
constexpr LONG KX_TRUST_NO = 0;
// Initialisation option: verify without revocation checks.
constexpr LONG KX_TRUST_INIT_DEFAULT = 1;
// Trust levels: 1 the signature is intact, 2 and it chains to a trusted root,
// 3 and its signer is the maker.
constexpr LONG KX_TRUST_LEVEL_INTACT = 1;
constexpr LONG KX_TRUST_LEVEL_CHAINED = 2;
constexpr LONG KX_TRUST_LEVEL_MAKER = 3;

struct IKxObject {
    virtual ULONG __stdcall AddRef() = 0;
    virtual ULONG __stdcall Release() = 0;
};

// One named settings key. Writes are held until Commit.
struct IKxSettingsKey : IKxObject {
    virtual HRESULT __stdcall GetDword(const wchar_t* name, DWORD* value) = 0;
    // With a null buffer or one smaller than the value: KX_E_BUFFER_TOO_SMALL and
    // *size set to the value's size. Otherwise the value is copied and *size set.
    virtual HRESULT __stdcall GetBinary(const wchar_t* name, BYTE* buffer, DWORD* size) = 0;
    virtual HRESULT __stdcall SetDword(const wchar_t* name, DWORD value) = 0;
    virtual HRESULT __stdcall Commit() = 0;
};

struct IKxSettingsManager : IKxObject {
    // The registry root of the silo whose settings are meant; null or empty
    // means the framework's own default root.
    virtual HRESULT __stdcall AttachSilo(const wchar_t* registryRoot) = 0;
    // KX_E_NOT_FOUND when the key does not exist.
    virtual HRESULT __stdcall OpenKey(const wchar_t* name, IKxSettingsKey** key) = 0;
};

// One named component configuration.
struct IKxConfiguration : IKxObject {
    virtual HRESULT __stdcall GetDword(const wchar_t* name, DWORD* value) = 0;
    virtual HRESULT __stdcall SetDword(const wchar_t* name, DWORD value) = 0;
    // S_OK when the component asked for its settings to be reset, S_FALSE otherwise.
    virtual HRESULT __stdcall NeedsReset() = 0;
    virtual HRESULT __stdcall Reset() = 0;
    virtual HRESULT __stdcall Apply() = 0;
};

struct IKxConfigManagement : IKxObject {
    virtual HRESULT __stdcall AttachSilo(const wchar_t* registryRoot) = 0;
    // KX_E_NOT_FOUND for an unknown configuration name.
    virtual HRESULT __stdcall GetConfiguration(const wchar_t* name, IKxConfiguration** configuration) = 0;
};

struct IKxIpcClient : IKxObject {
    // Sends a command and gives back the server's answer. `technologyType` is
    // sent as the command's technology value when `hasTechnologyType` is TRUE.
    virtual HRESULT __stdcall Send(const GUID* command, BOOL hasTechnologyType, LONG technologyType,
                                   HRESULT* answer) = 0;
};

struct IKxComLib : IKxObject {
    virtual HRESULT __stdcall CreateIpcClient(const wchar_t* endpoint, IKxIpcClient** client) = 0;
};

struct IKxVerifyTrust : IKxObject {
    virtual LONG __stdcall Initialize(LONG options) = 0;
    // `file` is an open handle of `path`; the check reads through the handle.
    virtual LONG __stdcall VerifyFile(HANDLE file, const wchar_t* path, LONG level) = 0;
    // S_OK and *whql set, or the failure of the signature check.
    virtual HRESULT __stdcall IsWhqlSigned(const wchar_t* path, BOOL* whql) = 0;
};

using KxSetCreateInstanceFn = HRESULT(__stdcall*)(const GUID* clsid, const GUID* iid, void** object);
using KxCreateObjectFn = HRESULT(__stdcall*)(const GUID* clsid, const GUID* iid, void** object);
using KxCreateComLibFn = HRESULT(__stdcall*)(IKxComLib** comLib);
using KxLoadInterfaceFn = HRESULT(__stdcall*)(const GUID* iid, void** object);

// {6B0E2A51-3C4D-4E0F-9A21-5D7E8F901A01} the settings manager class of kxSet.dll
constexpr GUID CLSID_KxSettingsManager = {0x6b0e2a51, 0x3c4d, 0x4e0f, {0x9a, 0x21, 0x5d, 0x7e, 0x8f, 0x90, 0x1a, 0x01}};
// {6B0E2A51-3C4D-4E0F-9A21-5D7E8F901A02} its interface
constexpr GUID IID_IKxSettingsManager = {0x6b0e2a51, 0x3c4d, 0x4e0f, {0x9a, 0x21, 0x5d, 0x7e, 0x8f, 0x90, 0x1a, 0x02}};
// {6B0E2A51-3C4D-4E0F-9A21-5D7E8F901A03} the ConfigManagement class of kxCore.dll
constexpr GUID CLSID_KxConfigManagement = {0x6b0e2a51, 0x3c4d, 0x4e0f, {0x9a, 0x21, 0x5d, 0x7e, 0x8f, 0x90, 0x1a, 0x03}};
// {6B0E2A51-3C4D-4E0F-9A21-5D7E8F901A04}
constexpr GUID IID_IKxConfigManagement = {0x6b0e2a51, 0x3c4d, 0x4e0f, {0x9a, 0x21, 0x5d, 0x7e, 0x8f, 0x90, 0x1a, 0x04}};
// {6B0E2A51-3C4D-4E0F-9A21-5D7E8F901A05} the cached-trust interface of kxVerifyTrust
constexpr GUID IID_IKxVerifyTrust = {0x6b0e2a51, 0x3c4d, 0x4e0f, {0x9a, 0x21, 0x5d, 0x7e, 0x8f, 0x90, 0x1a, 0x05}};

// The IPC wire format on the endpoint's named pipe \\.\pipe\<endpoint>:
// one request message, one answer message, repeated while the client holds
// the connection. Both are little-endian and fixed in size.
constexpr DWORD KX_IPC_MAGIC = 0x5049584b; // "KXIP"
#pragma pack(push, 4)
struct KxIpcRequest {
    DWORD magic;
    GUID command;
    DWORD hasTechnologyType;
    LONG technologyType;
};
struct KxIpcAnswer {
    DWORD magic;
    HRESULT result;
};
#pragma pack(pop)

} // namespace kxabi
