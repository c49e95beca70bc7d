#include "install_utils/SessionLog.h"

#include "imdp/msi/InstallerString.h"
#include "install_utils/MsiLogStream.h"


namespace InstallUtils {

void WriteSessionLog(MSIHANDLE hInstall, const wchar_t* text)
{
    SendInfoLine(hInstall, std::wstring(L"clientca: ") + (text != nullptr ? text : L""));
}

std::wstring ReadSessionProperty(MSIHANDLE hInstall, const std::wstring& name)
{
    const imdp::msi::InstallerString property = imdp::msi::ReadInstallerString(
        [&](wchar_t* buffer, DWORD* length) { return MsiGetPropertyW(hInstall, name.c_str(), buffer, length); });
    if (property.firstAnswer != ERROR_MORE_DATA)
        throw L"Error getting length of " + name + L" (nRet = " + std::to_wstring(property.firstAnswer) + L")";
    if (property.answer != ERROR_SUCCESS)
        throw L"Unable to obtain the property value for " + name + L" (nRet = " + std::to_wstring(property.answer) +
            L")";
    const std::wstring& text = property.value;
    WriteSessionLog(hInstall, (name + L"=" + text).c_str());
    return text;
}

} // namespace InstallUtils
