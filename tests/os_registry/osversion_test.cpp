#include "install_utils/OSVersion.h"
#include "tests/support/WindowsVersion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using InstallUtils::COSVersion;
using testsupport::ScopedWindowsVersion;

namespace {

const HRESULT kInvalidData = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// The test prefix is set to Windows 10 when it is made.
TEST(OSVersion, ReportsThePrefixVersionInBothRecordLayouts)
{
    ScopedWindowsVersion restore;
    const auto version = COSVersion::Refill();
    ASSERT_EQ(S_OK, version->FillResult());
    EXPECT_EQ(10u, version->Major());
    EXPECT_EQ(0u, version->Minor());
    EXPECT_NE(0u, version->Build());

    // The short record: exactly 276 bytes are written.
    unsigned char buffer[sizeof(OSVERSIONINFOEXW) + 8];
    memset(buffer, 0xCC, sizeof(buffer));
    auto* info = reinterpret_cast<OSVERSIONINFOW*>(buffer);
    info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    ASSERT_EQ(S_OK, version->GetVersionInfo(info));
    EXPECT_EQ(276u, info->dwOSVersionInfoSize);
    EXPECT_EQ(10u, info->dwMajorVersion);
    EXPECT_EQ(version->Build(), info->dwBuildNumber);
    for (size_t i = sizeof(OSVERSIONINFOW); i < sizeof(buffer); ++i)
        ASSERT_EQ(0xCC, buffer[i]) << "byte " << i;

    // The extended record carries the product type as well.
    OSVERSIONINFOEXW ex = {};
    ex.dwOSVersionInfoSize = sizeof(ex);
    ASSERT_EQ(S_OK, version->GetVersionInfo(reinterpret_cast<OSVERSIONINFOW*>(&ex)));
    EXPECT_EQ(284u, ex.dwOSVersionInfoSize);
    EXPECT_EQ(10u, ex.dwMajorVersion);
    EXPECT_EQ(version->ProductType(), ex.wProductType);
    EXPECT_NE(0, ex.wProductType);

    OSVERSIONINFOW wrong = {};
    wrong.dwOSVersionInfoSize = 200;
    EXPECT_EQ(E_INVALIDARG, version->GetVersionInfo(&wrong));
    EXPECT_EQ(E_POINTER, version->GetVersionInfo(nullptr));
}

TEST(OSVersion, IsFilledOnceAndRefilledOnRequest)
{
    ScopedWindowsVersion restore;
    const auto first = COSVersion::Instance();
    EXPECT_EQ(first, COSVersion::Instance());
    restore.Value(L"CurrentBuildNumber").SetString(L"23456");
    EXPECT_EQ(first, COSVersion::Instance());
    const auto second = COSVersion::Refill();
    EXPECT_NE(first, second);
    EXPECT_EQ(second, COSVersion::Instance());
    EXPECT_EQ(23456u, second->Build());
    // A holder of the earlier data keeps it.
    EXPECT_NE(23456u, first->Build());
}

// The registry values override what RtlGetVersion answers; each row sets the
// 64-bit view's values (the 32-bit view is left alone to show it is not read).
TEST(OSVersion, RegistryValuesOverrideAndBadValuesFailTheFill)
{
    struct Case {
        const char* what;
        std::function<void(const ScopedWindowsVersion&)> set;
        HRESULT result;
        DWORD major, minor, build;
    };
    const Case cases[] = {
        {"DWORD numbers win over the text",
         [](const ScopedWindowsVersion& v) {
             v.Value(L"CurrentMajorVersionNumber").SetDword(11);
             v.Value(L"CurrentMinorVersionNumber").SetDword(2);
             v.Value(L"CurrentVersion").SetString(L"6.3");
             v.Value(L"CurrentBuildNumber").SetString(L"22631");
         },
         S_OK, 11, 2, 22631},
        {"text version without the DWORD numbers",
         [](const ScopedWindowsVersion& v) {
             v.Value(L"CurrentMajorVersionNumber").Delete();
             v.Value(L"CurrentMinorVersionNumber").Delete();
             v.Value(L"CurrentVersion").SetString(L"6.1");
             v.Value(L"CurrentBuildNumber").SetString(L"7601", REG_EXPAND_SZ);
         },
         S_OK, 6, 1, 7601},
        {"text version without a point",
         [](const ScopedWindowsVersion& v) {
             v.Value(L"CurrentMajorVersionNumber").Delete();
             v.Value(L"CurrentVersion").SetString(L"6");
         },
         kInvalidData, 0, 0, 0},
        {"build number of the wrong type",
         [](const ScopedWindowsVersion& v) { v.Value(L"CurrentBuildNumber").SetDword(19045); }, kInvalidData, 0, 0, 0},
        {"build number that is not a number",
         [](const ScopedWindowsVersion& v) { v.Value(L"CurrentBuildNumber").SetString(L"19045a"); }, kInvalidData, 0,
         0, 0},
        {"major number as text",
         [](const ScopedWindowsVersion& v) { v.Value(L"CurrentMajorVersionNumber").SetString(L"10"); }, kInvalidData,
         0, 0, 0},
    };
    for (const Case& c : cases) {
        ScopedWindowsVersion restore;
        c.set(restore);
        const auto version = COSVersion::Refill();
        EXPECT_EQ(c.result, version->FillResult()) << c.what;
        EXPECT_EQ(c.major, version->Major()) << c.what;
        EXPECT_EQ(c.minor, version->Minor()) << c.what;
        EXPECT_EQ(c.build, version->Build()) << c.what;
        OSVERSIONINFOW info = {};
        info.dwOSVersionInfoSize = sizeof(info);
        EXPECT_EQ(c.result == S_OK ? S_OK : E_FAIL, version->GetVersionInfo(&info)) << c.what;
    }
    EXPECT_EQ(10u, COSVersion::Instance()->Major());
}

TEST(OSVersion, ScopedWindowsVersionSetsAndRestores)
{
    const DWORD build = COSVersion::Refill()->Build();
    {
        ScopedWindowsVersion windows7(6, 1, 7601);
        EXPECT_EQ(6u, COSVersion::Instance()->Major());
        EXPECT_EQ(1u, COSVersion::Instance()->Minor());
        EXPECT_EQ(7601u, COSVersion::Instance()->Build());
    }
    EXPECT_EQ(10u, COSVersion::Instance()->Major());
    EXPECT_EQ(build, COSVersion::Instance()->Build());
}

} // namespace
