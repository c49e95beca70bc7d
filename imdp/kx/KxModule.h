#pragma once

// Shared by the wrappers of framework objects: the library an object came
// from stays loaded while any wrapper of its objects lives.

#include "imdp/UniqueHandle.h"
#include "imdp/kx/FrameworkFolder.h"
#include "imdp/kx/KxAbi.h"
#include "imdp/kx/Silo.h"

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

// Creates an object through a framework library's factory export (class and
// interface ids) and attaches it to the current silo's registry root.
template <typename T>
HRESULT CreateSiloObject(const wchar_t* library, const char* factory, const GUID& clsid, const GUID& iid,
                         KxObject<T>& created)
{
    SharedModule module;
    kxabi::KxCreateObjectFn create = nullptr;
    HRESULT hr = LoadFrameworkExport(library, factory, module, create);
    if (FAILED(hr))
        return hr;
    void* raw = nullptr;
    hr = create(&clsid, &iid, &raw);
    if (FAILED(hr))
        return hr;
    if (raw == nullptr)
        return E_POINTER;
    KxObject<T> object(module, static_cast<T*>(raw));
    const std::wstring root = Silo().RegistryRoot();
    hr = object.object->AttachSilo(root.empty() ? nullptr : root.c_str());
    if (FAILED(hr))
        return hr;
    created = std::move(object);
    return S_OK;
}

} // namespace kx
} // namespace imdp
