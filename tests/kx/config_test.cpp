#include "imdp/kx/Config.h"
#include "imdp/kx/Silo.h"
#include "tests/kx/KxFixture.h"

#include <gtest/gtest.h>

namespace {

using imdp::kx::ConfigService;
using imdp::kx::IConfigManagement;
using imdp::kx::IConfiguration;
using imdp::kx::NTRCommandConfig;

const std::wstring kBlue = L"SOFTWARE\\Quorvane\\Quorvane Aegix\\Silos\\Blue";
const std::wstring kNtr = kBlue + L"\\Config\\NTR";

TEST(ConfigAbsent, NoFrameworkNoConfigManagement)
{
    kxtest::ClientRegistry registry;
    std::unique_ptr<IConfigManagement> management;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), ConfigService().CreateConfigManagement(management));
    EXPECT_FALSE(management);
}

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kxtest::CreateKey32(kNtr);
        ASSERT_TRUE(imdp::kx::Silo().SetSiloId(L"Blue"));
        ASSERT_TRUE(imdp::kx::Silo().SetSiloRegistryRoot(L"Blue"));
        ASSERT_TRUE(imdp::kx::Silo().SetSiloRegistryFlag());
    }

    std::unique_ptr<IConfiguration> Ntr()
    {
        std::unique_ptr<IConfigManagement> management;
        EXPECT_EQ(S_OK, ConfigService().CreateConfigManagement(management));
        std::unique_ptr<IConfiguration> configuration;
        if (management) {
            EXPECT_EQ(S_OK, management->GetConfiguration(L"NTR", configuration));
        }
        return configuration;
    }

    kxtest::StandinFramework framework_;
};

TEST_F(ConfigTest, UnknownConfigurationIsNotFound)
{
    std::unique_ptr<IConfigManagement> management;
    ASSERT_EQ(S_OK, ConfigService().CreateConfigManagement(management));
    std::unique_ptr<IConfiguration> configuration;
    EXPECT_EQ(imdp::kx::KX_E_NOT_FOUND, management->GetConfiguration(L"WEB", configuration));
    EXPECT_FALSE(configuration);
}

TEST_F(ConfigTest, EnabledFlagFromEnableOrTheOlderEnableNTR)
{
    struct Case {
        const char* name;
        long long enable, enableNtr; // -1: value absent
        HRESULT initialize;
        bool enabled;
        const wchar_t* writtenTo;
    } cases[] = {
        {"Enable only", 1, -1, S_OK, true, L"Enable"},
        {"EnableNTR only", -1, 1, S_OK, true, L"EnableNTR"},
        {"Enable wins", 0, 1, S_OK, false, L"Enable"},
        {"neither", -1, -1, imdp::kx::KX_E_NOT_FOUND, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kxtest::DeleteTree32(kNtr);
        kxtest::CreateKey32(kNtr);
        if (c.enable >= 0)
            kxtest::SetDword32(kNtr, L"Enable", static_cast<DWORD>(c.enable));
        if (c.enableNtr >= 0)
            kxtest::SetDword32(kNtr, L"EnableNTR", static_cast<DWORD>(c.enableNtr));
        NTRCommandConfig config;
        ASSERT_EQ(c.initialize, config.Initialize(Ntr()));
        if (FAILED(c.initialize))
            continue;
        EXPECT_EQ(c.enabled, config.IsEnabled());
        // Disabling writes to the value the flag came from, and only on Apply.
        config.SetEnabled(false);
        const long long before = kxtest::GetDword32(kNtr, c.writtenTo);
        EXPECT_EQ(c.enabled ? 1 : 0, before);
        ASSERT_EQ(S_OK, config.Apply());
        EXPECT_EQ(0, kxtest::GetDword32(kNtr, c.writtenTo));
    }
}

TEST_F(ConfigTest, ResetRestoresTheDefaultsWhenAsked)
{
    kxtest::SetDword32(kNtr, L"Enable", 0);
    kxtest::SetDword32(kNtr, L"Mode", 7);
    kxtest::SetDword32(kNtr, L"ResetPending", 1);
    kxtest::SetDword32(kNtr + L"\\Defaults", L"Enable", 1);
    kxtest::SetDword32(kNtr + L"\\Defaults", L"Mode", 2);

    NTRCommandConfig config;
    ASSERT_EQ(S_OK, config.Initialize(Ntr()));
    EXPECT_FALSE(config.IsEnabled());
    EXPECT_TRUE(config.WantsReset());
    ASSERT_EQ(S_OK, config.Reset());
    EXPECT_TRUE(config.IsEnabled());
    EXPECT_FALSE(config.WantsReset());
    EXPECT_EQ(1, kxtest::GetDword32(kNtr, L"Enable"));
    EXPECT_EQ(2, kxtest::GetDword32(kNtr, L"Mode"));
    EXPECT_EQ(0, kxtest::GetDword32(kNtr, L"ResetPending"));
}

TEST_F(ConfigTest, ResetWithoutDefaultsFails)
{
    kxtest::SetDword32(kNtr, L"Enable", 1);
    NTRCommandConfig config;
    ASSERT_EQ(S_OK, config.Initialize(Ntr()));
    EXPECT_FALSE(config.WantsReset());
    EXPECT_EQ(imdp::kx::KX_E_NOT_FOUND, config.Reset());
}

} // namespace
