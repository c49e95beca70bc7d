#include "install_utils/RegUtil.h"
#include "tests/support/Package.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using InstallUtils::CRegUtil;

namespace {

const wchar_t kBase[] = L"Software\\QvnRegUtilTest";

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

struct Value {
    DWORD type;
    std::vector<BYTE> data;
    bool operator==(const Value& other) const { return type == other.type && data == other.data; }
};

// Every key and value below a key: "sub\key" -> {} and "sub\key:name" -> value.
using Tree = std::map<std::wstring, Value>;

void Dump(HKEY key, const std::wstring& prefix, Tree& tree)
{
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        DWORD type = 0;
        BYTE data[512];
        DWORD size = sizeof(data);
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        tree[prefix + L":" + name] = Value{type, std::vector<BYTE>(data, data + size)};
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY child = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(key, name, 0, KEY_READ, &child));
        const std::wstring path = prefix + L"\\" + name;
        tree[path] = Value{};
        Dump(child, path, tree);
        RegCloseKey(child);
    }
}

Tree DumpTree(const std::wstring& path)
{
    Tree tree;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return tree;
    Dump(key, L"", tree);
    RegCloseKey(key);
    return tree;
}

bool KeyExists(const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

HKEY Create(const std::wstring& path, DWORD options = REG_OPTION_NON_VOLATILE)
{
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key, nullptr))
        << Narrow(path);
    return key;
}

void SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
}

// A source tree with values of several types at several depths, under HKCU
// (which has one view, so the copy's own KEY_READ/KEY_WRITE reach the same keys).
class RegUtilTest : public testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
        HKEY src = Create(Src());
        const wchar_t text[] = L"hello";
        const wchar_t expand[] = L"%TEMP%\\x";
        const DWORD number = 42;
        const BYTE binary[] = {0, 1, 2, 0xff};
        const wchar_t multi[] = L"a\0b\0";
        SetValue(src, L"text", REG_SZ, text, sizeof(text));
        SetValue(src, L"expand", REG_EXPAND_SZ, expand, sizeof(expand));
        SetValue(src, L"number", REG_DWORD, &number, sizeof(number));
        SetValue(src, L"binary", REG_BINARY, binary, sizeof(binary));
        SetValue(src, L"multi", REG_MULTI_SZ, multi, sizeof(multi));
        SetValue(src, L"", REG_SZ, text, sizeof(text));
        RegCloseKey(src);
        for (const wchar_t* sub : {L"\\A", L"\\A\\A1", L"\\B", L"\\B\\B1", L"\\C"}) {
            HKEY key = Create(Src() + sub);
            SetValue(key, L"where", REG_SZ, sub, static_cast<DWORD>((wcslen(sub) + 1) * sizeof(wchar_t)));
            RegCloseKey(key);
        }
        package_ = testsupport::PackageBuilder(testsupport::DataPath(L"regutil.msi")).Commit();
        session_.reset(new testsupport::Session(package_));
    }
    void TearDown() override
    {
        session_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
        RegDeleteKeyW(HKEY_CURRENT_USER, kBase);
    }

    static std::wstring Src() { return std::wstring(kBase) + L"\\Src"; }
    static std::wstring Dst() { return std::wstring(kBase) + L"\\Dst"; }

    std::wstring package_;
    std::unique_ptr<testsupport::Session> session_;
};

TEST_F(RegUtilTest, CopyKeysCopiesTheWholeTreeAndLogsEachValue)
{
    testsupport::LogCapture capture;
    EXPECT_TRUE(CRegUtil::copyKeys(session_->get(), HKEY_CURRENT_USER, Src().c_str(), HKEY_CURRENT_USER, Dst().c_str(),
                                   REG_OPTION_NON_VOLATILE));
    const Tree source = DumpTree(Src());
    EXPECT_EQ(16u, source.size());
    EXPECT_TRUE(source == DumpTree(Dst()));

    const std::vector<std::wstring> expected = {
        L"CRegUtil: Copy from szSrcKeyname = " + Src() + L",  to szDstKeyname = " + Dst(),
        L"CRegUtil: Copy from szSrcKeyname = A1,  to szDstKeyname = A1",
        L"CRegUtil: Value name = text, type = REG_SZ, value = hello",
        L"CRegUtil: Value name = expand, type = REG_EXPAND_SZ, value = %TEMP%\\x",
        L"CRegUtil: Value name = number, type = REG_DWORD, value = 42 (2a)",
        L"CRegUtil: Value name = binary, type = 3, value = [BINARY]",
        L"CRegUtil: Value name = multi, type = 7, value = [BINARY]",
    };
    for (const std::wstring& line : expected)
        EXPECT_TRUE(capture.Has(line)) << Narrow(line) << "\n" << Narrow(capture.Joined());
}

// A volatile key cannot have persistent subkeys: with B already present as a
// volatile key, B1 cannot be created, yet A, C and B's own values are copied.
TEST_F(RegUtilTest, CopyKeysGoesOnPastASubkeyThatCannotBeCreated)
{
    RegCloseKey(Create(Dst()));
    RegCloseKey(Create(Dst() + L"\\B", REG_OPTION_VOLATILE));
    EXPECT_FALSE(CRegUtil::copyKeys(session_->get(), HKEY_CURRENT_USER, Src().c_str(), HKEY_CURRENT_USER,
                                    Dst().c_str(), REG_OPTION_NON_VOLATILE));
    Tree expected = DumpTree(Src());
    expected.erase(L"\\B\\B1");
    expected.erase(L"\\B\\B1:where");
    EXPECT_TRUE(expected == DumpTree(Dst()));
}

TEST_F(RegUtilTest, CopyKeysRefusesMissingSourcesAndCopiesIntoThemselves)
{
    EXPECT_FALSE(CRegUtil::copyKeys(session_->get(), HKEY_CURRENT_USER, (Src() + L"\\Missing").c_str(),
                                    HKEY_CURRENT_USER, Dst().c_str(), REG_OPTION_NON_VOLATILE));
    EXPECT_FALSE(KeyExists(Dst()));

    // Copying a key below itself would copy its own copy again without end.
    const std::wstring inside = Src() + L"\\A\\Copy";
    EXPECT_FALSE(CRegUtil::copyKeys(session_->get(), HKEY_CURRENT_USER, Src().c_str(), HKEY_CURRENT_USER,
                                    inside.c_str(), REG_OPTION_NON_VOLATILE));
    EXPECT_FALSE(KeyExists(inside));
}

TEST_F(RegUtilTest, CopyValuesReportsAValueThatCannotBeWritten)
{
    HKEY src = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, Src().c_str(), 0, KEY_READ, &src));
    RegCloseKey(Create(Dst()));
    HKEY readOnly = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, Dst().c_str(), 0, KEY_READ, &readOnly));
    EXPECT_FALSE(CRegUtil::copyValues(session_->get(), src, readOnly));
    HKEY writable = Create(Dst());
    EXPECT_TRUE(CRegUtil::copyValues(session_->get(), src, writable));
    RegCloseKey(writable);
    RegCloseKey(readOnly);
    RegCloseKey(src);
}

TEST_F(RegUtilTest, DeleteKeysRemovesTheTree)
{
    testsupport::LogCapture capture;
    EXPECT_TRUE(CRegUtil::deleteKeys(session_->get(), HKEY_CURRENT_USER, Src().c_str()));
    EXPECT_FALSE(KeyExists(Src()));
    EXPECT_TRUE(capture.Has(L"CRegUtil: RegOpenKeyEx returned 0"));
    EXPECT_TRUE(capture.Has(L"CRegUtil: RegDeleteKey returned 0"));

    capture.Clear();
    EXPECT_FALSE(CRegUtil::deleteKeys(session_->get(), HKEY_CURRENT_USER, Src().c_str()));
    EXPECT_TRUE(capture.Has(L"CRegUtil: RegOpenKeyEx returned 2")) << Narrow(capture.Joined());
    EXPECT_TRUE(capture.Has(L"CRegUtil: RegDeleteKey returned 2"));
}

TEST_F(RegUtilTest, DeleteKeysWithoutAPathDeletesNothing)
{
    HKEY base = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kBase, 0, KEY_ALL_ACCESS, &base));
    EXPECT_FALSE(CRegUtil::deleteKeys(session_->get(), base, L""));
    EXPECT_FALSE(CRegUtil::deleteKeys(session_->get(), base, nullptr));
    RegCloseKey(base);
    EXPECT_TRUE(KeyExists(Src() + L"\\A\\A1"));
}

} // namespace
