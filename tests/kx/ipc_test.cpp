#include "imdp/kx/Ipc.h"
#include "standin/kx/PipeServer.h"
#include "tests/kx/KxFixture.h"

#include <gtest/gtest.h>

namespace {

using imdp::kx::Ipc;
using imdp::kx::IpcStage;

// {A1B2C3D4-0001-4000-8000-00000000AA01} and ...02: two commands of the test endpoint.
const GUID kProtect = {0xa1b2c3d4, 0x0001, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xaa, 0x01}};
const GUID kUnregister = {0xa1b2c3d4, 0x0001, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0xaa, 0x02}};

std::wstring Endpoint()
{
    // One endpoint name per test, so a slow server of an earlier test cannot answer.
    std::wstring name = L"KX_TEST_" + testsupport::NewGuid();
    for (auto& ch : name)
        if (ch == L'{' || ch == L'}' || ch == L'-')
            ch = L'_';
    return name;
}

TEST(IpcAbsent, ConnectStopsAtTheFirstMissingPiece)
{
    struct Case {
        const char* name;
        std::vector<std::wstring> installed;
        bool framework;
        IpcStage stage;
        HRESULT hr;
    } cases[] = {
        {"no framework", {}, false, IpcStage::Initialize, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"no component library", {L"kxSet.dll"}, true, IpcStage::Initialize, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        {"nobody serves the endpoint", {L"kxCore.dll"}, true, IpcStage::CreateClient,
         HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kxtest::StandinFramework framework(c.installed);
        if (!c.framework)
            framework.SetFrameworkFolder(L"");
        std::unique_ptr<imdp::kx::IIpcClient> client;
        IpcStage stage = IpcStage::CreateComLib;
        EXPECT_EQ(c.hr, Ipc().Connect(L"QAX_AMPPL_SERVICE", client, stage));
        EXPECT_EQ(c.stage, stage);
        EXPECT_FALSE(client);
    }
}

class IpcTest : public ::testing::Test {
protected:
    kxtest::StandinFramework framework_;
    std::wstring endpoint_ = Endpoint();
};

TEST_F(IpcTest, CommandsAndAnswersRoundTrip)
{
    // The server answers the unregister command with an error for technology 2.
    kxstandin::PipeServer server(endpoint_, [](const kxabi::KxIpcRequest& request) {
        if (IsEqualGUID(request.command, kUnregister) && request.technologyType == 2)
            return static_cast<HRESULT>(0x80070005);
        return S_OK;
    });
    std::unique_ptr<imdp::kx::IIpcClient> client;
    IpcStage stage;
    ASSERT_EQ(S_OK, Ipc().Connect(endpoint_, client, stage));

    EXPECT_EQ(S_OK, client->Send(kUnregister, 1));
    EXPECT_EQ(static_cast<HRESULT>(0x80070005), client->Send(kUnregister, 2));
    EXPECT_EQ(S_OK, client->Send(kUnregister, 3));
    EXPECT_EQ(S_OK, client->Send(kProtect));
    // A technology number the value collection refuses is never sent.
    EXPECT_EQ(imdp::kx::KX_E_VALUE_REJECTED, client->Send(kUnregister, -1));

    const auto requests = server.Requests();
    ASSERT_EQ(4u, requests.size());
    const struct {
        const GUID* command;
        DWORD hasType;
        LONG type;
    } expected[] = {{&kUnregister, 1, 1}, {&kUnregister, 1, 2}, {&kUnregister, 1, 3}, {&kProtect, 0, 0}};
    for (size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(IsEqualGUID(*expected[i].command, requests[i].command));
        EXPECT_EQ(expected[i].hasType, requests[i].hasTechnologyType);
        EXPECT_EQ(expected[i].type, requests[i].technologyType);
    }
}

TEST_F(IpcTest, ClientsOneAfterTheOther)
{
    kxstandin::PipeServer server(endpoint_, [](const kxabi::KxIpcRequest&) { return S_FALSE; });
    for (int i = 0; i < 3; ++i) {
        std::unique_ptr<imdp::kx::IIpcClient> client;
        IpcStage stage;
        ASSERT_EQ(S_OK, Ipc().Connect(endpoint_, client, stage)) << i;
        EXPECT_EQ(S_FALSE, client->Send(kProtect));
    }
    EXPECT_EQ(3u, server.Requests().size());
}

TEST_F(IpcTest, ServerGoneAfterConnectIsAFailedSend)
{
    std::unique_ptr<imdp::kx::IIpcClient> client;
    {
        kxstandin::PipeServer server(endpoint_, [](const kxabi::KxIpcRequest&) { return S_OK; });
        IpcStage stage;
        ASSERT_EQ(S_OK, Ipc().Connect(endpoint_, client, stage));
    }
    const HRESULT hr = client->Send(kProtect);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
}

TEST_F(IpcTest, EndpointNamesThatAreNotPipeNamesAreRefused)
{
    for (const wchar_t* name : {L"", L"..\\other", L"a\\b"}) {
        std::unique_ptr<imdp::kx::IIpcClient> client;
        IpcStage stage;
        EXPECT_EQ(E_INVALIDARG, Ipc().Connect(name, client, stage)) << name;
        EXPECT_EQ(IpcStage::CreateClient, stage);
    }
}

} // namespace
