#pragma once

#include <windows.h>
#include <msi.h>

#include <string>

namespace InstallUtils {

// Start and status of one Windows service (Windows Defender's "WinDefend"
// unless another is named), logging into the installer log of the given
// handle. Unexpected service-manager failures throw CInstallUtilsException;
// a missing service is an ordinary false.
class CServiceUtil {
public:
    explicit CServiceUtil(std::wstring serviceName = L"WinDefend");

    const std::wstring& serviceName() const noexcept { return serviceName_; }

    // StartServiceW without arguments; true when the service was started.
    bool startService(MSIHANDLE hInstall) const;
    // True when the service is in the SERVICE_RUNNING state.
    bool isServiceRunning(MSIHANDLE hInstall) const;
    // True when the service is installed.
    bool isServiceInstalled() const;

private:
    std::wstring serviceName_;
};

} // namespace InstallUtils
