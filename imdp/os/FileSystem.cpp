#include "imdp/os/FileSystem.h"

#include "imdp/Errors.h"
#include "imdp/UniqueHandle.h"

#include <windows.h>

namespace imdp {
namespace os {
namespace {

std::wstring WithoutTrailingBackslashes(const std::wstring& path)
{
    const size_t end = path.find_last_not_of(L'\\');
    return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

bool IsDriveRoot(const std::wstring& path)
{
    return (path.size() == 2 || (path.size() == 3 && path[2] == L'\\')) && path[1] == L':';
}

bool HasLongPathPrefix(const std::wstring& path)
{
    return path.compare(0, LongPathPrefix().size(), LongPathPrefix()) == 0;
}

void ClearReadOnly(const std::wstring& path, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0)
        return;
    ThrowLastErrorIf(!SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY), "SetFileAttributesW");
}

void DeleteEntry(const std::wstring& path, DWORD attributes);

void DeleteFolderContents(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry = {};
    unique_find_handle find(FindFirstFileW(JoinPath(folder, L"*").c_str(), &entry));
    ThrowLastErrorIf(!find, "FindFirstFileW");
    for (;;) {
        if (!IsDotEntry(entry.cFileName))
            DeleteEntry(JoinPath(folder, entry.cFileName), entry.dwFileAttributes);
        if (!FindNextFileW(find.get(), &entry)) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_FILES)
                break;
            throw win32_error("FindNextFileW", error);
        }
    }
}

void DeleteEntry(const std::wstring& path, DWORD attributes)
{
    // Windows refuses to delete a read-only file, and a read-only folder too.
    ClearReadOnly(path, attributes);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ThrowLastErrorIf(!DeleteFileW(path.c_str()), "DeleteFileW");
        return;
    }
    // A junction or folder link is removed itself; what it points to is not ours.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        DeleteFolderContents(path);
    ThrowLastErrorIf(!RemoveDirectoryW(path.c_str()), "RemoveDirectoryW");
}

} // namespace

const std::wstring& LongPathPrefix()
{
    static const std::wstring prefix = L"\\\\?\\";
    return prefix;
}

std::wstring ToLongPath(const std::wstring& path)
{
    return HasLongPathPrefix(path) ? path : LongPathPrefix() + path;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty())
        return name;
    const size_t start = name.find_first_not_of(L'\\');
    const std::wstring tail = start == std::wstring::npos ? std::wstring() : name.substr(start);
    return EndsWithBackslash(folder) ? folder + tail : folder + L'\\' + tail;
}

std::wstring ParentPath(const std::wstring& path)
{
    if (HasLongPathPrefix(path)) {
        const std::wstring parent = ParentPath(path.substr(LongPathPrefix().size()));
        return parent.empty() ? parent : LongPathPrefix() + parent;
    }
    const std::wstring trimmed = WithoutTrailingBackslashes(path);
    if (IsDriveRoot(trimmed))
        return std::wstring();
    const size_t slash = trimmed.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash == 0)
        return std::wstring();
    const std::wstring parent = trimmed.substr(0, slash);
    return IsDriveRoot(parent) ? parent + L'\\' : parent;
}

bool EndsWithBackslash(const std::wstring& path)
{
    return !path.empty() && path.back() == L'\\';
}

bool IsDotEntry(const std::wstring& name)
{
    return name == L"." || name == L"..";
}

std::vector<std::wstring> CreateDirectories(const std::wstring& path)
{
    std::vector<std::wstring> created;
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return created;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        throw win32_error("GetFileAttributes", error);
    const std::wstring parent = ParentPath(path);
    if (!parent.empty())
        created = CreateDirectories(parent);
    ThrowLastErrorIf(!CreateDirectoryW(path.c_str(), nullptr), "CreateDirectory failed");
    created.push_back(path);
    return created;
}

void DeleteTree(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    ThrowLastErrorIf(attributes == INVALID_FILE_ATTRIBUTES, "GetFileAttributesW");
    DeleteEntry(path, attributes);
}

} // namespace os
} // namespace imdp
