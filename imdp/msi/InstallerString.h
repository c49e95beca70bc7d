#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace imdp {
namespace msi {

// The outcome of one two-call string read from the installer.
struct InstallerString {
    UINT firstAnswer = ERROR_SUCCESS; // the length query's answer
    UINT answer = ERROR_SUCCESS;      // the answer that ended the read
    std::wstring value;               // read only when answer is ERROR_SUCCESS
};

// The installer's two-call string read: the length with an empty buffer, then
// the value into a zeroed buffer of that length plus one. `read(buffer,
// &length)` makes the installer call. The value is read only when the length
// query answers ERROR_MORE_DATA; ERROR_SUCCESS there means an empty value.
template <typename Read>
InstallerString ReadInstallerString(Read read)
{
    InstallerString result;
    wchar_t empty[1] = {L'\0'};
    DWORD length = 0;
    result.firstAnswer = read(empty, &length);
    result.answer = result.firstAnswer;
    if (result.firstAnswer != ERROR_MORE_DATA)
        return result;
    std::vector<wchar_t> buffer(length + 1, L'\0');
    length += 1;
    result.answer = read(buffer.data(), &length);
    if (result.answer == ERROR_SUCCESS)
        result.value.assign(buffer.data(), length);
    return result;
}

} // namespace msi
} // namespace imdp
