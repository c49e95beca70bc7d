#include "install_utils/RegUtil.h"

#include "imdp/UniqueHandle.h"
#include "install_utils/MsiUtil.h"

#include <cstring>
#include <string>
#include <vector>

namespace InstallUtils {
namespace {

const wchar_t kLogPrefix[] = L"CRegUtil:";

// Registry key names are at most 255 characters.
const DWORD kNameBufferLength = MAX_PATH;

bool SameKeyName(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// Whether dstRoot\dstPath is srcRoot\srcPath or lies below it: copying there
// would copy the copy again without end.
bool IsSameOrBelow(HKEY srcRoot, const std::wstring& srcPath, HKEY dstRoot, const std::wstring& dstPath)
{
    if (srcRoot != dstRoot)
        return false;
    if (srcPath.empty())
        return true;
    if (dstPath.size() < srcPath.size())
        return false;
    if (!SameKeyName(dstPath.substr(0, srcPath.size()), srcPath))
        return false;
    return dstPath.size() == srcPath.size() || dstPath[srcPath.size()] == L'\\';
}

std::wstring TextOf(const std::vector<BYTE>& data, DWORD size)
{
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!text.empty())
        memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos)
        text.resize(end);
    return text;
}

void LogValue(CMsiUtil& log, const wchar_t* name, DWORD type, const std::vector<BYTE>& data, DWORD size)
{
    switch (type) {
    case REG_SZ:
        log.logMessage(L"Value name = %s, type = REG_SZ, value = %s", name, TextOf(data, size).c_str());
        break;
    case REG_EXPAND_SZ:
        log.logMessage(L"Value name = %s, type = REG_EXPAND_SZ, value = %s", name, TextOf(data, size).c_str());
        break;
    case REG_DWORD: {
        DWORD number = 0;
        memcpy(&number, data.data(), size < sizeof(number) ? size : sizeof(number));
        log.logMessage(L"Value name = %s, type = REG_DWORD, value = %d (%x)", name, static_cast<int>(number), number);
        break;
    }
    default:
        log.logMessage(L"Value name = %s, type = %d, value = [BINARY]", name, static_cast<int>(type));
        break;
    }
}

} // namespace

bool CRegUtil::copyKeys(MSIHANDLE hInstall, HKEY srcRoot, const wchar_t* srcPath, HKEY dstRoot,
                        const wchar_t* dstPath, DWORD options)
{
    CMsiUtil log(hInstall, kLogPrefix);
    const std::wstring source = srcPath != nullptr ? srcPath : L"";
    const std::wstring destination = dstPath != nullptr ? dstPath : L"";
    if (IsSameOrBelow(srcRoot, source, dstRoot, destination)) {
        log.logMessage(L"Cannot copy %s into itself (%s)", source.c_str(), destination.c_str());
        return false;
    }

    imdp::unique_hkey src;
    LSTATUS result = RegOpenKeyExW(srcRoot, source.c_str(), 0, KEY_READ, src.put());
    if (result != ERROR_SUCCESS) {
        log.logMessage(L"Unable to open %s (%u)", source.c_str(), static_cast<unsigned>(result));
        return false;
    }
    imdp::unique_hkey dst;
    result = RegCreateKeyExW(dstRoot, destination.c_str(), 0, nullptr, options, KEY_WRITE, nullptr, dst.put(), nullptr);
    if (result != ERROR_SUCCESS) {
        log.logMessage(L"Unable to create %s (%u)", destination.c_str(), static_cast<unsigned>(result));
        return false;
    }

    bool ok = true;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kNameBufferLength] = {};
        DWORD length = kNameBufferLength;
        result = RegEnumKeyExW(src.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS) {
            log.logMessage(L"Unable to enumerate the subkeys of %s (%u)", source.c_str(), static_cast<unsigned>(result));
            ok = false;
            break;
        }
        if (!copyKeys(hInstall, src.get(), name, dst.get(), name, options))
            ok = false;
    }

    log.logMessage(L"Copy from szSrcKeyname = %s,  to szDstKeyname = %s", source.c_str(), destination.c_str());
    if (!copyValues(hInstall, src.get(), dst.get()))
        ok = false;
    return ok;
}

bool CRegUtil::copyValues(MSIHANDLE hInstall, HKEY srcKey, HKEY dstKey)
{
    CMsiUtil log(hInstall, kLogPrefix);
    bool written = true;
    LSTATUS result = ERROR_SUCCESS;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kNameBufferLength] = {};
        DWORD nameLength = kNameBufferLength;
        DWORD type = REG_NONE;
        DWORD size = 0;
        result = RegEnumValueW(srcKey, index, name, &nameLength, nullptr, &type, nullptr, &size);
        if (result != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + sizeof(wchar_t), 0);
        nameLength = kNameBufferLength;
        result = RegEnumValueW(srcKey, index, name, &nameLength, nullptr, &type, data.data(), &size);
        if (result != ERROR_SUCCESS)
            break;
        LogValue(log, name, type, data, size);
        const LSTATUS set = RegSetValueExW(dstKey, name, 0, type, size != 0 ? data.data() : nullptr, size);
        if (set != ERROR_SUCCESS) {
            log.logMessage(L"Unable to set value %s (%u)", name, static_cast<unsigned>(set));
            written = false;
        }
    }
    if (result != ERROR_NO_MORE_ITEMS) {
        log.logMessage(L"Unable to enumerate values (%u)", static_cast<unsigned>(result));
        return false;
    }
    return written;
}

bool CRegUtil::deleteKeys(MSIHANDLE hInstall, HKEY root, const wchar_t* path)
{
    CMsiUtil log(hInstall, kLogPrefix);
    // An empty path would name the root itself and empty it.
    if (path == nullptr || *path == L'\0') {
        log.logMessage(L"Refusing to delete a key without a path");
        return false;
    }
    imdp::unique_hkey key;
    LSTATUS result = RegOpenKeyExW(root, path, 0, KEY_ALL_ACCESS, key.put());
    log.logMessage(L"RegOpenKeyEx returned %u", static_cast<unsigned>(result));
    if (result == ERROR_SUCCESS) {
        for (;;) {
            wchar_t name[kNameBufferLength] = {};
            DWORD length = kNameBufferLength;
            if (RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            if (!deleteKeys(hInstall, key.get(), name)) {
                log.logMessage(L"Deletion of %s failed", name);
                break;
            }
        }
        key.reset();
    }
    result = RegDeleteKeyW(root, path);
    log.logMessage(L"RegDeleteKey returned %u", static_cast<unsigned>(result));
    return result == ERROR_SUCCESS;
}

} // namespace InstallUtils
