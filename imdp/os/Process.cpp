#include "imdp/os/Process.h"

#include "imdp/Errors.h"
#include "imdp/StringConv.h"
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

namespace {

// Whether `path` begins with `prefix` (ignoring case) followed by a backslash.
bool IsBelow(const std::wstring& path, const std::wstring& prefix)
{
    return !prefix.empty() && path.size() > prefix.size() && path[prefix.size()] == L'\\' &&
           CompareStringOrdinal(path.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

std::wstring DevicePathToDrivePath(const std::wstring& devicePath)
{
    const std::wstring redirector = L"\\Device\\Mup";
    if (IsBelow(devicePath, redirector))
        return L"\\" + devicePath.substr(redirector.size());

    wchar_t drives[128] = {};
    const DWORD length = GetLogicalDriveStringsW(ARRAYSIZE(drives) - 1, drives);
    ThrowLastErrorIf(length == 0 || length >= ARRAYSIZE(drives), "GetLogicalDriveStringsW");
    for (const wchar_t* drive = drives; *drive != L'\0'; drive += wcslen(drive) + 1) {
        const wchar_t name[] = {drive[0], L':', L'\0'};
        wchar_t target[MAX_PATH] = {};
        // The first name of the list is the device the drive letter stands for now.
        if (QueryDosDeviceW(name, target, ARRAYSIZE(target)) == 0)
            continue;
        if (IsBelow(devicePath, target))
            return name + devicePath.substr(wcslen(target));
    }
    throw win32_error("No drive letter names the volume of " + WideToAnsi(devicePath),
                      ERROR_PATH_NOT_FOUND);
}

} // namespace os
} // namespace imdp
