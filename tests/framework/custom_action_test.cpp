// How an export runs: the object-style runner's begin/end lines and its
// mapping of exceptions to results, the guard around utility-style exports,
// the rollback-mode switch inside a real install, and the two plain exports.

#include "tests/framework/FrameworkFixture.h"

#include "imdp/Errors.h"
#include "imdp/msi/Errors.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using fwtest::FindLine;
using fwtest::SessionTest;
using fwtest::WithoutTimestamp;
using testsupport::ExportLibrary;

namespace {

// ---------------------------------------------------------------- exception texts

TEST(ErrorText, WhatComposesMessageAndCode)
{
    EXPECT_STREQ("MsiGetProperty failed: 5", imdp::msi::msi_error("MsiGetProperty failed", 5).what());
    EXPECT_STREQ("Windows Installer error: 1627", imdp::msi::msi_error("", 1627).what());
    // A code the system has no text for: nothing follows the number.
    EXPECT_STREQ("CreateFileW. Error code: 536875572", imdp::win32_error("CreateFileW", 0x20001234).what());
    EXPECT_STREQ("Error code: 536875572", imdp::win32_error("", 0x20001234).what());
    // A code with a system text: ": " and the text as the system gives it.
    const std::string withText = imdp::win32_error("CreateFileW", ERROR_FILE_NOT_FOUND).what();
    EXPECT_EQ(0u, withText.rfind("CreateFileW. Error code: 2: ", 0)) << withText;
    EXPECT_GT(withText.size(), std::string("CreateFileW. Error code: 2: ").size()) << withText;
}

// ---------------------------------------------------------------- object-style runner

struct RunnerCase {
    const char* exportName;
    UINT result;
    const wchar_t* errorLine; // without the timestamp; nullptr: no ERROR line
    bool errorIsPrefix;       // the system's message text may follow
};

const RunnerCase kRunnerCases[] = {
    {"ProbeThrowMsiError", 1603, L"ERROR probe msi failure: 1627", false},
    {"ProbeThrowCustomActionError", 1602, L"ERROR probe cancelled by the user", false},
    {"ProbeThrowWin32Error", 1603, L"ERROR probe CreateFileW. Error code: 5", true},
    {"ProbeThrowWideText", 1603, L"ERROR Exception: probe wide text", false},
    {"ProbeThrowNarrowText", 1603, L"ERROR Exception: probe narrow text", false},
    {"ProbeThrowUnknown", 1603, L"ERROR Exception of unknown type!", false},
};

class RunnerTest : public SessionTest, public ::testing::WithParamInterface<RunnerCase> {};

TEST_P(RunnerTest, EscapingExceptionBecomesErrorLineAndResult)
{
    const RunnerCase& c = GetParam();
    const MSIHANDLE session = OpenSession();
    ExportLibrary testca(testsupport::TestCaPath());
    EXPECT_EQ(c.result, testca.Call(c.exportName, session));

    const std::wstring name(c.exportName, c.exportName + strlen(c.exportName));
    const std::vector<std::wstring>& lines = capture_.Lines();
    ASSERT_EQ(3u, lines.size()) << Lines();
    EXPECT_EQ(L"DEBUG " + name + L" begin.", WithoutTimestamp(lines[0]));
    const std::wstring error = WithoutTimestamp(lines[1]);
    if (c.errorIsPrefix)
        EXPECT_EQ(0u, error.rfind(c.errorLine, 0)) << Lines();
    else
        EXPECT_EQ(c.errorLine, error);
    EXPECT_EQ(L"DEBUG " + name + L" end, return value: " + std::to_wstring(c.result) + L".",
              WithoutTimestamp(lines[2]));
}

INSTANTIATE_TEST_SUITE_P(Probes, RunnerTest, ::testing::ValuesIn(kRunnerCases),
                         [](const ::testing::TestParamInfo<RunnerCase>& info) { return info.param.exportName; });

// When the installer refuses the log lines themselves, the runner still
// returns a result instead of letting the logging error leave the export.
TEST_F(SessionTest, RunnerReturnsWhenInstallerRefusesItsLines)
{
    const MSIHANDLE session = OpenSession();
    ExportLibrary testca(testsupport::TestCaPath());
    capture_.SetAnswer(-1);
    for (const char* name : {"ProbeRollback", "ProbeThrowMsiError", "ProbeThrowCustomActionError"})
        EXPECT_EQ(1603u, testca.Call(name, session)) << name;
}

TEST_F(SessionTest, ImmediateCallRunsInstallBody)
{
    const MSIHANDLE session = OpenSession();
    ExportLibrary testca(testsupport::TestCaPath());
    EXPECT_EQ(0u, testca.Call("ProbeRollback", session));
    std::vector<std::wstring> untimed;
    for (const std::wstring& line : capture_.Lines())
        untimed.push_back(WithoutTimestamp(line));
    EXPECT_THAT(untimed, ::testing::ElementsAre(L"DEBUG ProbeRollback begin.", L"INFO  Running in install mode",
                                                L"INFO  probe: install body ran",
                                                L"DEBUG ProbeRollback end, return value: 0."));
}

// ---------------------------------------------------------------- export guard

TEST_F(SessionTest, GuardTurnsEscapeFromUtilityBodyInto1603)
{
    const MSIHANDLE session = OpenSession();
    ExportLibrary testca(testsupport::TestCaPath());
    EXPECT_EQ(1603u, testca.Call("ProbeEscape", session));
    EXPECT_THAT(capture_.Lines(),
                ::testing::ElementsAre(L"ProbeEscape: about to throw",
                                       L"clientca: ERROR ProbeEscape: unhandled exception: probe escaped; the action "
                                       L"returns 1603."))
        << Lines();
}

// ---------------------------------------------------------------- rollback in a real install

// The probe is scheduled twice with one entry point: as the rollback action
// and as the deferred action; a deferred failure after it makes the installer
// run the rollback script.
TEST(RollbackInstall, SameEntryRunsRollbackBodyAfterFailure)
{
    testsupport::PackageBuilder builder(testsupport::DataPath(fwtest::UniquePackageName()));
    builder.Binary(L"TestCa", testsupport::TestCaPath())
        .Binary(L"ClientCa", testsupport::ClientCaPath())
        .CustomAction(L"ProbeRollback_RB", 1281, L"TestCa", L"ProbeRollback")
        .CustomAction(L"ProbeRollbackInstall", 1025, L"TestCa", L"ProbeRollback")
        .CustomAction(L"ForceFailure", 1025, L"ClientCa", L"ForceInstallFailure")
        .ExecuteSequence(L"ProbeRollback_RB", 1600)
        .ExecuteSequence(L"ProbeRollbackInstall", 1601)
        .ExecuteSequence(L"ForceFailure", 1602);
    const testsupport::InstallResult result = testsupport::Install(builder.Commit());

    std::wstring all;
    for (const std::wstring& line : result.lines)
        all += line + L"\n";
    EXPECT_EQ(1603u, result.code);
    const int install = FindLine(result.lines, L"INFO  Running in install mode");
    const int installBody = FindLine(result.lines, L"INFO  probe: install body ran", install);
    const int failure = FindLine(result.lines, L"clientca:  Intentional force of Install Failure!", installBody);
    const int rollback = FindLine(result.lines, L"INFO  Running in rollback mode", failure);
    const int rollbackBody = FindLine(result.lines, L"INFO  probe: rollback body ran", rollback);
    EXPECT_GE(install, 0) << all;
    EXPECT_GT(installBody, install) << all;
    EXPECT_GT(failure, installBody) << all;
    EXPECT_GT(rollback, failure) << all;
    EXPECT_GT(rollbackBody, rollback) << all;
    // Each body runs once: the install body not again during rollback.
    EXPECT_EQ(-1, FindLine(result.lines, L"INFO  probe: install body ran", installBody + 1)) << all;
}

// ---------------------------------------------------------------- plain exports of clientca.dll

TEST_F(SessionTest, ForceInstallFailureFailsTheAction)
{
    const MSIHANDLE session = OpenSession();
    ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(1603u, clientca.Call("ForceInstallFailure", session));
    EXPECT_THAT(capture_.Lines(), ::testing::ElementsAre(L"clientca:  Intentional force of Install Failure!"));
}

TEST_F(SessionTest, Check32BitSupportSetsProperty)
{
    const MSIHANDLE session = OpenSession();
    ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(0u, clientca.Call("Check32BitSupport", session));
    EXPECT_EQ(L"1", session_->Property(L"Supports32BitDlls"));
    EXPECT_THAT(capture_.Lines(), ::testing::IsEmpty());
}

} // namespace
