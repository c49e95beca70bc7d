#include "imdp/rtdl/RTDLBase.h"

#include "imdp/Errors.h"

namespace imdp {
namespace rtdl {

CRTDLBase::CRTDLBase(const std::wstring& name) : name_(name), module_(LoadLibraryW(name.c_str()))
{
    if (!module_)
        throw win32_error("Failed to load DLL", GetLastError());
}

void* CRTDLBase::GetFunctionAddress(const char* function) const
{
    const FARPROC address = GetProcAddress(module_.get(), function);
    if (address == nullptr)
        throw win32_error("Can't get function address", GetLastError());
    return reinterpret_cast<void*>(address);
}

} // namespace rtdl
} // namespace imdp
