// The rules by which the device refuses a request (status 1), as zdrlink
// can judge them from the request alone: zdrlink checks a request against
// them before it sends it, and names the rule when the device refuses one
// all the same (a request sent with "raw", or one whose refusal depends on
// the device's state, such as a user mode that is not saved).
#pragma once

#include "pcclient/pc_client.h"

#include <string>

namespace zdrlink {

struct Request {
    bool card = false;          // to the sending card (0xF000), else the processor
    unsigned char fpga = 0;     // the sending card's FPGA
    unsigned char command = 0;
    pcclient::Bytes payload;
};

// What in the request the device refuses, and why; empty when nothing is
// known to be wrong with it.
std::string refusal(const Request& r);

// The same for a file upload's start: type, tag and size.
std::string uploadRefusal(unsigned type, const std::string& tag, unsigned long long size);

// After the device refused the request: refusal(r) when it names a rule,
// else what the device checks that the request alone does not show.
std::string refusalNote(const Request& r);

} // namespace zdrlink
