#include "actions/preinstall/InstallPathCheck.h"
#include "resources/resource.h"
#include "tests/support/EmbeddedDoubles.h"
#include "tests/support/Package.h"
#include "tests/support/WindowsVersion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <memory>
#include <set>

using namespace InstallPath;
using namespace embedded_test;
using testing::HasSubstr;

namespace {

std::wstring ProgramFilesFolder()
{
    wchar_t value[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ProgramFiles", value, MAX_PATH);
    return value;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// Marks chosen folders case-sensitive (Wine cannot answer the question at all).
struct FakeCaseQuery : IFolderCaseQuery {
    std::set<std::wstring> sensitive;
    std::vector<std::wstring> asked;
    bool IsCaseSensitive(const std::wstring& folder) override
    {
        asked.push_back(folder);
        return sensitive.count(folder) != 0;
    }
};

// A session with the folder properties, the write-filter managers over fakes,
// and Windows 10 (build 19041) as the version.
class InstallPathFixture : public testing::Test {
protected:
    InstallPathFixture()
    {
        testsupport::PackageBuilder builder(testsupport::DataPath(L"installpath.msi"));
        session.reset(new testsupport::Session(builder.Commit()));
        session->SetProperty(L"UILevel", L"5");
        session->SetProperty(L"Appdatalegacy", L"C:\\ProgramData\\Aegix\\");
    }

    UINT Check(const std::wstring& product)
    {
        session->SetProperty(L"PRODUCTINSTALLDIR", product);
        managers.reset(new EmbeddedSupport::CManagers(environment));
        InstallUtils::CMsiUtil msi(session->get(), L"clientca: ");
        return CheckInstallPath(msi, *managers, caseQuery);
    }

    std::wstring Property(const wchar_t* name) { return session->Property(name); }

    testsupport::ScopedWindowsVersion version{10, 0, 19041};
    FakePlatform platform;
    FakeLibraries libraries;
    FakeWmi wmi;
    FakeMounter mounter;
    FakeUi ui;
    FakeCaseQuery caseQuery;
    EmbeddedSupport::Environment environment{platform, libraries, wmi, mounter, ui};
    testsupport::LogCapture log;
    std::unique_ptr<testsupport::Session> session;
    std::unique_ptr<EmbeddedSupport::CManagers> managers;
};

struct RuleCase {
    const char* name;
    std::wstring product;
    UINT message; // 0: the path is accepted
};

class RuleTest : public InstallPathFixture, public testing::WithParamInterface<RuleCase> {};

TEST_P(RuleTest, StopsAtTheFirstFailedRuleWithItsMessage)
{
    const RuleCase& c = GetParam();
    const UINT result = Check(c.product);
    if (c.message == 0) {
        EXPECT_EQ(0u, result) << Narrow(log.Joined());
        EXPECT_EQ(L"1", Property(L"ValidInstallDir"));
        EXPECT_TRUE(ui.shown.empty());
        return;
    }
    EXPECT_EQ(1602u, result);
    EXPECT_EQ(L"0", Property(L"ValidInstallDir"));
    EXPECT_EQ(c.product, Property(L"PRODUCTINSTALLDIR")); // left as the user gave it
    ASSERT_EQ(1u, ui.shown.size()) << Narrow(log.Joined());
    std::wstring expected = InstallUtils::LoadResourceString(c.message);
    if (c.message == IDS_PATH_TOO_LONG)
        expected.replace(expected.find(L"%d"), 2, L"128");
    EXPECT_EQ(expected, ui.shown[0].first);
    EXPECT_EQ(L"Invalid installation directory", ui.shown[0].second);
    EXPECT_TRUE(log.Has(L"clientca:  : Invalid Path."));
    EXPECT_TRUE(log.Has(L"clientca: " + expected)); // the message reaches the log too
}

std::wstring PathOfLength(size_t length)
{
    std::wstring path = L"C:\\";
    while (path.size() < length)
        path += (path.size() % 10 == 9) ? L'\\' : L'a';
    path.back() = L'z';
    return path;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RuleTest,
    testing::Values(RuleCase{"DriveRoot", L"C:\\", IDS_PATH_ROOT},
                    RuleCase{"Empty", L"", IDS_PATH_ROOT},
                    RuleCase{"ShortFolder", L"C:\\a", 0},
                    RuleCase{"Length127", PathOfLength(127), 0},
                    RuleCase{"Length128", PathOfLength(128), IDS_PATH_TOO_LONG},
                    RuleCase{"LeadingSpace", L"C:\\Program Files\\ App", IDS_PATH_LEADING_SPACE},
                    RuleCase{"Semicolon", L"C:\\A;B", IDS_PATH_SEMICOLON},
                    RuleCase{"Ampersand", L"C:\\A&B", IDS_PATH_AMPERSAND},
                    RuleCase{"UndefinedVariable", L"C:\\%CLIENTCA_NO_SUCH%\\Aegix", IDS_PATH_PERCENT},
                    RuleCase{"SemicolonBeforeFirstBackslash", L"C;\\Aegix", 0},
                    RuleCase{"NetworkShare", L"\\\\server\\share\\Aegix", IDS_PATH_NETWORK_OR_REMOVABLE},
                    RuleCase{"OutsideAnsiCodePage", L"C:\\\x041F\x0440\x043E\x0433\x0440\x0430\x043C\x043C\x0430",
                             IDS_PATH_INVALID_CHARS},
                    RuleCase{"ReservedFolder", L"C:\\PerfLogs\\Aegix", IDS_PATH_RESERVED},
                    RuleCase{"ReservedFolderItself", L"c:\\perflogs", IDS_PATH_RESERVED},
                    RuleCase{"NotReservedLookalike", L"C:\\PerfLogsX\\Aegix", 0},
                    RuleCase{"TooLongToRead", std::wstring(L"C:\\") + std::wstring(600, L'a'), IDS_UNABLE_TO_READ_INSTALLDIR}),
    [](const testing::TestParamInfo<RuleCase>& info) { return info.param.name; });

TEST_F(InstallPathFixture, ProgramFilesReferenceIsExpandedBeforeTheRulesAndWrittenBack)
{
    const std::wstring programFiles = ProgramFilesFolder();
    EXPECT_EQ(0u, Check(L"%ProgramFiles%\\Quorvane\\Aegix\\"));
    EXPECT_EQ(programFiles + L"\\Quorvane\\Aegix\\", Property(L"PRODUCTINSTALLDIR"));
    EXPECT_TRUE(log.Has(L"clientca: %ProgramFiles expanded to " + programFiles));
    EXPECT_TRUE(log.Has(L"clientca:  : PRODUCTINSTALLDIR survived UNICODE<->CODEPAGE roundtrip."));
}

TEST_F(InstallPathFixture, DataFolderIsValidatedToo)
{
    session->SetProperty(L"Appdatalegacy", L"D:");
    EXPECT_EQ(1602u, Check(L"C:\\Aegix"));
    EXPECT_TRUE(log.Has(L"clientca:  APPDATALEGACY failed validation (8)"));
}

TEST_F(InstallPathFixture, OldVersionFolderAndBelowIsRefused)
{
    session->SetProperty(L"OLDPRODUCTINSTALLDIR", L"C:\\Old\\");
    session->SetProperty(L"OLDPRODUCTVERSION", L"12.1");
    EXPECT_EQ(1602u, Check(L"c:\\old\\12.1\\Aegix"));
    EXPECT_TRUE(log.Has(L"clientca: Error: The install path is a subdirectory of the old path"));
    ui.shown.clear();
    EXPECT_EQ(0u, Check(L"C:\\Old\\12.2\\Aegix"));
}

TEST_F(InstallPathFixture, SilentInstallationShowsNoWindowButStillLogs)
{
    session->SetProperty(L"UILevel", L"2");
    EXPECT_EQ(1602u, Check(L"C:\\A&B"));
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(L"0", Property(L"ValidInstallDir"));
    EXPECT_TRUE(log.Has(L"clientca: " + InstallUtils::LoadResourceString(IDS_PATH_AMPERSAND)));
}

// ---- Windows version dependent rules

TEST_F(InstallPathFixture, CaseSensitiveFoldersAreRefusedFromBuild17134)
{
    const std::wstring root = testsupport::ModuleFolder() + L"testdata\\casecheck";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\below").c_str(), nullptr);
    CreateDirectoryW((root + L"\\below\\deeper").c_str(), nullptr);

    const struct {
        const char* name;
        DWORD minor, build;
        std::wstring sensitive;
        bool dataPath;
        UINT result;
    } cases[] = {
        {"ProductFolderItself", 0, 17134, root, false, 1602},
        {"FolderDeepBelow", 0, 19041, root + L"\\below\\deeper", false, 1602},
        {"Ancestor", 0, 19041, testsupport::ModuleFolder() + L"testdata", false, 1602},
        {"DataFolder", 0, 19041, root, true, 1602},
        {"OlderBuildIsNotAsked", 0, 17133, root, false, 0},
        {"MinorNotZeroIsAsked", 1, 10000, root, false, 1602},
    };
    for (const auto& c : cases) {
        testsupport::ScopedWindowsVersion windows(10, c.minor, c.build);
        caseQuery.sensitive = {c.sensitive};
        ui.shown.clear();
        session->SetProperty(L"Appdatalegacy", c.dataPath ? root + L"\\" : L"C:\\ProgramData\\Aegix\\");
        EXPECT_EQ(c.result, Check(c.dataPath ? L"C:\\Aegix" : root)) << c.name;
        if (c.result != 0) {
            ASSERT_EQ(1u, ui.shown.size()) << c.name;
            EXPECT_EQ(InstallUtils::LoadResourceString(IDS_PATH_CASE_SENSITIVE), ui.shown[0].first) << c.name;
        }
    }
}

TEST_F(InstallPathFixture, StorageSpaceIsAskedBeforeWindows10)
{
    testsupport::ScopedWindowsVersion windows(6, 3, 9600);
    wmi.storageSpaceDrives = {L'C'};
    EXPECT_EQ(1602u, Check(L"C:\\Aegix"));
    ASSERT_EQ(1u, ui.shown.size());
    EXPECT_EQ(InstallUtils::LoadResourceString(IDS_PATH_STORAGE_SPACE), ui.shown[0].first);
    EXPECT_TRUE(caseQuery.asked.empty());
    ui.shown.clear();
    EXPECT_EQ(0u, Check(L"D:\\Aegix"));
}

TEST(StorageSpaceOnWine, RealWmiFindsNoStorageSpace)
{
    testsupport::PackageBuilder builder(testsupport::DataPath(L"installpath-wmi.msi"));
    testsupport::Session session(builder.Commit());
    testsupport::LogCapture log;
    InstallUtils::CMsiUtil msi(session.get(), L"clientca: ");
    EXPECT_FALSE(IsOnStorageSpace(msi, WmiUtil::SystemWmi(), L'C'));
    EXPECT_FALSE(IsOnStorageSpace(msi, WmiUtil::SystemWmi(), L'1'));
    EXPECT_TRUE(log.Has(L"clientca: <WmiUtil>: Drive letter must be a character."));
}

// ---- write filters

class WriteFilterTest : public InstallPathFixture {
protected:
    WriteFilterTest()
    {
        platform.productType = 0x5B; // an embedded edition
        libraries.ewfPresent = true;
        libraries.fbwfPresent = true;
    }
};

TEST_F(WriteFilterTest, EachProtectingFilterRefusesThePath)
{
    const struct {
        const char* name;
        bool ewf, fbwf, uwf;
        UINT message;
    } cases[] = {
        {"Ewf", true, true, true, IDS_EWF_ENABLED},
        {"Fbwf", false, true, true, IDS_FBWF_ENABLED},
        {"Uwf", false, false, true, IDS_UWF_ENABLED},
    };
    for (const auto& c : cases) {
        FakeLibraries::ewfVolumes = {{L"vol", L'C', c.ewf ? 0 : 1, 0}};
        FakeLibraries::fbwfProtected = {{L"C:", c.fbwf ? 1u : 0u}};
        wmi.filterPresent = true;
        wmi.filterEnabled = true;
        wmi.volumes[L'C'] = {c.uwf, false};
        ui.shown.clear();
        session->SetProperty(L"EWFWARNING_DISPLAYED", L"1");
        EXPECT_EQ(1602u, Check(L"C:\\Aegix")) << c.name;
        ASSERT_FALSE(ui.shown.empty()) << c.name;
        EXPECT_EQ(InstallUtils::LoadResourceString(c.message), ui.shown.back().first) << c.name;
    }
}

TEST_F(WriteFilterTest, InstalledButNotProtectingEwfWarnsOncePerInstallation)
{
    FakeLibraries::ewfVolumes = {{L"vol", L'C', 1, 0}};
    EXPECT_EQ(0u, Check(L"C:\\Aegix"));
    ASSERT_EQ(1u, ui.shown.size());
    EXPECT_EQ(InstallUtils::LoadResourceString(IDS_EWF_INSTALLED_WARNING), ui.shown[0].first);
    EXPECT_EQ(L"Warning", ui.shown[0].second);
    EXPECT_EQ(L"1", Property(L"EWFWARNING_DISPLAYED"));
    EXPECT_EQ(0u, Check(L"C:\\Aegix"));
    EXPECT_EQ(1u, ui.shown.size());
}

// ---- the pieces

TEST(ExpandPath, ReferencesEndAtPunctuationAndUndefinedOnesStay)
{
    SetEnvironmentVariableW(L"CLIENTCA_DIR", L"C:\\Base");
    testsupport::PackageBuilder builder(testsupport::DataPath(L"installpath-expand.msi"));
    testsupport::Session session(builder.Commit());
    testsupport::LogCapture log;
    InstallUtils::CMsiUtil msi(session.get(), L"clientca: ");
    const struct {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        // A name ends at punctuation: CLIENTCA_DIR is read as CLIENTCA, which is undefined.
        {L"%CLIENTCA_DIR%\\x", L"%CLIENTCA_DIR%\\x"},
        {L"C:\\plain", L"C:\\plain"},
        {L"%NOSUCHVAR%\\x", L"%NOSUCHVAR%\\x"},
        {L"100%", L"100%"},
        {L"%SystemRoot%\\x", L"C:\\windows\\x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::wstring(c.out), ExpandPath(msi, c.in)) << Narrow(c.in);
    EXPECT_TRUE(log.Has(L"clientca: %NOSUCHVAR expanded to %NOSUCHVAR"));
}

TEST(ValidatePathString, TrimsOneBackslashAndNamesTheRule)
{
    const struct {
        const wchar_t* path;
        UINT rule;
        const wchar_t* trimmed;
    } cases[] = {
        {L"C:\\Aegix\\", 0, L"C:\\Aegix"},
        {L"C:\\Aegix", 0, L"C:\\Aegix"},
        {L"C:\\a\\\tb", IDS_PATH_LEADING_SPACE, L""},
        {L"C:\\a;b&c", IDS_PATH_SEMICOLON, L""},
        {L"C:\\a&b;c", IDS_PATH_AMPERSAND, L""},
        {L"C:\\a%b", IDS_PATH_PERCENT, L""},
        {L"C:\\", IDS_PATH_ROOT, L""},
    };
    for (const auto& c : cases) {
        std::wstring trimmed;
        EXPECT_EQ(c.rule, ValidatePathString(c.path, trimmed)) << Narrow(c.path);
        if (c.rule == 0) {
            EXPECT_EQ(c.trimmed, trimmed);
        }
    }
}

TEST(CheckInstallPathExport, AcceptsAFolderOnWine)
{
    testsupport::PackageBuilder builder(testsupport::DataPath(L"installpath-export.msi"));
    builder.Property(L"PRODUCTINSTALLDIR", L"%ProgramFiles%\\Quorvane\\").Property(L"Appdatalegacy", L"C:\\ProgramData\\Q\\");
    testsupport::Session session(builder.Commit());
    session.SetProperty(L"UILevel", L"2");
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(0u, clientca.Call("CheckInstallPath", session.get()));
    EXPECT_EQ(L"1", session.Property(L"ValidInstallDir"));
    EXPECT_EQ(std::wstring(ProgramFilesFolder()) + L"\\Quorvane\\", session.Property(L"PRODUCTINSTALLDIR"));
}

} // namespace

namespace {

// The real message box (Wine's null display driver keeps it open until it is
// answered): a second thread finds it by its caption and presses OK.
TEST(ShowPathMessage, RealMessageBoxIsShownAndAnswered)
{
    testsupport::PackageBuilder builder(testsupport::DataPath(L"installpath-box.msi"));
    testsupport::Session session(builder.Commit());
    session.SetProperty(L"UILevel", L"5");
    testsupport::LogCapture log;
    InstallUtils::CMsiUtil msi(session.get(), L"clientca: ");

    std::atomic<bool> answered(false);
    std::thread answerer([&answered] {
        const std::wstring caption = InstallUtils::LoadResourceString(IDS_PATH_CAPTION);
        for (int i = 0; i < 200 && !answered; ++i) {
            if (HWND box = FindWindowW(nullptr, caption.c_str())) {
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                answered = true;
            }
            Sleep(50);
        }
    });
    ShowPathMessage(msi, InstallUtils::WindowsUserInterface(), IDS_PATH_SEMICOLON, IDS_PATH_CAPTION);
    answerer.join();
    EXPECT_TRUE(answered);
    EXPECT_TRUE(log.Has(L"clientca: " + InstallUtils::LoadResourceString(IDS_PATH_SEMICOLON)));
}

} // namespace
