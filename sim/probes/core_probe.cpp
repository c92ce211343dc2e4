#include "sim/probes/core_probe.h"

#include "core/gui_handoff.h"
#include "core/gui_post.h"
#include "core/usbserver.h"
#include "platform/platform.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/shell_global.h"

#include <QCoreApplication>
#include <atomic>
#include <future>
#include <string>
#include <vector>

namespace sim {

void registerCoreProbes()
{
    UsbServer* usb = UsbServer::p_usbserver;
    if (platform::backend() != platform::Backend::Sim || !usb || !qApp)
        return;
    // Codes as the GUI thread receives them, per code 100..102.
    static std::atomic<unsigned int> delivered[3];
    QObject::connect(usb, &UsbServer::sig_usb_update, qApp, [](int code) {
        gui_handoff::received();
        if (code >= UsbServer::kUsbAdded && code <= UsbServer::kUsbPartitionReady)
            ++delivered[code - UsbServer::kUsbAdded];
    });
    sim::Board::instance().control().add(
        "usb-events", "hot-plug source open, USB codes 100/101/102 emitted and delivered to the GUI",
        [usb](std::string& reply) {
            reply = "listening=" + std::to_string(usb->listening() ? 1 : 0);
            for (int code = UsbServer::kUsbAdded; code <= UsbServer::kUsbPartitionReady; ++code)
                reply += " " + std::to_string(code) + "=" + std::to_string(usb->emitted(code)) + "/" +
                         std::to_string(delivered[code - UsbServer::kUsbAdded].load());
            return true;
        });
    sim::Board::instance().control().add(
        "idle-names", "the input names on the idle status screen, input 0 to 5, one a line",
        [](std::string& reply) {
            std::promise<void> done;
            gui_post([&reply, &done] {
                for (int input = 0; input < 6; ++input)
                    reply += (input ? "\n" : "") + (g_lockwindow ? g_lockwindow->source_name(input).toStdString()
                                                                 : std::string());
                done.set_value();
            });
            done.get_future().wait();
            return true;
        });
}

} // namespace sim
