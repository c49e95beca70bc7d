#include "install_utils/ServiceUtil.h"

#include "imdp/UniqueHandle.h"
#include "install_utils/InstallUtilsException.h"
#include "install_utils/MsiUtil.h"

#include "imdp/log/LogLevel.h"

namespace InstallUtils {
namespace {

// The code of the exception when the existence of a service cannot be told.
const UINT kUnexpected = 0x8000FFFF;

std::wstring WithLastError(const wchar_t* text, DWORD error)
{
    return text + std::to_wstring(error);
}

imdp::unique_service_handle OpenManager()
{
    imdp::unique_service_handle manager(OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_CONNECT));
    if (!manager)
        throw CInstallUtilsException(WithLastError(L"OpenSCManager failed. GetLastError(): ", GetLastError()),
                                     ERROR_FUNCTION_FAILED);
    return manager;
}

} // namespace

CServiceUtil::CServiceUtil(std::wstring serviceName) : serviceName_(std::move(serviceName))
{
}

bool CServiceUtil::startService(MSIHANDLE hInstall) const
{
    CMsiUtil msi(hInstall, L"InstallUtils::CServiceUtil::startService");
    imdp::unique_service_handle manager(OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_CONNECT));
    if (!manager) {
        msi.logMessage(L"Could not start service - %s", serviceName_.c_str());
        return false;
    }
    imdp::unique_service_handle service(OpenServiceW(manager.get(), serviceName_.c_str(), SERVICE_START));
    if (!service) {
        msi.logMessage(L"Service not installed - %s", serviceName_.c_str());
        return false;
    }
    if (!StartServiceW(service.get(), 0, nullptr)) {
        msi.logMessage(L"Could not start service - %s", serviceName_.c_str());
        return false;
    }
    msi.logMessage(L"Started service - %s", serviceName_.c_str());
    return true;
}

bool CServiceUtil::isServiceRunning(MSIHANDLE hInstall) const
{
    CMsiUtil msi(hInstall, L"InstallUtils::CServiceUtil::isServiceRunning: ");
    msi.log(imdp::log::LOG_DEBUG) << L"Checking status of service: " << serviceName_ << std::endl;
    const imdp::unique_service_handle manager = OpenManager();
    imdp::unique_service_handle service(OpenServiceW(manager.get(), serviceName_.c_str(), SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            msi.log(imdp::log::LOG_INFO) << L"Service " << serviceName_ << L" does not exist." << std::endl;
            return false;
        }
        throw CInstallUtilsException(WithLastError(L"OpenService failed. GetLastError(): ", error),
                                     ERROR_FUNCTION_FAILED);
    }
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.get(), &status))
        throw CInstallUtilsException(WithLastError(L"QueryServiceStatus failed. GetLastError(): ", GetLastError()),
                                     ERROR_FUNCTION_FAILED);
    const bool running = status.dwCurrentState == SERVICE_RUNNING;
    msi.log(imdp::log::LOG_INFO) << L"Service " << serviceName_
                              << (running ? L" is currently running." : L" is not running.") << std::endl;
    return running;
}

bool CServiceUtil::isServiceInstalled() const
{
    const imdp::unique_service_handle manager = OpenManager();
    imdp::unique_service_handle service(OpenServiceW(manager.get(), serviceName_.c_str(), SERVICE_QUERY_STATUS));
    if (service)
        return true;
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST)
        return false;
    throw CInstallUtilsException(L"Unable to query service " + serviceName_ + L" status. GetLastError() returned " +
                                     std::to_wstring(error),
                                 kUnexpected);
}

} // namespace InstallUtils
