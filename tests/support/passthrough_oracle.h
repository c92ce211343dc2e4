// A randomized round of the pass-through line with an oracle, in the
// process on a fresh simulated board: PCs on UDP, TCP and RS-485 send
// random sequences of plain reads and of unicast, broadcast and multicast
// reads and writes to receiving cards that answer at once, a little late,
// beyond their bound, or not at all; one port that answers misses a single
// request and then answers again, and a PC sends a request again when its
// answer did not come. The oracle checks that
//   - every answer a PC receives fits its own request in every field the
//     cards echo (port byte, card, opcode, and for a read the address and
//     length); an earlier request's late answer that fits is its answer;
//   - a request is answered when every port it went to answers it within
//     its bound (a multicast only then), and the one the miss met is
//     answered when sent again;
//   - the pass-throughs reach the cards in the order they arrived (where
//     one arrived clearly before the other and took its place then: its
//     PC's request before it had been answered);
//   - every request taken in is answered or ends in time (a PC's next
//     request is answered).
// The unit tests run it with a fixed seed, the soak with a random one; a
// failure names the seed that reproduces it.
#pragma once

#include "support/fpga_fixture.h"

#include <atomic>
#include <cstdint>
#include <thread>

class PassThroughLineTest : public FpgaTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // One round: `requestsPerPc` requests from each of the five PCs (two on
    // UDP, two on TCP, one on RS-485), the cards set up from the seed. The
    // board's clock runs `speed` times faster meanwhile.
    void runRandomRound(uint64_t seed, int requestsPerPc, double speed);

private:
    std::atomic<bool> stop_{false};
    std::thread ticker_;
};
