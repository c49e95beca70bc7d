#include "imdp/msi/Session.h"

#include <msiquery.h>

#include <vector>

namespace imdp {
namespace msi {

CSession::CSession(MSIHANDLE hInstall)
    : CHandle(std::make_shared<msi_handle_wrapper>(hInstall, false)),
      immediate_(!MsiGetMode(hInstall, MSIRUNMODE_SCHEDULED) && !MsiGetMode(hInstall, MSIRUNMODE_ROLLBACK) &&
                 !MsiGetMode(hInstall, MSIRUNMODE_COMMIT))
{
}

CSession::~CSession() = default;

bool CSession::IsDeferredReadable(const std::wstring& name)
{
    return name == L"CustomActionData" || name == L"ProductCode" || name == L"UserSID";
}

void CSession::RequireImmediate() const
{
    if (!immediate_)
        throw msi_error("Cannot access session details from a non-immediate custom action", ERROR_ACCESS_DENIED);
}

std::wstring CSession::GetProperty(const std::wstring& name) const
{
    // The installer under test lets a deferred action read anything; the rule is kept here.
    if (!immediate_ && !IsDeferredReadable(name))
        throw msi_error("Cannot access property from a non-immediate custom action", ERROR_ACCESS_DENIED);

    std::vector<wchar_t> buffer(260, L'\0');
    DWORD length = static_cast<DWORD>(buffer.size());
    UINT result = MsiGetPropertyW(Get(), name.c_str(), buffer.data(), &length);
    if (result == ERROR_MORE_DATA) {
        buffer.assign(length + 1, L'\0');
        length += 1;
        result = MsiGetPropertyW(Get(), name.c_str(), buffer.data(), &length);
    }
    if (result != ERROR_SUCCESS)
        throw msi_error("MsiGetProperty failed", result);
    return std::wstring(buffer.data(), length);
}

std::wstring CSession::GetCustomActionData() const
{
    return GetProperty(L"CustomActionData");
}

void CSession::SetProperty(const std::wstring& name, const std::wstring& value)
{
    RequireImmediate();
    const UINT result = MsiSetPropertyW(Get(), name.c_str(), value.c_str());
    if (result != ERROR_SUCCESS)
        throw msi_error("MsiSetProperty failed", result);
}

bool CSession::EvaluateCondition(const std::wstring& condition)
{
    RequireImmediate();
    switch (MsiEvaluateConditionW(Get(), condition.c_str())) {
    case MSICONDITION_FALSE:
        return false;
    case MSICONDITION_TRUE:
        return true;
    default:
        throw msi_error("MsiEvaluateCondition failed", ERROR_FUNCTION_FAILED);
    }
}

CDatabase& CSession::GetDatabase()
{
    RequireImmediate();
    if (!database_.IsValid()) {
        const MSIHANDLE database = MsiGetActiveDatabase(Get());
        if (database == 0)
            throw msi_error("MsiGetActiveDatabase failed", ERROR_FUNCTION_FAILED);
        database_ = CDatabase(std::make_shared<msi_handle_wrapper>(database, true));
    }
    return database_;
}

std::wostream& CSession::Log(log::LogLevel level)
{
    if (!logger_)
        logger_.reset(new CMsiLogger(CMsiLogger::CreateLogBuffer(this), log::LOG_TRACE));
    return logger_->Log(level);
}

} // namespace msi
} // namespace imdp
