// The client side of the simulated board's control channel: one line to
// <root>/sim/control.sock and its answer, as zdrsim and zdrlink ask it.
#pragma once

#include <string>

namespace sim {

// Sends one request line (without its line break) to the control channel
// of the board at root and reads the answer up to its last line ("ok" or
// "error ..."). False, with why, when the channel cannot be reached.
bool askControl(const std::string& root, const std::string& line, std::string& answer, std::string& why);
// Whether an answer's last line is "ok".
bool answerOk(const std::string& answer);

} // namespace sim
