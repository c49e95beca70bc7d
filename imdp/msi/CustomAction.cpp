#include "imdp/msi/CustomAction.h"

#include "imdp/StringConv.h"

#include <msiquery.h>

#include <ostream>
#include <string>

namespace imdp {
namespace msi {

CSession* CCustomAction::SetSession(CSession* session)
{
    session_ = session;
    return session_;
}

UINT CCustomActionWithRollback::Execute()
{
    if (MsiGetMode(Session().Get(), MSIRUNMODE_ROLLBACK)) {
        Session().Log(log::LOG_INFO) << L"Running in rollback mode" << std::endl;
        return OnRollback();
    }
    Session().Log(log::LOG_INFO) << L"Running in install mode" << std::endl;
    return OnInstall();
}

namespace {

// Writes one runner line. The runner's own lines must not throw: a line the
// installer refuses (or a text that cannot be converted) is dropped, so that
// the export still returns its result.
template <typename Text>
void LogQuietly(CSession& session, log::LogLevel level, Text text) noexcept
{
    try {
        session.Log(level) << text() << std::endl;
    } catch (...) {
    }
}

} // namespace

UINT RunCustomAction(MSIHANDLE hInstall, CCustomAction& action, const wchar_t* name)
{
    UINT result = ERROR_INSTALL_FAILURE;
    CSession session(hInstall);
    try {
        session.Log(log::LOG_DEBUG) << name << L" begin." << std::endl;
        action.SetSession(&session);
        result = action.Execute();
    } catch (const custom_action_error& e) {
        result = e.result();
        LogQuietly(session, log::LOG_ERROR, [&] { return AnsiToWide(e.what()); });
    } catch (const std::exception& e) {
        LogQuietly(session, log::LOG_ERROR, [&] { return AnsiToWide(e.what()); });
    } catch (const wchar_t* text) {
        LogQuietly(session, log::LOG_ERROR, [&] { return std::wstring(L"Exception: ") + text; });
    } catch (const char* text) {
        LogQuietly(session, log::LOG_ERROR, [&] { return L"Exception: " + AnsiToWide(text); });
    } catch (...) {
        LogQuietly(session, log::LOG_ERROR, [] { return std::wstring(L"Exception of unknown type!"); });
    }
    LogQuietly(session, log::LOG_DEBUG,
               [&] { return std::wstring(name) + L" end, return value: " + std::to_wstring(result) + L"."; });
    return result;
}

} // namespace msi
} // namespace imdp
