// Input-source manager: the six inputs' receivers, the transmitters, EDID
// memories and the FPGA clock set-up.
#pragma once

#include <atomic>

// Timing record of one input, written by the receiver drivers under
// Utils::_source_hdminfo_mutex and read by the chip manager.
struct HdmiInfo {
    int Hact = 0;
    int Hsync = 0;
    int Hback = 0;
    int Hpol = 0;
    int Htotal = 0;
    int Vact = 0;
    int Vsync = 0;
    int Vback = 0;
    int Vpol = 0;
    int Vtotal = 0;
    float pfreq = 0;      // MHz
    int type = 0;
    int datamode = 0;
    int lane = 0;         // V-by-One lane count
    int ip = 0;           // 1 interlaced
    int nosignal = 1;     // 1 no signal
    int stable = 0;       // 0 while the input is not yet stable
};

class velmosource {
public:
    static velmosource* pInstance();
    static velmosource* p_velmo_source;

    // Per-FPGA clock set-up state: 1 while being set up, 2 when done.
    std::atomic<unsigned char> fpga_clk_setup_state[2] = {{0}, {0}};

    // Timing records of inputs 0 to 5.
    HdmiInfo hdminfo[6];

    // Requests posted by the chip manager and served by the source-check
    // thread: rewrite an input's EDID memory (with edid_custom_select 0:
    // from the block's EDID record), and re-select the audio.
    std::atomic<unsigned char> edid_write_request[6] = {{0}, {0}, {0}, {0}, {0}, {0}};
    std::atomic<unsigned char> edid_custom_select[6] = {{0}, {0}, {0}, {0}, {0}, {0}};
    std::atomic<unsigned char> volume_update_request{0};

    // Opens the I2C bus and starts the source-check thread.
    int initialize();

    // Sets up the clock chip of FPGA fpga (0 or 1): fpga_clk_setup_state
    // is 1 while it runs and 2 when done. Run by the source-check thread.
    void s5p210_setup(int fpga);

    // Descriptor of /dev/i2c-0 (-1 until initialize()).
    int i2c_fd = -1;

private:
    velmosource();
};
