#include "core/brightness_acts.h"

#include "core/atomic_file.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "platform/platform.h"

#include <QMutexLocker>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

namespace {

const char* const kMark = "/data/configs/brightness_storing";

} // namespace

BrightnessActs* BrightnessActs::pInstance()
{
    static BrightnessActs acts;
    return &acts;
}

void BrightnessActs::reset_for_test()
{
    BrightnessActs* acts = pInstance();
    ParaBytesLock bytes;
    acts->act_ = Act();
    acts->stored_seq_ = 0;
    acts->ram_percent_ = -1;
    acts->level_act_ = 0;
    acts->level_value_ = -1;
    acts->mark_percent_ = -1;
}

uint64_t BrightnessActs::number()
{
    static std::atomic<uint64_t> acts{0};
    return ++acts;
}

// --- the user's percent acts ------------------------------------------------

void BrightnessActs::percent_set(uint16_t percent)
{
    ParaBytesLock bytes;
    act_.seq = number();
    act_.percent = percent;
    ram_percent_ = -1;   // a later act: the RAM write waiting is dropped
}

void BrightnessActs::hold_ended(uint16_t before, uint16_t now, bool set, bool ramWrite)
{
    // A user's hold that set the percent, or left another one than it
    // found, is an act; a RAM write's percent waits for the PC's flag.
    if (!ramWrite && (set || now != before))
        percent_set(now);
}

void BrightnessActs::percent_written_by_ram(uint16_t percent)
{
    ParaBytesLock bytes;
    ram_percent_ = percent;
}

void BrightnessActs::take_ram_percent()
{
    ParaBytesLock bytes;
    const int percent = ram_percent_;
    ram_percent_ = -1;
    if (percent >= 0 && !repeats_level_in_force(static_cast<uint16_t>(percent)))
        percent_set(static_cast<uint16_t>(percent));
}

bool BrightnessActs::repeats_level_in_force(uint16_t percent) const
{
    // The level in force is the last act's, of any kind: the percent act
    // when no later act set the level (or none is known yet), else the
    // level that later act shows. A percent repeats it only when it is
    // also the last percent act's: after a level only shown (a preview), a
    // percent written at its flag is the user's commit, stored even at the
    // preview's own percent (a slider released where it last previewed).
    // One whose level is not known (a table until its slot) is repeated by
    // no percent.
    if (percent != act_.percent)
        return false;
    if (act_.seq > level_act_ || (act_.seq != 0 && act_.seq == level_act_) || (level_act_ == 0 && level_value_ < 0))
        return true;
    return level_value_ >= 0 && percent_says(percent, static_cast<unsigned char>(level_value_));
}

bool BrightnessActs::percent_says(unsigned percent, unsigned char value)
{
    const unsigned given = percent * 255u / 100u;
    return value * 100u / 255u == percent || (given & 0xFF) == value || (given < 15 && value == 15);
}

void BrightnessActs::store_loaded(uint16_t file_percent)
{
    {
        ParaBytesLock bytes;
        act_ = Act();
        act_.percent = file_percent;
        stored_seq_ = 0;
        ram_percent_ = -1;
    }
    read_mark();   // before the store is published: no writer yet
}

BrightnessActs::Act BrightnessActs::last_percent_act()
{
    ParaBytesLock bytes;
    return act_;
}

// --- the sending card's acts ------------------------------------------------

uint64_t BrightnessActs::card_act(CardAct kind)
{
    last_card_act_ = kind;
    ParaBytesLock bytes;
    if (kind == CardAct::kCommandPage || kind == CardAct::kRegisterLevel)
        ram_percent_ = -1;   // the PC's later act: the RAM write waiting is dropped
    return number();
}

uint64_t BrightnessActs::record_read_act()
{
    return start_due_ ? 0 : number();
}

// --- the level in force and the record ----------------------------------------

void BrightnessActs::card_started()
{
    {
        ParaBytesLock bytes;
        level_act_ = 0;
        level_value_ = -1;
    }
    record_act_ = 0;
    percent_seen_ = 0;
    owed_ = false;
    owed_record_.clear();
    owed_act_ = 0;
    owed_try_time_ = 0;
    start_due_ = true;
}

void BrightnessActs::level_set(uint64_t act, int value)
{
    ParaBytesLock bytes;
    level_act_ = act;
    level_value_ = value;
}

uint64_t BrightnessActs::level_act()
{
    ParaBytesLock bytes;
    return level_act_;
}

BrightnessActs::Act BrightnessActs::take_percent_act()
{
    const Act act = last_percent_act();
    percent_seen_ = std::max(percent_seen_, act.seq);
    return act;
}

bool BrightnessActs::percent_act_waiting()
{
    return last_percent_act().seq > percent_seen_;
}

bool BrightnessActs::settle_if_replaced(uint64_t act)
{
    if (act >= record_act_)
        return false;
    persist_stored_percent(act);
    return true;
}

void BrightnessActs::stamp_record_try()
{
    owed_try_time_ = G_timeTicks;
}

void BrightnessActs::record_taken(uint64_t act)
{
    if (act >= owed_act_)
        owed_ = false;
    record_act_ = std::max(record_act_, act);
    persist_stored_percent(act);   // act 0 too: the mark of the last run
}

void BrightnessActs::record_refused(const unsigned char* record, unsigned length, uint64_t act)
{
    // Stored again later (the flash busy or failing for a while), the
    // latest record asked for: a record left at the level before would be
    // what a restart shows.
    if (owed_ && act < owed_act_)
        return;
    owed_ = true;
    owed_record_.assign(record, record + length);
    owed_act_ = act;
}

bool BrightnessActs::owed_record_due(std::vector<unsigned char>& record, uint64_t& act, bool atStop)
{
    if (!owed_ || (!atStop && Utils::getTimeSpace(owed_try_time_) < kOwedRetryTicks))
        return false;
    // A later record the flash took replaces the one owed.
    if (owed_act_ < record_act_) {
        owed_ = false;
        return false;
    }
    record = owed_record_;
    act = owed_act_;
    return true;
}

// --- the mark on the medium -------------------------------------------------

bool BrightnessActs::percent_act_unstored(Act* act)
{
    ParaBytesLock bytes;
    if (act)
        *act = act_;
    return act_.seq > stored_seq_;
}

bool BrightnessActs::percent_being_stored()
{
    if (percent_act_unstored())
        return true;
    QMutexLocker lock(&Utils::_file_deal_mutex);
    return mark_percent_ >= 0;
}

int BrightnessActs::marked_percent()
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    return mark_percent_ <= 100 ? mark_percent_ : -1;
}

bool BrightnessActs::write_mark(int percent)
{
    if (mark_percent_ == percent)
        return true;
    const std::string text = "percent " + std::to_string(percent) + "\ndecides\n";
    if (!writeFileAtomically(platform::boardPath(kMark), reinterpret_cast<const unsigned char*>(text.data()),
                             text.size())) {
        writeLogMsg(ERROR, "the brightness store mark could not be written");
        return false;
    }
    mark_percent_ = percent;
    return true;
}

void BrightnessActs::read_mark()
{
    mark_percent_ = -1;
    std::vector<unsigned char> file;
    if (!readWholeFile(platform::boardPath(kMark), file))
        return;
    const std::string text(file.begin(), file.end());
    int percent = 0;
    // A mark cut short still says a store was under way: the file decides.
    mark_percent_ = std::sscanf(text.c_str(), "percent %d", &percent) == 1 && percent >= 0 ? percent : 0xFFFF;
}

bool BrightnessActs::mark_percent_storing(int percent)
{
    Act act;
    const bool pending = percent_act_unstored(&act);
    QMutexLocker lock(&Utils::_file_deal_mutex);
    if (mark_percent_ >= 0 && (!pending || mark_percent_ == act.percent))
        return true;
    return write_mark(pending ? act.percent : percent);
}

void BrightnessActs::mark_before_file()
{
    // A percent the sending card has not stored yet reaches the file only
    // after the mark that names it: the next start stores the mark's
    // percent, whatever the file holds (a level only shown may have written
    // its own percent back over it).
    Act act;
    if (percent_act_unstored(&act))
        write_mark(act.percent);
}

void BrightnessActs::persist_stored_percent(uint64_t seq)
{
    if (ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config)
        store->persist_block(0);
    QMutexLocker lock(&Utils::_file_deal_mutex);
    {
        ParaBytesLock bytes;
        stored_seq_ = std::max(stored_seq_, seq);
        if (act_.seq > stored_seq_)
            return;   // a later act waits: its own store removes the mark
    }
    if (mark_percent_ >= 0 && removeFileDurably(platform::boardPath(kMark)))
        mark_percent_ = -1;
}

// --- the start rule ---------------------------------------------------------

BrightnessActs::StartChoice BrightnessActs::start_choice(bool erased,
                                                         const std::function<bool(unsigned)>& record_says)
{
    // At power-up the stored record is shown (its percent written back by
    // the first send), unless a user's percent was being stored when the
    // last run ended (the mark), or was set in this run before the record
    // was read: that percent, the parameter file's, is stored as a manual
    // level, so that a cut between the file and the record ends at the
    // file's level. A level that was only shown (the PC's preview, the
    // table, the sensor) wrote its percent back into the file as the
    // system's state, and sets no mark: the record stays. An erased record
    // (a board that never stored one, or a cut between the record's erase
    // and its write) takes the percent too.
    start_due_ = false;
    StartChoice choice;
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store || (!erased && !percent_being_stored()))
        return choice;
    // The act of this run; or else the last run's, once the file held it
    // (a level only shown may have written its percent back over it
    // since); or else the file's percent.
    choice.act = last_percent_act();
    if (choice.act.seq == 0) {
        const int marked = marked_percent();
        choice.act.percent = static_cast<uint16_t>(marked >= 0 ? marked : store->block_word(para::kBrightness));
    }
    if (choice.act.percent > 100 || record_says(choice.act.percent)) {
        persist_stored_percent(choice.act.seq);
        return choice;
    }
    choice.show_record = false;
    return choice;
}
