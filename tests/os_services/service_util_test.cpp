#include "install_utils/InstallUtilsException.h"
#include "install_utils/MsiLogStream.h"
#include "install_utils/ServiceUtil.h"
#include "tests/os_services/TestServiceHost.h"
#include "tests/support/Package.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using InstallUtils::CInstallUtilsException;
using InstallUtils::CServiceUtil;

// A session to log into, with every line captured.
class ServiceUtilTest : public ::testing::Test {
protected:
    ServiceUtilTest()
    {
        testsupport::PackageBuilder builder(testsupport::DataPath(L"service_util.msi"));
        session_ = std::make_unique<testsupport::Session>(builder.Commit());
        capture_.Clear();
    }

    MSIHANDLE session() const { return session_->get(); }

    void ExpectLines(const std::vector<std::wstring>& expected)
    {
        EXPECT_EQ(expected, capture_.Lines()) << ostest::Narrow(capture_.Joined());
        capture_.Clear();
    }

    testsupport::LogCapture capture_;
    std::unique_ptr<testsupport::Session> session_;
};

// No Defender service exists in a Wine prefix: the stand-in is the test
// service registered as "WinDefend", which the default-constructed utility names.
TEST_F(ServiceUtilTest, StartsTheStoppedDefenderServiceAndSeesItRunning)
{
    ostest::TestServiceHost host(L"WinDefend", L"stop");
    CServiceUtil defender;

    EXPECT_TRUE(defender.isServiceInstalled());
    EXPECT_FALSE(defender.isServiceRunning(session()));
    ExpectLines({L"InstallUtils::CServiceUtil::isServiceRunning: Checking status of service: WinDefend",
                 L"InstallUtils::CServiceUtil::isServiceRunning: Service WinDefend is not running."});

    EXPECT_TRUE(defender.startService(session()));
    ExpectLines({L"InstallUtils::CServiceUtil::startService Started service - WinDefend"});

    EXPECT_TRUE(defender.isServiceRunning(session()));
    ExpectLines({L"InstallUtils::CServiceUtil::isServiceRunning: Checking status of service: WinDefend",
                 L"InstallUtils::CServiceUtil::isServiceRunning: Service WinDefend is currently running."});

    // A running service cannot be started again (1056).
    EXPECT_FALSE(defender.startService(session()));
    ExpectLines({L"InstallUtils::CServiceUtil::startService Could not start service - WinDefend"});
}

TEST_F(ServiceUtilTest, StoppingServiceIsNotRunning)
{
    ostest::TestServiceHost host(L"QvnTestStopping", L"stuck", 5000);
    host.Start();
    host.RequestStop();
    ASSERT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), host.State());
    EXPECT_FALSE(CServiceUtil(L"QvnTestStopping").isServiceRunning(session()));
}

TEST_F(ServiceUtilTest, MissingServiceIsAnOrdinaryFalse)
{
    CServiceUtil missing(L"QvnNoSuchService");

    EXPECT_FALSE(missing.isServiceInstalled());
    EXPECT_FALSE(missing.isServiceRunning(session()));
    ExpectLines({L"InstallUtils::CServiceUtil::isServiceRunning: Checking status of service: QvnNoSuchService",
                 L"InstallUtils::CServiceUtil::isServiceRunning: Service QvnNoSuchService does not exist."});
    EXPECT_FALSE(missing.startService(session()));
    ExpectLines({L"InstallUtils::CServiceUtil::startService Service not installed - QvnNoSuchService"});
}

TEST_F(ServiceUtilTest, DebugLineFollowsTheLogLevel)
{
    struct RestoreThreshold {
        int saved = InstallUtils::LogThreshold();
        ~RestoreThreshold() { InstallUtils::SetLogThreshold(saved); }
    } restore;
    testsupport::Session quiet(testsupport::PackageBuilder(testsupport::DataPath(L"service_util_quiet.msi"))
                                   .Property(L"CALOGLEVEL", L"3")
                                   .Commit());
    capture_.Clear();
    CServiceUtil(L"QvnNoSuchService").isServiceRunning(quiet.get());
    ExpectLines({L"InstallUtils::CServiceUtil::isServiceRunning: Service QvnNoSuchService does not exist."});
}

// A name the service manager rejects (a backslash in it: ERROR_INVALID_NAME)
// fails with something other than "does not exist": that is unexpected and
// thrown. (Windows also rejects names longer than 256 characters so; Wine
// answers 1060 for those, so they cannot stand in here.)
TEST_F(ServiceUtilTest, UnexpectedServiceManagerFailuresThrow)
{
    CServiceUtil invalid(L"Qvn\\Invalid");

    try {
        invalid.isServiceInstalled();
        FAIL() << "no exception";
    } catch (const CInstallUtilsException& e) {
        EXPECT_EQ(0x8000FFFFu, e.code());
        EXPECT_EQ(L"Unable to query service Qvn\\Invalid status. GetLastError() returned 123", e.message());
    }
    try {
        invalid.isServiceRunning(session());
        FAIL() << "no exception";
    } catch (const CInstallUtilsException& e) {
        EXPECT_EQ(static_cast<UINT>(ERROR_FUNCTION_FAILED), e.code());
        EXPECT_EQ(L"OpenService failed. GetLastError(): 123", e.message());
    }
}

} // namespace
