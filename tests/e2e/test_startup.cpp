// The program starts on a fresh simulated board: the idle status screen is
// on top, the tick runs, and nothing is written outside the board root. A
// second program on a board root in use refuses to start.
#include "support/app_runner.h"

#include <QDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

unsigned long ticks(AppRunner& app)
{
    std::string t = app.control("ticks");
    EXPECT_EQ(t.find("error"), std::string::npos) << t;
    return std::stoul(t);
}

} // namespace

TEST(E2eStartup, IdleScreenOnTopTicksAdvanceAndNothingLeavesTheRoot)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();

    EXPECT_EQ(app.control("page-focus"), "0");
    std::string top = app.control("top-window");
    EXPECT_NE(top.find("visible LockWindow"), std::string::npos) << top;
    EXPECT_NE(top.find("visible MainWindow"), std::string::npos) << top;
    EXPECT_NE(top.find("active LockWindow"), std::string::npos) << top;

    unsigned long first = ticks(app);
    QThread::msleep(300);
    unsigned long second = ticks(app);
    EXPECT_GT(second, first + 5) << "the 10 ms tick does not run";

    // The start-up wrote its configuration and log under the board root.
    EXPECT_TRUE(QFile::exists(QString::fromStdString(app.hostPath("/data/configs/tcpip.ini"))));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(app.hostPath("/data/velmokq/log/prqEnglneLog"))));

    app.stop();
    // The program ran with HOME and its working folder beside the root:
    // nothing may have appeared there.
    QDir work(QString::fromStdString(app.workDir()));
    EXPECT_TRUE(work.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
        << work.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).join(",").toStdString();
}

TEST(E2eStartup, ASecondProgramOnABoardRootInUseRefusesToStartAndTheFirstRunsOn)
{
    AppRunner first;
    ASSERT_TRUE(first.start()) << first.output().toStdString();
    const std::string socket = first.hostPath("/sim/control.sock");
    struct stat before {};
    ASSERT_EQ(::stat(socket.c_str(), &before), 0);

    AppRunner second;
    second.useRoot(first.root());
    ASSERT_TRUE(second.launch());
    const int rc = second.waitForExit(20000);
    const std::string said = second.output().toStdString();
    EXPECT_NE(rc, -1) << "the second program does not leave: " << said;
    EXPECT_NE(rc, 0) << said;
    EXPECT_NE(said.find("zdrK47N: board root " + first.root() + " is in use by the program with pid " +
                        std::to_string(first.pid()) + "\n"),
              std::string::npos)
        << said;
    // It left before it touched the board: the first program's control
    // socket is the same one and answers.
    struct stat after {};
    ASSERT_EQ(::stat(socket.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the control socket was made again";
    EXPECT_EQ(first.control("page-focus"), "0");
    EXPECT_TRUE(first.running());

    // Once the first has stopped, a new one starts; one killed (a power
    // cut) keeps no one out either.
    first.stop();
    AppRunner third;
    third.useRoot(first.root());
    ASSERT_TRUE(third.start()) << third.output().toStdString();
    EXPECT_EQ(third.control("page-focus"), "0");
    ASSERT_EQ(::kill(static_cast<pid_t>(third.pid()), SIGKILL), 0);
    EXPECT_NE(third.waitForExit(5000), 0);
    AppRunner fourth;
    fourth.useRoot(first.root());
    ASSERT_TRUE(fourth.start()) << fourth.output().toStdString();
    EXPECT_EQ(fourth.control("page-focus"), "0");
    fourth.stop();
}
