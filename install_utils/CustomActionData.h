#pragma once

#include <string>
#include <vector>

namespace InstallUtils {

// The two ways a deferred action unpacks delimited CustomActionData. Values
// are written without quoting, so a value never contains the delimiter.

// Every field, split on each delimiter; empty fields are kept ("a;;b" gives
// three fields, "" gives one empty field).
std::vector<std::wstring> SplitAllFields(const std::wstring& data, wchar_t delimiter);

// At most `count` leading fields, each ended by the next delimiter or the end
// of the data; text after the last expected field's delimiter is ignored.
// Fewer fields come back when the data holds fewer: callers check the size.
std::vector<std::wstring> TakeFields(const std::wstring& data, wchar_t delimiter, size_t count);

} // namespace InstallUtils
