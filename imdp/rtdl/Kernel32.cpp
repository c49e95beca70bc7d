#include "imdp/rtdl/Kernel32.h"

#include "imdp/Errors.h"

namespace imdp {
namespace rtdl {

CKernel32::CKernel32()
    : CRTDLBase(L"kernel32.dll"),
      isWow64Process_(GetFunction<IsWow64ProcessFn>("IsWow64Process")),
      wow64_(false)
{
    BOOL answer = FALSE;
    if (!isWow64Process_(GetCurrentProcess(), &answer))
        throw win32_error("IsWow64Process failed", GetLastError());
    wow64_ = answer == TRUE;
}

BOOL CKernel32::IsWow64Process(HANDLE process, PBOOL wow64) const
{
    return isWow64Process_(process, wow64);
}

} // namespace rtdl
} // namespace imdp
