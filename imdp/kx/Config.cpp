#include "imdp/kx/Config.h"

#include "imdp/kx/KxModule.h"
#include "imdp/Seam.h"
#include "imdp/kx/Silo.h"

namespace imdp {
namespace kx {

namespace {

const wchar_t kCoreLibrary[] = L"kxCore.dll";

class CConfiguration : public IConfiguration {
public:
    explicit CConfiguration(KxObject<kxabi::IKxConfiguration> object) : object_(std::move(object)) {}

    HRESULT GetDword(const std::wstring& name, DWORD& value) override
    {
        return object_.object->GetDword(name.c_str(), &value);
    }
    HRESULT SetDword(const std::wstring& name, DWORD value) override
    {
        return object_.object->SetDword(name.c_str(), value);
    }
    HRESULT NeedsReset() override { return object_.object->NeedsReset(); }
    HRESULT Reset() override { return object_.object->Reset(); }
    HRESULT Apply() override { return object_.object->Apply(); }

private:
    KxObject<kxabi::IKxConfiguration> object_;
};

class CConfigManagement : public IConfigManagement {
public:
    explicit CConfigManagement(KxObject<kxabi::IKxConfigManagement> object) : object_(std::move(object)) {}

    HRESULT GetConfiguration(const std::wstring& name, std::unique_ptr<IConfiguration>& configuration) override
    {
        kxabi::IKxConfiguration* raw = nullptr;
        const HRESULT hr = object_.object->GetConfiguration(name.c_str(), &raw);
        if (FAILED(hr))
            return hr;
        if (raw == nullptr)
            return E_POINTER;
        configuration = std::make_unique<CConfiguration>(KxObject<kxabi::IKxConfiguration>(object_.module, raw));
        return S_OK;
    }

private:
    KxObject<kxabi::IKxConfigManagement> object_;
};

class CConfigService : public IConfigService {
public:
    HRESULT CreateConfigManagement(std::unique_ptr<IConfigManagement>& management) override
    {
        KxObject<kxabi::IKxConfigManagement> object;
        const HRESULT hr = CreateSiloObject(kCoreLibrary, "kxCreateObject", kxabi::CLSID_KxConfigManagement, kxabi::IID_IKxConfigManagement, object);
        if (FAILED(hr))
            return hr;
        management = std::make_unique<CConfigManagement>(std::move(object));
        return S_OK;
    }
};

} // namespace

IConfigService& IConfigService::Production()
{
    static CConfigService production;
    return production;
}

IConfigService& ConfigService()
{
    return Seam<IConfigService>::Current();
}

HRESULT NTRCommandConfig::Initialize(std::unique_ptr<IConfiguration> configuration)
{
    if (!configuration)
        return E_POINTER;
    DWORD value = 0;
    HRESULT hr = configuration->GetDword(L"Enable", value);
    std::wstring name = L"Enable";
    if (FAILED(hr)) {
        hr = configuration->GetDword(L"EnableNTR", value);
        name = L"EnableNTR";
    }
    if (FAILED(hr))
        return hr;
    configuration_ = std::move(configuration);
    enabledName_ = name;
    enabled_ = value != 0;
    return S_OK;
}

bool NTRCommandConfig::WantsReset()
{
    return configuration_ && configuration_->NeedsReset() == S_OK;
}

HRESULT NTRCommandConfig::Reset()
{
    if (!configuration_)
        return E_UNEXPECTED;
    const HRESULT hr = configuration_->Reset();
    if (FAILED(hr))
        return hr;
    // A reset may change the flag; keep what the component now holds.
    DWORD value = 0;
    if (SUCCEEDED(configuration_->GetDword(enabledName_, value)))
        enabled_ = value != 0;
    return hr;
}

HRESULT NTRCommandConfig::Apply()
{
    if (!configuration_)
        return E_UNEXPECTED;
    const HRESULT hr = configuration_->SetDword(enabledName_, enabled_ ? 1 : 0);
    if (FAILED(hr))
        return hr;
    return configuration_->Apply();
}

} // namespace kx
} // namespace imdp
