#pragma once

#include "imdp/NonCopyable.h"
#include "imdp/log/LogLevel.h"
#include "imdp/msi/Handle.h"
#include "imdp/msi/MsiLogger.h"

#include <memory>
#include <ostream>
#include <string>

namespace imdp {
namespace msi {

// The context of an object-style action: properties under the
// immediate/deferred rule, the active database and the timestamped logger.
// Wraps the install handle without owning it.
class CSession : public CHandle, private nca_::CNonCopyable {
public:
    explicit CSession(MSIHANDLE hInstall);
    ~CSession() override;

    bool IsImmediate() const noexcept { return immediate_; }

    std::wstring GetProperty(const std::wstring& name) const;
    std::wstring GetCustomActionData() const;
    void SetProperty(const std::wstring& name, const std::wstring& value);
    bool EvaluateCondition(const std::wstring& condition);
    CDatabase& GetDatabase();

    std::wostream& Log(log::LogLevel level);

    // The properties the installer hands to deferred, rollback and commit actions.
    static bool IsDeferredReadable(const std::wstring& name);

private:
    void RequireImmediate() const;

    bool immediate_;
    CDatabase database_;
    std::unique_ptr<CMsiLogger> logger_;
};

} // namespace msi
} // namespace imdp
