#include "imdp/log/Logger.h"

#include <cwchar>

namespace imdp {
namespace log {

const wchar_t* LevelName(LogLevel level)
{
    static const wchar_t* const names[7] = {L"", L"TRACE", L"DEBUG", L"INFO", L"WARN", L"ERROR", L"FATAL"};
    const int index = static_cast<int>(level);
    return (index >= 0 && index < 7) ? names[index] : names[0];
}

CLogBuffer::CLogBuffer() : level_(LOG_NONE), time_{} {}

void CLogBuffer::Stamp(LogLevel level, const FILETIME& time)
{
    // A line left unfinished (its writer threw half way through it) goes out
    // on its own, under its own stamp, instead of being glued to the front of
    // the line that starts now.
    sync();
    level_ = level;
    time_ = time;
}

CLogBuffer::int_type CLogBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    if (traits_type::to_char_type(c) == L'\n') {
        sync();
        return c;
    }
    line_.put(traits_type::to_char_type(c));
    return c;
}

int CLogBuffer::sync()
{
    std::wstring text = line_.str();
    if (!text.empty()) {
        line_.str(std::wstring());
        Write(time_, level_, text);
    }
    return 0;
}

CLogger::CLogger(std::unique_ptr<CLogBuffer> buffer, LogLevel threshold)
    : buffer_(std::move(buffer)), stream_(buffer_.get()), nullStream_(&nullBuffer_), threshold_(threshold)
{
    // A line the installer refuses surfaces as an exception from Write().
    stream_.exceptions(std::ios_base::badbit);
}

std::wostream& CLogger::Log(LogLevel level)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (threshold_ != LOG_NONE && level >= threshold_) {
        buffer_->Stamp(level, now);
        // A refused earlier line leaves the stream bad; every line starts afresh.
        stream_.clear();
        return stream_;
    }
    return nullStream_;
}

std::wstring FormatTimestamp(const FILETIME& time)
{
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&time, &st))
        return std::wstring();
    wchar_t buffer[25] = {};
    _snwprintf(buffer, 24, L"%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", st.wYear, st.wMonth, st.wDay, st.wHour,
               st.wMinute, st.wSecond, st.wMilliseconds);
    return buffer;
}

std::wstring FormatLine(const FILETIME& time, LogLevel level, const std::wstring& text)
{
    std::wstring name = LevelName(level);
    name.resize(5, L' ');
    return FormatTimestamp(time) + L" " + name + L" " + text;
}

} // namespace log
} // namespace imdp
