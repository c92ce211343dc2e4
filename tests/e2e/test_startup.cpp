// The program starts on a fresh simulated board: the idle status screen is
// on top, the tick runs, and nothing is written outside the board root.
#include "support/app_runner.h"

#include <QDir>
#include <QThread>
#include <gtest/gtest.h>

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
