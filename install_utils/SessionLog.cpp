#include "install_utils/SessionLog.h"

#include "install_utils/MsiLogStream.h"

#include <vector>

namespace InstallUtils {

void WriteSessionLog(MSIHANDLE hInstall, const wchar_t* text)
{
    SendInfoLine(hInstall, std::wstring(L"clientca: ") + (text != nullptr ? text : L""));
}

std::wstring ReadSessionProperty(MSIHANDLE hInstall, const std::wstring& name)
{
    wchar_t empty[1] = {L'\0'};
    DWORD length = 0;
    UINT result = MsiGetPropertyW(hInstall, name.c_str(), empty, &length);
    if (result != ERROR_MORE_DATA)
        throw L"Error getting length of " + name + L" (nRet = " + std::to_wstring(result) + L")";
    std::vector<wchar_t> value(length + 1, L'\0');
    length += 1;
    result = MsiGetPropertyW(hInstall, name.c_str(), value.data(), &length);
    if (result != ERROR_SUCCESS)
        throw L"Unable to obtain the property value for " + name + L" (nRet = " + std::to_wstring(result) + L")";
    const std::wstring text(value.data(), length);
    WriteSessionLog(hInstall, (name + L"=" + text).c_str());
    return text;
}

} // namespace InstallUtils
