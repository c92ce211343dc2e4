// Clock, on/off schedule and power fields of the FPGA thread: the time
// record from the system clock, the PC's clock command through the shell,
// and the daily on/off times across minutes and days.
#include "support/fpga_fixture.h"
#include "support/fake_clock.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "sim/board.h"
#include "sim/shell_model.h"
#include "videochip/c331_manage.h"

#include <cstring>
#include <functional>
#include <thread>

namespace {

class FpgaClock : public FpgaTest {
protected:
    FakeClock clock;
    void setClock(int year, int month, int day, int hour, int minute, int second)
    {
        clock.set(year, month, day, hour, minute, second);
    }
    // The time record and the clock it was read from.
    void at(unsigned char day, unsigned char hour, unsigned char minute)
    {
        mgr().time_real.day = day;
        mgr().time_real.hour = hour;
        mgr().time_real.minute = minute;
        clock.set(mgr().time_real.year, mgr().time_real.month, day, hour, minute, 0);
    }
    // Builds a type 2 page (schedulePage) with the given BCD entries.
    void postSchedule(unsigned char count, const std::vector<uint8_t>& bcd)
    {
        schedulePage[0] = 0xAA;
        schedulePage[1] = 2;
        schedulePage[2] = 0;
        setLe16(schedulePage, 6, 17);
        schedulePage[8] = count;
        std::memset(schedulePage + 9, 0, 16);
        std::copy(bcd.begin(), bcd.end(), schedulePage + 9);
    }
    unsigned char schedulePage[fpga_manage::kCmdPageSize] = {};
    unsigned blackoutWord() { return le16(ZdrRamPara::p_zdrrampara_config->ram_para, para::kBlackout); }
    bool blackedOut() { return (model(0).storedReg(0) & 0x04) != 0 && (model(1).storedReg(0) & 0x04) != 0; }
};

TEST_F(FpgaClock, TheTimeRecordIsReadAtMostEvery26Ticks)
{
    setClock(2024, 3, 5, 9, 7, 1);
    fpga_manage::TimeRealType t;
    fpga_manage::IT8563WE_Get(&t);
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.day, 5);
    EXPECT_EQ(t.hour, 9);
    EXPECT_EQ(t.minute, 7);
    EXPECT_EQ(t.second, 1);

    bringUp();
    setClock(2025, 12, 31, 23, 59, 58);
    mgr().Record_Time_Deal();   // (re)starts the 26-tick wait from here
    g_change.time_read_time = G_timeTicks;
    for (int k = 0; k < 25; ++k)
        tick();
    EXPECT_NE(mgr().time_real.year, 2025);
    tick();
    EXPECT_EQ(mgr().time_real.year, 2025);
    EXPECT_EQ(mgr().time_real.second, 58);
    setClock(2026, 1, 1, 0, 0, 0);
    tick();
    EXPECT_EQ(mgr().time_real.year, 2025) << "read again before 26 ticks";
}

TEST_F(FpgaClock, TheClockCommandSetsTheClockThroughTheShellOnlyForAValidDate)
{
    auto& shell = sim::Board::instance().shell();
    shell.clearLog();
    unsigned char page[fpga_manage::kCmdPageSize] = {};
    const unsigned char cmd[] = {0x24, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00};
    std::memcpy(page + 8, cmd, sizeof(cmd));
    mgr().Checktime(page);
    EXPECT_EQ(shell.commands(), std::vector<std::string>({"date \"2024-3-5 9:7:0\";hwclock -wu"}));
    // Recorded by the board's shell, not refused and not run.
    EXPECT_EQ(shell.entries().back().kind, sim::ShellModel::Kind::Recorded);
    EXPECT_EQ(shell.entries().back().status, 0);

    // Not BCD, or no date: nothing reaches the shell.
    shell.clearLog();
    page[10] = 0x1A;
    mgr().Checktime(page);
    page[10] = 0x13;
    mgr().Checktime(page);
    page[10] = 0x12;
    page[12] = 0x24;
    mgr().Checktime(page);
    EXPECT_TRUE(shell.commands().empty());
}

TEST_F(FpgaClock, OnOffTimesActOncePerDay)
{
    bringUp();
    // Entry 0: on 07:30, off 22:59; entry 1 is no time (hour 0x24).
    postSchedule(2, {0x07, 0x30, 0x22, 0x59, 0x24, 0x00, 0x01, 0x00});
    mgr().OnOff_time(schedulePage);
    ASSERT_EQ(mgr().onoff_count, 2);
    EXPECT_EQ(mgr().on_hour[0], 7);
    EXPECT_EQ(mgr().off_minute[0], 59);
    EXPECT_EQ(mgr().on_pending[1], 0) << "an entry outside the day was armed";
    EXPECT_EQ(mgr().off_pending[1], 0);

    at(5, 22, 58);
    mgr().dealwith_onoff();
    EXPECT_FALSE(blackedOut());
    at(5, 22, 59);
    mgr().dealwith_onoff();
    EXPECT_TRUE(blackedOut());
    EXPECT_EQ(mgr().screen_off_state, 1);
    EXPECT_EQ(mgr().power_pending_start, 1);
    // Switched on by hand: the off time does not act again that day.
    mgr().SCREEN_fpgactrl_status(1);
    mgr().dealwith_onoff();
    EXPECT_FALSE(blackedOut());
    // Midnight: a new day re-arms the entries; 07:30 switches on, 22:59 off.
    mgr().SCREEN_fpgactrl_status(0);
    at(6, 0, 0);
    mgr().dealwith_onoff();
    EXPECT_EQ(mgr().off_pending[0], 1);
    EXPECT_EQ(mgr().on_pending[1], 0);
    // The PC blacked the screen out before the on time: the on time takes
    // the black-out back.
    setLe16(ParaWriteLock().block(), para::kBlackout, 1);
    at(6, 7, 30);
    mgr().dealwith_onoff();
    EXPECT_FALSE(blackedOut());
    EXPECT_EQ(blackoutWord(), 0u);
    EXPECT_EQ(mgr().screen_off_state, 0);
    at(6, 22, 59);
    mgr().dealwith_onoff();
    EXPECT_TRUE(blackedOut());
    // Again with the block busy in another thread at the on time: the
    // screen lights, the word is taken back on the next pass, unless the PC
    // wrote the word while the take-back waited: item 5 is a later act
    // (dark, word 1); a RAM write waits for its flag (lit, word 1).
    const struct {
        const char* meanwhile;
        std::function<void()> write;
        bool dark;
        unsigned word;
    } takeBacks[] = {
        {"nothing", nullptr, false, 0},
        {"item 5 = 1", [] { ParaWriteLock().blackout_command(1); }, true, 1},
        {"a RAM write of 2116 = 1",
         [] {
             unsigned char one[2] = {1, 0};
             ZdrRamPara::p_zdrrampara_config->ZdrRamParaDeal(one, 2, para::kBlackout);
         },
         false, 1},
    };
    unsigned char day = 7;
    for (const auto& row : takeBacks) {
        SCOPED_TRACE(row.meanwhile);
        ParaWriteLock().blackout_command(1);
        at(day, 7, 30);
        C331ParaLock::acquire();
        std::thread([this] { mgr().dealwith_onoff(); }).join();
        EXPECT_EQ((model(0).storedReg(0) | model(1).storedReg(0)) & 0x04, 0);
        if (row.write)
            row.write();
        C331ParaLock::release();
        EXPECT_EQ(blackoutWord(), 1u);
        mgr().schedule_deal();
        mgr().show_screen_record();
        EXPECT_EQ(blackoutWord(), row.word);
        EXPECT_EQ(blackedOut(), row.dark);
        at(++day, 0, 0);
        mgr().dealwith_onoff();
    }

    // Equal on and off times: on, then off in the same pass.
    postSchedule(7, {0x12, 0x00, 0x12, 0x00});
    mgr().OnOff_time(schedulePage);
    EXPECT_EQ(mgr().onoff_count, 4) << "a count above 4 counts as 4";
    mgr().SCREEN_fpgactrl_status(1);
    at(day, 12, 0);
    mgr().dealwith_onoff();
    EXPECT_TRUE(blackedOut());
    EXPECT_EQ(mgr().on_pending[0], 0);
}

TEST_F(FpgaClock, TheScheduleRunsFromTheIdleBranchAndLoadsFromItsRecord)
{
    // A stored schedule: off at 10:15.
    flash(2).poke(fpga_manage::kOnOffRecord, {0xAA, 2, 0xAA, 0, 0, 0, 5, 0, 1, 0x08, 0x00, 0x10, 0x15});
    setClock(2024, 3, 5, 10, 14, 50);
    bringUp();
    ASSERT_EQ(mgr().MCU_REG_func[0][66], 1);
    EXPECT_FALSE(blackedOut());
    setClock(2024, 3, 5, 10, 15, 0);
    EXPECT_GT(runUntil([this] { return blackedOut(); }, 60), 0);

    // A damaged record (kind byte) leaves the schedule as it was.
    flash(2).poke(fpga_manage::kOnOffRecord, {0xAA, 3});
    mgr().onoff_count = 0;
    mgr().MCU_REG_func[0][66] = 0;
    mgr().record_onoff_time(2);
    EXPECT_EQ(mgr().onoff_count, 0);
    EXPECT_EQ(mgr().MCU_REG_func[0][66], 0);
}

} // namespace

namespace {
std::time_t fixedNoon() { return 1772712000; }   // 2026-03-05 12:00 UTC
std::atomic<std::time_t (*)()> noonClock{fixedNoon};
} // namespace

// The screen's unit decides every act itself, the PC's register 0 among
// them: each row an act after the one before, and what each FPGA and the
// word are then to show.
TEST(ScreenActsRule, EachActDecidesAsTheRuleSays)
{
    ScreenActs acts(noonClock);
    using K = ScreenActs::Kind;
    const long long noon = ScreenActs::local_seconds(fixedNoon());
    ScreenActs::Act onTime;
    onTime.kind = K::OnTime;
    onTime.wall = noon - 60;   // its minute began before the acts below
    uint64_t look = 0;
    const struct {
        const char* act;
        std::function<void()> make;
        bool dark0, dark1, word;
    } rows[] = {
        {"item 5 = 1", [&] { acts.word_written(true); }, true, true, true},
        {"register 0 lit on FPGA 1", [&] { acts.register0_written(1, false); }, true, false, true},
        {"a RAM write of 1 at its flag", [&] { acts.word_applied(true); }, true, false, true},
        {"a RAM write of 0 at its flag", [&] { acts.word_applied(false); }, false, false, false},
        {"register 0 dark on FPGA 0", [&] { acts.register0_written(0, true); }, true, false, false},
        {"a RAM write of 0 at its flag again", [&] { acts.word_applied(false); }, true, false, false},
        {"a RAM write of 1 at its flag", [&] { look = acts.recorded(); acts.word_applied(true); }, true, true, true},
        {"item 5 = 0", [&] { acts.word_written(false); }, false, false, false},
        {"a RAM write of 0, then an on time of a minute before reached late",
         [&] {
             look = acts.recorded();
             acts.word_applied(false);
             onTime.dark = false;
             acts.record(onTime, ScreenActs::kScreen | ScreenActs::kWord, look);
         },
         false, false, false},
        {"item 5 = 1, a RAM write of 1, then an on time of a minute before reached late",
         [&] {
             acts.word_written(true);
             look = acts.recorded();
             acts.word_applied(true);
             acts.record(onTime, ScreenActs::kScreen | ScreenActs::kWord, look);
         },
         true, true, true},
    };
    for (const auto& row : rows) {
        row.make();
        EXPECT_EQ(acts.of(0).dark, row.dark0) << row.act << ": FPGA 0";
        EXPECT_EQ(acts.of(1).dark, row.dark1) << row.act << ": FPGA 1";
        EXPECT_EQ(acts.word_last().dark, row.word) << row.act << ": the last act on the word";
    }
}
