#include "actions/embedded/EmbeddedChecks.h"
#include "imdp/os/SystemInfo.h"
#include "tests/support/EmbeddedDoubles.h"
#include "tests/os_services/TestServiceHost.h"
#include "tests/support/Package.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using namespace EmbeddedSupport;
using namespace embedded_test;
using testing::HasSubstr;

namespace {

// A session on a small package, the fakes, and a manager set over them.
class EmbeddedFixture : public testing::Test {
protected:
    EmbeddedFixture()
    {
        testsupport::PackageBuilder builder(testsupport::DataPath(L"embedded.msi"));
        session.reset(new testsupport::Session(builder.Commit()));
    }

    CManagers& Managers()
    {
        if (!managers)
            managers.reset(new CManagers(environment));
        return *managers;
    }

    std::wstring Property(const wchar_t* name) { return session->Property(name); }

    FakePlatform platform;
    FakeLibraries libraries;
    FakeWmi wmi;
    FakeMounter mounter;
    FakeUi ui;
    Environment environment{platform, libraries, wmi, mounter, ui};
    testsupport::LogCapture log;
    std::unique_ptr<testsupport::Session> session;
    std::unique_ptr<CManagers> managers;
};

void MakeEmbedded(FakePlatform& platform)
{
    platform.major = 10;
    platform.productType = 0x5B; // Windows 10 IoT Enterprise
}

// ---- edition detection

struct EditionCase {
    const char* name;
    DWORD major, minor;
    WORD spMajor, suite;
    DWORD productType;
    bool productInfoAvailable;
    const wchar_t* expected; // EMBEDDEDSYSTEM
};

class EditionTest : public EmbeddedFixture, public testing::WithParamInterface<EditionCase> {};

TEST_P(EditionTest, SetsEmbeddedSystem)
{
    const EditionCase& c = GetParam();
    platform.major = c.major;
    platform.minor = c.minor;
    platform.spMajor = c.spMajor;
    platform.suite = c.suite;
    platform.productType = c.productType;
    platform.productInfoAvailable = c.productInfoAvailable;
    InstallUtils::CMsiUtil msi(session->get(), L"CheckWindowsEmbeddedSystem");
    EXPECT_EQ(0u, CheckWindowsEmbeddedSystem(msi, Managers()));
    EXPECT_EQ(c.expected, Property(L"EMBEDDEDSYSTEM"));
    EXPECT_TRUE(log.Has(std::wstring(L"CheckWindowsEmbeddedSystem setting EMBEDDEDSYSTEM to ") + c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Editions, EditionTest,
    testing::Values(EditionCase{"XpEmbeddedSp3", 5, 1, 3, VER_SUITE_EMBEDDEDNT, 0, false, L"1"},
                    EditionCase{"XpEmbeddedSp2", 5, 1, 2, VER_SUITE_EMBEDDEDNT, 0, false, L"2"},
                    EditionCase{"Win10IotWithoutSuiteBit", 10, 0, 0, 0, 0x5B, true, L"1"},
                    EditionCase{"Win10Professional", 10, 0, 0, 0, 0x30, true, L"0"},
                    EditionCase{"EmbeddedTypeBelow63NotAsked", 6, 1, 1, 0, 0x5B, true, L"0"},
                    EditionCase{"NoProductInfo", 10, 0, 0, 0, 0x5B, false, L"0"}),
    [](const testing::TestParamInfo<EditionCase>& info) { return info.param.name; });

TEST(EmbeddedProductTypes, ExactlyTheFourteenEmbeddedTypes)
{
    const DWORD embedded[] = {0x41, 0x3A, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x69, 0x6A, 0x6B, 0x6C};
    int count = 0;
    for (DWORD type = 0; type < 0x100; ++type) {
        const bool expected = std::find(std::begin(embedded), std::end(embedded), type) != std::end(embedded);
        EXPECT_EQ(expected, CSystemDetector::IsEmbeddedProductType(type)) << std::hex << type;
        count += expected ? 1 : 0;
    }
    EXPECT_EQ(14, count);
}

TEST(DriveForm, OnlyALetterAndAColon)
{
    const struct {
        const wchar_t* drive;
        bool ok;
    } cases[] = {{L"C:", true}, {L"c:", true}, {L"C:\\", false}, {L"1:", false}, {L"C", false}, {L"", false}, {L"::", false}};
    for (const auto& c : cases)
        EXPECT_EQ(c.ok, IsDriveForm(c.drive)) << std::string(c.drive, c.drive + wcslen(c.drive));
}

// ---- filter managers

struct EwfStateCase {
    const char* name;
    int state, bootCommand;
    const wchar_t* drive;
    bool current, afterRestart;
};

class EwfStateTest : public EmbeddedFixture, public testing::WithParamInterface<EwfStateCase> {};

TEST_P(EwfStateTest, ReadsTheProtectedVolumeConfiguration)
{
    const EwfStateCase& c = GetParam();
    MakeEmbedded(platform);
    libraries.ewfPresent = true;
    FakeLibraries::ewfVolumes = {{L"\\\\?\\Volume{d}\\", L'D', 1, 0}, {L"\\\\?\\Volume{c}\\", L'C', c.state, c.bootCommand}};
    const std::pair<bool, bool> state = Managers().ewf.GetVolumeState(c.drive);
    EXPECT_EQ(c.current, state.first);
    EXPECT_EQ(c.afterRestart, state.second);
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, EwfStateTest,
    testing::Values(EwfStateCase{"EnabledNoCommand", 0, 0, L"C:", true, true},
                    EwfStateCase{"EnabledDisableAtBoot", 0, 2, L"C:", true, false},
                    EwfStateCase{"DisabledEnableAtBoot", 1, 1, L"C:", false, true},
                    EwfStateCase{"DisabledNoCommand", 1, 0, L"C:", false, false},
                    EwfStateCase{"LowerCaseDrive", 0, 0, L"c:", true, true},
                    EwfStateCase{"UnlistedDrive", 0, 0, L"E:", false, false},
                    EwfStateCase{"DriveWithBackslash", 0, 0, L"C:\\", false, false},
                    EwfStateCase{"DigitDrive", 0, 0, L"1:", false, false}),
    [](const testing::TestParamInfo<EwfStateCase>& info) { return info.param.name; });

TEST_F(EmbeddedFixture, LibrariesAreTriedOnlyOnEmbeddedSystemsAndVerified)
{
    libraries.ewfPresent = true;
    libraries.fbwfPresent = true;
    EXPECT_FALSE(Managers().ewf.LibraryLoaded());
    EXPECT_FALSE(Managers().fbwf.LibraryLoaded());
    EXPECT_TRUE(libraries.loads.empty());

    managers.reset();
    libraries.loads.clear();
    MakeEmbedded(platform);
    EXPECT_TRUE(Managers().ewf.LibraryLoaded());
    EXPECT_TRUE(Managers().ewf.LibraryLoaded()); // one attempt only
    EXPECT_TRUE(Managers().fbwf.LibraryLoaded());
    ASSERT_EQ(2u, libraries.loads.size());
    EXPECT_THAT(libraries.loads[0].first, HasSubstr(L"\\ewfapi.dll"));
    EXPECT_TRUE(libraries.loads[0].second);
    EXPECT_THAT(libraries.loads[1].first, HasSubstr(L"\\fbwflib.dll"));
    EXPECT_TRUE(libraries.loads[1].second);
}

TEST_F(EmbeddedFixture, XpEmbeddedSp3LoadsTheFileBasedFilterWithoutSignatureCheck)
{
    platform.major = 5;
    platform.minor = 1;
    platform.spMajor = 3;
    platform.suite = VER_SUITE_EMBEDDEDNT;
    libraries.fbwfPresent = true;
    EXPECT_TRUE(Managers().fbwf.LibraryLoaded());
    ASSERT_EQ(1u, libraries.loads.size());
    EXPECT_FALSE(libraries.loads[0].second);
}

TEST_F(EmbeddedFixture, FileBasedFilterAnswersAreCachedPerDrive)
{
    MakeEmbedded(platform);
    libraries.fbwfPresent = true;
    FakeLibraries::fbwfProtected[L"C:"] = 1;
    EXPECT_TRUE(Managers().fbwf.ProtectsDrive(L"C:\\Program Files\\Aegix"));
    EXPECT_TRUE(Managers().fbwf.ProtectsDrive(L"C:\\Other"));
    EXPECT_FALSE(Managers().fbwf.ProtectsDrive(L"D:\\"));
    EXPECT_EQ(2, FakeLibraries::fbwfCalls);
    EXPECT_FALSE(Managers().fbwf.ProtectsDrive(L"\\\\server\\share"));
    EXPECT_EQ(2, FakeLibraries::fbwfCalls);
}

TEST_F(EmbeddedFixture, FileBasedFilterFailureIsNotProtectedAndNotCached)
{
    MakeEmbedded(platform);
    libraries.fbwfPresent = true;
    FakeLibraries::fbwfProtected[L"C:"] = 1;
    FakeLibraries::fbwfAnswer = ERROR_INVALID_FUNCTION;
    EXPECT_FALSE(Managers().fbwf.ProtectsDrive(L"C:\\"));
    FakeLibraries::fbwfAnswer = 0;
    EXPECT_TRUE(Managers().fbwf.ProtectsDrive(L"C:\\"));
}

TEST_F(EmbeddedFixture, UnifiedFilterProtectsOnlyWhenEnabledAndCurrentSessionProtected)
{
    const struct {
        bool present, enabled, current, next, fail, protects;
    } cases[] = {
        {true, true, true, false, false, true},   {true, false, true, true, false, false},
        {true, true, false, true, false, false},  {false, true, true, true, false, false},
        {true, true, true, true, true, false},
    };
    for (const auto& c : cases) {
        wmi.filterPresent = c.present;
        wmi.filterEnabled = c.enabled;
        wmi.volumes[L'C'] = {c.current, c.next};
        wmi.fail = c.fail;
        EXPECT_EQ(c.protects, Managers().uwf.ProtectsDrive(L"C:\\Windows"))
            << c.present << c.enabled << c.current << c.next << c.fail;
    }
    EXPECT_THAT(wmi.queries, testing::Contains(std::wstring(L"root\\standardcimv2\\embedded|"
                                                             L"SELECT * FROM UWF_Volume WHERE DriveLetter='C:'")));
}

// ---- CheckFiltersOnEmbedded

struct FiltersCase {
    const char* name;
    bool ewfProtects, fbwfProtects, uwfPresent, uwfProtects;
    const wchar_t* ewfEnabled;
    const wchar_t* fbwfEnabled;
    const wchar_t* uwfEnabled;
};

class FiltersTest : public EmbeddedFixture, public testing::WithParamInterface<FiltersCase> {};

TEST_P(FiltersTest, SetsAtMostOneEnabledProperty)
{
    const FiltersCase& c = GetParam();
    MakeEmbedded(platform);
    libraries.ewfPresent = true;
    libraries.fbwfPresent = true;
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    FakeLibraries::ewfVolumes = {{L"vol", windows[0], c.ewfProtects ? 0 : 1, 0}};
    FakeLibraries::fbwfProtected[std::wstring(windows, 2)] = c.fbwfProtects ? 1 : 0;
    wmi.filterPresent = c.uwfPresent;
    wmi.filterEnabled = true;
    wmi.volumes[windows[0]] = {c.uwfProtects, false};
    session->SetProperty(L"EMBEDDEDSYSTEM", L"0");

    InstallUtils::CMsiUtil msi(session->get(), L"CheckFiltersOnEmbedded");
    EXPECT_EQ(0u, CheckFiltersOnEmbedded(msi, Managers()));
    EXPECT_EQ(L"1", Property(L"EWFINSTALLED"));
    EXPECT_EQ(L"1", Property(L"EWFAPIFOUND"));
    EXPECT_EQ(L"1", Property(L"FBWFINSTALLED"));
    EXPECT_EQ(c.uwfPresent ? L"1" : L"", Property(L"UWFINSTALLED"));
    EXPECT_EQ(c.uwfPresent ? L"1" : L"0", Property(L"EMBEDDEDSYSTEM")); // UWF marks the system embedded
    EXPECT_EQ(c.ewfEnabled, Property(L"EWFENABLED"));
    EXPECT_EQ(c.fbwfEnabled, Property(L"FBWFENABLED"));
    EXPECT_EQ(c.uwfEnabled, Property(L"UWFENABLED"));
    EXPECT_TRUE(log.Has(L"CheckFiltersOnEmbedded setting EWFINSTALLED to 1"));
    const bool none = !c.ewfProtects && !c.fbwfProtects && !(c.uwfPresent && c.uwfProtects);
    EXPECT_EQ(none, log.Has(L"CheckFiltersOnEmbedded Not setting EWFENABLED or FBWFENABLED or UWFENABLED"));
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FiltersTest,
    testing::Values(FiltersCase{"EwfBeforeFbwf", true, true, false, false, L"1", L"", L""},
                    FiltersCase{"FbwfBeforeUwf", false, true, true, true, L"", L"1", L""},
                    FiltersCase{"UwfOnly", false, false, true, true, L"", L"", L"1"},
                    FiltersCase{"UwfPresentNotProtecting", false, false, true, false, L"", L"", L""},
                    FiltersCase{"Nothing", false, false, false, false, L"", L"", L""}),
    [](const testing::TestParamInfo<FiltersCase>& info) { return info.param.name; });

// On Wine: no embedded edition, no filter libraries, and no UWF namespace, so
// only the service answers come from the real machine.
TEST(FiltersOnWine, RealEnvironmentFindsOnlyTheRegistryFilterService)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(nullptr, manager);
    // Never started: it only has to exist. A stand-in left by an aborted run is reused.
    SC_HANDLE service = CreateServiceW(manager, L"regfilter", L"regfilter stand-in", SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                       L"C:\\windows\\system32\\cmd.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr && GetLastError() == ERROR_SERVICE_EXISTS)
        service = OpenServiceW(manager, L"regfilter", SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, service) << GetLastError();

    testsupport::PackageBuilder builder(testsupport::DataPath(L"embedded-wine.msi"));
    testsupport::Session session(builder.Commit());
    testsupport::LogCapture log;
    {
        CManagers managers(SystemEnvironment());
        InstallUtils::CMsiUtil msi(session.get(), L"CheckFiltersOnEmbedded");
        EXPECT_EQ(0u, CheckFiltersOnEmbedded(msi, managers));
    }
    EXPECT_EQ(L"1", session.Property(L"REGFILTERINSTALLED"));
    for (const wchar_t* name : {L"EWFINSTALLED", L"EWFAPIFOUND", L"FBWFINSTALLED", L"UWFINSTALLED", L"EWFENABLED",
                                L"FBWFENABLED", L"UWFENABLED"})
        EXPECT_EQ(L"", session.Property(name)) << std::string(name, name + wcslen(name));
    EXPECT_TRUE(log.Has(L"CheckFiltersOnEmbedded OpenService failed for ewf. Error: 1060"));

    DeleteService(service);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(TrustedLoader, LoadsOnlyVerifiedFilesUnlessTheCheckIsWaived)
{
    ILibraryLoader& loader = SystemEnvironment().libraries;
    // The test action DLL carries no signature: WinVerifyTrust refuses it.
    const std::wstring unsigned_ = testsupport::TestCaPath();
    EXPECT_EQ(nullptr, loader.Load(unsigned_, true));
    const HMODULE loaded = loader.Load(unsigned_, false);
    EXPECT_NE(nullptr, loaded);
    EXPECT_NE(nullptr, loader.Resolve(loaded, "ProbeRollback"));
    FreeLibrary(loaded);
    EXPECT_EQ(nullptr, loader.Load(L"C:\\windows\\system32\\ewfapi.dll", false));
}

// ---- CheckFeaturesOnEmbedded

TEST_F(EmbeddedFixture, MissingServicesSetZeroAndPromptOnlyInFullUi)
{
    // Wine has no dcomlaunch service, so the real service check fails at the first name.
    const struct {
        const wchar_t* uiLevel;
        int answer;
        size_t shown, opened;
    } cases[] = {{L"5", IDYES, 1, 1}, {L"5", IDNO, 1, 0}, {L"3", IDYES, 0, 0}, {L"2", IDYES, 0, 0}};
    for (const auto& c : cases) {
        ui = FakeUi();
        ui.answer = c.answer;
        log.Clear();
        session->SetProperty(L"UILevel", c.uiLevel);
        InstallUtils::CMsiUtil msi(session->get(), L"CheckFeaturesOnEmbedded");
        EXPECT_EQ(0u, CheckFeaturesOnEmbedded(msi, Managers()));
        EXPECT_EQ(L"0", Property(L"EMBEDDEDMINFEATURES"));
        EXPECT_TRUE(log.Has(L"CheckFeaturesOnEmbedded Failed to check the status of dependent services."));
        EXPECT_TRUE(log.Has(L"CheckFeaturesOnEmbedded OpenService failed for dcomlaunch. Error: 1060"));
        ASSERT_EQ(c.shown, ui.shown.size());
        EXPECT_EQ(c.opened, ui.opened.size());
        if (c.shown == 1) {
            EXPECT_EQ(L"Installation requires missing component", ui.shown[0].second);
            EXPECT_THAT(ui.shown[0].first, HasSubstr(L"version=14.3.2000&language="));
            EXPECT_THAT(ui.shown[0].first, HasSubstr(L".\r\n\r\nFor information about the requirements"));
        }
        if (c.opened == 1) {
            EXPECT_THAT(ui.opened[0], HasSubstr(L"product=qax&version=14.3.2000&language="));
            EXPECT_THAT(ui.opened[0], HasSubstr(L"&module=installer&error=embedded_sysreqs&build=quorvane_ent"));
        }
    }
}

// Stand-ins of the services an embedded system needs, from the test service
// program; Wine has rpcss (stopped until started) and ndis (running) of its own.
class RequiredServicesFixture : public EmbeddedFixture {
protected:
    void SetUp() override
    {
        for (const wchar_t* name : {L"dcomlaunch", L"tcpip", L"fltmgr"})
            services.emplace_back(new ostest::TestServiceHost(name, L"stop"));
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE rpcss = OpenServiceW(manager, L"rpcss", SERVICE_START);
        StartServiceW(rpcss, 0, nullptr); // already running is fine
        CloseServiceHandle(rpcss);
        CloseServiceHandle(manager);
    }

    void StartAllBut(const wchar_t* stopped)
    {
        for (auto& service : services)
            if (service->name() != stopped)
                service->Start();
    }

    std::vector<std::unique_ptr<ostest::TestServiceHost>> services;
};

TEST_F(RequiredServicesFixture, AllServicesAndThePerformanceLibraryMakeTheMinimum)
{
    StartAllBut(L"");
    InstallUtils::CMsiUtil msi(session->get(), L"CheckFeaturesOnEmbedded");
    EXPECT_EQ(0u, CheckFeaturesOnEmbedded(msi, Managers()));
    EXPECT_EQ(L"1", Property(L"EMBEDDEDMINFEATURES"));
    EXPECT_TRUE(log.Has(L"CheckFeaturesOnEmbedded Found Performance Counters library in path " +
                        imdp::os::GetSystemDirectory() + L"\\pdh.dll"));
    EXPECT_TRUE(log.Has(L"CheckFeaturesOnEmbedded All the dependent Windows features are present. Safe to install QAX "
                        L"on embedded system"));

    // Without pdh.dll the minimum is not met.
    const std::wstring pdh = imdp::os::GetSystemDirectory() + L"\\pdh.dll";
    const std::wstring hidden = pdh + L".hidden-by-test";
    ASSERT_TRUE(MoveFileW(pdh.c_str(), hidden.c_str())) << GetLastError();
    struct PutBack {
        const std::wstring &from, &to;
        ~PutBack() { MoveFileW(from.c_str(), to.c_str()); }
    } putBack{hidden, pdh};
    log.Clear();
    session->SetProperty(L"UILevel", L"5");
    EXPECT_EQ(0u, CheckFeaturesOnEmbedded(msi, Managers()));
    EXPECT_EQ(L"0", Property(L"EMBEDDEDMINFEATURES"));
    EXPECT_TRUE(log.Has(L"CheckFeaturesOnEmbedded Performance Counters lib is not installed."));
    EXPECT_FALSE(log.Has(L"CheckFeaturesOnEmbedded Failed to check the status of dependent services."));
    EXPECT_EQ(1u, ui.shown.size());
}

TEST_F(RequiredServicesFixture, AStoppedTcpipPromptsOnlyInFullUi)
{
    StartAllBut(L"tcpip");
    const struct {
        const wchar_t* uiLevel;
        size_t shown;
    } cases[] = {{L"5", 1}, {L"4", 0}, {L"3", 0}};
    for (const auto& c : cases) {
        ui = FakeUi();
        session->SetProperty(L"UILevel", c.uiLevel);
        InstallUtils::CMsiUtil msi(session->get(), L"CheckFeaturesOnEmbedded");
        EXPECT_EQ(0u, CheckFeaturesOnEmbedded(msi, Managers()));
        EXPECT_EQ(L"0", Property(L"EMBEDDEDMINFEATURES"));
        EXPECT_EQ(c.shown, ui.shown.size()) << std::string(c.uiLevel, c.uiLevel + 1);
    }
    EXPECT_TRUE(log.Has(L"CheckFeaturesOnEmbedded Service tcpip is not running (state 1)"));
}

TEST(DependencyChecker, AnswersServiceStatesAndFilesFromTheSystem)
{
    testsupport::PackageBuilder builder(testsupport::DataPath(L"embedded-deps.msi"));
    testsupport::Session session(builder.Commit());
    InstallUtils::CMsiUtil msi(session.get(), L"deps");
    CEmbDependencyChecker checker;
    EXPECT_EQ(CEmbDependencyChecker::Running, checker.GetServiceState(msi, L"ndis")); // running in Wine
    EXPECT_EQ(CEmbDependencyChecker::NotFound, checker.GetServiceState(msi, L"no-such-service"));
    EXPECT_EQ(S_OK, checker.AllServicesRunning(msi, {L"ndis"}));
    EXPECT_EQ(S_FALSE, checker.AllServicesRunning(msi, {L"ndis", L"no-such-service", L"ndis"}));
    EXPECT_TRUE(checker.FileExists(msi, imdp::os::GetSystemDirectory() + L"\\pdh.dll"));
    EXPECT_FALSE(checker.FileExists(msi, imdp::os::GetSystemDirectory() + L"\\no-such.dll"));
}

// ---- RemoveQAXRegFilterDataFiles

TEST_F(EmbeddedFixture, RemovesOnlyTheDataFilesFromTheMountedVolume)
{
    InstallUtils::CMsiUtil msi(session->get(), L"RemoveQAXRegFilterDataFiles: ");
    EXPECT_EQ(0u, RemoveQAXRegFilterDataFiles(msi, Managers()));
    EXPECT_EQ(std::vector<std::wstring>{L"keep.txt"}, mounter.leftAtUnmount);
    ASSERT_FALSE(mounter.mountedOn.empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(mounter.mountedOn.c_str())); // folder removed
    EXPECT_EQ(32u + 4u, mounter.mountedOn.size());                                      // C:\ + name + \ .
    EXPECT_TRUE(log.Has(L"RemoveQAXRegFilterDataFiles:  Begin RemoveQAXRegFilterDataFiles"));
    EXPECT_TRUE(log.Has(L"RemoveQAXRegFilterDataFiles:  Ending RemoveQAXRegFilterDataFiles, dw=0x0"));
}

TEST_F(EmbeddedFixture, AFailedMountIsSuccessWhileTheFilterServiceIsNotRunning)
{
    mounter.mountResult = ERROR_ACCESS_DENIED;
    InstallUtils::CMsiUtil msi(session->get(), L"RemoveQAXRegFilterDataFiles: ");
    EXPECT_EQ(0u, RemoveQAXRegFilterDataFiles(msi, Managers()));
    EXPECT_TRUE(log.Has(L"RemoveQAXRegFilterDataFiles:  Exiting RemoveQAXRegFilterDataFiles. RegFilter service not running."));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Managers().regFilter.RemoveDataFiles(L"QvncQaxRegData*"));
}

TEST(RegFilterOnWine, TheHiddenVolumeDoesNotMountAndTheActionSucceeds)
{
    testsupport::PackageBuilder builder(testsupport::DataPath(L"embedded-regfilter.msi"));
    testsupport::Session session(builder.Commit());
    testsupport::LogCapture log;
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(0u, clientca.Call("RemoveQAXRegFilterDataFiles", session.get()));
    EXPECT_TRUE(log.Has(L"RemoveQAXRegFilterDataFiles:  Exiting RemoveQAXRegFilterDataFiles. RegFilter service not running."));
}

TEST(RegFilterFolderName, IsThirtyTwoUpperCaseHexDigits)
{
    const std::wstring name = CRegFilterMgr::FolderName();
    ASSERT_EQ(32u, name.size());
    for (wchar_t c : name)
        EXPECT_TRUE((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F')) << static_cast<int>(c);
    EXPECT_NE(name, CRegFilterMgr::FolderName());
}

// ---- the exports on Wine

TEST(EmbeddedExportsOnWine, ReportANonEmbeddedSystem)
{
    testsupport::PackageBuilder builder(testsupport::DataPath(L"embedded-exports.msi"));
    testsupport::Session session(builder.Commit());
    testsupport::LogCapture log;
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(0u, clientca.Call("CheckWindowsEmbeddedSystem", session.get()));
    EXPECT_EQ(L"0", session.Property(L"EMBEDDEDSYSTEM"));
    session.SetProperty(L"UILevel", L"2");
    EXPECT_EQ(0u, clientca.Call("CheckFeaturesOnEmbedded", session.get()));
    EXPECT_EQ(L"0", session.Property(L"EMBEDDEDMINFEATURES"));
    EXPECT_EQ(0u, clientca.Call("CheckFiltersOnEmbedded", session.get()));
}

} // namespace
