#pragma once

#include <windows.h>

#include <string>

namespace imdp {
namespace kx {

// A silo is one data partition of the client: an identifier and a registry
// root (a key under HKLM, 32-bit view) that holds the partition's framework
// settings (<root>\Settings), configurations (<root>\Config) and named values
// for expansion (<root>\Variables). The setters are called in the order
// identifier, registry root, registry flag; each one clears what the later
// ones set, so a silo is current only after all three have succeeded.
class ISilo {
public:
    // The real framework service; see Silo().
    static ISilo& Production();
    virtual ~ISilo() = default;

    // Any non-empty text of fewer than MAX_PATH characters.
    virtual bool SetSiloId(const std::wstring& id) = 0;
    // A key path under HKLM ("HKLM\" or "HKEY_LOCAL_MACHINE\" in front is
    // allowed) or a bare silo name, which stands for
    // SOFTWARE\Quorvane\Quorvane Aegix\Silos\<name>. Needs an identifier.
    virtual bool SetSiloRegistryRoot(const std::wstring& root) = 0;
    // Makes the silo current: needs the identifier and the root, and the root
    // key must exist.
    virtual bool SetSiloRegistryFlag() = 0;
    // Replaces each %NAME% of `text` in the current silo: SILOID and SILOROOT
    // name the silo itself, any other NAME the string value NAME of
    // <root>\Variables; "%%" stands for "%". Fails without a current silo, for
    // an unknown name or an unclosed placeholder.
    virtual bool ExpandString(const std::wstring& text, std::wstring& expanded) = 0;
    // The current silo's registry root, empty when no silo is current.
    virtual std::wstring RegistryRoot() = 0;
};

// The current silo services (the library's own, process-wide).
ISilo& Silo();

// Root for the bare silo name `name`.
std::wstring SiloRootForName(const std::wstring& name);

// The client's silo value: string value `silo` of HKLM\SOFTWARE\Quorvane\Quorvane Aegix
// (32-bit view), read into 260 characters.
struct ClientSiloValue {
    enum class Failure { None, OpenKey, ReadValue };
    Failure failure = Failure::None;
    DWORD error = ERROR_SUCCESS;
    std::wstring value;
};
ClientSiloValue ReadClientSiloValue();

// Reads the client's silo value and hands it to the identifier, registry root
// and registry flag setters in this order; true when all succeeded.
bool SetUpClientSilo();

} // namespace kx
} // namespace imdp
