// The FPGAs' port pairs: one owner for every frame sent to the receiving
// cards and for the read-out of their answers.
//
// The rule: a frame goes out on a port pair in five transfers (the port
// selected, the pair's transmit block, its two length registers, its start
// bit), and the four pairs of an FPGA share the select, length-high and
// start registers; a frame filled in between them sends another sender's
// frame in its place, or one frame twice. So every frame goes out through
// send() alone, whoever sends it (the card search, the card jobs, the light
// sensor, the PC's pass-through), and the look at the pair's busy bit, the
// fill and the start are one hold of the port hold, taken again for each
// look while the pair is busy. The receive channels share those registers:
// their read-out (status, length, block, release) runs under the same hold
// (fpga_manage::reg_IRQ_Dealwith and what it calls take a Hold), so that an
// answer is read and released once. One hold serves both FPGAs; it is
// taken after the FPGA record and link mutexes and before the FPGA image
// mutex, the pass-through's leaf locks and the SPI bus, and a thread under
// an SPI bus bound (a PC's pass-through) waits for it no longer than that.
#pragma once

#include <atomic>
#include <cstdint>
#include <pthread.h>

class fpga_manage;

class PortPairs {
public:
    // The registers of port pair p (0..7) of an FPGA; a length in them is
    // the frame's length - 1.
    struct Regs {
        unsigned txBlock, txLen, txHighReg, rxBlock, rxLen, rxHighReg;
        unsigned statusReg;    // 129 or 145: ready bit 2(p%4), busy bit 2(p%4)+1
        unsigned ctrlReg;      // 130 or 146: release bit p%4, start bit 4 + p%4
        unsigned ackReg;       // 131 or 147
        unsigned selectReg;    // 132 or 148
        unsigned char shift;   // 2 x (p % 4): the pair's bits in the length-high registers
        unsigned char bit;     // 1 << (p % 4)
    };
    static Regs regs(unsigned pair);

    // How long a sender waits for a busy pair at most (3 s).
    static constexpr uint64_t kSendReadyUs = 3000000;

    explicit PortPairs(fpga_manage& m);
    ~PortPairs();
    PortPairs(const PortPairs&) = delete;
    PortPairs& operator=(const PortPairs&) = delete;

    // The port hold for a scope; a thread may take it again inside it. It
    // is waited for as long as it takes, unless the thread is under an SPI
    // bus bound (fpga_manage::SpiBusBound) or untilUs is given (board
    // clock; 0 none, 1 already over): then by the earlier end or not at
    // all (held() false).
    class Hold {
    public:
        explicit Hold(PortPairs& pairs, uint64_t untilUs = 0);
        ~Hold();
        bool held() const { return held_; }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        PortPairs& pairs_;
        bool held_ = false;
    };

    // Sends a frame on port (0..15) of an FPGA: the pair waited for (at
    // most kSendReadyUs), then filled and started. A PC frame whose time
    // ends at deadlineUs (board clock; 0 no end, 1 already over) waits for
    // the pair and the hold no longer than what is left, nor for the SPI
    // bus when that is less than 3 s, and is given up then; any other frame
    // goes out over a pair that stayed busy (counted in busy_sends). 0 not
    // sent (given up, an FPGA in reset, a port above 15, a bad length), 1
    // sent, 2 sent over a pair that stayed busy for the whole 3 s.
    int send(const unsigned char* frame, unsigned short length, unsigned short port, unsigned char fpga,
             uint64_t deadlineUs);
    // Frames sent over a transmit buffer that stayed busy.
    unsigned busy_sends() const { return busySends_.load(); }

private:
    // Under the hold: whether the port's pair is free (its busy bit clear).
    bool pair_free(const Regs& r, unsigned char fpga, bool bounded);
    // Under the hold: the five transfers that fill and start the pair.
    void fill_and_start(const Regs& r, const unsigned char* frame, unsigned short length, unsigned short port,
                        unsigned char fpga);

    fpga_manage& m_;
    pthread_mutex_t mutex_;
    std::atomic<unsigned> busySends_{0};
};
