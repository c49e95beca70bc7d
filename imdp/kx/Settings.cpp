#include "imdp/kx/Settings.h"

#include "imdp/kx/KxModule.h"
#include "imdp/Seam.h"
#include "imdp/kx/Silo.h"

namespace imdp {
namespace kx {

namespace {

const wchar_t kSettingsLibrary[] = L"kxSet.dll";

class CSettingsKey : public ISettingsKey {
public:
    explicit CSettingsKey(KxObject<kxabi::IKxSettingsKey> key) : key_(std::move(key)) {}

    HRESULT GetDword(const std::wstring& name, DWORD& value) override
    {
        return key_.object->GetDword(name.c_str(), &value);
    }
    HRESULT GetBinary(const std::wstring& name, BYTE* buffer, DWORD& size) override
    {
        return key_.object->GetBinary(name.c_str(), buffer, &size);
    }
    HRESULT SetDword(const std::wstring& name, DWORD value) override
    {
        return key_.object->SetDword(name.c_str(), value);
    }
    HRESULT Commit() override { return key_.object->Commit(); }

private:
    KxObject<kxabi::IKxSettingsKey> key_;
};

class CSettingsManager : public ISettingsManager {
public:
    explicit CSettingsManager(KxObject<kxabi::IKxSettingsManager> manager) : manager_(std::move(manager)) {}

    HRESULT OpenKey(const std::wstring& name, std::unique_ptr<ISettingsKey>& key) override
    {
        kxabi::IKxSettingsKey* raw = nullptr;
        const HRESULT hr = manager_.object->OpenKey(name.c_str(), &raw);
        if (FAILED(hr))
            return hr;
        if (raw == nullptr)
            return E_POINTER;
        key = std::make_unique<CSettingsKey>(KxObject<kxabi::IKxSettingsKey>(manager_.module, raw));
        return S_OK;
    }

private:
    KxObject<kxabi::IKxSettingsManager> manager_;
};

class CSettings : public ISettings {
public:
    bool IsActive() override
    {
        const std::wstring folder = FrameworkFolder(wcslen(kSettingsLibrary));
        if (folder.empty())
            return false;
        const DWORD attributes = GetFileAttributesW((folder + kSettingsLibrary).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    HRESULT CreateManager(std::unique_ptr<ISettingsManager>& manager) override
    {
        KxObject<kxabi::IKxSettingsManager> object;
        const HRESULT hr = CreateSiloObject(kSettingsLibrary, "kxSetCreateInstance", kxabi::CLSID_KxSettingsManager, kxabi::IID_IKxSettingsManager, object);
        if (FAILED(hr))
            return hr;
        manager = std::make_unique<CSettingsManager>(std::move(object));
        return S_OK;
    }
};

} // namespace

ISettings& ISettings::Production()
{
    static CSettings production;
    return production;
}

ISettings& Settings()
{
    return Seam<ISettings>::Current();
}

} // namespace kx
} // namespace imdp
