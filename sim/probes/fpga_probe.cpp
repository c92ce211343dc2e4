#include "sim/probes/fpga_probe.h"

#include "avchips/velmosource.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "platform/platform.h"
#include "sendcard/fpga_manage.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "ui/shell/advancedoption.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <atomic>
#include <ctime>
#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

using Args = std::vector<std::string>;

// The simulated wall clock: seconds ahead of the host's clock.
std::atomic<long long> g_clock_offset{0};

std::time_t simNow()
{
    return std::time(nullptr) + static_cast<std::time_t>(g_clock_offset.load());
}

} // namespace

void registerFpgaProbes()
{
    if (platform::backend() != platform::Backend::Sim)
        return;
    ControlChannel& control = Board::instance().control();
    fpga_manage::clock_now = simNow;
    control.add("fpga-status",
                "the FPGA gate, get_fpga_status, per FPGA bring-up and link state, clock set-up, "
                "forced colour, chip flag, LED handshake, port links",
                [](std::string& reply) {
                    fpga_manage* f = fpga_manage::p_fpga_manage;
                    velmosource* v = velmosource::p_velmo_source;
                    reply = "gate " + std::to_string(g_fpga_c331_start.load());
                    if (f) {
                        reply += "\nstatus " + std::to_string(f->get_fpga_status());
                        for (int i = 0; i < 2; ++i) {
                            reply += "\nfpga" + std::to_string(i) + " state " + std::to_string(f->fpga_state[i]) +
                                     " link " + std::to_string(f->link_state[i]) + " reg80 " +
                                     std::to_string(f->reg_image(static_cast<unsigned char>(i), 80)) + " reset " +
                                     std::to_string(f->fpga_rst_pending[i]);
                        }
                    }
                    if (v) {
                        reply += "\nclk " + std::to_string(v->fpga_clk_setup_state[0]) + " " +
                                 std::to_string(v->fpga_clk_setup_state[1]);
                    }
                    reply += "\nforce-bkcolor " + std::to_string(g_force_bkcolor.load()) + "\nchip-flag " +
                             std::to_string(c331_manage::para_change_flag.load()) + "\nled-para " +
                             std::to_string(g_set_led_para.load()) + " " + std::to_string(g_set_led_setup.load()) +
                             "\nscreen " + std::to_string(ScreenState.load());
                    if (f) {
                        // The brightness state is the FPGA thread's, kept
                        // under its record mutex.
                        FpgaMutexHold hold(f->fpga_record_mutex);
                        reply += "\nbri mode " + std::to_string(f->bri_mode) + " task " +
                                 std::to_string(f->bri_task_enabled) + " level " +
                                 std::to_string(f->reg_image(0, 64)) + " slot " +
                                 std::to_string(f->table().last_slot);
                    }
                    return true;
                });
    control.add("fpga-clock",
                "<seconds since 1970>|real: the wall clock the FPGA thread reads (schedules, "
                "brightness table); it runs on from the time set",
                [](const Args& args, std::string& reply) {
                    unsigned long long t = 0;
                    ArgReader a(args);
                    if (!a.count(1, 1) || (args[0] != "real" && !a.number(0, "seconds", 0, 0xFFFFFFFFull, t)))
                        return a.refuse("fpga-clock <seconds since 1970>|real", reply);
                    g_clock_offset = args[0] == "real" ? 0 : static_cast<long long>(t) - std::time(nullptr);
                    return true;
                });
    control.add("fpga-image", "<fpga> <register>: a byte of the manager's register image",
                [](const Args& args, std::string& reply) {
                    unsigned long long i, r;
                    fpga_manage* f = fpga_manage::p_fpga_manage;
                    ArgReader a(args);
                    if (!f || !a.count(2, 2) || !a.number(0, "fpga", 0, 1, i) || !a.number(1, "register", 0, 255, r))
                        return a.refuse("fpga-image <0|1> <register>", reply);
                    reply = std::to_string(f->reg_image(static_cast<unsigned char>(i), static_cast<unsigned>(r)));
                    return true;
                });
    control.add("fpga-led-request",
                "<width> <height>: a new LED screen size, posted as a page does (store, "
                "handshake request, chip flag)",
                [](const Args& args, std::string& reply) {
                    unsigned long long w, h;
                    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
                    ArgReader a(args);
                    if (!store || !a.count(2, 2) || !a.number(0, "width", 0, 0xFFFF, w) ||
                        !a.number(1, "height", 0, 0xFFFF, h))
                        return a.refuse("fpga-led-request <width> <height>", reply);
                    C331ParaLock lock;
                    {
                        ParaWriteLock bytes;
                        setLe16(bytes.block(), para::kLedWidth, static_cast<uint16_t>(w));
                        setLe16(bytes.block(), para::kLedHeight, static_cast<uint16_t>(h));
                        bytes.raise(1);
                    }
                    {
                        QMutexLocker led(&Utils::_led_para_init_mutex);
                        g_set_led_para = 1;
                        g_set_led_setup = 0;
                    }
                    return true;
                });
    control.add("card-job",
                "the receiving-card job running (0 none), the check's card reply, the advanced settings "
                "page's recovery status and result lines",
                [](std::string& reply) {
                    reply = "job " + std::to_string(fpga_card_job()) + " reply " +
                            std::to_string(fpga_card_reply()) + " status " +
                            std::to_string(AdvancedOption::recovery_status()) + " results";
                    for (const QString& line : AdvancedOption::result_list())
                        reply += " " + line.toStdString();
                    return true;
                });
}

} // namespace sim
