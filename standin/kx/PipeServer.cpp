#include "standin/kx/PipeServer.h"

namespace kxstandin {

PipeServer::PipeServer(std::wstring endpoint, AnswerFn answer)
    : name_(L"\\\\.\\pipe\\" + endpoint), answer_(std::move(answer))
{
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Serve(); });
    // The first instance exists once this returns, so a client may connect at once.
    WaitForSingleObject(ready_, 5000);
}

PipeServer::~PipeServer()
{
    stopping_ = true;
    // Wakes a ConnectNamedPipe that is waiting for a client.
    HANDLE wake = CreateFileW(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (wake != INVALID_HANDLE_VALUE)
        CloseHandle(wake);
    thread_.join();
    CloseHandle(ready_);
}

std::vector<kxabi::KxIpcRequest> PipeServer::Requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

HANDLE PipeServer::CreateInstance() const
{
    return CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                            1, 4096, 4096, 0, nullptr);
}

void PipeServer::Serve()
{
    HANDLE pipe = CreateInstance();
    SetEvent(ready_);
    while (pipe != INVALID_HANDLE_VALUE && !stopping_) {
        const BOOL connected = ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
        while (connected && !stopping_) {
            kxabi::KxIpcRequest request = {};
            DWORD read = 0;
            if (!ReadFile(pipe, &request, sizeof(request), &read, nullptr))
                break;
            kxabi::KxIpcAnswer reply = {kxabi::KX_IPC_MAGIC, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)};
            if (read == sizeof(request) && request.magic == kxabi::KX_IPC_MAGIC) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    requests_.push_back(request);
                }
                reply.result = answer_(request);
            }
            DWORD written = 0;
            if (!WriteFile(pipe, &reply, sizeof(reply), &written, nullptr))
                break;
        }
        DisconnectNamedPipe(pipe);
    }
    if (pipe != INVALID_HANDLE_VALUE)
        CloseHandle(pipe);
}

} // namespace kxstandin
