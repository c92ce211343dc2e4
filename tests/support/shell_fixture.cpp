#include "support/shell_fixture.h"

#include "core/global.h"
#include "core/syncupdate.h"
#include "sim/board.h"
#include "sim/shell_model.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_global.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>

void ShellTest::SetUp()
{
    StoreTest::SetUp();
    writeParaFile(defaultFile());
    store = load();
    g_language = 1;
    factoryage_log.clear();
    factoryage_log_num = 0;
    g_mainwindow = new MainWindow();
    g_lockwindow = new LockWindow();
    lcd_touch::createForTest();
    g_page_focus = 1;
    sim::Board::instance().shell().clearLog();
}

void ShellTest::TearDown()
{
    flushDeletes();
    lcd_touch::destroyForTest();
    delete g_lockwindow;
    g_lockwindow = nullptr;
    delete g_mainwindow;
    g_mainwindow = nullptr;
    flushDeletes();
    SyncUpdate::page_refreshed_hook = nullptr;
    g_page_focus = 0;
    g_language = 0;
    g_app_reset_flag = 0;
    factoryage_log.clear();
    factoryage_log_num = 0;
    StoreTest::TearDown();
}

void ShellTest::tick(unsigned int n)
{
    // A tick counted, then the timer's slot, as the running program does.
    for (unsigned int i = 0; i < n; ++i) {
        ++G_timeTicks;
        g_mainwindow->slot_update_timer_ticks();
    }
}

void ShellTest::flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int ShellTest::shellCount(const std::string& command)
{
    const auto all = sim::Board::instance().shell().commands();
    return static_cast<int>(std::count(all.begin(), all.end(), command));
}

void ShellTest::whenModal(std::function<void()> f)
{
    QTimer::singleShot(0, f);
}
