#include "actions/preinstall/PlatformProbes.h"
#include "actions/preinstall/PrivilegeChecks.h"
#include "imdp/UniqueHandle.h"
#include "tests/preinstall/SessionFixture.h"

#include <gtest/gtest.h>

namespace {

using clientca::IAdminMembership;
using clientca::TokenAnswer;
using clientca::TokenStep;
using preinstalltest::SessionTest;

const wchar_t kPolicyKey[] = L"Software\\Policies\\Microsoft\\Windows\\Installer";

TokenAnswer Member(bool member)
{
    TokenAnswer answer;
    answer.member = member;
    return answer;
}

TokenAnswer Failure(TokenStep step, DWORD error)
{
    TokenAnswer answer;
    answer.failedAt = step;
    answer.error = error;
    return answer;
}

// Answers the token questions as a given kind of user would see them.
class FakeMembership : public IAdminMembership {
public:
    FakeMembership(TokenAnswer process, TokenAnswer linked) : process_(process), linked_(linked) {}
    TokenAnswer ProcessToken() override { return process_; }
    TokenAnswer LinkedToken() override
    {
        ++linkedAsked;
        return linked_;
    }
    int linkedAsked = 0;

private:
    TokenAnswer process_;
    TokenAnswer linked_;
};

// Every test starts and ends without the always-elevated policy in either hive.
class PrivilegeTest : public SessionTest {
protected:
    void SetUp() override
    {
        ClearPolicy();
        SessionTest::SetUp();
    }
    void TearDown() override
    {
        SessionTest::TearDown();
        ClearPolicy();
    }

    static void ClearPolicy()
    {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            RegDeleteKeyValueW(root, kPolicyKey, L"AlwaysInstallElevated");
    }

    static void WritePolicy(HKEY root, DWORD type, const void* data, DWORD size)
    {
        imdp::unique_hkey key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, kPolicyKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                                                 nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.get(), L"AlwaysInstallElevated", 0, type, static_cast<const BYTE*>(data), size));
    }
    static void WritePolicyDword(HKEY root, DWORD value) { WritePolicy(root, REG_DWORD, &value, sizeof(value)); }

    void RunBoth(IAdminMembership& membership)
    {
        imdp::Seam<IAdminMembership>::Scoped scope(membership);
        EXPECT_EQ(0u, clientca::IsAdminAction(handle()));
        EXPECT_EQ(0u, clientca::IsAlreadyElevatedAction(handle()));
    }
};

// Wine's user is an elevated administrator (and its linked token, which
// Windows would give only to a filtered administrator, reports Administrators
// too), so the real token answers yes to both questions here; on Windows a
// standard user would get "0". The double below covers the other kinds of user.
TEST_F(PrivilegeTest, RealTokenOfTheWineUserIsAnElevatedAdministrator)
{
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(0u, clientca.Call("IsAdmin", handle()));
    EXPECT_EQ(0u, clientca.Call("IsAlreadyElevated", handle()));
    EXPECT_EQ(L"1", Property(L"QvnAdminUser"));
    EXPECT_EQ(L"1", Property(L"AlreadyElevated"));
    EXPECT_TRUE(capture().StartingWith(L"clientca: Could not").empty()) << Log();
}

TEST_F(PrivilegeTest, KindsOfUser)
{
    struct Case {
        const char* name;
        TokenAnswer process;
        TokenAnswer linked;
        const wchar_t* admin;
        const wchar_t* elevated;
        bool linkedAsked;
    };
    const Case cases[] = {
        {"standard user", Member(false), Member(false), L"0", L"0", true},
        {"administrator in a filtered process", Member(false), Member(true), L"1", L"0", true},
        {"elevated administrator", Member(true), Member(true), L"1", L"1", false},
        {"UAC off: no linked token", Member(false), Failure(TokenStep::LinkedToken, ERROR_NO_SUCH_LOGON_SESSION), L"0",
         L"0", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMembership membership(c.process, c.linked);
        RunBoth(membership);
        EXPECT_EQ(c.admin, Property(L"QvnAdminUser"));
        EXPECT_EQ(c.elevated, Property(L"AlreadyElevated"));
        EXPECT_EQ(c.linkedAsked, membership.linkedAsked > 0);
        EXPECT_EQ(c.elevated == std::wstring(L"0"), Logged(L"clientca: Member is not elevated admin")) << Log();
        capture().Clear();
    }
}

TEST_F(PrivilegeTest, EachFailedTokenStepIsLoggedAndAnswersNo)
{
    struct Case {
        TokenAnswer process;
        TokenAnswer linked;
        const wchar_t* line;
    };
    const Case cases[] = {
        {Failure(TokenStep::OpenToken, 5), Member(false), L"clientca: Could not open current process' token. Error: 5"},
        {Failure(TokenStep::DuplicateToken, 8), Member(false),
         L"clientca: Could not duplicate current process' token. Error: 8"},
        {Failure(TokenStep::AllocateSid, 87), Member(false), L"clientca: Could not allocate Admins' SID. Error: 87"},
        {Failure(TokenStep::CheckMembership, 1309), Member(false),
         L"clientca: Could not check token membership. Error: 1309"},
        {Member(false), Failure(TokenStep::LinkedToken, 1312),
         L"clientca: Could not obtain linked token (this is ok if UAC is off). Error: 1312"},
        {Member(false), Failure(TokenStep::CheckLinkedMembership, 6),
         L"clientca: Could not check linked token membership. Error: 6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(preinstalltest::Narrow(c.line));
        FakeMembership membership(c.process, c.linked);
        imdp::Seam<IAdminMembership>::Scoped scope(membership);
        EXPECT_EQ(0u, clientca::IsAdminAction(handle()));
        EXPECT_EQ(L"0", Property(L"QvnAdminUser"));
        EXPECT_TRUE(Logged(c.line)) << Log();
        capture().Clear();
    }
}

// The policy only counts when both hives carry the DWORD 1; it is the real
// registry of the Wine prefix that the actions read.
TEST_F(PrivilegeTest, AlwaysInstallElevatedPolicyMakesAStandardUserCount)
{
    struct Case {
        const char* name;
        void (*arrange)();
        const wchar_t* answer;
    };
    const Case cases[] = {
        {"no policy", [] {}, L"0"},
        {"machine only", [] { WritePolicyDword(HKEY_LOCAL_MACHINE, 1); }, L"0"},
        {"user only", [] { WritePolicyDword(HKEY_CURRENT_USER, 1); }, L"0"},
        {"both", [] {
             WritePolicyDword(HKEY_LOCAL_MACHINE, 1);
             WritePolicyDword(HKEY_CURRENT_USER, 1);
         },
         L"1"},
        {"both, user value 2", [] {
             WritePolicyDword(HKEY_LOCAL_MACHINE, 1);
             WritePolicyDword(HKEY_CURRENT_USER, 2);
         },
         L"0"},
        {"both, user value a string", [] {
             WritePolicyDword(HKEY_LOCAL_MACHINE, 1);
             WritePolicy(HKEY_CURRENT_USER, REG_SZ, L"1", sizeof(L"1"));
         },
         L"0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearPolicy();
        c.arrange();
        FakeMembership standardUser(Member(false), Member(false));
        RunBoth(standardUser);
        EXPECT_EQ(c.answer, Property(L"QvnAdminUser"));
        EXPECT_EQ(c.answer, Property(L"AlreadyElevated"));
        const bool allowed = c.answer == std::wstring(L"1");
        EXPECT_EQ(allowed ? 2u : 0u,
                  capture().StartingWith(L"clientca: Allowing install due to AlwaysInstallElevated policy").size())
            << Log();
        capture().Clear();
    }
}

} // namespace
