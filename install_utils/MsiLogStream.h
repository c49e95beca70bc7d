#pragma once

#include <windows.h>
#include <msi.h>

#include <ostream>
#include <streambuf>
#include <string>

namespace InstallUtils {

// Assembles lines and sends each as one INFO message "<prefix><text>".
template <typename Char>
class basic_msilog_buf : public std::basic_streambuf<Char> {
public:
    using traits_type = typename std::basic_streambuf<Char>::traits_type;
    using int_type = typename traits_type::int_type;

    basic_msilog_buf(MSIHANDLE hInstall, std::basic_string<Char> prefix)
        : hInstall_(hInstall), prefix_(std::move(prefix))
    {
    }
    ~basic_msilog_buf() override { flushLine(); }

    const std::basic_string<Char>& prefix() const noexcept { return prefix_; }

protected:
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const Char ch = traits_type::to_char_type(c);
        if (ch == Char('\n'))
            flushLine();
        else
            pending_.push_back(ch);
        return c;
    }

    int sync() override
    {
        flushLine();
        return 0;
    }

private:
    void flushLine() noexcept;

    MSIHANDLE hInstall_;
    std::basic_string<Char> prefix_;
    std::basic_string<Char> pending_;
};

// Sends one finished line; a refusal by the installer is ignored.
void SendInfoLine(MSIHANDLE hInstall, const std::wstring& line) noexcept;

template <>
inline void basic_msilog_buf<wchar_t>::flushLine() noexcept
{
    if (pending_.empty())
        return;
    if (hInstall_ != 0) {
        try {
            SendInfoLine(hInstall_, prefix_ + pending_);
        } catch (...) {
        }
    }
    pending_.clear();
}

template <typename Char>
class basic_msilog_stream : public std::basic_ostream<Char> {
public:
    basic_msilog_stream(MSIHANDLE hInstall, const std::basic_string<Char>& prefix)
        : std::basic_ostream<Char>(nullptr), buffer_(hInstall, prefix)
    {
        this->init(&buffer_);
    }
    ~basic_msilog_stream() override = default;

    const std::basic_string<Char>& prefix() const noexcept { return buffer_.prefix(); }

private:
    basic_msilog_buf<Char> buffer_;
};

// The process-wide threshold of level-filtered lines (initially 2, DEBUG; 0 logs nothing).
int LogThreshold() noexcept;
void SetLogThreshold(int level) noexcept;

// Adopts the installer property CALOGLEVEL as the threshold when it is a
// number from 0 to 6; anything else leaves the threshold as it is.
void ApplyLogLevelProperty(MSIHANDLE hInstall);

// The sink for lines below the threshold: everything written is discarded.
std::wostream& NullLogSink();

} // namespace InstallUtils
