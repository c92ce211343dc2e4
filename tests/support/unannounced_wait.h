// A service that waits without telling it does (a chip register print, a
// write behind a held SPI bus) lets the other worker read all the same: the
// scenario run against the link in the process and in the running program.
#pragma once

#include "pcclient/pc_client.h"

#include <functional>
#include <string>
#include <vector>

struct UnannouncedWait {
    unsigned short udpPort = 0;
    unsigned short tcpPort = 0;
    // The wire frame of a pass-through reading the answering card at address.
    std::function<pcclient::Bytes(unsigned char address)> cardRead;
    // The addresses of the reads that card took, in order.
    std::function<std::vector<unsigned>()> readsTaken;
    // Polls until the condition holds; false when the time is up.
    std::function<bool(const std::function<bool()>&, int timeoutMs)> waitFor;
};

// With UDP and with TCP serving: begin() arms what the service waits for and
// gives its wire frame; release(), if any, runs once the others have sent.
// A pass-through on the same transport at 0.15 s goes before one on the
// other transport at 0.3 s, and 40 UDP writes of 4000 bytes, 10 ms apart,
// more than the socket's buffer holds together, are all answered.
void runUnannouncedWait(const UnannouncedWait& link, const std::string& service,
                        const std::function<pcclient::Bytes()>& begin, const std::function<void()>& release = {});
