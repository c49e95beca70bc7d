#include "actions/preinstall/InstallPathCheck.h"

#include "imdp/UniqueHandle.h"
#include "imdp/os/SystemInfo.h"
#include "install_utils/ExportGuard.h"
#include "install_utils/OSVersion.h"
#include "resources/resource.h"

#include <winternl.h>

#include <cstdlib>
#include <cwctype>
#include <ios>
#include <locale>
#include <new>
#include <vector>

namespace InstallPath {
namespace {

// The installer answers "no property" and "too long for the buffer" alike: not read.
bool ReadPropertyInto(MSIHANDLE hInstall, const wchar_t* name, DWORD capacity, std::wstring& value)
{
    std::vector<wchar_t> buffer(capacity, L'\0');
    DWORD length = capacity;
    if (MsiGetPropertyW(hInstall, name, buffer.data(), &length) != ERROR_SUCCESS)
        return false;
    value.assign(buffer.data(), length);
    return true;
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix)
{
    return !prefix.empty() && text.size() >= prefix.size() &&
           CompareStringOrdinal(text.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

std::wstring WithTrailingBackslash(std::wstring path)
{
    if (path.empty() || path.back() != L'\\')
        path += L'\\';
    return path;
}

std::wstring ParentOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsClassicSpace(wchar_t c)
{
    return std::isspace(c, std::locale::classic()) || c == L'\t';
}

class CFolderCaseQuery : public IFolderCaseQuery {
public:
    bool IsCaseSensitive(const std::wstring& folder) override
    {
        using NtQueryInformationFileFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        const auto query = ntdll == nullptr ? nullptr
                                            : reinterpret_cast<NtQueryInformationFileFn>(reinterpret_cast<void*>(
                                                  GetProcAddress(ntdll, "NtQueryInformationFile")));
        if (query == nullptr)
            return false;
        imdp::unique_file_handle handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                    nullptr, OPEN_EXISTING,
                                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!handle)
            return false;
        IO_STATUS_BLOCK status = {};
        ULONG flags = 0;
        const ULONG kFileCaseSensitiveInformation = 71;
        if (query(handle.get(), &status, &flags, sizeof(flags), kFileCaseSensitiveInformation) < 0)
            return false;
        return (flags & 1) != 0;
    }
};

bool IsExistingFolder(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool AnyFolderBelowIsCaseSensitive(IFolderCaseQuery& query, const std::wstring& folder)
{
    WIN32_FIND_DATAW found = {};
    imdp::unique_find_handle search(FindFirstFileW((folder + L"\\*").c_str(), &found));
    if (!search)
        return false;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            continue;
        // Links are not followed: their targets are other folders' business.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            continue;
        const std::wstring child = folder + L"\\" + name;
        if (query.IsCaseSensitive(child) || AnyFolderBelowIsCaseSensitive(query, child))
            return true;
    } while (FindNextFileW(search.get(), &found));
    return false;
}

} // namespace

IFolderCaseQuery& IFolderCaseQuery::Production()
{
    static CFolderCaseQuery real;
    return real;
}

std::wstring ExpandPath(InstallUtils::CMsiUtil& msi, const std::wstring& path)
{
    const std::locale& classic = std::locale::classic();
    std::wstring result;
    size_t i = 0;
    while (i < path.size()) {
        if (path[i] != L'%') {
            result += path[i++];
            continue;
        }
        size_t end = i + 1;
        while (end < path.size() && !std::ispunct(path[end], classic))
            ++end;
        const std::wstring reference = path.substr(i, end - i);
        const std::wstring name = reference.substr(1);
        const bool hasEnding = end < path.size();
        const wchar_t ending = hasEnding ? path[end] : L'\0';

        // The process environment: size query, then the value.
        std::wstring value;
        bool defined = false;
        const DWORD size = name.empty() ? 0 : GetEnvironmentVariableW(name.c_str(), nullptr, 0);
        if (size > 0) {
            std::vector<wchar_t> buffer(size, L'\0');
            const DWORD length = GetEnvironmentVariableW(name.c_str(), buffer.data(), size);
            if (length < size) {
                value.assign(buffer.data(), length);
                defined = true;
            }
        }
        msi << reference << L" expanded to " << (defined ? value : reference) << std::endl;
        if (defined) {
            result += value;
            if (hasEnding && ending != L'%')
                result += ending;
        } else {
            result += reference;
            if (hasEnding)
                result += ending;
        }
        i = hasEnding ? end + 1 : end;
    }
    return result;
}

UINT ValidatePathString(const std::wstring& path, std::wstring& trimmed)
{
    const int length = lstrlenW(path.c_str());
    if (length <= 3)
        return IDS_PATH_ROOT;
    if (length >= 128)
        return IDS_PATH_TOO_LONG;
    trimmed.assign(path.c_str(), static_cast<size_t>(length)); // fits: shorter than 128
    if (trimmed.back() == L'\\') {
        const bool afterLeadByte =
            trimmed.size() >= 2 && IsDBCSLeadByte(static_cast<BYTE>(trimmed[trimmed.size() - 2] & 0xFF));
        if (!afterLeadByte)
            trimmed.pop_back();
    }
    for (size_t i = 0; i + 1 < trimmed.size(); ++i)
        if (trimmed[i] == L'\\' && IsClassicSpace(trimmed[i + 1]))
            return IDS_PATH_LEADING_SPACE;
    const size_t firstBackslash = trimmed.find(L'\\');
    if (firstBackslash != std::wstring::npos) {
        for (const wchar_t* p = trimmed.c_str() + firstBackslash; *p != L'\0'; p = CharNextW(p)) {
            if (*p == L';')
                return IDS_PATH_SEMICOLON;
            if (*p == L'&')
                return IDS_PATH_AMPERSAND;
            if (*p == L'%')
                return IDS_PATH_PERCENT;
        }
    }
    return 0;
}

bool SurvivesCodePageRoundTrip(const std::wstring& path)
{
    char narrow[MAX_PATH] = {};
    const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), -1, narrow, MAX_PATH, nullptr,
                                          nullptr);
    if (bytes == 0)
        return false;
    wchar_t wide[MAX_PATH] = {};
    if (MultiByteToWideChar(CP_ACP, MB_USEGLYPHCHARS, narrow, -1, wide, MAX_PATH) == 0)
        return false;
    return path == wide;
}

bool IsOnLocalFixedDrive(const std::wstring& path)
{
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\')
        return false;
    std::wstring folder = path;
    if (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    while (!folder.empty()) {
        if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
            const UINT type = GetDriveTypeW(WithTrailingBackslash(folder).c_str());
            return type == DRIVE_FIXED || type == DRIVE_UNKNOWN;
        }
        folder = ParentOf(folder);
    }
    return true;
}

bool IsOnReFS(const std::wstring& path)
{
    std::wstring folder = path;
    if (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    while (!folder.empty()) {
        wchar_t volume[MAX_PATH] = {};
        if (GetVolumeNameForVolumeMountPointW(WithTrailingBackslash(folder).c_str(), volume, MAX_PATH)) {
            wchar_t fileSystem[MAX_PATH + 1] = {};
            if (!GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1))
                return false;
            return CompareStringOrdinal(fileSystem, -1, L"ReFS", -1, TRUE) == CSTR_EQUAL;
        }
        folder = ParentOf(folder);
    }
    return false;
}

bool IsInReservedFolder(const std::wstring& path)
{
    const std::wstring system = imdp::os::GetSystemDirectory();
    const size_t slash = system.find(L'\\');
    if (system.empty() || slash == std::wstring::npos)
        return false;
    return StartsWithNoCase(WithTrailingBackslash(path), system.substr(0, slash) + L"\\PerfLogs\\");
}

bool IsOnStorageSpace(InstallUtils::CMsiUtil& msi, WmiUtil::IWmiQuery& wmi, wchar_t driveLetter)
{
    if (!std::iswalpha(driveLetter)) {
        msi << L"<WmiUtil>: Drive letter must be a character." << std::endl;
        return false;
    }
    try {
        wchar_t query[160] = {};
        _snwprintf(query, 159,
                   L"ASSOCIATORS OF {Win32_LogicalDisk.DeviceID=\"%c:\"} Where AssocClass=Win32_LogicalDiskToPartition",
                   driveLetter);
        for (const WmiUtil::WmiRow& partition : wmi.Query(L"root\\cimv2", query, {L"DeviceId"}, static_cast<size_t>(-1))) {
            const auto id = partition.find(L"DeviceId");
            if (id == partition.end() || id->second.kind != WmiUtil::WmiValue::Text) {
                msi << L"Failed to get DeviceId property:" << std::endl;
                continue;
            }
            const std::wstring drives = L"ASSOCIATORS OF {Win32_DiskPartition.DeviceID=\"" + id->second.text +
                                        L"\"} Where AssocClass=Win32_DiskDriveToDiskPartition";
            for (const WmiUtil::WmiRow& drive : wmi.Query(L"root\\cimv2", drives, {L"Model"}, static_cast<size_t>(-1))) {
                const auto model = drive.find(L"Model");
                if (model != drive.end() &&
                    CompareStringOrdinal(model->second.text.c_str(), -1, L"Microsoft Storage Space Device", -1,
                                         TRUE) == CSTR_EQUAL)
                    return true;
            }
        }
    } catch (const std::exception& e) {
        msi.logMessage("Exception Caught: %s", e.what());
    }
    return false;
}

bool IsCaseSensitiveLocation(IFolderCaseQuery& query, const std::wstring& path)
{
    std::wstring folder = path;
    if (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    const bool exists = IsExistingFolder(folder);
    for (std::wstring up = folder; !up.empty(); up = ParentOf(up)) {
        const std::wstring candidate = up.size() == 2 && up[1] == L':' ? up + L"\\" : up;
        if (IsExistingFolder(candidate) && query.IsCaseSensitive(candidate))
            return true;
    }
    return exists && AnyFolderBelowIsCaseSensitive(query, folder);
}

void ShowPathMessage(InstallUtils::CMsiUtil& msi, InstallUtils::IUserInterface& ui, UINT messageId, UINT captionId)
{
    std::wstring text = InstallUtils::LoadResourceString(messageId);
    if (messageId == IDS_PATH_TOO_LONG) {
        std::vector<wchar_t> formatted(text.size() + 32, L'\0');
        _snwprintf(formatted.data(), formatted.size() - 1, text.c_str(), 128);
        text = formatted.data();
    }
    if (text.empty()) {
        // The internal failures have no text of their own.
        wchar_t fallback[128] = {};
        _snwprintf(fallback, 127, L"The installation path could not be checked (error 0x%08X). Please try again.",
                   messageId);
        text = fallback;
    }
    const std::wstring caption = InstallUtils::LoadResourceString(captionId);
    std::wstring uiLevel;
    if (ReadPropertyInto(msi.handle(), L"UILevel", MAX_PATH, uiLevel) && _wtoi(uiLevel.c_str()) != 2) {
        HWND owner = GetForegroundWindow();
        if (owner == nullptr)
            owner = GetDesktopWindow();
        ui.ShowMessage(owner, text, caption, MB_OK);
    }
    msi << text << std::endl;
}

namespace {

// Runs the rules in order; 0 or the number of the first failed rule's message.
UINT FirstFailedRule(InstallUtils::CMsiUtil& msi, EmbeddedSupport::CManagers& filters, IFolderCaseQuery& caseQuery,
                     std::wstring& expandedProduct)
{
    std::wstring product;
    if (!ReadPropertyInto(msi.handle(), L"PRODUCTINSTALLDIR", 520, product))
        return IDS_UNABLE_TO_READ_INSTALLDIR;
    expandedProduct = ExpandPath(msi, product);
    std::wstring trimmedProduct;
    if (const UINT failed = ValidatePathString(expandedProduct, trimmedProduct)) {
        msi.logMessage(L"PRODUCTINSTALLDIR failed validation (%u)", failed);
        return failed;
    }

    std::wstring data;
    if (!ReadPropertyInto(msi.handle(), L"Appdatalegacy", 520, data))
        return IDS_UNABLE_TO_READ_INSTALLDIR;
    std::wstring trimmedData;
    if (const UINT failed = ValidatePathString(ExpandPath(msi, data), trimmedData)) {
        msi.logMessage(L"APPDATALEGACY failed validation (%u)", failed);
        return failed;
    }

    msi << L" : Enter." << std::endl;
    std::wstring unexpanded;
    bool survived = false;
    if (!ReadPropertyInto(msi.handle(), L"PRODUCTINSTALLDIR", MAX_PATH, unexpanded) || unexpanded.empty()) {
        msi << L" : Unable to retrieve PRODUCTINSTALLDIR" << std::endl;
    } else {
        survived = SurvivesCodePageRoundTrip(unexpanded);
        msi << (survived ? L" : PRODUCTINSTALLDIR survived UNICODE<->CODEPAGE roundtrip."
                         : L" : Error: PRODUCTINSTALLDIR did not survived UNICODE<->CODEPAGE roundtrip.")
            << std::endl;
    }
    msi << L" : Exit." << std::endl;
    if (!survived)
        return IDS_PATH_INVALID_CHARS;

    if (!IsOnLocalFixedDrive(trimmedProduct))
        return IDS_PATH_NETWORK_OR_REMOVABLE;
    if (IsOnReFS(trimmedProduct))
        return IDS_PATH_REFS;
    const std::wstring oldFolder = msi.getProperty(L"OLDPRODUCTINSTALLDIR") + msi.getProperty(L"OLDPRODUCTVERSION");
    if (StartsWithNoCase(trimmedProduct, oldFolder)) {
        msi.log(5) << L"Error: The install path is a subdirectory of the old path" << std::endl;
        return IDS_PATH_OLD_VERSION;
    }
    if (IsInReservedFolder(trimmedProduct))
        return IDS_PATH_RESERVED;

    const auto version = InstallUtils::COSVersion::Instance();
    if (version->Major() < 10) {
        if (IsOnStorageSpace(msi, filters.environment.wmi, trimmedProduct[0]))
            return IDS_PATH_STORAGE_SPACE;
    } else if (version->Minor() != 0 || version->Build() >= 17134) {
        if (IsCaseSensitiveLocation(caseQuery, trimmedProduct) || IsCaseSensitiveLocation(caseQuery, trimmedData))
            return IDS_PATH_CASE_SENSITIVE;
    }

    msi.log(1) << L" Checking EWF" << std::endl;
    if (filters.ewf.IsInstalled(msi)) {
        msi.log(1) << L" EWF is installed" << std::endl;
        if (filters.ewf.ProtectsDrive(trimmedProduct))
            return IDS_EWF_ENABLED;
        if (msi.getProperty(L"EWFWARNING_DISPLAYED") != L"1") {
            ShowPathMessage(msi, filters.environment.ui, IDS_EWF_INSTALLED_WARNING, IDS_WARNING_CAPTION);
            msi.setProperty(L"EWFWARNING_DISPLAYED", L"1");
        }
    }
    msi.log(1) << L" Checking FBWF" << std::endl;
    if (filters.fbwf.ProtectsDrive(trimmedProduct))
        return IDS_FBWF_ENABLED;
    msi.log(1) << L" Checking UWF" << std::endl;
    if (filters.uwf.ProtectsDrive(trimmedProduct))
        return IDS_UWF_ENABLED;
    return 0;
}

} // namespace

UINT CheckInstallPath(InstallUtils::CMsiUtil& msi, EmbeddedSupport::CManagers& filters, IFolderCaseQuery& caseQuery)
{
    msi << L" : Enter." << std::endl;
    UINT failed = 0;
    std::wstring expandedProduct;
    try {
        failed = FirstFailedRule(msi, filters, caseQuery, expandedProduct);
    } catch (const std::bad_alloc&) {
        msi << L"ExpandPath() - Memory allocation failure, aborting" << std::endl;
        failed = kOutOfMemory;
    } catch (const std::ios_base::failure&) {
        msi << L"ExpandPath() - ios_base failure, aborting" << std::endl;
        failed = kStreamFailure;
    } catch (const InstallUtils::CInstallUtilsException& e) {
        msi << L"Unable to check the installation path: " << e.message() << L" (" << e.code() << L")" << std::endl;
        failed = kStreamFailure;
    }
    if (failed == 0) {
        msi.setProperty(L"ValidInstallDir", L"1");
        msi.setProperty(L"PRODUCTINSTALLDIR", expandedProduct.c_str());
        msi << L" : Exit." << std::endl;
        return ERROR_SUCCESS;
    }
    msi << L" : Invalid Path." << std::endl;
    ShowPathMessage(msi, filters.environment.ui, failed, IDS_PATH_CAPTION);
    msi.setProperty(L"ValidInstallDir", L"0");
    msi << L" : Exit." << std::endl;
    return ERROR_INSTALL_USEREXIT;
}

namespace {

UINT CheckInstallPathAction(MSIHANDLE hInstall)
{
    InstallUtils::CMsiUtil msi(hInstall, L"clientca: ");
    return CheckInstallPath(msi, EmbeddedSupport::ProcessManagers(), IFolderCaseQuery::Production());
}

} // namespace
} // namespace InstallPath

CLIENTCA_EXPORT(CheckInstallPath, InstallPath::CheckInstallPathAction)
