#include "core/mode_saves.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/para_layout.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The slot's copy of the OSD-on word (block 2124).
constexpr int kSlotOsdOn = para::kOsdOn - para::kModeStart + 2;

struct Act {
    enum Kind { Save, Rewrite, Delete, Refused } kind;
    int slot;
    // Save and Rewrite: the slot as taken (the file's 4096 bytes). Refused:
    // empty.
    std::vector<unsigned char> image;
    // Save: the OSD was on (the menu is copied beside the mode). Delete: the
    // mode was saved with it (its copy goes too).
    bool menu;
    uint16_t request;   // Refused: the word 868 that asked
};

// Under the store's short lock (ParaBytesLock): pushed in the hold that
// takes, popped by carry_out.
std::deque<Act>& acts()
{
    static std::deque<Act> queue;
    return queue;
}

// carry_out runs once at a time: the acts reach the files in their order.
std::mutex& carrying()
{
    static std::mutex m;
    return m;
}

Act imageAct(Act::Kind kind, int slot, const unsigned char* s, bool menu)
{
    return Act{kind, slot, std::vector<unsigned char>(s, s + ZdrRamPara::kSlotFileSize), menu, 0};
}

// A save on a block and its slots: the request is cleared; the act taken.
Act takeOn(unsigned char* block, unsigned char (*images)[ZdrRamPara::kSlotSize], uint16_t request)
{
    setLe16(block, para::kModeSaveRequest, 0);
    if (request == 0 || request > ZdrRamPara::kSlotCount)
        return Act{Act::Refused, -1, {}, false, request};
    const int slot = request - 1;
    unsigned char* s = images[slot];
    s[0] = 0xAA;
    s[1] = 0xAA;
    std::memcpy(s + 2, block + para::kModeStart, para::kModeSize);
    setLe16(block, para::kCurrentMode, request);
    return imageAct(Act::Save, slot, s, le16(block, para::kOsdOn) == 1);
}

unsigned char (*slotsOf(ParaWriteLock& lock))[ZdrRamPara::kSlotSize]
{
    return reinterpret_cast<unsigned char(*)[ZdrRamPara::kSlotSize]>(lock.slot(0));
}

bool validSlot(int slot) { return slot >= 0 && slot < ZdrRamPara::kSlotCount; }

// True when the last act waiting on the slot leaves its file as this one
// would (a PC raising flag 2 many times a second queues no more than one
// act per slot while nothing changes).
bool sameAsLastWaiting(const Act& act)
{
    for (auto it = acts().rbegin(); it != acts().rend(); ++it) {
        if (it->slot != act.slot)
            continue;
        if (act.kind == Act::Delete)
            return it->kind == Act::Delete && !act.menu;
        return (it->kind == Act::Save || it->kind == Act::Rewrite) && it->image == act.image;
    }
    return false;
}

void pushUnlessSame(Act act)
{
    if (!sameAsLastWaiting(act))
        acts().push_back(std::move(act));
}

// A slot emptied: marked FF FF, its saved OSD-on word cleared; the delete
// of its files, with the menu's copy when it was saved with the OSD on.
Act emptySlot(unsigned char* s, int slot)
{
    const bool menu = le16(s, kSlotOsdOn) == 1;
    if (menu)
        setLe16(s, kSlotOsdOn, 0);
    s[0] = 0xFF;
    s[1] = 0xFF;
    return Act{Act::Delete, slot, {}, menu, 0};
}

} // namespace

bool ModeSaves::take_request(ParaWriteLock& lock)
{
    const uint16_t request = le16(lock.block(), para::kModeSaveRequest);
    if (request == 0)
        return false;
    acts().push_back(takeOn(lock.block(), slotsOf(lock), request));
    return true;
}

bool ModeSaves::take_request(unsigned char* block, unsigned char (*images)[ZdrRamPara::kSlotSize])
{
    const uint16_t request = le16(block, para::kModeSaveRequest);
    if (request == 0)
        return false;
    Act act = takeOn(block, images, request);
    ParaBytesLock bytes;
    acts().push_back(std::move(act));
    return true;
}

void ModeSaves::take_save(ParaWriteLock& lock, int slot)
{
    if (!validSlot(slot))
        return;
    acts().push_back(takeOn(lock.block(), slotsOf(lock), static_cast<uint16_t>(slot + 1)));
}

bool ModeSaves::take_delete(ParaWriteLock& lock, int slot)
{
    if (!validSlot(slot))
        return false;
    unsigned char* s = lock.slot(slot);
    if (!(s[0] == 0xAA && s[1] == 0xAA))
        return false;
    acts().push_back(emptySlot(s, slot));
    return true;
}

void ModeSaves::take_slot_files(ParaWriteLock& lock)
{
    for (int slot = 0; slot < ZdrRamPara::kSlotCount; ++slot) {
        unsigned char* s = lock.slot(slot);
        if (ZdrRamPara::slotMarkedSaved(s)) {
            s[0] = 0xAA;
            s[1] = 0xAA;
            pushUnlessSame(imageAct(Act::Rewrite, slot, s, false));
        } else if (ZdrRamPara::slotMarkedEmpty(s)) {
            pushUnlessSame(emptySlot(s, slot));
        }
        // A slot with any other marker is left alone.
    }
}

int ModeSaves::carry_out(ZdrRamPara& store)
{
    std::lock_guard<std::mutex> one(carrying());
    int saves = 0;
    for (;;) {
        Act act;
        {
            ParaBytesLock bytes;
            if (acts().empty())
                break;
            act = std::move(acts().front());
            acts().pop_front();
        }
        switch (act.kind) {
        case Act::Refused:
            writeLogMsg(WARNING, "user mode save request " + std::to_string(act.request) + " ignored");
            break;
        case Act::Save:
            if (traceOn())
                std::printf("\n user mode save change ,%#x \n", act.image[0]);
            store.write_mode_files(act.slot, act.image.data(), act.menu);
            ++saves;
            break;
        case Act::Rewrite:
            store.write_mode_files(act.slot, act.image.data(), false);
            break;
        case Act::Delete: {
            std::vector<unsigned char> file;
            if (act.menu || store.read_mode_file(act.slot, file))
                store.delete_mode_files(act.slot, act.menu);
            break;
        }
        }
    }
    return saves;
}

size_t ModeSaves::waiting()
{
    ParaBytesLock bytes;
    return acts().size();
}

void ModeSaves::reset_for_test()
{
    std::lock_guard<std::mutex> one(carrying());
    ParaBytesLock bytes;
    acts().clear();
}
