// Stand-in of the framework's core library: the object factory (component
// configurations kept in the registry), the component library (IPC clients
// over named pipes) and the interface loader (the trust verifier).

#include "standin/kx/StandinCommon.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

using namespace kxabi;
using namespace kxstandin;

namespace {

// ---- configurations: <root>\Config\<name>, defaults in its Defaults subkey

class Configuration : public RefCounted<IKxConfiguration> {
public:
    explicit Configuration(std::wstring path) : key_(std::move(path)) {}

    HRESULT Open() { return key_.Open(); }

    HRESULT __stdcall GetDword(const wchar_t* name, DWORD* value) override { return key_.GetDword(name, value); }
    HRESULT __stdcall SetDword(const wchar_t* name, DWORD value) override { return key_.SetDword(name, value); }

    HRESULT __stdcall NeedsReset() override
    {
        DWORD pending = 0;
        const HRESULT hr = key_.GetDword(L"ResetPending", &pending);
        if (hr == KX_E_NOT_FOUND)
            return S_FALSE;
        if (FAILED(hr))
            return hr;
        return pending != 0 ? S_OK : S_FALSE;
    }

    // Copies every DWORD of the Defaults subkey over the configuration and
    // clears the reset request.
    HRESULT __stdcall Reset() override
    {
        PendingKey defaults(key_.path() + L"\\Defaults");
        HRESULT hr = defaults.Open();
        if (FAILED(hr))
            return hr;
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            DWORD length = 256;
            DWORD type = 0;
            DWORD value = 0;
            DWORD size = sizeof(value);
            const LONG status = RegEnumValueW(defaults.get(), index, name, &length, nullptr, &type,
                                              reinterpret_cast<BYTE*>(&value), &size);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            if (status == ERROR_MORE_DATA)
                continue;
            if (status != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(status);
            if (type == REG_DWORD)
                key_.SetDword(name, value);
        }
        key_.SetDword(L"ResetPending", 0);
        return key_.Commit();
    }

    HRESULT __stdcall Apply() override { return key_.Commit(); }

private:
    PendingKey key_;
};

class ConfigManagement : public RefCounted<IKxConfigManagement> {
public:
    HRESULT __stdcall AttachSilo(const wchar_t* registryRoot) override
    {
        root_ = RootOrDefault(registryRoot);
        return S_OK;
    }

    HRESULT __stdcall GetConfiguration(const wchar_t* name, IKxConfiguration** configuration) override
    {
        if (name == nullptr || configuration == nullptr)
            return E_POINTER;
        *configuration = nullptr;
        if (name[0] == L'\0' || wcschr(name, L'\\') != nullptr)
            return E_INVALIDARG;
        auto* opened = new Configuration(root_ + L"\\Config\\" + name);
        const HRESULT hr = opened->Open();
        if (FAILED(hr)) {
            opened->Release();
            return hr;
        }
        *configuration = opened;
        return S_OK;
    }

private:
    std::wstring root_ = kDefaultRoot;
};

// ---- IPC: one message-mode pipe connection per client

class IpcClient : public RefCounted<IKxIpcClient> {
public:
    ~IpcClient() override
    {
        if (pipe_ != INVALID_HANDLE_VALUE)
            CloseHandle(pipe_);
    }

    HRESULT Connect(const wchar_t* endpoint)
    {
        const std::wstring name = std::wstring(L"\\\\.\\pipe\\") + endpoint;
        for (int attempt = 0; attempt < 20; ++attempt) {
            pipe_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (pipe_ != INVALID_HANDLE_VALUE)
                break;
            const DWORD error = GetLastError();
            if (error != ERROR_PIPE_BUSY)
                return HRESULT_FROM_WIN32(error);
            // Every instance is serving another client: wait a little for one.
            WaitNamedPipeW(name.c_str(), 250);
        }
        if (pipe_ == INVALID_HANDLE_VALUE)
            return HRESULT_FROM_WIN32(ERROR_PIPE_BUSY);
        DWORD mode = PIPE_READMODE_MESSAGE;
        if (!SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr))
            return HRESULT_FROM_WIN32(GetLastError());
        return S_OK;
    }

    HRESULT __stdcall Send(const GUID* command, BOOL hasTechnologyType, LONG technologyType, HRESULT* answer) override
    {
        if (command == nullptr || answer == nullptr)
            return E_POINTER;
        // The command's value collection takes technology numbers from 0 up.
        if (hasTechnologyType && technologyType < 0)
            return KX_E_VALUE_REJECTED;
        KxIpcRequest request = {};
        request.magic = KX_IPC_MAGIC;
        request.command = *command;
        request.hasTechnologyType = hasTechnologyType ? 1 : 0;
        request.technologyType = hasTechnologyType ? technologyType : 0;
        DWORD written = 0;
        if (!WriteFile(pipe_, &request, sizeof(request), &written, nullptr))
            return HRESULT_FROM_WIN32(GetLastError());
        if (written != sizeof(request))
            return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
        KxIpcAnswer reply = {};
        DWORD read = 0;
        if (!ReadFile(pipe_, &reply, sizeof(reply), &read, nullptr))
            return HRESULT_FROM_WIN32(GetLastError());
        if (read != sizeof(reply) || reply.magic != KX_IPC_MAGIC)
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        *answer = reply.result;
        return S_OK;
    }

private:
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

class ComLib : public RefCounted<IKxComLib> {
public:
    HRESULT __stdcall CreateIpcClient(const wchar_t* endpoint, IKxIpcClient** client) override
    {
        if (endpoint == nullptr || client == nullptr)
            return E_POINTER;
        *client = nullptr;
        if (endpoint[0] == L'\0' || wcschr(endpoint, L'\\') != nullptr || wcslen(endpoint) > 200)
            return E_INVALIDARG;
        auto* created = new IpcClient();
        const HRESULT hr = created->Connect(endpoint);
        if (FAILED(hr)) {
            created->Release();
            return hr;
        }
        *client = created;
        return S_OK;
    }
};

// ---- trust verifier

// The maker's name as it stands in the organisation (O) of a signer's subject.
const wchar_t kMaker[] = L"Quorvane";
// Windows Hardware Driver Verification (WHQL) enhanced key usage.
const char kWhqlUsage[] = "1.3.6.1.4.1.311.10.3.5";

// Chain states that do not make a signature untrustworthy when revocation is
// not checked.
constexpr DWORD kIgnoredChainErrors = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// One WinVerifyTrust run on a file, closed when it goes.
class Verification {
public:
    Verification(HANDLE file, const wchar_t* path)
    {
        fileInfo_.cbStruct = sizeof(fileInfo_);
        fileInfo_.pcwszFilePath = path;
        fileInfo_.hFile = file;
        data_.cbStruct = sizeof(data_);
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &fileInfo_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        result_ = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    ~Verification()
    {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
    }
    Verification(const Verification&) = delete;
    Verification& operator=(const Verification&) = delete;

    LONG result() const { return result_; }

    // The first signer; null when there is none.
    CRYPT_PROVIDER_SGNR* Signer() const
    {
        CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data_.hWVTStateData);
        return provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    }

    // Windows itself refuses a chain that does not end in a trusted root; the
    // chain state is checked here as well so that the answer never rests on
    // the verifying system alone.
    HRESULT ChainState() const
    {
        CRYPT_PROVIDER_SGNR* signer = Signer();
        if (signer == nullptr || signer->pChainContext == nullptr)
            return TRUST_E_NOSIGNATURE;
        const DWORD errors = signer->pChainContext->TrustStatus.dwErrorStatus & ~kIgnoredChainErrors;
        if (errors == CERT_TRUST_NO_ERROR)
            return S_OK;
        if (errors & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT))
            return CERT_E_UNTRUSTEDROOT;
        if (errors & CERT_TRUST_IS_NOT_TIME_VALID)
            return CERT_E_EXPIRED;
        return CERT_E_CHAINING;
    }

    PCCERT_CONTEXT SignerCertificate() const
    {
        CRYPT_PROVIDER_SGNR* signer = Signer();
        if (signer == nullptr || signer->csCertChain == 0)
            return nullptr;
        CRYPT_PROVIDER_CERT* certificate = WTHelperGetProvCertFromChain(signer, 0);
        return certificate != nullptr ? certificate->pCert : nullptr;
    }

private:
    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO fileInfo_ = {};
    WINTRUST_DATA data_ = {};
    LONG result_ = E_FAIL;
};

bool SignedByMaker(PCCERT_CONTEXT certificate)
{
    wchar_t organisation[256] = {};
    CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_ORGANIZATION_NAME),
                       organisation, 256);
    return _wcsicmp(organisation, kMaker) == 0;
}

bool HasWhqlUsage(PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(certificate, 0, nullptr, &size) || size == 0)
        return false;
    std::vector<BYTE> buffer(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!CertGetEnhancedKeyUsage(certificate, 0, usage, &size))
        return false;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i)
        if (strcmp(usage->rgpszUsageIdentifier[i], kWhqlUsage) == 0)
            return true;
    return false;
}

class VerifyTrust : public RefCounted<IKxVerifyTrust> {
public:
    LONG __stdcall Initialize(LONG options) override
    {
        initialised_ = options == KX_TRUST_INIT_DEFAULT;
        return initialised_ ? KX_TRUST_YES : KX_TRUST_NO;
    }

    LONG __stdcall VerifyFile(HANDLE file, const wchar_t* path, LONG level) override
    {
        if (!initialised_)
            return E_UNEXPECTED;
        if (file == nullptr || file == INVALID_HANDLE_VALUE || path == nullptr)
            return E_INVALIDARG;
        if (level < KX_TRUST_LEVEL_INTACT || level > KX_TRUST_LEVEL_MAKER)
            return E_INVALIDARG;
        const Verification verification(file, path);
        if (verification.result() != ERROR_SUCCESS)
            return verification.result();
        if (level >= KX_TRUST_LEVEL_CHAINED) {
            const HRESULT chain = verification.ChainState();
            if (FAILED(chain))
                return chain;
        }
        if (level >= KX_TRUST_LEVEL_MAKER) {
            PCCERT_CONTEXT certificate = verification.SignerCertificate();
            if (certificate == nullptr || !SignedByMaker(certificate))
                return KX_TRUST_NO;
        }
        return KX_TRUST_YES;
    }

    HRESULT __stdcall IsWhqlSigned(const wchar_t* path, BOOL* whql) override
    {
        if (path == nullptr || whql == nullptr)
            return E_POINTER;
        *whql = FALSE;
        if (!initialised_)
            return E_UNEXPECTED;
        HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return HRESULT_FROM_WIN32(GetLastError());
        HRESULT hr = S_OK;
        {
            const Verification verification(file, path);
            hr = verification.result();
            if (SUCCEEDED(hr))
                hr = verification.ChainState();
            if (SUCCEEDED(hr)) {
                PCCERT_CONTEXT certificate = verification.SignerCertificate();
                *whql = certificate != nullptr && HasWhqlUsage(certificate) ? TRUE : FALSE;
            }
        }
        CloseHandle(file);
        return hr;
    }

private:
    bool initialised_ = false;
};

} // namespace

extern "C" HRESULT __stdcall kxCreateObject(const GUID* clsid, const GUID* iid, void** object)
{
    if (clsid == nullptr || iid == nullptr || object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(*clsid, CLSID_KxConfigManagement))
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!IsEqualGUID(*iid, IID_IKxConfigManagement))
        return E_NOINTERFACE;
    *object = static_cast<IKxConfigManagement*>(new ConfigManagement());
    return S_OK;
}

extern "C" HRESULT __stdcall kxCreateComLib(IKxComLib** comLib)
{
    if (comLib == nullptr)
        return E_POINTER;
    *comLib = new ComLib();
    return S_OK;
}

extern "C" HRESULT __stdcall kxLoadInterface(const GUID* iid, void** object)
{
    if (iid == nullptr || object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualGUID(*iid, IID_IKxVerifyTrust))
        return E_NOINTERFACE;
    *object = static_cast<IKxVerifyTrust*>(new VerifyTrust());
    return S_OK;
}
