// Input-source manager: the six inputs' receivers, the transmitters, EDID
// memories and the FPGA clock set-up.
#pragma once

class velmosource {
public:
    static velmosource* pInstance();
    static velmosource* p_velmo_source;
    // Per-FPGA clock set-up state: 1 while being set up, 2 when done.
    unsigned char fpga_clk_setup_state[2] = {0, 0};

    // Opens the I2C bus and starts the source-check thread.
    int initialize();

private:
    velmosource();
};
