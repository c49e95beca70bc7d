#pragma once

#include "imdp/kx/KxAbi.h"

#include <windows.h>

#include <memory>
#include <string>

namespace imdp {
namespace kx {

using kxabi::KX_E_NOT_FOUND;

// One named component configuration of the framework.
class IConfiguration {
public:
    virtual ~IConfiguration() = default;
    virtual HRESULT GetDword(const std::wstring& name, DWORD& value) = 0;
    // Held until Apply.
    virtual HRESULT SetDword(const std::wstring& name, DWORD value) = 0;
    // S_OK when the component asks for a reset, S_FALSE when not.
    virtual HRESULT NeedsReset() = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Apply() = 0;
};

class IConfigManagement {
public:
    virtual ~IConfigManagement() = default;
    virtual HRESULT GetConfiguration(const std::wstring& name, std::unique_ptr<IConfiguration>& configuration) = 0;
};

class IConfigService {
public:
    // The real framework service; see ConfigService().
    static IConfigService& Production();
    virtual ~IConfigService() = default;
    // The ConfigManagement object of the framework's object factory (kxCore.dll),
    // bound to the current silo.
    virtual HRESULT CreateConfigManagement(std::unique_ptr<IConfigManagement>& management) = 0;
};

IConfigService& ConfigService();

// The traffic-redirection component's command configuration: whether the
// component is enabled ("Enable", or the older "EnableNTR" where "Enable" is
// missing), and whether it wants its settings reset.
class NTRCommandConfig {
public:
    // Reads the enabled flag; fails with the configuration's answer when
    // neither value can be read.
    HRESULT Initialize(std::unique_ptr<IConfiguration> configuration);
    bool WantsReset();
    HRESULT Reset();
    bool IsEnabled() const { return enabled_; }
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    // Writes the enabled flag under the name it was read from and applies.
    HRESULT Apply();

private:
    std::unique_ptr<IConfiguration> configuration_;
    std::wstring enabledName_;
    bool enabled_ = false;
};

} // namespace kx
} // namespace imdp
