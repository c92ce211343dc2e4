#include "sim/probes/app_probe.h"

#include "core/global.h"
#include "core/gui_post.h"
#include "core/zdrrampara.h"
#include "link/networkmanage.h"
#include "link/udpnetmanage.h"
#include "videochip/c331_manage.h"
#include "platform/platform.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/probes/c331_probe.h"
#include "sim/probes/core_probe.h"
#include "sim/probes/fpga_probe.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_global.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <future>
#include <cstdio>
#include <cstdlib>

namespace sim {

void prepareGuiEnvironment()
{
    if (platform::backend() != platform::Backend::Sim)
        return;
    const QString home = QString::fromStdString(Board::instance().simFile("home"));
    QDir().mkpath(home + "/cache");
    QDir().mkpath(home + "/config");
    QDir().mkpath(home + "/data");
    QDir().mkpath(home + "/runtime");
    QFile::setPermissions(home + "/runtime", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CACHE_HOME", (home + "/cache").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home + "/config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home + "/data").toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (home + "/runtime").toLocal8Bit());
}

namespace {

// Runs f in the GUI thread and waits for it.
template <typename F>
void inGuiThread(F f)
{
    if (!qApp)
        return;
    // The answer comes back through a promise, whose wait orders the GUI
    // thread's work before the caller's reading of it.
    std::promise<void> done;
    gui_post([&f, &done] {
        f();
        done.set_value();
    });
    done.get_future().wait();
}

// The byte area of the parameter store a probe names: "block", "shadow",
// "status" or "slotN" (N = 0..15); null when there is no such area.
unsigned char* storeArea(const std::string& name, size_t& size)
{
    ZdrRamPara* p = ZdrRamPara::p_zdrrampara_config;
    if (!p)
        return nullptr;
    if (name == "block") {
        size = sizeof(p->ram_para);
        return p->ram_para;
    }
    if (name == "shadow") {
        size = sizeof(p->ram_para_shadow);
        return p->ram_para_shadow;
    }
    if (name == "status") {
        size = sizeof(p->run_status);
        return p->run_status;
    }
    unsigned long long n = 0;
    if (name.rfind("slot", 0) == 0 && parseUnsigned(name.substr(4), ZdrRamPara::kSlotCount - 1, n, 10)) {
        size = ZdrRamPara::kSlotSize;
        return p->mode_user_para[n];
    }
    return nullptr;
}

// A press or release of the simulated touch screen, delivered to the widget
// under it as the device's Qt would: to the top modal window when there is
// one (the idle status screen, a page, the keypad), else to the active one.
// The release goes to the widget that took the press.
void deliverTouch(int x, int y, bool pressed)
{
    static QPointer<QWidget> grabbed;
    QWidget* target = QApplication::activeModalWidget();
    if (!target)
        target = QApplication::activeWindow();
    if (!target)
        target = g_mainwindow;
    if (!target)
        return;
    const QPoint global(x, y);
    QWidget* receiver = target->childAt(target->mapFromGlobal(global));
    if (!receiver)
        receiver = target;
    if (pressed)
        grabbed = receiver;
    else if (grabbed)
        receiver = grabbed;
    QMouseEvent event(pressed ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, receiver->mapFromGlobal(global),
                      global, Qt::LeftButton, pressed ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(receiver, &event);
    if (!pressed)
        grabbed = nullptr;
}

// Called from the touch thread: hands the press to the GUI thread.
void touchSink(int x, int y, bool pressed)
{
    if (!qApp)
        return;
    gui_post([x, y, pressed] { deliverTouch(x, y, pressed); });
}

} // namespace

void registerAppProbes()
{
    if (platform::backend() != platform::Backend::Sim)
        return;
    // Qt does not read the simulated touch screen: its presses reach the
    // widgets through the touch thread.
    lcd_touch::tap_sink = &touchSink;
    ControlChannel& control = Board::instance().control();
    registerFpgaProbes();
    registerC331Probes();
    registerCoreProbes();
    control.add("idle-times", "idle-times <back> <lock>: ticks before the pages go home and the idle screen shows",
                [](const std::vector<std::string>& args, std::string& reply) {
                    // Both are ticks held in an unsigned int.
                    unsigned long long back = 0;
                    unsigned long long lock = 0;
                    if (args.size() != 2 || !parseUnsigned(args[0], 0xFFFFFFFFull, back) ||
                        !parseUnsigned(args[1], 0xFFFFFFFFull, lock)) {
                        reply = "usage: idle-times <back 0..4294967295> <lock 0..4294967295>";
                        return false;
                    }
                    inGuiThread([back, lock] {
                        g_back_to_mainwindow_time = static_cast<unsigned int>(back);
                        g_auto_lock_time = static_cast<unsigned int>(lock);
                    });
                    return true;
                });
    control.add("ticks", "ticks: the tick count G_timeTicks",
                [](std::string& reply) {
                    reply = std::to_string(G_timeTicks.load());
                    return true;
                });
    control.add("page-focus", "page-focus: the page in focus (g_page_focus)",
                [](std::string& reply) {
                    reply = std::to_string(g_page_focus.load());
                    return true;
                });
    control.add("store-read", "store-read <block|shadow|status|slotN> <offset> <length>: bytes in hex",
                [](const std::vector<std::string>& args, std::string& reply) {
                    size_t size = 0;
                    unsigned long long off = 0;
                    unsigned long long len = 0;
                    unsigned char* area = args.size() == 3 ? storeArea(args[0], size) : nullptr;
                    if (!area || !parseUnsigned(args[1], size, off) || !parseUnsigned(args[2], size, len) ||
                        len > size - off) {
                        reply = "usage: store-read <block|shadow|status|slotN> <offset> <length>";
                        return false;
                    }
                    // Read as the owners read: the user-mode slots in the GUI
                    // thread, the block under the store's short lock (never
                    // waiting for a change pass), the shadow and the status
                    // area under the manage mutex.
                    std::vector<unsigned char> bytes(len);
                    if (args[0].rfind("slot", 0) == 0) {
                        inGuiThread([&] { std::copy(area + off, area + off + len, bytes.begin()); });
                    } else if (args[0] == "block") {
                        ZdrRamPara::p_zdrrampara_config->block_bytes(static_cast<int>(off), bytes.data(),
                                                                     static_cast<int>(len));
                    } else {
                        C331ParaLock lock;
                        std::copy(area + off, area + off + len, bytes.begin());
                    }
                    char hex[3];
                    for (unsigned char b : bytes) {
                        std::snprintf(hex, sizeof(hex), "%02x", b);
                        reply += hex;
                    }
                    return true;
                });
    control.add("store-set",
                "store-set <offset> <hex bytes> [flag]: store into the block under the c331 manage mutex "
                "and raise the parameter-changed flag (default 1), as a page does",
                [](const std::vector<std::string>& args, std::string& reply) {
                    size_t size = 0;
                    unsigned long long off = 0;
                    unsigned long long flag = 1;
                    std::vector<unsigned char> bytes;
                    unsigned char* block = storeArea("block", size);
                    if (!block || args.size() < 2 || args.size() > 3 || !parseUnsigned(args[0], size, off) ||
                        !parseHexBytes(args[1], bytes) || bytes.size() > size - off ||
                        (args.size() == 3 && !parseUnsigned(args[2], 2, flag))) {
                        reply = "usage: store-set <offset> <hex bytes> [flag 0..2]";
                        return false;
                    }
                    C331ParaLock lock;
                    {
                        ParaBytesLock stored;
                        std::copy(bytes.begin(), bytes.end(), block + off);
                    }
                    if (flag)
                        lock.raise(static_cast<unsigned char>(flag));
                    return true;
                });
    control.add("widget-geometry", "widget-geometry <name>: x y width height and visible|hidden of a top window",
                [](const std::vector<std::string>& args, std::string& reply) {
                    if (args.size() != 1) {
                        reply = "usage: widget-geometry <object name>";
                        return false;
                    }
                    bool found = false;
                    inGuiThread([&] {
                        for (QWidget* w : QApplication::topLevelWidgets()) {
                            if (w->objectName().toStdString() != args[0])
                                continue;
                            const QRect g = w->geometry();
                            reply = std::to_string(g.x()) + " " + std::to_string(g.y()) + " " +
                                    std::to_string(g.width()) + " " + std::to_string(g.height()) +
                                    (w->isVisible() ? " visible" : " hidden");
                            found = true;
                            break;
                        }
                    });
                    if (!found)
                        reply = "no top window " + args[0];
                    return found;
                });
    control.add("link-ports", "link-ports: the ports of the control link: udp <n> tcp <n> at <n>",
                [](std::string& reply) {
                    udpnetManage* udp = udpnetManage::p_udpnetManage;
                    networkManage* tcp = networkManage::p_networkManage;
                    reply = "udp " + std::to_string(udp ? udp->control_port() : 0) + " tcp " +
                            std::to_string(tcp ? tcp->port() : 0) + " at " +
                            std::to_string(udp ? udp->at_port() : 0);
                    return true;
                });
    control.add("c331-flag", "c331-flag: the c331 parameter-changed flag",
                [](std::string& reply) {
                    reply = std::to_string(c331_manage::para_change_flag.load());
                    return true;
                });
    control.add("top-window", "top-window: object name of the active top window, then the visible ones",
                [](std::string& reply) {
                    inGuiThread([&reply] {
                        QWidget* active = QApplication::activeWindow();
                        reply = "active " + (active ? active->objectName().toStdString() : std::string("none"));
                        for (QWidget* w : QApplication::topLevelWidgets())
                            if (w->isVisible())
                                reply += "\nvisible " + w->objectName().toStdString();
                    });
                    return true;
                });
}

} // namespace sim
