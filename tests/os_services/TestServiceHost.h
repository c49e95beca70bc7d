#pragma once

// Registers the test service program (or a copy of it) under a chosen name
// and mode with the real service manager, and removes it again.

#include "imdp/UniqueHandle.h"
#include "tests/support/Package.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace ostest {

inline std::wstring TestServiceProgram()
{
    return testsupport::ModuleFolder() + L"os_test_service.exe";
}

inline std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

class TestServiceHost {
public:
    // `program` is the service's file (a copy of the test service program);
    // `launch`, when given, is a command line the service starts once running.
    TestServiceHost(const std::wstring& name, const std::wstring& mode, DWORD waitHint = 0,
                    const std::wstring& program = TestServiceProgram(), const std::wstring& launch = L"")
        : name_(name), mode_(mode)
    {
        manager_.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!manager_)
            throw std::runtime_error("OpenSCManagerW failed: " + std::to_string(GetLastError()));
        Remove(); // left over from an interrupted run
        std::wstring command = L"\"" + program + L"\" " + name + L" " + mode + L" " + std::to_wstring(waitHint);
        if (!launch.empty())
            command += L" " + launch;
        service_.reset(CreateServiceW(manager_.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                      SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                      command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!service_)
            throw std::runtime_error("CreateServiceW " + Narrow(name) + " failed: " + std::to_string(GetLastError()));
    }

    ~TestServiceHost()
    {
        service_.reset();
        Remove();
    }

    TestServiceHost(const TestServiceHost&) = delete;
    TestServiceHost& operator=(const TestServiceHost&) = delete;

    const std::wstring& name() const { return name_; }

    void Start() const
    {
        if (!StartServiceW(service_.get(), 0, nullptr))
            throw std::runtime_error("StartServiceW failed: " + std::to_string(GetLastError()));
        if (!WaitForState(service_.get(), SERVICE_RUNNING, 10000))
            throw std::runtime_error("the test service did not report running");
    }

    // Sends the stop control; unless the service ignores it, returns once the
    // service has left the running state, so that a wait begins on its answer.
    void RequestStop() const
    {
        SERVICE_STATUS status = {};
        if (!ControlService(service_.get(), SERVICE_CONTROL_STOP, &status))
            throw std::runtime_error("ControlService failed: " + std::to_string(GetLastError()));
        if (mode_ == L"ignore-stop")
            return;
        const DWORD start = GetTickCount();
        while (State() == SERVICE_RUNNING) {
            if (GetTickCount() - start > 10000)
                throw std::runtime_error("the test service did not answer the stop request");
            Sleep(5);
        }
    }

    void Pause() const
    {
        SERVICE_STATUS status = {};
        if (!ControlService(service_.get(), SERVICE_CONTROL_PAUSE, &status))
            throw std::runtime_error("ControlService failed: " + std::to_string(GetLastError()));
        if (!WaitForState(service_.get(), SERVICE_PAUSED, 10000))
            throw std::runtime_error("the test service did not report paused");
    }

    DWORD State() const { return Query(service_.get()).dwCurrentState; }

private:
    static SERVICE_STATUS_PROCESS Query(SC_HANDLE service)
    {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                  &needed))
            status.dwCurrentState = 0;
        return status;
    }

    static bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeout)
    {
        const DWORD start = GetTickCount();
        while (Query(service).dwCurrentState != state) {
            if (GetTickCount() - start > timeout)
                return false;
            Sleep(20);
        }
        return true;
    }

    // Stops the service whatever its mode (its exit event, else its process
    // is ended) and deletes it.
    void Remove()
    {
        imdp::unique_service_handle service(OpenServiceW(manager_.get(), name_.c_str(), SERVICE_ALL_ACCESS));
        if (!service)
            return;
        const SERVICE_STATUS_PROCESS status = Query(service.get());
        if (status.dwCurrentState != SERVICE_STOPPED) {
            const std::wstring eventName = L"Global\\os_test_service_exit_" + name_;
            imdp::unique_kernel_handle exitEvent(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
            if (exitEvent)
                SetEvent(exitEvent.get());
            if (!WaitForState(service.get(), SERVICE_STOPPED, 10000) && status.dwProcessId != 0) {
                imdp::unique_kernel_handle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
                if (process) {
                    TerminateProcess(process.get(), 1);
                    WaitForSingleObject(process.get(), 10000);
                }
                WaitForState(service.get(), SERVICE_STOPPED, 10000);
            }
        }
        DeleteService(service.get());
        service.reset();
        // The entry goes once the last handle to it is closed.
        for (int attempt = 0; attempt < 100; ++attempt) {
            imdp::unique_service_handle probe(OpenServiceW(manager_.get(), name_.c_str(), SERVICE_QUERY_STATUS));
            if (!probe)
                break;
            Sleep(20);
        }
    }

    std::wstring name_;
    std::wstring mode_;
    imdp::unique_service_handle manager_;
    imdp::unique_service_handle service_;
};

} // namespace ostest
