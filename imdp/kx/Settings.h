#pragma once

#include "imdp/kx/KxAbi.h"

#include <windows.h>

#include <memory>
#include <string>

namespace imdp {
namespace kx {

using kxabi::KX_E_BUFFER_TOO_SMALL;
using kxabi::KX_E_NOT_FOUND;

// One named key of the framework settings.
class ISettingsKey {
public:
    virtual ~ISettingsKey() = default;
    virtual HRESULT GetDword(const std::wstring& name, DWORD& value) = 0;
    // A null `buffer`, or `size` smaller than the value, answers
    // KX_E_BUFFER_TOO_SMALL with `size` set to the value's size; otherwise the
    // value is copied and `size` set to its length.
    virtual HRESULT GetBinary(const std::wstring& name, BYTE* buffer, DWORD& size) = 0;
    // Held until Commit.
    virtual HRESULT SetDword(const std::wstring& name, DWORD value) = 0;
    virtual HRESULT Commit() = 0;
};

class ISettingsManager {
public:
    virtual ~ISettingsManager() = default;
    // KX_E_NOT_FOUND when the key does not exist.
    virtual HRESULT OpenKey(const std::wstring& name, std::unique_ptr<ISettingsKey>& key) = 0;
};

class ISettings {
public:
    // The real framework service; see Settings().
    static ISettings& Production();
    virtual ~ISettings() = default;
    // The framework is installed: its folder is recorded and holds kxSet.dll.
    virtual bool IsActive() = 0;
    // Loads kxSet.dll from the framework folder and creates its settings
    // manager, bound to the current silo's registry root (the framework's
    // default root when no silo is current). Failures are HRESULTs: a Win32
    // load error as HRESULT_FROM_WIN32, or the library's own answer.
    virtual HRESULT CreateManager(std::unique_ptr<ISettingsManager>& manager) = 0;
};

ISettings& Settings();

} // namespace kx
} // namespace imdp
