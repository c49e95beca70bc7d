#pragma once

#include "actions/embedded/WmiInfo.h"
#include "install_utils/UserInterface.h"

#include <windows.h>

#include <string>

namespace EmbeddedSupport {

// The questions about the running Windows that embedded detection asks.
class IPlatformInfo {
public:
    virtual ~IPlatformInfo() = default;
    // VerifyVersionInfoW.
    virtual bool VerifyVersion(OSVERSIONINFOEXW& wanted, DWORD typeMask, DWORDLONG conditions) = 0;
    // GetProductInfo, looked up in kernel32.dll at run time; false when absent or failing.
    virtual bool GetProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor, DWORD* type) = 0;
};

// Loads the write-filter programming libraries.
class ILibraryLoader {
public:
    virtual ~ILibraryLoader() = default;
    // Opens the file for reading, verifies its signature when asked (WinVerifyTrust),
    // and only then loads it, the file held open until after the load. Null on any failure.
    virtual HMODULE Load(const std::wstring& fullPath, bool verifySignature) = 0;
    virtual FARPROC Resolve(HMODULE module, const char* name) = 0;
};

// Mounts a volume on an empty folder and removes the mount point again.
class IVolumeMounter {
public:
    virtual ~IVolumeMounter() = default;
    // SetVolumeMountPointA: 0 or the Win32 error.
    virtual DWORD Mount(const std::string& volume, const std::wstring& folder) = 0;
    virtual void Unmount(const std::wstring& folder) = 0;
};

// Everything outside this library that the embedded managers reach.
struct Environment {
    IPlatformInfo& platform;
    ILibraryLoader& libraries;
    WmiUtil::IWmiQuery& wmi;
    IVolumeMounter& volumes;
    InstallUtils::IUserInterface& ui;
};

// The real Windows behind each interface.
Environment& SystemEnvironment();

} // namespace EmbeddedSupport
