// Sending-card FPGA manager: the two FPGAs, their flashes, the emulated
// sending-card registers and pages, and the FPGA thread.
#pragma once

#include <atomic>
#include <memory>

namespace platform {
class MemWindow;
}

class fpga_manage {
public:
    static fpga_manage* pInstance();
    static fpga_manage* p_fpga_manage;

    // Change flags raised by the chip thread for what the sending card must
    // redo, applied and cleared by the FPGA thread: screen geometry,
    // brightness (under Utils::_bri_set_mutex), black-out and output state.
    std::atomic<unsigned char> lcd_change_flag{0};
    std::atomic<unsigned char> bri_change_flag{0};
    std::atomic<unsigned char> output_change_flag{0};

    // Drives both FPGA select lines high so that a message on the shared SPI
    // bus reaches the c331 chip and no FPGA. Called with Utils::_spi_mutex
    // held. A no-op (logged once) while the GPIO window is not mapped.
    void release_select_lines();

    // The GPIO register window (SoC pads) mapped at start; null until then.
    std::unique_ptr<platform::MemWindow> gpio_window;

private:
    fpga_manage();
    ~fpga_manage();
};

// GPIO pad offsets (from the start of the mapped window) of the two FPGA
// select lines. Writing 0x0010 drives a line high, 0x0000 low.
constexpr unsigned kFpga0SelectPad = 0x207810;
constexpr unsigned kFpga1SelectPad = 0x207900;
constexpr unsigned short kPadHigh = 0x0010;
constexpr unsigned short kPadLow = 0x0000;

// 1 while the LED screen is shown, 0 while it is blacked out.
extern std::atomic<unsigned char> ScreenState;

// The LED panel re-initialisation handshake, changed only under
// Utils::_led_para_init_mutex: a requester sets g_set_led_para to 1 (and
// g_set_led_setup to 0), the chip thread re-initialises its panel and posts
// 2, the FPGA thread resets the FPGAs and clears both.
extern std::atomic<unsigned char> g_set_led_para;
extern std::atomic<unsigned char> g_set_led_setup;

// What the touch pages ask of the FPGA manager (GUI thread):
// - the output ports' link state as get_wlan_state() gives it: FPGA 0's
//   port bits in the low 16 bits, FPGA 1's in the high 16 bits;
unsigned int fpga_wlan_state();
// - whether both FPGAs run (their register image byte 80 is 3), which an LED
//   panel re-initialisation request needs;
bool fpga_both_running();
// - the receiving-card job of g_send_para: its job code (0 idle), the
//   posting of a job (job code, step 0, and the loader sub-step) while none
//   runs (false when one runs), the end of a job (job code and step
//   cleared, as the FPGA thread does), and the card reply of a check
//   (65535 none yet, 255 all cards sound, else the card to restore).
unsigned char fpga_card_job();
bool fpga_post_card_job(unsigned char job, unsigned char loaderSubStep);
void fpga_end_card_job();
unsigned short fpga_card_reply();
