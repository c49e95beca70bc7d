#pragma once

#include <string>
#include <vector>

namespace imdp {
namespace os {

// "\\?\": in front of a local path it lifts the MAX_PATH limit of the wide file functions.
const std::wstring& LongPathPrefix();

// `path` with the long-path prefix in front (unchanged when it already has it).
std::wstring ToLongPath(const std::wstring& path);

// `folder` and `name` joined with exactly one backslash.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The folder that holds `path` (a trailing backslash of `path` is ignored);
// a drive root keeps its backslash ("C:\"); empty when there is no parent.
std::wstring ParentPath(const std::wstring& path);

bool EndsWithBackslash(const std::wstring& path);

// True for the entries "." and ".." of a folder listing.
bool IsDotEntry(const std::wstring& name);

// Creates `path` and every missing folder above it; returns the folders it
// created, outermost first. Failures throw win32_error.
std::vector<std::wstring> CreateDirectories(const std::wstring& path);

// Deletes a file, or a folder with everything in it; read-only files are
// deleted too. A folder link (junction or symbolic link) in the tree is
// removed as a link, never followed. Failures throw win32_error.
void DeleteTree(const std::wstring& path);

} // namespace os
} // namespace imdp
