#pragma once

#include "imdp/Seam.h"

#include <windows.h>

#include <string>

namespace imdp {
namespace os {

// The process id of the named service (0 when it runs in no process).
// Failures throw win32_error.
DWORD GetServiceProcessId(const std::wstring& name);

// Waits until the named service has stopped. The caller asks the service to
// stop first: a running service is waited for as if it were stopping. Gives
// up when the service makes no progress for longer than its first wait hint
// (and at least 30 s have passed), or after 90 s even with progress; then
// throws win32_error WAIT_TIMEOUT unless the service has stopped after all.
void WaitForServiceStop(const std::wstring& name);

// The time source of the service wait: tick count and sleep (GetTickCount and
// Sleep unless a test has put another in place with Seam<IServiceWaitClock>::Scoped).
class IServiceWaitClock {
public:
    virtual ~IServiceWaitClock() = default;
    virtual DWORD TickCount() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
    static IServiceWaitClock& Production();
};

// Makes the wait use another clock for the lifetime of this object.
using ScopedServiceWaitClock = Seam<IServiceWaitClock>::Scoped;

} // namespace os
} // namespace imdp
