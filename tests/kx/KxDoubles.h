#pragma once

// Test doubles of the framework services, for tests of the actions that use
// them. Each keeps what it was asked in plain members a test can read and set.

#include "imdp/kx/Config.h"
#include "imdp/kx/Ipc.h"
#include "imdp/kx/Settings.h"
#include "imdp/kx/Silo.h"
#include "imdp/kx/Trust.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kxtest {

// Records "id:<text>", "root:<text>", "flag" and "expand:<text>" in order.
struct FakeSilo : imdp::kx::ISilo {
    std::vector<std::wstring> calls;
    bool idResult = true, rootResult = true, flagResult = true;
    // %NAME% -> value; a name not listed fails the expansion.
    std::map<std::wstring, std::wstring> variables;
    std::wstring root;

    bool SetSiloId(const std::wstring& id) override
    {
        calls.push_back(L"id:" + id);
        return idResult;
    }
    bool SetSiloRegistryRoot(const std::wstring& value) override
    {
        calls.push_back(L"root:" + value);
        root = value;
        return rootResult;
    }
    bool SetSiloRegistryFlag() override
    {
        calls.push_back(L"flag");
        return flagResult;
    }
    bool ExpandString(const std::wstring& text, std::wstring& expanded) override
    {
        calls.push_back(L"expand:" + text);
        std::wstring out;
        for (size_t pos = 0; pos < text.size();) {
            const size_t open = text.find(L'%', pos);
            if (open == std::wstring::npos) {
                out += text.substr(pos);
                break;
            }
            const size_t close = text.find(L'%', open + 1);
            if (close == std::wstring::npos)
                return false;
            const auto it = variables.find(text.substr(open + 1, close - open - 1));
            if (it == variables.end())
                return false;
            out += text.substr(pos, open - pos) + it->second;
            pos = close + 1;
        }
        expanded = out;
        return true;
    }
    std::wstring RegistryRoot() override { return root; }
};

// Settings held in memory: keys[name].dwords / .binaries; SetDword is held
// until Commit, which counts itself in `commits`.
struct FakeSettings : imdp::kx::ISettings {
    struct Key {
        std::map<std::wstring, DWORD> dwords;
        std::map<std::wstring, std::vector<BYTE>> binaries;
        HRESULT setResult = S_OK;
        HRESULT commitResult = S_OK;
        int commits = 0;
    };
    bool active = true;
    HRESULT createResult = S_OK;
    // Answer of OpenKey for a name not in `keys`.
    HRESULT missingKeyResult = imdp::kx::KX_E_NOT_FOUND;
    std::map<std::wstring, Key> keys;

    struct KeyDouble : imdp::kx::ISettingsKey {
        explicit KeyDouble(Key& key) : key_(key) {}
        HRESULT GetDword(const std::wstring& name, DWORD& value) override
        {
            const auto it = key_.dwords.find(name);
            if (it == key_.dwords.end())
                return imdp::kx::KX_E_NOT_FOUND;
            value = it->second;
            return S_OK;
        }
        HRESULT GetBinary(const std::wstring& name, BYTE* buffer, DWORD& size) override
        {
            const auto it = key_.binaries.find(name);
            if (it == key_.binaries.end())
                return imdp::kx::KX_E_NOT_FOUND;
            const DWORD needed = static_cast<DWORD>(it->second.size());
            if (buffer == nullptr || size < needed) {
                size = needed;
                return imdp::kx::KX_E_BUFFER_TOO_SMALL;
            }
            std::copy(it->second.begin(), it->second.end(), buffer);
            size = needed;
            return S_OK;
        }
        HRESULT SetDword(const std::wstring& name, DWORD value) override
        {
            if (FAILED(key_.setResult))
                return key_.setResult;
            pending_[name] = value;
            return S_OK;
        }
        HRESULT Commit() override
        {
            if (FAILED(key_.commitResult))
                return key_.commitResult;
            for (const auto& entry : pending_)
                key_.dwords[entry.first] = entry.second;
            pending_.clear();
            ++key_.commits;
            return S_OK;
        }

    private:
        Key& key_;
        std::map<std::wstring, DWORD> pending_;
    };

    struct ManagerDouble : imdp::kx::ISettingsManager {
        explicit ManagerDouble(FakeSettings& owner) : owner_(owner) {}
        HRESULT OpenKey(const std::wstring& name, std::unique_ptr<imdp::kx::ISettingsKey>& key) override
        {
            const auto it = owner_.keys.find(name);
            if (it == owner_.keys.end())
                return owner_.missingKeyResult;
            key = std::make_unique<KeyDouble>(it->second);
            return S_OK;
        }

    private:
        FakeSettings& owner_;
    };

    bool IsActive() override { return active; }
    HRESULT CreateManager(std::unique_ptr<imdp::kx::ISettingsManager>& manager) override
    {
        if (FAILED(createResult))
            return createResult;
        manager = std::make_unique<ManagerDouble>(*this);
        return S_OK;
    }
};

// Configurations held in memory by name.
struct FakeConfigService : imdp::kx::IConfigService {
    struct Configuration {
        std::map<std::wstring, DWORD> values;
        bool needsReset = false;
        HRESULT resetResult = S_OK, applyResult = S_OK;
        int resets = 0, applies = 0;
    };
    HRESULT createResult = S_OK;
    std::map<std::wstring, Configuration> configurations;

    struct ConfigurationDouble : imdp::kx::IConfiguration {
        explicit ConfigurationDouble(Configuration& c) : c_(c) {}
        HRESULT GetDword(const std::wstring& name, DWORD& value) override
        {
            const auto it = c_.values.find(name);
            if (it == c_.values.end())
                return imdp::kx::KX_E_NOT_FOUND;
            value = it->second;
            return S_OK;
        }
        HRESULT SetDword(const std::wstring& name, DWORD value) override
        {
            pending_[name] = value;
            return S_OK;
        }
        HRESULT NeedsReset() override { return c_.needsReset ? S_OK : S_FALSE; }
        HRESULT Reset() override
        {
            ++c_.resets;
            if (SUCCEEDED(c_.resetResult))
                c_.needsReset = false;
            return c_.resetResult;
        }
        HRESULT Apply() override
        {
            ++c_.applies;
            if (FAILED(c_.applyResult))
                return c_.applyResult;
            for (const auto& entry : pending_)
                c_.values[entry.first] = entry.second;
            pending_.clear();
            return S_OK;
        }

    private:
        Configuration& c_;
        std::map<std::wstring, DWORD> pending_;
    };

    struct ManagementDouble : imdp::kx::IConfigManagement {
        explicit ManagementDouble(FakeConfigService& owner) : owner_(owner) {}
        HRESULT GetConfiguration(const std::wstring& name,
                                 std::unique_ptr<imdp::kx::IConfiguration>& configuration) override
        {
            const auto it = owner_.configurations.find(name);
            if (it == owner_.configurations.end())
                return imdp::kx::KX_E_NOT_FOUND;
            configuration = std::make_unique<ConfigurationDouble>(it->second);
            return S_OK;
        }

    private:
        FakeConfigService& owner_;
    };

    HRESULT CreateConfigManagement(std::unique_ptr<imdp::kx::IConfigManagement>& management) override
    {
        if (FAILED(createResult))
            return createResult;
        management = std::make_unique<ManagementDouble>(*this);
        return S_OK;
    }
};

// Records every command sent; answers from `answers` (by command) or S_OK.
struct FakeIpc : imdp::kx::IIpc {
    struct Sent {
        std::wstring endpoint;
        GUID command;
        std::optional<LONG> technologyType;
    };
    HRESULT connectResult = S_OK;
    imdp::kx::IpcStage failingStage = imdp::kx::IpcStage::CreateClient;
    std::vector<std::pair<GUID, HRESULT>> answers;
    std::vector<Sent> sent;

    struct ClientDouble : imdp::kx::IIpcClient {
        ClientDouble(FakeIpc& owner, std::wstring endpoint) : owner_(owner), endpoint_(std::move(endpoint)) {}
        HRESULT Send(const GUID& command, std::optional<LONG> technologyType) override
        {
            owner_.sent.push_back({endpoint_, command, technologyType});
            for (const auto& answer : owner_.answers)
                if (IsEqualGUID(answer.first, command))
                    return answer.second;
            return S_OK;
        }

    private:
        FakeIpc& owner_;
        std::wstring endpoint_;
    };

    HRESULT Connect(const std::wstring& endpoint, std::unique_ptr<imdp::kx::IIpcClient>& client,
                    imdp::kx::IpcStage& failedAt) override
    {
        if (FAILED(connectResult)) {
            failedAt = failingStage;
            return connectResult;
        }
        client = std::make_unique<ClientDouble>(*this, endpoint);
        return S_OK;
    }
};

// Trusts the paths in `trusted` (compared ignoring case); WHQL answers by path.
struct FakeTrust : imdp::kx::ITrust {
    HRESULT createResult = S_OK;
    std::set<std::wstring> trusted;
    std::map<std::wstring, std::pair<HRESULT, bool>> whql;
    std::vector<std::wstring> verified;

    struct VerifierDouble : imdp::kx::ITrustVerifier {
        explicit VerifierDouble(FakeTrust& owner) : owner_(owner) {}
        LONG Initialize(LONG options) override { return options == 1 ? 1 : 0; }
        LONG VerifyFile(HANDLE, const std::wstring& path, LONG) override
        {
            owner_.verified.push_back(path);
            for (const auto& p : owner_.trusted)
                if (_wcsicmp(p.c_str(), path.c_str()) == 0)
                    return 1;
            return static_cast<LONG>(TRUST_E_NOSIGNATURE);
        }
        HRESULT IsWhqlSigned(const std::wstring& catalog, bool& whql) override
        {
            const auto it = owner_.whql.find(catalog);
            if (it == owner_.whql.end()) {
                whql = false;
                return TRUST_E_NOSIGNATURE;
            }
            whql = it->second.second;
            return it->second.first;
        }

    private:
        FakeTrust& owner_;
    };

    HRESULT CreateVerifier(std::unique_ptr<imdp::kx::ITrustVerifier>& verifier) override
    {
        if (FAILED(createResult))
            return createResult;
        verifier = std::make_unique<VerifierDouble>(*this);
        return S_OK;
    }
};

} // namespace kxtest
