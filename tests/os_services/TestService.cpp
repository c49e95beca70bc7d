// A small Win32 service for the service tests. Its behaviour on a stop
// request is chosen by the command line in the service's binary path:
//
//   os_test_service.exe <service name> <mode> [wait hint in ms [program [arguments...]]]
//
//   stop         stops at once
//   slow-stop    reports STOP_PENDING with a new checkpoint every 200 ms, stops after 1.6 s
//   ignore-stop  accepts the request and stays RUNNING
//   stuck        reports STOP_PENDING with one checkpoint and never stops
//   creep        reports STOP_PENDING with a new checkpoint every 5 ms and never stops
//
// With a program, the service starts it with its arguments once it reports
// RUNNING (the service's process is then the program's parent).
// In every mode the service can be paused (it then reports SERVICE_PAUSED).
// Whatever the mode, the service stops when the event
// "Global\os_test_service_exit_<service name>" is set; the tests use it to
// clean up services that do not stop.
//
//   os_test_service.exe idle     runs as a plain process for 60 s (a child for process tests)

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring g_name;
std::wstring g_mode;
std::wstring g_launch;
DWORD g_waitHint = 0;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status = {};
HANDLE g_stopRequested = nullptr;
HANDLE g_exitRequested = nullptr;

void Report(DWORD state, DWORD checkpoint = 0)
{
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted =
        state == SERVICE_RUNNING || state == SERVICE_PAUSED ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE : 0;
    g_status.dwWin32ExitCode = NO_ERROR;
    g_status.dwCheckPoint = checkpoint;
    g_status.dwWaitHint = g_waitHint;
    SetServiceStatus(g_statusHandle, &g_status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        if (g_mode != L"ignore-stop")
            SetEvent(g_stopRequested);
        return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
        Report(SERVICE_PAUSED);
        return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
        Report(SERVICE_RUNNING);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// Waits `milliseconds` for the exit event; true when it was set.
bool ExitWithin(DWORD milliseconds)
{
    return WaitForSingleObject(g_exitRequested, milliseconds) == WAIT_OBJECT_0;
}

void Stop()
{
    if (g_mode == L"slow-stop") {
        for (DWORD checkpoint = 1; checkpoint <= 8; ++checkpoint) {
            Report(SERVICE_STOP_PENDING, checkpoint);
            if (ExitWithin(200))
                break;
        }
    } else if (g_mode == L"stuck") {
        Report(SERVICE_STOP_PENDING, 1);
        ExitWithin(INFINITE);
    } else if (g_mode == L"creep") {
        DWORD checkpoint = 1;
        do
            Report(SERVICE_STOP_PENDING, checkpoint++);
        while (!ExitWithin(5));
    }
}

void WINAPI ServiceMain(DWORD, wchar_t**)
{
    g_statusHandle = RegisterServiceCtrlHandlerExW(g_name.c_str(), Handler, nullptr);
    if (g_statusHandle == nullptr)
        return;
    g_stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    if (!g_launch.empty()) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (CreateProcessW(nullptr, &g_launch[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
    }
    const HANDLE events[] = {g_exitRequested, g_stopRequested};
    if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
        Stop();
    Report(SERVICE_STOPPED);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && std::wstring(argv[1]) == L"idle") {
        Sleep(60000);
        return 0;
    }
    if (argc < 3)
        return 2;
    g_name = argv[1];
    g_mode = argv[2];
    if (argc >= 4)
        g_waitHint = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
    for (int i = 4; i < argc; ++i)
        g_launch += (i > 4 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    const std::wstring exitEvent = L"Global\\os_test_service_exit_" + g_name;
    g_exitRequested = CreateEventW(nullptr, TRUE, FALSE, exitEvent.c_str());
    if (g_exitRequested == nullptr)
        return 3;
    SERVICE_TABLE_ENTRYW table[] = {{&g_name[0], ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
