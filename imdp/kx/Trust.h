#pragma once

#include "imdp/kx/KxAbi.h"

#include <windows.h>

#include <memory>
#include <string>

namespace imdp {
namespace kx {

// The framework's trust verifier (kxVerifyTrust). Answers are those of the
// framework: 1 yes, 0 no, a negative HRESULT when no answer could be had
// (TRUST_E_NOSIGNATURE for an unsigned file).
class ITrustVerifier {
public:
    virtual ~ITrustVerifier() = default;
    virtual LONG Initialize(LONG options) = 0;
    // `file` is the caller's open handle of `path`.
    virtual LONG VerifyFile(HANDLE file, const std::wstring& path, LONG level) = 0;
    virtual HRESULT IsWhqlSigned(const std::wstring& catalog, bool& whql) = 0;
};

class ITrust {
public:
    // The real framework service; see Trust().
    static ITrust& Production();
    virtual ~ITrust() = default;
    // Loads the verifier through the framework's interface loader (kxCore.dll).
    virtual HRESULT CreateVerifier(std::unique_ptr<ITrustVerifier>& verifier) = 0;
};

ITrust& Trust();

// True only when the verifier loads, initialises with option 1 and answers 1
// for `path` at trust level 3 (a valid signature of the maker). An absent
// framework answers false.
bool IsTrustedFile(HANDLE file, const std::wstring& path);

// Opens `path` for reading, keeps it open for the check, and asks IsTrustedFile.
bool IsTrustedImage(const std::wstring& path);

// Whether the catalog carries a Windows hardware-quality signature; a failure
// of the check (including an absent framework) is returned as such.
HRESULT IsWhqlSignedCatalog(const std::wstring& catalog, bool& whql);

} // namespace kx
} // namespace imdp
