#pragma once

#include "imdp/NonCopyable.h"
#include "imdp/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace imdp {
namespace rtdl {

// A module loaded at run time by name and freed when the object goes.
class CRTDLBase : private nca_::CNonCopyable {
public:
    // LoadLibraryW(name); throws win32_error "Failed to load DLL" with the last error.
    explicit CRTDLBase(const std::wstring& name);
    virtual ~CRTDLBase() = default;

    HMODULE Module() const noexcept { return module_.get(); }
    const std::wstring& Name() const noexcept { return name_; }

    // The address of `function`; throws win32_error "Can't get function address".
    template <typename Fn>
    Fn GetFunction(const char* function) const
    {
        return reinterpret_cast<Fn>(GetFunctionAddress(function));
    }

private:
    void* GetFunctionAddress(const char* function) const;

    std::wstring name_;
    unique_module module_;
};

} // namespace rtdl
} // namespace imdp
