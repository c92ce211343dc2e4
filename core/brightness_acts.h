// The brightness acts: what the screen's brightness level is and what is
// stored. These rules are decided here:
//
// - Every act on the level is numbered here, in the order it is told: the
//   user's percent (word 2176: the PC's item 1, the picture page and a
//   user-mode load whatever the word held, any other user's hold that
//   changes the word, and a RAM write of the word, whole or in part, at the
//   PC's flag that applies it) and the sending card's (the PC's command
//   page, its register-64 write, the table's slot change, the sensor's step
//   and failure, the record read again). The system's write-back is none.
// - The level in force is the last act's, of any kind. A RAM write of the
//   percent is an act at its flag unless it repeats both the level in force
//   and the last percent act (then it changes nothing): after a preview it
//   is the user's commit, at the preview's percent too. A later act of the user
//   (a percent act, a command page, a register-64 write) drops a RAM write
//   of the percent still waiting for its flag.
// - A level is shown unless a later act set the level; a percent is stored
//   as a manual record unless a later act's record was taken.
// - A record the flash did not take is owed, the latest asked, and stored
//   again every 10 s until the flash takes it or a later record was taken,
//   and at the stop.
// - A percent not yet stored puts a mark on the medium
//   (/data/configs/brightness_storing) naming it before the parameter file
//   or the record can hold it, removed once both hold it and no later act
//   waits. A start shows the stored record, unless the record is erased or
//   the mark says a percent was being stored: then that percent (this
//   run's act, else the mark's, else the file's) is stored and shown.
//
// The FPGA manager asks and tells; it does the SPI and flash work. The
// parameter store tells the percent acts (ParaWriteLock) and puts the mark
// before its file (persist_block).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class BrightnessActs {
public:
    static BrightnessActs* pInstance();

    struct Act {
        uint64_t seq = 0;   // 0: the percent the file held at start
        uint16_t percent = 0;
    };

    // --- the user's percent acts (the parameter store) ------------------
    // Told by the block's write lock as its hold ends (under it): the
    // percent it found and leaves, whether the hold set it as an act
    // whatever the word held (set_brightness, a mode loaded), and whether
    // only the PC's RAM write passed over it (taken at its flag). The acts
    // decide whether the hold was an act (percent_set).
    void hold_ended(uint16_t before, uint16_t now, bool set, bool ramWrite);
    // A percent act: it drops a RAM write of the percent still waiting for
    // its flag.
    void percent_set(uint16_t percent);
    // A RAM write of the PC passed over the percent (any of its bytes): no
    // act at the write; take_ram_percent (the PC's flag that applies it,
    // under the c331 manage mutex) takes it unless it repeats both the
    // level in force and the last percent act.
    void percent_written_by_ram(uint16_t percent);
    void take_ram_percent();
    // Whether percent stands for the register value (8-bit scale): the
    // value's percent, or the value the percent gives in either scale (3 %
    // in a 4-bit mode is raised to 15: the setting is still 3 %).
    static bool percent_says(unsigned percent, unsigned char value);
    // The store was loaded with this percent (no act yet); the mark the
    // last run left is read. Before the store is published.
    void store_loaded(uint16_t file_percent);
    Act last_percent_act();

    // --- the sending card's acts: each numbered as it is told ------------
    // The command page's number is what it shows and stores by; the others
    // set the level in force (a level shown, never stored) once shown
    // (level_set). The PC's (the command page, register 64) drop a RAM
    // write of the percent still waiting for its flag; the system's own
    // (the table's slot, the sensor's step and failure) do not.
    enum class CardAct { kCommandPage, kRegisterLevel, kTableSlot, kSensor };
    uint64_t card_act(CardAct kind);
    CardAct last_card_act() const { return last_card_act_; }
    // The stored record read: 0 while the start's read is due (what was
    // stored before this run), else an act of its time.
    uint64_t record_read_act();

    // --- the level in force and the record ------------------------------
    // The manager's card side is new (a program's start).
    void card_started();
    // The level in force was set by act, showing the register value (8-bit
    // scale; -1: none yet, as a table until its slot is applied).
    void level_set(uint64_t act, int value);
    uint64_t level_act();
    // An act's level is shown: no later act set the level.
    bool shows(uint64_t act) { return act >= level_act(); }
    // The thread takes the last percent act (a percent act told since is
    // waiting for it).
    Act take_percent_act();
    bool percent_act_waiting();
    // When a later act's record was taken, act's percent counts as stored:
    // it is settled (persist_stored_percent) and true is returned; false:
    // its record is to be stored now.
    bool settle_if_replaced(uint64_t act);
    // The record of act goes to the flash now: its time is stamped (the
    // owed record's next try counts from it); then taken, or refused (then
    // owed, the latest asked).
    void stamp_record_try();
    void record_taken(uint64_t act);
    void record_refused(const unsigned char* record, unsigned length, uint64_t act);
    // An owed record due to be stored again (every kOwedRetryTicks, or at
    // once at the stop; one a later taken record replaced is given up):
    // true with its bytes (empty: the record erased) and its act.
    bool owed_record_due(std::vector<unsigned char>& record, uint64_t& act, bool atStop = false);
    static constexpr unsigned kOwedRetryTicks = 1000;

    // --- the mark on the medium -----------------------------------------
    // A percent act not yet stored in this run, or the mark the last run
    // left.
    bool percent_being_stored();
    // The percent of the mark the last run left (the act's it was storing),
    // else -1 (none, or cut short: the file's percent decides).
    int marked_percent();
    // Puts the mark on the medium before a record of percent is stored
    // (the latest act's percent while one waits); false when it cannot be
    // written.
    bool mark_percent_storing(int percent);
    // The parameter file is about to be written: an act not yet stored is
    // marked first. Under Utils::_file_deal_mutex.
    void mark_before_file();
    // The record of act seq is stored: writes the parameter file up to the
    // block, and removes the mark when no later act waits.
    void persist_stored_percent(uint64_t seq);

    // --- the start rule -------------------------------------------------
    // The start's read of the stored record is due (once after power-up,
    // and again when the start's store was refused).
    bool start_due() const { return start_due_; }
    // Tests: the next read of the record is a start's.
    void read_as_at_start() { start_due_ = true; }
    // What the start does with the record read: show it, or store and show
    // the percent of act as a manual level. record_says tells whether the
    // record is a manual level that gives the percent (49 % for 0x7F stays,
    // though 49 % alone would give 0x7C). The start's read is done.
    struct StartChoice {
        bool show_record = true;
        Act act;
    };
    StartChoice start_choice(bool erased, const std::function<bool(unsigned)>& record_says);
    // The start's store of the percent was refused: the next read of the
    // record (FPGA 0 brought up again) is the start's again.
    void start_store_refused() { start_due_ = true; }

    // Tests: the store is dropped, and its side with it (the percent acts,
    // the mark as read); the card's side is new with each manager
    // (card_started).
    static void reset_for_test();

private:
    BrightnessActs() = default;
    uint64_t number();
    bool percent_act_unstored(Act* act = nullptr);
    bool repeats_level_in_force(uint16_t percent) const;
    bool write_mark(int percent);
    void read_mark();

    // Under ParaBytesLock: the last percent act, the last one stored, a RAM
    // write's percent until its flag (-1: none), the act that set the level
    // in force and the register value it shows (-1: none known).
    Act act_;
    uint64_t stored_seq_ = 0;
    int ram_percent_ = -1;
    uint64_t level_act_ = 0;
    int level_value_ = -1;
    // Under Utils::_file_deal_mutex (or before the store is published):
    // the mark's percent (-1: none).
    int mark_percent_ = -1;
    // Under the FPGA manager's record mutex (or its thread alone): the last
    // card act's kind, the act whose record the flash holds, the last
    // percent act the thread took, the owed record.
    CardAct last_card_act_ = CardAct::kCommandPage;
    uint64_t record_act_ = 0;
    uint64_t percent_seen_ = 0;
    bool owed_ = false;
    std::vector<unsigned char> owed_record_;
    uint64_t owed_act_ = 0;
    unsigned int owed_try_time_ = 0;
    bool start_due_ = true;
};
