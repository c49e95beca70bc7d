#pragma once

// A server for one framework IPC endpoint (\\.\pipe\<endpoint>): answers each
// request with what the answer function gives and keeps the requests it saw.

#include "imdp/kx/KxAbi.h"

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kxstandin {

class PipeServer {
public:
    using AnswerFn = std::function<HRESULT(const kxabi::KxIpcRequest&)>;

    // Starts serving at once; clients are served one after the other.
    PipeServer(std::wstring endpoint, AnswerFn answer);
    ~PipeServer();
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    std::vector<kxabi::KxIpcRequest> Requests() const;

private:
    void Serve();
    HANDLE CreateInstance() const;
    bool Complete(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, DWORD& transferred) const;

    std::wstring name_;
    AnswerFn answer_;
    HANDLE ready_ = nullptr;
    HANDLE stop_ = nullptr;
    mutable std::mutex mutex_;
    std::vector<kxabi::KxIpcRequest> requests_;
    std::thread thread_;
};

} // namespace kxstandin
