// Serves one framework IPC endpoint for manual runs and the demo:
//   kxipcd <endpoint> [answer]
// answers every command with `answer` (an HRESULT, hexadecimal, default 0)
// and prints each command it receives, until the process is ended.

#include "standin/kx/PipeServer.h"

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fwprintf(stderr, L"usage: kxipcd <endpoint> [answer]\n");
        return 2;
    }
    const HRESULT answer = argc > 2 ? static_cast<HRESULT>(wcstoul(argv[2], nullptr, 16)) : S_OK;
    kxstandin::PipeServer server(argv[1], [answer](const kxabi::KxIpcRequest& request) {
        wchar_t guid[64] = {};
        StringFromGUID2(request.command, guid, 64);
        if (request.hasTechnologyType)
            wprintf(L"%ls technology=%ld -> 0x%08lX\n", guid, request.technologyType, static_cast<unsigned long>(answer));
        else
            wprintf(L"%ls -> 0x%08lX\n", guid, static_cast<unsigned long>(answer));
        fflush(stdout);
        return answer;
    });
    wprintf(L"serving \\\\.\\pipe\\%ls\n", argv[1]);
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
