#include "standin/kx/PipeServer.h"

namespace kxstandin {

PipeServer::PipeServer(std::wstring endpoint, AnswerFn answer)
    : name_(L"\\\\.\\pipe\\" + endpoint), answer_(std::move(answer))
{
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this] { Serve(); });
    // The first instance exists once this returns, so a client may connect at once.
    WaitForSingleObject(ready_, 5000);
}

PipeServer::~PipeServer()
{
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
    CloseHandle(ready_);
}

std::vector<kxabi::KxIpcRequest> PipeServer::Requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

HANDLE PipeServer::CreateInstance() const
{
    return CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
}

// Runs one overlapped operation to its end; false when it failed or the
// server is stopping (the operation is then cancelled).
bool PipeServer::Complete(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, DWORD& transferred) const
{
    if (!started) {
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED)
            return true;
        if (error != ERROR_IO_PENDING)
            return false;
    }
    HANDLE events[] = {overlapped.hEvent, stop_};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &overlapped, &transferred, FALSE) != FALSE;
}

void PipeServer::Serve()
{
    HANDLE pipe = CreateInstance();
    SetEvent(ready_);
    if (pipe == INVALID_HANDLE_VALUE)
        return;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    while (WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) {
        DWORD transferred = 0;
        ResetEvent(overlapped.hEvent);
        bool connected = Complete(pipe, overlapped, ConnectNamedPipe(pipe, &overlapped), transferred);
        while (connected) {
            kxabi::KxIpcRequest request = {};
            ResetEvent(overlapped.hEvent);
            if (!Complete(pipe, overlapped, ReadFile(pipe, &request, sizeof(request), nullptr, &overlapped),
                          transferred))
                break;
            kxabi::KxIpcAnswer reply = {kxabi::KX_IPC_MAGIC, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)};
            if (transferred == sizeof(request) && request.magic == kxabi::KX_IPC_MAGIC) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    requests_.push_back(request);
                }
                reply.result = answer_(request);
            }
            ResetEvent(overlapped.hEvent);
            if (!Complete(pipe, overlapped, WriteFile(pipe, &reply, sizeof(reply), nullptr, &overlapped),
                          transferred))
                break;
        }
        DisconnectNamedPipe(pipe);
    }
    CloseHandle(overlapped.hEvent);
    CloseHandle(pipe);
}

} // namespace kxstandin
