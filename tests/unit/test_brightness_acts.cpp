// The brightness acts: each act numbered as it is told, the last one
// deciding what is shown and what is stored, and the record owed to the
// flash.
#include "support/store_fixture.h"

#include "core/brightness_acts.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"

#include <string>

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
        // A RAM write is an act at its flag, not at the write.
        {"rTf", true, true, true},  {"rfT", true, false, true}, {"rCf", true, true, true},
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
            case 'R': acts().register_level_act(); break;
            case 'T': acts().table_slot_act(); break;
            case 'S': acts().sensor_act(); break;
            case 'C': {
                const uint64_t act = acts().command_page_act();
                acts().level_set(act);
                acts().record_asked();
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
        EXPECT_EQ(acts().store_percent(act.seq), row.stored);
        EXPECT_EQ(acts().percent_being_stored(), row.stored) << "the act counts as stored when a later record was";
    }
}

// The flash refuses: the latest record asked is owed, stored again every
// 10 s (1000 ticks), given up once a later record was taken.
TEST_F(BrightnessActsTest, ARecordTheFlashRefusedIsOwedTheLatestAsked)
{
    const unsigned char older[2] = {0xAA, 1}, later[2] = {0xAA, 2};
    const uint64_t first = acts().command_page_act(), second = acts().command_page_act();
    std::vector<unsigned char> record;
    uint64_t act = 0;
    acts().record_asked();
    acts().record_refused(later, 2, second);
    acts().record_asked();
    acts().record_refused(older, 2, first);
    EXPECT_FALSE(acts().owed_record_due(record, act));
    G_timeTicks += BrightnessActs::kOwedRetryTicks;
    ASSERT_TRUE(acts().owed_record_due(record, act));
    EXPECT_EQ(record, std::vector<unsigned char>(later, later + 2));
    EXPECT_EQ(act, second);
    acts().record_taken(acts().command_page_act());
    EXPECT_FALSE(acts().owed_record_due(record, act)) << "a later record was taken";
}

} // namespace
