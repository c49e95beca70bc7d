// Property, condition and path access of both action contexts, the plain
// session functions, deferred data, and the CustomActionData splitter.

#include "tests/framework/FrameworkFixture.h"

#include "imdp/msi/Errors.h"
#include "imdp/msi/Session.h"
#include "install_utils/CustomActionData.h"
#include "install_utils/MsiUtil.h"
#include "install_utils/SessionLog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using fwtest::SessionTest;
using InstallUtils::CInstallUtilsException;
using InstallUtils::CMsiUtil;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

// ---------------------------------------------------------------- reading values

// Lengths around the session's first 260-character buffer.
class LongPropertyTest : public SessionTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(LongPropertyTest, BothContextsReadTheWholeValue)
{
    std::wstring value;
    for (size_t i = 0; i < GetParam(); ++i)
        value.push_back(static_cast<wchar_t>(L'a' + i % 26));
    const MSIHANDLE session = OpenSession({{L"LONGVALUE", value}});
    EXPECT_EQ(value, imdp::msi::CSession(session).GetProperty(L"LONGVALUE"));
    EXPECT_EQ(value, CMsiUtil(session, L"P: ").getProperty(L"LONGVALUE"));
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongPropertyTest, ::testing::Values(0u, 259u, 260u, 261u, 5000u));

TEST_F(SessionTest, UndefinedPropertyReadsEmpty)
{
    const MSIHANDLE session = OpenSession();
    EXPECT_EQ(L"", imdp::msi::CSession(session).GetProperty(L"NOT_DEFINED"));
    EXPECT_EQ(L"", CMsiUtil(session, L"P: ").getProperty(L"NOT_DEFINED"));
}

// A closed handle: the installer refuses every call with ERROR_INVALID_HANDLE.
MSIHANDLE ClosedHandle()
{
    MSIHANDLE record = MsiCreateRecord(1);
    MsiCloseHandle(record);
    return record;
}

TEST(PropertyRefusal, SessionAndUtilityReadersReportTheCode)
{
    const MSIHANDLE closed = ClosedHandle();
    try {
        imdp::msi::CSession(closed).GetProperty(L"ProductCode");
        ADD_FAILURE() << "no error";
    } catch (const imdp::msi::msi_error& e) {
        EXPECT_EQ(ERROR_INVALID_HANDLE, e.code());
        EXPECT_EQ("MsiGetProperty failed", e.message());
    }
    // The utility reader takes 6 for a database handle; the Property table of a
    // closed handle cannot be read either, which the table reader reports as 1627.
    try {
        CMsiUtil(closed, L"P: ").getProperty(L"ProductCode");
        ADD_FAILURE() << "no error";
    } catch (const CInstallUtilsException& e) {
        EXPECT_EQ(L"Unable to get length of ProductCode", e.message());
        EXPECT_EQ(static_cast<UINT>(ERROR_FUNCTION_FAILED), e.code());
    }
}

// ---------------------------------------------------------------- database handle

TEST(DatabaseProperty, ReadsPropertyTable)
{
    testsupport::PackageBuilder builder(testsupport::DataPath(fwtest::UniquePackageName()));
    builder.Property(L"CALOGLEVEL", L"1").Property(L"EMPTYISH", L" ");
    const std::wstring productCode = builder.ProductCode();
    const std::wstring package = builder.Commit();
    MSIHANDLE database = 0;
    ASSERT_EQ(0u, MsiOpenDatabaseW(package.c_str(), MSIDBOPEN_READONLY, &database));

    InstallUtils::SetLogThreshold(2);
    {
        // The constructor's CALOGLEVEL lookup finds no session behind the handle and leaves the threshold.
        CMsiUtil msi(database, L"P: ");
        EXPECT_EQ(2, InstallUtils::LogThreshold());
        EXPECT_EQ(L"Quorvane Aegix Test", msi.getProperty(L"ProductName"));
        EXPECT_EQ(productCode, msi.getProperty(L"ProductCode"));
        EXPECT_EQ(L" ", msi.getProperty(L"EMPTYISH"));
        EXPECT_EQ(L"", msi.getProperty(L"NoSuchProperty"));
    }
    MsiCloseHandle(database);
}

// ---------------------------------------------------------------- setting values

TEST_F(SessionTest, SetPropertyWritesAndEmptyRemoves)
{
    const MSIHANDLE session = OpenSession({{L"GOING", L"x"}});
    CMsiUtil msi(session, L"P: ");
    EXPECT_TRUE(msi.setProperty(L"NEWPROP", L"value"));
    EXPECT_TRUE(msi.setProperty(L"GOING", L""));
    imdp::msi::CSession cs(session);
    cs.SetProperty(L"FROMSESSION", L"v2");
    EXPECT_EQ(L"value", session_->Property(L"NEWPROP"));
    EXPECT_EQ(L"", session_->Property(L"GOING"));
    EXPECT_EQ(L"v2", session_->Property(L"FROMSESSION"));
    EXPECT_TRUE(capture_.Lines().empty()) << Lines();
}

struct SetRefusal {
    const char* name;
    const wchar_t* property;
    UINT code;
    const wchar_t* line;
};

// Names the installer will not take: an empty name with a value, and no name at all.
const SetRefusal kSetRefusals[] = {
    {"EmptyName", L"", ERROR_FUNCTION_FAILED, L"P:  Failed to set property  to value (1627)"},
    {"NullName", nullptr, ERROR_INVALID_PARAMETER, L"P:  Failed to set property (null) to value (87)"},
};

class SetRefusalTest : public SessionTest, public ::testing::WithParamInterface<SetRefusal> {};

TEST_P(SetRefusalTest, UtilityLogsAndReturnsFalseSessionThrows)
{
    const SetRefusal& c = GetParam();
    const MSIHANDLE session = OpenSession();
    {
        CMsiUtil msi(session, L"P: ");
        EXPECT_FALSE(msi.setProperty(c.property, L"value"));
    }
    EXPECT_THAT(capture_.Lines(), ElementsAre(c.line));
    if (c.property == nullptr)
        return; // the session interface takes a std::wstring and cannot pass "no name"
    try {
        imdp::msi::CSession(session).SetProperty(c.property, L"value");
        ADD_FAILURE() << "no error";
    } catch (const imdp::msi::msi_error& e) {
        EXPECT_EQ(c.code, e.code());
        EXPECT_EQ("MsiSetProperty failed", e.message());
    }
}

INSTANTIATE_TEST_SUITE_P(Installer, SetRefusalTest, ::testing::ValuesIn(kSetRefusals),
                         [](const ::testing::TestParamInfo<SetRefusal>& info) { return info.param.name; });

// ---------------------------------------------------------------- conditions

struct ConditionCase {
    const wchar_t* condition;
    MSICONDITION utility;
    int session; // 0 false, 1 true, -1 throws 1627
};

const ConditionCase kConditionCases[] = {
    {L"", MSICONDITION_NONE, -1},
    {L"VersionNT", MSICONDITION_TRUE, 1},
    {L"NOT VersionNT", MSICONDITION_FALSE, 0},
    {L"PROBE_FLAG = \"on\"", MSICONDITION_TRUE, 1},
    {L"PROBE_FLAG = \"off\"", MSICONDITION_FALSE, 0},
};

class ConditionTest : public SessionTest, public ::testing::WithParamInterface<ConditionCase> {};

TEST_P(ConditionTest, EmptyConditionDiffersBetweenContexts)
{
    const ConditionCase& c = GetParam();
    const MSIHANDLE session = OpenSession({{L"PROBE_FLAG", L"on"}});
    EXPECT_EQ(c.utility, CMsiUtil(session, L"P: ").evaluateCondition(c.condition));
    imdp::msi::CSession cs(session);
    if (c.session < 0) {
        try {
            cs.EvaluateCondition(c.condition);
            ADD_FAILURE() << "no error";
        } catch (const imdp::msi::msi_error& e) {
            EXPECT_EQ(1627u, e.code());
            EXPECT_EQ("MsiEvaluateCondition failed", e.message());
        }
    } else {
        EXPECT_EQ(c.session == 1, cs.EvaluateCondition(c.condition));
    }
}

INSTANTIATE_TEST_SUITE_P(Conditions, ConditionTest, ::testing::ValuesIn(kConditionCases));

TEST_F(SessionTest, UnparsableConditionLogsAndThrows)
{
    const MSIHANDLE session = OpenSession();
    CMsiUtil msi(session, L"P: ");
    try {
        msi.evaluateCondition(L"((A");
        ADD_FAILURE() << "no error";
    } catch (const CInstallUtilsException& e) {
        EXPECT_EQ(L"CMsiUtil::evaluateCondition: Unable to evaluate condition", e.message());
        EXPECT_EQ(0u, e.code());
    }
    EXPECT_THAT(capture_.Lines(), ElementsAre(L"P:  CMsiUtil::evaluateCondition: Unable to evaluate condition '((A'"));
}

// ---------------------------------------------------------------- paths

TEST_F(SessionTest, TargetAndSourcePathsAfterCosting)
{
    const MSIHANDLE session = OpenSession();
    CMsiUtil msi(session, L"P: ");
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"})
        ASSERT_EQ(0u, MsiDoActionW(session, action)) << action;

    const std::wstring target = msi.getTargetPath(L"INSTALLDIR");
    EXPECT_EQ(session_->Property(L"INSTALLDIR"), target);
    EXPECT_EQ(L"\\Aegix\\", target.substr(target.size() - 7)) << target;

    const std::wstring packageFolder = package_.substr(0, package_.find_last_of(L'\\') + 1);
    EXPECT_EQ(0, _wcsicmp(packageFolder.c_str(), msi.getSourcePath(L"TARGETDIR").c_str()));

    struct Refusal {
        std::wstring (CMsiUtil::*get)(const wchar_t*);
        const wchar_t* message;
    };
    for (const Refusal& r : {Refusal{&CMsiUtil::getTargetPath, L"Unable to get target path"},
                             Refusal{&CMsiUtil::getSourcePath, L"Unable to get source path"}}) {
        try {
            (msi.*r.get)(L"NOSUCHFOLDER");
            ADD_FAILURE() << "no error";
        } catch (const CInstallUtilsException& e) {
            EXPECT_EQ(r.message, e.message());
            EXPECT_EQ(static_cast<UINT>(ERROR_DIRECTORY), e.code());
        }
    }
}

// ---------------------------------------------------------------- plain session functions

TEST_F(SessionTest, ReadSessionPropertyLogsNameAndValue)
{
    const MSIHANDLE session = OpenSession({{L"SETAIDPATH", L"C:\\Setup\\setAid.ini"}});
    EXPECT_EQ(L"C:\\Setup\\setAid.ini", InstallUtils::ReadSessionProperty(session, L"SETAIDPATH"));
    EXPECT_EQ(L"", InstallUtils::ReadSessionProperty(session, L"UNSET"));
    InstallUtils::WriteSessionLog(session, L"free text 100%");
    EXPECT_THAT(capture_.Lines(),
                ElementsAre(L"clientca: SETAIDPATH=C:\\Setup\\setAid.ini", L"clientca: UNSET=", L"clientca: free text 100%"));
}

TEST(PlainSessionFunctions, RefusedReadThrowsText)
{
    try {
        InstallUtils::ReadSessionProperty(ClosedHandle(), L"SETAIDPATH");
        ADD_FAILURE() << "no error";
    } catch (const std::wstring& text) {
        EXPECT_EQ(L"Error getting length of SETAIDPATH (nRet = 6)", text);
    }
}

// ---------------------------------------------------------------- deferred data and the immediate rule

// What the reader probe reported: its INFO lines after "probe: ".
std::vector<std::wstring> ProbeReports(const std::vector<std::wstring>& lines)
{
    std::vector<std::wstring> reports;
    for (const std::wstring& line : lines) {
        const std::wstring text = fwtest::WithoutTimestamp(line);
        if (text.compare(0, 13, L"INFO  probe: ") == 0)
            reports.push_back(text.substr(13));
    }
    return reports;
}

// The probe reads ProductCode, CustomActionData and INSTALLDIR and tries to set a property.
// Immediate: everything is allowed. Deferred: only the names the installer hands a
// deferred action. The installer under Wine would let a deferred action read any
// property (Windows would not), so the refusals below come from the session's own rule.
TEST(DeferredSession, ReadsOnlyHandedPropertiesInARealInstall)
{
    testsupport::PackageBuilder builder(testsupport::DataPath(fwtest::UniquePackageName()));
    builder.Binary(L"TestCa", testsupport::TestCaPath())
        .CustomAction(L"SetDeferredRead", 51, L"DeferredRead", L"[ProductCode]|payload;x")
        .CustomAction(L"DeferredRead", 1025, L"TestCa", L"ProbeDeferredReader")
        .ExecuteSequence(L"SetDeferredRead", 1550)
        .ExecuteSequence(L"DeferredRead", 1600);
    const std::wstring productCode = builder.ProductCode();
    const testsupport::InstallResult result = testsupport::Install(builder.Commit());

    EXPECT_EQ(0u, result.code);
    EXPECT_THAT(ProbeReports(result.lines), ElementsAre(L"immediate=0", L"ProductCode=" + productCode,
                                   L"CustomActionData=" + productCode + L"|payload;x",
                                   L"INSTALLDIR=", // the probe's line cut short by the refusal
                                   L"INSTALLDIR refused 5 Cannot access property from a non-immediate custom action",
                                   L"SetProperty refused 5"));
}

TEST_F(SessionTest, ImmediateSessionReadsAndSetsAnything)
{
    const MSIHANDLE session = OpenSession({{L"INSTALLDIR", L"C:\\Aegix\\"}, {L"CustomActionData", L"data"}});
    testsupport::ExportLibrary testca(testsupport::TestCaPath());
    EXPECT_EQ(0u, testca.Call("ProbeDeferredReader", session));
    EXPECT_THAT(ProbeReports(capture_.Lines()), ElementsAre(L"immediate=1", L"ProductCode=" + productCode_, L"CustomActionData=data",
                                   L"INSTALLDIR=C:\\Aegix\\", L"SetProperty allowed"));
    EXPECT_EQ(L"1", session_->Property(L"PROBE_SET"));
}

// ---------------------------------------------------------------- CustomActionData splitter

struct SplitCase {
    const char* name;
    const wchar_t* data;
    wchar_t delimiter;
    size_t count; // 0: split on every delimiter
    std::vector<std::wstring> fields;
};

const SplitCase kSplitCases[] = {
    {"AllFields", L"a;b;c", L';', 0, {L"a", L"b", L"c"}},
    {"AllKeepsEmptyFields", L"a;;b;", L';', 0, {L"a", L"", L"b", L""}},
    {"AllOfEmptyIsOneEmptyField", L"", L';', 0, {L""}},
    {"AllOtherDelimiter", L"C:\\a;b|sig", L'|', 0, {L"C:\\a;b", L"sig"}},
    {"TakeExactCount", L"{CODE};C:\\Cache\\", L';', 2, {L"{CODE}", L"C:\\Cache\\"}},
    {"TakeIgnoresTextAfterLastField", L"a;b;c;d", L';', 2, {L"a", L"b"}},
    {"TakeShortData", L"a", L';', 3, {L"a"}},
    {"TakeTrailingDelimiterGivesEmptyField", L"a;", L';', 3, {L"a", L""}},
    {"TakeKeepsEmptyMiddleField", L";b;c", L';', 3, {L"", L"b", L"c"}},
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, Fields)
{
    const SplitCase& c = GetParam();
    const std::vector<std::wstring> fields = c.count == 0 ? InstallUtils::SplitAllFields(c.data, c.delimiter)
                                                          : InstallUtils::TakeFields(c.data, c.delimiter, c.count);
    EXPECT_THAT(fields, ElementsAreArray(c.fields));
}

INSTANTIATE_TEST_SUITE_P(CustomActionData, SplitTest, ::testing::ValuesIn(kSplitCases),
                         [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

} // namespace
