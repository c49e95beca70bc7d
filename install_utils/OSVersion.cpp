#include "install_utils/OSVersion.h"

#include "imdp/Errors.h"
#include "imdp/os/RegistryKey.h"
#include "imdp/rtdl/RTDLBase.h"

#include <cstring>
#include <cwchar>
#include <mutex>

namespace InstallUtils {
namespace {

const wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

std::mutex g_lock;
std::shared_ptr<const COSVersion> g_instance;

static_assert(sizeof(OSVERSIONINFOW) == 276, "OSVERSIONINFOW layout");
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "OSVERSIONINFOEXW layout");

const HRESULT kInvalidData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// Failure of one step of the fill, carrying its HRESULT.
struct FillError {
    HRESULT result;
};

bool IsMissing(const imdp::win32_error& error)
{
    return error.code() == ERROR_FILE_NOT_FOUND || error.code() == ERROR_PATH_NOT_FOUND;
}

// Decimal digits only, within the range of a DWORD.
bool ParseNumber(const std::wstring& text, DWORD& number)
{
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value > 0xFFFFFFFFull)
        return false;
    number = static_cast<DWORD>(value);
    return true;
}

// Reads a DWORD value; false when it does not exist.
bool ReadDword(const imdp::os::CRegistryKey& key, const wchar_t* name, DWORD& number)
{
    try {
        number = key.QueryDword(name);
        return true;
    } catch (const imdp::win32_error& error) {
        if (IsMissing(error))
            return false;
        throw FillError{HRESULT_FROM_WIN32(error.code())};
    }
}

// Reads a REG_SZ or REG_EXPAND_SZ value; false when it does not exist.
bool ReadString(const imdp::os::CRegistryKey& key, const wchar_t* name, std::wstring& text)
{
    try {
        text = key.QueryString(name);
        return true;
    } catch (const imdp::win32_error& error) {
        if (IsMissing(error))
            return false;
        throw FillError{HRESULT_FROM_WIN32(error.code())};
    }
}

} // namespace

COSVersion::COSVersion() : data_(), fillResult_(E_FAIL)
{
    fillResult_ = Fill();
    if (FAILED(fillResult_)) {
        data_ = OSVERSIONINFOEXW();
        data_.dwOSVersionInfoSize = sizeof(data_);
    }
}

std::shared_ptr<const COSVersion> COSVersion::Instance()
{
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_instance)
        g_instance.reset(new COSVersion());
    return g_instance;
}

std::shared_ptr<const COSVersion> COSVersion::Refill()
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_instance.reset(new COSVersion());
    return g_instance;
}

HRESULT COSVersion::Fill()
{
    data_ = OSVERSIONINFOEXW();
    data_.dwOSVersionInfoSize = sizeof(data_);
    try {
        using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
        const imdp::rtdl::CRTDLBase ntdll(L"NTDLL.DLL");
        const auto rtlGetVersion = ntdll.GetFunction<RtlGetVersionFn>("RtlGetVersion");
        if (rtlGetVersion(&data_) != 0)
            return E_FAIL;
    } catch (const imdp::win32_error&) {
        return E_FAIL;
    }

    try {
        imdp::os::CRegistryKey key;
        try {
            key = imdp::os::CRegistryKey(KEY_WOW64_64KEY).OpenSubKey(kCurrentVersionKey, KEY_QUERY_VALUE);
        } catch (const imdp::win32_error& error) {
            if (IsMissing(error))
                return S_OK;
            return HRESULT_FROM_WIN32(error.code());
        }

        DWORD major = 0;
        DWORD minor = 0;
        std::wstring text;
        if (ReadDword(key, L"CurrentMajorVersionNumber", major)) {
            if (!ReadDword(key, L"CurrentMinorVersionNumber", minor))
                minor = 0;
            data_.dwMajorVersion = major;
            data_.dwMinorVersion = minor;
        } else if (ReadString(key, L"CurrentVersion", text)) {
            const size_t point = text.find(L'.');
            if (point == std::wstring::npos || !ParseNumber(text.substr(0, point), major) ||
                !ParseNumber(text.substr(point + 1), minor))
                return kInvalidData;
            data_.dwMajorVersion = major;
            data_.dwMinorVersion = minor;
        }

        if (ReadString(key, L"CurrentBuildNumber", text)) {
            DWORD build = 0;
            if (!ParseNumber(text, build))
                return kInvalidData;
            data_.dwBuildNumber = build;
        }

        if (ReadString(key, L"CSDVersion", text)) {
            const size_t capacity = sizeof(data_.szCSDVersion) / sizeof(data_.szCSDVersion[0]);
            const size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
            wmemset(data_.szCSDVersion, L'\0', capacity);
            wmemcpy(data_.szCSDVersion, text.c_str(), length);
        }
    } catch (const FillError& error) {
        return error.result;
    } catch (const imdp::win32_error& error) {
        return HRESULT_FROM_WIN32(error.code());
    }
    return S_OK;
}

HRESULT COSVersion::GetVersionInfo(OSVERSIONINFOW* info) const
{
    if (info == nullptr)
        return E_POINTER;
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOW) && size != sizeof(OSVERSIONINFOEXW))
        return E_INVALIDARG;
    if (!filled())
        return E_FAIL;
    memcpy(info, &data_, size);
    info->dwOSVersionInfoSize = size;
    return S_OK;
}

} // namespace InstallUtils
