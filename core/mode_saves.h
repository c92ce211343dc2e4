// The user-mode saves and deletes.
//
// A save or a delete is taken when it is answered (the PC's flag write, the
// page's tap), with the block's picture of that moment, and carried out in
// the order taken, each once, whatever comes after. Taking it changes the
// store at once: a save copies block 896..4095 into its slot, marks the
// slot saved (AA AA), makes it the current mode (word 866) and clears the
// request word 868; a delete marks the slot empty (FF FF). The mode files
// follow when the GUI thread carries the acts out (the page after its tap,
// the refresh, the clean stop), here and nowhere else.
#pragma once

#include "core/zdrrampara.h"

#include <cstddef>
#include <cstdint>

class ModeSaves {
public:
    // Under a ParaWriteLock the caller holds: its hold orders the acts.
    // The request in word 868 (the PC's RAM write, taken at its flag; or a
    // request no flag took, by the refresh or the stop): a save of slot
    // request - 1. A request beyond the 16 slots is cleared and refused (the
    // log says so when the acts are carried out). False when the word held
    // none.
    static bool take_request(ParaWriteLock& lock);
    // The page's Save of slot s.
    static void take_save(ParaWriteLock& lock, int slot);
    // The page's Delete of slot s: false when the slot is not saved
    // (nothing is taken).
    static bool take_delete(ParaWriteLock& lock, int slot);
    // A flag 2 (the PC's, or the refresh of code 2): each saved slot's file
    // is written as the slot is now, each emptied slot's files go.
    static void take_slot_files(ParaWriteLock& lock);
    // The stop's copies of the block and the slots (the store is left as it
    // is): the request still in word 868, taken as take_request takes it.
    static bool take_request(unsigned char* block, unsigned char (*images)[ZdrRamPara::kSlotSize]);

    // Carries out the acts taken, in the order taken; the number of saves
    // among them. Run by one thread at a time (a second one waits).
    static int carry_out(ZdrRamPara& store);
    // Acts taken and not yet carried out.
    static size_t waiting();
    // Tests: forgets what waits.
    static void reset_for_test();
};
