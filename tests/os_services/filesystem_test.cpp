#include "imdp/Errors.h"
#include "imdp/UniqueHandle.h"
#include "imdp/os/FileSystem.h"
#include "tests/support/Package.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace imdp::os;

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WriteFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    imdp::unique_file_handle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << Narrow(path) << " " << GetLastError();
    DWORD written = 0;
    ::WriteFile(file.get(), "data", 4, &written, nullptr);
    file.reset();
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes));
}

template <typename Call>
void ExpectWin32Error(Call call, const char* message, DWORD code)
{
    try {
        call();
        FAIL() << "no exception, expected " << message;
    } catch (const imdp::win32_error& e) {
        EXPECT_EQ(0u, std::string(e.what()).find(message)) << e.what();
        if (code != 0) {
            EXPECT_EQ(code, e.code()) << e.what();
        }
    }
}

struct PathCase {
    const wchar_t* input;
    const wchar_t* expected;
};

TEST(PathUtilities, JoinPutsExactlyOneBackslashBetween)
{
    const struct {
        const wchar_t* folder;
        const wchar_t* name;
        const wchar_t* expected;
    } cases[] = {
        {L"C:\\Program Files", L"Aegix", L"C:\\Program Files\\Aegix"},
        {L"C:\\Program Files\\", L"Aegix", L"C:\\Program Files\\Aegix"},
        {L"C:\\Program Files", L"\\Aegix", L"C:\\Program Files\\Aegix"},
        {L"C:\\", L"Aegix", L"C:\\Aegix"},
        {L"", L"Aegix", L"Aegix"},
        {L"\\\\?\\C:\\a", L"b.txt", L"\\\\?\\C:\\a\\b.txt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, JoinPath(c.folder, c.name)) << Narrow(c.folder) << " + " << Narrow(c.name);
}

TEST(PathUtilities, ParentStopsAtTheRoot)
{
    const PathCase cases[] = {
        {L"C:\\a\\b", L"C:\\a"},
        {L"C:\\a\\b\\", L"C:\\a"},
        {L"C:\\a", L"C:\\"},
        {L"C:\\", L""},
        {L"C:", L""},
        {L"name", L""},
        {L"\\\\?\\C:\\a\\b", L"\\\\?\\C:\\a"},
        {L"\\\\?\\C:\\a", L"\\\\?\\C:\\"},
        {L"\\\\?\\C:\\", L""},
        {L"\\\\server\\share\\a", L"\\\\server\\share"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, ParentPath(c.input)) << Narrow(c.input);
}

TEST(PathUtilities, Predicates)
{
    EXPECT_TRUE(EndsWithBackslash(L"C:\\a\\"));
    EXPECT_FALSE(EndsWithBackslash(L"C:\\a"));
    EXPECT_FALSE(EndsWithBackslash(L""));
    EXPECT_TRUE(IsDotEntry(L"."));
    EXPECT_TRUE(IsDotEntry(L".."));
    EXPECT_FALSE(IsDotEntry(L"..."));
    EXPECT_FALSE(IsDotEntry(L".hidden"));
}

TEST(PathUtilities, LongPathPrefixIsAddedOnce)
{
    EXPECT_EQ(L"\\\\?\\", LongPathPrefix());
    EXPECT_EQ(&LongPathPrefix(), &LongPathPrefix());
    EXPECT_EQ(L"\\\\?\\C:\\a", ToLongPath(L"C:\\a"));
    EXPECT_EQ(L"\\\\?\\C:\\a", ToLongPath(L"\\\\?\\C:\\a"));
}

// A scratch folder of its own for each test, removed with the real API afterwards.
class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root_ = testsupport::ModuleFolder() + L"testdata\\fs_" + std::wstring(test.begin(), test.end());
        if (Exists(root_))
            DeleteTree(root_);
        CreateDirectoryW((testsupport::ModuleFolder() + L"testdata").c_str(), nullptr);
        ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr)) << GetLastError();
    }

    void TearDown() override
    {
        if (Exists(root_))
            DeleteTree(ToLongPath(root_));
    }

    std::wstring root_;
};

TEST_F(FileSystemTest, CreateDirectoriesReturnsWhatItCreated)
{
    const std::wstring a = root_ + L"\\a", b = a + L"\\b", c = b + L"\\c";
    EXPECT_EQ((std::vector<std::wstring>{a, b, c}), CreateDirectories(c));
    EXPECT_TRUE(Exists(c));

    EXPECT_TRUE(CreateDirectories(c).empty());
    const std::wstring d = b + L"\\d";
    EXPECT_EQ(std::vector<std::wstring>{d + L"\\"}, CreateDirectories(d + L"\\"));
    EXPECT_TRUE(Exists(d));
}

TEST_F(FileSystemTest, CreateDirectoriesBelowAFileFails)
{
    const std::wstring file = root_ + L"\\file.txt";
    WriteFile(file);
    ExpectWin32Error([&] { CreateDirectories(file + L"\\sub"); }, "CreateDirectory failed", 0);
}

TEST_F(FileSystemTest, DeleteTreeRemovesNestedFoldersAndReadOnlyFiles)
{
    CreateDirectories(root_ + L"\\tree\\one\\two");
    CreateDirectories(root_ + L"\\tree\\empty");
    WriteFile(root_ + L"\\tree\\top.txt", FILE_ATTRIBUTE_READONLY);
    WriteFile(root_ + L"\\tree\\one\\plain.txt");
    WriteFile(root_ + L"\\tree\\one\\two\\deep.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    DeleteTree(root_ + L"\\tree");
    EXPECT_FALSE(Exists(root_ + L"\\tree"));
    EXPECT_TRUE(Exists(root_));
}

TEST_F(FileSystemTest, DeleteTreeOfASingleReadOnlyFile)
{
    const std::wstring file = root_ + L"\\alone.txt";
    WriteFile(file, FILE_ATTRIBUTE_READONLY);
    DeleteTree(file);
    EXPECT_FALSE(Exists(file));
}

TEST_F(FileSystemTest, DeleteTreeOfAMissingPathThrows)
{
    ExpectWin32Error([&] { DeleteTree(root_ + L"\\missing"); }, "GetFileAttributesW", ERROR_FILE_NOT_FOUND);
}

// Folders nested past MAX_PATH, reached only through the long-path prefix.
TEST_F(FileSystemTest, LongPathsBeyondMaxPath)
{
    std::wstring deep = root_ + L"\\long";
    while (deep.size() <= MAX_PATH + 40)
        deep += L"\\" + std::wstring(40, L'd');
    const std::wstring longDeep = ToLongPath(deep);

    const std::vector<std::wstring> created = CreateDirectories(longDeep);
    ASSERT_FALSE(created.empty());
    EXPECT_EQ(ToLongPath(root_ + L"\\long"), created.front());
    EXPECT_EQ(longDeep, created.back());
    WriteFile(JoinPath(longDeep, L"inner.txt"), FILE_ATTRIBUTE_READONLY);

    DeleteTree(ToLongPath(root_ + L"\\long"));
    EXPECT_FALSE(Exists(root_ + L"\\long"));
}

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Runs a unix tool on paths of this prefix, as Wine lets a Windows program
// start unix programs; returns once `done` holds (Wine cannot wait for a
// unix process).
bool RunUnixTool(const wchar_t* tool, const std::wstring& options, const std::vector<std::wstring>& paths,
                 const std::function<bool()>& done)
{
    using UnixName = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixName == nullptr)
        return false;
    std::wstring command = std::wstring(tool) + L" " + options;
    for (const std::wstring& path : paths) {
        char* name = unixName(path.c_str());
        command += L" " + std::wstring(name, name + strlen(name));
        HeapFree(GetProcessHeap(), 0, name);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    const std::wstring program = L"Z:" + std::wstring(tool);
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    for (int attempt = 0; attempt < 250 && !done(); ++attempt)
        Sleep(20);
    return done();
}

// Makes `link` a symbolic link to the folder `target`. Windows needs the
// symbolic-link privilege for it. Wine 8 answers CreateSymbolicLinkW with
// success but creates nothing, while it shows a unix symbolic link as a
// folder reparse point: there the link is made with the unix tool.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target)
{
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) && Exists(link))
        return true;
    return UnderWine() && RunUnixTool(L"/bin/ln", L"-s", {target, link}, [&] { return Exists(link); });
}

// A folder link inside the tree is removed as a link: the folder it points
// to, outside the tree, keeps its files.
TEST_F(FileSystemTest, DeleteTreeDoesNotFollowFolderLinks)
{
    const std::wstring outside = root_ + L"\\outside";
    CreateDirectories(outside);
    WriteFile(outside + L"\\keep.txt");
    CreateDirectories(root_ + L"\\tree");
    const std::wstring link = root_ + L"\\tree\\link";
    if (!MakeFolderLink(link, outside))
        GTEST_SKIP() << "no folder links here: " << GetLastError();
    ASSERT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              GetFileAttributesW(link.c_str()) & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    ASSERT_TRUE(Exists(link + L"\\keep.txt"));

    if (UnderWine()) {
        // Wine's RemoveDirectoryW follows a unix link to its non-empty target
        // (145) where Windows removes the link: only the target's safety is
        // shown here, and the link is removed with the unix tool.
        EXPECT_THROW(DeleteTree(root_ + L"\\tree"), imdp::win32_error);
        EXPECT_TRUE(Exists(outside + L"\\keep.txt"));
        ASSERT_TRUE(RunUnixTool(L"/bin/rm", L"", {link}, [&] { return !Exists(link); }));
        return;
    }
    DeleteTree(root_ + L"\\tree");
    EXPECT_FALSE(Exists(root_ + L"\\tree"));
    EXPECT_TRUE(Exists(outside + L"\\keep.txt"));
}

} // namespace
