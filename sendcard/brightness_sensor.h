// The light sensor of the automatic brightness: which card carries it, the
// read under way, the last good reading and the failed reads.
//
// The rule: the sensor is on the first multi-function card the card search
// found (FPGA 0's ports before FPGA 1's, each FPGA's sixteen ports in
// order); none is found, none is read. A read takes only an answer with
// status 0, the read's mark and all 128 data bytes. Each read nobody
// answered counts a failure; the brightness task moves the level from a
// good reading, forces the full level at the tenth failure and starts the
// count again, and a brightness record the PC stores starts it again too.
// The FPGA manager owns this state (its `sensor()` shows it); nothing else
// writes it.
#pragma once

#include <cstring>

class BrightnessSensor
{
public:
    // The mark (the read's opcode) a sensor answer carries.
    static constexpr unsigned char kReadMark = 97;
    static constexpr unsigned kDataBytes = 128;

    // Address 0x4000 .. 0x7000 of the card on its port (0: no card).
    unsigned short addr() const { return addr_; }
    // Port group 1..8: 1..4 FPGA 0's, 5..8 FPGA 1's (0: no card).
    unsigned char group() const { return group_; }
    // The port and FPGA of the card, for the frames sent to it.
    unsigned short port() const
    {
        const unsigned char g = static_cast<unsigned char>((group_ - 1) % 4);
        return static_cast<unsigned short>(((addr_ - 0x4000) >> 12) + 4 * g);
    }
    unsigned char fpga() const { return group_ > 4 ? 1 : 0; }
    // A reading the task has not used yet; the last read was answered.
    bool reading_fresh() const { return data_valid_ != 0; }
    bool answered() const { return reply_ok_ != 0; }
    // The last good reading's 128 data bytes.
    const unsigned char* data() const { return data_; }
    // Failed reads since the count last started.
    unsigned failures() const { return failures_; }

private:
    friend class fpga_manage;

    // The card search's status bytes of both FPGAs (pages[f][offsets[p]]
    // not 0: a card on FPGA f's port p).
    void find(const unsigned char* const pages[2], const unsigned short* offsets)
    {
        addr_ = 0;
        group_ = 0;
        for (unsigned char f = 0; f < 2; ++f) {
            for (unsigned p = 0; p < 16; ++p) {
                if (pages[f][offsets[p]] == 0)
                    continue;
                addr_ = static_cast<unsigned short>(0x4000 + 0x1000 * (p % 4));
                group_ = static_cast<unsigned char>(1 + p / 4 + 4 * f);
                return;
            }
        }
    }
    void read_starts()
    {
        data_valid_ = 0;
        reply_ok_ = 0;
    }
    // Takes an answer (status byte, mark byte, 128 data bytes); false when
    // it is not one.
    bool take(const unsigned char* reply, unsigned length)
    {
        if (!reply || length < 2 + kDataBytes || reply[0] != 0 || reply[1] != kReadMark)
            return false;
        std::memcpy(data_, reply + 2, kDataBytes);
        data_valid_ = 1;
        reply_ok_ = 1;
        return true;
    }
    void reading_used() { data_valid_ = 0; }
    void read_failed() { ++failures_; }
    void count_again() { failures_ = 0; }

    unsigned short addr_ = 0;
    unsigned char group_ = 0;
    unsigned char data_valid_ = 0;
    unsigned char reply_ok_ = 0;
    unsigned char data_[kDataBytes] = {};
    unsigned failures_ = 0;
};
