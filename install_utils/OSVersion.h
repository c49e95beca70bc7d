#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace InstallUtils {

// The true operating-system version, independent of compatibility shims:
// RtlGetVersion, overridden by the values of
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion in the 64-bit view.
// One instance per process, filled on first use; holders keep the data they
// got even when the version is filled again.
class COSVersion {
public:
    // The process-wide version, filled on first call.
    static std::shared_ptr<const COSVersion> Instance();

    // Reads the system again and makes the new data the process-wide version.
    // The version is a fact of the machine, so this is needed only where the
    // machine's version changes under a running process, as in tests that set
    // the version values in the registry.
    static std::shared_ptr<const COSVersion> Refill();

    // S_OK when the data were filled; E_FAIL when RtlGetVersion failed;
    // HRESULT_FROM_WIN32(ERROR_INVALID_DATA) when a registry value had the wrong
    // type or could not be parsed; the error of a registry read otherwise.
    HRESULT FillResult() const noexcept { return fillResult_; }

    // Fills an OSVERSIONINFOW (dwOSVersionInfoSize 276) or OSVERSIONINFOEXW
    // (284). E_FAIL when the data could not be filled, E_POINTER for no
    // record, E_INVALIDARG for any other size.
    HRESULT GetVersionInfo(OSVERSIONINFOW* info) const;

    // The data; all zero (and an empty service-pack text) after a failed fill.
    DWORD Major() const noexcept { return filled() ? data_.dwMajorVersion : 0; }
    DWORD Minor() const noexcept { return filled() ? data_.dwMinorVersion : 0; }
    DWORD Build() const noexcept { return filled() ? data_.dwBuildNumber : 0; }
    std::wstring ServicePack() const { return filled() ? std::wstring(data_.szCSDVersion) : std::wstring(); }
    BYTE ProductType() const noexcept { return filled() ? data_.wProductType : 0; }
    WORD SuiteMask() const noexcept { return filled() ? data_.wSuiteMask : 0; }

    COSVersion(const COSVersion&) = delete;
    COSVersion& operator=(const COSVersion&) = delete;

private:
    COSVersion();
    bool filled() const noexcept { return SUCCEEDED(fillResult_); }
    HRESULT Fill();

    OSVERSIONINFOEXW data_;
    HRESULT fillResult_;
};

} // namespace InstallUtils
