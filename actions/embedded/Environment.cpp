#include "actions/embedded/Environment.h"

#include "imdp/Errors.h"
#include "imdp/StringConv.h"
#include "imdp/UniqueHandle.h"

#include <softpub.h>
#include <wintrust.h>

namespace EmbeddedSupport {
namespace {

class CSystemPlatformInfo : public IPlatformInfo {
public:
    bool VerifyVersion(OSVERSIONINFOEXW& wanted, DWORD typeMask, DWORDLONG conditions) override
    {
        wanted.dwOSVersionInfoSize = sizeof(wanted);
        return VerifyVersionInfoW(&wanted, typeMask, conditions) != FALSE;
    }

    bool GetProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor, DWORD* type) override
    {
        using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
        const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
        if (kernel32 == nullptr)
            return false;
        const auto getProductInfo =
            reinterpret_cast<GetProductInfoFn>(reinterpret_cast<void*>(GetProcAddress(kernel32, "GetProductInfo")));
        return getProductInfo != nullptr && getProductInfo(major, minor, spMajor, spMinor, type) != FALSE;
    }
};

class CTrustedLibraryLoader : public ILibraryLoader {
public:
    HMODULE Load(const std::wstring& fullPath, bool verifySignature) override
    {
        imdp::unique_file_handle file(CreateFileW(fullPath.c_str(), FILE_GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return nullptr;
        if (verifySignature && !IsSigned(fullPath, file.get()))
            return nullptr;
        return LoadLibraryW(fullPath.c_str());
    }

    FARPROC Resolve(HMODULE module, const char* name) override { return GetProcAddress(module, name); }

private:
    static bool IsSigned(const std::wstring& path, HANDLE file)
    {
        WINTRUST_FILE_INFO fileInfo = {};
        fileInfo.cbStruct = sizeof(fileInfo);
        fileInfo.pcwszFilePath = path.c_str();
        fileInfo.hFile = file;
        WINTRUST_DATA data = {};
        data.cbStruct = sizeof(data);
        data.dwUIChoice = WTD_UI_NONE;
        data.fdwRevocationChecks = WTD_REVOKE_NONE;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &fileInfo;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
        return result == ERROR_SUCCESS;
    }
};

class CSystemVolumeMounter : public IVolumeMounter {
public:
    DWORD Mount(const std::string& volume, const std::wstring& folder) override
    {
        // The mount point is named in the ANSI code page, like the volume.
        std::string narrowFolder;
        try {
            narrowFolder = imdp::WideToAnsi(folder);
        } catch (const imdp::win32_error& e) {
            return e.code();
        }
        return SetVolumeMountPointA(narrowFolder.c_str(), volume.c_str()) ? ERROR_SUCCESS : GetLastError();
    }

    void Unmount(const std::wstring& folder) override { DeleteVolumeMountPointW(folder.c_str()); }
};

} // namespace

Environment& SystemEnvironment()
{
    static CSystemPlatformInfo platform;
    static CTrustedLibraryLoader libraries;
    static CSystemVolumeMounter volumes;
    static Environment environment{platform, libraries, WmiUtil::SystemWmi(), volumes,
                                   InstallUtils::WindowsUserInterface()};
    return environment;
}

} // namespace EmbeddedSupport
