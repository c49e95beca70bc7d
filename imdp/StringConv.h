#pragma once

#include <string>

namespace imdp {

// Conversions between UTF-16 and the ANSI code page. Failures throw
// win32_error ("MultiByteToWideChar failed" / "WideCharToMultiByte failed").
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);

} // namespace imdp
