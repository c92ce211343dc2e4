// Receiving-card check and restore in the running program, started from
// the advanced settings page by taps: the check names the faulty card, the
// restore repairs it and empties the result; a scan file from the PC closes
// the mapping wizard.
#include "support/app_runner.h"
#include "support/packed_card_file.h"
#include "support/wait_for.h"

#include "pcclient/pc_client.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sstream>

using namespace testfiles;

namespace {

bool has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

bool waitForFocus(AppRunner& app, const std::string& page)
{
    return waitFor([&] { return app.control("page-focus") == page; }, 10000);
}

TEST(E2eCardRecovery, CheckAndRestoreFromTheAdvancedSettingsPage)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    // Three cards behind FPGA 0 port 2 (port index 2), card 1 faulty.
    EXPECT_EQ(app.control("cards 3 3"), "");
    EXPECT_EQ(app.control("card-faulty 3 1"), "");
    const std::string bytes = threeCardFile();
    QDir().mkpath(QString::fromStdString(app.hostPath("/data/rcvrecovery")));
    QFile f(QString::fromStdString(app.hostPath("/data/rcvrecovery/KQFX")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    f.close();

    ASSERT_TRUE(waitFor([&] { return has(app.control("fpga-status"), "status 1"); }, 30000));
    ASSERT_TRUE(waitFor([&] { return app.control("fpga-ram 0 1 108 2") == "0300"; }, 10000));

    // Idle screen away, settings menu, advanced settings.
    app.control("tap 400 240");
    ASSERT_TRUE(waitForFocus(app, "1"));
    app.control("tap 495 180");
    ASSERT_TRUE(waitForFocus(app, "5"));
    app.control("tap 681 310");
    ASSERT_TRUE(waitForFocus(app, "12"));

    // Check.
    app.control("tap 290 112");
    ASSERT_TRUE(waitFor([&] { return has(app.control("card-job"), "job 5"); }, 5000)) << app.control("card-job");
    ASSERT_TRUE(waitFor([&] { return has(app.control("card-job"), "job 0"); }, 30000)) << app.control("card-job");
    EXPECT_EQ(app.control("card-job"), "job 0 reply 1 status 1 results 01/03/02/03");

    // Restore.
    app.control("tap 490 112");
    ASSERT_TRUE(waitFor([&] { return has(app.control("card-job"), "job 6"); }, 5000)) << app.control("card-job");
    ASSERT_TRUE(waitFor([&] { return has(app.control("card-job"), "job 0"); }, 30000)) << app.control("card-job");
    EXPECT_EQ(app.control("card-job"), "job 0 reply 65535 status 0 results");
    EXPECT_TRUE(has(app.control("card-log 3 1"), "00600002000001000000"))
        << "card 1 took its RAM write: " << app.control("card-log 3 1");

    // The top card of the chain falls silent: the check passes over the
    // net after its time-out and ends as not completed, not as sound ("The
    // check was not completed").
    EXPECT_EQ(app.control("card-silent 3 0 on"), "");
    app.control("tap 290 112");
    ASSERT_TRUE(waitFor([&] { return has(app.control("card-job"), "job 5"); }, 5000)) << app.control("card-job");
    ASSERT_TRUE(waitFor([&] { return has(app.control("card-job"), "job 0"); }, 30000)) << app.control("card-job");
    EXPECT_EQ(app.control("card-job"), "job 0 reply 65535 status 0 results");
    EXPECT_TRUE(waitFor([&] { return app.control("widget-text label_status") == "检测未完成"; }, 5000))
        << app.control("widget-text label_status");
    EXPECT_EQ(app.control("card-silent 3 0 off"), "");

    // Back to the settings menu, into the mapping wizard; a scan file the PC
    // installs (tag KQFR, type 13) closes the wizard, whose count of scan
    // files would be stale.
    app.control("tap 36 36");
    ASSERT_TRUE(waitForFocus(app, "5"));
    app.control("tap 489 310");
    ASSERT_TRUE(waitForFocus(app, "24"));
    const unsigned short udpPort = app.linkPort("udp");
    pcclient::UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", udpPort));
    // A bare scan file: 16-byte head, no records.
    const pcclient::Bytes scan(20, 0);
    EXPECT_EQ(pcclient::uploadFile(udp, 13, "KQFR", scan), 0);
    EXPECT_TRUE(waitForFocus(app, "5")) << app.control("page-focus");
    EXPECT_TRUE(QFile::exists(QString::fromStdString(app.hostPath("/data/smartmapping/KQFR"))));
    app.stop();
}

} // namespace
