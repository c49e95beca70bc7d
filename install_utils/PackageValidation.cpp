#include "install_utils/PackageValidation.h"

#include "imdp/StringConv.h"
#include "imdp/kx/FrameworkFolder.h"
#include "imdp/kx/Trust.h"
#include "imdp/log/LogLevel.h"
#include "imdp/msi/Session.h"
#include "imdp/os/Process.h"
#include "imdp/os/RegistryKey.h"
#include "imdp/os/Service.h"
#include "install_utils/InstallUtilsException.h"

#include <array>
#include <stdexcept>
#include <string>

namespace InstallUtils {
namespace {

using imdp::log::LOG_ERROR;
using imdp::log::LOG_INFO;
using imdp::msi::CSession;

using Version = std::array<unsigned long, 4>;

// Clients older than this never count as validated.
const Version kReferenceVersion = {12, 1, 6000, 0};

const wchar_t kParentName[] = L"setup.exe";
const wchar_t* const kGrandparentNames[] = {L"ktainst.exe", L"RXKSetupRunner.exe"};

// "a.b.c.d" as its four numbers; anything else throws.
Version ParseVersion(const std::wstring& text)
{
    Version version = {};
    size_t pos = 0;
    for (size_t i = 0; i < version.size(); ++i) {
        const size_t end = i + 1 < version.size() ? text.find(L'.', pos) : text.size();
        const std::wstring part = end == std::wstring::npos ? std::wstring() : text.substr(pos, end - pos);
        if (part.empty() || part.size() > 9 || part.find_first_not_of(L"0123456789") != std::wstring::npos)
            throw std::runtime_error("The product version is not four numbers: " + imdp::WideToAnsi(text));
        version[i] = std::stoul(part);
        pos = end + 1;
    }
    return version;
}

// The file-name part of an image path.
std::wstring FileName(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool SameName(const std::wstring& a, const wchar_t* b)
{
    return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

// The image of `pid`: its name is taken from the device-form path, and the
// trust test opens it by its drive letter (file functions do not take device
// paths).
struct ProcessImage {
    std::wstring devicePath;
    std::wstring path;

    explicit ProcessImage(DWORD pid)
        : devicePath(imdp::os::GetProcessImagePath(pid)), path(imdp::os::DevicePathToDrivePath(devicePath))
    {
    }
    std::wstring Name() const { return FileName(devicePath); }
    bool Trusted() const { return imdp::kx::IsTrustedImage(path); }
};

// The answer before it is logged; throws on any failed query.
bool CheckPackage(CSession& session)
{
    const imdp::os::CRegistryKey machine(KEY_WOW64_32KEY);
    if (!machine.SubKeyExists(imdp::kx::kClientVersionKey)) {
        session.Log(LOG_INFO) << L"Cannot get the product version, treat it as not validated " << std::endl;
        return false;
    }
    const imdp::os::CRegistryKey client = machine.OpenSubKey(imdp::kx::kClientVersionKey, KEY_READ);

    // Number by number from the left; the first that differs decides.
    if (ParseVersion(client.QueryString(L"PRODUCTVERSION")) < kReferenceVersion)
        return false;

    const DWORD clientPid = static_cast<DWORD>(std::stoi(session.GetProperty(L"CLIENTPROCESSID")));

    const DWORD parentPid = imdp::os::GetParentProcessId(clientPid);
    const ProcessImage parent(parentPid);
    if (!SameName(parent.Name(), kParentName) || !parent.Trusted())
        return false;

    const DWORD grandparentPid = imdp::os::GetParentProcessId(parentPid);
    const ProcessImage grandparent(grandparentPid);
    bool knownName = false;
    for (const wchar_t* name : kGrandparentNames)
        knownName = knownName || SameName(grandparent.Name(), name);
    if (!knownName || !grandparent.Trusted())
        return false;

    // The agent stands behind the chain when it gave its own process id to the
    // installation, or when it started the grandparent itself.
    const DWORD agentPid = imdp::os::GetServiceProcessId(client.QueryString(L"SERVICENAME"));
    if (agentPid == 0)
        return false;
    const std::wstring ktaPid = session.GetProperty(L"KTAPID");
    const bool namedByAgent = !ktaPid.empty() && static_cast<DWORD>(std::stoi(ktaPid)) == agentPid;
    const bool startedByAgent = !namedByAgent && imdp::os::GetParentProcessId(grandparentPid) == agentPid;
    if (!namedByAgent && !startedByAgent)
        return false;
    // The program file that must be trusted here is the agent service's own
    // image: the process that vouches for the chain, whichever way it did.
    return ProcessImage(agentPid).Trusted();
}

} // namespace

bool PackageValidated(MSIHANDLE hInstall)
{
    try {
        CSession session(hInstall);
        bool validated = false;
        try {
            validated = CheckPackage(session);
        } catch (const std::exception& e) {
            session.Log(LOG_ERROR) << L"Exception: " << imdp::AnsiToWide(e.what()) << std::endl;
        } catch (const CInstallUtilsException& e) {
            session.Log(LOG_ERROR) << L"Exception: " << e.message() << std::endl;
        } catch (...) {
            session.Log(LOG_ERROR) << L"Exception: unknown" << std::endl;
        }
        session.Log(LOG_INFO) << (validated ? L"The package had already been validated. "
                                            : L"The package is not validated yet. ")
                              << std::endl;
        return validated;
    } catch (...) {
        return false;
    }
}

} // namespace InstallUtils
