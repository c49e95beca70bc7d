#pragma once

// Shared by the wrappers of framework objects: the library an object came
// from stays loaded while any wrapper of its objects lives.

#include "imdp/UniqueHandle.h"
#include "imdp/kx/FrameworkFolder.h"

#include <memory>

namespace imdp {
namespace kx {

using SharedModule = std::shared_ptr<unique_module>;

// Loads a framework library and finds one of its exports.
template <typename Function>
HRESULT LoadFrameworkExport(const wchar_t* fileName, const char* exportName, SharedModule& module, Function& function)
{
    auto loaded = std::make_shared<unique_module>();
    const DWORD error = LoadFrameworkLibrary(fileName, *loaded);
    if (error != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(error);
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(loaded->get(), exportName)));
    if (function == nullptr)
        return HRESULT_FROM_WIN32(GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_PROC_NOT_FOUND);
    module = std::move(loaded);
    return S_OK;
}

// A framework object and the library it lives in; the object is released
// before the library can be unloaded.
template <typename T>
struct KxObject {
    SharedModule module;
    com_ptr<T> object;

    KxObject() = default;
    KxObject(SharedModule m, T* o) : module(std::move(m)), object(o) {}
    KxObject(KxObject&&) = default;
    KxObject& operator=(KxObject&& other)
    {
        object = std::move(other.object);
        module = std::move(other.module);
        return *this;
    }
    ~KxObject() { object.reset(); }
};

} // namespace kx
} // namespace imdp
