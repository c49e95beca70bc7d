#include "actions/embedded/EmbeddedChecks.h"

#include "imdp/os/SystemInfo.h"
#include "install_utils/ExportGuard.h"
#include "install_utils/UserInterface.h"
#include "resources/resource.h"

#include <cwctype>
#include <vector>

namespace EmbeddedSupport {

const wchar_t* const kRequiredServices[5] = {L"dcomlaunch", L"rpcss", L"ndis", L"tcpip", L"fltmgr"};

namespace {

void SetLogged(InstallUtils::CMsiUtil& msi, const wchar_t* name, const wchar_t* value)
{
    msi.logMessage(L"setting %s to %s", name, value);
    msi.setProperty(name, value);
}

void SetOne(InstallUtils::CMsiUtil& msi, const wchar_t* name)
{
    msi.logMessage(L"setting %s to 1", name);
    msi.setProperty(name, L"1");
}

std::wstring FormatWithVersionAndLanguage(const std::wstring& format, const std::wstring& version,
                                          const std::wstring& language)
{
    std::vector<wchar_t> text(format.size() + version.size() + language.size() + 64, L'\0');
    _snwprintf(text.data(), text.size() - 1, format.c_str(), version.c_str(), language.c_str());
    return text.data();
}

} // namespace

UINT CheckWindowsEmbeddedSystem(InstallUtils::CMsiUtil& msi, CManagers& managers)
{
    const wchar_t* value = L"0";
    if (managers.detector.IsEmbedded()) {
        const bool xpSp3OrLater = managers.detector.IsVersion(5, 1, 3, 0, CompareMode::AtLeast);
        value = xpSp3OrLater && managers.detector.IsEmbedded() ? L"1" : L"2";
    }
    SetLogged(msi, L"EMBEDDEDSYSTEM", value);
    return ERROR_SUCCESS;
}

UINT CheckFiltersOnEmbedded(InstallUtils::CMsiUtil& msi, CManagers& managers)
{
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    UINT length = GetWindowsDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length >= buffer.size()) {
        buffer.assign(length + 1, L'\0');
        length = GetWindowsDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    }
    if (length == 0 || length >= buffer.size()) {
        msi.logMessage(L"Failed to get windows dir, error %d!", static_cast<int>(GetLastError()));
        return ERROR_INSTALL_FAILURE;
    }
    const std::wstring windows(buffer.data(), length);
    if (windows.empty()) {
        msi.logMessage(L"Empty windows dir!");
        return ERROR_INSTALL_FAILURE;
    }

    const bool ewfLibrary = managers.ewf.LibraryLoaded();
    if (managers.ewf.IsInstalled(msi))
        SetOne(msi, L"EWFINSTALLED");
    if (ewfLibrary)
        SetOne(msi, L"EWFAPIFOUND");
    if (managers.fbwf.LibraryLoaded() ||
        managers.dependencies.GetServiceState(msi, L"fbwf") != CEmbDependencyChecker::NotFound)
        SetOne(msi, L"FBWFINSTALLED");
    if (managers.dependencies.GetServiceState(msi, L"regfilter") != CEmbDependencyChecker::NotFound)
        SetOne(msi, L"REGFILTERINSTALLED");
    WmiUtil::WmiRow filter;
    if (managers.uwf.GetFilter(filter)) {
        msi.setProperty(L"UWFINSTALLED", L"1");
        msi.setProperty(L"EMBEDDEDSYSTEM", L"1");
    }

    if (managers.ewf.ProtectsDrive(windows))
        SetOne(msi, L"EWFENABLED");
    else if (managers.fbwf.ProtectsDrive(windows))
        SetOne(msi, L"FBWFENABLED");
    else if (managers.uwf.ProtectsDrive(windows))
        msi.setProperty(L"UWFENABLED", L"1");
    else
        msi.logMessage(L"Not setting %s or %s or %s", L"EWFENABLED", L"FBWFENABLED", L"UWFENABLED");
    return ERROR_SUCCESS;
}

void ShowMissingComponentPrompt(InstallUtils::CMsiUtil& msi, CManagers& managers)
{
    if (msi.getProperty(L"UILevel") != L"5")
        return;
    wchar_t version[32] = {};
    _snwprintf(version, 31, L"%d.%d.%04d", 14, 3, 2000);
    wchar_t languageName[LOCALE_NAME_MAX_LENGTH + 1] = {};
    GetLocaleInfoW(GetThreadLocale(), LOCALE_SNATIVELANGNAME, languageName, LOCALE_NAME_MAX_LENGTH);
    std::wstring language(languageName);
    for (wchar_t& c : language)
        c = static_cast<wchar_t>(std::towlower(c));

    const std::wstring text =
        FormatWithVersionAndLanguage(InstallUtils::LoadResourceString(IDS_MISSING_COMPONENT), version, language);
    const std::wstring caption = InstallUtils::LoadResourceString(IDS_MISSING_COMPONENT_CAPTION);
    if (managers.environment.ui.ShowMessage(nullptr, text, caption, MB_YESNO) == IDYES) {
        const std::wstring address = FormatWithVersionAndLanguage(
            InstallUtils::LoadResourceString(IDS_MISSING_COMPONENT_KB_URL), version, language);
        managers.environment.ui.Open(address);
    }
}

UINT CheckFeaturesOnEmbedded(InstallUtils::CMsiUtil& msi, CManagers& managers)
{
    const std::vector<std::wstring> services(std::begin(kRequiredServices), std::end(kRequiredServices));
    const HRESULT running = managers.dependencies.AllServicesRunning(msi, services);
    bool present = running == S_OK;
    bool libraryMissing = false;
    if (present) {
        const std::wstring pdh = imdp::os::GetSystemDirectory() + L"\\pdh.dll";
        if (managers.dependencies.FileExists(msi, pdh)) {
            msi.logMessage(L"Found Performance Counters library in path %s", pdh.c_str());
        } else {
            msi.logMessage(L"Performance Counters lib is not installed.");
            present = false;
            libraryMissing = true;
        }
    }
    if (present) {
        msi.logMessage(L"All the dependent Windows features are present. Safe to install QAX on embedded system");
        SetLogged(msi, L"EMBEDDEDMINFEATURES", L"1");
        return ERROR_SUCCESS;
    }
    if (libraryMissing)
        msi.logMessage(L"Performance Counters lib is not installed.");
    else
        msi.logMessage(L"Failed to check the status of dependent services.");
    SetLogged(msi, L"EMBEDDEDMINFEATURES", L"0");
    ShowMissingComponentPrompt(msi, managers);
    return ERROR_SUCCESS;
}

UINT RemoveQAXRegFilterDataFiles(InstallUtils::CMsiUtil& msi, CManagers& managers)
{
    msi.logMessage(L"Begin RemoveQAXRegFilterDataFiles");
    DWORD result = managers.regFilter.RemoveDataFiles(L"QvncQaxRegData*");
    if (result != ERROR_SUCCESS &&
        managers.dependencies.GetServiceState(msi, L"regfilter") != CEmbDependencyChecker::Running) {
        msi.logMessage(L"Exiting RemoveQAXRegFilterDataFiles. RegFilter service not running.");
        result = ERROR_SUCCESS;
    }
    msi.logMessage(L"Ending RemoveQAXRegFilterDataFiles, dw=0x%x", static_cast<unsigned>(result));
    return result;
}

namespace {

// An export's body on the process-wide managers, logging behind the export's prefix.
UINT RunWithManagers(MSIHANDLE hInstall, const wchar_t* prefix, UINT (*body)(InstallUtils::CMsiUtil&, CManagers&))
{
    InstallUtils::CMsiUtil msi(hInstall, prefix);
    return body(msi, ProcessManagers());
}

UINT CheckWindowsEmbeddedSystemAction(MSIHANDLE h)
{
    return RunWithManagers(h, L"CheckWindowsEmbeddedSystem", CheckWindowsEmbeddedSystem);
}

UINT CheckFiltersOnEmbeddedAction(MSIHANDLE h)
{
    return RunWithManagers(h, L"CheckFiltersOnEmbedded", CheckFiltersOnEmbedded);
}

UINT CheckFeaturesOnEmbeddedAction(MSIHANDLE h)
{
    return RunWithManagers(h, L"CheckFeaturesOnEmbedded", CheckFeaturesOnEmbedded);
}

UINT RemoveQAXRegFilterDataFilesAction(MSIHANDLE h)
{
    return RunWithManagers(h, L"RemoveQAXRegFilterDataFiles: ", RemoveQAXRegFilterDataFiles);
}

} // namespace
} // namespace EmbeddedSupport

CLIENTCA_EXPORT(CheckWindowsEmbeddedSystem, EmbeddedSupport::CheckWindowsEmbeddedSystemAction)
CLIENTCA_EXPORT(CheckFiltersOnEmbedded, EmbeddedSupport::CheckFiltersOnEmbeddedAction)
CLIENTCA_EXPORT(CheckFeaturesOnEmbedded, EmbeddedSupport::CheckFeaturesOnEmbeddedAction)
CLIENTCA_EXPORT(RemoveQAXRegFilterDataFiles, EmbeddedSupport::RemoveQAXRegFilterDataFilesAction)
