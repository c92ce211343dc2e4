// Start-up of the program: the services in their fixed order, then the Qt
// application with the two top windows, the 10 ms tick and the connections
// that carry refresh and USB events into the GUI thread.
#include "avchips/velmosource.h"
#include "core/atomic_file.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/syncupdate.h"
#include "core/usbserver.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "link/k47_wifi_config.h"
#include "link/link_global.h"
#include "link/link_transport.h"
#include "link/networkmanage.h"
#include "link/uart_inout.h"
#include "link/uart_inout_4G.h"
#include "link/udpnetmanage.h"
#include "platform/platform.h"
#include "sendcard/fpga_manage.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

// How long a stop waits for the PCs' requests under way to be answered
// (most take milliseconds; one still under way then is not answered, and
// its PC asks again after the restart).
constexpr int kStopServingBoundMs = 1000;

const char* const kUsage =
    "usage: zdrK47N [-platform NAME] [Qt options]\n"
    "The control application of the LED-display video processor. On the device it\n"
    "runs as /data/app/zdrK47N -platform linuxfb; on a PC it runs on the simulated\n"
    "board.\n"
    "options:\n"
    "  --help, -h     this text (nothing is started)\n"
    "  -platform NAME Qt's display back end: linuxfb on the device; on a PC xcb\n"
    "                 (a window) or offscreen (headless)\n"
    "  Qt's other options are passed to Qt: -platformpluginpath, -platformtheme,\n"
    "  -plugin, -qwindowgeometry, -qwindowtitle, -qwindowicon, -geometry, -title,\n"
    "  -icon, -display, -name, -style, -stylesheet, -session, -qmljsdebugger=...,\n"
    "  -reverse, -widgetcount, -nograb, -dograb, -sync, -testability.\n"
    "environment (simulated board):\n"
    "  ZDR_BOARD_ROOT           the board root folder (default %s)\n"
    "  ZDR_SIM_SETTLE_MS        pause before start-up, in ms, 0 to 600000 (default 0;\n"
    "                           the device waits 3000)\n"
    "  ZDR_SIM_EPHEMERAL_PORTS  1: the PC ports (UDP 5008, TCP 5005, UDP 13769) take\n"
    "                           free ports; the control channel's link-ports names them;\n"
    "                           0 (the default): the device's ports (one that\n"
    "                           another program holds stops the program)\n"
    "  ZDR_SIM_START_COMMANDS   control commands, separated by ';', run before start-up\n"
    "  QT_QPA_PLATFORM          offscreen: headless (the default without a display)\n";

// Checks the command line before anything starts: --help prints the usage,
// and only Qt's own options are taken (the program has none of its own).
// Returns -1 to go on, otherwise the exit status.
int checkArguments(int argc, char** argv)
{
    static const char* const withValue[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                            "qwindowgeometry", "geometry", "qwindowtitle", "title",
                                            "qwindowicon", "icon", "display", "name", "style", "stylesheet",
                                            "session"};
    static const char* const flags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "-help") {
            std::printf(kUsage, platform::simDefaultBoardRoot());
            return 0;
        }
        // Qt takes its options with one dash or two.
        std::string name = arg.size() > 1 && arg[0] == '-' ? arg.substr(arg[1] == '-' ? 2 : 1) : std::string();
        bool known = false, needsValue = false;
        const size_t eq = name.find('=');
        if (eq != std::string::npos) {
            const std::string key = name.substr(0, eq);
            known = key == "style" || key == "stylesheet" || key == "qmljsdebugger";
        } else {
            for (const char* v : withValue) {
                if (name == v)
                    needsValue = true;
            }
            known = needsValue;
            for (const char* f : flags) {
                if (name == f)
                    known = true;
            }
        }
        if (!known) {
            std::fprintf(stderr, "zdrK47N: %s %s is not taken (zdrK47N --help lists the options)\n",
                         arg.empty() || arg[0] != '-' ? "the argument" : "the option", arg.c_str());
            return 2;
        }
        if (needsValue && ++i >= argc) {
            std::fprintf(stderr, "zdrK47N: %s needs a value (zdrK47N --help lists the options)\n", arg.c_str());
            return 2;
        }
    }
    return -1;
}

// SIGTERM and SIGINT end the program as a reboot does: the event loop ends
// and the program leaves cleanly (on the simulated board the control
// socket goes with it). The handler only writes a byte into a pipe; the GUI
// thread watches the other end and ends the loop.
int g_quitPipe[2] = {-1, -1};

void onQuitSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    if (::write(g_quitPipe[1], &byte, 1) < 0) {
        // The pipe is full: a request is already waiting.
    }
    errno = saved;
}

// Before anything starts: a signal that comes during start-up is taken
// once the event loop runs.
bool catchQuitSignals()
{
    if (::pipe2(g_quitPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGINT, &action, nullptr) == 0;
}

// The pause for the hardware to settle after power-on; false when SIGTERM
// or SIGINT came meanwhile (the program then stops before it starts).
bool settleUnlessAskedToStop(unsigned ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return true;
        pollfd p{g_quitPipe[0], POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
        if (r > 0)
            return false;
    }
}

// In the GUI thread, once the application exists.
void quitOnSignals(QObject* owner)
{
    auto* notifier = new QSocketNotifier(g_quitPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char bytes[16];
        while (::read(g_quitPipe[0], bytes, sizeof(bytes)) > 0) {
        }
        writeLogMsg(INFO, "zdrK47N asked to stop");
        QApplication::quit();
    });
}

// A port of the PC link that did not open: where the platform needs it
// (the simulated board on the device's ports, which another program on the
// machine holds), the program says so and stops; on the device it goes on
// without it (logged).
void checkLinkPort(const char* kind, unsigned port, bool open, int error)
{
    if (open || !platform::net().linkPortNeeded())
        return;
    std::fprintf(stderr,
                 "zdrK47N: %s port %u cannot be opened: %s; is another program on it? With "
                 "ZDR_SIM_EPHEMERAL_PORTS=1 the board takes free ports\n",
                 kind, port, std::strerror(error));
    std::fflush(stdout);
    std::fflush(stderr);
    // Services may already run: leave as the program always leaves, the
    // control channel closed.
    platform::programEnding();
    ::_exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    const int refused = checkArguments(argc, argv);
    if (refused >= 0)
        return refused;
    std::string badSetting;
    if (!platform::checkEnvironment(badSetting)) {
        std::fprintf(stderr, "zdrK47N: %s (zdrK47N --help lists the settings)\n", badSetting.c_str());
        return 2;
    }

    if (!catchQuitSignals()) {
        std::fprintf(stderr, "zdrK47N: cannot catch SIGTERM and SIGINT: %s\n", std::strerror(errno));
        return 1;
    }
    if (!platform::startForProgram()) {
        std::fprintf(stderr, "zdrK47N: the board could not be prepared\n");
        return 1;
    }

    // What writes cut short by a power cut left behind goes first.
    const int leftovers = removeWriteLeftovers();

    // Let the hardware settle after power-on.
    if (!settleUnlessAskedToStop(platform::settleDelayMs())) {
        std::fprintf(stderr, "zdrK47N: asked to stop before start-up\n");
        platform::programEnding();
        std::fflush(stdout);
        ::_exit(0);
    }

    udpnetManage* udp = udpnetManage::pInstance();
    checkLinkPort("UDP", udpnetManage::kControlPort, udp->control_port() != 0, udp->control_open_error());
    checkLinkPort("UDP", udpnetManage::kAtPort, udp->at_port() != 0, udp->at_open_error());
    ConfigEngine::pInstance();
    ZdrRamPara* rampara = ZdrRamPara::pInstance();
    velmosource* source = velmosource::pInstance();
    fpga_manage::pInstance();
    source->initialize();
    c331_manage::pInstance();
    lcd_touch::pInstance();
    Kq_uart_inout::pInstance();
    networkManage* tcp = networkManage::pInstance();
    checkLinkPort("TCP", static_cast<unsigned>(Utils::settings_copy(g_port)), tcp->port() != 0, tcp->open_error());
    Kq_uart_inout_4G::pInstance();
    K47_WIFI_CONFIG::pInstance();

    platform::prepareGui();
    QApplication app(argc, argv);
    quitOnSignals(&app);

    g_mainwindow = new MainWindow();
    g_lockwindow = new LockWindow();
    g_mainwindow->show();
    g_page_focus = 0;
    g_lockwindow->show();
    // The number keypad covers the right part of the screen.
    g_numberkeyboard->setGeometry(g_mainwindow->x() + 420, g_mainwindow->y(), 380, 480);

    Utils::start_tick_thread();
    g_timer = new QTimer();
    QObject::connect(g_timer, &QTimer::timeout, g_mainwindow, &MainWindow::slot_update_timer_ticks);
    g_timer->start(10);

    SyncUpdate* sync = SyncUpdate::pInstance();
    QObject::connect(rampara, &ZdrRamPara::sig_update_para, sync, &SyncUpdate::update_para, Qt::DirectConnection);
    UsbServer* usb = UsbServer::pInstance();
    QObject::connect(usb, &UsbServer::sig_usb_update, sync, &SyncUpdate::para_sync);

    // "reboot" ends the process; on the simulated board it ends the event
    // loop, and the program leaves cleanly.
    platform::setRebootHandler([] { QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection); });
    platform::programStarted();

    writeLogMsg(INFO, "zdrK47N started");
    if (leftovers > 0)
        writeLogMsg(WARNING, "files left by interrupted writes removed: " + std::to_string(leftovers));
    int rc = app.exec();
    // What was acknowledged before the stop is stored before the program
    // leaves: the PCs' requests stop being served and answered (those
    // under way have a second to end), then what they stored is written.
    if (!link_stop_serving(kStopServingBoundMs))
        writeLogMsg(WARNING, "a PC request still under way as the program left is not answered");
    sync->flush_on_stop();

    // What the platform opened for the program closes (the simulated
    // board's control channel and its socket); the worker threads never
    // stop: leave without running destructors under their feet.
    g_timer->stop();
    platform::programEnding();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(rc);
}
