#include "actions/preinstall/PlatformChecks.h"
#include "tests/preinstall/SessionFixture.h"

#include <gtest/gtest.h>

namespace {

using preinstalltest::Narrow;

TEST(PackedProductCode, GuidsToTheInstallersPackedForm)
{
    struct Case {
        const wchar_t* code;
        const wchar_t* packed;
    };
    const Case cases[] = {
        {L"{12345678-ABCD-EF01-2345-6789ABCDEF01}", L"87654321DCBA10FE32547698BADCFE10"},
        {L"{6b0f2b3c-3e55-4a8b-9c0e-2f61d1a7c001}", L"C3B2F0B655E3B8A4C9E0F2161D7A0C10"},
        {L"{00000000-0000-0000-0000-000000000000}", L"00000000000000000000000000000000"},
        // Not a product code: no packed form.
        {L"12345678-ABCD-EF01-2345-6789ABCDEF01", L""},
        {L"{12345678-ABCD-EF01-2345-6789ABCDEF0G}", L""},
        {L"{12345678ABCD-EF01-2345-6789ABCDEF012}", L""},
        {L"{12345678-ABCD-EF01-2345-6789ABCDEF01", L""},
        {L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.packed, clientca::PackedProductCode(c.code)) << Narrow(c.code);
}

// Packages installed per machine with the installer's registration actions,
// so that Wine's installer writes the product's InstallProperties key (in the
// 64-bit view) with InstallLocation taken from ARPINSTALLLOCATION.
// The tests run in a 64-bit process, whose plain KEY_READ already opens that
// view: the KEY_WOW64_64KEY choice the shipped 32-bit library makes under
// WOW64 is not exercised here.
class InstallPathTest : public preinstalltest::SessionTest {
protected:
    std::wstring BuildRegisteredPackage(const std::wstring& name, const std::wstring& installLocation)
    {
        testsupport::PackageBuilder builder(testsupport::DataPath(name));
        builder.Property(L"ALLUSERS", L"1");
        if (!installLocation.empty())
            builder.Property(L"ARPINSTALLLOCATION", installLocation);
        builder.ExecuteSequence(L"UnpublishFeatures", 1800)
            .ExecuteSequence(L"RegisterProduct", 6100)
            .ExecuteSequence(L"PublishFeatures", 6300)
            .ExecuteSequence(L"PublishProduct", 6400);
        productCode_ = builder.ProductCode();
        return builder.Commit();
    }

    void TearDown() override
    {
        opened_.reset();
        for (const std::wstring& package : installed_)
            EXPECT_EQ(0u, testsupport::Install(package, L"REMOVE=ALL").code) << Narrow(package);
        SessionTest::TearDown();
    }

    // Installs the package and opens a session on it; false when the install failed.
    bool InstallAndOpen(const std::wstring& package)
    {
        const testsupport::InstallResult result = testsupport::Install(package);
        if (result.code != ERROR_SUCCESS)
            return false;
        installed_.push_back(package);
        opened_ = std::make_unique<testsupport::Session>(package);
        return true;
    }

    std::wstring KeyPath() const
    {
        return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\" +
               clientca::PackedProductCode(productCode_) + L"\\InstallProperties";
    }

    std::wstring productCode_;
    std::vector<std::wstring> installed_;
    std::unique_ptr<testsupport::Session> opened_;
};

TEST_F(InstallPathTest, ParentOfTheRegisteredInstallLocation)
{
    // The registered location is read into 260 characters with the terminator.
    const std::wstring longest = L"C:\\Apps\\" + std::wstring(259 - 8, L'x');
    struct Case {
        const char* name;
        std::wstring location;
        const wchar_t* parent;
    };
    const Case cases[] = {
        {"trailing backslash", L"C:\\Apps\\Client\\", L"C:\\Apps"},
        {"no trailing backslash", L"C:\\Apps\\Client", L"C:\\Apps"},
        {"folder at the drive root", L"D:\\Client\\", L"D:"},
        {"259 characters", longest, L"C:\\Apps"},
    };
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring package =
            BuildRegisteredPackage(L"installpath" + std::to_wstring(index++) + L".msi", c.location);
        ASSERT_TRUE(InstallAndOpen(package));
        EXPECT_EQ(0u, clientca.Call("GetCurrentInstallPath", opened_->get()));
        EXPECT_EQ(c.parent, opened_->Property(L"QAXMIGINSTDIR")) << Log();
    }
}

TEST_F(InstallPathTest, LocationLongerThanTheBufferIsRefused)
{
    const std::wstring tooLong = L"C:\\Apps\\" + std::wstring(260 - 8, L'x');
    ASSERT_TRUE(InstallAndOpen(BuildRegisteredPackage(L"installpath-long.msi", tooLong)));
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(0u, clientca.Call("GetCurrentInstallPath", opened_->get()));
    EXPECT_EQ(L"", opened_->Property(L"QAXMIGINSTDIR"));
    EXPECT_TRUE(Logged(L"getCurrentInstallPath The key " + KeyPath() +
                       L" holds an InstallLocation longer than 259 characters, for product code " + productCode_))
        << Log();
}

// Without ARPINSTALLLOCATION the installer registers InstallLocation as an empty string.
TEST_F(InstallPathTest, ProductWithoutInstallLocation)
{
    ASSERT_TRUE(InstallAndOpen(BuildRegisteredPackage(L"installpath-none.msi", L"")));
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    EXPECT_EQ(0u, clientca.Call("GetCurrentInstallPath", opened_->get()));
    EXPECT_EQ(L"", opened_->Property(L"QAXMIGINSTDIR"));
    EXPECT_TRUE(Logged(L"getCurrentInstallPath The key " + KeyPath() + L" was empty, for product code " + productCode_))
        << Log();
}

TEST_F(InstallPathTest, ProductCodeProblems)
{
    struct Case {
        const char* name;
        const wchar_t* productCode;
        std::wstring line;
    };
    const Case cases[] = {
        {"not installed", L"{6B0F2B3C-3E55-4A8B-9C0E-2F61D1A7C0FF}",
         L"getCurrentInstallPath Unable to open CALDER_REG_PATH key"},
        {"empty", L"", L"getCurrentInstallPath MSI Property PRODUCTCODE was found empty"},
        {"not a GUID", L"Aegix",
         L"getCurrentInstallPath MSI Property PRODUCTCODE is not a product code: Aegix"},
    };
    testsupport::ExportLibrary clientca(testsupport::ClientCaPath());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session().SetProperty(L"ProductCode", c.productCode);
        EXPECT_EQ(0u, clientca.Call("GetCurrentInstallPath", handle()));
        EXPECT_TRUE(Logged(c.line)) << Log();
        EXPECT_EQ(L"", Property(L"QAXMIGINSTDIR"));
        capture().Clear();
    }
}

} // namespace
