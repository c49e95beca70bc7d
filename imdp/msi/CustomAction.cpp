#include "imdp/msi/CustomAction.h"

#include "imdp/StringConv.h"

#include <msiquery.h>

#include <ostream>

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
        session.Log(log::LOG_ERROR) << AnsiToWide(e.what()) << std::endl;
    } catch (const std::exception& e) {
        session.Log(log::LOG_ERROR) << AnsiToWide(e.what()) << std::endl;
    } catch (const wchar_t* text) {
        session.Log(log::LOG_ERROR) << L"Exception: " << text << std::endl;
    } catch (const char* text) {
        session.Log(log::LOG_ERROR) << L"Exception: " << AnsiToWide(text) << std::endl;
    } catch (...) {
        session.Log(log::LOG_ERROR) << L"Exception of unknown type!" << std::endl;
    }
    session.Log(log::LOG_DEBUG) << name << L" end, return value: " << result << L"." << std::endl;
    return result;
}

} // namespace msi
} // namespace imdp
