#include "imdp/UniqueHandle.h"
#include "imdp/kx/FrameworkFolder.h"
#include "install_utils/PackageValidation.h"
#include "tests/kx/KxFixture.h"
#include "tests/os_services/TestServiceHost.h"
#include "tests/support/Package.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// The installations checked here run real chains of processes: copies of one
// small program under the names ktainst.exe, setup.exe, ..., each starting the
// next, the last one standing for the installer client. The agent is a real
// service, and trust is answered by the stand-in framework's verifier on
// signed copies of the programs.
//
// These tests run as a 64-bit process. The shipped 32-bit library under WOW64
// walks the same snapshot, reads the images of 64-bit processes and opens the
// client's key in the same 32-bit view, which this run does not show.

namespace {

using ostest::Narrow;

std::wstring Signed(const wchar_t* set, const wchar_t* file)
{
    return testsupport::ModuleFolder() + L"prevalsigned\\" + set + L"\\" + file;
}

// Signed copies of the chain program: by the maker, by another publisher, not at all.
const wchar_t* const kTrusted = L"maker.exe";
const wchar_t* const kOtherPublisher = L"othermaker.exe";
const wchar_t* const kUnsigned = L"unsigned.exe";

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

// The process `parent` started from the file named `name` (ignoring case),
// once it shows in a snapshot; 0 after 10 s. A program started by a service
// may get a console host process first.
DWORD WaitForChildOf(DWORD parent, const std::wstring& name)
{
    for (int attempt = 0; attempt < 500; ++attempt) {
        imdp::unique_file_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry))
            if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent &&
                _wcsicmp(entry.szExeFile, name.c_str()) == 0)
                return entry.th32ProcessID;
        Sleep(20);
    }
    return 0;
}

DWORD ServiceProcessId(const std::wstring& name)
{
    imdp::unique_service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    imdp::unique_service_handle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed))
        return 0;
    return status.dwProcessId;
}

// One program of a chain: which signed copy, under which name.
struct Link {
    const wchar_t* copy;
    const wchar_t* name;
};

// The chain's programs copied into a folder of their own, top first, and the
// idle installer client at the end. Every process of the chain is ended with it.
class ProcessChain {
public:
    explicit ProcessChain(const std::vector<Link>& links)
    {
        folder_ = testsupport::DataPath(L"chain-" + testsupport::NewGuid()) + L"\\";
        CreateDirectoryW(folder_.c_str(), nullptr);
        std::vector<Link> all = links;
        all.push_back({kTrusted, L"msiexec.exe"});
        for (const auto& link : all) {
            names_.push_back(link.name);
            files_.push_back(folder_ + link.name);
            if (!CopyFileW(Signed(L"link", link.copy).c_str(), files_.back().c_str(), FALSE))
                throw std::runtime_error("cannot copy " + Narrow(link.name));
            command_ += (command_.empty() ? L"" : L" ") + Quoted(files_.back());
        }

    }

    ~ProcessChain()
    {
        // Bottom first, so that no link is left to start anything anew.
        for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
            TerminateProcess(it->get(), 0);
            WaitForSingleObject(it->get(), 10000);
        }
        processes_.clear();
        for (const auto& file : files_)
            DeleteFileW(file.c_str());
        RemoveDirectoryW(folder_.c_str());
    }

    ProcessChain(const ProcessChain&) = delete;
    ProcessChain& operator=(const ProcessChain&) = delete;

    // The command line that starts the chain's top program.
    const std::wstring& CommandLine() const { return command_; }

    // Starts the chain from this test program.
    void Start()
    {
        std::wstring command = command_;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            throw std::runtime_error("CreateProcessW failed: " + std::to_string(GetLastError()));
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        Follow(info.dwProcessId);
    }

    // Takes the chain over from the process that started it.
    void StartedBy(DWORD starter) { Follow(WaitForChildOf(starter, names_.front())); }

    DWORD ClientPid() const { return pids_.empty() ? 0 : pids_.back(); }

private:
    // Finds every link below `top` and holds it open, so that no id is reused.
    void Follow(DWORD top)
    {
        for (DWORD pid = top; pid != 0;) {
            processes_.emplace_back(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
            pids_.push_back(pid);
            if (pids_.size() == names_.size())
                break;
            pid = WaitForChildOf(pid, names_[pids_.size()]);
        }
        if (pids_.size() != names_.size())
            throw std::runtime_error("the process chain did not come up");
    }

    std::wstring folder_;
    std::wstring command_;
    std::vector<std::wstring> names_;
    std::vector<std::wstring> files_;
    std::vector<DWORD> pids_;
    std::vector<imdp::unique_kernel_handle> processes_;
};

// Services standing for the agent: a trusted and an untrusted copy, running,
// and a trusted one that is installed but stopped.
const wchar_t* const kAgent = L"QvnPrevalAgent";
const wchar_t* const kUntrustedAgent = L"QvnPrevalAgentUnsigned";
const wchar_t* const kStoppedAgent = L"QvnPrevalAgentStopped";
const wchar_t* const kMissingAgent = L"QvnPrevalAgentMissing";

// The values this suite writes under the client's CurrentVersion key (32-bit
// view). Another suite deletes the client's key, so each test seeds what it
// needs and removes it again (the key too when it was not there before).
class ClientVersionKey {
public:
    ClientVersionKey() : existed_(Exists()) {}
    ~ClientVersionKey()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, imdp::kx::kClientVersionKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                          &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"PRODUCTVERSION");
            RegDeleteValueW(key, L"SERVICENAME");
            RegCloseKey(key);
        }
        if (!existed_)
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, imdp::kx::kClientVersionKey, KEY_WOW64_32KEY, 0);
    }
    ClientVersionKey(const ClientVersionKey&) = delete;
    ClientVersionKey& operator=(const ClientVersionKey&) = delete;

    void Set(const wchar_t* name, const std::wstring& value)
    {
        kxtest::SetString32(imdp::kx::kClientVersionKey, name, value);
    }
    void Remove() { kxtest::DeleteTree32(imdp::kx::kClientVersionKey); }

private:
    static bool Exists()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, imdp::kx::kClientVersionKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) !=
            ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    bool existed_;
};

class PackageValidationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(kxtest::AddTrustedRoot(Signed(L"link", L"root.der")));
        ASSERT_TRUE(kxtest::AddTrustedRoot(Signed(L"agent", L"root.der")));
        agent_ = new ostest::TestServiceHost(kAgent, L"stop", 0, Signed(L"agent", kTrusted));
        untrustedAgent_ = new ostest::TestServiceHost(kUntrustedAgent, L"stop", 0, Signed(L"agent", kUnsigned));
        stoppedAgent_ = new ostest::TestServiceHost(kStoppedAgent, L"stop", 0, Signed(L"agent", kTrusted));
        agent_->Start();
        untrustedAgent_->Start();
    }

    static void TearDownTestSuite()
    {
        delete agent_;
        delete untrustedAgent_;
        delete stoppedAgent_;
        agent_ = untrustedAgent_ = stoppedAgent_ = nullptr;
    }

    static const std::wstring& Package()
    {
        static const std::wstring package =
            testsupport::PackageBuilder(testsupport::DataPath(L"prevalidation.msi")).Commit();
        return package;
    }

    void SetUp() override
    {
        client_.Set(L"PRODUCTVERSION", L"12.1.6000.0");
        client_.Set(L"SERVICENAME", kAgent);
        session_ = std::make_unique<testsupport::Session>(Package());
    }

    void TearDown() override { session_.reset(); }

    // Asks for the answer with the installer client and the agent's id as given.
    bool Validated(DWORD clientPid, const std::wstring& ktaPid)
    {
        return Validated(std::to_wstring(clientPid), ktaPid);
    }
    bool Validated(const std::wstring& clientPid, const std::wstring& ktaPid)
    {
        capture_.Clear();
        session_->SetProperty(L"CLIENTPROCESSID", clientPid);
        session_->SetProperty(L"KTAPID", ktaPid);
        const bool validated = InstallUtils::PackageValidated(session_->get());
        // The answer is always the last line.
        const std::wstring last = capture_.Lines().empty() ? L"" : capture_.Lines().back();
        EXPECT_TRUE(EndsWith(last, validated ? L"INFO  The package had already been validated. "
                                             : L"INFO  The package is not validated yet. "))
            << Narrow(last);
        return validated;
    }

    static std::wstring AgentPid(const wchar_t* service = kAgent) { return std::to_wstring(ServiceProcessId(service)); }

    static bool EndsWith(const std::wstring& text, const std::wstring& tail)
    {
        return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    }

    // The ERROR lines of the last check, without their time stamps.
    std::vector<std::wstring> Errors() const
    {
        std::vector<std::wstring> errors;
        for (const auto& line : capture_.Lines()) {
            const size_t at = line.find(L" ERROR ");
            if (at != std::wstring::npos)
                errors.push_back(line.substr(at + 7));
        }
        return errors;
    }

    bool LoggedInfo(const std::wstring& text) const
    {
        for (const auto& line : capture_.Lines())
            if (EndsWith(line, L"INFO  " + text))
                return true;
        return false;
    }

    static ostest::TestServiceHost* agent_;
    static ostest::TestServiceHost* untrustedAgent_;
    static ostest::TestServiceHost* stoppedAgent_;

    ClientVersionKey client_;
    kxtest::StandinFramework framework_;
    testsupport::LogCapture capture_;
    std::unique_ptr<testsupport::Session> session_;
};

ostest::TestServiceHost* PackageValidationTest::agent_ = nullptr;
ostest::TestServiceHost* PackageValidationTest::untrustedAgent_ = nullptr;
ostest::TestServiceHost* PackageValidationTest::stoppedAgent_ = nullptr;

enum class AgentId { Agent, Empty, Zero, Other };

TEST_F(PackageValidationTest, ChainOfInstallerProgramsAndTheAgentBehindIt)
{
    const struct Case {
        const char* what;
        std::vector<Link> links;
        const wchar_t* service;
        AgentId ktaPid;
        bool validated;
    } cases[] = {
        {"agent's installer", {{kTrusted, L"ktainst.exe"}, {kTrusted, L"setup.exe"}}, kAgent, AgentId::Agent, true},
        {"setup runner", {{kTrusted, L"RXKSetupRunner.exe"}, {kTrusted, L"setup.exe"}}, kAgent, AgentId::Agent,
         true},
        {"names in another case", {{kTrusted, L"KTAINST.EXE"}, {kTrusted, L"SETUP.EXE"}}, kAgent, AgentId::Agent,
         true},
        {"started directly", {{kTrusted, L"ktainst.exe"}, {kTrusted, L"explorer.exe"}}, kAgent, AgentId::Agent,
         false},
        {"unsigned setup", {{kTrusted, L"ktainst.exe"}, {kUnsigned, L"setup.exe"}}, kAgent, AgentId::Agent, false},
        {"setup of another publisher", {{kTrusted, L"ktainst.exe"}, {kOtherPublisher, L"setup.exe"}}, kAgent,
         AgentId::Agent, false},
        {"unsigned installer", {{kUnsigned, L"ktainst.exe"}, {kTrusted, L"setup.exe"}}, kAgent, AgentId::Agent,
         false},
        {"unknown grandparent", {{kTrusted, L"cmd.exe"}, {kTrusted, L"setup.exe"}}, kAgent, AgentId::Agent,
         false},
        // The test program, not the agent, started this chain.
        {"no agent id", {{kTrusted, L"ktainst.exe"}, {kTrusted, L"setup.exe"}}, kAgent, AgentId::Empty, false},
        {"someone else's id", {{kTrusted, L"ktainst.exe"}, {kTrusted, L"setup.exe"}}, kAgent, AgentId::Other,
         false},
        {"untrusted agent", {{kTrusted, L"ktainst.exe"}, {kTrusted, L"setup.exe"}}, kUntrustedAgent,
         AgentId::Agent, false},
        // A stopped service runs in no process: its id 0 matches nothing.
        {"stopped agent", {{kTrusted, L"ktainst.exe"}, {kTrusted, L"setup.exe"}}, kStoppedAgent, AgentId::Zero,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        client_.Set(L"SERVICENAME", c.service);
        ProcessChain chain(c.links);
        chain.Start();
        std::wstring ktaPid;
        switch (c.ktaPid) {
        case AgentId::Agent:
            ktaPid = AgentPid(c.service);
            break;
        case AgentId::Zero:
            ktaPid = L"0";
            break;
        case AgentId::Other:
            ktaPid = std::to_wstring(GetCurrentProcessId());
            break;
        case AgentId::Empty:
            break;
        }
        EXPECT_EQ(c.validated, Validated(chain.ClientPid(), ktaPid));
        EXPECT_TRUE(Errors().empty()) << Narrow(Errors().front());
    }
}

TEST_F(PackageValidationTest, AgentThatStartedTheInstallerNeedsNoId)
{
    const wchar_t* const launcher = L"QvnPrevalAgentLauncher";
    ProcessChain chain({{kTrusted, L"ktainst.exe"}, {kTrusted, L"setup.exe"}});
    ostest::TestServiceHost service(launcher, L"stop", 0, Signed(L"agent", kTrusted), chain.CommandLine());
    service.Start();
    chain.StartedBy(ServiceProcessId(launcher));
    client_.Set(L"SERVICENAME", launcher);
    EXPECT_TRUE(Validated(chain.ClientPid(), L""));
    // Another service did not start it.
    client_.Set(L"SERVICENAME", kAgent);
    EXPECT_FALSE(Validated(chain.ClientPid(), L""));
}

TEST_F(PackageValidationTest, InstalledVersionComparedNumberByNumber)
{
    ProcessChain chain({{kTrusted, L"ktainst.exe"}, {kTrusted, L"setup.exe"}});
    chain.Start();
    const struct {
        const wchar_t* version;
        bool validated;
    } cases[] = {
        {L"12.1.6000.0", true}, {L"14.0.0.0", true},     {L"12.2.0.0", true},    {L"12.1.6000.1", true},
        {L"12.10.0.0", true},   {L"12.1.5999.0", false}, {L"12.0.9999.9", false}, {L"9.9.9.9", false},
        {L"11.99.99999.99", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.version));
        client_.Set(L"PRODUCTVERSION", c.version);
        EXPECT_EQ(c.validated, Validated(chain.ClientPid(), AgentPid()));
        EXPECT_TRUE(Errors().empty());
    }
}

TEST_F(PackageValidationTest, MissingClientKeyIsNotValidated)
{
    ProcessChain chain({{kTrusted, L"ktainst.exe"}, {kTrusted, L"setup.exe"}});
    chain.Start();
    client_.Remove();
    EXPECT_FALSE(Validated(chain.ClientPid(), AgentPid()));
    EXPECT_TRUE(LoggedInfo(L"Cannot get the product version, treat it as not validated "));
    EXPECT_TRUE(Errors().empty());
}

// Whatever fails on the way is logged as an exception and answers no.
TEST_F(PackageValidationTest, FailuresAreLoggedAndNotValidated)
{
    ProcessChain chain({{kTrusted, L"ktainst.exe"}, {kTrusted, L"setup.exe"}});
    chain.Start();
    const std::wstring client = std::to_wstring(chain.ClientPid());
    const struct {
        const char* what;
        const wchar_t* version;
        const wchar_t* service;
        std::wstring clientPid;
        std::wstring ktaPid;
    } cases[] = {
        {"client id not a number", L"12.1.6000.0", kAgent, L"setup", AgentPid()},
        {"client id empty", L"12.1.6000.0", kAgent, L"", AgentPid()},
        {"no such client process", L"12.1.6000.0", kAgent, L"2147483644", AgentPid()},
        {"agent id not a number", L"12.1.6000.0", kAgent, client, L"agent"},
        {"version of three numbers", L"12.1.6000", kAgent, client, AgentPid()},
        {"version of five numbers", L"12.1.6000.0.1", kAgent, client, AgentPid()},
        {"version with a word", L"12.1.beta.0", kAgent, client, AgentPid()},
        {"empty version", L"", kAgent, client, AgentPid()},
        {"agent service not installed", L"12.1.6000.0", kMissingAgent, client, AgentPid()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        client_.Set(L"PRODUCTVERSION", c.version);
        client_.Set(L"SERVICENAME", c.service);
        EXPECT_FALSE(Validated(c.clientPid, c.ktaPid));
        const auto errors = Errors();
        ASSERT_EQ(1u, errors.size());
        EXPECT_EQ(0u, errors[0].find(L"Exception: ")) << Narrow(errors[0]);
        EXPECT_GT(errors[0].size(), std::wstring(L"Exception: ").size());
    }
}

} // namespace
