#include "imdp/kx/Settings.h"
#include "imdp/kx/Silo.h"
#include "tests/kx/KxFixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using imdp::kx::ISettingsKey;
using imdp::kx::ISettingsManager;
using imdp::kx::KX_E_BUFFER_TOO_SMALL;
using imdp::kx::KX_E_NOT_FOUND;
using imdp::kx::Settings;

const std::wstring kBlue = L"SOFTWARE\\Quorvane\\Quorvane Aegix\\Silos\\Blue";
const std::wstring kDefault = L"SOFTWARE\\Quorvane\\Kestrel Core";

void UseSilo(const std::wstring& name)
{
    ASSERT_TRUE(imdp::kx::Silo().SetSiloId(name));
    ASSERT_TRUE(imdp::kx::Silo().SetSiloRegistryRoot(name));
    ASSERT_TRUE(imdp::kx::Silo().SetSiloRegistryFlag());
}

std::unique_ptr<ISettingsKey> OpenKey(const std::wstring& name)
{
    std::unique_ptr<ISettingsManager> manager;
    EXPECT_EQ(S_OK, Settings().CreateManager(manager));
    std::unique_ptr<ISettingsKey> key;
    if (manager) {
        EXPECT_EQ(S_OK, manager->OpenKey(name, key));
    }
    return key;
}

TEST(SettingsAbsent, AnswersNotActiveAndCannotCreate)
{
    struct Case {
        const char* name;
        std::vector<std::wstring> installed; // stand-in files in the framework folder
        const wchar_t* folder;               // overrides the framework folder when set
        HRESULT create;
    } cases[] = {
        {"no framework recorded", {}, L"", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"folder without kxSet.dll", {L"kxCore.dll"}, nullptr, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        // The folder with "kxSet.dll" and its NUL must fit 260 characters.
        {"folder too long", {}, L"C:\\", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kxtest::StandinFramework framework(c.installed);
        if (c.folder != nullptr) {
            std::wstring folder = c.folder;
            if (!folder.empty())
                folder += std::wstring(MAX_PATH - 3 - 9, L'a');
            framework.SetFrameworkFolder(folder);
        }
        EXPECT_FALSE(Settings().IsActive());
        std::unique_ptr<ISettingsManager> manager;
        EXPECT_EQ(c.create, Settings().CreateManager(manager));
        EXPECT_FALSE(manager);
    }
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kxtest::CreateKey32(kBlue);
        const std::wstring gcps = kBlue + L"\\Settings\\QAX\\Settings\\GCPS";
        kxtest::SetDword32(gcps, L"AdminUninstallNeedPassword", 1);
        kxtest::SetString32(gcps, L"Name", L"text");
        const BYTE key[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        kxtest::SetValue32(kBlue + L"\\Settings\\QAX\\Settings\\Client\\ENCRYPTION", L"TwoFishClientKey", REG_BINARY,
                           key, sizeof(key));
        kxtest::CreateKey32(kBlue + L"\\Settings\\NTR\\Settings");
        UseSilo(L"Blue");
    }

    kxtest::StandinFramework framework_;
};

TEST_F(SettingsTest, ActiveWithTheStandin)
{
    EXPECT_TRUE(Settings().IsActive());
}

TEST_F(SettingsTest, MissingKeyHasItsOwnAnswer)
{
    std::unique_ptr<ISettingsManager> manager;
    ASSERT_EQ(S_OK, Settings().CreateManager(manager));
    std::unique_ptr<ISettingsKey> key;
    EXPECT_EQ(KX_E_NOT_FOUND, manager->OpenKey(L"QAX\\Settings\\Nowhere", key));
    EXPECT_FALSE(key);
    EXPECT_EQ(E_INVALIDARG, manager->OpenKey(L"", key));
}

TEST_F(SettingsTest, ReadsDwords)
{
    auto key = OpenKey(L"QAX\\Settings\\GCPS");
    ASSERT_TRUE(key);
    DWORD value = 0;
    EXPECT_EQ(S_OK, key->GetDword(L"AdminUninstallNeedPassword", value));
    EXPECT_EQ(1u, value);
    EXPECT_EQ(KX_E_NOT_FOUND, key->GetDword(L"Missing", value));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE), key->GetDword(L"Name", value));
}

TEST_F(SettingsTest, BinaryValueSizeQueryThenRead)
{
    auto key = OpenKey(L"QAX\\Settings\\Client\\ENCRYPTION");
    ASSERT_TRUE(key);
    DWORD size = 0;
    EXPECT_EQ(KX_E_BUFFER_TOO_SMALL, key->GetBinary(L"TwoFishClientKey", nullptr, size));
    EXPECT_EQ(16u, size);

    std::vector<BYTE> buffer(size + 1, 0xEE);
    DWORD small = 4;
    EXPECT_EQ(KX_E_BUFFER_TOO_SMALL, key->GetBinary(L"TwoFishClientKey", buffer.data(), small));
    EXPECT_EQ(16u, small);
    EXPECT_EQ(0xEE, buffer[0]); // nothing copied into a buffer that is too small

    DWORD room = static_cast<DWORD>(buffer.size());
    EXPECT_EQ(S_OK, key->GetBinary(L"TwoFishClientKey", buffer.data(), room));
    EXPECT_EQ(16u, room);
    EXPECT_EQ(1, buffer[0]);
    EXPECT_EQ(16, buffer[15]);
    EXPECT_EQ(0xEE, buffer[16]);

    DWORD missing = 0;
    EXPECT_EQ(KX_E_NOT_FOUND, key->GetBinary(L"Missing", nullptr, missing));
}

TEST_F(SettingsTest, WritesReachTheRegistryOnlyOnCommit)
{
    const std::wstring stored = kBlue + L"\\Settings\\NTR\\Settings";
    auto key = OpenKey(L"NTR\\Settings");
    ASSERT_TRUE(key);
    ASSERT_EQ(S_OK, key->SetDword(L"Uninstall", 1));
    DWORD value = 0;
    EXPECT_EQ(S_OK, key->GetDword(L"Uninstall", value)); // the writer sees its own write
    EXPECT_EQ(1u, value);
    EXPECT_EQ(-1, kxtest::GetDword32(stored, L"Uninstall"));

    ASSERT_EQ(S_OK, key->Commit());
    EXPECT_EQ(1, kxtest::GetDword32(stored, L"Uninstall"));
    // The component clears the value; a later read sees the store, not the old write.
    kxtest::SetDword32(stored, L"Uninstall", 0);
    EXPECT_EQ(S_OK, key->GetDword(L"Uninstall", value));
    EXPECT_EQ(0u, value);
}

TEST_F(SettingsTest, CommitOfAKeyRemovedMeanwhileFails)
{
    auto key = OpenKey(L"NTR\\Settings");
    ASSERT_TRUE(key);
    key.get()->SetDword(L"Uninstall", 1);
    kxtest::DeleteTree32(kBlue + L"\\Settings\\NTR");
    EXPECT_EQ(KX_E_NOT_FOUND, key->Commit());
}

TEST_F(SettingsTest, ManagerIsBoundToTheSiloCurrentWhenCreated)
{
    const std::wstring red = L"SOFTWARE\\Quorvane\\Quorvane Aegix\\Silos\\Red";
    kxtest::SetDword32(red + L"\\Settings\\QAX\\Settings\\GCPS", L"AdminUninstallNeedPassword", 0);
    kxtest::SetDword32(kDefault + L"\\Settings\\QAX\\Settings\\GCPS", L"AdminUninstallNeedPassword", 5);

    std::unique_ptr<ISettingsManager> blue;
    ASSERT_EQ(S_OK, Settings().CreateManager(blue));
    UseSilo(L"Red");
    std::unique_ptr<ISettingsManager> redManager;
    ASSERT_EQ(S_OK, Settings().CreateManager(redManager));
    imdp::kx::Silo().SetSiloId(L"none"); // no silo current: the default root
    std::unique_ptr<ISettingsManager> standard;
    ASSERT_EQ(S_OK, Settings().CreateManager(standard));

    struct Case {
        ISettingsManager* manager;
        DWORD expected;
    } cases[] = {{blue.get(), 1}, {redManager.get(), 0}, {standard.get(), 5}};
    for (const auto& c : cases) {
        std::unique_ptr<ISettingsKey> key;
        ASSERT_EQ(S_OK, c.manager->OpenKey(L"QAX\\Settings\\GCPS", key));
        DWORD value = 99;
        EXPECT_EQ(S_OK, key->GetDword(L"AdminUninstallNeedPassword", value));
        EXPECT_EQ(c.expected, value);
    }
}

} // namespace

namespace {

TEST_F(SettingsTest, FrameworkFolderMayNameEnvironmentVariables)
{
    SetEnvironmentVariableW(L"KX_TEST_FOLDER", framework_.Folder().c_str());
    const std::wstring folder = L"%KX_TEST_FOLDER%";
    kxtest::SetValue32(imdp::kx::kClientVersionKey, imdp::kx::kFrameworkFolderValue, REG_EXPAND_SZ, folder.c_str(),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(framework_.Folder(), imdp::kx::FrameworkFolder());
    EXPECT_TRUE(Settings().IsActive());
    SetEnvironmentVariableW(L"KX_TEST_FOLDER", nullptr);
}

} // namespace
