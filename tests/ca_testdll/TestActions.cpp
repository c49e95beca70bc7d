// Custom actions that exist only for the tests: they show what the
// framework does where clientca's own exports cannot (yet).

#include "imdp/Errors.h"
#include "imdp/msi/CustomAction.h"
#include "install_utils/ExportGuard.h"
#include "install_utils/MsiUtil.h"

#include <stdexcept>

using imdp::msi::CCustomAction;
using imdp::msi::CCustomActionWithRollback;
using imdp::msi::RunCustomAction;

namespace {

class CRollbackProbe : public CCustomActionWithRollback {
public:
    UINT OnInstall() override
    {
        Session().Log(imdp::log::LOG_INFO) << L"probe: install body ran" << std::endl;
        return ERROR_SUCCESS;
    }
    UINT OnRollback() override
    {
        Session().Log(imdp::log::LOG_INFO) << L"probe: rollback body ran" << std::endl;
        return ERROR_SUCCESS;
    }
};

// Throws what the table of probes below names.
class CThrowingProbe : public CCustomAction {
public:
    explicit CThrowingProbe(int kind) : kind_(kind) {}
    UINT Execute() override
    {
        switch (kind_) {
        case 0:
            throw imdp::msi::msi_error("probe msi failure", ERROR_FUNCTION_FAILED);
        case 1:
            throw imdp::msi::custom_action_error("probe cancelled by the user", ERROR_INSTALL_USEREXIT);
        case 2:
            throw imdp::win32_error("probe CreateFileW", ERROR_ACCESS_DENIED);
        case 3:
            throw L"probe wide text";
        case 4:
            throw "probe narrow text";
        default:
            throw 42;
        }
    }

private:
    int kind_;
};

// Reads properties the way a deferred action would and logs what it got.
class CDeferredReader : public CCustomAction {
public:
    UINT Execute() override
    {
        auto& session = Session();
        session.Log(imdp::log::LOG_INFO) << L"probe: immediate=" << (session.IsImmediate() ? 1 : 0) << std::endl;
        for (const wchar_t* name : {L"ProductCode", L"CustomActionData", L"INSTALLDIR"}) {
            try {
                session.Log(imdp::log::LOG_INFO)
                    << L"probe: " << name << L"=" << session.GetProperty(name) << std::endl;
            } catch (const imdp::msi::msi_error& e) {
                session.Log(imdp::log::LOG_INFO) << L"probe: " << name << L" refused " << e.code() << L" "
                                                  << e.message().c_str() << std::endl;
            }
        }
        try {
            session.SetProperty(L"PROBE_SET", L"1");
            session.Log(imdp::log::LOG_INFO) << L"probe: SetProperty allowed" << std::endl;
        } catch (const imdp::msi::msi_error& e) {
            session.Log(imdp::log::LOG_INFO) << L"probe: SetProperty refused " << e.code() << std::endl;
        }
        return ERROR_SUCCESS;
    }
};

UINT RunThrowing(MSIHANDLE hInstall, int kind, const wchar_t* name)
{
    CThrowingProbe probe(kind);
    return RunCustomAction(hInstall, probe, name);
}

UINT EscapeFromUtilityBody(MSIHANDLE hInstall)
{
    InstallUtils::CMsiUtil msi(hInstall, L"ProbeEscape: ");
    msi << L"about to throw" << std::endl;
    throw std::runtime_error("probe escaped");
}

} // namespace

extern "C" UINT __stdcall ProbeRollback(MSIHANDLE hInstall)
{
    CRollbackProbe probe;
    return RunCustomAction(hInstall, probe, L"ProbeRollback");
}

extern "C" UINT __stdcall ProbeThrowMsiError(MSIHANDLE h) { return RunThrowing(h, 0, L"ProbeThrowMsiError"); }
extern "C" UINT __stdcall ProbeThrowCustomActionError(MSIHANDLE h) { return RunThrowing(h, 1, L"ProbeThrowCustomActionError"); }
extern "C" UINT __stdcall ProbeThrowWin32Error(MSIHANDLE h) { return RunThrowing(h, 2, L"ProbeThrowWin32Error"); }
extern "C" UINT __stdcall ProbeThrowWideText(MSIHANDLE h) { return RunThrowing(h, 3, L"ProbeThrowWideText"); }
extern "C" UINT __stdcall ProbeThrowNarrowText(MSIHANDLE h) { return RunThrowing(h, 4, L"ProbeThrowNarrowText"); }
extern "C" UINT __stdcall ProbeThrowUnknown(MSIHANDLE h) { return RunThrowing(h, 5, L"ProbeThrowUnknown"); }

extern "C" UINT __stdcall ProbeDeferredReader(MSIHANDLE hInstall)
{
    CDeferredReader probe;
    return RunCustomAction(hInstall, probe, L"ProbeDeferredReader");
}

CLIENTCA_EXPORT(ProbeEscape, EscapeFromUtilityBody)
