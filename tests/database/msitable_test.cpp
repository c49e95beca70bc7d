#include "install_utils/MsiTable.h"
#include "install_utils/MsiUtil.h"
#include "tests/support/Package.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

using InstallUtils::CInstallUtilsException;
using InstallUtils::CMsiTable;
using InstallUtils::CMsiUtil;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Pair;

namespace {

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// Runs one statement on an open database or session database.
void Exec(MSIHANDLE database, const std::wstring& sql)
{
    MSIHANDLE view = 0;
    ASSERT_EQ(0u, MsiDatabaseOpenViewW(database, sql.c_str(), &view)) << Narrow(sql);
    const UINT result = MsiViewExecute(view, 0);
    MsiViewClose(view);
    MsiCloseHandle(view);
    ASSERT_EQ(0u, result) << Narrow(sql);
}

// A package with a table of every field kind the reader meets: a plain and a
// localisable string, a short and a long integer, null fields of both, and a
// negative number.
class MsiTableTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        testsupport::PackageBuilder builder(testsupport::DataPath(L"msitable.msi"));
        builder.Sql(L"CREATE TABLE `Widget` (`Name` CHAR(72) NOT NULL, `Label` CHAR(64) LOCALIZABLE, "
                    L"`Count` SHORT, `Size` LONG, `Note` CHAR(32) PRIMARY KEY `Name`)")
            .Sql(L"INSERT INTO `Widget` (`Name`, `Label`, `Count`, `Size`, `Note`) VALUES ('a', 'Alpha', 3, 70000, 'x')")
            .Sql(L"INSERT INTO `Widget` (`Name`, `Label`, `Count`) VALUES ('b', 'Beta', -5)")
            .Sql(L"INSERT INTO `Widget` (`Name`) VALUES ('c')")
            .Property(L"ShippedFlavour", L"vanilla");
        package_ = new std::wstring(builder.Commit());
    }
    static void TearDownTestSuite()
    {
        delete package_;
        package_ = nullptr;
    }

    static std::wstring* package_;
};

std::wstring* MsiTableTest::package_ = nullptr;

TEST_F(MsiTableTest, ListsColumnsWithTheirTypesInTableOrder)
{
    testsupport::Session session(*package_);
    CMsiTable table(session.get());
    CMsiTable::columns columns;
    ASSERT_TRUE(table.getColumns(L"Widget", columns, true));
    EXPECT_THAT(columns, ElementsAre(Pair(L"Name", L"s72"), Pair(L"Label", L"L64"), Pair(L"Count", L"I2"),
                                     Pair(L"Size", L"I4"), Pair(L"Note", L"S32")));
}

TEST_F(MsiTableTest, LeavesOutTemporaryColumns)
{
    testsupport::Session session(*package_);
    MSIHANDLE database = MsiGetActiveDatabase(session.get());
    ASSERT_NE(0u, database);
    Exec(database, L"ALTER TABLE `Widget` ADD `Scratch` CHAR(10) TEMPORARY");
    Exec(database, L"ALTER TABLE `Widget` ADD `Counter` SHORT TEMPORARY");
    MsiCloseHandle(database);

    CMsiTable table(session.get());
    CMsiTable::columns columns;
    ASSERT_TRUE(table.getColumns(L"Widget", columns, true));
    ASSERT_EQ(5u, columns.size());
    for (const auto& column : columns)
        EXPECT_NE(L"Scratch", column.first);
    EXPECT_EQ(L"Note", columns.back().first);
}

TEST_F(MsiTableTest, ReadsRowsWithNullIntegersAsEmptyText)
{
    testsupport::Session session(*package_);
    CMsiTable table(session.get());
    CMsiTable::columns columns;
    ASSERT_TRUE(table.getColumns(L"Widget", columns, true));
    CMsiTable::rows rows;
    ASSERT_TRUE(table.getRecords(L"Widget", columns, rows, nullptr, true));
    ASSERT_EQ(3u, rows.size());

    struct Expected {
        const wchar_t* name;
        const wchar_t* label;
        const wchar_t* count;
        const wchar_t* size;
        const wchar_t* note;
    };
    const Expected expected[] = {
        {L"a", L"Alpha", L"3", L"70000", L"x"},
        {L"b", L"Beta", L"-5", L"", L""},
        {L"c", L"", L"", L"", L""},
    };
    for (const Expected& row : expected) {
        const auto found = std::find_if(rows.begin(), rows.end(),
                                        [&](const CMsiTable::row& r) { return r.at(L"Name") == row.name; });
        ASSERT_NE(rows.end(), found) << Narrow(row.name);
        EXPECT_THAT(*found, ElementsAre(Pair(L"Count", row.count), Pair(L"Label", row.label), Pair(L"Name", row.name),
                                        Pair(L"Note", row.note), Pair(L"Size", row.size)))
            << Narrow(row.name);
    }
}

TEST_F(MsiTableTest, ConditionSelectsRowsAndAnEmptyMatchIsStillSuccess)
{
    testsupport::Session session(*package_);
    CMsiTable table(session.get());
    CMsiTable::columns columns;
    ASSERT_TRUE(table.getColumns(L"Widget", columns, true));

    CMsiTable::rows rows;
    ASSERT_TRUE(table.getRecords(L"Widget", columns, rows, L"`Label` = 'Beta'", true));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(L"b", rows[0].at(L"Name"));

    CMsiTable::rows none;
    EXPECT_TRUE(table.getRecords(L"Widget", columns, none, L"`Name` = 'zz'", true));
    EXPECT_THAT(none, IsEmpty());
}

// A temporary column between persistent ones: the reader must not take the
// temporary field for the persistent column that follows it.
TEST_F(MsiTableTest, ReadsTheRightFieldsAroundATemporaryColumnInTheMiddle)
{
    testsupport::Session session(*package_);
    MSIHANDLE database = MsiGetActiveDatabase(session.get());
    ASSERT_NE(0u, database);
    Exec(database, L"CREATE TABLE `Mixed` (`Key` CHAR(10) NOT NULL, `Scratch` CHAR(10) TEMPORARY, "
                   L"`Amount` SHORT PRIMARY KEY `Key`) HOLD");
    Exec(database, L"INSERT INTO `Mixed` (`Key`, `Scratch`, `Amount`) VALUES ('k', 'junk', 42) TEMPORARY");
    MsiCloseHandle(database);

    CMsiTable table(session.get());
    CMsiTable::columns columns;
    ASSERT_TRUE(table.getColumns(L"Mixed", columns, true));
    ASSERT_EQ(2u, columns.size());
    CMsiTable::rows rows;
    ASSERT_TRUE(table.getRecords(L"Mixed", columns, rows, nullptr, true));
    ASSERT_EQ(1u, rows.size());
    EXPECT_THAT(rows[0], ElementsAre(Pair(L"Amount", L"42"), Pair(L"Key", L"k")));
}

TEST_F(MsiTableTest, FailuresAreFalseWithErrorLines)
{
    testsupport::Session session(*package_);
    testsupport::LogCapture capture;
    CMsiTable table(session.get());

    CMsiTable::columns columns;
    EXPECT_FALSE(table.getColumns(L"NoSuchTable", columns, true));
    EXPECT_THAT(columns, IsEmpty());
    EXPECT_FALSE(table.getColumns(L"Wid`get", columns, true));

    CMsiTable::rows rows;
    capture.Clear();
    EXPECT_FALSE(table.getRecords(L"NoSuchTable", {{L"Name", L"s72"}}, rows, nullptr, true));
    EXPECT_EQ(1u, capture.StartingWith(L"Unable to open table view (").size()) << Narrow(capture.Joined());

    // A condition the installer cannot execute (unknown column).
    capture.Clear();
    EXPECT_FALSE(table.getRecords(L"Widget", {{L"Name", L"s72"}}, rows, L"`Nope` = 1", true));
    EXPECT_FALSE(capture.Lines().empty());

    // A column the table does not have.
    EXPECT_FALSE(table.getRecords(L"Widget", {{L"Weight", L"i2"}}, rows, nullptr, true));
    EXPECT_THAT(rows, IsEmpty());
}

TEST_F(MsiTableTest, StreamColumnsAreReportedAndSkipped)
{
    const std::wstring data = testsupport::DataPath(L"blob.bin");
    { std::ofstream(data.c_str(), std::ios::binary) << "blob"; }
    testsupport::PackageBuilder builder(testsupport::DataPath(L"msitable-binary.msi"));
    builder.Binary(L"blob", data);
    testsupport::Session session(builder.Commit());
    testsupport::LogCapture capture;

    CMsiTable table(session.get());
    CMsiTable::columns columns;
    ASSERT_TRUE(table.getColumns(L"Binary", columns, true));
    ASSERT_EQ(2u, columns.size());
    const std::wstring streamType = columns[1].second;
    CMsiTable::rows rows;
    ASSERT_TRUE(table.getRecords(L"Binary", columns, rows, nullptr, true));
    ASSERT_EQ(1u, rows.size());
    EXPECT_THAT(rows[0], ElementsAre(Pair(L"Name", L"blob")));
    EXPECT_TRUE(capture.Has(L"Unknown data type in Binary for column Data, " + streamType + L", i = 1"))
        << Narrow(capture.Joined());
}

TEST_F(MsiTableTest, StringReadOfAnInvalidRecordThrows)
{
    testsupport::Session session(*package_);
    CMsiTable table(session.get());
    MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 1, std::wstring(600, L'q').c_str());
    EXPECT_EQ(std::wstring(600, L'q'), table.getStringRecord(record, 1));
    EXPECT_EQ(L"", table.getStringRecord(record, 0));
    MsiCloseHandle(record);
    try {
        table.getStringRecord(record, 1);
        FAIL() << "no exception";
    } catch (const CInstallUtilsException& error) {
        EXPECT_EQ(L"Unexpected return code from MsiRecordGetString", error.message());
        EXPECT_EQ(static_cast<UINT>(ERROR_INVALID_HANDLE), error.code());
    }
}

// getProperty on a database handle reads the Property table.
TEST_F(MsiTableTest, PropertyOfADatabaseHandleComesFromThePropertyTable)
{
    MSIHANDLE database = 0;
    ASSERT_EQ(0u, MsiOpenDatabaseW(package_->c_str(), MSIDBOPEN_READONLY, &database));
    {
        CMsiUtil util(database, L"test");
        EXPECT_EQ(L"vanilla", util.getProperty(L"ShippedFlavour"));
        EXPECT_EQ(L"Quorvane", util.getProperty(L"Manufacturer"));
        EXPECT_EQ(L"", util.getProperty(L"NotInTheTable"));
        EXPECT_THROW(util.getProperty(L"x' OR `Property`<>'"), CInstallUtilsException);
    }
    MsiCloseHandle(database);
}

// The shutdown program written from the Binary table.
class CloseUiTest : public testing::Test {
protected:
    std::wstring PackageWith(bool closeui)
    {
        const std::wstring data = testsupport::DataPath(L"closeui-data.bin");
        {
            std::ofstream out(data.c_str(), std::ios::binary);
            out.write(payload_.data(), static_cast<std::streamsize>(payload_.size()));
        }
        testsupport::PackageBuilder builder(testsupport::DataPath(closeui ? L"closeui.msi" : L"no-closeui.msi"));
        builder.Binary(closeui ? L"closeui" : L"closeuiX", data);
        return builder.Commit();
    }

    static std::string ReadAll(const std::wstring& path)
    {
        std::ifstream in(path.c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    static bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

    std::string payload_ = std::string("MZ\0\x01\xff program", 14) + std::string(70000, 'p');
};

TEST_F(CloseUiTest, WritesTheRowIntoTheFile)
{
    testsupport::Session session(PackageWith(true));
    const std::wstring target = testsupport::DataPath(L"closeui-out.exe");
    testsupport::LogCapture capture;
    CMsiUtil util(session.get(), L"PrepCloseUI");
    EXPECT_TRUE(util.extractCloseUiBinary(target.c_str()));
    EXPECT_EQ(payload_, ReadAll(target));
    const std::wstring size = std::to_wstring(payload_.size());
    EXPECT_TRUE(capture.Has(L"PrepCloseUI Reading " + size + L" bytes from stream")) << Narrow(capture.Joined());
    EXPECT_TRUE(capture.Has(L"PrepCloseUI Wrote " + size + L" bytes"));
    EXPECT_TRUE(capture.Has(L"PrepCloseUI end. ret=0"));
}

TEST_F(CloseUiTest, MissingRowThrowsAndLeavesNoFile)
{
    testsupport::Session session(PackageWith(false));
    const std::wstring target = testsupport::DataPath(L"closeui-missing.exe");
    CMsiUtil util(session.get(), L"PrepCloseUI");
    try {
        util.extractCloseUiBinary(target.c_str());
        FAIL() << "no exception";
    } catch (const CInstallUtilsException& error) {
        EXPECT_EQ(L"Unable to fetch record", error.message());
        EXPECT_EQ(static_cast<UINT>(ERROR_NO_MORE_ITEMS), error.code());
    }
    EXPECT_FALSE(Exists(target));
}

TEST_F(CloseUiTest, UncreatableFileThrows)
{
    testsupport::Session session(PackageWith(true));
    const std::wstring target = testsupport::DataPath(L"no-such-folder") + L"\\closeui.exe";
    CMsiUtil util(session.get(), L"PrepCloseUI");
    try {
        util.extractCloseUiBinary(target.c_str());
        FAIL() << "no exception";
    } catch (const CInstallUtilsException& error) {
        EXPECT_EQ(L"Unable to create file " + target, error.message());
        EXPECT_EQ(static_cast<UINT>(ERROR_FUNCTION_FAILED), error.code());
    }
}

} // namespace
