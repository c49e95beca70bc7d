#include "imdp/Errors.h"
#include "imdp/os/RegistryKey.h"
#include "imdp/os/SystemInfo.h"
#include "imdp/rtdl/Kernel32.h"
#include "imdp/rtdl/RTDLBase.h"
#include "tests/support/WindowsVersion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using imdp::win32_error;
using imdp::os::CRegistryKey;
using testing::ElementsAre;
using testing::StartsWith;

namespace {

const wchar_t kViewTestKey[] = L"Software\\QvnRegistryKeyTest";

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

void WriteString(HKEY root, const std::wstring& path, REGSAM view, const wchar_t* name, const std::wstring& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
    RegCloseKey(key);
}

void DeleteTree(HKEY root, const std::wstring& path, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
    }
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

// Expects `call` to throw win32_error with `code` and a text beginning with `message`.
void ExpectWin32Error(const std::function<void()>& call, DWORD code, const std::string& message, const char* what)
{
    try {
        call();
        ADD_FAILURE() << what << ": no exception";
    } catch (const win32_error& error) {
        EXPECT_EQ(code, error.code()) << what;
        EXPECT_THAT(error.what(), StartsWith(message)) << what;
    }
}

// The same key under HKLM\Software in both views, each with its own value,
// and a key that only the 32-bit view has.
class RegistryViewTest : public testing::Test {
protected:
    void SetUp() override
    {
        WriteString(HKEY_LOCAL_MACHINE, kViewTestKey, KEY_WOW64_32KEY, L"Which", L"32");
        WriteString(HKEY_LOCAL_MACHINE, kViewTestKey, KEY_WOW64_64KEY, L"Which", L"64");
        WriteString(HKEY_LOCAL_MACHINE, std::wstring(kViewTestKey) + L"\\Only32", KEY_WOW64_32KEY, L"v", L"x");
    }
    void TearDown() override
    {
        DeleteTree(HKEY_LOCAL_MACHINE, kViewTestKey, KEY_WOW64_32KEY);
        DeleteTree(HKEY_LOCAL_MACHINE, kViewTestKey, KEY_WOW64_64KEY);
    }
};

// This test program is a 64-bit process: the view flag is added because a
// 64-bit process always has both views. In the shipped 32-bit library the flag
// is added only after CKernel32 reports WOW64; that branch does not run here,
// and a 32-bit process on 32-bit Windows (no flag at all) cannot be run either.
TEST_F(RegistryViewTest, EachViewSeesOnlyItsOwnKeys)
{
    const CRegistryKey view32 = CRegistryKey(KEY_WOW64_32KEY).OpenSubKey(kViewTestKey);
    const CRegistryKey view64 = CRegistryKey(KEY_WOW64_64KEY).OpenSubKey(kViewTestKey);
    EXPECT_EQ(L"32", view32.QueryString(L"Which"));
    EXPECT_EQ(L"64", view64.QueryString(L"Which"));
    EXPECT_TRUE(view32.SubKeyExists(L"Only32"));
    EXPECT_FALSE(view64.SubKeyExists(L"Only32"));
    EXPECT_TRUE(CRegistryKey(KEY_WOW64_32KEY).SubKeyExists(std::wstring(kViewTestKey) + L"\\Only32"));
    EXPECT_FALSE(CRegistryKey(KEY_WOW64_64KEY).SubKeyExists(std::wstring(kViewTestKey) + L"\\Only32"));
}

TEST_F(RegistryViewTest, SubKeysKeepTheViewAndExtendThePath)
{
    const CRegistryKey software = CRegistryKey(KEY_WOW64_32KEY).OpenSubKey(L"Software");
    const CRegistryKey key = software.OpenSubKey(L"QvnRegistryKeyTest");
    EXPECT_EQ(L"32", key.QueryString(L"Which"));
    EXPECT_EQ(static_cast<REGSAM>(KEY_WOW64_32KEY), key.View());
    EXPECT_EQ(HKEY_LOCAL_MACHINE, key.Root());
    EXPECT_EQ(L"Software\\QvnRegistryKeyTest", key.Path());
    EXPECT_EQ(static_cast<REGSAM>(KEY_READ), key.Access());
    EXPECT_FALSE(key.IsPredefined());
    EXPECT_TRUE(CRegistryKey(KEY_WOW64_32KEY).IsPredefined());

    // A key opened for less than KEY_READ passes its own access on.
    const CRegistryKey narrow =
        CRegistryKey(KEY_WOW64_64KEY).OpenSubKey(L"Software", KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS);
    const CRegistryKey child = narrow.OpenSubKey(L"QvnRegistryKeyTest");
    EXPECT_EQ(static_cast<REGSAM>(KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS), child.Access());
    EXPECT_EQ(L"64", child.QueryString(L"Which"));
}

TEST_F(RegistryViewTest, CopiesShareTheOpenKey)
{
    HKEY handle = nullptr;
    {
        CRegistryKey copy;
        {
            const CRegistryKey key = CRegistryKey(KEY_WOW64_64KEY).OpenSubKey(kViewTestKey);
            handle = key.Get();
            copy = key;
        }
        EXPECT_EQ(handle, copy.Get());
        EXPECT_EQ(L"64", copy.QueryString(L"Which"));
    }
    DWORD values = 0;
    EXPECT_NE(ERROR_SUCCESS, RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                              nullptr, nullptr, nullptr, nullptr));
}

TEST_F(RegistryViewTest, MissingKeysAndEmptyKeys)
{
    const CRegistryKey root(KEY_WOW64_64KEY);
    EXPECT_FALSE(root.SubKeyExists(L"Software\\QvnNoSuchKey"));
    EXPECT_FALSE(root.SubKeyExists(L"Software\\QvnNoSuchKey\\Deeper\\Still"));
    ExpectWin32Error([&] { root.OpenSubKey(L"Software\\QvnNoSuchKey"); }, ERROR_FILE_NOT_FOUND,
                     "RegOpenKeyEx failed", "missing key");

    const CRegistryKey empty;
    ExpectWin32Error([&] { empty.IsPredefined(); }, ERROR_INVALID_HANDLE, "", "IsPredefined of an empty key");
    ExpectWin32Error([&] { empty.OpenSubKey(L"Software"); }, ERROR_INVALID_HANDLE, "", "OpenSubKey of an empty key");
    ExpectWin32Error([&] { empty.SubKeyExists(L"Software"); }, ERROR_INVALID_HANDLE, "", "SubKeyExists of an empty key");
    ExpectWin32Error([&] { empty.QueryString(L"x"); }, ERROR_INVALID_HANDLE, "", "QueryString of an empty key");
    ExpectWin32Error([] { CRegistryKey(reinterpret_cast<HKEY>(0x1234), KEY_WOW64_64KEY); }, ERROR_INVALID_HANDLE, "",
                     "a root that is not predefined");
}

// Values of every shape the typed reads must accept or refuse.
class RegistryValueTest : public testing::Test {
protected:
    void SetUp() override
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                                 nullptr));
        const DWORD dword = 0x12345678;
        const WORD shortDword = 7;
        const ULONGLONG qword = 1;
        const wchar_t text[] = L"text";
        const wchar_t expand[] = L"%SystemRoot%\\x";
        const wchar_t unterminated[] = {L'a', L'b', L'c'};
        const wchar_t multi[] = L"one\0two\0\0";
        const wchar_t multiUnterminated[] = {L'x', L'\0', L'y'};
        const BYTE binary[] = {1, 2, 3};
        Set(key, L"dword", REG_DWORD, &dword, sizeof(dword));
        Set(key, L"shortDword", REG_DWORD, &shortDword, sizeof(shortDword));
        Set(key, L"qword", REG_QWORD, &qword, sizeof(qword));
        Set(key, L"text", REG_SZ, text, sizeof(text));
        Set(key, L"expand", REG_EXPAND_SZ, expand, sizeof(expand));
        Set(key, L"unterminated", REG_SZ, unterminated, sizeof(unterminated));
        Set(key, L"oddSize", REG_SZ, text, 5);
        Set(key, L"emptyText", REG_SZ, nullptr, 0);
        Set(key, L"multi", REG_MULTI_SZ, multi, sizeof(multi));
        Set(key, L"multiUnterminated", REG_MULTI_SZ, multiUnterminated, sizeof(multiUnterminated));
        Set(key, L"emptyMulti", REG_MULTI_SZ, L"\0", 2 * sizeof(wchar_t));
        Set(key, L"binary", REG_BINARY, binary, sizeof(binary));
        Set(key, L"long", REG_SZ, std::wstring(5000, L'L').c_str(), 5001 * sizeof(wchar_t));
        RegCloseKey(key);
    }
    void TearDown() override { DeleteTree(HKEY_CURRENT_USER, kPath, 0); }

    static void Set(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size)) << Narrow(name);
    }

    CRegistryKey Key() const { return CRegistryKey(HKEY_CURRENT_USER, 0).OpenSubKey(kPath); }

    static constexpr const wchar_t* kPath = L"Software\\QvnRegistryValueTest";
};

TEST_F(RegistryValueTest, TypedReadsOfMatchingValues)
{
    const CRegistryKey key = Key();
    EXPECT_EQ(0x12345678u, key.QueryDword(L"dword"));
    EXPECT_EQ(L"text", key.QueryString(L"text"));
    EXPECT_EQ(L"%SystemRoot%\\x", key.QueryString(L"expand"));
    EXPECT_EQ(L"abc", key.QueryString(L"unterminated"));
    EXPECT_EQ(L"te", key.QueryString(L"oddSize"));
    EXPECT_EQ(L"", key.QueryString(L"emptyText"));
    EXPECT_EQ(std::wstring(5000, L'L'), key.QueryString(L"long"));
    EXPECT_THAT(key.QueryMultiString(L"multi"), ElementsAre(L"one", L"two"));
    EXPECT_THAT(key.QueryMultiString(L"multiUnterminated"), ElementsAre(L"x", L"y"));
    EXPECT_TRUE(key.QueryMultiString(L"emptyMulti").empty());

    const imdp::os::RegistryValue raw = key.QueryValue(L"binary");
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), raw.type);
    EXPECT_THAT(raw.data, ElementsAre(1, 2, 3));
}

TEST_F(RegistryValueTest, TypedReadsRefuseOtherTypesAndSizes)
{
    const CRegistryKey key = Key();
    struct Case {
        const char* what;
        std::function<void()> read;
        DWORD code;
        const char* message;
    };
    const Case cases[] = {
        {"dword of a string", [&] { key.QueryDword(L"text"); }, ERROR_INVALID_DATA, "data type mismatch"},
        {"dword of a qword", [&] { key.QueryDword(L"qword"); }, ERROR_INVALID_DATA, "data type mismatch"},
        {"dword of 2 bytes", [&] { key.QueryDword(L"shortDword"); }, ERROR_INVALID_DATA, "data size mismatch"},
        {"string of a dword", [&] { key.QueryString(L"dword"); }, ERROR_INVALID_DATA, "data type mismatch"},
        {"string of a multi-string", [&] { key.QueryString(L"multi"); }, ERROR_INVALID_DATA, "data type mismatch"},
        {"multi-string of a string", [&] { key.QueryMultiString(L"text"); }, ERROR_INVALID_DATA, "data type mismatch"},
        {"missing value", [&] { key.QueryDword(L"absent"); }, ERROR_FILE_NOT_FOUND, "RegQueryValueEx"},
        {"missing value, raw", [&] { key.QueryValue(L"absent"); }, ERROR_FILE_NOT_FOUND, "RegQueryValueEx"},
    };
    for (const Case& c : cases)
        ExpectWin32Error(c.read, c.code, c.message, c.what);
}

TEST(RunTimeLoading, LoadsModulesAndResolvesEntryPoints)
{
    // This process is 64-bit: both answers are false here; a 32-bit process on
    // 64-bit Windows would see true from both.
    EXPECT_EQ(imdp::os::IsWow64(), imdp::rtdl::CKernel32::Instance().IsWow64());
    EXPECT_EQ(&imdp::rtdl::CKernel32::Instance(), &imdp::rtdl::CKernel32::Instance());
    BOOL wow64 = TRUE;
    EXPECT_TRUE(imdp::rtdl::CKernel32::Instance().IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(sizeof(void*) == 8 ? FALSE : wow64, wow64);

    ExpectWin32Error([] { imdp::rtdl::CRTDLBase missing(L"qvn-no-such-module.dll"); }, ERROR_MOD_NOT_FOUND,
                     "Failed to load DLL", "missing module");
    const imdp::rtdl::CRTDLBase kernel32(L"kernel32.dll");
    EXPECT_NE(nullptr, kernel32.GetFunction<FARPROC>("GetTickCount"));
    ExpectWin32Error([&] { kernel32.GetFunction<FARPROC>("QvnNoSuchFunction"); }, ERROR_PROC_NOT_FOUND,
                     "Can't get function address", "missing function");
}

} // namespace
