#pragma once

#include "install_utils/InstallUtilsException.h"
#include "install_utils/MsiLogStream.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace InstallUtils {

// The context of a utility-style action: a log stream whose lines go into
// the installer log behind a prefix, and property, condition and path access.
// Writing to the object with << is unfiltered; log(level) is filtered by the
// process-wide threshold.
class CMsiUtil : public basic_msilog_stream<wchar_t> {
public:
    CMsiUtil(MSIHANDLE hInstall, const wchar_t* prefix);
    ~CMsiUtil() override = default;
    CMsiUtil(const CMsiUtil&) = delete;
    CMsiUtil& operator=(const CMsiUtil&) = delete;

    MSIHANDLE handle() const noexcept { return hInstall_; }

    std::wostream& log(int level);

    // printf-style (Windows rules: %s takes a wide string in the wide twin);
    // the prefix, one space and the text, as one unfiltered line.
    void logMessage(const wchar_t* format, ...);
    void logMessage(const char* format, ...);

    // One line of the prefix and each argument followed by a space; spec letters:
    // s/S wide string, I/L 32-bit signed integer.
    void logFields(const char* spec, ...);

    std::wstring getProperty(const wchar_t* name);
    bool setProperty(const wchar_t* name, const wchar_t* value);
    MSICONDITION evaluateCondition(const wchar_t* condition);
    std::wstring getTargetPath(const wchar_t* folder);
    std::wstring getSourcePath(const wchar_t* folder);

    // Writes the data of the Binary row "closeui" of the active database into
    // the file `path`; throws CInstallUtilsException on failure, leaving no
    // file behind.
    bool extractCloseUiBinary(const wchar_t* path);

private:
    void writeLine(const std::wstring& text);

    MSIHANDLE hInstall_;
};

} // namespace InstallUtils
