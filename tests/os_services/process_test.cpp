#include "imdp/Errors.h"
#include "imdp/UniqueHandle.h"
#include "imdp/os/Process.h"
#include "tests/os_services/TestServiceHost.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// A child process of this test program, ended with the test.
class ChildProcess {
public:
    ChildProcess()
    {
        std::wstring command = L"\"" + ostest::TestServiceProgram() + L"\" idle";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            throw std::runtime_error("CreateProcessW failed: " + std::to_string(GetLastError()));
        process_.reset(info.hProcess);
        CloseHandle(info.hThread);
        pid_ = info.dwProcessId;
    }
    ~ChildProcess()
    {
        TerminateProcess(process_.get(), 0);
        WaitForSingleObject(process_.get(), 10000);
    }
    DWORD pid() const { return pid_; }

private:
    imdp::unique_kernel_handle process_;
    DWORD pid_ = 0;
};

// The tests run as a 64-bit process: the shipped 32-bit library under WOW64
// walks the same snapshot and reads the image of 64-bit processes too, which
// this run does not show.
TEST(Process, ParentAndImageOfAChild)
{
    ChildProcess child;
    EXPECT_EQ(GetCurrentProcessId(), imdp::os::GetParentProcessId(child.pid()));

    // Wine names the volume of its unix root \Device\HarddiskVolumeN as Windows names a disk.
    const std::wstring image = imdp::os::GetProcessImagePath(child.pid());
    EXPECT_EQ(0u, image.find(L"\\Device\\")) << ostest::Narrow(image);
    const std::wstring tail = L"\\os_test_service.exe";
    ASSERT_GT(image.size(), tail.size());
    EXPECT_EQ(tail, image.substr(image.size() - tail.size())) << ostest::Narrow(image);
}

// Process ids are multiples of four; this one is far above any in use.
const DWORD kMissingPid = 0x7FFFFFFC;

TEST(Process, MissingProcessThrows)
{
    const struct {
        std::function<void()> call;
        const char* message;
        DWORD code;
    } cases[] = {
        {[] { imdp::os::GetParentProcessId(kMissingPid); }, "Process32NextW", ERROR_NO_MORE_FILES},
        {[] { imdp::os::GetProcessImagePath(kMissingPid); }, "OpenProcess", ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << "no exception from " << c.message;
        } catch (const imdp::win32_error& e) {
            EXPECT_EQ(0u, std::string(e.what()).find(c.message)) << e.what();
            EXPECT_EQ(c.code, e.code()) << e.what();
        }
    }
}

// The image path in device form is opened by its drive letter (the file
// functions do not take device paths; Wine does not take the
// "\\?\GLOBALROOT" form of them either).
TEST(Process, DevicePathByItsDriveLetter)
{
    ChildProcess child;
    const std::wstring image = imdp::os::GetProcessImagePath(child.pid());
    std::wstring lower = image;
    CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    for (const auto& device : {image, lower}) {
        const std::wstring path = imdp::os::DevicePathToDrivePath(device);
        EXPECT_EQ(CSTR_EQUAL, CompareStringOrdinal(path.c_str(), -1, ostest::TestServiceProgram().c_str(), -1, TRUE))
            << ostest::Narrow(path);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << ostest::Narrow(path);
    }

    EXPECT_EQ(L"\\\\server\\share\\setup.exe",
              imdp::os::DevicePathToDrivePath(L"\\Device\\Mup\\server\\share\\setup.exe"));

    // A volume no drive names, also one whose name only begins like a named one.
    for (const wchar_t* device : {L"\\Device\\NoSuchVolume\\setup.exe", L"\\Device\\HarddiskVolume19\\setup.exe",
                                  L"\\Device\\HarddiskVolume1", L"setup.exe"}) {
        try {
            imdp::os::DevicePathToDrivePath(device);
            ADD_FAILURE() << "no exception for " << ostest::Narrow(device);
        } catch (const imdp::win32_error& e) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), e.code()) << e.what();
        }
    }
}

} // namespace
