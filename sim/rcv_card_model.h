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
// answers) and badcheck (answers with a wrong check byte) for the whole
// chain, and silent for one card (setCardSilent): that card still takes
// its frames and passes them down the chain, but answers nothing, so a
// frame to every card, which card 0 answers, goes unanswered when card 0
// is silent. A chain can also miss a number of requests (setMissNext): it
// takes the next ones it would answer, but answers none of them, and
// answers again after them.
//
// Card check: a search frame with its flag byte (16) set asks the cards to
// compare their configuration with the screen's config id (bytes 17-20);
// the answer is 24 bytes long and carries the config id's low byte at 18
// and at 22 either 255 (every card sound) or the index of the first faulty
// card. A card is marked faulty by the fault switch "faulty card index"
// (setFaultyCard) and becomes sound again when a RAM or register write
// addressed to it by its own index reaches it (a restore).
// Frames addressed to every card (0x0FFF) reach every card of the chain
// and stand in each card's log: RAM (0x60) is stored, a register write (0xA0) with the payload 03 0F 01 v
// sets the mapping switch to v, save (0x81) and activate (0xB4) are
// counted per card.
//
// Multi-function card: a chain with one (setMultiFunction) also answers
// RAM reads (0x61) sent to the multi-function addresses 0x4000..0x7FFF with
// the bytes of its sensor memory (256 bytes, zero at start), after the
// echoed address and count.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
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
    // One card takes its frames but answers nothing. A card that is not in
    // the chain is refused (false, nothing changed); cards is set to the
    // chain's count either way.
    bool setCardSilent(unsigned card, bool silent, unsigned& cards);
    bool cardSilent(unsigned card) const;
    // The chain answers none of the next `count` requests it would answer.
    void setMissNext(unsigned count);

    // Takes one frame sent on the port; the answer, or an empty vector.
    std::vector<uint8_t> request(const std::vector<uint8_t>& frame);

    // Frames taken by card c (accepted requests only), oldest first.
    std::vector<std::vector<uint8_t>> log(unsigned card) const;
    // For each of those frames, when it was taken: a number that grows
    // with every frame any chain of the board takes, so that frames taken
    // on different ports can be put in order.
    std::vector<uint64_t> logOrder(unsigned card) const;
    // And when, on the board's clock (microseconds).
    std::vector<uint64_t> logTimes(unsigned card) const;
    // Requests seen on the port (accepted or not).
    uint64_t requests() const;
    std::vector<uint8_t> cardRam(unsigned card, uint32_t address, uint32_t length) const;

    // The faulty card (-1 none).
    void setFaultyCard(int card);
    int faultyCard() const;
    // Save-to-flash and activate frames a card took; the chain's mapping
    // switch value (-1 never set).
    unsigned saves(unsigned card) const;
    unsigned activations(unsigned card) const;
    int mappingValue() const;
    // The multi-function card's sensor memory.
    void setSensorByte(unsigned index, uint8_t value);
    // Fault switch: the answers arrive this many board microseconds after
    // the request (0: at once).
    void setDelayUs(uint64_t us);
    uint64_t delayUs() const;

private:
    int port_;
    mutable std::mutex mutex_;
    uint64_t delayUs_ = 0;
    unsigned count_ = 0;
    bool multiFunction_ = false;
    Fault fault_ = Fault::None;
    std::set<unsigned> silentCards_;
    unsigned missNext_ = 0;
    uint64_t requests_ = 0;
    std::map<unsigned, std::vector<std::vector<uint8_t>>> log_;
    std::map<unsigned, std::vector<uint64_t>> logOrder_;
    std::map<unsigned, std::vector<uint64_t>> logTimes_;
    std::map<unsigned, std::vector<uint8_t>> ram_;
    std::vector<uint8_t> sensor_ = std::vector<uint8_t>(256, 0);
    int faulty_ = -1;
    int mapping_ = -1;
    std::map<unsigned, unsigned> saves_;
    std::map<unsigned, unsigned> activations_;

    std::vector<uint8_t>& ramOf(unsigned card);
};

} // namespace sim
