// Receiving-card check (job 5), restore (job 6) and scan-file load (job 2)
// driven tick by tick against the simulated cards, with packed files built
// here from their layout.
#include "support/board_clock.h"
#include "support/card_job_fixture.h"
#include "support/packed_card_file.h"

#include "core/global.h"
#include "sendcard/rcv_recovery_file.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/rcv_card_model.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/shell_global.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <chrono>
#include <thread>

using namespace testfiles;

namespace {

std::vector<int> g_mapping_seen;
void mappingProgress(int v)
{
    g_mapping_seen.push_back(v);
}

class CardJobs : public CardJobTest {
protected:
    void writeBoardFile(const std::string& at, const std::string& bytes)
    {
        QDir().mkpath(QString::fromStdString(hostPath(at)).section('/', 0, -2));
        writeFile(hostPath(at), bytes);
    }

    // Screen 0 (config id 0x5A) with two nets: port index 1 (3 cards) and
    // port index 18 (3 cards); each card has a register write and a RAM
    // write; the screen's card parameters are one register write.
    Packed screenFile(bool cardParams = true)
    {
        Packed p;
        Screen s;
        s.configId = 0x1200005A;
        for (uint16_t ledx : {uint16_t(1), uint16_t(18)}) {
            Net n;
            n.ledx = ledx;
            for (int c = 0; c < 3; ++c) {
                Card card;
                card.ops = {Operate{1, 2, 0, 500, {0x10, uint8_t(c), uint8_t(ledx)}},
                            Operate{1, 1, 0x300, 500, {uint8_t(0xC0 + c), uint8_t(ledx), 0x77}}};
                n.cards.push_back(card);
            }
            s.nets.push_back(n);
        }
        if (cardParams)
            s.cardParams = {Operate{1, 2, 0, 500, {0xAA, 0xBB}}};
        p.screens = {s};
        return p;
    }
};

TEST_F(CardJobs, CheckFindsTheFaultyCardAndTheRestoreFixesIt)
{
    upWithCards({{2, 3}, {19, 3}});
    writeBoardFile("/data/rcvrecovery/KQFX", packed(screenFile()));
    control("card-faulty 19 1");

    // With the advanced settings page closed the check finds the card, but
    // the card to restore stays the one the page last listed.
    mgr().restore_screen = 3;
    mgr().restore_port = 7;
    mgr().restore_card = 2;
    ASSERT_GT(runJob(5), 0);
    EXPECT_EQ(g_send_para.card_reply.load(), 1);
    EXPECT_EQ(mgr().restore_screen, 3);
    EXPECT_EQ(mgr().restore_port, 7);
    EXPECT_EQ(mgr().restore_card, 2);

    // Check with the page open: net 0 (port index 1) is sound, net 1 names
    // card 1.
    const OpenAdvancedPage page;
    ASSERT_GT(runJob(5), 0);
    EXPECT_EQ(g_send_para.card_reply.load(), 1);
    EXPECT_EQ(AdvancedOption::result_list(), QList<QString>{"01/19/02/03"});
    EXPECT_EQ(fpga_card_reply(), 1);
    EXPECT_EQ(mgr().restore_port, 18);
    EXPECT_EQ(mgr().restore_card, 1);
    EXPECT_EQ(mgr().restore_screen, 0);
    EXPECT_EQ(mgr().job_progress.load(), 100);
    // The check frames carry the config id and the check flag.
    auto checks = framesOf(19, 0, 0x10);
    ASSERT_FALSE(checks.empty());
    EXPECT_EQ(checks.back()[16], 1);
    EXPECT_EQ(checks.back()[17], 0x5A);
    EXPECT_EQ(checks.back()[20], 0x12);

    // Restore: the card parameters first, then the card's mapping records,
    // each addressed to card 1 of FPGA 1 port 2 only.
    ASSERT_GT(runJob(6), 0);
    EXPECT_EQ(chain(19).faultyCard(), -1);
    const auto regs = framesOf(19, 1, 0xA0);
    ASSERT_EQ(regs.size(), 2u);
    EXPECT_EQ(regs[0][10], 0xAA) << "card parameters first";
    EXPECT_EQ(regs[1][10], 0x10);
    EXPECT_EQ(regs[1][11], 1);
    EXPECT_EQ(regs[1][12], 18);
    EXPECT_EQ(chain(19).cardRam(1, 0x300, 3), (std::vector<uint8_t>{0xC1, 18, 0x77}));
    EXPECT_TRUE(framesOf(19, 0, 0x60).empty()) << "the other cards are left alone";
    EXPECT_TRUE(framesOf(2, 1, 0x60).empty());

    // A second check finds every card sound.
    ASSERT_GT(runJob(5), 0);
    EXPECT_EQ(g_send_para.card_reply.load(), 255);
    EXPECT_EQ(mgr().job_progress.load(), 100);
}

TEST_F(CardJobs, ASilentNetPassesAfterItsTimeOutAndTheCheckGoesOn)
{
    upWithCards({{2, 3}, {19, 3}});
    writeBoardFile("/data/rcvrecovery/KQFX", packed(screenFile()));
    const OpenAdvancedPage page;
    control("card-fault 2 silent");
    control("card-faulty 19 2");
    const int ticks = runJob(5);
    ASSERT_GT(ticks, 500);
    EXPECT_EQ(mgr().restore_port, 18);
    EXPECT_EQ(mgr().restore_card, 2);
    EXPECT_FALSE(fpga_card_job_failed()) << "a faulty card was found";

    // Every net that answers is sound, one net's top card is silent: the
    // check goes over both nets and ends as not completed.
    control("card-fault 2 none");
    control("card-faulty 19 none");
    control("card-silent 2 0 on");
    ASSERT_GT(runJob(5), 500);
    EXPECT_EQ(g_send_para.card_reply.load(), 255) << "the second net was checked";
    EXPECT_TRUE(fpga_card_job_failed());
    EXPECT_EQ(mgr().job_progress.load(), 100);
    EXPECT_EQ(mgr().restore_port, 18) << "the card found before stays the one to restore";

    // With every card answering the check is complete again.
    control("card-silent 2 0 off");
    ASSERT_GT(runJob(5), 0);
    EXPECT_EQ(g_send_para.card_reply.load(), 255);
    EXPECT_FALSE(fpga_card_job_failed());

    // The first net's card 1 is faulty and answers a minute late, long
    // after its net's wait; the second net is sound but silent. The late
    // answer comes while the second net is waited for: it names no card of
    // that net.
    control("card-faulty 2 1");
    control("card-delay 2 60000");
    control("card-fault 19 silent");
    g_send_para.post(5);
    ASSERT_GT(runUntil([] { return g_send_para.step.load() == 14 && g_send_para.net_index == 1; }, 2000),
              500)
        << "the first net's wait ran out";
    {
        BoardClockSpeed fast(1000);
        // 100 s of board time: the first net's answer is there.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_GT(runUntil([] { return g_send_para.code.load() == 0; }, 2000), 0);
    }
    EXPECT_EQ(model(0).waitingAnswers(0), 0u) << "the late answer was read";
    EXPECT_EQ(g_send_para.card_reply.load(), 65535) << "the late answer counted for the second net";
    EXPECT_TRUE(fpga_card_job_failed()) << "the second net gave no answer";
    EXPECT_EQ(AdvancedOption::result_list(), QList<QString>{"01/19/03/03"}) << "the list names the card found before";
    EXPECT_EQ(mgr().restore_port, 18);
    EXPECT_EQ(mgr().restore_card, 2);
    control("card-delay 2 0");
}

TEST_F(CardJobs, APcCommandPausesTheJob)
{
    upWithCards({{2, 3}, {19, 3}});
    writeBoardFile("/data/rcvrecovery/KQFX", packed(screenFile()));
    g_send_para.post(5);
    ASSERT_GT(runUntil([] { return g_send_para.step.load() == 2; }, 400), 0);
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    for (int t = 0; t < 80; ++t) {
        tick();
        ASSERT_EQ(g_send_para.step.load(), 2);
    }
    ASSERT_GT(runUntil([] { return g_send_para.step.load() != 2; }, 10), 0);
    EXPECT_EQ(pc_cmd_valid.load(), 0);
}

TEST_F(CardJobs, FilesThatCannotBeUsedEndTheJobWithFullProgress)
{
    upWithCards({{2, 3}});
    // No file at all: "more file error", no result.
    ASSERT_GT(runJob(5), 0);
    EXPECT_EQ(g_send_para.card_reply.load(), 65535);
    EXPECT_EQ(mgr().job_progress.load(), 100);

    // A truncated file (inside the rcv xy section).
    const std::string whole = packed(screenFile());
    writeBoardFile("/data/rcvrecovery/KQFX", whole.substr(0, whole.size() / 2));
    mgr().job_progress = -1;
    ASSERT_GT(runJob(5), 0);
    EXPECT_EQ(mgr().job_progress.load(), 100);

    // A restore of a screen with neither card parameters nor mapping.
    Packed empty = screenFile(false);
    empty.screens[0].noXy = true;
    writeBoardFile("/data/rcvrecovery/KQFX", packed(empty));
    mgr().restore_port = 1;
    mgr().restore_card = 0;
    const auto before = chain(2).requests();
    ASSERT_GT(runJob(6), 0);
    EXPECT_EQ(chain(2).requests(), before) << "nothing sent";

    // The restore card beyond the net's cards.
    writeBoardFile("/data/rcvrecovery/KQFX", packed(screenFile(false)));
    mgr().restore_card = 3;
    ASSERT_GT(runJob(6), 0);
    EXPECT_TRUE(framesOf(2, 0, 0x60).empty());
}

TEST_F(CardJobs, LoadingAScanFileSendsRamInPacketsToEveryCardOfThePort)
{
    upWithCards({{5, 2}});
    std::vector<uint8_t> big(2500);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7);
    writeBoardFile("/data/smartmapping/scan.bin", bare({Operate{1, 1, 0x100, 500, big}, Operate{2, 3, 0, 100, {}}}));
    const QString scan = "/data/smartmapping/scan.bin";
    line_type.port = 4;
    g_mapping_seen.clear();
    g_smartmapping_progress = mappingProgress;

    ASSERT_GT(runLoad(scan), 0);
    EXPECT_FALSE(g_send_para.failed.load()) << "every frame to all cards was confirmed";
    const auto writes = framesOf(5, 0, 0x60);
    ASSERT_EQ(writes.size(), 3u);
    const unsigned lengths[3] = {1000, 1000, 500};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(writes[k][0] | (writes[k][1] << 8), 0x0FFF) << "every card";
        EXPECT_EQ(writes[k][14] | (writes[k][15] << 8), lengths[k]);
        EXPECT_EQ(writes[k][10] | (writes[k][11] << 8), 0x100 + 1000 * k);
    }
    EXPECT_EQ(chain(5).cardRam(1, 0x100, 2500), big);
    EXPECT_EQ(chain(5).saves(0), 1u);
    EXPECT_EQ(chain(5).saves(1), 1u);
    ASSERT_FALSE(g_mapping_seen.empty());
    EXPECT_EQ(g_mapping_seen.back(), 100);

    // A silent port: each of the three packets is tried four times, then
    // the next one; the load ends as not done.
    control("card-fault 5 silent");
    const auto before = framesOf(5, 0, 0x60).size();
    writeBoardFile("/data/smartmapping/scan.bin", bare({Operate{1, 1, 0x100, 100, big}}));
    g_mapping_seen.clear();
    ASSERT_GT(runLoad(scan), 0);
    const auto tried = framesOf(5, 0, 0x60);
    ASSERT_EQ(tried.size() - before, 12u);
    for (size_t k = 0; k < 12; ++k)
        EXPECT_EQ(tried[before + k][10] | (tried[before + k][11] << 8), 0x100 + 1000 * (k / 4)) << "try " << k;
    EXPECT_TRUE(g_send_para.failed.load());
    ASSERT_FALSE(g_mapping_seen.empty());
    EXPECT_EQ(g_mapping_seen.back(), 100);

    // No scan file in either folder.
    QDir(QString::fromStdString(hostPath("/data/smartmapping"))).removeRecursively();
    QDir().mkpath(QString::fromStdString(hostPath("/data/smartmapping")));
    g_mapping_seen.clear();
    const auto sent = chain(5).requests();
    const int ticks = runLoad(scan);
    ASSERT_GT(ticks, 0);
    EXPECT_LT(ticks, 400) << "the job ends after its start wait";
    EXPECT_EQ(chain(5).requests(), sent);
    ASSERT_FALSE(g_mapping_seen.empty());
    EXPECT_EQ(g_mapping_seen.back(), 100);
}

TEST_F(CardJobs, TheAdvancedSettingsPageGetsTheResultAndItsEnd)
{
    upWithCards({{2, 3}, {19, 3}});
    writeBoardFile("/data/rcvrecovery/KQFX", packed(screenFile()));
    control("card-faulty 2 2");
    g_advancedoption = new AdvancedOption();
    std::vector<int> seen;
    QObject::connect(g_advancedoption.data(), &AdvancedOption::sig_qround_bar_update,
                     [&seen](int v) { seen.push_back(v); });

    ASSERT_GT(runJob(5), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(AdvancedOption::result_list(), QList<QString>{"01/02/03/03"});
    EXPECT_EQ(AdvancedOption::recovery_status(), 1);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), 100);

    ASSERT_GT(runJob(6), 0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(AdvancedOption::result_list().isEmpty());
    EXPECT_EQ(AdvancedOption::recovery_status(), 0);
    EXPECT_EQ(chain(2).faultyCard(), -1);

    // A restore from the page whose file has gone meanwhile: the card found
    // stays listed and the page says that the restore was not completed.
    g_language = 1;
    control("card-faulty 2 2");
    g_advancedoption->on_Button_check_clicked();
    ASSERT_GT(runUntil([] { return g_send_para.code.load() == 0; }, 20000), 0);
    QCoreApplication::processEvents();
    ASSERT_EQ(AdvancedOption::result_list(), QList<QString>{"01/02/03/03"});
    QFile::remove(QString::fromStdString(hostPath("/data/rcvrecovery/KQFX")));
    g_advancedoption->on_Button_self_recovery_clicked();
    ASSERT_GT(runUntil([] { return g_send_para.code.load() == 0; }, 20000), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(AdvancedOption::result_list(), QList<QString>{"01/02/03/03"});
    QLabel* status = g_advancedoption->findChild<QLabel*>("label_status");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->text(), "The restore was not completed");
    EXPECT_EQ(chain(2).faultyCard(), 2);
    delete g_advancedoption.data();
    g_advancedoption = nullptr;
}

} // namespace
