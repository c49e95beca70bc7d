#include "imdp/kx/Trust.h"

#include "imdp/kx/KxModule.h"
#include "imdp/Seam.h"

namespace imdp {
namespace kx {

namespace {

class CTrustVerifier : public ITrustVerifier {
public:
    explicit CTrustVerifier(KxObject<kxabi::IKxVerifyTrust> verifier) : verifier_(std::move(verifier)) {}

    LONG Initialize(LONG options) override { return verifier_.object->Initialize(options); }
    LONG VerifyFile(HANDLE file, const std::wstring& path, LONG level) override
    {
        return verifier_.object->VerifyFile(file, path.c_str(), level);
    }
    HRESULT IsWhqlSigned(const std::wstring& catalog, bool& whql) override
    {
        BOOL answer = FALSE;
        const HRESULT hr = verifier_.object->IsWhqlSigned(catalog.c_str(), &answer);
        whql = SUCCEEDED(hr) && answer != FALSE;
        return hr;
    }

private:
    KxObject<kxabi::IKxVerifyTrust> verifier_;
};

class CTrust : public ITrust {
public:
    HRESULT CreateVerifier(std::unique_ptr<ITrustVerifier>& verifier) override
    {
        SharedModule module;
        kxabi::KxLoadInterfaceFn load = nullptr;
        HRESULT hr = LoadFrameworkExport(L"kxCore.dll", "kxLoadInterface", module, load);
        if (FAILED(hr))
            return hr;
        void* raw = nullptr;
        hr = load(&kxabi::IID_IKxVerifyTrust, &raw);
        if (FAILED(hr))
            return hr;
        if (raw == nullptr)
            return E_POINTER;
        verifier = std::make_unique<CTrustVerifier>(
            KxObject<kxabi::IKxVerifyTrust>(module, static_cast<kxabi::IKxVerifyTrust*>(raw)));
        return S_OK;
    }
};

} // namespace

ITrust& ITrust::Production()
{
    static CTrust production;
    return production;
}

ITrust& Trust()
{
    return Seam<ITrust>::Current();
}

bool IsTrustedFile(HANDLE file, const std::wstring& path)
{
    std::unique_ptr<ITrustVerifier> verifier;
    if (FAILED(Trust().CreateVerifier(verifier)) || !verifier)
        return false;
    if (verifier->Initialize(kxabi::KX_TRUST_INIT_DEFAULT) != kxabi::KX_TRUST_YES)
        return false;
    return verifier->VerifyFile(file, path, kxabi::KX_TRUST_LEVEL_MAKER) == kxabi::KX_TRUST_YES;
}

bool IsTrustedImage(const std::wstring& path)
{
    unique_file_handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    return IsTrustedFile(file.get(), path);
}

HRESULT IsWhqlSignedCatalog(const std::wstring& catalog, bool& whql)
{
    whql = false;
    std::unique_ptr<ITrustVerifier> verifier;
    HRESULT hr = Trust().CreateVerifier(verifier);
    if (FAILED(hr))
        return hr;
    if (!verifier)
        return E_POINTER;
    if (verifier->Initialize(kxabi::KX_TRUST_INIT_DEFAULT) != kxabi::KX_TRUST_YES)
        return E_FAIL;
    return verifier->IsWhqlSigned(catalog, whql);
}

} // namespace kx
} // namespace imdp
