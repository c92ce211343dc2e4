#include "sim/probes/c331_probe.h"

#include "core/utils.h"
#include "platform/platform.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <string>
#include <vector>

namespace sim {

void registerC331Probes()
{
    c331_manage* m = c331_manage::p_c331_manage;
    if (platform::backend() != platform::Backend::Sim || !m)
        return;
    sim::Board::instance().control().add(
        "c331-state", "init state, FPGA gate, identity reads and flags of the chip manager",
        [m](std::string& reply) {
            reply = "state=" + std::to_string(m->c331_init_state.load()) +
                    " gate=" + std::to_string(g_fpga_c331_start.load()) +
                    " good_ids=" + std::to_string(m->identity_good.load()) +
                    " bad_ids=" + std::to_string(m->identity_bad.load()) +
                    " flag=" + std::to_string(c331_manage::para_change_flag.load()) +
                    " force=" + std::to_string(g_force_bkcolor.load());
            return true;
        });
    sim::Board::instance().control().add(
        "c331-fonts", "the OSD fonts found in the chip flash (font_status)",
        [](std::string& reply) {
            reply = "font_status=" + std::to_string(c331_manage::font_status.load());
            return true;
        });
    sim::Board::instance().control().add(
        "c331-ports", "the input timing each chip port took over (input, Hact x Vact, nosignal)",
        [m](std::string& reply) {
            for (int p = 0; p < c331::kPortCount; ++p) {
                HdmiInfo h;
                {
                    QMutexLocker lock(&Utils::_source_hdminfo_mutex);
                    h = m->PI_HDMI_INFO[p];
                }
                reply += "port" + std::to_string(p) + " input=" + std::to_string(m->zdrApi_GetPortDevId(p)) +
                         " " + std::to_string(h.Hact) + "x" + std::to_string(h.Vact) +
                         " nosignal=" + std::to_string(h.nosignal) + "\n";
            }
            return true;
        });
}

} // namespace sim
