// Shell commands on the device: handed to /bin/sh through system()/popen().
#include "platform/backends.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace board {
namespace {

class BoardShell : public Shell {
public:
    int run(const std::string& command) override
    {
        return ::system(command.c_str());
    }

    int capture(const std::string& command, std::string& output) override
    {
        output.clear();
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return -1;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
            output.append(buffer, n);
        return ::pclose(pipe);
    }
};

} // namespace

Shell& shell()
{
    static BoardShell instance;
    return instance;
}

} // namespace board
} // namespace platform
