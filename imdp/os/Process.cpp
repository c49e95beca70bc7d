#include "imdp/os/Process.h"

#include "imdp/Errors.h"
#include "imdp/UniqueHandle.h"

#include <psapi.h>
#include <tlhelp32.h>

namespace imdp {
namespace os {

DWORD GetParentProcessId(DWORD pid)
{
    // The snapshot answers INVALID_HANDLE_VALUE on failure.
    unique_file_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    ThrowLastErrorIf(!snapshot, "CreateToolhelp32Snapshot");
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    ThrowLastErrorIf(!Process32FirstW(snapshot.get(), &entry), "Process32FirstW");
    while (entry.th32ProcessID != pid)
        ThrowLastErrorIf(!Process32NextW(snapshot.get(), &entry), "Process32NextW");
    return entry.th32ParentProcessID;
}

std::wstring GetProcessImagePath(DWORD pid)
{
    unique_kernel_handle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
    ThrowLastErrorIf(!process, "OpenProcess");
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetProcessImageFileNameW(process.get(), path, MAX_PATH);
    ThrowLastErrorIf(length == 0, "GetProcessImageFileNameW");
    return std::wstring(path, length);
}

} // namespace os
} // namespace imdp
