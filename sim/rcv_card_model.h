// The LED receiving cards on the Ethernet chain behind one FPGA port. A
// chain holds a number of cards (0..4095), each with a small RAM and a log
// of the frames it took. A request is accepted when it is a whole frame
// (at least 11 bytes, byte 4 0x10, a correct XOR check byte) addressed to a
// card of the chain (its index with the port's bits 12-13), to every card
// (0x0FFF) or to the search address (0x0FFE). Each accepted request gets
// exactly one answer, to the requester's address, from the card addressed
// (card 0 for the chain-wide addresses), its source word carrying the
// card index and the port bits:
//   search (0x10): byte 10 status 0, bytes 11-12 the card count, byte 13
//   the multi-function flag;
//   write RAM (0x60): stored, answered with status 0;
//   read RAM (0x61): address (u32) and count (u16) as in a write, answered
//   with the bytes (at most 256);
//   anything else: status 0.
// A chain without cards answers nothing. Fault switches: silent (no
// answers) and badcheck (answers with a wrong check byte).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace sim {

class RcvCardChain {
public:
    enum class Fault { None, Silent, BadCheck };

    static constexpr unsigned kCardRam = 4096;
    static constexpr unsigned kMaxCards = 4095;

    explicit RcvCardChain(int port) : port_(port) {}

    void setCards(unsigned count);
    unsigned cards() const;
    void setMultiFunction(bool present);
    void setFault(Fault f);
    Fault fault() const;

    // Takes one frame sent on the port; the answer, or an empty vector.
    std::vector<uint8_t> request(const std::vector<uint8_t>& frame);

    // Frames taken by card c (accepted requests only), oldest first.
    std::vector<std::vector<uint8_t>> log(unsigned card) const;
    // Requests seen on the port (accepted or not).
    uint64_t requests() const;
    std::vector<uint8_t> cardRam(unsigned card, uint32_t address, uint32_t length) const;

private:
    int port_;
    mutable std::mutex mutex_;
    unsigned count_ = 0;
    bool multiFunction_ = false;
    Fault fault_ = Fault::None;
    uint64_t requests_ = 0;
    std::map<unsigned, std::vector<std::vector<uint8_t>>> log_;
    std::map<unsigned, std::vector<uint8_t>> ram_;
};

} // namespace sim
