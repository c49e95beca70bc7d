// One link of a chain of installer programs for the pre-validation tests,
// copied under the names the chain needs (ktainst.exe, setup.exe, ...):
//
//   link.exe program [arguments...]   starts program with its arguments and waits for it
//   link.exe                          idles for 60 s (the installer client at the end)

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        Sleep(60000);
        return 0;
    }
    std::wstring command;
    for (int i = 1; i < argc; ++i)
        command += (i > 1 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 1;
    CloseHandle(info.hThread);
    WaitForSingleObject(info.hProcess, INFINITE);
    CloseHandle(info.hProcess);
    return 0;
}
