// The screen shown as its last act says (the record and its rule:
// sendcard/screen_acts.h), on every FPGA that is up.
#include "sendcard/fpga_manage.h"

void fpga_manage::show_screen_record(bool force)
{
    // While an LED request holds the screen dark, the request's end shows
    // the record (sendcard/fpga_led_handshake.cpp).
    if (led_request_dark.load() != 0)
        return;
    for (unsigned char i = 0; i < 2; ++i) {
        if (!fpga_up(i))
            continue;
        const ScreenActs::Act act = screen_acts.of(i);
        if (!force && act.seq == screen_shown_seq[i])
            continue;
        // Not answered: the FPGA is reset and its bring-up shows the record.
        if (write_to_register(kRegScreen, kScreenBlackout, act.dark ? kScreenBlackout : 0x00, i))
            screen_shown_seq[i] = act.seq;
    }
}
