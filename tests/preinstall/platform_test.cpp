#include "actions/preinstall/PlatformChecks.h"
#include "actions/preinstall/PlatformProbes.h"
#include "install_utils/MsiLogStream.h"
#include "tests/preinstall/SessionFixture.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <wbemidl.h>

#include <map>
#include <thread>
#include <vector>

namespace {

using preinstalltest::Narrow;
using preinstalltest::SessionTest;

// ---- CPU load ---------------------------------------------------------------

FILETIME Ft(ULONGLONG ticks)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

clientca::SystemTimes Reading(ULONGLONG idle, ULONGLONG kernel, ULONGLONG user)
{
    return clientca::SystemTimes{Ft(idle), Ft(kernel), Ft(user)};
}

// Hands out prepared readings in order; a reading past the prepared ones fails.
class FakeSystemTimes : public clientca::ISystemTimesSource {
public:
    explicit FakeSystemTimes(std::vector<clientca::SystemTimes> readings) : readings_(std::move(readings)) {}
    bool Read(clientca::SystemTimes& times) override
    {
        if (next_ >= readings_.size()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        times = readings_[next_++];
        return true;
    }

private:
    std::vector<clientca::SystemTimes> readings_;
    size_t next_ = 0;
};

using CpuLoadTest = SessionTest;

// A machine idle for more than 2^32 ticks: both halves of the idle time are set.
constexpr ULONGLONG kIdle = (1ull << 32) + 12345;
constexpr ULONGLONG kKernel = 3 * (1ull << 32);
constexpr ULONGLONG kUser = 1ull << 31;

TEST_F(CpuLoadTest, LoadBetweenTwoReadings)
{
    struct Case {
        const char* name;
        clientca::SystemTimes first;
        clientca::SystemTimes second;
        const wchar_t* line;
        const wchar_t* high;
    };
    const Case cases[] = {
        {"exactly half busy", Reading(kIdle, kKernel, kUser), Reading(kIdle + 5000, kKernel + 8000, kUser + 2000),
         L"CheckCPULoad: CPU load is acceptable for install (50% load)", L""},
        {"just above half", Reading(kIdle, kKernel, kUser), Reading(kIdle + 4999, kKernel + 8000, kUser + 2000),
         L"CheckCPULoad: WARNING: Detected high CPU load, install may fail! (50.01% load)", L"1"},
        {"fully busy", Reading(kIdle, kKernel, kUser), Reading(kIdle, kKernel + 600, kUser + 400),
         L"CheckCPULoad: WARNING: Detected high CPU load, install may fail! (100% load)", L"1"},
        {"upper idle half still zero", Reading(0xFFFFFF00, kKernel, kUser),
         Reading(0xFFFFFF00, kKernel + 600, kUser + 400), L"CheckCPULoad: CPU load is acceptable for install (0% load)",
         L""},
        {"lower idle half zero", Reading(1ull << 32, kKernel, kUser), Reading(1ull << 32, kKernel + 600, kUser + 400),
         L"CheckCPULoad: CPU load is acceptable for install (0% load)", L""},
        {"clock did not advance", Reading(kIdle, kKernel, kUser), Reading(kIdle, kKernel, kUser),
         L"CheckCPULoad: CPU load is acceptable for install (0% load)", L""},
        {"idle advanced more than the total", Reading(kIdle, kKernel, kUser),
         Reading(kIdle + 9000, kKernel + 1000, kUser),
         L"CheckCPULoad: CPU load is acceptable for install (0% load)", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session().SetProperty(L"CPUUSAGEHIGH", L"");
        FakeSystemTimes times({c.first, c.second});
        imdp::Seam<clientca::ISystemTimesSource>::Scoped scope(times);
        EXPECT_EQ(0u, clientca::CheckCPULoadAction(handle()));
        EXPECT_TRUE(Logged(c.line)) << Log();
        EXPECT_EQ(c.high, Property(L"CPUUSAGEHIGH"));
        capture().Clear();
    }
}

TEST_F(CpuLoadTest, FailingReadingIsLogged)
{
    for (size_t good : {0u, 1u}) {
        SCOPED_TRACE(good);
        std::vector<clientca::SystemTimes> readings(good, Reading(kIdle, kKernel, kUser));
        FakeSystemTimes times(readings);
        imdp::Seam<clientca::ISystemTimesSource>::Scoped scope(times);
        EXPECT_EQ(0u, clientca::CheckCPULoadAction(handle()));
        EXPECT_TRUE(Logged(L"CheckCPULoad: Failed to detect CPU load")) << Log();
        EXPECT_EQ(L"", Property(L"CPUUSAGEHIGH"));
        capture().Clear();
    }
}

TEST_F(CpuLoadTest, RealSystemTimesGiveAVerdict)
{
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(0u, clientca.Call("CheckCPULoad", handle()));
    const size_t verdicts = capture().StartingWith(L"CheckCPULoad: CPU load is acceptable for install (").size() +
                            capture().StartingWith(L"CheckCPULoad: WARNING: Detected high CPU load").size();
    EXPECT_EQ(1u, verdicts) << Log();
}

// ---- VMware -----------------------------------------------------------------

// Answers each query with the same serial numbers, or fails.
class FakeBios : public clientca::IBiosSerialNumbers {
public:
    FakeBios(std::vector<std::wstring> serials, HRESULT result = S_OK) : serials_(std::move(serials)), result_(result)
    {
    }
    HRESULT Query(std::vector<std::wstring>& serials) override
    {
        ++queries;
        serials = serials_;
        return result_;
    }
    int queries = 0;

private:
    std::vector<std::wstring> serials_;
    HRESULT result_;
};

using VmwareTest = SessionTest;

TEST_F(VmwareTest, SerialNumberPatterns)
{
    struct Case {
        std::vector<std::wstring> serials;
        bool vmware;
        int queries;
    };
    const Case cases[] = {
        {{L"VMware-56 4d 8e 2a 3b 9c 1f 77-0e 52 11 aa 3c 5d 7e 81"}, true, 1},
        {{L"vmware-42 1a"}, true, 1},
        {{L"Dell-1234", L"VMware-56 4d"}, true, 1},
        {{L"VMW71.00V.1234"}, true, 2},
        {{L"vmw"}, true, 2},
        {{L"VM"}, false, 2},
        {{L"0"}, false, 2},
        {{L"Parallels-12 34"}, false, 2},
        {{L" VMware-56"}, false, 2},
        {{}, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serials.empty() ? std::string("(none)") : Narrow(c.serials.back()));
        session().SetProperty(L"VMWAREDETECTED", L"");
        FakeBios bios(c.serials);
        imdp::Seam<clientca::IBiosSerialNumbers>::Scoped scope(bios);
        EXPECT_EQ(0u, clientca::DetectVMWareAction(handle()));
        EXPECT_EQ(c.vmware ? L"1" : L"", Property(L"VMWAREDETECTED"));
        EXPECT_TRUE(Logged(c.vmware ? L"DetectVMWareWe are running under VMWare"
                                    : L"DetectVMWareWe are not running under VMWare"))
            << Log();
        EXPECT_EQ(c.queries, bios.queries);
        capture().Clear();
    }
}

TEST_F(VmwareTest, FailedQueryLeavesThePropertyUnset)
{
    FakeBios bios({L"VMware-56"}, WBEM_E_INVALID_NAMESPACE);
    imdp::Seam<clientca::IBiosSerialNumbers>::Scoped scope(bios);
    EXPECT_EQ(0u, clientca::DetectVMWareAction(handle()));
    EXPECT_EQ(L"", Property(L"VMWAREDETECTED"));
    EXPECT_TRUE(Logged(L"DetectVMWareCould not query the BIOS serial numbers. Err code = 0x8004100e")) << Log();
    EXPECT_TRUE(capture().StartingWith(L"DetectVMWareWe are").empty()) << Log();
}

// A thread already in a single-threaded apartment cannot join the
// multithreaded one the query needs.
TEST_F(VmwareTest, ThreadInAnotherApartmentIsLogged)
{
    UINT result = 1;
    std::thread caller([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        result = clientca::DetectVMWareAction(handle());
        CoUninitialize();
    });
    caller.join();
    EXPECT_EQ(0u, result);
    EXPECT_TRUE(Logged(L"DetectVMWareCould not initialize the COM library. Err code = 0x80010106")) << Log();
    EXPECT_EQ(L"", Property(L"VMWAREDETECTED"));
}

// Wine's Win32_BIOS reports the serial number "0": the real query path runs
// end to end and finds no VMware.
TEST_F(VmwareTest, RealWmiQuery)
{
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(0u, clientca.Call("DetectVMWare", handle()));
    EXPECT_TRUE(Logged(L"DetectVMWareWe are not running under VMWare")) << Log();
    EXPECT_EQ(L"", Property(L"VMWAREDETECTED"));

    std::vector<std::wstring> serials;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(S_OK, clientca::IBiosSerialNumbers::Production().Query(serials));
    CoUninitialize();
    EXPECT_EQ(std::vector<std::wstring>{L"0"}, serials);
}

// ---- Reparse points ---------------------------------------------------------

// Wine 8.0 cannot create reparse points (FSCTL_SET_REPARSE_POINT answers 50,
// CreateSymbolicLinkW leaves nothing behind), so the attributes come from a
// table; each test gets a cache of its own.
class ReparseTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        previousThreshold_ = InstallUtils::LogThreshold();
        InstallUtils::SetLogThreshold(1);
    }
    void TearDown() override
    {
        InstallUtils::SetLogThreshold(previousThreshold_);
        SessionTest::TearDown();
    }

    // Attributes by path; a path not in the table fails like a missing one.
    clientca::CReparsePointCache::AttributeQuery Attributes()
    {
        return [this](const std::wstring& path) -> DWORD {
            ++asked[path];
            const auto found = attributes.find(path);
            if (found == attributes.end()) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return INVALID_FILE_ATTRIBUTES;
            }
            return found->second;
        };
    }

    std::map<std::wstring, DWORD> attributes;
    std::map<std::wstring, int> asked;
    int previousThreshold_ = 2;
};

TEST_F(ReparseTest, EitherFolderMakesTheInstallGoToAReparsePoint)
{
    attributes = {{L"C:\\Data\\", FILE_ATTRIBUTE_DIRECTORY},
                  {L"C:\\Junction\\", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT}};
    struct Case {
        const wchar_t* appdata;
        const wchar_t* basedir;
        const wchar_t* answer;
    };
    const Case cases[] = {
        {L"C:\\Data\\", L"C:\\Data\\", L""},
        {L"C:\\Junction\\", L"C:\\Data\\", L"1"},
        {L"C:\\Data\\", L"C:\\Junction\\", L"1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.appdata) + " " + Narrow(c.basedir));
        clientca::CReparsePointCache cache(Attributes());
        imdp::Seam<clientca::CReparsePointCache>::Scoped scope(cache);
        session().SetProperty(L"Appdata", c.appdata);
        session().SetProperty(L"Basedir", c.basedir);
        session().SetProperty(L"InstallingToReparse", L"");
        EXPECT_EQ(0u, clientca::ReparseCheckAction(handle()));
        EXPECT_EQ(c.answer, Property(L"InstallingToReparse"));
    }
    EXPECT_TRUE(Logged(L"We believe that C:\\Data\\ is good. Its attributes were 0x10")) << Log();
    EXPECT_TRUE(Logged(L"We believe that C:\\Junction\\ is a reparse point. Its attributes were 0x410")) << Log();
}

TEST_F(ReparseTest, AnswersAreRememberedButFailuresAreAskedAgain)
{
    clientca::CReparsePointCache cache(Attributes());
    imdp::Seam<clientca::CReparsePointCache>::Scoped scope(cache);
    session().SetProperty(L"Appdata", L"C:\\Data\\");
    session().SetProperty(L"Basedir", L"C:\\Later\\");
    attributes = {{L"C:\\Data\\", FILE_ATTRIBUTE_DIRECTORY}};
    EXPECT_EQ(0u, clientca::ReparseCheckAction(handle()));
    EXPECT_TRUE(Logged(L"Could not get attributes for C:\\Later\\")) << Log();

    // The folders change afterwards: the known one keeps its first answer,
    // the one that could not be read is asked again.
    attributes = {{L"C:\\Data\\", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT},
                  {L"C:\\Later\\", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT}};
    EXPECT_EQ(0u, clientca::ReparseCheckAction(handle()));
    EXPECT_EQ(1, asked[L"C:\\Data\\"]);
    EXPECT_EQ(2, asked[L"C:\\Later\\"]);
    EXPECT_EQ(L"1", Property(L"InstallingToReparse"));
}

// Both properties empty: the real GetFileAttributesW of an empty path fails.
TEST_F(ReparseTest, EmptyFoldersAreLoggedAsUnreadable)
{
    session().SetProperty(L"Appdata", L"");
    session().SetProperty(L"Basedir", L"");
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(0u, clientca.Call("ReparseCheck", handle()));
    EXPECT_EQ(2u, capture().StartingWith(L"Could not get attributes for ").size()) << Log();
    EXPECT_EQ(L"", Property(L"InstallingToReparse"));
}

// The real file system answers for a real folder (never a reparse point under Wine).
TEST_F(ReparseTest, RealFolderIsGood)
{
    clientca::CReparsePointCache cache;
    imdp::Seam<clientca::CReparsePointCache>::Scoped scope(cache);
    session().SetProperty(L"Appdata", L"C:\\windows\\");
    session().SetProperty(L"Basedir", L"C:\\windows\\");
    EXPECT_EQ(0u, clientca::ReparseCheckAction(handle()));
    EXPECT_EQ(1u, capture().StartingWith(L"We believe that C:\\windows\\ is good. Its attributes were 0x").size())
        << Log();
    EXPECT_EQ(L"", Property(L"InstallingToReparse"));
}

// ---- Source folder at a drive root ------------------------------------------

using SourceRootTest = SessionTest;

TEST_F(SourceRootTest, SourceDirMustBeTheRootOfAFixedLocalDrive)
{
    struct Case {
        const wchar_t* sourceDir;
        const wchar_t* answer;
    };
    const Case cases[] = {
        {L"C:\\", L"C:\\"},                  // C: of the Wine prefix is a fixed drive
        {L"C:\\Setup\\", L""},               // deeper folder
        {L"C:", L""},                        // not a root folder
        {L"\\\\server\\share\\", L""},       // network path
        {L"Q:\\", L""},                      // no such drive
    };
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    capture().Clear();
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.sourceDir));
        session().SetProperty(L"SOURCEDIRISATROOT", L"stale");
        session().SetProperty(L"SourceDir", c.sourceDir);
        EXPECT_EQ(0u, clientca.Call("IsSourceDirAtRoot", handle()));
        EXPECT_EQ(c.answer, Property(L"SOURCEDIRISATROOT"));
    }
    EXPECT_TRUE(capture().Lines().empty()) << Log();
}

TEST_F(SourceRootTest, WithoutSourceDirThePackageFolderCounts)
{
    const std::wstring atRoot = L"C:\\qvn-source-root.msi";
    ASSERT_TRUE(CopyFileW(Package().c_str(), atRoot.c_str(), FALSE));
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    for (const std::wstring& package : {atRoot, Package()}) {
        SCOPED_TRACE(Narrow(package));
        testsupport::Session opened(package);
        opened.SetProperty(L"SourceDir", L"");
        EXPECT_EQ(0u, clientca.Call("IsSourceDirAtRoot", opened.get()));
        EXPECT_EQ(package == atRoot ? L"C:\\" : L"", opened.Property(L"SOURCEDIRISATROOT"));
    }
    DeleteFileW(atRoot.c_str());
}

} // namespace
