#include "imdp/UniqueHandle.h"
#include "imdp/kx/Trust.h"
#include "tests/kx/KxDoubles.h"
#include "tests/kx/KxFixture.h"
#include "tests/kx/ScopedKx.h"

#include <wincrypt.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

using imdp::kx::ITrustVerifier;

std::wstring Signed(const wchar_t* name)
{
    return testsupport::ModuleFolder() + L"kxsigned\\" + name;
}

imdp::unique_file_handle OpenRead(const std::wstring& path)
{
    return imdp::unique_file_handle(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

// The signed files are made at build time under a test root of their own,
// which the suite adds to the machine's ROOT store.
class TrustTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(kxtest::AddTrustedRoot(Signed(L"root.der"))); }

    std::unique_ptr<ITrustVerifier> Verifier()
    {
        std::unique_ptr<ITrustVerifier> verifier;
        EXPECT_EQ(S_OK, imdp::kx::Trust().CreateVerifier(verifier));
        if (verifier) {
            EXPECT_EQ(1, verifier->Initialize(1));
        }
        return verifier;
    }

    kxtest::StandinFramework framework_;
};

TEST_F(TrustTest, OnlyTheMakersIntactSignatureUnderATrustedRootIsTrusted)
{
    auto verifier = Verifier();
    ASSERT_TRUE(verifier);
    // Answers at trust levels 1 (intact), 2 (trusted root) and 3 (the maker).
    struct Case {
        const wchar_t* file;
        LONG intact, chained, maker;
    } cases[] = {
        {L"maker.exe", 1, 1, 1},
        {L"whql.exe", 1, 1, 1},
        {L"othermaker.exe", 1, 1, 0},
        // Wine's WinVerifyTrust accepts a chain that ends in an unknown root
        // (Windows answers CERT_E_UNTRUSTEDROOT itself); the verifier's own
        // chain check gives the same answer on both.
        {L"stranger.exe", 1, static_cast<LONG>(CERT_E_UNTRUSTEDROOT), static_cast<LONG>(CERT_E_UNTRUSTEDROOT)},
        {L"unsigned.exe", static_cast<LONG>(TRUST_E_NOSIGNATURE), static_cast<LONG>(TRUST_E_NOSIGNATURE),
         static_cast<LONG>(TRUST_E_NOSIGNATURE)},
        {L"tampered.exe", static_cast<LONG>(TRUST_E_BAD_DIGEST), static_cast<LONG>(TRUST_E_BAD_DIGEST),
         static_cast<LONG>(TRUST_E_BAD_DIGEST)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::wstring path = Signed(c.file);
        auto file = OpenRead(path);
        ASSERT_TRUE(file);
        EXPECT_EQ(c.intact, verifier->VerifyFile(file.get(), path, 1));
        EXPECT_EQ(c.chained, verifier->VerifyFile(file.get(), path, 2));
        EXPECT_EQ(c.maker, verifier->VerifyFile(file.get(), path, 3));
        EXPECT_EQ(c.maker == 1, imdp::kx::IsTrustedFile(file.get(), path));
        EXPECT_EQ(c.maker == 1, imdp::kx::IsTrustedImage(path));
    }
}

TEST_F(TrustTest, VerifierMustBeInitialisedWithOptionOne)
{
    std::unique_ptr<ITrustVerifier> verifier;
    ASSERT_EQ(S_OK, imdp::kx::Trust().CreateVerifier(verifier));
    const std::wstring path = Signed(L"maker.exe");
    auto file = OpenRead(path);
    EXPECT_EQ(static_cast<LONG>(E_UNEXPECTED), verifier->VerifyFile(file.get(), path, 3));
    EXPECT_EQ(0, verifier->Initialize(2));
    EXPECT_EQ(static_cast<LONG>(E_UNEXPECTED), verifier->VerifyFile(file.get(), path, 3));
    EXPECT_EQ(1, verifier->Initialize(1));
    EXPECT_EQ(1, verifier->VerifyFile(file.get(), path, 3));
    EXPECT_EQ(static_cast<LONG>(E_INVALIDARG), verifier->VerifyFile(INVALID_HANDLE_VALUE, path, 3));
    EXPECT_EQ(static_cast<LONG>(E_INVALIDARG), verifier->VerifyFile(file.get(), path, 4));
}

// A signed PE file stands in for a driver catalog here: making a catalog
// needs tools this build does not have. The check itself reads any signed
// file through WinVerifyTrust and the signer's key usage.
TEST_F(TrustTest, HardwareQualitySignature)
{
    struct Case {
        const wchar_t* file;
        HRESULT hr;
        bool whql;
    } cases[] = {
        {L"whql.exe", S_OK, true},
        {L"maker.exe", S_OK, false},
        {L"stranger.exe", CERT_E_UNTRUSTEDROOT, false},
        {L"unsigned.exe", TRUST_E_NOSIGNATURE, false},
        {L"missing.cat", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        bool whql = !c.whql;
        EXPECT_EQ(c.hr, imdp::kx::IsWhqlSignedCatalog(Signed(c.file), whql));
        EXPECT_EQ(c.whql, whql);
    }
}

TEST(TrustAbsent, NothingIsTrustedWithoutTheFramework)
{
    kxtest::ClientRegistry registry;
    const std::wstring path = Signed(L"maker.exe");
    EXPECT_FALSE(imdp::kx::IsTrustedImage(path));
    bool whql = true;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), imdp::kx::IsWhqlSignedCatalog(path, whql));
    EXPECT_FALSE(whql);
}

TEST(TrustDouble, ScopedDoubleAnswersForTheFramework)
{
    kxtest::ClientRegistry registry; // no framework: only the double can say yes
    kxtest::FakeTrust fake;
    const std::wstring path = Signed(L"unsigned.exe");
    fake.trusted.insert(path);
    kxtest::ScopedKxService<imdp::kx::ITrust> guard(fake);
    EXPECT_TRUE(imdp::kx::IsTrustedImage(path));
    EXPECT_FALSE(imdp::kx::IsTrustedImage(Signed(L"maker.exe")));
    EXPECT_EQ(2u, fake.verified.size());
}

} // namespace
