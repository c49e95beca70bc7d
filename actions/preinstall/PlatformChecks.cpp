#include "actions/preinstall/PlatformChecks.h"

#include "imdp/StringConv.h"
#include "imdp/UniqueHandle.h"
#include "imdp/msi/Session.h"
#include "imdp/os/SystemInfo.h"
#include "install_utils/ExportGuard.h"
#include "install_utils/MsiUtil.h"

#include <objbase.h>
#include <shlwapi.h>

#include <cwchar>
#include <cwctype>
#include <exception>
#include <initializer_list>
#include <vector>

namespace clientca {
namespace {

using InstallUtils::CMsiUtil;
using imdp::Seam;

ULONGLONG Ticks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Ticks from `from` to `to`; a clock that went back counts as no time.
ULONGLONG Advance(const FILETIME& from, const FILETIME& to)
{
    const ULONGLONG start = Ticks(from);
    const ULONGLONG end = Ticks(to);
    return end > start ? end - start : 0;
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* pattern)
{
    const size_t length = std::wcslen(pattern);
    return text.size() >= length && _wcsnicmp(text.c_str(), pattern, length) == 0;
}

bool AnySerialStartsWith(const std::vector<std::wstring>& serials, const wchar_t* pattern)
{
    for (const std::wstring& serial : serials) {
        if (StartsWithNoCase(serial, pattern))
            return true;
    }
    return false;
}

// Runs the BIOS query; false (with the reason logged) when it could not.
bool QueryBiosSerials(CMsiUtil& msi, std::vector<std::wstring>& serials)
{
    const HRESULT hr = Seam<IBiosSerialNumbers>::Current().Query(serials);
    if (SUCCEEDED(hr))
        return true;
    msi.log(imdp::log::LOG_ERROR) << L"Could not query the BIOS serial numbers. Err code = 0x" << std::hex
                                  << static_cast<unsigned long>(hr) << std::dec << std::endl;
    return false;
}

// One COM initialisation on this thread, undone when it succeeded.
class CComScope {
public:
    CComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~CComScope()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;
    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

const wchar_t kProductsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products";

// The registered install location holds at most this many characters with its terminator.
constexpr DWORD kInstallLocationChars = MAX_PATH;

} // namespace

double CpuLoadBetween(const SystemTimes& first, const SystemTimes& second)
{
    if (first.idle.dwLowDateTime == 0 || first.idle.dwHighDateTime == 0)
        return 0.0;
    const ULONGLONG total = Advance(first.kernel, second.kernel) + Advance(first.user, second.user);
    if (total == 0)
        return 0.0;
    const ULONGLONG idle = Advance(first.idle, second.idle);
    const ULONGLONG busy = total > idle ? total - idle : 0;
    return static_cast<double>(busy) * 100.0 / static_cast<double>(total);
}

std::wstring PackedProductCode(const std::wstring& code)
{
    // {01234567-9012-4567-9012-456789012345}
    if (code.size() != 38 || code.front() != L'{' || code.back() != L'}')
        return std::wstring();
    for (size_t i = 1; i < 37; ++i) {
        const bool hyphen = i == 9 || i == 14 || i == 19 || i == 24;
        if (hyphen ? code[i] != L'-' : !IsHexDigit(code[i]))
            return std::wstring();
    }
    std::wstring packed;
    packed.reserve(32);
    for (const auto& group : {std::make_pair(1, 8), std::make_pair(10, 4), std::make_pair(15, 4)}) {
        for (int i = group.first + group.second - 1; i >= group.first; --i)
            packed.push_back(code[static_cast<size_t>(i)]);
    }
    for (const size_t start : {20u, 25u, 27u, 29u, 31u, 33u, 35u}) {
        const size_t byteCount = start == 20 ? 2 : 1;
        for (size_t b = 0; b < byteCount; ++b) {
            packed.push_back(code[start + 2 * b + 1]);
            packed.push_back(code[start + 2 * b]);
        }
    }
    for (wchar_t& c : packed)
        c = static_cast<wchar_t>(std::towupper(c));
    return packed;
}

std::wstring ParentOfInstallLocation(const std::wstring& installLocation)
{
    std::wstring folder = installLocation;
    if (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    const size_t cut = folder.rfind(L'\\');
    if (cut == std::wstring::npos)
        return std::wstring();
    return folder.substr(0, cut);
}

UINT CheckCPULoadAction(MSIHANDLE hInstall)
{
    CMsiUtil msi(hInstall, L"CheckCPULoad: ");
    ISystemTimesSource& source = Seam<ISystemTimesSource>::Current();
    SystemTimes first = {};
    SystemTimes second = {};
    if (!source.Read(first)) {
        msi.log(imdp::log::LOG_ERROR) << L"Failed to detect CPU load" << std::endl;
        return ERROR_SUCCESS;
    }
    Sleep(250);
    if (!source.Read(second)) {
        msi.log(imdp::log::LOG_ERROR) << L"Failed to detect CPU load" << std::endl;
        return ERROR_SUCCESS;
    }
    const double load = CpuLoadBetween(first, second);
    if (load > 50.0) {
        msi.setProperty(L"CPUUSAGEHIGH", L"1");
        msi.log(imdp::log::LOG_WARN) << L"WARNING: Detected high CPU load, install may fail! (" << load << L"% load)"
                                     << std::endl;
    } else {
        msi.log(imdp::log::LOG_INFO) << L"CPU load is acceptable for install (" << load << L"% load)" << std::endl;
    }
    return ERROR_SUCCESS;
}

UINT DetectVMWareAction(MSIHANDLE hInstall)
{
    CMsiUtil msi(hInstall, L"DetectVMWare");
    const CComScope com;
    if (FAILED(com.result())) {
        msi.log(imdp::log::LOG_ERROR) << L"Could not initialize the COM library. Err code = 0x" << std::hex
                                      << static_cast<unsigned long>(com.result()) << std::dec << std::endl;
        return ERROR_SUCCESS;
    }
    std::vector<std::wstring> serials;
    if (!QueryBiosSerials(msi, serials))
        return ERROR_SUCCESS;
    bool vmware = AnySerialStartsWith(serials, L"VMware-");
    if (!vmware) {
        if (!QueryBiosSerials(msi, serials))
            return ERROR_SUCCESS;
        vmware = AnySerialStartsWith(serials, L"VMW");
    }
    if (vmware) {
        msi.log(imdp::log::LOG_INFO) << L"We are running under VMWare" << std::endl;
        msi.setProperty(L"VMWAREDETECTED", L"1");
    } else {
        msi.log(imdp::log::LOG_INFO) << L"We are not running under VMWare" << std::endl;
    }
    return ERROR_SUCCESS;
}

UINT ReparseCheckAction(MSIHANDLE hInstall)
{
    CMsiUtil msi(hInstall, nullptr);
    try {
        CReparsePointCache& cache = Seam<CReparsePointCache>::Current();
        bool reparse = false;
        for (const wchar_t* folder : {L"Appdata", L"Basedir"}) {
            if (cache.IsReparsePoint(msi.getProperty(folder), msi))
                reparse = true;
        }
        if (reparse)
            msi.setProperty(L"InstallingToReparse", L"1");
    } catch (const InstallUtils::CInstallUtilsException& e) {
        msi << L"Received" << e.message() << L" while checking install dir for reparse points." << std::endl;
    } catch (const std::exception& e) {
        msi << L"Received" << imdp::AnsiToWide(e.what()) << L" while checking install dir for reparse points."
            << std::endl;
    }
    return ERROR_SUCCESS;
}

UINT IsSourceDirAtRootAction(MSIHANDLE hInstall)
{
    const imdp::msi::CSession session(hInstall);
    std::wstring folder = session.GetProperty(L"SourceDir");
    if (folder.empty()) {
        const std::wstring database = session.GetProperty(L"OriginalDatabase");
        const size_t separator = database.rfind(L'\\');
        if (separator != std::wstring::npos)
            folder = database.substr(0, separator + 1);
    }
    const bool atRoot = folder.size() == 3 && !PathIsNetworkPathW(folder.c_str()) &&
                        GetDriveTypeW(folder.c_str()) == DRIVE_FIXED;
    return MsiSetPropertyW(hInstall, L"SOURCEDIRISATROOT", atRoot ? folder.c_str() : L"");
}

UINT GetCurrentInstallPathAction(MSIHANDLE hInstall)
{
    CMsiUtil msi(hInstall, L"getCurrentInstallPath ");
    std::wstring productCode;
    try {
        productCode = msi.getProperty(L"ProductCode");
    } catch (const InstallUtils::CInstallUtilsException& e) {
        msi << e.message() << L" (" << e.code() << L")" << std::endl;
        return ERROR_SUCCESS;
    }
    if (productCode.empty()) {
        msi << L"MSI Property PRODUCTCODE was found empty" << std::endl;
        return ERROR_SUCCESS;
    }
    const std::wstring packed = PackedProductCode(productCode);
    if (packed.empty()) {
        msi << L"MSI Property PRODUCTCODE is not a product code: " << productCode << std::endl;
        return ERROR_SUCCESS;
    }
    const std::wstring keyPath = std::wstring(kProductsKey) + L"\\" + packed + L"\\InstallProperties";

    // The installer keeps its registration in the 64-bit view; a 32-bit
    // process under WOW64 must ask for that view explicitly.
    const REGSAM access = imdp::os::IsWow64() ? (KEY_READ | KEY_WOW64_64KEY) : KEY_READ;
    imdp::unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, access, key.put()) != ERROR_SUCCESS) {
        msi << L"Unable to open CALDER_REG_PATH key" << std::endl;
        return ERROR_SUCCESS;
    }

    wchar_t buffer[kInstallLocationChars + 1] = {};
    DWORD size = kInstallLocationChars * sizeof(wchar_t);
    DWORD type = 0;
    const LONG result =
        RegQueryValueExW(key.get(), L"InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (result == ERROR_MORE_DATA) {
        msi << L"The key " << keyPath << L" holds an InstallLocation longer than " << (kInstallLocationChars - 1)
            << L" characters, for product code " << productCode << std::endl;
        return ERROR_SUCCESS;
    }
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        msi << L"The key " << keyPath << L" was not found for the product code " << productCode << std::endl;
        return ERROR_SUCCESS;
    }
    // The stored text need not carry its terminator; the extra element always does.
    buffer[size / sizeof(wchar_t)] = L'\0';
    const std::wstring installLocation(buffer);
    if (installLocation.empty()) {
        msi << L"The key " << keyPath << L" was empty, for product code " << productCode << std::endl;
        return ERROR_SUCCESS;
    }

    const std::wstring parent = ParentOfInstallLocation(installLocation);
    if (parent.empty()) {
        msi << L"The install location " << installLocation << L" has no parent folder, for product code "
            << productCode << std::endl;
        return ERROR_SUCCESS;
    }
    if (!msi.setProperty(L"QAXMIGINSTDIR", parent.c_str()))
        msi << L"Failed to set QAXMIGINSTDIR to " << parent << std::endl;
    return ERROR_SUCCESS;
}

} // namespace clientca

CLIENTCA_EXPORT(CheckCPULoad, clientca::CheckCPULoadAction)
CLIENTCA_EXPORT(DetectVMWare, clientca::DetectVMWareAction)
CLIENTCA_EXPORT(ReparseCheck, clientca::ReparseCheckAction)
CLIENTCA_EXPORT(IsSourceDirAtRoot, clientca::IsSourceDirAtRootAction)
CLIENTCA_EXPORT(GetCurrentInstallPath, clientca::GetCurrentInstallPathAction)
