// The two installer log writers: the prefixed, level-filtered CMsiUtil stream
// and the timestamped imdp::log logger of CSession.

#include "tests/framework/FrameworkFixture.h"

#include "imdp/log/Logger.h"
#include "imdp/msi/Errors.h"
#include "imdp/msi/Session.h"
#include "install_utils/MsiUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

using fwtest::SessionTest;
using InstallUtils::CMsiUtil;
using ::testing::ElementsAreArray;

namespace {

// ---------------------------------------------------------------- thresholds

struct ThresholdCase {
    const char* name;
    int before;             // threshold left by earlier actions of the process
    const wchar_t* calogLevel; // nullptr: the property is not set
    int after;
};

const ThresholdCase kThresholdCases[] = {
    {"DefaultWithoutProperty", 2, nullptr, 2},
    {"EarlierThresholdPersists", 5, nullptr, 5},
    {"TraceEnabled", 2, L"1", 1},
    {"HighestLevel", 2, L"6", 6},
    {"Silenced", 2, L"0", 0},
    {"AboveSixIgnored", 2, L"7", 2},
    {"NegativeIgnored", 2, L"-1", 2},
    {"NotANumberIgnored", 2, L"abc", 2},
    {"IgnoredValueKeepsEarlierThreshold", 4, L"abc", 4},
    {"HugeNumberIgnored", 3, L"99999999999", 3},
};

class LogThresholdTest : public SessionTest, public ::testing::WithParamInterface<ThresholdCase> {};

TEST_P(LogThresholdTest, FiltersLevelLinesButNeverDirectOnes)
{
    const ThresholdCase& c = GetParam();
    fwtest::PropertyList properties;
    if (c.calogLevel != nullptr)
        properties.emplace_back(L"CALOGLEVEL", c.calogLevel);
    const MSIHANDLE session = OpenSession(properties);
    InstallUtils::SetLogThreshold(c.before);

    std::vector<std::wstring> expected;
    {
        CMsiUtil msi(session, L"Level: ");
        EXPECT_EQ(c.after, InstallUtils::LogThreshold());
        for (int level = 1; level <= 6; ++level) {
            msi.log(level) << L"level " << level << std::endl;
            if (c.after != 0 && level >= c.after)
                expected.push_back(L"Level: level " + std::to_wstring(level));
        }
        msi.logMessage(L"message %d", 7);
        msi << L"direct" << std::endl;
    }
    expected.push_back(L"Level:  message 7");
    expected.push_back(L"Level: direct");
    EXPECT_THAT(capture_.Lines(), ElementsAreArray(expected)) << Lines();
}

INSTANTIATE_TEST_SUITE_P(Calogl, LogThresholdTest, ::testing::ValuesIn(kThresholdCases),
                         [](const ::testing::TestParamInfo<ThresholdCase>& info) { return info.param.name; });

// A threshold taken from one action's CALOGLEVEL holds for later actions in the process.
TEST_F(SessionTest, ThresholdFromPropertyHoldsForLaterObjects)
{
    const MSIHANDLE session = OpenSession({{L"CALOGLEVEL", L"5"}});
    { CMsiUtil first(session, L"First: "); }
    MsiSetPropertyW(session, L"CALOGLEVEL", L"");
    CMsiUtil second(session, L"Second: ");
    second.log(4) << L"warn" << std::endl;
    second.log(5) << L"error" << std::endl;
    EXPECT_THAT(capture_.Lines(), ElementsAreArray({std::wstring(L"Second: error")})) << Lines();
}

// ---------------------------------------------------------------- CMsiUtil line assembly

struct AssemblyCase {
    const char* name;
    std::function<void(CMsiUtil&)> write;
    std::vector<std::wstring> whileAlive; // lines sent before the object goes
    std::vector<std::wstring> atEnd;      // all lines once it is destroyed
};

const std::wstring kLongText(2000, L'x');

std::vector<AssemblyCase> AssemblyCases()
{
    return {
        {"LineFeedSplitsLines", [](CMsiUtil& m) { m << L"a\nb"; }, {L"P: a"}, {L"P: a", L"P: b"}},
        {"FlushSendsPendingLine", [](CMsiUtil& m) { m << L"a\nb" << std::flush; }, {L"P: a", L"P: b"},
         {L"P: a", L"P: b"}},
        {"BareEndlSendsNothing", [](CMsiUtil& m) { m << std::endl << L"\n\n" << std::flush; }, {}, {}},
        {"PartialLineAtDestruction", [](CMsiUtil& m) { m << L"partial " << 12; }, {}, {L"P: partial 12"}},
        {"NumbersAndTextOnOneLine", [](CMsiUtil& m) { m << L"n=" << 42 << L" done" << std::endl; }, {L"P: n=42 done"},
         {L"P: n=42 done"}},
        {"WideMessage", [](CMsiUtil& m) { m.logMessage(L"%s=%d (%x) %S", L"NAME", -3, 255u, "narrow"); },
         {L"P:  NAME=-3 (ff) narrow"}, {L"P:  NAME=-3 (ff) narrow"}},
        {"NarrowMessage", [](CMsiUtil& m) { m.logMessage("%s=%u (%04d)", "NAME", 1603u, 7); }, {L"P:  NAME=1603 (0007)"},
         {L"P:  NAME=1603 (0007)"}},
        {"MessageLongerThanFirstBuffer", [](CMsiUtil& m) { m.logMessage(L"[%s]", kLongText.c_str()); },
         {L"P:  [" + kLongText + L"]"}, {L"P:  [" + kLongText + L"]"}},
        {"Fields", [](CMsiUtil& m) { m.logFields("ssII", L"Property", L"Value", 3, -7); }, {L"P: Property Value 3 -7 "},
         {L"P: Property Value 3 -7 "}},
    };
}

class LineAssemblyTest : public SessionTest, public ::testing::WithParamInterface<AssemblyCase> {};

TEST_P(LineAssemblyTest, SendsCompleteLinesBehindThePrefix)
{
    const AssemblyCase& c = GetParam();
    const MSIHANDLE session = OpenSession();
    {
        CMsiUtil msi(session, L"P: ");
        c.write(msi);
        EXPECT_THAT(capture_.Lines(), ElementsAreArray(c.whileAlive)) << Lines();
    }
    EXPECT_THAT(capture_.Lines(), ElementsAreArray(c.atEnd)) << Lines();
}

INSTANTIATE_TEST_SUITE_P(CMsiUtil, LineAssemblyTest, ::testing::ValuesIn(AssemblyCases()),
                         [](const ::testing::TestParamInfo<AssemblyCase>& info) { return info.param.name; });

// A line the installer refuses is lost without disturbing the action.
TEST_F(SessionTest, RefusedUtilityLineIsDroppedSilently)
{
    const MSIHANDLE session = OpenSession();
    capture_.SetAnswer(-1);
    EXPECT_NO_THROW({
        CMsiUtil msi(session, L"P: ");
        msi << L"refused" << std::endl;
        msi.logMessage(L"refused too");
    });
    capture_.SetAnswer(0);
    CMsiUtil msi(session, L"P: ");
    msi << L"accepted" << std::endl;
    EXPECT_TRUE(capture_.Has(L"P: accepted")) << Lines();
}

// ---------------------------------------------------------------- imdp::log

FILETIME ToFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms)
{
    SYSTEMTIME st = {};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    st.wMilliseconds = ms;
    FILETIME ft = {};
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

struct FormatCase {
    imdp::log::LogLevel level;
    const wchar_t* expected;
};

TEST(TimestampedLine, LevelNamesArePaddedToFive)
{
    const FILETIME time = ToFileTime(2024, 5, 1, 9, 30, 12, 45);
    const FormatCase cases[] = {
        {imdp::log::LOG_TRACE, L"2024-05-01T09:30:12.045Z TRACE text"},
        {imdp::log::LOG_DEBUG, L"2024-05-01T09:30:12.045Z DEBUG text"},
        {imdp::log::LOG_INFO, L"2024-05-01T09:30:12.045Z INFO  text"},
        {imdp::log::LOG_WARN, L"2024-05-01T09:30:12.045Z WARN  text"},
        {imdp::log::LOG_ERROR, L"2024-05-01T09:30:12.045Z ERROR text"},
        {imdp::log::LOG_FATAL, L"2024-05-01T09:30:12.045Z FATAL text"},
    };
    for (const FormatCase& c : cases)
        EXPECT_EQ(c.expected, imdp::log::FormatLine(time, c.level, L"text"));
}

TEST(TimestampedLine, UnconvertibleTimeGivesEmptyTimestamp)
{
    const FILETIME invalid = {0xFFFFFFFFu, 0xFFFFFFFFu};
    EXPECT_EQ(L" INFO  text", imdp::log::FormatLine(invalid, imdp::log::LOG_INFO, L"text"));
}

ULONGLONG AsNumber(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The session logger writes every level, each line stamped with the UTC time
// at which it was started. The build machine runs on UTC, where local time
// would pass too; ctest therefore runs this test a second time with Wine in
// a time zone 5:30 hours off UTC (framework_timestamps_non_utc).
TEST_F(SessionTest, SessionLinesCarryUtcTimestampAndLevel)
{
    const MSIHANDLE session = OpenSession();
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    {
        imdp::msi::CSession cs(session);
        cs.Log(imdp::log::LOG_TRACE) << L"trace " << 1 << std::endl;
        cs.Log(imdp::log::LOG_INFO) << L"info" << std::endl;
        cs.Log(imdp::log::LOG_INFO) << std::endl; // empty: nothing
        cs.Log(imdp::log::LOG_FATAL) << L"fatal" << std::endl;
    }
    FILETIME after;
    GetSystemTimeAsFileTime(&after);

    ASSERT_EQ(3u, capture_.Lines().size()) << Lines();
    const std::wregex form(L"^(\\d{4})-(\\d{2})-(\\d{2})T(\\d{2}):(\\d{2}):(\\d{2})\\.(\\d{3})Z (.*)$");
    const wchar_t* const texts[] = {L"TRACE trace 1", L"INFO  info", L"FATAL fatal"};
    for (size_t i = 0; i < 3; ++i) {
        const std::wstring& line = capture_.Lines()[i];
        std::wsmatch m;
        ASSERT_TRUE(std::regex_match(line, m, form)) << line;
        EXPECT_EQ(texts[i], m[8].str());
        const FILETIME stamped = ToFileTime(static_cast<WORD>(std::stoi(m[1])), static_cast<WORD>(std::stoi(m[2])),
                                            static_cast<WORD>(std::stoi(m[3])), static_cast<WORD>(std::stoi(m[4])),
                                            static_cast<WORD>(std::stoi(m[5])), static_cast<WORD>(std::stoi(m[6])),
                                            static_cast<WORD>(std::stoi(m[7])));
        // Milliseconds are cut, not rounded: allow one millisecond (10000 ticks) below.
        EXPECT_LE(AsNumber(before), AsNumber(stamped) + 10000) << line;
        EXPECT_LE(AsNumber(stamped), AsNumber(after)) << line;
    }
}

TEST_F(SessionTest, RefusedSessionLineThrows1627)
{
    const MSIHANDLE session = OpenSession();
    imdp::msi::CSession cs(session);
    capture_.SetAnswer(-1);
    try {
        cs.Log(imdp::log::LOG_INFO) << L"refused" << std::endl;
        ADD_FAILURE() << "a refused line must raise msi_error";
    } catch (const imdp::msi::msi_error& e) {
        EXPECT_EQ(1627u, e.code());
        EXPECT_EQ("MsiProcessMessage failed", e.message());
    }
    // The next line starts afresh once the installer accepts again.
    capture_.SetAnswer(0);
    capture_.Clear();
    cs.Log(imdp::log::LOG_INFO) << L"accepted" << std::endl;
    ASSERT_EQ(1u, capture_.Lines().size()) << Lines();
    EXPECT_EQ(L"INFO  accepted", fwtest::WithoutTimestamp(capture_.Lines()[0]));
}

// An action whose expression throws half way through a line
// (Log(...) << "x=" << ReadSomething()) leaves a fragment behind; the next
// line must not start with it.
TEST_F(SessionTest, LineCutShortByExceptionStaysSeparate)
{
    const MSIHANDLE session = OpenSession();
    imdp::msi::CSession cs(session);
    const auto refuse = []() -> std::wstring { throw imdp::msi::msi_error("refused", 5); };
    try {
        cs.Log(imdp::log::LOG_WARN) << L"value=" << refuse() << std::endl;
    } catch (const imdp::msi::msi_error&) {
    }
    cs.Log(imdp::log::LOG_INFO) << L"next" << std::endl;
    std::vector<std::wstring> untimed;
    for (const std::wstring& line : capture_.Lines())
        untimed.push_back(fwtest::WithoutTimestamp(line));
    EXPECT_THAT(untimed, ElementsAreArray({std::wstring(L"WARN  value="), std::wstring(L"INFO  next")}));
}

} // namespace
