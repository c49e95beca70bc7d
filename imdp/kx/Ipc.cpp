#include "imdp/kx/Ipc.h"

#include "imdp/kx/KxModule.h"
#include "imdp/Seam.h"

namespace imdp {
namespace kx {

namespace {

class CIpcClient : public IIpcClient {
public:
    explicit CIpcClient(KxObject<kxabi::IKxIpcClient> client) : client_(std::move(client)) {}

    HRESULT Send(const GUID& command, std::optional<LONG> technologyType) override
    {
        HRESULT answer = E_FAIL;
        const HRESULT hr = client_.object->Send(&command, technologyType ? TRUE : FALSE,
                                                technologyType.value_or(0), &answer);
        return FAILED(hr) ? hr : answer;
    }

private:
    KxObject<kxabi::IKxIpcClient> client_;
};

class CIpc : public IIpc {
public:
    HRESULT Connect(const std::wstring& endpoint, std::unique_ptr<IIpcClient>& client, IpcStage& failedAt) override
    {
        SharedModule module;
        kxabi::KxCreateComLibFn create = nullptr;
        failedAt = IpcStage::Initialize;
        HRESULT hr = LoadFrameworkExport(L"kxCore.dll", "kxCreateComLib", module, create);
        if (FAILED(hr))
            return hr;
        failedAt = IpcStage::CreateComLib;
        kxabi::IKxComLib* rawComLib = nullptr;
        hr = create(&rawComLib);
        if (FAILED(hr))
            return hr;
        if (rawComLib == nullptr)
            return E_POINTER;
        KxObject<kxabi::IKxComLib> comLib(module, rawComLib);
        failedAt = IpcStage::CreateClient;
        kxabi::IKxIpcClient* rawClient = nullptr;
        hr = comLib.object->CreateIpcClient(endpoint.c_str(), &rawClient);
        if (FAILED(hr))
            return hr;
        if (rawClient == nullptr)
            return E_POINTER;
        client = std::make_unique<CIpcClient>(KxObject<kxabi::IKxIpcClient>(module, rawClient));
        return S_OK;
    }
};

} // namespace

IIpc& IIpc::Production()
{
    static CIpc production;
    return production;
}

IIpc& Ipc()
{
    return Seam<IIpc>::Current();
}

} // namespace kx
} // namespace imdp
