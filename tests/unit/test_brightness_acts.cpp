// The brightness acts: each act numbered as it is told, the last one
// deciding what is shown and what is stored, and the record owed to the
// flash.
#include "support/store_fixture.h"

#include "core/brightness_acts.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

class BrightnessActsTest : public StoreTest {
protected:
    BrightnessActs& acts() { return *BrightnessActs::pInstance(); }
    void SetUp() override
    {
        StoreTest::SetUp();
        fresh();
    }
    // A new program: the store loaded, the sending card's side new.
    void fresh()
    {
        ZdrRamPara::destroyForTest();
        writeParaFile(defaultFile());
        load();
        acts().card_started();
    }
};

// Steps, one letter each: p the page's 37 % (through the block's write
// lock), r a RAM write of 37 % and f its flag, R the PC's register-64
// level, T the table's slot, S the sensor's step, C the PC's command page
// storing a record the flash takes. No step hands the unit a number.
TEST_F(BrightnessActsTest, EachActIsNumberedWhenToldAndTheLastOneDecides)
{
    const struct {
        const char* steps;
        bool waiting;   // a percent act waits for the thread
        bool shown;     // its level is shown
        bool stored;    // its record is to be stored
    } rows[] = {
        {"pR", true, false, true},  {"Rp", true, true, true},   {"pT", true, false, true},
        {"Sp", true, true, true},   {"pC", true, false, false}, {"Cp", true, true, true},
        // A RAM write is an act at its flag, not at the write; the PC's
        // later act (its command page) drops it, the table's slot does not.
        {"rTf", true, true, true},  {"rfT", true, false, true}, {"rCf", false, false, false},
        {"r", false, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.steps);
        fresh();
        for (const char* c = row.steps; *c; ++c) {
            switch (*c) {
            case 'p': ParaWriteLock().set_brightness(37); break;
            case 'r': {
                const unsigned char bytes[2] = {37, 0};
                ZdrRamPara::p_zdrrampara_config->ZdrRamParaDeal(const_cast<unsigned char*>(bytes), 2,
                                                                para::kBrightness);
                break;
            }
            case 'f': acts().take_ram_percent(); break;
            case 'R': acts().level_set(acts().card_act(BrightnessActs::CardAct::kRegisterLevel), 0x10); break;
            case 'T': acts().level_set(acts().card_act(BrightnessActs::CardAct::kTableSlot), 0x10); break;
            case 'S': acts().level_set(acts().card_act(BrightnessActs::CardAct::kSensor), 0x10); break;
            case 'C': {
                const uint64_t act = acts().card_act(BrightnessActs::CardAct::kCommandPage);
                acts().level_set(act, 0xCC);
                acts().stamp_record_try();
                acts().record_taken(act);
                break;
            }
            }
        }
        ASSERT_EQ(acts().percent_act_waiting(), row.waiting);
        if (!row.waiting)
            continue;
        const BrightnessActs::Act act = acts().take_percent_act();
        EXPECT_EQ(act.percent, 37);
        EXPECT_FALSE(acts().percent_act_waiting());
        EXPECT_EQ(acts().shows(act.seq), row.shown);
        EXPECT_EQ(!acts().settle_if_replaced(act.seq), row.stored);
        EXPECT_EQ(acts().percent_being_stored(), row.stored) << "the act counts as stored when a later record was";
    }
}

// The flash refuses: the latest record asked is owed, stored again every
// 10 s (1000 ticks) and at once at the stop, given up once a later record
// was taken. Acts 1 and 2 are numbered in that order; each step refuses
// or takes the record of one of them (its bytes say which, and the try).
TEST_F(BrightnessActsTest, ARecordTheFlashRefusedIsOwedTheLatestAsked)
{
    const struct {
        const char* what;
        const char* steps;   // r1 refused act 1, t2 taken act 2, ...
        int owed;            // the act owed at the end (0: none)
        unsigned char tried; // the try whose bytes are owed
    } rows[] = {
        {"newer then older refused", "r2r1", 2, 1},
        {"older then newer refused", "r1r2", 2, 2},
        {"the same act refused twice", "r1r1", 1, 2},
        {"a later record taken", "r1t2", 0, 0},
        {"the owed record taken", "r2t2", 0, 0},
        {"an older record taken", "r2t1", 2, 1},
        {"refused again after an older one was taken", "r2t1r2", 2, 3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fresh();
        const uint64_t acts_[3] = {0, acts().card_act(BrightnessActs::CardAct::kCommandPage),
                                   acts().card_act(BrightnessActs::CardAct::kCommandPage)};
        unsigned char tries = 0;
        for (const char* c = row.steps; *c; c += 2) {
            const uint64_t act = acts_[c[1] - '0'];
            const unsigned char record[2] = {static_cast<unsigned char>(act), ++tries};
            acts().stamp_record_try();
            if (*c == 'r')
                acts().record_refused(record, 2, act);
            else
                acts().record_taken(act);
        }
        std::vector<unsigned char> record;
        uint64_t act = 0;
        EXPECT_EQ(acts().owed_record_due(record, act, true), row.owed != 0) << "at the stop: at once";
        EXPECT_FALSE(acts().owed_record_due(record, act)) << "before 10 s";
        G_timeTicks += BrightnessActs::kOwedRetryTicks;
        ASSERT_EQ(acts().owed_record_due(record, act), row.owed != 0);
        if (!row.owed)
            continue;
        EXPECT_EQ(act, acts_[row.owed]);
        EXPECT_EQ(record, std::vector<unsigned char>({static_cast<unsigned char>(act), row.tried}));
    }
}

// A RAM write of the percent (word 2176), whole or any of its bytes, is
// taken at the PC's flag unless it repeats both the level in force (the
// last act of any kind: a preview by register 64 or by a command page that
// only shows included) and the last percent act: after a preview it is the
// user's commit, at the preview's percent too. A later
// act of the user drops a RAM write still waiting for its flag. A load is
// an act whatever the word held. Each row starts at 80 % set by the page
// and taken; the system writes back the percent a preview shows, as the
// sending card does.
TEST_F(BrightnessActsTest, ARamPercentIsTakenAtItsFlagAgainstTheLevelInForce)
{
    enum Kind { kPage, kRam, kByte, kHighByte, kFrom2175, kFlag, kRegister, kShowPage, kStorePage, kLoad, kWriteBack };
    struct Step {
        Kind kind;
        int value;   // a percent, or a preview's register value
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
        bool acted;   // the last step made a percent act
        int percent;  // the last percent act's
    } rows[] = {
        // 114 = 44 %; 95 = 37 %.
        {"register 64 previews, a RAM write at the percent committed", {{kRegister, 114}, {kRam, 80}, {kFlag, 0}}, true, 80},
        {"a page previews, a RAM write at the percent committed", {{kShowPage, 114}, {kRam, 80}, {kFlag, 0}}, true, 80},
        {"register 64 previews, a RAM write at the preview's percent", {{kRegister, 95}, {kRam, 37}, {kFlag, 0}}, true, 37},
        {"a page previews, a RAM write at the preview's percent", {{kShowPage, 95}, {kRam, 37}, {kFlag, 0}}, true, 37},
        {"register 64 previews, a RAM write at another percent", {{kRegister, 114}, {kRam, 60}, {kFlag, 0}}, true, 60},
        {"a page previews, a RAM write at another percent", {{kShowPage, 114}, {kRam, 60}, {kFlag, 0}}, true, 60},
        {"no preview, a RAM write at the percent in force", {{kRam, 80}, {kFlag, 0}}, false, 80},
        // Part of the word: at its flag only.
        {"one byte at 2176, no flag", {{kByte, 37}}, false, 80},
        {"one byte at 2176, its flag", {{kByte, 37}, {kFlag, 0}}, true, 37},
        {"one byte at 2177, no flag", {{kWriteBack, 0x125}, {kHighByte, 0}}, false, 80},
        {"one byte at 2177, its flag", {{kWriteBack, 0x125}, {kHighByte, 0}, {kFlag, 0}}, true, 37},
        {"two bytes from 2175, no flag", {{kFrom2175, 37}}, false, 80},
        {"two bytes from 2175, its flag", {{kFrom2175, 37}, {kFlag, 0}}, true, 37},
        // A later act drops the RAM write waiting.
        {"a RAM write, item 1, the flag", {{kRam, 30}, {kPage, 60}, {kFlag, 0}}, false, 60},
        {"a RAM write, a load, the flag", {{kRam, 30}, {kLoad, 50}, {kFlag, 0}}, false, 50},
        {"a RAM write, a stored command page, the flag", {{kRam, 30}, {kStorePage, 0xCC}, {kFlag, 0}}, false, 80},
        {"a RAM write, register 64, the flag", {{kRam, 30}, {kRegister, 114}, {kFlag, 0}}, false, 80},
        {"a RAM write, a page previewing, the flag", {{kRam, 30}, {kShowPage, 114}, {kFlag, 0}}, false, 80},
        // A load at the percent a preview wrote back.
        {"a preview, a load at its percent", {{kRegister, 95}, {kLoad, 37}}, true, 37},
    };
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    auto ram = [&](int offset, std::vector<unsigned char> bytes) {
        ASSERT_EQ(store->ZdrRamParaDeal(bytes.data(), static_cast<unsigned short>(bytes.size()), offset), 0);
    };
    auto writeBack = [&](int percent) { SystemWriteLock().write_word(SystemWord::kBrightness, static_cast<uint16_t>(percent)); };
    auto preview = [&](BrightnessActs::CardAct kind, int value) {
        acts().level_set(acts().card_act(kind), value);
        writeBack(value * 100 / 255);
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        fresh();
        ParaWriteLock().set_brightness(80);
        acts().level_set(acts().take_percent_act().seq, 204);
        uint64_t before = 0;
        for (const Step& step : row.steps) {
            before = acts().last_percent_act().seq;
            const unsigned char v = static_cast<unsigned char>(step.value);
            switch (step.kind) {
            case kPage: ParaWriteLock().set_brightness(static_cast<uint16_t>(step.value)); break;
            case kRam: ram(para::kBrightness, {v, 0}); break;
            case kByte: ram(para::kBrightness, {v}); break;
            case kHighByte: ram(para::kBrightness + 1, {v}); break;
            case kFrom2175: ram(para::kBrightness - 1, {0x5A, v}); break;
            case kFlag: acts().take_ram_percent(); break;
            case kRegister: preview(BrightnessActs::CardAct::kRegisterLevel, step.value); break;
            case kShowPage: preview(BrightnessActs::CardAct::kCommandPage, step.value); break;
            case kStorePage: {
                const uint64_t act = acts().card_act(BrightnessActs::CardAct::kCommandPage);
                acts().level_set(act, step.value);
                acts().record_taken(act);
                writeBack(step.value * 100 / 255);
                break;
            }
            case kLoad: {
                {
                    ParaWriteLock lock;
                    lock.slot(3)[0] = lock.slot(3)[1] = 0xAA;
                    std::memcpy(lock.slot(3) + 2, lock.block() + para::kModeStart, para::kModeSize);
                    setLe16(lock.slot(3), 2 + para::kBrightness - para::kModeStart, static_cast<uint16_t>(step.value));
                }
                ASSERT_EQ(store->ZdrUserModeLoad(3), 1);
                break;
            }
            case kWriteBack: writeBack(step.value); break;
            }
        }
        EXPECT_EQ(acts().last_percent_act().seq != before, row.acted);
        EXPECT_EQ(acts().last_percent_act().percent, row.percent);
    }
}

} // namespace
