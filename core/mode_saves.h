// The user-mode saves and deletes.
//
// A save or a delete is taken when it is answered (the PC's flag write, the
// page's tap), with the block's picture of that moment, and carried out
// once, whatever comes after. Taking it changes the store at once: a save
// copies block 896..4095 into its slot, marks the slot saved (AA AA), makes
// it the current mode (word 866) and clears the request word 868; a delete
// marks the slot empty (FF FF). A flag 2 (raised only through
// ParaWriteLock::raise, which takes them) takes each slot's files as the
// slot stands in the hold that raises it, and nothing takes them again.
// At most one act per slot waits: a later act on a slot replaces the one
// still waiting there, and what it leaves to do ends the slot's files
// exactly as the two carried out in turn would (the mode's file as the
// last act has it, the OSD menu's copy beside it as the last act that
// touched it has it). The mode files follow when the GUI thread carries
// the acts out (the page after its tap, the refresh, the clean stop), here
// and nowhere else, in the order of the acts' moments; a run carries out
// the acts waiting when it began (at most one per slot), so that the block
// stored after it never waits behind acts taken meanwhile.
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
    // The stop's copies of the block and the slots (the store is left as it
    // is): the request still in word 868, taken as take_request takes it.
    static bool take_request(unsigned char* block, unsigned char (*images)[ZdrRamPara::kSlotSize]);

    // Carries out the acts waiting when it is called, in the order taken;
    // the number of saves among them (a save a later act replaced counted
    // too). Run by one thread at a time (a second one waits).
    static int carry_out(ZdrRamPara& store);
    // Slots with an act waiting (at most kSlotCount), and the most that
    // ever waited at once.
    static size_t waiting();
    static size_t most_waiting();
    // Tests: forgets what waits.
    static void reset_for_test();

private:
    friend class ParaWriteLock;
    // A flag 2 being raised (ParaWriteLock::raise(2), in its hold): each
    // saved slot's file is written as the slot is now, each emptied slot's
    // files go.
    static void take_slot_files(ParaWriteLock& lock);
};
