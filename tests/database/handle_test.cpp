#include "imdp/msi/Handle.h"
#include "imdp/msi/Session.h"
#include "tests/support/Package.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <iterator>

using imdp::msi::CDatabase;
using imdp::msi::CHandle;
using imdp::msi::CRecord;
using imdp::msi::CView;
using imdp::msi::CViewRecord;
using imdp::msi::msi_error;
using imdp::msi::msi_handle_wrapper;

namespace {

std::string ReadAll(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Whether the installer still knows the handle.
bool IsOpen(MSIHANDLE handle)
{
    return MsiRecordGetFieldCount(handle) != static_cast<UINT>(-1);
}

// A package with two Binary rows and a table with a long value, opened as a session.
class MsiHandleTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        payload_ = new std::string(std::string("\0\x7f\xff data", 8) + std::string(5000, 'd'));
        const std::wstring data = testsupport::DataPath(L"handle-data.bin");
        {
            std::ofstream out(data.c_str(), std::ios::binary);
            out.write(payload_->data(), static_cast<std::streamsize>(payload_->size()));
        }
        const std::wstring empty = testsupport::DataPath(L"handle-empty.bin");
        { std::ofstream out(empty.c_str(), std::ios::binary); }
        testsupport::PackageBuilder builder(testsupport::DataPath(L"handle.msi"));
        builder.Binary(L"payload", data)
            .Binary(L"nothing", empty)
            .Sql(L"CREATE TABLE `Text` (`Key` CHAR(10) NOT NULL, `Value` LONGCHAR PRIMARY KEY `Key`)");
        builder.Sql(L"INSERT INTO `Text` (`Key`, `Value`) VALUES ('short', 'one')")
            .Sql(L"INSERT INTO `Text` (`Key`, `Value`) VALUES ('long', '" + std::wstring(700, L'w') + L"')")
            .Sql(L"INSERT INTO `Text` (`Key`) VALUES ('null')");
        package_ = new std::wstring(builder.Commit());
    }
    static void TearDownTestSuite()
    {
        delete package_;
        delete payload_;
    }

    void SetUp() override
    {
        session_.reset(new testsupport::Session(*package_));
        database_ = CDatabase(std::make_shared<msi_handle_wrapper>(MsiGetActiveDatabase(session_->get()), true));
        ASSERT_TRUE(database_.IsValid());
    }

    static std::wstring* package_;
    static std::string* payload_;
    std::unique_ptr<testsupport::Session> session_;
    CDatabase database_;
};

std::wstring* MsiHandleTest::package_ = nullptr;
std::string* MsiHandleTest::payload_ = nullptr;

// Wine starts the rows again on the fetch after the one that answered
// ERROR_NO_MORE_ITEMS, so only the first fetch past the end is checked here.
TEST_F(MsiHandleTest, FetchAfterTheLastRowGivesAnEmptyRecord)
{
    CView view = database_.OpenView(L"SELECT `Value` FROM `Text`");
    view.Execute();
    std::vector<std::wstring> values;
    for (CViewRecord record = view.Fetch(); record.IsValid(); record = view.Fetch())
        values.push_back(record.GetString());
    std::sort(values.begin(), values.end());
    ASSERT_EQ(3u, values.size());
    EXPECT_EQ(L"", values[0]);
    EXPECT_EQ(L"one", values[1]);
    EXPECT_EQ(std::wstring(700, L'w'), values[2]);
}

TEST_F(MsiHandleTest, ExecuteWithParameters)
{
    CView view = database_.OpenView(L"SELECT `Value` FROM `Text` WHERE `Key` = ?");
    CRecord params = CRecord::Create(1);
    params.SetString(1, L"short");
    view.Execute(params);
    EXPECT_EQ(L"one", view.Fetch().GetString());
    EXPECT_FALSE(view.Fetch().IsValid());
    view.Close();
}

TEST_F(MsiHandleTest, FailuresThrowWithTheInstallersCode)
{
    struct Case {
        const char* name;
        std::function<void()> call;
        const char* message;
    };
    const Case cases[] = {
        {"bad SQL", [&] { database_.OpenView(L"SELEKT nothing"); }, "MsiDatabaseOpenView failed"},
        {"unknown table", [&] { database_.OpenView(L"SELECT * FROM `Missing`"); }, "MsiDatabaseOpenView failed"},
        {"execute of an empty view", [] { CView().Execute(); }, "MsiViewExecute failed"},
        {"fetch of an empty view", [] { CView().Fetch(); }, "MsiViewFetch failed"},
        {"empty database", [] { CDatabase().OpenView(L"SELECT * FROM `Text`"); }, "MsiDatabaseOpenView failed"},
        {"string of an empty record", [] { CRecord().GetString(); }, "MsiRecordGetString failed"},
        {"stream of a string field",
         [&] {
             CView view = database_.OpenView(L"SELECT `Value` FROM `Text`");
             view.Execute();
             view.Fetch().ReadStream();
         },
         "MsiRecordReadStream failed"},
    };
    for (const Case& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const msi_error& error) {
            EXPECT_EQ(c.message, error.message()) << c.name;
            EXPECT_NE(0u, error.code()) << c.name;
        }
    }
}

TEST_F(MsiHandleTest, WriteBinaryToFileWritesTheStream)
{
    const std::wstring target = testsupport::DataPath(L"payload.out");
    database_.WriteBinaryToFile(L"payload", target);
    EXPECT_EQ(*payload_, ReadAll(target));

    // An existing file is replaced, not appended to; an empty stream gives an empty file.
    database_.WriteBinaryToFile(L"nothing", target);
    EXPECT_TRUE(Exists(target));
    EXPECT_EQ("", ReadAll(target));
}

TEST_F(MsiHandleTest, WriteBinaryToFileOfAMissingRowCreatesNoFile)
{
    const std::wstring target = testsupport::DataPath(L"missing.out");
    database_.WriteBinaryToFile(L"closeui", target);
    EXPECT_FALSE(Exists(target));
    // A quote would end the name inside the query.
    EXPECT_THROW(database_.WriteBinaryToFile(L"x' OR `Name` <> '", target), msi_error);
    EXPECT_FALSE(Exists(target));
}

TEST(MsiHandleOwnership, LastOwningHolderClosesAndNonOwningNeverCloses)
{
    MSIHANDLE raw = 0;
    {
        CRecord first = CRecord::Create(2);
        raw = first.Get();
        {
            CRecord copy = first;
            EXPECT_EQ(raw, copy.Get());
        }
        EXPECT_TRUE(IsOpen(raw));
        CHandle moved(first);
        first = CRecord();
        EXPECT_TRUE(IsOpen(raw));
    }
    EXPECT_FALSE(IsOpen(raw));

    const MSIHANDLE own = MsiCreateRecord(1);
    {
        CHandle borrowed = CHandle::NonOwning(own);
        CHandle again = borrowed;
    }
    EXPECT_TRUE(IsOpen(own));
    MsiCloseHandle(own);
}

// The session's database through CSession is the same kind of owning handle.
TEST_F(MsiHandleTest, SessionDatabaseReadsTables)
{
    imdp::msi::CSession session(session_->get());
    CView view = session.GetDatabase().OpenView(L"SELECT `Value` FROM `Text` WHERE `Key` = 'short'");
    view.Execute();
    EXPECT_EQ(L"one", view.Fetch().GetString());
}

} // namespace
