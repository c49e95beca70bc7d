#pragma once

// Test packages built with the installer's own database API, sessions opened
// on them, and whole installs, with every INFO line the actions send captured.

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace testsupport {

// The folder of the running test program (where clientca.dll and the test DLLs are built).
std::wstring ModuleFolder();
// A fresh path in the test data folder for `name` (the folder is created).
std::wstring DataPath(const std::wstring& name);
std::wstring NewGuid();

// Builds a minimal installable package: Property, Directory, Feature,
// Component, Media, Binary, CustomAction and both sequences with the standard
// actions, then lets a test add rows and tables.
class PackageBuilder {
public:
    explicit PackageBuilder(const std::wstring& path);
    ~PackageBuilder();
    PackageBuilder(const PackageBuilder&) = delete;
    PackageBuilder& operator=(const PackageBuilder&) = delete;

    // Runs one SQL statement (CREATE TABLE, INSERT, ...).
    PackageBuilder& Sql(const std::wstring& statement);
    // Imports a table written as IDT text (tab-separated: names, types, table line, rows).
    PackageBuilder& Idt(const std::wstring& tableName, const std::wstring& text);
    PackageBuilder& Property(const std::wstring& name, const std::wstring& value);
    // A Binary row whose data is the file at `file`.
    PackageBuilder& Binary(const std::wstring& name, const std::wstring& file);
    PackageBuilder& CustomAction(const std::wstring& action, int type, const std::wstring& source,
                                 const std::wstring& target);
    PackageBuilder& ExecuteSequence(const std::wstring& action, int sequence, const std::wstring& condition = L"");
    PackageBuilder& UiSequence(const std::wstring& action, int sequence, const std::wstring& condition = L"");

    // Writes the summary information, commits and closes; returns the package path.
    std::wstring Commit();

    const std::wstring& ProductCode() const { return productCode_; }

private:
    void StandardTables();

    std::wstring path_;
    std::wstring productCode_;
    MSIHANDLE database_ = 0;
};

// Captures the raw text of every INFO message for its own scope.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::wstring>& Lines() const { return lines_; }
    void Clear() { lines_.clear(); }
    // What the handler answers the installer (0 lets it go on; -1 reports an error).
    void SetAnswer(int answer) { answer_ = answer; }
    bool Has(const std::wstring& line) const;
    // Lines that begin with `prefix`.
    std::vector<std::wstring> StartingWith(const std::wstring& prefix) const;
    std::wstring Joined() const;

private:
    static INT CALLBACK Handler(LPVOID context, UINT type, MSIHANDLE record);

    std::vector<std::wstring> lines_;
    int answer_ = 0;
    // Captures nest: the installer keeps one handler per process, so an inner
    // capture hands it back to the enclosing one when it ends.
    LogCapture* outer_ = nullptr;
    static LogCapture* active_;
    INSTALLUILEVEL previousLevel_;
};

// A session opened with MsiOpenPackageW on a built package.
class Session {
public:
    explicit Session(const std::wstring& package);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    MSIHANDLE get() const { return handle_; }
    std::wstring Property(const std::wstring& name) const;
    void SetProperty(const std::wstring& name, const std::wstring& value);

private:
    MSIHANDLE handle_ = 0;
};

struct InstallResult {
    UINT code;
    std::vector<std::wstring> lines;
    bool Has(const std::wstring& line) const;
    // Index of the first line containing `text`, or -1.
    int Find(const std::wstring& text) const;
};

// MsiInstallProductW with no user interface.
InstallResult Install(const std::wstring& package, const std::wstring& commandLine = L"");

// Calls an export of a DLL built beside the tests on a session handle.
class ExportLibrary {
public:
    explicit ExportLibrary(const std::wstring& fileName);
    ~ExportLibrary();
    ExportLibrary(const ExportLibrary&) = delete;
    ExportLibrary& operator=(const ExportLibrary&) = delete;

    UINT Call(const char* exportName, MSIHANDLE hInstall) const;
    bool Has(const char* exportName) const;

private:
    HMODULE module_ = nullptr;
};

// The clientca.dll and test-action DLL built beside the tests.
std::wstring ClientCaPath();
std::wstring TestCaPath();

} // namespace testsupport
