#pragma once

#include "imdp/Singleton.h"
#include "imdp/rtdl/RTDLBase.h"

#include <windows.h>

namespace imdp {
namespace rtdl {

// kernel32.dll, loaded once per process, with the entry points that older
// systems may lack resolved at run time.
class CKernel32 : public CRTDLBase, public CSingleton<CKernel32> {
public:
    // IsWow64Process for any process; false with the last error set on failure.
    BOOL IsWow64Process(HANDLE process, PBOOL wow64) const;

    // Whether this process is a 32-bit process under WOW64 (asked once).
    bool IsWow64() const noexcept { return wow64_; }

private:
    friend class CSingleton<CKernel32>;
    CKernel32();

    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    IsWow64ProcessFn isWow64Process_;
    bool wow64_;
};

} // namespace rtdl
} // namespace imdp
