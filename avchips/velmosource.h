// Input-source manager: the six inputs' receivers, the transmitters, EDID
// memories and the FPGA clock set-up.
#pragma once

#include "core/published.h"
#include <atomic>
#include <cstdint>

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
    static Published<velmosource> p_velmo_source;

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

    // I2C addresses of input i's receiver and EDID EEPROM.
    static constexpr uint16_t kReceiverAddr = 0x48;
    static constexpr uint16_t kEdidEepromAddr = 0x58;

    // One pass of the source-check thread: every input, then the EDID and
    // audio requests.
    void source_check_pass();

    // Reads input's receiver and updates hdminfo[input] and the block's
    // input signal record. 0 done, -1 when the receiver did not answer
    // (both records then stay as they were).
    int poll_input(int input);

    // Serves edid_write_request: writes each requested input's EEPROM and
    // clears the request (a failed write is retried on the next passes, at
    // most kEdidTries times).
    void about_set_edid_deal();
    static constexpr int kEdidTries = 3;

    // Serves volume_update_request: selects the audio of the layer named by
    // the block's audio window and clears the request.
    void about_volume_deal();
    // The audio selection: input (-1 none), level and on bit.
    std::atomic<int> audio_input{-1};
    std::atomic<int> audio_level{0};
    std::atomic<int> audio_on{0};

    // A 128-byte EDID with one detailed timing for width x height @ hz.
    // false (edid untouched) when the size or rate is out of range; the
    // width and height range from kEdidMinSize to kEdidMaxSize.
    static constexpr int kEdidMinSize = 64;
    static constexpr int kEdidMaxSize = 4095;
    // Whether an EDID can carry width x height @ hz: the sizes above, 24 to
    // 240 Hz, and a pixel clock of at most 655.35 MHz.
    static bool edid_timing_fits(int width, int height, int hz);
    static bool Set_Custom_HDMI_EDID(uint8_t* edid, int width, int height, int hz);
    // The EDID used when no custom record applies (1920 x 1080 @ 60).
    static void default_edid(uint8_t* edid);
    // Writes 128 bytes to input's EEPROM in 8-byte pages and reads them
    // back; 0 when they match.
    int write_edid(int input, const uint8_t* edid);

private:
    velmosource();
    unsigned char edid_tries_[6] = {};
};
