// The parameter store: the 4096-byte parameter block shared by every
// subsystem, its shadow copy (what was last persisted), the 16 user-mode
// slots and the runtime status area, with the signal that asks the GUI
// thread to refresh the page on screen and persist the block.
//
// Fields are little-endian; see core/para_layout.h for the offsets.
#pragma once

#include "core/lock_check.h"
#include "core/published.h"
#include <QObject>
#include <cstdint>
#include <mutex>
#include <vector>

// A crop as it travels between the pages and the store.
struct CROP_PARA {
    int head;
    int x;
    int y;
    int w;
    int h;
};

// Crop numbers in use: 5 bytes (40 bits) per input, bit n - 1 for crop n.
extern unsigned char g_cut_source_state[30];

// The short lock of the store's bytes: the block, its shadow copy, the
// user-mode slots and the register image. A reader takes it alone, through
// the store's read functions below, and never waits for the c331 manage
// mutex, which the chip thread holds across its whole change pass, SPI work
// included: a page or a PC read is answered while a pass runs. A writer
// takes it only through ParaWriteLock, inside the manage mutex.
// Held only while bytes are copied or stored: never across a widget call,
// SPI work, a file, a signal or another lock (in the lock-check builds a
// lock taken while it is held ends the program: core/lock_check.h).
// Taken again in a thread that holds it, it only counts.
class ParaBytesLock {
public:
    ParaBytesLock(const ParaBytesLock&) = delete;
    ParaBytesLock& operator=(const ParaBytesLock&) = delete;
    static bool held() { return depth > 0; }

private:
    friend class ZdrRamPara;
    friend class ParaWriteLock;
    friend class ModeSaves;   // its acts waiting are the store's state
    friend class BrightnessActs;   // the percent acts are ordered with the block's writes
    ParaBytesLock();
    ~ParaBytesLock();
    static std::mutex mutex;
    static thread_local int depth;
};

class ZdrRamPara;

// The unit that decides what the screen shows hears here of the acts on
// the black-out word (block word 2116) the store sees; the FPGA manager
// registers it (ZdrRamPara::set_blackout_listener). Until then no one is
// told (a start-up's word is taken as the manager registers).
class BlackoutWordListener {
public:
    // A user's write set the word (dark: not 0): an act whatever it held.
    virtual void word_written(bool dark) = 0;
    // The PC's RAM write of the word, applied by the PC's flag: an act when
    // it sets another value than the last act on the word.
    virtual void word_applied(bool dark) = 0;

protected:
    ~BlackoutWordListener() = default;
};

// The one way to write the block, the user-mode slots and the register
// image as a user's act (the system's own write-back of a word is
// SystemWriteLock, below; the GUI thread records the shadow copy through
// record_persisted, a reset under this lock): the c331 manage mutex (taken here unless this
// thread holds it already, as the chip thread's change pass and a writer
// that checks and stores under one hold do), then the short lock; both
// are given back when it ends. The store's bytes are writable only
// through a lock that is held: block(), slot() and status(); everyone
// else reads them through the store's const views. raise() sets the
// parameter-changed flag (a pending 2 is never lowered); raise(2) also takes
// each user-mode slot's files as the slot stands in this hold (ModeSaves),
// so that no flag 2 is raised without them.
// One order everywhere: take the lock, store, raise. A writer that checks
// the block and then stores under one hold (or posts something else with
// its store) takes C331ParaLock around the check, this lock and the post,
// and stores and raises through this lock.
class ParaWriteLock {
public:
    // Writes the program's store (once it is loaded), or the store named
    // (the store's own functions).
    ParaWriteLock();
    explicit ParaWriteLock(ZdrRamPara& store);
    ~ParaWriteLock();
    ParaWriteLock(const ParaWriteLock&) = delete;
    ParaWriteLock& operator=(const ParaWriteLock&) = delete;
    // The 4096-byte block; user-mode slot s (ZdrRamPara::kSlotSize bytes);
    // the register image (ZdrRamPara::kStatusSize bytes).
    unsigned char* block();
    unsigned char* slot(int s);
    unsigned char* status();
    void raise(unsigned char value = 1);
    // The acts a hold makes. A hold that writes the black-out word (block word 2116) is an act on
    // the screen, recorded as the hold ends (after the short lock, before
    // the c331 manage mutex is given back): whenever it changes the word,
    // and, done even when the word stays as it was, when blackout_command()
    // writes it (the PC's item 5) or load_mode() brings it. Likewise a hold
    // that ends with another brightness percent (word 2176) than it found
    // is a user's brightness act (the page, the PC, a reset), told to the
    // brightness acts (core/brightness_acts.h) as the hold ends; so is
    // load_mode() whatever the word held. The system's own write-back of
    // either word (SystemWriteLock) is no act.
    // The user's brightness percent (the PC's item 1, the picture page):
    // an act whatever the word held (a level only shown may have written
    // this very percent back).
    void set_brightness(uint16_t percent);
    // The PC's RAM write: stored now; the black-out word and the
    // brightness percent it covers (whole or any of their bytes) are noted
    // for the PC's flag, which applies them (ZdrRamPara::
    // take_blackout_written, BrightnessActs::take_ram_percent): no act at
    // the write.
    void write_pc_ram(int offset, const unsigned char* data, int len);
    // The PC's black-out command (item 5): an act whatever the word held.
    void blackout_command(uint16_t value);
    // The block's user-mode area from slot s (saved), and the current mode.
    void load_mode(int s);

private:
    friend class SystemWriteLock;
    struct System {};
    explicit ParaWriteLock(System);
    ZdrRamPara& store();
    ZdrRamPara* store_or_null();

    // Records the hold's act on the screen once the short lock is given
    // back (the screen record's lock is taken after it, never inside it).
    struct ScreenActNote {
        ~ScreenActNote();
        int dark = -1;   // -1: no act
    };

    struct ManageHold {
        ManageHold();
        ~ManageHold();
        bool taken;
    };
    ManageHold manage;   // first in, last out
    ScreenActNote screen_act;
    ParaBytesLock bytes;
    ZdrRamPara* target = nullptr;
    int blackout_before = -1;   // the word as the hold found it (-1: no store)
    bool blackout_noted = false;
    bool system_write = false;
    int brightness_before = -1;   // the percent as the hold found it (-1: no store)
    bool brightness_noted = false;
    bool brightness_deferred = false;
};

// The words the system writes back, and no other: the black-out word (an on
// time takes it back) and the brightness percent (the level the screen
// shows).
enum class SystemWord : int { kBlackout = 2116, kBrightness = 2176 };

// The system's own write-back of a block word: no act on the screen nor on
// the brightness, whatever the word. It writes one of the system's words
// (SystemWord) at a time and gives no pointer into the block, so that no
// other word is written as the system's; every other writer is
// ParaWriteLock, a user's act. The same holds as ParaWriteLock's (the c331
// manage mutex, then the short lock). Taken inside another hold of the
// store (a user's ParaWriteLock, whose act it would become part of), the
// program names it on stderr and aborts.
class SystemWriteLock {
public:
    SystemWriteLock() : lock_(ParaWriteLock::System{}) {}
    void write_word(SystemWord word, uint16_t value);

private:
    ParaWriteLock lock_;
};

class ZdrRamPara : public QObject {
    Q_OBJECT
public:
    static constexpr int kSlotCount = 16;
    static constexpr int kSlotSize = 4098;
    static constexpr int kSlotFileSize = 4096;
    static constexpr int kStatusSize = 1064;

    static ZdrRamPara* pInstance();
    static Published<ZdrRamPara> p_zdrrampara_config;

private:
    // The store's bytes, written only through ParaWriteLock (and by the
    // loader, before the store is published).
    friend class ParaWriteLock;
    unsigned char m_block[4096];
    unsigned char m_slots[kSlotCount][kSlotSize];
    unsigned char m_status[kStatusSize];
    // Written by the store alone: record_persisted and the reset.
    unsigned char m_shadow[4096];

public:
    // Read-only views of the block, the slots and the register image
    // (written through ParaWriteLock; see above).
    const unsigned char (&ram_para)[4096] = m_block;
    // What the parameter file holds: written through record_persisted by
    // persist_block (under the short lock alone: a change pass does not
    // hold it up) and by a reset under ParaWriteLock; read by the other
    // threads through shadow_bytes.
    const unsigned char (&ram_para_shadow)[4096] = m_shadow;
    // Slot s holds user mode s + 1: marker (0xAA 0xAA saved, 0xFF 0xFF
    // empty), an image of block 896 to 4095, then bytes kept as they came.
    const unsigned char (&mode_user_para)[kSlotCount][kSlotSize] = m_slots;
    // The processor's register image and the drivers' presence bits.
    const unsigned char (&run_status)[kStatusSize] = m_status;

    int test_signal(int code);
    void ram_para_save();

    // The PC's writes into the block and into a user-mode slot: 0 done,
    // 1 refused (nothing written). The caller holds the c331 manage mutex;
    // the bytes are stored under ParaWriteLock and nothing is raised (the
    // PC asks for the pass itself, through its flag register).
    int ZdrRamParaDeal(unsigned char* data, unsigned short len, unsigned int offset);
    int ZdrModeUserRamParaDeal(unsigned char* data, unsigned short len, unsigned int address);

    int ZdrGetImageSource(const unsigned char* image, unsigned char layer, short* isCrop, char* cropIndex,
                          unsigned char fromSlot);
    void ZdrSetEDIDPara(int input, short width, short height, short refresh);
    // 1 when the block's language (768) differs from the language last
    // handed to the pages (g_language takes it), else 0. Compared with what
    // the pages show, not with the file's copy: a language stored after a
    // page's refresh looked reaches the file with that refresh, and the next
    // refresh still finds it new. GUI thread.
    int ZdrLanguageChanged();
    int ZdrUserModeSaved(int slot);
    // Loads a saved slot: its image into the block's user-mode area, the
    // current mode set to it and a pass asked for, in the hold that finds
    // it saved (a PC's write emptying it lands before the look or after
    // the copy); 0 when the slot is not saved (nothing written), else 1.
    int ZdrUserModeLoad(int slot);
    int ZdrGetCurrentModeIndex();
    int ZdrUserModeIndex(char slot, char direction);
    // A slot's marker (its first two bytes): empty when either byte is
    // 0xFF, else saved (its file written) when either byte is 0xAA.
    static bool slotMarkedEmpty(const unsigned char* marker) { return marker[0] == 0xFF || marker[1] == 0xFF; }
    static bool slotMarkedSaved(const unsigned char* marker)
    {
        return !slotMarkedEmpty(marker) && (marker[0] == 0xAA || marker[1] == 0xAA);
    }
    // What mode_file_deal does with slot s: load it from its file (start-up;
    // no file marks it empty); delete it (the user-mode page), only while
    // the slot is saved: taken and carried out as every user-mode act is
    // (core/mode_saves.h).
    enum ModeFileOp : int { kModeFileLoad = 0, kModeFileDelete = 1 };
    // 1 when the slot was filled from its file; -1 when a delete found the
    // slot not saved (nothing done); else 0.
    int mode_file_deal(int slot, ModeFileOp op);
    void ram_para_reset();

    // Crop table. Its writers store and raise the flag under one
    // ParaWriteLock.
    void ZdrCropSourceInit();
    int ZdrGetSourceNum(int input, int n);
    int ZdrGetCropID(int input, int j);
    int ZdrAddCropID(int input);
    void ZdrGetCropPara(int input, int j, CROP_PARA* out, int* index);
    void ZdrSetCropPara(char input, char j, CROP_PARA* in);
    int ZdrAddNewCrop(int input, CROP_PARA* in);
    void ZdrDeleteCrop(char input, char j);
    void ZdrSetImageSource(int j, char input, char layer);

    // Writes block 768 to 4095 (of block, or of ram_para) into
    // /data/ram_device_info (its head and any bytes after the block are
    // kept), replacing the file as a whole; false when the file does not
    // exist or cannot be replaced.
    bool write_para_file(const unsigned char* block = nullptr);
    // The reads of the store from any thread, holding the c331 manage
    // mutex or not: under ParaBytesLock alone, a copy no writer is half way
    // through, never waiting for a change pass. The whole block; count
    // bytes from offset; one word or byte; slot s whole (kSlotSize bytes)
    // or count bytes of it from offset.
    void snapshot_block(unsigned char* out);
    void block_bytes(int offset, unsigned char* out, int count);
    uint16_t block_word(int offset);
    unsigned char block_byte(int offset);
    void snapshot_slot(int slot, unsigned char* out);
    void slot_bytes(int slot, int offset, unsigned char* out, int count);
    // count bytes of the register image, or of the shadow copy, from
    // offset, read the same way.
    void status_bytes(int offset, unsigned char* out, int count);
    void shadow_bytes(int offset, unsigned char* out, int count);
    // The GUI thread records the block it has written to the file.
    void record_persisted(const unsigned char* block);
    // Writes the block to the parameter file when it differs from what
    // the file holds, then "sync" and a pause of settleMs, and records it
    // as the shadow. The copy is taken under Utils::_file_deal_mutex, so
    // that no writer puts an older block over a newer one. The GUI's
    // refresh persists through it, and a writer that must have the file
    // hold the block before it answers (the PC's stored brightness
    // record). False when the file could not be written.
    // With image, that copy of the block is written instead (a stop writes
    // what the refresh still owed from its own copy).
    bool persist_block(unsigned settleMs, const unsigned char* image = nullptr);
    // Writes slot s (or image, a copy of it) to /data/modes/custom_mode<s + 1>
    // as a whole; false when it cannot be written.
    bool write_mode_file(int slot, const unsigned char* image = nullptr);
    // A saved mode's files from image (a copy of its slot): with menu, the
    // OSD menu's copy beside it first (MOnn.json, copied whole), then the
    // mode's file; "sync" once written. False when the mode's file could
    // not be written.
    bool write_mode_files(int slot, const unsigned char* image, bool menu);
    // Slot s's file as it stands; false when there is none.
    bool read_mode_file(int slot, std::vector<unsigned char>& out);
    // An emptied mode's files go: its file and, with menu, its OSD menu copy.
    void delete_mode_files(int slot, bool menu);
    // The block and the 16 slots, copied in one hold of the short lock.
    void snapshot_store(unsigned char* block, unsigned char (*images)[kSlotSize]);

    // The black-out word as the PC's last RAM write over it left it, not
    // yet applied by the PC's flag (-1: none), taken once: the flag's
    // register write takes it in the hold that raises the flag. An act on
    // the word meanwhile (a user's write of it) drops it; the on time's
    // take-back leaves a word with a write waiting for its flag alone.
    int take_blackout_written();
    bool blackout_written_pending();
    // The PC's flag register write raised the flag (the c331 manage mutex
    // held): the black-out word a RAM write left is applied, ordered here.
    void pc_flag_applies();
    // The unit told of the acts on the black-out word (nullptr: none); it
    // hears the word's value now when it is not 0.
    static void set_blackout_listener(BlackoutWordListener* listener);
    static BlackoutWordListener* blackout_listener();

    // Drops the store so that the next pInstance() loads it afresh (tests).
    static void destroyForTest();

signals:
    void sig_update_para(int code);

private:
    ZdrRamPara();
    ~ZdrRamPara() override;
    void load_para_file();
    // Index of the first in-use record with this input and crop number, or
    // kCropCount when there is none.
    int find_crop_record(int input, int cropNumber) const;
    // The language word the pages were last given (see ZdrLanguageChanged).
    uint16_t language_shown_ = 0;

    // Under ParaBytesLock: see take_blackout_written.
    int blackout_written_ = -1;

};
