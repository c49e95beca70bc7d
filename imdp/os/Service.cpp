#include "imdp/os/Service.h"

#include "imdp/Errors.h"
#include "imdp/UniqueHandle.h"

#include <algorithm>

namespace imdp {
namespace os {
namespace {

class SystemWaitClock : public IServiceWaitClock {
public:
    DWORD TickCount() override { return ::GetTickCount(); }
    void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
};


const char kTimeoutText[] = "Service does did not respond to the request in timely fashion.";

// No checkpoint progress is accepted for at least this long after the start.
const DWORD kMinimumWait = 30001;
// With progress, the wait still ends after this long.
const DWORD kMaximumWait = 90000;

unique_service_handle OpenQueryableService(const std::wstring& name)
{
    unique_service_handle manager(OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_CONNECT));
    ThrowLastErrorIf(!manager, "OpenSCManager failed");
    unique_service_handle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
    ThrowLastErrorIf(!service, "OpenService failed");
    return service;
}

SERVICE_STATUS_PROCESS QueryStatus(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    const BOOL ok = QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                         sizeof(status), &needed);
    ThrowLastErrorIf(!ok, "QueryServiceStatusEx failed");
    return status;
}

bool IsStopping(DWORD state)
{
    return state == SERVICE_STOP_PENDING || state == SERVICE_RUNNING;
}

void ThrowUnlessStopped(DWORD state)
{
    if (state != SERVICE_STOPPED)
        throw win32_error(kTimeoutText, WAIT_TIMEOUT);
}

} // namespace

DWORD GetServiceProcessId(const std::wstring& name)
{
    const unique_service_handle service = OpenQueryableService(name);
    return QueryStatus(service.get()).dwProcessId;
}

void WaitForServiceStop(const std::wstring& name)
{
    const unique_service_handle service = OpenQueryableService(name);
    IServiceWaitClock& clock = Seam<IServiceWaitClock>::Current();

    SERVICE_STATUS_PROCESS status = QueryStatus(service.get());
    const DWORD start = clock.TickCount();
    const DWORD firstWaitHint = status.dwWaitHint;
    DWORD lastProgress = start;
    DWORD checkpoint = status.dwCheckPoint;

    while (IsStopping(status.dwCurrentState)) {
        clock.Sleep(std::min<DWORD>(std::max<DWORD>(status.dwWaitHint / 10, 1000), 10000));
        status = QueryStatus(service.get());
        // Unsigned differences of tick counts stay right across the 49.7-day wrap.
        const DWORD now = clock.TickCount();
        if (status.dwCheckPoint == checkpoint) {
            if (now - lastProgress > firstWaitHint && now - start >= kMinimumWait)
                break;
        } else {
            if (now - start > kMaximumWait)
                break;
            lastProgress = now;
            checkpoint = status.dwCheckPoint;
        }
    }
    ThrowUnlessStopped(status.dwCurrentState);
}

IServiceWaitClock& IServiceWaitClock::Production()
{
    static SystemWaitClock clock;
    return clock;
}

} // namespace os
} // namespace imdp
