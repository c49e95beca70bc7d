#pragma once

#include "actions/embedded/FilterManagers.h"
#include "install_utils/MsiUtil.h"

namespace EmbeddedSupport {

// The services and library an embedded system needs for the client.
extern const wchar_t* const kRequiredServices[5];

UINT CheckWindowsEmbeddedSystem(InstallUtils::CMsiUtil& msi, CManagers& managers);
UINT CheckFiltersOnEmbedded(InstallUtils::CMsiUtil& msi, CManagers& managers);
UINT CheckFeaturesOnEmbedded(InstallUtils::CMsiUtil& msi, CManagers& managers);
UINT RemoveQAXRegFilterDataFiles(InstallUtils::CMsiUtil& msi, CManagers& managers);

// The missing-component prompt: message 25 with title 26; Yes opens the address of message 27.
void ShowMissingComponentPrompt(InstallUtils::CMsiUtil& msi, CManagers& managers);

} // namespace EmbeddedSupport
