// Shell of the simulated board: every command goes to the shell model.
#include "platform/backends.h"
#include "sim/board.h"
#include "sim/shell_model.h"

namespace platform {
namespace simboard {
namespace {

class SimShell : public Shell {
public:
    int run(const std::string& command) override
    {
        return sim::Board::instance().shell().run(command);
    }
    int capture(const std::string& command, std::string& output) override
    {
        return sim::Board::instance().shell().run(command, &output);
    }
};

} // namespace

Shell& shell()
{
    static SimShell instance;
    return instance;
}

} // namespace simboard
} // namespace platform
