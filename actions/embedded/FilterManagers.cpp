#include "actions/embedded/FilterManagers.h"

#include "imdp/UniqueHandle.h"
#include "imdp/os/SystemInfo.h"

#include <rpc.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwctype>

namespace EmbeddedSupport {

bool IsDriveForm(const std::wstring& drive)
{
    return drive.size() == 2 && drive[1] == L':' &&
           ((drive[0] >= L'A' && drive[0] <= L'Z') || (drive[0] >= L'a' && drive[0] <= L'z'));
}

// ---- system detection

bool CSystemDetector::IsVersion(DWORD major, DWORD minor, WORD spMajor, WORD suiteMask, CompareMode mode) const
{
    OSVERSIONINFOEXW wanted = {};
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.dwMajorVersion = major;
    wanted.dwMinorVersion = minor;
    wanted.wServicePackMajor = spMajor;
    const BYTE op = mode == CompareMode::AtLeast ? VER_GREATER_EQUAL : VER_EQUAL;
    DWORD typeMask = VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR;
    DWORDLONG conditions = 0;
    conditions = VerSetConditionMask(conditions, VER_MAJORVERSION, op);
    conditions = VerSetConditionMask(conditions, VER_MINORVERSION, op);
    conditions = VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, op);
    if (suiteMask != 0) {
        wanted.wSuiteMask = suiteMask;
        typeMask |= VER_SUITENAME;
        conditions = VerSetConditionMask(conditions, VER_SUITENAME, VER_AND);
    }
    return platform_.VerifyVersion(wanted, typeMask, conditions);
}

bool CSystemDetector::IsEmbeddedProductType(DWORD type)
{
    static const DWORD kEmbeddedTypes[] = {0x41, 0x3A, 0x55, 0x56, 0x57, 0x58, 0x59,
                                           0x5A, 0x5B, 0x5C, 0x69, 0x6A, 0x6B, 0x6C};
    for (DWORD embedded : kEmbeddedTypes)
        if (type == embedded)
            return true;
    return false;
}

bool CSystemDetector::IsEmbedded() const
{
    OSVERSIONINFOEXW wanted = {};
    wanted.dwOSVersionInfoSize = sizeof(wanted);
    wanted.wSuiteMask = VER_SUITE_EMBEDDEDNT;
    if (platform_.VerifyVersion(wanted, VER_SUITENAME, VerSetConditionMask(0, VER_SUITENAME, VER_AND)))
        return true;
    if (!IsVersion(6, 3, 0, 0, CompareMode::AtLeast))
        return false;
    DWORD type = 0;
    return platform_.GetProductInfo(6, 3, 0, 0, &type) && IsEmbeddedProductType(type);
}

// ---- dependency checker

struct CEmbDependencyChecker::Api {
    imdp::unique_module advapi32;
    imdp::unique_module shlwapi;
    imdp::unique_module shell32;
    decltype(&::OpenSCManagerW) openSCManager = nullptr;
    decltype(&::OpenServiceW) openService = nullptr;
    decltype(&::CloseServiceHandle) closeServiceHandle = nullptr;
    decltype(&::QueryServiceStatus) queryServiceStatus = nullptr;
    decltype(&::SHGetFolderPathW) shGetFolderPath = nullptr;
    decltype(&::PathFileExistsW) pathFileExists = nullptr;

    bool ServicesUsable() const
    {
        return openSCManager != nullptr && openService != nullptr && closeServiceHandle != nullptr &&
               queryServiceStatus != nullptr;
    }
};

namespace {

template <typename Fn>
void ResolveInto(Fn& target, HMODULE module, const char* name)
{
    target = module != nullptr ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    const std::wstring folder = imdp::os::GetSystemDirectory();
    if (folder.empty())
        return nullptr;
    return LoadLibraryW((folder + L"\\" + name).c_str());
}

} // namespace

CEmbDependencyChecker::CEmbDependencyChecker() : api_(new Api)
{
    api_->advapi32.reset(LoadSystemLibrary(L"advapi32.dll"));
    api_->shlwapi.reset(LoadSystemLibrary(L"shlwapi.dll"));
    api_->shell32.reset(LoadSystemLibrary(L"shell32.dll"));
    ResolveInto(api_->openSCManager, api_->advapi32.get(), "OpenSCManagerW");
    ResolveInto(api_->openService, api_->advapi32.get(), "OpenServiceW");
    ResolveInto(api_->closeServiceHandle, api_->advapi32.get(), "CloseServiceHandle");
    ResolveInto(api_->queryServiceStatus, api_->advapi32.get(), "QueryServiceStatus");
    ResolveInto(api_->shGetFolderPath, api_->shell32.get(), "SHGetFolderPathW");
    ResolveInto(api_->pathFileExists, api_->shlwapi.get(), "PathFileExistsW");
    if (!api_->ServicesUsable() || api_->shGetFolderPath == nullptr || api_->pathFileExists == nullptr) {
        delete api_;
        api_ = new Api; // all three libraries freed, nothing resolved
    }
}

CEmbDependencyChecker::~CEmbDependencyChecker()
{
    delete api_;
}

namespace {

// A service handle closed through the checker's own CloseServiceHandle.
class CCheckerServiceHandle {
public:
    CCheckerServiceHandle(SC_HANDLE handle, decltype(&::CloseServiceHandle) close) : handle_(handle), close_(close) {}
    ~CCheckerServiceHandle()
    {
        if (handle_ != nullptr)
            close_(handle_);
    }
    CCheckerServiceHandle(const CCheckerServiceHandle&) = delete;
    CCheckerServiceHandle& operator=(const CCheckerServiceHandle&) = delete;
    SC_HANDLE get() const { return handle_; }

private:
    SC_HANDLE handle_;
    decltype(&::CloseServiceHandle) close_;
};

} // namespace

CEmbDependencyChecker::ServiceState CEmbDependencyChecker::GetServiceState(InstallUtils::CMsiUtil& msi,
                                                                           const wchar_t* name)
{
    if (!api_->ServicesUsable()) {
        msi.logMessage(L"No service interfaces found");
        return NotFound;
    }
    CCheckerServiceHandle manager(api_->openSCManager(nullptr, nullptr, SC_MANAGER_CONNECT), api_->closeServiceHandle);
    if (manager.get() == nullptr) {
        msi.logMessage(L"OpenSCManager failed. Error: %d", static_cast<int>(GetLastError()));
        return NotFound;
    }
    CCheckerServiceHandle service(api_->openService(manager.get(), name, SERVICE_QUERY_STATUS),
                                  api_->closeServiceHandle);
    if (service.get() == nullptr) {
        msi.logMessage(L"OpenService failed for %s. Error: %d", name, static_cast<int>(GetLastError()));
        return NotFound;
    }
    SERVICE_STATUS status = {};
    if (!api_->queryServiceStatus(service.get(), &status)) {
        msi.logMessage(L"Query service status failed for %s. Error: %d", name, static_cast<int>(GetLastError()));
        return NotFound;
    }
    return status.dwCurrentState == SERVICE_RUNNING ? Running : Stopped;
}

HRESULT CEmbDependencyChecker::AllServicesRunning(InstallUtils::CMsiUtil& msi, const std::vector<std::wstring>& names)
{
    if (!api_->ServicesUsable()) {
        msi.logMessage(L"No service interfaces found");
        return E_NOINTERFACE;
    }
    CCheckerServiceHandle manager(api_->openSCManager(nullptr, nullptr, SC_MANAGER_CONNECT), api_->closeServiceHandle);
    if (manager.get() == nullptr) {
        const DWORD error = GetLastError();
        msi.logMessage(L"OpenSCManager failed. Error: %d", static_cast<int>(error));
        return HRESULT_FROM_WIN32(error);
    }
    for (const std::wstring& name : names) {
        CCheckerServiceHandle service(api_->openService(manager.get(), name.c_str(), SERVICE_QUERY_STATUS),
                                      api_->closeServiceHandle);
        if (service.get() == nullptr) {
            msi.logMessage(L"OpenService failed for %s. Error: %d", name.c_str(), static_cast<int>(GetLastError()));
            return S_FALSE;
        }
        SERVICE_STATUS status = {};
        if (!api_->queryServiceStatus(service.get(), &status)) {
            msi.logMessage(L"Query service status failed for %s. Error: %d", name.c_str(),
                           static_cast<int>(GetLastError()));
            return S_FALSE;
        }
        if (status.dwCurrentState != SERVICE_RUNNING) {
            msi.logMessage(L"Service %s is not running (state %d)", name.c_str(),
                           static_cast<int>(status.dwCurrentState));
            return S_FALSE;
        }
    }
    return S_OK;
}

bool CEmbDependencyChecker::FileExists(InstallUtils::CMsiUtil& msi, const std::wstring& path)
{
    if (api_->pathFileExists == nullptr) {
        msi.logMessage(L"Shell API not found");
        return false;
    }
    return api_->pathFileExists(path.c_str()) != FALSE;
}

// ---- EWF

namespace {

struct EwfVolumeNameEntry {
    EwfVolumeNameEntry* next;
    WCHAR name[1];
};

enum EwfState { kEwfEnabled = 0, kEwfDisabled = 1 };
enum EwfCommand { kEwfNoCmd = 0, kEwfEnable = 1, kEwfDisable = 2 };

// The leading fields of the library's volume configuration.
struct EwfVolumeConfigHead {
    int type;
    int state;
    int bootCommand;
};

using EwfMgrClose = BOOL(WINAPI*)(HANDLE);
using EwfMgrOpenProtected = HANDLE(WINAPI*)(LPCWSTR);
using EwfMgrVolumeNameEntryPop = VOID(WINAPI*)(EwfVolumeNameEntry**);
using EwfMgrVolumeNameListDelete = VOID(WINAPI*)(EwfVolumeNameEntry*);
using EwfMgrVolumeNameListIsEmpty = BOOL(WINAPI*)(EwfVolumeNameEntry*);
using EwfMgrGetProtectedVolumeList = EwfVolumeNameEntry*(WINAPI*)(void);
using EwfMgrGetProtectedVolumeConfig = EwfVolumeConfigHead*(WINAPI*)(HANDLE);
using EwfMgrGetDriveLetterFromVolumeName = WCHAR(WINAPI*)(LPCWSTR);

const char* const kEwfEntryNames[] = {
    "EwfMgrClose",
    "EwfMgrOpenProtected",
    "EwfMgrVolumeNameEntryPop",
    "EwfMgrVolumeNameListDelete",
    "EwfMgrVolumeNameListIsEmpty",
    "EwfMgrGetProtectedVolumeList",
    "EwfMgrGetProtectedVolumeConfig",
    "EwfMgrGetDriveLetterFromVolumeName",
};

template <typename Fn>
Fn As(FARPROC entry)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(entry));
}

std::wstring SystemLibraryPath(const wchar_t* name)
{
    const std::wstring folder = imdp::os::GetSystemDirectory();
    return folder.empty() ? std::wstring() : folder + L"\\" + name;
}

} // namespace

void CEwfMgr::Load()
{
    std::call_once(loaded_, [this] {
        if (!detector_.IsEmbedded())
            return;
        const std::wstring path = SystemLibraryPath(L"ewfapi.dll");
        if (path.empty())
            return;
        module_ = environment_.libraries.Load(path, true);
        if (module_ == nullptr)
            return;
        for (const char* name : kEwfEntryNames)
            entries_.push_back(environment_.libraries.Resolve(module_, name));
    });
}

bool CEwfMgr::LibraryLoaded()
{
    Load();
    return module_ != nullptr;
}

bool CEwfMgr::IsInstalled(InstallUtils::CMsiUtil& msi)
{
    return LibraryLoaded() || dependencies_.GetServiceState(msi, L"ewf") != CEmbDependencyChecker::NotFound;
}

std::pair<bool, bool> CEwfMgr::GetVolumeState(const std::wstring& drive)
{
    std::pair<bool, bool> state(false, false);
    if (!IsDriveForm(drive) || !LibraryLoaded())
        return state;
    for (FARPROC entry : entries_)
        if (entry == nullptr)
            return state;
    const auto close = As<EwfMgrClose>(entries_[0]);
    const auto openProtected = As<EwfMgrOpenProtected>(entries_[1]);
    const auto pop = As<EwfMgrVolumeNameEntryPop>(entries_[2]);
    const auto listDelete = As<EwfMgrVolumeNameListDelete>(entries_[3]);
    const auto isEmpty = As<EwfMgrVolumeNameListIsEmpty>(entries_[4]);
    const auto getList = As<EwfMgrGetProtectedVolumeList>(entries_[5]);
    const auto getConfig = As<EwfMgrGetProtectedVolumeConfig>(entries_[6]);
    const auto driveLetter = As<EwfMgrGetDriveLetterFromVolumeName>(entries_[7]);

    EwfVolumeNameEntry* list = getList();
    if (list == nullptr)
        return state;
    while (!isEmpty(list)) {
        const WCHAR letter = driveLetter(list->name);
        if (letter == drive[0] || std::towupper(letter) == std::towupper(drive[0])) {
            const HANDLE volume = openProtected(list->name);
            if (volume != nullptr && volume != INVALID_HANDLE_VALUE) {
                EwfVolumeConfigHead* config = getConfig(volume);
                if (config != nullptr) {
                    state.first = config->state == kEwfEnabled;
                    if (config->bootCommand == kEwfEnable)
                        state.second = true;
                    else if (config->bootCommand == kEwfDisable)
                        state.second = false;
                    else
                        state.second = state.first;
                    LocalFree(config);
                }
                close(volume);
            }
            break;
        }
        pop(&list);
    }
    listDelete(list);
    return state;
}

bool CEwfMgr::ProtectsDrive(const std::wstring& path)
{
    const std::pair<bool, bool> state = GetVolumeState(path.substr(0, 2));
    return state.first || state.second;
}

// ---- FBWF

namespace {

using FbwfIsVolumeProtected = ULONG(WINAPI*)(LPCWSTR, PULONG, PULONG);

const char* const kFbwfEntryNames[] = {
    "FbwfIsVolumeProtected", "FbwfProtectVolume",   "FbwfUnprotectVolume", "FbwfAddExclusion",
    "FbwfRemoveExclusion",   "FbwfEnableFilter",    "FbwfDisableFilter",   "FbwfIsFilterEnabled",
    "FbwfGetExclusionList",  "FbwfGetVolumeList",
};

} // namespace

void CFbwfMgr::Load()
{
    std::call_once(loaded_, [this] {
        if (!detector_.IsEmbedded())
            return;
        const std::wstring path = SystemLibraryPath(L"fbwflib.dll");
        if (path.empty())
            return;
        // Windows XP Embedded SP3 ships the library unsigned.
        const bool xpEmbeddedSp3 = detector_.IsVersion(5, 1, 3, 0, CompareMode::Equal);
        module_ = environment_.libraries.Load(path, !xpEmbeddedSp3);
        if (module_ == nullptr)
            return;
        for (const char* name : kFbwfEntryNames)
            entries_[name] = environment_.libraries.Resolve(module_, name);
    });
}

bool CFbwfMgr::LibraryLoaded()
{
    Load();
    return module_ != nullptr;
}

FARPROC CFbwfMgr::EntryPoint(const char* name)
{
    Load();
    const auto found = entries_.find(name);
    return found != entries_.end() ? found->second : nullptr;
}

bool CFbwfMgr::ProtectsDrive(const std::wstring& path)
{
    const std::wstring drive = path.substr(0, 2);
    if (!IsDriveForm(drive))
        return false;
    const auto cached = protectedDrives_.find(drive);
    if (cached != protectedDrives_.end())
        return cached->second;
    const auto isProtected = As<FbwfIsVolumeProtected>(EntryPoint("FbwfIsVolumeProtected"));
    if (isProtected == nullptr)
        return false;
    ULONG current = 0;
    ULONG next = 0;
    if (isProtected(drive.c_str(), &current, &next) != 0)
        return false;
    protectedDrives_[drive] = current != 0;
    return current != 0;
}

// ---- UWF

const wchar_t* const CUwfMgr::kNamespace = L"root\\standardcimv2\\embedded";

bool CUwfMgr::GetFilter(WmiUtil::WmiRow& filter)
{
    try {
        const std::vector<WmiUtil::WmiRow> rows =
            environment_.wmi.Query(kNamespace, L"SELECT * FROM UWF_Filter", {L"CurrentEnabled"}, 1);
        if (rows.empty())
            return false;
        filter = rows.front();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::pair<bool, bool> CUwfMgr::GetVolumeState(const std::wstring& drive)
{
    std::pair<bool, bool> state(false, false);
    if (!IsDriveForm(drive))
        return state;
    wchar_t query[64] = {};
    _snwprintf(query, 63, L"SELECT * FROM UWF_Volume WHERE DriveLetter='%c:'", drive[0]);
    try {
        const std::vector<WmiUtil::WmiRow> rows =
            environment_.wmi.Query(kNamespace, query, {L"CurrentSession", L"Protected"}, static_cast<size_t>(-1));
        for (const WmiUtil::WmiRow& row : rows) {
            const auto current = row.find(L"CurrentSession");
            const auto protect = row.find(L"Protected");
            const bool isProtected = protect != row.end() && protect->second.boolean;
            if (current != row.end() && current->second.boolean)
                state.first = isProtected;
            else
                state.second = isProtected;
        }
    } catch (const std::exception&) {
        return std::pair<bool, bool>(false, false);
    }
    return state;
}

bool CUwfMgr::ProtectsDrive(const std::wstring& path)
{
    WmiUtil::WmiRow filter;
    if (!GetFilter(filter))
        return false;
    const auto enabled = filter.find(L"CurrentEnabled");
    if (enabled == filter.end() || !enabled->second.boolean)
        return false;
    return GetVolumeState(path.substr(0, 2)).first;
}

// ---- Registry Filter data files

const char* const CRegFilterMgr::kDataVolume = "\\\\?\\Volume{bbf71292-a819-11da-9fcb-806d6172696f}\\";
const wchar_t* const CRegFilterMgr::kFallbackFolderName = L"C89650E609394EFB80E923DD446B97ED";

std::wstring CRegFilterMgr::FolderName()
{
    UUID uuid;
    const RPC_STATUS status = UuidCreate(&uuid);
    if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY)
        return kFallbackFolderName;
    wchar_t name[33] = {};
    _snwprintf(name, 32, L"%08lX%04X%04X%02X%02X%02X%02X%02X%02X%02X%02X", static_cast<unsigned long>(uuid.Data1),
               uuid.Data2, uuid.Data3, uuid.Data4[0], uuid.Data4[1], uuid.Data4[2], uuid.Data4[3], uuid.Data4[4],
               uuid.Data4[5], uuid.Data4[6], uuid.Data4[7]);
    return name;
}

DWORD CRegFilterMgr::RemoveDataFiles(const std::wstring& pattern)
{
    const std::wstring unexpanded = L"%systemdrive%\\" + FolderName() + L"\\";
    wchar_t folder[MAX_PATH] = {};
    const DWORD expanded = ExpandEnvironmentStringsW(unexpanded.c_str(), folder, MAX_PATH);
    if (expanded == 0)
        return GetLastError();
    if (expanded > MAX_PATH)
        return ERROR_INSUFFICIENT_BUFFER;
    if (!CreateDirectoryW(folder, nullptr))
        return GetLastError();

    DWORD result = environment_.volumes.Mount(kDataVolume, folder);
    if (result == ERROR_SUCCESS) {
        WIN32_FIND_DATAW found = {};
        imdp::unique_find_handle search(FindFirstFileW((std::wstring(folder) + pattern).c_str(), &found));
        if (!search) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES)
                result = error;
        } else {
            do {
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                    DeleteFileW((std::wstring(folder) + found.cFileName).c_str()); // a failed deletion is left
            } while (FindNextFileW(search.get(), &found));
        }
        environment_.volumes.Unmount(folder);
    }
    RemoveDirectoryW(folder);
    return result;
}

// ---- the process-wide set

CManagers::CManagers(Environment& env)
    : environment(env), detector(env.platform), dependencies(), ewf(env, detector, dependencies), fbwf(env, detector),
      uwf(env), regFilter(env)
{
}

CManagers& ProcessManagers()
{
    static CManagers managers(SystemEnvironment());
    return managers;
}

} // namespace EmbeddedSupport
