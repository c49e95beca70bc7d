#pragma once

#include "imdp/kx/KxAbi.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

namespace imdp {
namespace kx {

using kxabi::KX_E_VALUE_REJECTED;

class IIpcClient {
public:
    virtual ~IIpcClient() = default;
    // Sends the command and gives back the server's answer, or the failure
    // to deliver it. KX_E_VALUE_REJECTED: the technology type was refused.
    virtual HRESULT Send(const GUID& command, std::optional<LONG> technologyType = std::nullopt) = 0;
};

// Where a connection attempt stopped.
enum class IpcStage {
    Initialize,   // the framework's component library (kxCore.dll) did not load
    CreateComLib, // the component library refused to create itself
    CreateClient, // no client for the endpoint (nobody serves it)
};

class IIpc {
public:
    // The real framework service; see Ipc().
    static IIpc& Production();
    virtual ~IIpc() = default;
    virtual HRESULT Connect(const std::wstring& endpoint, std::unique_ptr<IIpcClient>& client, IpcStage& failedAt) = 0;
};

IIpc& Ipc();

} // namespace kx
} // namespace imdp
