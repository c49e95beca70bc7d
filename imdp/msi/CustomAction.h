#pragma once

#include "imdp/NonCopyable.h"
#include "imdp/msi/Session.h"

#include <windows.h>
#include <msi.h>

namespace imdp {
namespace msi {

// An object-style custom action; RunCustomAction gives it its session.
class CCustomAction : private nca_::CNonCopyable {
public:
    CCustomAction() = default;
    virtual CSession* SetSession(CSession* session);
    virtual UINT Execute() = 0;
    virtual ~CCustomAction() = default;

protected:
    CSession& Session() const { return *session_; }

private:
    CSession* session_ = nullptr;
};

// One entry point for a deferred action and its rollback partner: the run
// mode chooses the body.
class CCustomActionWithRollback : public CCustomAction {
public:
    UINT Execute() override;
    virtual UINT OnInstall() = 0;
    virtual UINT OnRollback() = 0;
};

// Runs an object-style action: begin and end lines at DEBUG, every exception
// turned into an ERROR line and a result (1603 unless a custom_action_error names one).
UINT RunCustomAction(MSIHANDLE hInstall, CCustomAction& action, const wchar_t* name);

} // namespace msi
} // namespace imdp
