#include "imdp/kx/Silo.h"

#include "imdp/UniqueHandle.h"
#include "imdp/Seam.h"

#include <mutex>
#include <vector>

namespace imdp {
namespace kx {

namespace {

const wchar_t kClientKey[] = L"SOFTWARE\\Quorvane\\Quorvane Aegix";

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    const size_t length = wcslen(prefix);
    return text.size() >= length && _wcsnicmp(text.c_str(), prefix, length) == 0;
}

// Reads a string value (REG_SZ or REG_EXPAND_SZ, taken as written).
bool ReadString(HKEY key, const std::wstring& name, std::wstring& value)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD read = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &read) !=
        ERROR_SUCCESS)
        return false;
    value.assign(buffer.data());
    return true;
}

class CSilo : public ISilo {
public:
    bool SetSiloId(const std::wstring& id) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        id_.clear();
        root_.clear();
        flag_ = false;
        if (id.empty() || id.size() >= MAX_PATH || id.find(L'\0') != std::wstring::npos)
            return false;
        id_ = id;
        return true;
    }

    bool SetSiloRegistryRoot(const std::wstring& root) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        root_.clear();
        flag_ = false;
        if (id_.empty())
            return false;
        std::wstring path = root;
        if (StartsWithNoCase(path, L"HKLM\\"))
            path.erase(0, 5);
        else if (StartsWithNoCase(path, L"HKEY_LOCAL_MACHINE\\"))
            path.erase(0, 19);
        while (!path.empty() && path.back() == L'\\')
            path.pop_back();
        if (path.empty() || path.front() == L'\\' || path.find(L'\0') != std::wstring::npos)
            return false;
        if (path.find(L'\\') == std::wstring::npos)
            path = SiloRootForName(path);
        if (path.size() >= MAX_PATH)
            return false;
        root_ = path;
        return true;
    }

    bool SetSiloRegistryFlag() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        flag_ = false;
        if (id_.empty() || root_.empty())
            return false;
        unique_hkey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, root_.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.put()) !=
            ERROR_SUCCESS)
            return false;
        flag_ = true;
        return true;
    }

    bool ExpandString(const std::wstring& text, std::wstring& expanded) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!flag_)
            return false;
        std::wstring result;
        unique_hkey variables;
        bool variablesOpened = false;
        size_t position = 0;
        while (position < text.size()) {
            const size_t open = text.find(L'%', position);
            if (open == std::wstring::npos) {
                result.append(text, position, std::wstring::npos);
                break;
            }
            result.append(text, position, open - position);
            const size_t close = text.find(L'%', open + 1);
            if (close == std::wstring::npos)
                return false;
            const std::wstring name = text.substr(open + 1, close - open - 1);
            if (name.empty()) {
                result += L'%';
            } else if (_wcsicmp(name.c_str(), L"SILOID") == 0) {
                result += id_;
            } else if (_wcsicmp(name.c_str(), L"SILOROOT") == 0) {
                result += root_;
            } else {
                if (!variablesOpened) {
                    variablesOpened = true;
                    const std::wstring path = root_ + L"\\Variables";
                    RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                                  variables.put());
                }
                std::wstring value;
                if (!variables || !ReadString(variables.get(), name, value))
                    return false;
                result += value;
            }
            position = close + 1;
        }
        expanded = result;
        return true;
    }

    std::wstring RegistryRoot() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return flag_ ? root_ : std::wstring();
    }

private:
    std::mutex mutex_;
    std::wstring id_;
    std::wstring root_;
    bool flag_ = false;
};

} // namespace

ISilo& ISilo::Production()
{
    static CSilo production;
    return production;
}

ISilo& Silo()
{
    return Seam<ISilo>::Current();
}

std::wstring SiloRootForName(const std::wstring& name)
{
    return std::wstring(kClientKey) + L"\\Silos\\" + name;
}

ClientSiloValue ReadClientSiloValue()
{
    ClientSiloValue answer;
    unique_hkey key;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.put());
    if (status != ERROR_SUCCESS) {
        answer.failure = ClientSiloValue::Failure::OpenKey;
        answer.error = static_cast<DWORD>(status);
        return answer;
    }
    wchar_t buffer[MAX_PATH + 1] = {};
    DWORD type = 0;
    DWORD size = MAX_PATH * sizeof(wchar_t);
    status = RegQueryValueExW(key.get(), L"silo", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (status == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ)
        status = ERROR_INVALID_DATATYPE;
    if (status != ERROR_SUCCESS) {
        answer.failure = ClientSiloValue::Failure::ReadValue;
        answer.error = static_cast<DWORD>(status);
        return answer;
    }
    buffer[size / sizeof(wchar_t)] = L'\0';
    answer.value = buffer;
    return answer;
}

bool SetUpClientSilo()
{
    const ClientSiloValue silo = ReadClientSiloValue();
    if (silo.failure != ClientSiloValue::Failure::None)
        return false;
    ISilo& services = Silo();
    return services.SetSiloId(silo.value) && services.SetSiloRegistryRoot(silo.value) &&
           services.SetSiloRegistryFlag();
}

} // namespace kx
} // namespace imdp
