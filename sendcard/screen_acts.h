// What the LED screen shows, lit or dark: its last act.
//
// The rule: every way the screen is lit or darkened on purpose is an act,
// recorded here when it happens, and the latest act decides, ordered by
// when each act happened. An act happening now (the PC's, the page's,
// start-up) is the latest there is. An on or off time of the schedule
// happened at its minute, however late the FPGA thread reaches it: it
// replaces only acts recorded before the schedule's look at the minute
// before, or timed before its minute. The PC's RAM write of the black-out
// word (2116), applied by its flag, is an act there only when it sets
// another value than the last act on the word. The FPGA manager owns this
// record and shows on every FPGA that is up, and on every FPGA it brings
// up, what it says. Two things stand in for it for a while, and neither
// changes it: an LED request holds the screen dark from its black-out until
// the chip's answer resets both FPGAs, at most 8 s after the request began
// (sendcard/fpga_led_handshake.cpp); and an FPGA's reset clears its
// register 0 with its outputs off, until its bring-up sets the black-out
// bit from the record before its outputs go on. Nothing else writes the
// black-out bit: the PC's write of it is an act of its own.
#pragma once

#include "core/zdrrampara.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>

class ScreenActs : public BlackoutWordListener {
public:
    // The acts: the PC's black-out word 2116 (item 5, a user-mode load, any
    // user's write of the word into the block; the PC's RAM write at its
    // flag), the PC's write of register 0's black-out bit (on the FPGA
    // written), an on or off time at its minute, and start-up (lit).
    enum class Kind : unsigned char { Start, BlackoutWord, Register0, OnTime, OffTime };
    struct Act {
        Kind kind = Kind::Start;
        bool dark = false;
        uint64_t seq = 0;     // order of the acts as they were recorded
        long long wall = 0;   // local seconds since 1970 when it happened
    };
    // What an act applies to: each FPGA's screen, and word 2116 (the on
    // time takes the PC's black-out back).
    static constexpr unsigned kFpga0 = 1, kFpga1 = 2, kScreen = 3, kWord = 4;
    static constexpr uint64_t kNow = UINT64_MAX;

    // now: where the wall clock is read (the seconds since 1970).
    explicit ScreenActs(const std::atomic<std::time_t (*)()>& now) : now_(now) {}
    ScreenActs(const ScreenActs&) = delete;
    ScreenActs& operator=(const ScreenActs&) = delete;

    // Records an act on targets (kFpga0, kFpga1, kWord bits): one
    // happening now (lookSeq kNow) replaces what each target holds; one of
    // the schedule at its minute (act.wall) replaces only a target whose
    // act was recorded at or before lookSeq, happened before that minute,
    // or is the schedule's own of that minute. Returns the target bits it
    // replaced (0: none, the act is dropped); when it replaced any, the
    // act's seq is stored at *seq. Any thread.
    unsigned record(Act act, unsigned targets, uint64_t lookSeq = kNow, uint64_t* seq = nullptr);
    // The PC's write of register 0's black-out bit on one FPGA.
    void register0_written(unsigned char fpga, bool dark);
    // The black-out word (told by the store).
    void word_written(bool dark) override;
    void word_applied(bool dark) override;

    Act of(unsigned char fpga);
    Act word_last();
    // The count of acts recorded so far (the latest act's seq).
    uint64_t recorded();

    // The wall clock as local seconds since 1970 (the scale of Act::wall).
    static long long local_seconds(std::time_t t);

private:
    const std::atomic<std::time_t (*)()>& now_;
    std::mutex mutex_;
    Act fpga_[2];   // what each FPGA is to show
    Act word_;      // the last act on word 2116
    // The PC's RAM write of the word applied by its flag since that act
    // (seq 0: none), an act or not.
    Act applied_;
    uint64_t count_ = 0;
};
