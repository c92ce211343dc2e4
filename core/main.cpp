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
#include "core/zdrrampara.h"
#include "link/k47_wifi_config.h"
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
#include <QTimer>
#include <cstdio>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (!platform::startForProgram()) {
        std::fprintf(stderr, "zdrK47N: the board could not be prepared\n");
        return 1;
    }

    // What writes cut short by a power cut left behind goes first.
    const int leftovers = removeWriteLeftovers();

    // Let the hardware settle after power-on.
    std::this_thread::sleep_for(std::chrono::milliseconds(platform::settleDelayMs()));

    udpnetManage::pInstance();
    ConfigEngine::pInstance();
    ZdrRamPara* rampara = ZdrRamPara::pInstance();
    velmosource* source = velmosource::pInstance();
    fpga_manage::pInstance();
    source->initialize();
    c331_manage::pInstance();
    lcd_touch::pInstance();
    Kq_uart_inout::pInstance();
    networkManage::pInstance();
    Kq_uart_inout_4G::pInstance();
    K47_WIFI_CONFIG::pInstance();

    platform::prepareGui();
    QApplication app(argc, argv);

    g_mainwindow = new MainWindow();
    g_lockwindow = new LockWindow();
    g_mainwindow->show();
    g_page_focus = 0;
    g_lockwindow->show();
    // The number keypad covers the right part of the screen.
    g_numberkeyboard->setGeometry(g_mainwindow->x() + 420, g_mainwindow->y(), 380, 480);

    g_timer = new QTimer();
    QObject::connect(g_timer, &QTimer::timeout, g_mainwindow, &MainWindow::slot_update_timer_ticks);
    g_timer->start(10);

    SyncUpdate* sync = SyncUpdate::pInstance();
    QObject::connect(rampara, &ZdrRamPara::sig_update_para, sync, &SyncUpdate::para_sync);
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

    // The worker threads never stop; leave without running destructors
    // under their feet.
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(rc);
}
