// Stand-in of the framework's settings library: named keys of DWORD and
// binary values kept in the registry under the attached silo's root (see
// README.md beside this file).

#include "standin/kx/StandinCommon.h"

#include <cstring>
#include <vector>

using namespace kxabi;
using namespace kxstandin;

namespace {

class SettingsKey : public RefCounted<IKxSettingsKey> {
public:
    explicit SettingsKey(std::wstring path) : key_(std::move(path)) {}

    HRESULT Open() { return key_.Open(); }

    HRESULT __stdcall GetDword(const wchar_t* name, DWORD* value) override { return key_.GetDword(name, value); }

    HRESULT __stdcall GetBinary(const wchar_t* name, BYTE* buffer, DWORD* size) override
    {
        if (name == nullptr || size == nullptr)
            return E_POINTER;
        DWORD type = 0;
        DWORD needed = 0;
        LONG status = RegQueryValueExW(key_.get(), name, nullptr, &type, nullptr, &needed);
        if (status != ERROR_SUCCESS)
            return FromStatus(status);
        if (type != REG_BINARY)
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE);
        if (buffer == nullptr || *size < needed) {
            *size = needed;
            return KX_E_BUFFER_TOO_SMALL;
        }
        DWORD read = *size;
        status = RegQueryValueExW(key_.get(), name, nullptr, &type, buffer, &read);
        if (status != ERROR_SUCCESS)
            return FromStatus(status);
        *size = read;
        return S_OK;
    }

    HRESULT __stdcall SetDword(const wchar_t* name, DWORD value) override { return key_.SetDword(name, value); }
    HRESULT __stdcall Commit() override { return key_.Commit(); }

private:
    PendingKey key_;
};

class SettingsManager : public RefCounted<IKxSettingsManager> {
public:
    HRESULT __stdcall AttachSilo(const wchar_t* registryRoot) override
    {
        root_ = RootOrDefault(registryRoot);
        return S_OK;
    }

    HRESULT __stdcall OpenKey(const wchar_t* name, IKxSettingsKey** key) override
    {
        if (name == nullptr || key == nullptr)
            return E_POINTER;
        *key = nullptr;
        if (name[0] == L'\0' || name[0] == L'\\')
            return E_INVALIDARG;
        auto* opened = new SettingsKey(root_ + L"\\Settings\\" + name);
        const HRESULT hr = opened->Open();
        if (FAILED(hr)) {
            opened->Release();
            return hr;
        }
        *key = opened;
        return S_OK;
    }

private:
    std::wstring root_ = kDefaultRoot;
};

} // namespace

extern "C" HRESULT __stdcall kxSetCreateInstance(const GUID* clsid, const GUID* iid, void** object)
{
    if (clsid == nullptr || iid == nullptr || object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(*clsid, CLSID_KxSettingsManager))
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!IsEqualGUID(*iid, IID_IKxSettingsManager))
        return E_NOINTERFACE;
    *object = static_cast<IKxSettingsManager*>(new SettingsManager());
    return S_OK;
}
