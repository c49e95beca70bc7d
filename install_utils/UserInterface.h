#pragma once

#include <windows.h>

#include <string>

namespace InstallUtils {

// What an action shows the user. Message boxes block until answered, so
// actions reach them through this interface; the real one calls Windows.
class IUserInterface {
public:
    virtual ~IUserInterface() = default;
    // MessageBoxW: answers IDOK, IDYES, IDNO, ... (0 when no box could be shown).
    virtual int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) = 0;
    // ShellExecuteW("open", target, ..., SW_SHOWNORMAL): true when it started.
    virtual bool Open(const std::wstring& target) = 0;
};

// The real user interface.
IUserInterface& WindowsUserInterface();

// Loads a string of this library's string table (language of the thread, 1033 texts).
std::wstring LoadResourceString(UINT id);

} // namespace InstallUtils
