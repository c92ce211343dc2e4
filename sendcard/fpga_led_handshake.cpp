// The FPGA side of the LED panel re-initialisation handshake, and the
// freeze-output sequence that shares it.
#include "sendcard/fpga_manage.h"

#include "core/global.h"
#include "core/utils.h"

#include <QMutexLocker>
#include <functional>

namespace {

constexpr unsigned kFreezeTries = 501;

} // namespace

void fpga_manage::set_led_para_deal()
{
    if (get_fpga_status() != 1)
        return;
    // Short holds: the chip thread looks at the handshake under this mutex
    // while it holds its own manage mutex.
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    const unsigned int span = Utils::getTimeSpace(led_para_time);
    const unsigned char request = g_set_led_para.load();

    if (request == 1) {
        switch (g_set_led_setup.load()) {
        case 0:
            led_request_dark = 1;
            SCREEN_fpgactrl_status(0);   // black-out on both
            led_para_time = G_timeTicks;
            g_set_led_setup = 1;
            break;
        case 1:
            if (span >= 11) {
                led_para_time = G_timeTicks;
                SCREEN_fpgactrl_status(5);   // outputs off
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
    if (request == 2) {
        g_set_led_para = 0;
        g_set_led_setup = 0;
        reset_fpga_rst(0);
        reset_fpga_rst(1);
        // The bring-up sets the screen from the settings again.
        led_request_dark = 0;
        return;
    }
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
