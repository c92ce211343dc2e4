#include "core/mode_saves.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/para_layout.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The slot's copy of the OSD-on word (block 2124).
constexpr int kSlotOsdOn = para::kOsdOn - para::kModeStart + 2;

// What a slot's files are left to become: the mode's file written from
// image or deleted, and the OSD menu's copy beside it copied again,
// removed, or left as it is.
struct Act {
    enum File { Write, Delete } file = Write;
    enum Menu { Keep, Copy, Remove } menu = Keep;
    // Write: the slot as taken (the file's 4096 bytes). Delete with Copy:
    // the image of the save that asked for the copy (written for it first).
    std::vector<unsigned char> image;
    uint64_t taken = 0;   // the moment of the latest act folded in
    int saves = 0;        // saves folded in
};

// Under the store's short lock (ParaBytesLock): filled in the hold that
// takes, emptied by carry_out.
struct Waiting {
    bool at[ZdrRamPara::kSlotCount] = {};
    Act act[ZdrRamPara::kSlotCount];
    uint64_t next = 1;        // the next act's moment
    size_t count = 0;
    size_t most = 0;
    // Save requests beyond the slots, logged by the next carry_out.
    uint16_t refused = 0;
    unsigned refusedCount = 0;
};

Waiting& state()
{
    static Waiting w;
    return w;
}

// carry_out runs once at a time: the acts reach the files in their order.
std::mutex& carrying()
{
    static std::mutex m;
    return m;
}

// The act taken on a slot, folded into the one waiting there (if any): the
// mode's file as the later act leaves it; the menu's copy as the later act
// leaves it, or as the earlier one did when the later one leaves it alone.
void fold(int slot, Act::File file, const unsigned char* image, bool menu, bool save)
{
    Waiting& w = state();
    Act& a = w.act[slot];
    if (!w.at[slot]) {
        a = Act{};
        w.at[slot] = true;
        if (++w.count > w.most)
            w.most = w.count;
    }
    a.file = file;
    if (file == Act::Write) {
        a.image.assign(image, image + ZdrRamPara::kSlotFileSize);
        if (menu)
            a.menu = Act::Copy;
    } else {
        if (menu)
            a.menu = Act::Remove;
        if (a.menu != Act::Copy)
            a.image.clear();
    }
    a.taken = w.next++;
    a.saves += save ? 1 : 0;
}

// A save on a block and its slots: the request is cleared; the act taken.
void takeOn(unsigned char* block, unsigned char (*images)[ZdrRamPara::kSlotSize], uint16_t request)
{
    setLe16(block, para::kModeSaveRequest, 0);
    if (request == 0 || request > ZdrRamPara::kSlotCount) {
        state().refused = request;
        ++state().refusedCount;
        return;
    }
    const int slot = request - 1;
    unsigned char* s = images[slot];
    s[0] = 0xAA;
    s[1] = 0xAA;
    std::memcpy(s + 2, block + para::kModeStart, para::kModeSize);
    setLe16(block, para::kCurrentMode, request);
    fold(slot, Act::Write, s, le16(block, para::kOsdOn) == 1, true);
}

unsigned char (*slotsOf(ParaWriteLock& lock))[ZdrRamPara::kSlotSize]
{
    return reinterpret_cast<unsigned char(*)[ZdrRamPara::kSlotSize]>(lock.slot(0));
}

bool validSlot(int slot) { return slot >= 0 && slot < ZdrRamPara::kSlotCount; }

// A slot emptied: marked FF FF, its saved OSD-on word cleared; the delete
// of its files, with the menu's copy when it was saved with the OSD on.
void emptySlot(unsigned char* s, int slot)
{
    const bool menu = le16(s, kSlotOsdOn) == 1;
    if (menu)
        setLe16(s, kSlotOsdOn, 0);
    s[0] = 0xFF;
    s[1] = 0xFF;
    fold(slot, Act::Delete, nullptr, menu, false);
}

// Under the short lock: takes out the earliest act waiting that was taken
// before `before`; false when none is.
bool takeOut(uint64_t before, int& slot, Act& act)
{
    Waiting& w = state();
    slot = -1;
    for (int s = 0; s < ZdrRamPara::kSlotCount; ++s)
        if (w.at[s] && w.act[s].taken < before && (slot < 0 || w.act[s].taken < w.act[slot].taken))
            slot = s;
    if (slot < 0)
        return false;
    act = std::move(w.act[slot]);
    w.at[slot] = false;
    --w.count;
    return true;
}

void carryOutOne(ZdrRamPara& store, int slot, const Act& act)
{
    if (act.file == Act::Write) {
        if (act.saves > 0 && traceOn())
            std::printf("\n user mode save change ,%#x \n", act.image[0]);
        // A delete of the menu's copy waiting under this write: its files
        // go first, as the delete would have left them.
        if (act.menu == Act::Remove)
            store.delete_mode_files(slot, true);
        store.write_mode_files(slot, act.image.data(), act.menu == Act::Copy);
        return;
    }
    if (act.menu == Act::Copy) {
        // A save with the menu's copy, then a delete that left the copy:
        // the copy is made, the mode's file goes.
        store.write_mode_files(slot, act.image.data(), true);
        store.delete_mode_files(slot, false);
        return;
    }
    std::vector<unsigned char> file;
    if (act.menu == Act::Remove || store.read_mode_file(slot, file))
        store.delete_mode_files(slot, act.menu == Act::Remove);
}

} // namespace

bool ModeSaves::take_request(ParaWriteLock& lock)
{
    const uint16_t request = le16(lock.block(), para::kModeSaveRequest);
    if (request == 0)
        return false;
    takeOn(lock.block(), slotsOf(lock), request);
    return true;
}

bool ModeSaves::take_request(unsigned char* block, unsigned char (*images)[ZdrRamPara::kSlotSize])
{
    const uint16_t request = le16(block, para::kModeSaveRequest);
    if (request == 0)
        return false;
    ParaBytesLock bytes;
    takeOn(block, images, request);
    return true;
}

void ModeSaves::take_save(ParaWriteLock& lock, int slot)
{
    if (!validSlot(slot))
        return;
    takeOn(lock.block(), slotsOf(lock), static_cast<uint16_t>(slot + 1));
}

bool ModeSaves::take_delete(ParaWriteLock& lock, int slot)
{
    if (!validSlot(slot))
        return false;
    unsigned char* s = lock.slot(slot);
    if (!(s[0] == 0xAA && s[1] == 0xAA))
        return false;
    emptySlot(s, slot);
    return true;
}

void ModeSaves::take_slot_files(ParaWriteLock& lock)
{
    for (int slot = 0; slot < ZdrRamPara::kSlotCount; ++slot) {
        unsigned char* s = lock.slot(slot);
        if (ZdrRamPara::slotMarkedSaved(s)) {
            s[0] = 0xAA;
            s[1] = 0xAA;
            fold(slot, Act::Write, s, false, false);
        } else if (ZdrRamPara::slotMarkedEmpty(s)) {
            emptySlot(s, slot);
        }
        // A slot with any other marker is left alone.
    }
}

int ModeSaves::carry_out(ZdrRamPara& store)
{
    std::lock_guard<std::mutex> one(carrying());
    uint64_t before;
    uint16_t refused;
    unsigned refusedCount;
    {
        ParaBytesLock bytes;
        Waiting& w = state();
        before = w.next;
        refused = w.refused;
        refusedCount = w.refusedCount;
        w.refusedCount = 0;
    }
    if (refusedCount > 0)
        writeLogMsg(WARNING, "user mode save request " + std::to_string(refused) + " ignored" +
                                 (refusedCount > 1 ? " (" + std::to_string(refusedCount) + " refused)" : ""));
    int saves = 0;
    for (;;) {
        int slot;
        Act act;
        {
            ParaBytesLock bytes;
            if (!takeOut(before, slot, act))
                break;
        }
        carryOutOne(store, slot, act);
        saves += act.saves;
    }
    return saves;
}

size_t ModeSaves::waiting()
{
    ParaBytesLock bytes;
    return state().count;
}

size_t ModeSaves::most_waiting()
{
    ParaBytesLock bytes;
    return state().most;
}

void ModeSaves::reset_for_test()
{
    std::lock_guard<std::mutex> one(carrying());
    ParaBytesLock bytes;
    state() = Waiting{};
}
