#include "tests/support/EmbeddedDoubles.h"

#include <cwctype>
#include <fstream>
#include <stdexcept>

namespace embedded_test {

namespace {

BYTE ConditionFor(DWORDLONG conditions, DWORD typeBit)
{
    int index = 0;
    while ((typeBit >> index) != 1)
        ++index;
    return static_cast<BYTE>((conditions >> (3 * index)) & 7);
}

bool Compare(DWORD actual, DWORD wanted, BYTE op)
{
    switch (op) {
    case VER_EQUAL: return actual == wanted;
    case VER_GREATER: return actual > wanted;
    case VER_GREATER_EQUAL: return actual >= wanted;
    case VER_LESS: return actual < wanted;
    case VER_LESS_EQUAL: return actual <= wanted;
    default: return false;
    }
}

} // namespace

// Version tests as Windows answers them: major, minor and service pack form one
// number when compared together (10.0 is at least 6.3).
bool FakePlatform::VerifyVersion(OSVERSIONINFOEXW& wanted, DWORD typeMask, DWORDLONG conditions)
{
    const bool versionParts = (typeMask & (VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR)) ==
                              (VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR);
    if (versionParts) {
        const BYTE op = ConditionFor(conditions, VER_MAJORVERSION);
        const unsigned long long actual = (static_cast<unsigned long long>(major) << 32) | (minor << 16) | spMajor;
        const unsigned long long want = (static_cast<unsigned long long>(wanted.dwMajorVersion) << 32) |
                                        (wanted.dwMinorVersion << 16) | wanted.wServicePackMajor;
        const bool ok = op == VER_EQUAL ? actual == want : actual >= want;
        if (!ok)
            return false;
    }
    if ((typeMask & VER_SUITENAME) != 0) {
        const BYTE op = ConditionFor(conditions, VER_SUITENAME);
        const bool ok = op == VER_AND ? (suite & wanted.wSuiteMask) == wanted.wSuiteMask
                                      : (suite & wanted.wSuiteMask) != 0;
        if (!ok)
            return false;
    }
    (void)Compare;
    return true;
}

std::vector<EwfVolume> FakeLibraries::ewfVolumes;
std::map<std::wstring, ULONG> FakeLibraries::fbwfProtected;
ULONG FakeLibraries::fbwfAnswer = 0;
int FakeLibraries::fbwfCalls = 0;

namespace {

HMODULE const kEwfModule = reinterpret_cast<HMODULE>(0x10000);
HMODULE const kFbwfModule = reinterpret_cast<HMODULE>(0x20000);

struct EntryNode {
    EntryNode* next;
    WCHAR name[64];
};

struct ConfigHead {
    int type;
    int state;
    int bootCommand;
};

EntryNode* WINAPI GetProtectedVolumeList()
{
    EntryNode* head = nullptr;
    for (auto it = FakeLibraries::ewfVolumes.rbegin(); it != FakeLibraries::ewfVolumes.rend(); ++it) {
        EntryNode* node = new EntryNode{head, {}};
        wcsncpy(node->name, it->name.c_str(), 63);
        head = node;
    }
    // The library answers an empty list with a node-less marker; a null list means failure.
    return head != nullptr ? head : new EntryNode{nullptr, {}};
}

BOOL WINAPI VolumeNameListIsEmpty(EntryNode* list)
{
    return list == nullptr || list->name[0] == L'\0';
}

VOID WINAPI VolumeNameEntryPop(EntryNode** list)
{
    EntryNode* first = *list;
    *list = first->next != nullptr ? first->next : new EntryNode{nullptr, {}};
    delete first;
}

VOID WINAPI VolumeNameListDelete(EntryNode* list)
{
    while (list != nullptr) {
        EntryNode* next = list->next;
        delete list;
        list = next;
    }
}

WCHAR WINAPI GetDriveLetterFromVolumeName(LPCWSTR name)
{
    for (const EwfVolume& volume : FakeLibraries::ewfVolumes)
        if (volume.name == name)
            return volume.letter;
    return L'\0';
}

HANDLE WINAPI OpenProtected(LPCWSTR name)
{
    for (size_t i = 0; i < FakeLibraries::ewfVolumes.size(); ++i)
        if (FakeLibraries::ewfVolumes[i].name == name)
            return reinterpret_cast<HANDLE>(i + 1);
    return INVALID_HANDLE_VALUE;
}

ConfigHead* WINAPI GetProtectedVolumeConfig(HANDLE volume)
{
    const EwfVolume& v = FakeLibraries::ewfVolumes[reinterpret_cast<size_t>(volume) - 1];
    ConfigHead* config = static_cast<ConfigHead*>(LocalAlloc(LPTR, 256));
    config->state = v.state;
    config->bootCommand = v.bootCommand;
    return config;
}

BOOL WINAPI Close(HANDLE)
{
    return TRUE;
}

ULONG WINAPI IsVolumeProtected(LPCWSTR drive, PULONG current, PULONG next)
{
    ++FakeLibraries::fbwfCalls;
    if (FakeLibraries::fbwfAnswer != 0)
        return FakeLibraries::fbwfAnswer;
    const auto found = FakeLibraries::fbwfProtected.find(drive);
    *current = found != FakeLibraries::fbwfProtected.end() ? found->second : 0;
    *next = *current;
    return 0;
}

template <typename Fn>
FARPROC Entry(Fn fn)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(fn));
}

} // namespace

FakeLibraries::FakeLibraries()
{
    ewfVolumes.clear();
    fbwfProtected.clear();
    fbwfAnswer = 0;
    fbwfCalls = 0;
}

FakeLibraries::~FakeLibraries() = default;

HMODULE FakeLibraries::Load(const std::wstring& fullPath, bool verifySignature)
{
    loads.emplace_back(fullPath, verifySignature);
    std::wstring lower = fullPath;
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(std::towlower(c));
    if (ewfPresent && lower.size() >= 11 && lower.compare(lower.size() - 11, 11, L"\\ewfapi.dll") == 0)
        return kEwfModule;
    if (fbwfPresent && lower.size() >= 12 && lower.compare(lower.size() - 12, 12, L"\\fbwflib.dll") == 0)
        return kFbwfModule;
    return nullptr;
}

FARPROC FakeLibraries::Resolve(HMODULE module, const char* name)
{
    const std::string n(name);
    if (module == kEwfModule) {
        if (n == "EwfMgrClose") return Entry(&Close);
        if (n == "EwfMgrOpenProtected") return Entry(&OpenProtected);
        if (n == "EwfMgrVolumeNameEntryPop") return Entry(&VolumeNameEntryPop);
        if (n == "EwfMgrVolumeNameListDelete") return Entry(&VolumeNameListDelete);
        if (n == "EwfMgrVolumeNameListIsEmpty") return Entry(&VolumeNameListIsEmpty);
        if (n == "EwfMgrGetProtectedVolumeList") return Entry(&GetProtectedVolumeList);
        if (n == "EwfMgrGetProtectedVolumeConfig") return Entry(&GetProtectedVolumeConfig);
        if (n == "EwfMgrGetDriveLetterFromVolumeName") return Entry(&GetDriveLetterFromVolumeName);
    }
    if (module == kFbwfModule && n == "FbwfIsVolumeProtected")
        return Entry(&IsVolumeProtected);
    return nullptr;
}

std::vector<WmiUtil::WmiRow> FakeWmi::Query(const std::wstring& nameSpace, const std::wstring& wql,
                                            const std::vector<std::wstring>&, size_t)
{
    queries.push_back(nameSpace + L"|" + wql);
    if (fail)
        throw std::runtime_error("ConnectServer() failed");
    std::vector<WmiUtil::WmiRow> rows;
    auto boolean = [](bool b) {
        WmiUtil::WmiValue v;
        v.kind = WmiUtil::WmiValue::Bool;
        v.boolean = b;
        return v;
    };
    if (wql == L"SELECT * FROM UWF_Filter") {
        if (filterPresent)
            rows.push_back({{L"CurrentEnabled", boolean(filterEnabled)}});
        return rows;
    }
    auto text = [](const std::wstring& t) {
        WmiUtil::WmiValue v;
        v.kind = WmiUtil::WmiValue::Text;
        v.text = t;
        return v;
    };
    const std::wstring disk = L"ASSOCIATORS OF {Win32_LogicalDisk.DeviceID=\"";
    if (wql.compare(0, disk.size(), disk) == 0) {
        rows.push_back({{L"DeviceId", text(std::wstring(L"Disk #0, Partition #") + wql[disk.size()])}});
        return rows;
    }
    const std::wstring partition = L"ASSOCIATORS OF {Win32_DiskPartition.DeviceID=\"Disk #0, Partition #";
    if (wql.compare(0, partition.size(), partition) == 0) {
        const bool storage = storageSpaceDrives.count(wql[partition.size()]) != 0;
        rows.push_back({{L"Model", text(storage ? L"Microsoft Storage Space Device" : L"QEMU HARDDISK")}});
        return rows;
    }
    const std::wstring prefix = L"SELECT * FROM UWF_Volume WHERE DriveLetter='";
    if (wql.compare(0, prefix.size(), prefix) == 0) {
        const auto found = volumes.find(wql[prefix.size()]);
        if (found != volumes.end()) {
            rows.push_back({{L"CurrentSession", boolean(true)}, {L"Protected", boolean(found->second.first)}});
            rows.push_back({{L"CurrentSession", boolean(false)}, {L"Protected", boolean(found->second.second)}});
        }
    }
    return rows;
}

DWORD FakeMounter::Mount(const std::string&, const std::wstring& folder)
{
    if (mountResult != ERROR_SUCCESS)
        return mountResult;
    mountedOn = folder;
    for (const std::wstring& name : volumeFiles)
        std::ofstream((folder + name).c_str()) << "data";
    return ERROR_SUCCESS;
}

void FakeMounter::Unmount(const std::wstring& folder)
{
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            leftAtUnmount.push_back(name);
            DeleteFileW((folder + name).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace embedded_test
