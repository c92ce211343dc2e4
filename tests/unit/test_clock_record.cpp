// The running-time record in the flash behind FPGA 0: a blank flash, the
// two-minute progress in group and mirror, the repair at start, a full
// group, the clock-set marks, the sequence ring and the restart of the box.
#include "support/board_clock.h"
#include "support/fpga_fixture.h"
#include "support/fake_clock.h"

#include "avchips/velmosource.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "link/message_deal.h"
#include "sim/board.h"

#include <cstring>

namespace {

constexpr uint32_t kMagic = 0x6F3000;
constexpr uint32_t kGroup0 = 0x6F4000;
constexpr uint32_t kMirror0 = 0x6F5000;
constexpr uint32_t kSeq0 = 0x6F6000;

class ClockRecord : public FpgaTest {
protected:
    void SetUp() override
    {
        setClock(9, 7);
        FpgaTest::SetUp();
    }
    void setClock(int hour, int minute) { clock.set(2024, 3, 5, hour, minute); }
    FakeClock clock;
    clock_record_run& rec() { return mgr().clock_record; }
    // Minutes pass (one record step each).
    void minutes(int n)
    {
        for (int k = 0; k < n; ++k) {
            G_timeTicks += 6001;
            rec().clock_record_deal();
        }
    }
    // The box is switched off and on: a new board on the same root (the
    // flash files kept) and a new manager.
    void restart()
    {
        fpga_manage::destroyForTest();
        sim::Board::instance().reset(sim::Board::instance().root());
        velmosource* v = velmosource::pInstance();
        v->fpga_clk_setup_state[0] = 2;
        v->fpga_clk_setup_state[1] = 2;
        fpga_manage::createForTest(false);
    }
    std::vector<uint8_t> peek(uint32_t a, uint32_t n) { return flash(2).peek(a, n); }
    // A group in use (main and mirror) with base, sequence position and
    // progress bytes.
    void storeGroup(unsigned g, uint32_t base, uint32_t seq, const std::vector<uint8_t>& progress,
                    bool mirror = true)
    {
        std::vector<uint8_t> grp(512, 0xFF);
        grp[0] = 0xAA;
        const uint8_t t[7] = {0x23, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05};
        std::copy(t, t + 7, grp.begin() + 1);
        setLe32(grp.data(), 8, base);
        grp[12] = 0xFF;
        grp[13] = uint8_t(seq);
        grp[14] = uint8_t(seq >> 8);
        grp[15] = uint8_t(seq >> 16);
        std::copy(progress.begin(), progress.end(), grp.begin() + 48);
        flash(2).poke(kGroup0 + 512 * g, grp);
        if (mirror)
            flash(2).poke(kMirror0 + 512 * g, grp);
    }

    const std::vector<uint8_t> kTime = {0x24, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00};
};

TEST_F(ClockRecord, ABlankFlashOpensGroupZeroAfterThirtyMinutes)
{
    EXPECT_EQ(peek(kMagic, 3), std::vector<uint8_t>({0xAA, 0x5A, 0xA5}));
    ASSERT_EQ(g_clock_record.enabled, 1);
    EXPECT_EQ(g_clock_record.first_pending, 1);
    EXPECT_EQ(std::vector<uint8_t>(g_clock_record.time, g_clock_record.time + 7), kTime);

    G_timeTicks += 6000;   // not more than 6000 ticks: no minute yet
    rec().clock_record_deal();
    EXPECT_EQ(g_clock_record.minutes_since_start, 0u);
    minutes(29);
    EXPECT_EQ(peek(kGroup0, 1)[0], 0xFF);
    setClock(9, 37);
    minutes(1);
    std::vector<uint8_t> group = peek(kGroup0, 512);
    std::vector<uint8_t> head = {0xAA, 0x24, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00, 0, 0, 0, 0, 0xFF, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(group.begin(), group.begin() + 16), head);
    EXPECT_EQ(std::vector<uint8_t>(group.begin() + 33, group.begin() + 40),
              std::vector<uint8_t>({0x24, 0x20, 0x03, 0x05, 0x09, 0x37, 0x00}));
    EXPECT_EQ(std::vector<uint8_t>(group.begin() + 48, group.begin() + 53),
              std::vector<uint8_t>({0x55, 0x55, 0x55, 0xD5, 0xFF}));
    EXPECT_EQ(peek(kMirror0, 512), group);
    EXPECT_EQ(peek(kSeq0, 16), std::vector<uint8_t>({0xAA, 0x24, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00, 0xFF, 0xFF,
                                                     0xFF, 0xFF, 0xFF, 0, 0, 0}));
    EXPECT_EQ(g_clock_record.steps, 15u);

    // Two minutes clear the next bit pair, in group and mirror; odd
    // minutes write nothing.
    const uint64_t programs = flash(2).counters().programs;
    minutes(1);
    EXPECT_EQ(flash(2).counters().programs, programs);
    minutes(1);
    EXPECT_EQ(peek(kGroup0 + 51, 2), std::vector<uint8_t>({0x55, 0xFF}));
    minutes(2);
    EXPECT_EQ(peek(kGroup0 + 52, 1)[0], 0xFD);
    minutes(4);
    EXPECT_EQ(peek(kGroup0 + 52, 1)[0], 0xD5);
    EXPECT_EQ(peek(kMirror0 + 52, 1)[0], 0xD5);
    EXPECT_EQ(clock_record_run::progress_minutes(peek(kGroup0 + 48, 360).data(), 360), 38u);
}

TEST_F(ClockRecord, ARestartContinuesFromTheLastGroup)
{
    storeGroup(0, 0, 0, std::vector<uint8_t>(360, 0x55));
    storeGroup(1, 2880, 1, std::vector<uint8_t>(360, 0x55));
    storeGroup(2, 5760, 2, {0x55, 0x55, 0xF5, 0xFF});
    restart();
    ASSERT_EQ(g_clock_record.enabled, 1);
    EXPECT_EQ(g_clock_record.group, 3);
    EXPECT_EQ(g_clock_record.base_minutes, 5780u);
    EXPECT_EQ(g_clock_record.seq_pos, 3u);
    EXPECT_EQ(peek(kSeq0 + 2 * 16 + 8, 4), std::vector<uint8_t>({20, 0, 0, 0}));
    minutes(30);
    EXPECT_EQ(peek(kGroup0 + 3 * 512, 16),
              std::vector<uint8_t>({0xAA, 0x24, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00, 0x94, 0x16, 0, 0, 0xFF, 3, 0, 0}));
    EXPECT_EQ(peek(kMirror0 + 3 * 512, 512), peek(kGroup0 + 3 * 512, 512));

    // What the PC reads from the extension page.
    unsigned char ext[100];
    ASSERT_EQ(link_services::sendcard_read_ram(0, 0x12000, ext, sizeof(ext)), link_frame::kOk);
    EXPECT_EQ(le32(ext, 76), 5780u + 30u);
    EXPECT_EQ(le32(ext, 80), 30u);
    EXPECT_EQ(std::vector<uint8_t>(ext + 84, ext + 88), std::vector<uint8_t>({3, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(ext + 88, ext + 95), kTime);
    EXPECT_EQ(ext[95], 0xFF);
    EXPECT_EQ(le32(ext, 96), 30u);
    EXPECT_EQ(std::vector<uint8_t>(ext + 16, ext + 23), kTime);
}

TEST_F(ClockRecord, StartRepairsTheIncompleteCopy)
{
    // Group 1's mirror lost its marker: the main sector is copied over.
    storeGroup(0, 0, 0, {0x55});
    storeGroup(1, 8, 1, {0x55, 0xFD}, false);
    restart();
    EXPECT_EQ(peek(kMirror0, 4096), peek(kGroup0, 4096));
    EXPECT_EQ(g_clock_record.group, 2);
    EXPECT_EQ(g_clock_record.base_minutes, 18u);

    // Group 1 half opened in the main sector (no marker): the mirror, where
    // it is unused, is copied over it.
    fpga_manage::destroyForTest();
    storeGroup(0, 0, 0, {0x55});
    flash(2).poke(kMirror0 + 512, std::vector<uint8_t>(512, 0xFF));
    std::vector<uint8_t> half(16, 0x24);
    half[0] = 0xFF;
    flash(2).poke(kGroup0 + 512, half);
    restart();
    EXPECT_EQ(peek(kGroup0 + 512, 16), std::vector<uint8_t>(16, 0xFF));
    EXPECT_EQ(g_clock_record.group, 1);
    EXPECT_EQ(g_clock_record.base_minutes, 8u);

    // A full ring: the clock is set before the wrap's group opens, which
    // erases the main sector; the power goes before the group opens. The
    // record is the mirror's, and the main sector is restored from it.
    fpga_manage::destroyForTest();
    for (unsigned g = 0; g < 8; ++g)
        storeGroup(g, 2880 * g, g, std::vector<uint8_t>(360, 0x55));
    restart();
    ASSERT_EQ(g_clock_record.group, 8);
    ASSERT_EQ(g_clock_record.base_minutes, 23040u);
    rec().dealwith_record_timing();
    EXPECT_EQ(peek(kGroup0, 1)[0], 0xFF);
    restart();
    EXPECT_EQ(g_clock_record.group, 8);
    EXPECT_EQ(g_clock_record.base_minutes, 23040u);
    EXPECT_EQ(peek(kGroup0, 4096), peek(kMirror0, 4096));

    // The wrap's group 0 opened in the main sector, and the power went
    // before the mirror sector was started over: the new group carries on.
    fpga_manage::destroyForTest();
    flash(2).poke(kGroup0, std::vector<uint8_t>(4096, 0xFF));
    storeGroup(0, 23040, 9, {0x55, 0x55, 0x55, 0xD5}, false);
    restart();
    EXPECT_EQ(g_clock_record.group, 1);
    EXPECT_EQ(g_clock_record.base_minutes, 23070u);
    EXPECT_EQ(peek(kMirror0, 4096), peek(kGroup0, 4096));
}

TEST_F(ClockRecord, AFullGroupClosesWith2880MinutesAndTheCountSurvivesARestart)
{
    minutes(30);
    ASSERT_EQ(g_clock_record.steps, 15u);
    minutes(2 * (1440 - 15));
    EXPECT_EQ(g_clock_record.group, 0);
    EXPECT_EQ(peek(kGroup0 + 48, 360), std::vector<uint8_t>(360, 0x55));
    minutes(2);   // step 1441 closes the group
    EXPECT_EQ(peek(kGroup0 + 408, 1)[0], 0xFD);
    EXPECT_EQ(g_clock_record.group, 1);
    EXPECT_EQ(g_clock_record.base_minutes, 2880u);
    EXPECT_EQ(g_clock_record.steps, 0u);
    EXPECT_EQ(peek(kSeq0 + 8, 4), std::vector<uint8_t>({0x40, 0x0B, 0x00, 0x00}));
    EXPECT_EQ(peek(kGroup0 + 512, 16),
              std::vector<uint8_t>({0xAA, 0x24, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00, 0x40, 0x0B, 0, 0, 0xFF, 1, 0, 0}));
    minutes(6);
    EXPECT_EQ(peek(kGroup0 + 512 + 48, 2), std::vector<uint8_t>({0xD5, 0xFF}));

    restart();
    ASSERT_EQ(g_clock_record.enabled, 1);
    EXPECT_EQ(g_clock_record.group, 2);
    EXPECT_EQ(g_clock_record.base_minutes, 2886u);
    EXPECT_EQ(peek(kSeq0 + 16 + 8, 4), std::vector<uint8_t>({6, 0, 0, 0}));
    EXPECT_EQ(g_clock_record.seq_pos, 2u);
}

TEST_F(ClockRecord, TheClockSetMarkGoesToTheGroupAndItsSequenceEntry)
{
    // Before the group opens: at byte 44 of the group to come, and into the
    // sequence entry when it opens.
    link_services::clock_set_record_timing();
    EXPECT_EQ(g_clock_record.clock_set, 0x5A);
    EXPECT_EQ(peek(kGroup0 + 44, 1)[0], 0x5A);
    minutes(30);
    EXPECT_EQ(peek(kSeq0 + 12, 1)[0], 0x5A);
    EXPECT_EQ(peek(kMirror0 + 44, 1)[0], 0x5A);

    // After: the entry and the group of a later power-on.
    storeGroup(0, 0, 0, {0x55});
    restart();
    minutes(30);
    EXPECT_EQ(peek(kGroup0 + 512 + 44, 1)[0], 0xFF);
    EXPECT_EQ(peek(kSeq0 + 16 + 12, 1)[0], 0xFF);
    const unsigned char cmd[15] = {0, 0, 0, 0, 0, 0, 0, 0, 0x24, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00};
    mgr().Checktime(cmd);
    EXPECT_EQ(peek(kGroup0 + 512 + 44, 1)[0], 0x5A);
    EXPECT_EQ(peek(kSeq0 + 16 + 12, 1)[0], 0x5A);
}

TEST_F(ClockRecord, TheSequenceRingAndADamagedPosition)
{
    // Crossing into a new sector erases it first.
    flash(2).poke(kSeq0 + 0x1000, {0x12, 0x34});
    EXPECT_EQ(rec().get_new_seq(7, 255), 256u);
    EXPECT_EQ(peek(kSeq0 + 255 * 16 + 8, 4), std::vector<uint8_t>({7, 0, 0, 0}));
    EXPECT_EQ(peek(kSeq0 + 0x1000, 2), std::vector<uint8_t>({0xFF, 0xFF}));
    EXPECT_EQ(g_clock_record.seq_sector, 1);
    EXPECT_EQ(g_clock_record.seq_addr, clock_record_run::kSequence + 0x1000);
    // The last entry wraps to 0 with the wrap count raised.
    flash(2).poke(kSeq0, {0x12});
    EXPECT_EQ(rec().get_new_seq(9, (2u << 20) | 15616u), (3u << 20));
    EXPECT_EQ(peek(kSeq0 + 61 * 0x1000 + 8, 4), std::vector<uint8_t>({9, 0, 0, 0}));
    EXPECT_EQ(peek(kSeq0, 1)[0], 0xFF);

    // A stored position outside the ring restarts it; nothing is written
    // outside the record's area.
    fpga_manage::destroyForTest();
    storeGroup(0, 100, 0xFFFFFF, {0xFD});
    flash(2).poke(kSeq0, {0x12});
    restart();
    EXPECT_EQ(g_clock_record.seq_pos, 0u);
    EXPECT_EQ(g_clock_record.seq_addr, clock_record_run::kSequence);
    EXPECT_EQ(g_clock_record.base_minutes, 102u);
    EXPECT_EQ(peek(kSeq0, 1)[0], 0xFF) << "the ring did not start again";
}

TEST_F(ClockRecord, AFailingFlashIsReportedNotTakenAsDone)
{
    minutes(30);
    ASSERT_EQ(g_clock_record.steps, 15u);
    flash(2).setStuckBusy(true);
    BoardClockSpeed fast(200);   // the flash's busy bounds pass quickly
    minutes(2);
    EXPECT_EQ(g_clock_record.steps, 15u) << "a failed progress write was counted";
    flash(2).setStuckBusy(false);
    minutes(2);
    EXPECT_EQ(g_clock_record.steps, 16u);
    EXPECT_EQ(peek(kGroup0 + 51, 1)[0], 0x55);

    // A flash that fails at start leaves the record off.
    flash(2).poke(kMagic, {0x00});
    flash(2).setStuckBusy(true);
    rec().clock_record_init();
    EXPECT_EQ(g_clock_record.enabled, 0);
    flash(2).setStuckBusy(false);
    const uint64_t programs = flash(2).counters().programs;
    minutes(4);
    EXPECT_EQ(flash(2).counters().programs, programs) << "a record that is off was written";
}

} // namespace
