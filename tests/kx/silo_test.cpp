#include "imdp/kx/Silo.h"
#include "tests/kx/KxDoubles.h"
#include "tests/kx/KxFixture.h"
#include "tests/kx/ScopedKx.h"

#include <gtest/gtest.h>

namespace {

using imdp::kx::Silo;
using kxtest::ClientRegistry;

const std::wstring kSilos = L"SOFTWARE\\Quorvane\\Quorvane Aegix\\Silos";

class SiloTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kxtest::CreateKey32(kSilos + L"\\Blue");
        kxtest::SetString32(kSilos + L"\\Blue\\Variables", L"DUDEFAULTDEF", L"AdvMLDefs");
        kxtest::SetString32(kSilos + L"\\Blue\\Variables", L"DATADIR", L"C:\\Data\\Blue");
        kxtest::CreateKey32(L"SOFTWARE\\Elsewhere\\Partition");
    }
    void TearDown() override { kxtest::DeleteTree32(L"SOFTWARE\\Elsewhere"); }

    ClientRegistry registry_;
};

TEST_F(SiloTest, SettersMustRunInOrderAndEachClearsTheLaterOnes)
{
    // Flag without a root, root without an identifier: refused.
    ASSERT_TRUE(Silo().SetSiloId(L"Blue"));
    EXPECT_FALSE(Silo().SetSiloRegistryFlag());
    EXPECT_TRUE(Silo().SetSiloRegistryRoot(L"Blue"));
    EXPECT_TRUE(Silo().SetSiloRegistryFlag());
    EXPECT_EQ(kSilos + L"\\Blue", Silo().RegistryRoot());

    // A new identifier forgets the previous root and flag.
    EXPECT_TRUE(Silo().SetSiloId(L"Green"));
    EXPECT_EQ(L"", Silo().RegistryRoot());
    EXPECT_FALSE(Silo().SetSiloRegistryFlag());

    // A failed identifier leaves no identifier behind for the root setter.
    EXPECT_FALSE(Silo().SetSiloId(L""));
    EXPECT_FALSE(Silo().SetSiloRegistryRoot(L"Blue"));
}

TEST_F(SiloTest, RegistryRootForms)
{
    struct Case {
        const wchar_t* root;
        bool rootAccepted;
        bool flagAccepted; // the key must exist
        const wchar_t* registryRoot;
    } cases[] = {
        {L"Blue", true, true, L"SOFTWARE\\Quorvane\\Quorvane Aegix\\Silos\\Blue"},
        {L"SOFTWARE\\Elsewhere\\Partition", true, true, L"SOFTWARE\\Elsewhere\\Partition"},
        {L"HKLM\\SOFTWARE\\Elsewhere\\Partition\\", true, true, L"SOFTWARE\\Elsewhere\\Partition"},
        {L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Elsewhere\\Partition", true, true, L"SOFTWARE\\Elsewhere\\Partition"},
        {L"Missing", true, false, L""},
        {L"", false, false, L""},
        {L"\\SOFTWARE\\Elsewhere", false, false, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.root);
        ASSERT_TRUE(Silo().SetSiloId(L"Blue"));
        EXPECT_EQ(c.rootAccepted, Silo().SetSiloRegistryRoot(c.root));
        EXPECT_EQ(c.flagAccepted, Silo().SetSiloRegistryFlag());
        EXPECT_EQ(c.registryRoot, Silo().RegistryRoot());
    }
}

TEST_F(SiloTest, ExpandsNamesOfTheCurrentSilo)
{
    ASSERT_TRUE(Silo().SetSiloId(L"Blue"));
    ASSERT_TRUE(Silo().SetSiloRegistryRoot(L"Blue"));
    ASSERT_TRUE(Silo().SetSiloRegistryFlag());
    struct Case {
        const wchar_t* text;
        bool ok;
        const wchar_t* expanded;
    } cases[] = {
        {L"%DUDEFAULTDEF%", true, L"AdvMLDefs"},
        {L"%dudefaultdef%", true, L"AdvMLDefs"}, // registry value names ignore case
        {L"%DATADIR%\\defs\\%DUDEFAULTDEF%.dat", true, L"C:\\Data\\Blue\\defs\\AdvMLDefs.dat"},
        {L"%SILOID% at %SILOROOT%", true, L"Blue at SOFTWARE\\Quorvane\\Quorvane Aegix\\Silos\\Blue"},
        {L"100%% sure", true, L"100% sure"},
        {L"no names", true, L"no names"},
        {L"", true, L""},
        {L"%UNKNOWN%", false, L"untouched"},
        {L"%DUDEFAULTDEF", false, L"untouched"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::wstring expanded = L"untouched";
        EXPECT_EQ(c.ok, Silo().ExpandString(c.text, expanded));
        EXPECT_EQ(c.expanded, expanded);
    }
}

TEST_F(SiloTest, ExpansionNeedsACurrentSilo)
{
    std::wstring expanded;
    ASSERT_TRUE(Silo().SetSiloId(L"Blue"));
    EXPECT_FALSE(Silo().ExpandString(L"%DUDEFAULTDEF%", expanded));
    ASSERT_TRUE(Silo().SetSiloRegistryRoot(L"Blue"));
    EXPECT_FALSE(Silo().ExpandString(L"%DUDEFAULTDEF%", expanded));
    // A silo without a Variables key knows only its own names.
    kxtest::DeleteTree32(kSilos + L"\\Blue\\Variables");
    ASSERT_TRUE(Silo().SetSiloRegistryFlag());
    EXPECT_FALSE(Silo().ExpandString(L"%DUDEFAULTDEF%", expanded));
    EXPECT_TRUE(Silo().ExpandString(L"%SILOID%", expanded));
    EXPECT_EQ(L"Blue", expanded);
}

TEST_F(SiloTest, ClientSiloValue)
{
    using Failure = imdp::kx::ClientSiloValue::Failure;
    kxtest::DeleteTree32(ClientRegistry::kClientKey);
    EXPECT_EQ(Failure::OpenKey, imdp::kx::ReadClientSiloValue().failure);
    EXPECT_FALSE(imdp::kx::SetUpClientSilo());

    kxtest::CreateKey32(ClientRegistry::kClientKey);
    const auto noValue = imdp::kx::ReadClientSiloValue();
    EXPECT_EQ(Failure::ReadValue, noValue.failure);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), noValue.error);

    const DWORD number = 7;
    kxtest::SetValue32(ClientRegistry::kClientKey, L"silo", REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(Failure::ReadValue, imdp::kx::ReadClientSiloValue().failure);

    // A value longer than the 260-character buffer is refused, not cut.
    registry_.SetClientSilo(std::wstring(300, L'x'));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), imdp::kx::ReadClientSiloValue().error);

    kxtest::CreateKey32(kSilos + L"\\Blue"); // removed with the client key above
    registry_.SetClientSilo(L"Blue");
    EXPECT_EQ(L"Blue", imdp::kx::ReadClientSiloValue().value);
    EXPECT_TRUE(imdp::kx::SetUpClientSilo());
    EXPECT_EQ(kSilos + L"\\Blue", Silo().RegistryRoot());
}

TEST_F(SiloTest, ClientSiloSetUpCallsTheSettersInOrder)
{
    registry_.SetClientSilo(L"Blue");
    kxtest::FakeSilo fake;
    fake.rootResult = false;
    {
        kxtest::ScopedKxService<imdp::kx::ISilo> guard(fake);
        EXPECT_FALSE(imdp::kx::SetUpClientSilo());
    }
    EXPECT_EQ((std::vector<std::wstring>{L"id:Blue", L"root:Blue"}), fake.calls);
    // Outside the guard the library's own silo services answer again.
    EXPECT_TRUE(imdp::kx::SetUpClientSilo());
}

} // namespace
