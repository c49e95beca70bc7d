#include "tests/support/Package.h"

#include <objbase.h>
#include <rpc.h>

#include <fstream>
#include <stdexcept>
#include <string>

namespace testsupport {
namespace {

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

void Check(UINT result, const std::wstring& what)
{
    if (result != ERROR_SUCCESS)
        throw std::runtime_error(Narrow(what) + " failed: " + std::to_string(result));
}

std::wstring ReadRecordString(MSIHANDLE record, UINT field)
{
    DWORD length = 0;
    wchar_t empty[1] = {L'\0'};
    UINT result = MsiRecordGetStringW(record, field, empty, &length);
    if (result == ERROR_SUCCESS)
        return std::wstring();
    std::wstring value(length + 1, L'\0');
    length += 1;
    MsiRecordGetStringW(record, field, &value[0], &length);
    value.resize(length);
    return value;
}

const wchar_t* const kStandardTables[] = {
    L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE PRIMARY KEY `Property`)",
    L"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), `DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)",
    L"CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64) LOCALIZABLE, `Description` CHAR(255) LOCALIZABLE, `Display` SHORT, `Level` SHORT NOT NULL, `Directory_` CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)",
    L"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)",
    L"CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Feature_`, `Component_`)",
    L"CREATE TABLE `File` (`File` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` CHAR(255) NOT NULL LOCALIZABLE, `FileSize` LONG NOT NULL, `Version` CHAR(72), `Language` CHAR(20), `Attributes` SHORT, `Sequence` SHORT NOT NULL PRIMARY KEY `File`)",
    L"CREATE TABLE `Media` (`DiskId` SHORT NOT NULL, `LastSequence` SHORT NOT NULL, `DiskPrompt` CHAR(64) LOCALIZABLE, `Cabinet` CHAR(255), `VolumeLabel` CHAR(32), `Source` CHAR(72) PRIMARY KEY `DiskId`)",
    L"CREATE TABLE `Binary` (`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`)",
    L"CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), `Target` CHAR(255) PRIMARY KEY `Action`)",
    L"CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), `Sequence` SHORT PRIMARY KEY `Action`)",
    L"CREATE TABLE `InstallUISequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), `Sequence` SHORT PRIMARY KEY `Action`)",
    L"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('TARGETDIR', '', 'SourceDir')",
    L"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('ProgramFilesFolder', 'TARGETDIR', '.')",
    L"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES ('INSTALLDIR', 'ProgramFilesFolder', 'Aegix')",
    L"INSERT INTO `Feature` (`Feature`, `Feature_Parent`, `Title`, `Description`, `Display`, `Level`, `Directory_`, `Attributes`) VALUES ('Main', '', 'Main', '', 1, 1, 'INSTALLDIR', 0)",
    L"INSERT INTO `Media` (`DiskId`, `LastSequence`, `DiskPrompt`, `Cabinet`, `VolumeLabel`, `Source`) VALUES (1, 1, '', '', '', '')",
};

struct StandardAction {
    const wchar_t* name;
    int sequence;
};

const StandardAction kExecuteSequence[] = {
    {L"CostInitialize", 800}, {L"FileCost", 900},           {L"CostFinalize", 1000},
    {L"InstallValidate", 1400}, {L"InstallInitialize", 1500}, {L"InstallFiles", 4000},
    {L"InstallFinalize", 6600},
};

const StandardAction kUiSequence[] = {
    {L"CostInitialize", 800}, {L"FileCost", 900}, {L"CostFinalize", 1000}, {L"ExecuteAction", 1300},
};

} // namespace

std::wstring ModuleFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

std::wstring DataPath(const std::wstring& name)
{
    const std::wstring folder = ModuleFolder() + L"testdata\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring path = folder + name;
    DeleteFileW(path.c_str());
    return path;
}

std::wstring NewGuid()
{
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring ClientCaPath()
{
    return ModuleFolder() + L"clientca.dll";
}

std::wstring TestCaPath()
{
    return ModuleFolder() + L"clientca_testca.dll";
}

PackageBuilder::PackageBuilder(const std::wstring& path) : path_(path), productCode_(NewGuid())
{
    DeleteFileW(path.c_str());
    Check(MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_CREATE, &database_), L"MsiOpenDatabase " + path);
    StandardTables();
}

PackageBuilder::~PackageBuilder()
{
    if (database_ != 0)
        MsiCloseHandle(database_);
}

void PackageBuilder::StandardTables()
{
    for (const wchar_t* statement : kStandardTables)
        Sql(statement);
    Property(L"ProductCode", productCode_);
    Property(L"ProductName", L"Quorvane Aegix Test");
    Property(L"ProductVersion", L"14.3.2000");
    Property(L"Manufacturer", L"Quorvane");
    Property(L"ProductLanguage", L"1033");
    Property(L"UpgradeCode", L"{6B0F2B3C-3E55-4A8B-9C0E-2F61D1A7C001}");
    for (const StandardAction& action : kExecuteSequence)
        ExecuteSequence(action.name, action.sequence);
    for (const StandardAction& action : kUiSequence)
        UiSequence(action.name, action.sequence);
}

PackageBuilder& PackageBuilder::Sql(const std::wstring& statement)
{
    MSIHANDLE view = 0;
    Check(MsiDatabaseOpenViewW(database_, statement.c_str(), &view), L"open view: " + statement);
    const UINT result = MsiViewExecute(view, 0);
    MsiViewClose(view);
    MsiCloseHandle(view);
    Check(result, L"execute: " + statement);
    return *this;
}

PackageBuilder& PackageBuilder::Idt(const std::wstring& tableName, const std::wstring& text)
{
    const std::wstring folder = ModuleFolder() + L"testdata\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = tableName + L".idt";
    {
        std::ofstream out((folder + file).c_str(), std::ios::binary | std::ios::trunc);
        const std::string narrow = Narrow(text);
        out.write(narrow.data(), static_cast<std::streamsize>(narrow.size()));
    }
    Check(MsiDatabaseImportW(database_, folder.c_str(), file.c_str()), L"import " + tableName);
    DeleteFileW((folder + file).c_str());
    return *this;
}

namespace {

void InsertWithRecord(MSIHANDLE database, const std::wstring& sql, MSIHANDLE record)
{
    MSIHANDLE view = 0;
    Check(MsiDatabaseOpenViewW(database, sql.c_str(), &view), L"open view: " + sql);
    const UINT result = MsiViewExecute(view, record);
    MsiViewClose(view);
    MsiCloseHandle(view);
    Check(result, L"execute: " + sql);
}

} // namespace

PackageBuilder& PackageBuilder::Property(const std::wstring& name, const std::wstring& value)
{
    MSIHANDLE record = MsiCreateRecord(2);
    MsiRecordSetStringW(record, 1, name.c_str());
    MsiRecordSetStringW(record, 2, value.c_str());
    InsertWithRecord(database_, L"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", record);
    MsiCloseHandle(record);
    return *this;
}

PackageBuilder& PackageBuilder::Binary(const std::wstring& name, const std::wstring& file)
{
    MSIHANDLE record = MsiCreateRecord(2);
    MsiRecordSetStringW(record, 1, name.c_str());
    const UINT result = MsiRecordSetStreamW(record, 2, file.c_str());
    if (result != ERROR_SUCCESS) {
        MsiCloseHandle(record);
        Check(result, L"stream " + file);
    }
    InsertWithRecord(database_, L"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)", record);
    MsiCloseHandle(record);
    return *this;
}

PackageBuilder& PackageBuilder::CustomAction(const std::wstring& action, int type, const std::wstring& source,
                                             const std::wstring& target)
{
    MSIHANDLE record = MsiCreateRecord(4);
    MsiRecordSetStringW(record, 1, action.c_str());
    MsiRecordSetInteger(record, 2, type);
    MsiRecordSetStringW(record, 3, source.c_str());
    MsiRecordSetStringW(record, 4, target.c_str());
    InsertWithRecord(database_, L"INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES (?, ?, ?, ?)",
                     record);
    MsiCloseHandle(record);
    return *this;
}

namespace {

void AddSequenceRow(MSIHANDLE database, const wchar_t* table, const std::wstring& action, int sequence,
                    const std::wstring& condition)
{
    MSIHANDLE record = MsiCreateRecord(3);
    MsiRecordSetStringW(record, 1, action.c_str());
    MsiRecordSetStringW(record, 2, condition.c_str());
    MsiRecordSetInteger(record, 3, sequence);
    InsertWithRecord(database,
                     std::wstring(L"INSERT INTO `") + table + L"` (`Action`, `Condition`, `Sequence`) VALUES (?, ?, ?)",
                     record);
    MsiCloseHandle(record);
}

} // namespace

PackageBuilder& PackageBuilder::ExecuteSequence(const std::wstring& action, int sequence, const std::wstring& condition)
{
    AddSequenceRow(database_, L"InstallExecuteSequence", action, sequence, condition);
    return *this;
}

PackageBuilder& PackageBuilder::UiSequence(const std::wstring& action, int sequence, const std::wstring& condition)
{
    AddSequenceRow(database_, L"InstallUISequence", action, sequence, condition);
    return *this;
}

std::wstring PackageBuilder::Commit()
{
    MSIHANDLE summary = 0;
    Check(MsiGetSummaryInformationW(database_, nullptr, 20, &summary), L"summary information");
    const wchar_t* platform = sizeof(void*) == 8 ? L"x64;1033" : L"Intel;1033";
    MsiSummaryInfoSetPropertyW(summary, 2, VT_LPSTR, 0, nullptr, L"Installation Database");
    MsiSummaryInfoSetPropertyW(summary, 3, VT_LPSTR, 0, nullptr, L"Quorvane Aegix Test");
    MsiSummaryInfoSetPropertyW(summary, 4, VT_LPSTR, 0, nullptr, L"Quorvane");
    MsiSummaryInfoSetPropertyW(summary, 7, VT_LPSTR, 0, nullptr, platform);
    MsiSummaryInfoSetPropertyW(summary, 9, VT_LPSTR, 0, nullptr, NewGuid().c_str());
    MsiSummaryInfoSetPropertyW(summary, 14, VT_I4, 200, nullptr, nullptr);
    MsiSummaryInfoSetPropertyW(summary, 15, VT_I4, 0, nullptr, nullptr);
    Check(MsiSummaryInfoPersist(summary), L"persist summary information");
    MsiCloseHandle(summary);
    Check(MsiDatabaseCommit(database_), L"commit");
    MsiCloseHandle(database_);
    database_ = 0;
    return path_;
}

LogCapture* LogCapture::active_ = nullptr;

LogCapture::LogCapture() : outer_(active_)
{
    previousLevel_ = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    active_ = this;
    MsiSetExternalUIRecord(&LogCapture::Handler, INSTALLLOGMODE_INFO, this, nullptr);
}

LogCapture::~LogCapture()
{
    active_ = outer_;
    if (outer_ != nullptr)
        MsiSetExternalUIRecord(&LogCapture::Handler, INSTALLLOGMODE_INFO, outer_, nullptr);
    else
        MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr);
    MsiSetInternalUI(previousLevel_, nullptr);
}

INT CALLBACK LogCapture::Handler(LPVOID context, UINT type, MSIHANDLE record)
{
    LogCapture* self = static_cast<LogCapture*>(context);
    if ((type & 0xFF000000u) == INSTALLMESSAGE_INFO && record != 0)
        self->lines_.push_back(ReadRecordString(record, 0));
    return self->answer_;
}

bool LogCapture::Has(const std::wstring& line) const
{
    for (const std::wstring& candidate : lines_)
        if (candidate == line)
            return true;
    return false;
}

std::vector<std::wstring> LogCapture::StartingWith(const std::wstring& prefix) const
{
    std::vector<std::wstring> found;
    for (const std::wstring& line : lines_)
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line);
    return found;
}

std::wstring LogCapture::Joined() const
{
    std::wstring all;
    for (const std::wstring& line : lines_)
        all += line + L"\n";
    return all;
}

Session::Session(const std::wstring& package)
{
    Check(MsiOpenPackageW(package.c_str(), &handle_), L"MsiOpenPackage " + package);
}

Session::~Session()
{
    if (handle_ != 0)
        MsiCloseHandle(handle_);
}

std::wstring Session::Property(const std::wstring& name) const
{
    DWORD length = 0;
    wchar_t empty[1] = {L'\0'};
    UINT result = MsiGetPropertyW(handle_, name.c_str(), empty, &length);
    if (result == ERROR_SUCCESS)
        return std::wstring();
    std::wstring value(length + 1, L'\0');
    length += 1;
    Check(MsiGetPropertyW(handle_, name.c_str(), &value[0], &length), L"MsiGetProperty " + name);
    value.resize(length);
    return value;
}

void Session::SetProperty(const std::wstring& name, const std::wstring& value)
{
    Check(MsiSetPropertyW(handle_, name.c_str(), value.c_str()), L"MsiSetProperty " + name);
}

bool InstallResult::Has(const std::wstring& line) const
{
    for (const std::wstring& candidate : lines)
        if (candidate == line)
            return true;
    return false;
}

int InstallResult::Find(const std::wstring& text) const
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(text) != std::wstring::npos)
            return static_cast<int>(i);
    return -1;
}

InstallResult Install(const std::wstring& package, const std::wstring& commandLine)
{
    LogCapture capture;
    InstallResult result;
    result.code = MsiInstallProductW(package.c_str(), commandLine.c_str());
    result.lines = capture.Lines();
    return result;
}

ExportLibrary::ExportLibrary(const std::wstring& fileName)
{
    module_ = LoadLibraryW(fileName.c_str());
    if (module_ == nullptr)
        throw std::runtime_error("LoadLibrary failed: " + Narrow(fileName) + " " + std::to_string(GetLastError()));
}

ExportLibrary::~ExportLibrary()
{
    if (module_ != nullptr)
        FreeLibrary(module_);
}

bool ExportLibrary::Has(const char* exportName) const
{
    return GetProcAddress(module_, exportName) != nullptr;
}

UINT ExportLibrary::Call(const char* exportName, MSIHANDLE hInstall) const
{
    using Entry = UINT(WINAPI*)(MSIHANDLE);
    const Entry entry = reinterpret_cast<Entry>(GetProcAddress(module_, exportName));
    if (entry == nullptr)
        throw std::runtime_error(std::string("missing export ") + exportName);
    return entry(hInstall);
}

} // namespace testsupport
