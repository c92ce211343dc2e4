// Shell command runner. Only this interface runs shell commands; callers go
// through Utils::system_mutex, which serialises them.
#pragma once

#include <string>

namespace platform {

class Shell {
public:
    virtual ~Shell() = default;
    // Runs one command; the result is what system() returns (exit status in
    // bits 8-15, -1 when the command could not be started).
    virtual int run(const std::string& command) = 0;
    // Runs one command and collects its standard output (popen()).
    virtual int capture(const std::string& command, std::string& output) = 0;
};

} // namespace platform
