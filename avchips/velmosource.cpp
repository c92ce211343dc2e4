#include "avchips/velmosource.h"

#include "core/logMsg.h"
#include "platform/platform.h"

#include <thread>

velmosource* velmosource::p_velmo_source = nullptr;

velmosource::velmosource() = default;

velmosource* velmosource::pInstance()
{
    if (!p_velmo_source)
        p_velmo_source = new velmosource();
    return p_velmo_source;
}

int velmosource::initialize()
{
    i2c_fd = platform::i2c().open("/dev/i2c-0");
    if (i2c_fd < 0)
        writeLogMsg(ERROR, "velmosource: cannot open /dev/i2c-0");
    // The source-check thread: the FPGAs' clock set-up first, so that the
    // FPGA thread may bring them up.
    std::thread([this] {
        s5p210_setup(0);
        s5p210_setup(1);
    }).detach();
    return 0;
}

// The clock chip's programming comes with the input drivers; the set-up
// marks its progress so that the FPGA thread may start.
void velmosource::s5p210_setup(int fpga)
{
    fpga_clk_setup_state[fpga & 1] = 1;
    fpga_clk_setup_state[fpga & 1] = 2;
}
