#include "imdp/Errors.h"
#include "imdp/os/Process.h"
#include "imdp/os/Service.h"
#include "tests/os_services/TestServiceHost.h"

#include <gtest/gtest.h>

#include <cctype>
#include <vector>

namespace {

using imdp::win32_error;
using imdp::os::GetServiceProcessId;
using imdp::os::WaitForServiceStop;

const char kTimeoutText[] = "Service does did not respond to the request in timely fashion.";

bool EndsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Time that passes only when the wait sleeps. Each sleep also pauses for a
// few real milliseconds, so that a service that advances its checkpoint
// really does so between two reads of its status. The count starts close to
// the 32-bit wrap of the tick count, which every long wait crosses.
class FakeClock : public imdp::os::IServiceWaitClock {
public:
    static const DWORD kStart = 0xFFFF0000u;

    DWORD TickCount() override { return now_; }
    void Sleep(DWORD milliseconds) override
    {
        sleeps.push_back(milliseconds);
        now_ += milliseconds;
        ::Sleep(30);
    }
    DWORD Elapsed() const { return now_ - kStart; }

    std::vector<DWORD> sleeps;

private:
    DWORD now_ = kStart;
};

TEST(ServiceProcessId, FollowsTheServiceThroughStartAndStop)
{
    ostest::TestServiceHost host(L"QvnTestProcessId", L"stop");
    EXPECT_EQ(0u, GetServiceProcessId(host.name()));

    host.Start();
    const DWORD pid = GetServiceProcessId(host.name());
    ASSERT_NE(0u, pid);
    EXPECT_NE(GetCurrentProcessId(), pid);
    EXPECT_TRUE(EndsWith(imdp::os::GetProcessImagePath(pid), L"\\os_test_service.exe"));
    // The service manager starts it.
    EXPECT_TRUE(EndsWith(imdp::os::GetProcessImagePath(imdp::os::GetParentProcessId(pid)), L"\\services.exe"));

    host.RequestStop();
    WaitForServiceStop(host.name());
    EXPECT_EQ(0u, GetServiceProcessId(host.name()));
}

TEST(ServiceProcessId, MissingServiceThrows)
{
    try {
        GetServiceProcessId(L"QvnNoSuchService");
        FAIL() << "no exception";
    } catch (const win32_error& e) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), e.code());
        EXPECT_EQ(0u, std::string(e.what()).find("OpenService failed")) << e.what();
    }
}

TEST(WaitForServiceStop, StoppedServiceReturnsWithoutSleeping)
{
    ostest::TestServiceHost host(L"QvnTestStopped", L"stop");
    FakeClock clock;
    imdp::os::ScopedServiceWaitClock scope(clock);
    WaitForServiceStop(host.name());
    EXPECT_TRUE(clock.sleeps.empty());
}

TEST(WaitForServiceStop, MissingServiceThrows)
{
    try {
        WaitForServiceStop(L"QvnNoSuchService");
        FAIL() << "no exception";
    } catch (const win32_error& e) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), e.code());
        EXPECT_EQ(0u, std::string(e.what()).find("OpenService failed")) << e.what();
    }
}

// Only a running or stopping service is waited for; any other state is a
// failure at once.
TEST(WaitForServiceStop, PausedServiceFailsWithoutWaiting)
{
    ostest::TestServiceHost host(L"QvnTestPaused", L"stop");
    host.Start();
    host.Pause();
    FakeClock clock;
    imdp::os::ScopedServiceWaitClock scope(clock);
    try {
        WaitForServiceStop(host.name());
        FAIL() << "no exception";
    } catch (const win32_error& e) {
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), e.code());
        EXPECT_EQ(0u, std::string(e.what()).find(kTimeoutText)) << e.what();
    }
    EXPECT_TRUE(clock.sleeps.empty());
}

// The real clock: the service reports STOP_PENDING with progress for about
// 1.6 s, then stops.
TEST(WaitForServiceStop, WaitsForARealStop)
{
    ostest::TestServiceHost host(L"QvnTestSlowStop", L"slow-stop", 2000);
    host.Start();
    host.RequestStop();
    const DWORD start = GetTickCount();
    WaitForServiceStop(host.name());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), host.State());
    EXPECT_GE(GetTickCount() - start, 1000u);
}

struct GiveUpCase {
    const wchar_t* mode;
    DWORD waitHint;
    DWORD pause;        // each sleep of the wait
    DWORD givesUpAfter; // fake time elapsed when the wait gives up
    const char* why;
};

class WaitGivesUp : public ::testing::TestWithParam<GiveUpCase> {};

TEST_P(WaitGivesUp, ThrowsTimeout)
{
    const GiveUpCase& c = GetParam();
    ostest::TestServiceHost host(L"QvnTestGiveUp", c.mode, c.waitHint);
    host.Start();
    host.RequestStop();
    FakeClock clock;
    imdp::os::ScopedServiceWaitClock scope(clock);
    try {
        WaitForServiceStop(host.name());
        FAIL() << "no exception";
    } catch (const win32_error& e) {
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), e.code());
        EXPECT_EQ(0u, std::string(e.what()).find(kTimeoutText)) << e.what();
    }
    EXPECT_EQ(c.givesUpAfter, clock.Elapsed());
    for (DWORD pause : clock.sleeps)
        EXPECT_EQ(c.pause, pause);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, WaitGivesUp,
    ::testing::Values(
        // No progress and no hint: the 30 s floor decides (first sleep past 30001 ms).
        GiveUpCase{L"ignore-stop", 0, 1000, 31000, "running without progress"},
        GiveUpCase{L"stuck", 5000, 1000, 31000, "pending without progress, short hint"},
        // A longer first hint is waited out in full; sleeps are a tenth of it.
        GiveUpCase{L"stuck", 60000, 6000, 66000, "pending without progress, long hint"},
        // A tenth of the hint is capped at 10 s.
        GiveUpCase{L"stuck", 150000, 10000, 160000, "pending, sleep capped"},
        // Progress at every read: the 90 s limit decides.
        GiveUpCase{L"creep", 3000, 1000, 91000, "pending with steady progress"}),
    [](const ::testing::TestParamInfo<GiveUpCase>& info) {
        std::string name;
        for (const char* p = info.param.why; *p != '\0'; ++p)
            if (std::isalnum(static_cast<unsigned char>(*p)))
                name.push_back(*p);
        return name;
    });

} // namespace
