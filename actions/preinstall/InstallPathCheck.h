#pragma once

#include "actions/embedded/FilterManagers.h"
#include "install_utils/MsiUtil.h"

#include <string>

namespace InstallPath {

// Whether a folder is marked case-sensitive (NtQueryInformationFile,
// FileCaseSensitiveInformation). A folder that cannot be opened or asked is not.
class IFolderCaseQuery {
public:
    virtual ~IFolderCaseQuery() = default;
    virtual bool IsCaseSensitive(const std::wstring& folder) = 0;
    static IFolderCaseQuery& Production();
};

// Message numbers of the string table that a failed rule names; the two
// internal failures have no text there.
const UINT kStreamFailure = 0x80004005;
const UINT kOutOfMemory = 0x8007000E;

// Expands %NAME% references from the process environment; a reference ends at
// the first punctuation character, and an undefined one is kept as written.
std::wstring ExpandPath(InstallUtils::CMsiUtil& msi, const std::wstring& path);

// 0 when the text is a usable install folder, else the number of the message
// naming the first rule it breaks. `trimmed` receives the path without a final backslash.
UINT ValidatePathString(const std::wstring& path, std::wstring& trimmed);

bool SurvivesCodePageRoundTrip(const std::wstring& path);
bool IsOnLocalFixedDrive(const std::wstring& path);
bool IsOnReFS(const std::wstring& path);
// C:\PerfLogs\ on the system drive and below it.
bool IsInReservedFolder(const std::wstring& path);
// Through WMI: a disk drive behind the drive letter is a storage space.
bool IsOnStorageSpace(InstallUtils::CMsiUtil& msi, WmiUtil::IWmiQuery& wmi, wchar_t driveLetter);
// The folder, its existing ancestors and, when it exists, every folder below it.
bool IsCaseSensitiveLocation(IFolderCaseQuery& query, const std::wstring& path);

// Loads the message and caption, shows them (unless the installation is
// silent) and writes the message to the log.
void ShowPathMessage(InstallUtils::CMsiUtil& msi, InstallUtils::IUserInterface& ui, UINT messageId, UINT captionId);

// The whole check: 0 with ValidInstallDir "1", or 1602 with "0".
UINT CheckInstallPath(InstallUtils::CMsiUtil& msi, EmbeddedSupport::CManagers& filters, IFolderCaseQuery& caseQuery);

} // namespace InstallPath
