// The FPGA side of an LED request (a new LED screen size, or the advanced
// settings page's re-initialisation), and the freeze-output sequence that
// shares its step.
//
// The rule of a request:
// - It begins when this thread first sees it: g_set_led_para 1 (posted by a
//   page: black-out, outputs off, then the chip's turn), or 2 (the chip has
//   re-initialised its panel, for a size a PC stored or after those steps).
// - Before it changes anything it waits for both FPGAs to be up (and not
//   held by the PC's register 0 bit 3), at most kLedRequestWaitUs of the
//   board's monotonic clock after it began. From then on each step acts on
//   the FPGAs that are up and waits for no other.
// - From its black-out the screen is held dark (led_request_dark) until the
//   chip's answer resets both FPGAs, and never longer than
//   kLedRequestBoundUs after the request began (a page's new post begins it
//   again): then the FPGAs that are up show the screen's last act with
//   their outputs on, and the chip's answer is still taken when it comes.
// - The chip's answer resets both FPGAs, up, silent or coming up: each is
//   brought up to the new size and shows the screen's last act
//   (sendcard/screen_acts.h), whenever it answers again.
#include "sendcard/fpga_manage.h"

#include "core/global.h"
#include "core/utils.h"
#include "platform/clock.h"

#include <QMutexLocker>
#include <functional>

namespace {

constexpr unsigned kFreezeTries = 501;

} // namespace

void fpga_manage::set_led_para_deal()
{
    // Short holds: the chip thread looks at the handshake under this mutex
    // while it holds its own manage mutex.
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    const unsigned int span = Utils::getTimeSpace(led_para_time);
    const unsigned char request = g_set_led_para.load();

    if (request == 1 || request == 2 || led_request_phase != kLedRequestNone) {
        const uint64_t now = platform::clock().nowUs();
        const bool posted = request == 1 && g_set_led_setup.load() == 0;
        if (led_request_phase == kLedRequestNone || (posted && led_request_phase == kLedRequestUnderWay)) {
            if (led_request_phase == kLedRequestNone)
                led_request_phase = kLedRequestBegun;
            led_request_began_us = now;
        }
        const uint64_t age = now - led_request_began_us;
        if (request == 0) {
            // Handed to the chip: the screen is held until its answer, and
            // no longer than the bound.
            if (age >= kLedRequestBoundUs && led_request_dark.load() != 0)
                end_led_request_hold();
            return;
        }
        if (led_request_phase == kLedRequestBegun) {
            if (get_fpga_status() != 1 && age < kLedRequestWaitUs)
                return;
            led_request_phase = kLedRequestUnderWay;
        }
        if (request == 2) {
            g_set_led_para = 0;
            g_set_led_setup = 0;
            reset_fpga_rst(0);
            reset_fpga_rst(1);
            // Each bring-up sets the screen from its last act.
            led_request_dark = 0;
            led_request_phase = kLedRequestNone;
            return;
        }
        if (age >= kLedRequestBoundUs) {
            // The steps did not end in time (no tick): the chip takes its
            // turn now and the screen is shown meanwhile.
            g_set_led_para = 0;
            g_set_led_setup = 0;
            g_led_panel_reinit = 1;
            end_led_request_hold();
            return;
        }
        switch (g_set_led_setup.load()) {
        case 0:
            led_request_dark = 1;
            for (unsigned char i = 0; i < 2; ++i) {
                if (fpga_up(i))
                    SCREEN_fpgactrl_status2(0, i);   // black-out
            }
            led_para_time = G_timeTicks;
            g_set_led_setup = 1;
            break;
        case 1:
            if (span >= 11) {
                led_para_time = G_timeTicks;
                for (unsigned char i = 0; i < 2; ++i) {
                    if (fpga_up(i))
                        write_to_register(3, 0x20, 0x00, i);   // outputs off
                }
                g_set_led_setup = 2;
            }
            break;
        case 2:
            if (span >= 31) {
                led_para_time = G_timeTicks;
                g_set_led_setup = 0;
                g_set_led_para = 0;
                // The chip sets its panel up and answers whatever the size
                // is by now (it may have gone back to the one shown): a
                // screen blanked for a request is always brought back by
                // the reset that follows the answer.
                g_led_panel_reinit = 1;
            }
            break;
        default:
            break;
        }
        return;
    }
    if (get_fpga_status() != 1)
        return;
    if (g_freeze_out.load() != 1)
        return;

    const unsigned char* reg0 = MCU_REG_func[0];
    const unsigned char* reg1 = MCU_REG_func[1];
    // A step of the sequence: at least 21 ticks after the last, then on.
    auto stepAfter21 = [this, span](unsigned char next, const std::function<void()>& action) {
        if (span < 21)
            return;
        action();
        g_set_led_setup = next;
        led_para_time = G_timeTicks;
    };
    switch (g_set_led_setup.load()) {
    case 0:
        if (span < 21)
            break;
        if ((reg0[22] & 0x04) || (reg1[22] & 0x04)) {
            ++led_para_count;
            SCREEN_fpgactrl_status(9);
            if (led_para_count < kFreezeTries) {
                led_para_time = G_timeTicks;
                break;
            }
        }
        g_set_led_setup = 1;
        led_para_time = G_timeTicks;
        break;
    case 1:
        stepAfter21(2, [this] { SCREEN_fpgactrl_status(7); });   // output enable off
        break;
    case 2:
        stepAfter21(100, [this] { SCREEN_fpgactrl_status(8); });   // and on again
        break;
    case 100:
        stepAfter21(99, [this] {
            write_to_register(23, 0x20, 0x20, 0);   // freeze pulse
            write_to_register(23, 0x20, 0x20, 1);
        });
        break;
    case 99:
        stepAfter21(3, [this] {
            write_to_register(23, 0x20, 0x00, 0);
            write_to_register(23, 0x20, 0x00, 1);
        });
        break;
    case 3:
        if (span < 21)
            break;
        SCREEN_fpgactrl_status(4);
        g_set_led_setup = 4;
        led_para_count = 0;
        break;
    case 4:
        if (span <= 10)
            break;
        // The sequence ends with the screen as its last act says.
        if ((reg0[22] & 0x80) && (reg1[22] & 0x80)) {
            g_freeze_out = 0;
            show_screen_record(true);
            g_set_led_setup = 0;
        } else {
            ++led_para_count;
            SCREEN_fpgactrl_status(9);
            if (led_para_count >= kFreezeTries) {
                g_freeze_out = 0;
                show_screen_record(true);
                g_set_led_setup = 0;
            }
        }
        led_para_time = G_timeTicks;
        break;
    default:
        break;
    }
}

void fpga_manage::end_led_request_hold()
{
    led_request_dark = 0;
    for (unsigned char i = 0; i < 2; ++i) {
        if (fpga_up(i))
            SCREEN_fpgactrl_status2(4, i);   // outputs on
    }
    show_screen_record(true);
}
