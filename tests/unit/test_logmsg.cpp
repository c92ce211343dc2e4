// Engine log: line format, length cut, console echo by level, literal text,
// size-bounded file.
#include "core/global.h"
#include "core/logMsg.h"
#include "platform/board_root.h"
#include "support/sim_board_test.h"

#include <QDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>

namespace {

const char* const kTimeStamp = R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}[^\]]*\])";

class LogMsgTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        savedSwitch_ = g_debugSwitch;
        g_debugSwitch = 0;
        logPath_ = hostPath(kEngineLogPath);
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(hostPath("/data/velmokq/log"))));
        std::remove(logPath_.c_str());
    }
    void TearDown() override
    {
        g_debugSwitch = savedSwitch_;
        SimBoardTest::TearDown();
    }
    std::string log() const { return readFile(logPath_); }

    std::string logPath_;
    unsigned char savedSwitch_ = 254;
};

// Length of everything before the message in a line of the given level.
size_t prefixLength(const std::string& line)
{
    const std::string marker = "# RUVOMSG # ";
    const size_t at = line.find(marker);
    return at == std::string::npos ? 0 : at + marker.size();
}

} // namespace

TEST_F(LogMsgTest, LineFormatPerLevel)
{
    struct Case {
        _LogType level;
        const char* tag;
    };
    const Case cases[] = {
        {CRITICAL, " [ENGINEASSEMBLY] [CRITICAL] "}, {ERROR, " [ENGINEASSEMBLY] [ERROR   ] "},
        {WARNING, " [ENGINEASSEMBLY] [WARNING ] "},  {INFO, " [ENGINEASSEMBLY] [INFO    ] "},
        {DEBUG, " [ENGINEASSEMBLY] [DEBUG   ] "},
    };
    for (const Case& c : cases) {
        std::remove(logPath_.c_str());
        writeLogMsg(c.level, "hello world");
        const std::string expected = std::string("^") + kTimeStamp
            + std::regex_replace(c.tag, std::regex(R"([\[\]])"), R"(\$&)") + "# RUVOMSG # hello world\n$";
        EXPECT_TRUE(std::regex_match(log(), std::regex(expected))) << "line: " << log();
    }
}

TEST_F(LogMsgTest, LevelOutOfRangeAddsNoTag)
{
    writeLogMsg(static_cast<_LogType>(7), "odd");
    EXPECT_TRUE(std::regex_match(log(), std::regex(std::string("^") + kTimeStamp + "# RUVOMSG # odd\n$")))
        << log();
}

TEST_F(LogMsgTest, LinesAreAppended)
{
    writeLogMsg(INFO, "first");
    writeLogMsg(WARNING, "second");
    const std::string text = log();
    const size_t nl = text.find('\n');
    ASSERT_NE(nl, std::string::npos);
    EXPECT_NE(text.substr(0, nl).find("[INFO    ] # RUVOMSG # first"), std::string::npos);
    EXPECT_NE(text.substr(nl + 1).find("[WARNING ] # RUVOMSG # second\n"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
}

TEST_F(LogMsgTest, LongMessageIsCutAt511Characters)
{
    const std::string msg(600, 'x');
    writeLogMsg(ERROR, msg);
    const std::string line = log();
    ASSERT_EQ(line.size(), 511u);
    EXPECT_NE(line.back(), '\n');
    const size_t p = prefixLength(line);
    ASSERT_GT(p, 0u);
    EXPECT_EQ(line.substr(p), std::string(511 - p, 'x'));
}

TEST_F(LogMsgTest, LineFeedKeptOnlyWhenItFits)
{
    writeLogMsg(INFO, "probe");
    const size_t p = prefixLength(log());
    ASSERT_GT(p, 0u);

    // Exactly 511 characters with the line feed.
    std::remove(logPath_.c_str());
    writeLogMsg(INFO, std::string(511 - p - 1, 'y'));
    std::string line = log();
    ASSERT_EQ(line.size(), 511u);
    EXPECT_EQ(line.back(), '\n');

    // One more character pushes the line feed out.
    std::remove(logPath_.c_str());
    writeLogMsg(INFO, std::string(511 - p, 'y'));
    line = log();
    ASSERT_EQ(line.size(), 511u);
    EXPECT_EQ(line.back(), 'y');
}

TEST_F(LogMsgTest, EchoByLevel)
{
    struct Case {
        unsigned char sw;
        const char* expected;
    };
    // Each level writes its own name; the echo shows which ones came out.
    const Case cases[] = {
        {0, ""},
        {1, "E\n"},
        {2, "E\n"},
        {3, "E\nW\nI\n"},
        {4, "E\nW\nI\nD\n"},
        {254, "E\nW\nI\nD\n"},
    };
    for (const Case& c : cases) {
        g_debugSwitch = c.sw;
        testing::internal::CaptureStdout();
        writeLogMsg(CRITICAL, "C");
        writeLogMsg(ERROR, "E");
        writeLogMsg(WARNING, "W");
        writeLogMsg(INFO, "I");
        writeLogMsg(DEBUG, "D");
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, c.expected) << "g_debugSwitch " << int(c.sw);
    }
}

TEST_F(LogMsgTest, PercentSignsAreLiteral)
{
    g_debugSwitch = 254;
    testing::internal::CaptureStdout();
    writeLogMsg(ERROR, "value %d %s %n %%");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "value %d %s %n %%\n");
    const std::string line = log();
    EXPECT_EQ(line.substr(prefixLength(line)), "value %d %s %n %%\n");
}

TEST_F(LogMsgTest, FileIsDeletedOnceItReachesTheLimit)
{
    // Just under the limit: a short line stays below it and keeps the file.
    writeFile(logPath_, std::string(kEngineLogLimit - 200, '.'));
    writeLogMsg(INFO, "short");
    ASSERT_TRUE(exists(logPath_));
    const long sizeBefore = static_cast<long>(log().size());
    EXPECT_LT(sizeBefore, kEngineLogLimit);
    EXPECT_GT(sizeBefore, kEngineLogLimit - 200);

    // The next line crosses the limit: the file is gone afterwards.
    writeLogMsg(INFO, std::string(300, 'z'));
    EXPECT_FALSE(exists(logPath_));

    // A new file starts with the next line alone.
    writeLogMsg(INFO, "fresh");
    const std::string text = log();
    EXPECT_LT(text.size(), 200u);
    EXPECT_NE(text.find("# RUVOMSG # fresh\n"), std::string::npos);
}

TEST_F(LogMsgTest, LineThatLandsExactlyOnTheLimitDeletesTheFile)
{
    writeLogMsg(INFO, "m");
    const size_t lineLen = log().size();
    std::remove(logPath_.c_str());
    writeFile(logPath_, std::string(kEngineLogLimit - lineLen, '.'));
    writeLogMsg(INFO, "m");
    EXPECT_FALSE(exists(logPath_));
}

TEST_F(LogMsgTest, MissingFolderStillEchoes)
{
    ASSERT_TRUE(QDir(QString::fromStdString(hostPath("/data/velmokq/log"))).removeRecursively());
    g_debugSwitch = 254;
    testing::internal::CaptureStdout();
    writeLogMsg(ERROR, "no folder");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "no folder\n");
    EXPECT_FALSE(exists(logPath_));
}
