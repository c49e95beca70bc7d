#include "install_utils/MsiUtil.h"

#include "imdp/msi/InstallerString.h"
#include "imdp/StringConv.h"
#include "imdp/UniqueHandle.h"
#include "install_utils/MsiTable.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <vector>

namespace InstallUtils {
namespace {

int g_threshold = 2;

std::wstring FormatWide(const wchar_t* format, va_list args)
{
    std::vector<wchar_t> buffer(512);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int written = _vsnwprintf(buffer.data(), buffer.size() - 1, format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < buffer.size() - 1)
            return std::wstring(buffer.data(), static_cast<size_t>(written));
        if (buffer.size() > (1u << 24))
            return std::wstring(buffer.data(), buffer.size() - 1);
        buffer.assign(buffer.size() * 2, L'\0');
    }
}

std::string FormatNarrow(const char* format, va_list args)
{
    std::vector<char> buffer(512);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int written = _vsnprintf(buffer.data(), buffer.size() - 1, format, copy);
        va_end(copy);
        if (written >= 0 && static_cast<size_t>(written) < buffer.size() - 1)
            return std::string(buffer.data(), static_cast<size_t>(written));
        if (buffer.size() > (1u << 24))
            return std::string(buffer.data(), buffer.size() - 1);
        buffer.assign(buffer.size() * 2, '\0');
    }
}

// A database handle has no session properties: the value comes from the
// Property table. Property names are put into the condition as they are, so a
// name with a quote cannot be asked for.
std::wstring PropertyFromDatabase(MSIHANDLE database, const wchar_t* name)
{
    if (std::wcschr(name, L'\'') != nullptr || std::wcschr(name, L'`') != nullptr)
        throw CInstallUtilsException(std::wstring(L"Unable to get length of ") + name, ERROR_INVALID_PARAMETER);
    CMsiTable table(database);
    CMsiTable::columns columns;
    CMsiTable::rows rows;
    const std::wstring condition = std::wstring(L"Property='") + name + L"'";
    if (!table.getColumns(L"Property", columns, false) ||
        !table.getRecords(L"Property", columns, rows, condition.c_str(), false))
        throw CInstallUtilsException(std::wstring(L"Unable to get length of ") + name, ERROR_FUNCTION_FAILED);
    if (rows.empty())
        return std::wstring();
    const auto value = rows.front().find(L"Value");
    return value != rows.front().end() ? value->second : std::wstring();
}

} // namespace

void SendInfoLine(MSIHANDLE hInstall, const std::wstring& line) noexcept
{
    imdp::unique_msi_handle record(MsiCreateRecord(1));
    if (!record)
        return;
    MsiRecordSetStringW(record.get(), 0, line.c_str());
    MsiProcessMessage(hInstall, INSTALLMESSAGE_INFO, record.get());
}

int LogThreshold() noexcept
{
    return g_threshold;
}

void SetLogThreshold(int level) noexcept
{
    g_threshold = level;
}

void ApplyLogLevelProperty(MSIHANDLE hInstall)
{
    const imdp::msi::InstallerString level = imdp::msi::ReadInstallerString(
        [hInstall](wchar_t* buffer, DWORD* length) { return MsiGetPropertyW(hInstall, L"CALOGLEVEL", buffer, length); });
    if (level.firstAnswer != ERROR_MORE_DATA || level.answer != ERROR_SUCCESS)
        return;
    std::wistringstream parser(level.value);
    unsigned int number = static_cast<unsigned int>(g_threshold);
    parser >> number;
    if (!parser.fail() && number <= 6)
        g_threshold = static_cast<int>(number);
}

std::wostream& NullLogSink()
{
    static std::wofstream sink("NUL", std::ios::out);
    return sink;
}

CMsiUtil::CMsiUtil(MSIHANDLE hInstall, const wchar_t* prefix)
    : basic_msilog_stream<wchar_t>(hInstall, prefix != nullptr ? prefix : L""), hInstall_(hInstall)
{
    ApplyLogLevelProperty(hInstall);
}

std::wostream& CMsiUtil::log(int level)
{
    if (g_threshold != 0 && level >= g_threshold)
        return *this;
    return NullLogSink();
}

void CMsiUtil::writeLine(const std::wstring& text)
{
    flush();
    if (hInstall_ != 0)
        SendInfoLine(hInstall_, prefix() + L" " + text);
}

void CMsiUtil::logMessage(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::wstring text = FormatWide(format, args);
    va_end(args);
    writeLine(text);
}

void CMsiUtil::logMessage(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = FormatNarrow(format, args);
    va_end(args);
    writeLine(imdp::AnsiToWide(text));
}

void CMsiUtil::logFields(const char* spec, ...)
{
    std::wostringstream line;
    line << prefix();
    va_list args;
    va_start(args, spec);
    for (const char* letter = spec; *letter != '\0'; ++letter) {
        switch (*letter) {
        case 's':
        case 'S': {
            const wchar_t* text = va_arg(args, const wchar_t*);
            line << (text != nullptr ? text : L"(null)") << L' ';
            break;
        }
        case 'I':
        case 'L':
            line << va_arg(args, int) << L' ';
            break;
        default:
            break;
        }
    }
    va_end(args);
    flush();
    if (hInstall_ != 0)
        SendInfoLine(hInstall_, line.str());
}

std::wstring CMsiUtil::getProperty(const wchar_t* name)
{
    if (name == nullptr)
        throw CInstallUtilsException(L"Unable to get length of a property without a name", ERROR_INVALID_PARAMETER);
    const imdp::msi::InstallerString property = imdp::msi::ReadInstallerString(
        [this, name](wchar_t* buffer, DWORD* length) { return MsiGetPropertyW(hInstall_, name, buffer, length); });
    if (property.firstAnswer == ERROR_INVALID_HANDLE)
        return PropertyFromDatabase(hInstall_, name);
    if (property.firstAnswer != ERROR_SUCCESS && property.firstAnswer != ERROR_MORE_DATA)
        throw CInstallUtilsException(std::wstring(L"Unable to get length of ") + name, property.firstAnswer);
    if (property.answer != ERROR_SUCCESS)
        throw CInstallUtilsException(std::wstring(L"Unable to get value of ") + name, property.answer);
    return property.value;
}

bool CMsiUtil::setProperty(const wchar_t* name, const wchar_t* value)
{
    const UINT result = MsiSetPropertyW(hInstall_, name, value);
    if (result != ERROR_SUCCESS) {
        logMessage(L"Failed to set property % s to %s (%u)", name, value, result);
        return false;
    }
    return true;
}

MSICONDITION CMsiUtil::evaluateCondition(const wchar_t* condition)
{
    const MSICONDITION answer = MsiEvaluateConditionW(hInstall_, condition);
    if (answer == MSICONDITION_ERROR) {
        logMessage(L"CMsiUtil::evaluateCondition: Unable to evaluate condition '%s'", condition);
        throw CInstallUtilsException(L"CMsiUtil::evaluateCondition: Unable to evaluate condition", 0);
    }
    return answer;
}

namespace {

template <typename Getter>
std::wstring ReadPath(MSIHANDLE hInstall, const wchar_t* folder, Getter getter, const wchar_t* error)
{
    const imdp::msi::InstallerString path = imdp::msi::ReadInstallerString(
        [&](wchar_t* buffer, DWORD* length) { return getter(hInstall, folder, buffer, length); });
    if (path.firstAnswer != ERROR_MORE_DATA)
        throw CInstallUtilsException(error, path.firstAnswer);
    if (path.answer != ERROR_SUCCESS)
        throw CInstallUtilsException(error, path.answer);
    return path.value;
}

} // namespace

std::wstring CMsiUtil::getTargetPath(const wchar_t* folder)
{
    return ReadPath(hInstall_, folder, MsiGetTargetPathW, L"Unable to get target path");
}

std::wstring CMsiUtil::getSourcePath(const wchar_t* folder)
{
    return ReadPath(hInstall_, folder, MsiGetSourcePathW, L"Unable to get source path");
}

bool CMsiUtil::extractCloseUiBinary(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        throw CInstallUtilsException(L"Unable to create file ", ERROR_FUNCTION_FAILED);
    const std::wstring file(path);

    // The stream is read before the file is created, so that a package without
    // the row leaves no empty program behind.
    imdp::unique_msi_handle database(MsiGetActiveDatabase(hInstall_));
    if (!database)
        throw CInstallUtilsException(L"Unable to obtain active database handle", ERROR_FUNCTION_FAILED);
    imdp::unique_msi_handle view;
    UINT result =
        MsiDatabaseOpenViewW(database.get(), L"SELECT * FROM Binary WHERE `Name`='closeui'", view.put());
    if (result != ERROR_SUCCESS)
        throw CInstallUtilsException(L"Unable to  open database view", result);
    result = MsiViewExecute(view.get(), 0);
    if (result != ERROR_SUCCESS)
        throw CInstallUtilsException(L"Unable to execute view", result);
    imdp::unique_msi_handle record;
    result = MsiViewFetch(view.get(), record.put());
    if (result != ERROR_SUCCESS) {
        MsiViewClose(view.get());
        throw CInstallUtilsException(L"Unable to fetch record", result);
    }
    DWORD size = 0;
    result = MsiRecordReadStream(record.get(), 2, nullptr, &size);
    if (result != ERROR_SUCCESS) {
        MsiViewClose(view.get());
        throw CInstallUtilsException(L"Unable to determine streamed data size", result);
    }
    logMessage("Reading %u bytes from stream", static_cast<unsigned>(size));
    std::vector<char> data(size);
    DWORD read = size;
    if (size != 0) {
        result = MsiRecordReadStream(record.get(), 2, data.data(), &read);
        if (result != ERROR_SUCCESS) {
            MsiViewClose(view.get());
            throw CInstallUtilsException(L"Unable to read stream from binary table", result);
        }
    }
    record.reset();
    MsiViewClose(view.get());
    view.reset();
    database.reset();

    std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
    if (!out)
        throw CInstallUtilsException(L"Unable to create file " + file, ERROR_FUNCTION_FAILED);
    out.write(data.data(), static_cast<std::streamsize>(read));
    out.close();
    if (!out) {
        DeleteFileW(file.c_str());
        throw CInstallUtilsException(L"Unable to write to stream", ERROR_FUNCTION_FAILED);
    }
    logMessage("Wrote %u bytes", static_cast<unsigned>(read));
    logMessage("end. ret=%d", 0);
    return true;
}

} // namespace InstallUtils
