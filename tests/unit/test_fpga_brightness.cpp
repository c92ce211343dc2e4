// Screen brightness: the value rules, the writes to both FPGAs and the
// stored record, the half-hour table across its slot edges, the sensor
// frame and filter, and the records read back from the flash.
#include "support/board_clock.h"
#include "support/fpga_fixture.h"
#include "support/fake_clock.h"

#include "core/brightness_acts.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "videochip/c331_manage.h"

#include <atomic>
#include <cstring>
#include <thread>

namespace {

class FpgaBrightness : public FpgaTest {
protected:
    FakeClock clock;
    void linkPorts()
    {
        mgr().MCU_REG_func[0][128] = 0x01;
        mgr().MCU_REG_func[1][144] = 0x80;
    }
    void setPercent(unsigned percent)
    {
        setLe16(ParaWriteLock().block(), para::kBrightness, static_cast<uint16_t>(percent));
    }
    unsigned percent() { return le16(ZdrRamPara::p_zdrrampara_config->ram_para, para::kBrightness); }
    // A stored brightness record: mode, then the 48 levels (or the level).
    void storeRecord(unsigned char mode, const std::vector<uint8_t>& levels, unsigned char kind = 3,
                     unsigned short length = 49)
    {
        std::vector<uint8_t> r(57, 0);
        r[0] = 0xAA;
        r[1] = kind;
        r[2] = 0xAA;
        setLe16(r.data(), 6, length);
        r[8] = mode;
        std::copy(levels.begin(), levels.end(), r.begin() + 9);
        flash(2).poke(fpga_manage::kBrightRecord, r);
    }
    // What a restart's first bring-up does: the stored record read.
    void restartRead()
    {
        BrightnessActs::pInstance()->read_as_at_start();
        mgr().record_bright_change();
    }
    void at(unsigned char hour, unsigned char minute)
    {
        mgr().time_real.hour = hour;
        mgr().time_real.minute = minute;
    }
};

TEST(FpgaBrightnessValues, LevelAndPercentRules)
{
    EXPECT_EQ(fpga_manage::bri_percent_to_value(100, 0), 255);
    EXPECT_EQ(fpga_manage::bri_percent_to_value(1, 0), 15);
    EXPECT_EQ(fpga_manage::bri_percent_to_value(1, 16), 2);
    EXPECT_EQ(fpga_manage::bri_percent_to_value(0, 0), 15);
    EXPECT_EQ(fpga_manage::bri_percent_to_value(0, 17), 0);
    EXPECT_EQ(fpga_manage::bri_percent_to_value(50, 16), 127);
    EXPECT_EQ(fpga_manage::bri_level_to_value(16, 0), 255);
    EXPECT_EQ(fpga_manage::bri_level_to_value(1, 0), 15);
    EXPECT_EQ(fpga_manage::bri_level_to_value(200, 16), 200);
    EXPECT_EQ(fpga_manage::bri_value_to_percent(255), 100u);
    EXPECT_EQ(fpga_manage::bri_value_to_percent(15), 5u);
}

TEST_F(FpgaBrightness, APostedPercentReachesBothFpgasAndTheStoredRecord)
{
    bringUp();
    linkPorts();
    setPercent(40);   // 40 x 255 / 100 = 102
    const uint64_t latches = model(1).counters().brightnessLatches;
    ASSERT_EQ(mgr().Brightness_hand_dealwith(fpga_manage::BriSource::kPercentAct), 1);
    EXPECT_EQ(model(0).storedReg(6), 102);
    EXPECT_EQ(model(1).storedReg(6), 102);
    EXPECT_EQ(mgr().MCU_REG_func[0][64], 102);
    EXPECT_EQ(mgr().MCU_REG_func[1][64], 102);
    EXPECT_EQ(model(1).counters().brightnessLatches, latches + 1);
    EXPECT_EQ(mgr().MCU_RAM_PARA_func[0][256], 1);
    std::vector<uint8_t> expect = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16};
    expect.resize(57, 102);
    expect.push_back(0xFF);   // nothing past the record
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 58), expect);

    // The task's send takes the level from the image and shows it as a
    // percent in the block; nothing is stored.
    flash(2).poke(fpga_manage::kBrightRecord, {0x11});
    unsigned char manual[57] = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 0, 4};   // mode 0, level 4: 4 x 16 - 1 = 63
    mgr().Brightness_init(manual);
    ASSERT_EQ(mgr().Brightness_hand_dealwith(fpga_manage::BriSource::kLevelInForce), 1);
    EXPECT_EQ(model(0).storedReg(6), 63);
    EXPECT_EQ(model(1).storedReg(6), 63);
    EXPECT_EQ(percent(), 24u);
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 1)[0], 0x11);
}

// A percent from the PC or the pages is a register value (percent x 255 /
// 100): the periodic re-sends of a 4-bit mode send that value, not the
// value read as a 4-bit level, and the percent stays in the block, until
// the mode itself sets a level again.
TEST_F(FpgaBrightness, APostedPercentIsTakenAsSetWhileTheBlockIsBusyInAnotherThread)
{
    // The chip thread holds its manage mutex through a change pass: the
    // percent is the act's, recorded whole as it was written, so it is
    // taken without waiting for the pass; a percent the system wrote back
    // since (a level only shown) is not the act's.
    bringUp();
    linkPorts();
    setPercent(20);
    ASSERT_EQ(mgr().Brightness_hand_dealwith(fpga_manage::BriSource::kPercentAct), 1);
    ASSERT_EQ(model(0).storedReg(6), 51);
    setPercent(80);   // 80 x 255 / 100 = 204
    {
        C331ParaLock lock;
        ASSERT_TRUE(c331_manage::write_back_word(SystemWord::kBrightness, 12, true));
    }
    std::atomic<int> phase{0};
    std::thread chip([&] {
        pthread_mutex_lock(&c331_manage::c331_mutex);
        phase = 1;
        while (phase.load() != 2)
            std::this_thread::yield();
        pthread_mutex_unlock(&c331_manage::c331_mutex);
    });
    while (phase.load() != 1)
        std::this_thread::yield();
    EXPECT_EQ(mgr().set_fpga_bri_val(), 1);
    EXPECT_EQ(model(0).storedReg(6), 204);
    EXPECT_EQ(model(1).storedReg(6), 204);
    phase = 2;
    chip.join();
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord + 9, 1)[0], 204);
}

TEST_F(FpgaBrightness, APercentStaysAsSetOverTheResendsOfA4BitMode)
{
    // Port 1 linked, with a multi-function card (its sensor is read in
    // automatic mode only).
    sim::ControlChannel& c = sim::Board::instance().control();
    ASSERT_EQ(c.execute("cards 1 1 mf"), "ok\n");
    bringUp();
    CommandPage::Bytes pageBytes = mgr().command_page.take();
    unsigned char* page = pageBytes.data();
    uint64_t latches = 0;
    // Runs the idle passes until the task has sent the brightness once
    // more (at most about 10 s of ticks).
    auto nextSend = [&] {
        return runUntil([&] { return model(0).counters().brightnessLatches > latches; }, 1200) > 0;
    };
    // A page of type 3 stored from the PC: mode, level.
    auto storePage = [&](unsigned char mode, unsigned char level) {
        std::memset(page, 0, 57);
        page[0] = 0xAA;
        page[1] = 3;
        page[2] = 0xAA;
        page[6] = 49;
        page[8] = mode;
        page[9] = level;
        runCommandPage(page);
        tick();   // the stored record is loaded back
    };
    // The brightness percent as the chip posts it (block word 2176).
    auto postPercent = [&](unsigned percent) {
        setPercent(percent);
        tick();
    };

    // Manual, 4-bit levels: level 4 shows 0x3F.
    storePage(0, 4);
    ASSERT_EQ(mgr().bri_mode, 0);
    ASSERT_EQ(mgr().bri_task_enabled, 1);
    EXPECT_EQ(model(0).storedReg(6), 0x3F);
    // Brightness 50 %: 50 x 255 / 100 = 127 = 0x7F, on every send.
    postPercent(50);
    EXPECT_EQ(model(0).storedReg(6), 0x7F);
    EXPECT_EQ(model(1).storedReg(6), 0x7F);
    for (int k = 0; k < 4; ++k) {
        latches = model(0).counters().brightnessLatches;
        ASSERT_TRUE(nextSend()) << "re-send " << k;
        EXPECT_EQ(model(0).storedReg(6), 0x7F) << "re-send " << k;
        EXPECT_EQ(model(1).storedReg(6), 0x7F) << "re-send " << k;
        EXPECT_EQ(percent(), 50u) << "re-send " << k;
    }
    // The record the percent stored keeps it too: after a reload the
    // screen shows the same value.
    restartRead();
    latches = model(0).counters().brightnessLatches;
    ASSERT_TRUE(nextSend());
    EXPECT_EQ(model(0).storedReg(6), 0x7F);
    EXPECT_EQ(percent(), 50u);

    // Automatic, with a sensor that gives no reading (its valid mark,
    // byte 49, is not 0xFF) and then with no multi-function card at all:
    // 40 % is 102 = 0x66 on every pass.
    ASSERT_GT(runUntil([this] { return mgr().MCU_RAM_PARA_func[0][fpga_manage::kCardStatusOffset[0]] != 0; }, 2000), 0);
    storePage(2, 0);
    ASSERT_EQ(mgr().bri_mode, 2);
    // The switch itself sets no level: until the sensor gives one, the
    // 8-bit value stays as it was set (0x7F, not 0x7F x 16 - 1 = 0xEF), and
    // so does the percent; after a reload of the record the same.
    for (int k = 0; k < 3; ++k) {
        if (k == 2)
            restartRead();
        latches = model(0).counters().brightnessLatches;
        ASSERT_TRUE(nextSend()) << "send " << k;
        EXPECT_EQ(model(0).storedReg(6), 0x7F) << "send " << k;
        EXPECT_EQ(model(1).storedReg(6), 0x7F) << "send " << k;
        EXPECT_EQ(percent(), 50u) << "send " << k;
    }
    // A restart in automatic mode: nothing has set a level since power-up
    // (the register image and the scale as a new program has them); until
    // the sensor reads, the screen shows the stored 50 % (0x7F), and the
    // percent stays (not level 0 taken as 0xFF and 100 %).
    mgr().bri_show(0, -1, 0);
    mgr().bri_mode = 0;
    restartRead();
    for (int k = 0; k < 2; ++k) {
        latches = model(0).counters().brightnessLatches;
        ASSERT_TRUE(nextSend()) << "send after the restart " << k;
        EXPECT_EQ(model(0).storedReg(6), 0x7F) << "send after the restart " << k;
        EXPECT_EQ(model(1).storedReg(6), 0x7F) << "send after the restart " << k;
        EXPECT_EQ(percent(), 50u) << "send after the restart " << k;
    }
    postPercent(40);
    EXPECT_EQ(model(0).storedReg(6), 0x66);
    for (int k = 0; k < 8; ++k) {
        if (k == 4) {
            ASSERT_EQ(c.execute("cards 1 1"), "ok\n");
            ASSERT_GT(runUntil([this] { return mgr().MCU_RAM_PARA_func[0][fpga_manage::kCardStatusOffset[0]] == 0; },
                               2000),
                      0);
        }
        latches = model(0).counters().brightnessLatches;
        ASSERT_TRUE(nextSend()) << "pass " << k;
        EXPECT_EQ(mgr().sensor().addr(), k < 4 ? 0x4000 : 0) << "pass " << k;
        EXPECT_EQ(model(0).storedReg(6), 0x66) << "pass " << k;
        EXPECT_EQ(model(1).storedReg(6), 0x66) << "pass " << k;
        EXPECT_EQ(percent(), 40u) << "pass " << k;
    }
    EXPECT_EQ(mgr().sensor().failures(), 0u);

    // A level the PC shows without storing it writes its percent back; a
    // restart in automatic mode shows that level again in the automatic
    // mode's own 4-bit steps, not the percent read as a register value.
    // 8-bit 0x7F: 49 % (49 x 255 / 100 would be 0x7C); level 8 = 0x7F.
    // 4-bit level 2: 31 = 0x1F, 12 % (12 x 255 / 100 would be 0x1E).
    const struct {
        unsigned char mode, level, value;
        unsigned percent;
    } shown[] = {{16, 0x7F, 0x7F, 49}, {0, 2, 0x1F, 12}};
    storePage(2, 0);   // the percent stored a manual record: automatic again
    ASSERT_EQ(mgr().bri_mode, 2);
    for (const auto& c : shown) {
        std::memset(page, 0, 57);
        page[0] = 0xAA;
        page[1] = 3;
        page[6] = 49;
        page[8] = c.mode;
        page[9] = c.level;
        runCommandPage(page);
        ASSERT_EQ(model(0).storedReg(6), c.value) << int(c.level);
        ASSERT_EQ(percent(), c.percent) << int(c.level);
        ASSERT_EQ(mgr().bri_mode, 2);
        mgr().bri_show(0, -1, 0);
        mgr().bri_mode = 0;
        restartRead();
        for (int k = 0; k < 2; ++k) {
            latches = model(0).counters().brightnessLatches;
            ASSERT_TRUE(nextSend()) << int(c.level) << " send after the restart " << k;
            EXPECT_EQ(model(0).storedReg(6), c.value) << int(c.level) << " send after the restart " << k;
            EXPECT_EQ(model(1).storedReg(6), c.value) << int(c.level) << " send after the restart " << k;
            EXPECT_EQ(percent(), c.percent) << int(c.level) << " send after the restart " << k;
        }
    }
}

// A percent set while no port is linked is not sent, but it is the level
// the record stores and the one shown as soon as a port links.
TEST_F(FpgaBrightness, WithoutLinkedPortsThePercentIsStoredAndShownOnceAPortLinks)
{
    bringUp();
    mgr().MCU_REG_func[0][128] = mgr().MCU_REG_func[0][144] = 0;
    mgr().MCU_REG_func[1][128] = mgr().MCU_REG_func[1][144] = 0;
    model(0).setReg(6, 0x33);
    model(1).setReg(6, 0x33);
    // 70 % shown before (178); 30 % set: 30 x 255 / 100 = 76 = 0x4C.
    mgr().bri_show(178, mgr().bri_scale_mode, 0);
    setPercent(30);
    EXPECT_EQ(mgr().Brightness_hand_dealwith(fpga_manage::BriSource::kPercentAct), 1);
    EXPECT_EQ(model(0).storedReg(6), 0x33);
    EXPECT_EQ(model(1).storedReg(6), 0x33);
    std::vector<uint8_t> expect = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
    expect.resize(57, 0x4C);
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), expect);
    // A port of FPGA 1 links: both FPGAs show it within a few idle passes
    // (the links are read every 80 ticks).
    model(1).setPortLink(3, true);
    EXPECT_GT(runUntil([this] { return model(0).storedReg(6) == 0x4C && model(1).storedReg(6) == 0x4C; }, 400), 0)
        << int(model(0).storedReg(6)) << " " << int(model(1).storedReg(6));
    EXPECT_EQ(percent(), 30u);
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), expect);
    model(1).setPortLink(3, false);
    ASSERT_GT(runUntil([this] { return mgr().MCU_REG_func[1][128] == 0; }, 400), 0);

    // A flash that stays busy: the change is not reported as done.
    flash(2).setStuckBusy(true);
    BoardClockSpeed fast(200);   // the flash's busy bounds pass quickly
    EXPECT_EQ(mgr().Brightness_hand_dealwith(fpga_manage::BriSource::kPercentAct), 0);
    flash(2).setStuckBusy(false);
    EXPECT_EQ(mgr().Brightness_hand_dealwith(fpga_manage::BriSource::kPercentAct), 1);
}

TEST_F(FpgaBrightness, ManualSendsStopAfterFiveGoodOnes)
{
    bringUp();
    linkPorts();
    storeRecord(16, {200});
    mgr().record_bright_change();
    ASSERT_EQ(mgr().bri_task_enabled, 1);
    EXPECT_EQ(mgr().MCU_REG_func[0][64], 200);
    const uint64_t before = model(0).counters().brightnessLatches;
    for (int k = 0; k < 8; ++k)
        mgr().Brightness_hand_change();
    EXPECT_EQ(model(0).counters().brightnessLatches - before, 5u);
    EXPECT_EQ(model(0).storedReg(6), 200);
    mgr().bri_change_mark = 1;
    mgr().Brightness_hand_change();
    EXPECT_EQ(model(0).counters().brightnessLatches - before, 6u);
}

// A percent change the pass could not take yet (the block was busy) is not
// written over by the task's re-send of the level it replaces.
TEST_F(FpgaBrightness, APercentStillToBeTakenIsNotWrittenOverByTheResend)
{
    bringUp();
    linkPorts();
    storeRecord(16, {200});   // 200 is 78 %
    mgr().record_bright_change();
    setPercent(30);
    g_change.bri_time = G_timeTicks - 1001;   // the task is due
    mgr().Extension_function();
    EXPECT_EQ(percent(), 30u);
    tick();
    EXPECT_EQ(model(0).storedReg(6), 76);
    EXPECT_EQ(model(1).storedReg(6), 76);
}

// A manual level that the PC does not store is shown in the page's own
// scale; the stored mode stays (a table resumes at its next slot).
TEST_F(FpgaBrightness, AManualLevelFromThePcIsShownInThePagesScaleAndKeepsTheStoredMode)
{
    bringUp();
    linkPorts();
    // The stored mode: a table of level 4 in every slot, in slot 20 since
    // 10:05 (shown, 4 x 16 - 1).
    storeRecord(1, std::vector<uint8_t>(48, 4));
    mgr().record_bright_change();
    at(10, 5);
    mgr().Brightness_time_change();
    ASSERT_EQ(model(0).storedReg(6), 63);
    const std::vector<uint8_t> stored = flash(2).peek(fpga_manage::kBrightRecord, 57);
    CommandPage::Bytes pageBytes = mgr().command_page.take();
    unsigned char* page = pageBytes.data();
    page[0] = 0xAA;
    page[1] = 3;
    page[2] = 0;
    setLe16(page, 6, 49);
    page[8] = 16;
    page[9] = 200;
    runCommandPage(page);
    EXPECT_EQ(model(0).storedReg(6), 200);
    EXPECT_EQ(model(1).storedReg(6), 200);
    EXPECT_EQ(mgr().bri_mode, 1);
    // The table's re-send within the same slot shows the preview in the
    // preview's scale (200, not 200 x 16 - 1).
    ASSERT_EQ(mgr().table().last_slot, 20);
    mgr().Brightness_time_change();
    EXPECT_EQ(model(0).storedReg(6), 200);
    page[8] = 0;
    page[9] = 2;
    runCommandPage(page);
    EXPECT_EQ(model(0).storedReg(6), 31);
    EXPECT_EQ(mgr().bri_mode, 1);
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), stored) << "nothing stored";
    // The next slot is the table's again, in the table's scale: 4 x 16 - 1.
    at(10, 30);
    mgr().Brightness_time_change();
    EXPECT_EQ(model(0).storedReg(6), 63);
}

TEST_F(FpgaBrightness, TheTableFollowsTheHalfHourAcrossItsEdges)
{
    bringUp();
    linkPorts();
    std::vector<uint8_t> levels(48);
    for (int s = 0; s < 48; ++s)
        levels[s] = static_cast<uint8_t>(s % 16 + 1);
    storeRecord(1, levels);
    mgr().record_bright_change();
    ASSERT_EQ(mgr().bri_task_enabled, 1);

    const struct {
        unsigned char h, m;
        unsigned slot;
    } cases[] = {{0, 0, 0}, {0, 29, 0}, {0, 30, 1}, {12, 0, 24}, {23, 29, 46}, {23, 30, 47}, {23, 59, 47}};
    for (const auto& c : cases) {
        at(c.h, c.m);
        mgr().Brightness_time_change();
        EXPECT_EQ(mgr().table().last_slot, c.slot) << int(c.h) << ":" << int(c.m);
        EXPECT_EQ(model(0).storedReg(6), uint8_t(levels[c.slot] * 16 - 1)) << int(c.h) << ":" << int(c.m);
        EXPECT_EQ(model(1).storedReg(6), uint8_t(levels[c.slot] * 16 - 1));
    }
    // Midnight: back to slot 0.
    at(0, 0);
    mgr().Brightness_time_change();
    EXPECT_EQ(mgr().table().last_slot, 0);
    EXPECT_EQ(model(0).storedReg(6), 15);
    // Within one slot it sends twice, then stops.
    const uint64_t before = model(0).counters().brightnessLatches;
    for (int k = 0; k < 5; ++k)
        mgr().Brightness_time_change();
    EXPECT_EQ(model(0).counters().brightnessLatches - before, 1u);
    // A clock reading outside the day keeps to the table.
    at(25, 10);
    mgr().Brightness_time_change();
    EXPECT_EQ(mgr().table().last_slot, 47);

    // The task runs through the idle branch once 1000 ticks have passed.
    clock.set(2024, 3, 5, 0, 45);
    // The table stored again: its slot is applied anew.
    storeRecord(1, levels);
    mgr().record_bright_change();
    ASSERT_EQ(mgr().table().last_slot, 255);
    g_change.bri_time = G_timeTicks;
    for (int k = 0; k < 999; ++k)
        tick();
    EXPECT_EQ(mgr().table().last_slot, 255);
    EXPECT_GT(runUntil([this] { return mgr().table().last_slot == 1; }, 5), 0);
}

TEST_F(FpgaBrightness, StoredRecordsAreCheckedBeforeUse)
{
    bringUp();
    // Missing (erased after the start, as the PC's clear does): task off,
    // level 16.
    flash(2).poke(fpga_manage::kBrightRecord, std::vector<uint8_t>(57, 0xFF));
    mgr().bri_task_enabled = 1;
    mgr().record_bright_change();
    EXPECT_EQ(mgr().bri_task_enabled, 0);
    EXPECT_EQ(mgr().bri_level, 16u);
    // Another kind of record, or a table shorter than its 48 levels.
    storeRecord(1, std::vector<uint8_t>(48, 3), 2);
    mgr().bri_task_enabled = 1;
    mgr().record_bright_change();
    EXPECT_EQ(mgr().bri_task_enabled, 0);
    storeRecord(1, std::vector<uint8_t>(48, 3), 3, 20);
    mgr().record_bright_change();
    EXPECT_EQ(mgr().bri_task_enabled, 0);
    // A mode the task does not know stays off.
    storeRecord(5, {});
    mgr().record_bright_change();
    EXPECT_EQ(mgr().bri_task_enabled, 0);
    storeRecord(2, {});
    mgr().record_bright_change();
    EXPECT_EQ(mgr().bri_task_enabled, 1);
    EXPECT_EQ(mgr().bri_mode, 2);
    // A manual record of length 1 has no level; the automatic mode has
    // none: the PC's page of the mode byte alone is taken and stored.
    storeRecord(16, {0x40}, 3, 1);
    mgr().record_bright_change();
    EXPECT_EQ(mgr().bri_task_enabled, 0);
    const unsigned char page[9] = {0xAA, 3, 0xAA, 0, 0, 0, 1, 0, 2};
    writeCommandPage(page, sizeof(page));
    mgr().Dealwith_mcu_ram();
    EXPECT_EQ(mgr().bri_task_enabled, 1);
    EXPECT_EQ(mgr().bri_mode, 2);
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 10), std::vector<uint8_t>({0xAA, 3, 0xAA, 0, 0, 0, 1, 0, 2, 0xFF}));
}

TEST_F(FpgaBrightness, StartUpLoadsTheStoredRecordsAndKeepsTheVersionBytes)
{
    storeRecord(17, std::vector<uint8_t>(48, 0x80));
    std::vector<uint8_t> onoff = {0xAA, 2, 0xAA, 0, 0, 0, 9, 0, 1, 0x07, 0x30, 0x22, 0x00};
    flash(2).poke(fpga_manage::kOnOffRecord, onoff);
    bringUp();
    EXPECT_EQ(mgr().bri_mode, 17);
    EXPECT_EQ(mgr().table().HalfHourValue[47], 0x80);
    EXPECT_EQ(mgr().MCU_REG_func[0][66], 1);
    EXPECT_EQ(mgr().onoff_count, 1);
    EXPECT_EQ(mgr().off_hour[0], 22);
    // The PC's version bytes of the command page stay as they were set.
    EXPECT_EQ(commandPageByte(24), 1);
    EXPECT_EQ(commandPageByte(25), 17);
    EXPECT_EQ(commandPageByte(28), 0xFF);
    EXPECT_EQ(commandPageByte(29), 1);
}

// A record found erased at power-up (a cut between its erase and its
// write) is stored again from the block's percent, as a manual level.
TEST_F(FpgaBrightness, AnErasedRecordIsStoredAgainAtStartFromThePercent)
{
    ASSERT_EQ(sim::Board::instance().control().execute("cards 1 1"), "ok\n");
    setPercent(45);   // 45 x 255 / 100 = 114 = 0x72
    ASSERT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), std::vector<uint8_t>(57, 0xFF));
    bringUp();
    std::vector<uint8_t> expect = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
    expect.resize(57, 0x72);
    expect.push_back(0xFF);
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 58), expect);
    EXPECT_EQ(mgr().bri_mode, 16);
    EXPECT_EQ(mgr().bri_task_enabled, 1);
    EXPECT_GT(runUntil([this] { return model(0).storedReg(6) == 0x72 && model(1).storedReg(6) == 0x72; }, 1500), 0)
        << int(model(0).storedReg(6));
    EXPECT_EQ(percent(), 45u);
    // Once started, a record the PC clears (command page type 3, byte 2 =
    // 0x55) stays erased.
    const unsigned char clear[9] = {0xAA, 3, 0x55, 0, 0, 0, 49, 0, 1};
    writeCommandPage(clear, sizeof(clear));
    mgr().Dealwith_mcu_ram();
    tick();
    EXPECT_EQ(mgr().bri_task_enabled, 0);
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), std::vector<uint8_t>(57, 0xFF));
}

// At power-up the stored record is shown, unless a user's percent was
// being stored when the last run ended (the store's mark: the percent was
// set while the FPGAs were not up, or the program was cut between the
// parameter file and the record) or was set in this run before the record
// was read: then the percent is stored as a manual level and shown. A
// manual level that gives the percent stays as it is. A percent the system
// wrote back for a level only shown (the PC's preview) sets no mark: the
// record stays, and its percent is written back.
TEST_F(FpgaBrightness, AtStartTheRecordIsShownUnlessAPercentWasBeingStored)
{
    ASSERT_EQ(sim::Board::instance().control().execute("cards 1 1"), "ok\n");
    bringUp();
    BrightnessActs* acts = BrightnessActs::pInstance();
    auto record = [](unsigned char mode, unsigned char level) {
        std::vector<uint8_t> r = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, mode};
        r.resize(57, level);
        return r;
    };
    // A new program: the record, the percent the file holds (as the
    // system's own state: no act), and the mark the last run left.
    auto startWith = [&](const std::vector<uint8_t>& stored, unsigned percent, bool marked) {
        flash(2).poke(fpga_manage::kBrightRecord, stored);
        {
            C331ParaLock lock;
            c331_manage::write_back_word(SystemWord::kBrightness, static_cast<uint16_t>(percent), true);
        }
        if (marked) {
            ASSERT_TRUE(acts->mark_percent_storing(static_cast<int>(percent)));
        }
        ASSERT_EQ(acts->percent_being_stored(), marked);
        acts->read_as_at_start();   // as a new program has it
        mgr().bri_show(0, -1, 0);
        mgr().record_bright_change();
    };
    // The PC stores a manual record on the command page (type 3, mode,
    // level) with no port linked, the block's percent given before.
    auto pcStores = [&](const std::vector<uint8_t>& record, unsigned percentBefore) {
        setPercent(percentBefore);
        for (int i = 0; i < 2; ++i)
            mgr().MCU_REG_func[i][128] = mgr().MCU_REG_func[i][144] = 0;
        writeCommandPage(record.data(), static_cast<unsigned>(record.size()));
        mgr().Dealwith_mcu_ram();
        linkPorts();
    };
    const struct {
        const char* what;
        std::vector<uint8_t> stored;
        unsigned percent;
        bool marked;
        std::vector<uint8_t> after;
        unsigned char shown;
        unsigned percentAfter = 0xFFFF;   // the percent when it is not the one set
        bool byPc = false;                // the PC stored the record just before the stop
    } cases[] = {
        // 80 % = 0xCC stored, 25 % set: 25 x 255 / 100 = 63 = 0x3F.
        {"8-bit level of another percent", record(16, 0xCC), 25, true, record(16, 0x3F), 0x3F},
        {"100 % stored, 30 % set", record(16, 0xFF), 30, true, record(16, 0x4C), 0x4C},
        // 0x7F is 49 % (49 % alone would give 0x7C): kept.
        {"8-bit level of the same percent", record(16, 0x7F), 49, true, record(16, 0x7F), 0x7F},
        {"8-bit level the percent gives", record(16, 0x7C), 49, true, record(16, 0x7C), 0x7C},
        // Level 8 of 16 is 8 x 16 - 1 = 127 = 49 %: kept; 60 % is 153 = 0x99.
        {"4-bit level of the same percent", record(0, 8), 49, true, record(0, 8), 0x7F},
        {"4-bit level of another percent", record(0, 8), 60, true, record(16, 0x99), 0x99},
        {"0 % set", record(16, 0x80), 0, true, record(16, 0x00), 0x00},
        {"no percent", record(16, 0x80), 101, true, record(16, 0x80), 0x80},
        // 3 % set in a 4-bit mode is raised to 15: still 3 %.
        {"3 % raised in a 4-bit mode", record(16, 0x0F), 3, true, record(16, 0x0F), 0x0F},
        // A page change over a stored table or the automatic mode, cut
        // before its record: the file's level, as a manual record.
        {"a table, a percent being stored", record(17, 0x20), 25, true, record(16, 0x3F), 0x3F},
        {"the automatic mode, a percent being stored", record(2, 0), 25, true, record(16, 0x3F), 0x3F},
        // The record shown, its percent written back over the one a level
        // only shown left: 255 is 100 %, level 2 of 16 (0x1F) 12 %.
        {"255 stored, 12 % of a level shown", record(16, 0xFF), 12, false, record(16, 0xFF), 0xFF, 100},
        {"level 2 stored, 100 % of a level shown", record(0, 2), 100, false, record(0, 2), 0x1F, 12},
        {"a table, 25 % of a level shown", record(17, 0x20), 25, false, record(17, 0x20), 0x00, 25},
        // Level 8 of 16 (0x7F, 49 %) stored by the PC while 80 % was set.
        {"the PC's level stored with no port linked", record(0, 8), 80, false, record(0, 8), 0x7F, 49, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.byPc) {
            pcStores(c.stored, c.percent);
            // The next start: the record and the percent the file holds.
            startWith(flash(2).peek(fpga_manage::kBrightRecord, 57),
                      le16(ZdrRamPara::p_zdrrampara_config->ram_para_shadow, para::kBrightness), false);
        }
        const uint64_t erases = flash(2).counters().erases;
        if (!c.byPc)
            startWith(c.stored, c.percent, c.marked);
        EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), c.after);
        EXPECT_EQ(flash(2).counters().erases - erases, c.after == c.stored ? 0u : 1u);
        EXPECT_FALSE(acts->start_due());
        EXPECT_EQ(mgr().bri_task_enabled, 1);
        EXPECT_EQ(mgr().bri_mode, c.after[8]);
        EXPECT_FALSE(acts->percent_being_stored()) << "the mark stays";
        if (c.after[8] == 17)
            continue;   // the table shows its slot at its first pass
        ASSERT_EQ(mgr().Brightness_hand_dealwith(fpga_manage::BriSource::kLevelInForce), 1);
        EXPECT_EQ(model(0).storedReg(6), c.shown);
        EXPECT_EQ(model(1).storedReg(6), c.shown);
        // The percent stays; one that is none gives way to the level
        // shown (0x80 = 50 %).
        EXPECT_EQ(percent(), c.percentAfter <= 100 ? c.percentAfter : c.percent <= 100 ? c.percent : 50u);
    }

    // A percent set in this run before the record was read: stored, the
    // block's word then the user's.
    flash(2).poke(fpga_manage::kBrightRecord, record(16, 0xCC));
    setPercent(25);
    acts->read_as_at_start();
    mgr().record_bright_change();
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), record(16, 0x3F));
    EXPECT_FALSE(acts->start_due());
    EXPECT_FALSE(acts->percent_being_stored());

    // The flash does not take the record (busy for ever): the percent is
    // shown all the same, the mark stays, and the next read of the record
    // checks it again.
    flash(2).poke(fpga_manage::kBrightRecord, record(16, 0xCC));
    setPercent(30);
    acts->read_as_at_start();
    flash(2).setStuckBusy(true);
    mgr().record_bright_change();
    flash(2).setStuckBusy(false);
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), record(16, 0xCC));
    EXPECT_EQ(mgr().MCU_REG_func[0][64], 0x4C);
    EXPECT_TRUE(acts->start_due());
    EXPECT_TRUE(acts->percent_being_stored());
    mgr().record_bright_change();
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), record(16, 0x4C));
    EXPECT_FALSE(acts->start_due());
    EXPECT_FALSE(acts->percent_being_stored());

    // Once started, a record read again (the PC stored one) is taken as it
    // is.
    flash(2).poke(fpga_manage::kBrightRecord, record(16, 0xCC));
    mgr().record_bright_change();
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 57), record(16, 0xCC));
    EXPECT_EQ(mgr().MCU_REG_func[0][64], 0xCC);

    // Bring-up sets one FPGA's level from the level in force.
    model(1).setReg(6, 0);
    ASSERT_TRUE(mgr().bri_set_fpga_level(1));
    EXPECT_EQ(model(1).storedReg(6), 0xCC);
}

TEST_F(FpgaBrightness, SensorFrameCardChoiceAndFilter)
{
    unsigned char frame[19];
    fpga_manage::build_sensor_read_frame(0x6000, frame);
    const std::vector<uint8_t> expect = {0x00, 0x60, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61,
                                         0x00, 0x00, 0x00, 0x02, 0x80, 0x00, 0x00, 0x00};
    unsigned char x = 0;
    for (uint8_t b : expect)
        x ^= b;
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + 18), expect);
    EXPECT_EQ(frame[18], x);

    // A multi-function card on FPGA 1's port 6: group 6, address 0x6000.
    mgr().MCU_RAM_PARA_func[1][fpga_manage::kCardStatusOffset[6]] = 1;
    mgr().Brightness_check_VMF();
    EXPECT_EQ(mgr().sensor().addr(), 0x6000);
    EXPECT_EQ(mgr().sensor().group(), 6);
    mgr().MCU_RAM_PARA_func[0][fpga_manage::kCardStatusOffset[13]] = 1;
    mgr().Brightness_check_VMF();
    EXPECT_EQ(mgr().sensor().addr(), 0x5000);
    EXPECT_EQ(mgr().sensor().group(), 4);
    mgr().MCU_RAM_PARA_func[0][fpga_manage::kCardStatusOffset[13]] = 0;
    mgr().MCU_RAM_PARA_func[1][fpga_manage::kCardStatusOffset[6]] = 0;
    mgr().Brightness_check_VMF();
    EXPECT_EQ(mgr().sensor().addr(), 0);
    EXPECT_EQ(mgr().Brightness_read_VMF_value(), 0);
    EXPECT_EQ(mgr().sensor().failures(), 0u) << "no card, no read";

    // Replies: only status 0 with the expected length is taken.
    unsigned char reply[130] = {0, 97};
    reply[2 + 49] = 0xFF;
    reply[2 + 52] = 20;
    const unsigned char errors = mgr().MCU_REG_func[0][85];
    mgr().VMF_data_back_result(reply, 129);
    EXPECT_EQ(mgr().sensor().reading_fresh(), false) << "a short reply was taken";
    EXPECT_EQ(mgr().MCU_REG_func[0][85], errors + 1);
    mgr().VMF_data_back_result(reply, sizeof(reply));
    ASSERT_EQ(mgr().sensor().reading_fresh(), true);

    // Target 20: one step up, never past 16.
    mgr().bri_level = 16;
    mgr().Brightness_auto_filter();
    EXPECT_EQ(mgr().bri_level, 16u);
    EXPECT_EQ(mgr().sensor().reading_fresh(), false);
    mgr().bri_level = 10;
    mgr().VMF_data_back_result(reply, sizeof(reply));
    mgr().Brightness_auto_filter();
    EXPECT_EQ(mgr().bri_level, 11u);
    EXPECT_EQ(mgr().MCU_REG_func[1][64], 11);
    // Target 0: never below 1.
    reply[2 + 52] = 0;
    mgr().bri_level = 1;
    mgr().VMF_data_back_result(reply, sizeof(reply));
    mgr().Brightness_auto_filter();
    EXPECT_EQ(mgr().bri_level, 1u);

    // With a card but no answer: ten failed reads (each waits 350 ms of
    // the board's time) force level 16.
    BoardClockSpeed fast(100);
    mgr().MCU_RAM_PARA_func[0][fpga_manage::kCardStatusOffset[0]] = 1;
    mgr().bri_level = 3;
    ASSERT_EQ(mgr().sensor().failures(), 0u);
    for (int k = 0; k < 9; ++k)
        mgr().Brightness_auto_change();
    EXPECT_EQ(mgr().sensor().failures(), 9u);
    mgr().Brightness_auto_change();
    EXPECT_EQ(mgr().sensor().failures(), 0u);
    EXPECT_EQ(mgr().MCU_REG_func[0][64], 16);
}

// The sensor's answer may come late: the read waits 35 ticks and some
// (400 ms) for it, on the board's clock, and a card that answers after
// 200 ms is read.
TEST_F(FpgaBrightness, ASensorThatAnswersLateIsStillRead)
{
    bringUp();
    sim::ControlChannel& c = sim::Board::instance().control();
    ASSERT_EQ(c.execute("cards 1 1 mf"), "ok\n");
    ASSERT_EQ(c.execute("card-sensor 1 49 255"), "ok\n");
    ASSERT_EQ(c.execute("card-sensor 1 52 9"), "ok\n");
    ASSERT_EQ(c.execute("card-delay 1 200"), "ok\n");
    mgr().MCU_RAM_PARA_func[0][fpga_manage::kCardStatusOffset[0]] = 1;
    mgr().Brightness_check_VMF();
    ASSERT_EQ(mgr().sensor().addr(), 0x4000);
    ASSERT_EQ(mgr().sensor().group(), 1);
    const uint64_t start = sim::SimClock::instance().nowUs();
    EXPECT_EQ(mgr().Brightness_read_VMF_value(), 1);
    EXPECT_GE(sim::SimClock::instance().nowUs() - start, 200000u);
    EXPECT_EQ(mgr().sensor().reading_fresh(), true);
    EXPECT_EQ(mgr().sensor().data()[49], 0xFF);
    EXPECT_EQ(mgr().sensor().data()[52], 9);
    EXPECT_EQ(mgr().sensor().failures(), 0u);

    // 600 ms late is too late: counted as a failed read.
    ASSERT_EQ(c.execute("card-delay 1 600"), "ok\n");
    EXPECT_EQ(mgr().Brightness_read_VMF_value(), 0);
    EXPECT_EQ(mgr().sensor().failures(), 1u);
}

} // namespace
