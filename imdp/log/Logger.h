#pragma once

#include "imdp/NonCopyable.h"
#include "imdp/log/LogLevel.h"

#include <windows.h>

#include <memory>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

namespace imdp {
namespace log {

// Collects one line at a time; a finished line goes to Write() with the time
// and level stamped on it when the line was started.
class CLogBuffer : public std::wstreambuf {
public:
    CLogBuffer();
    ~CLogBuffer() override = default;

    // Starts a new line; an unfinished earlier line is written out first.
    void Stamp(LogLevel level, const FILETIME& time);

    virtual void Write(const FILETIME& time, LogLevel level, const std::wstring& text) = 0;

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    std::wostringstream line_;
    LogLevel level_;
    FILETIME time_;
};

// Accepts and discards every character.
class nullstreambuf : public std::wstreambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

// Level-filtered logger over one CLogBuffer.
class CLogger : private nca_::CNonCopyable {
public:
    CLogger(std::unique_ptr<CLogBuffer> buffer, LogLevel threshold);
    virtual ~CLogger() = default;

    // The stream to write one line of the given level to, or a discarding
    // stream when the level is below the threshold. End the line with std::endl.
    std::wostream& Log(LogLevel level);

private:
    std::unique_ptr<CLogBuffer> buffer_;
    std::wostream stream_;
    nullstreambuf nullBuffer_;
    std::wostream nullStream_;
    LogLevel threshold_;
};

// "2024-05-01T09:30:12.045Z": UTC with milliseconds, empty when the time cannot be converted.
std::wstring FormatTimestamp(const FILETIME& time);

// Timestamp, one space, the level name left-aligned in five characters, one space, the text.
std::wstring FormatLine(const FILETIME& time, LogLevel level, const std::wstring& text);

} // namespace log
} // namespace imdp
