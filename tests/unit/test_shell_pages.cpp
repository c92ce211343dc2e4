// The shell's pages: the tick's work, the openers and Back buttons, the
// idle time-outs by page focus, the refresh of the pages in focus with their
// tips, the user-mode panel, and the advanced settings page with its
// hand-over from the FPGA thread.
#include "support/shell_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/syncupdate.h"
#include "sendcard/fpga_manage.h"
#include "ui/picture/custommode.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/imagequality.h"
#include "ui/picture/inputcut.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/firmwareupdate.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/tip.h"
#include "videochip/c331_manage.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <cstring>
#include <functional>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QString labelText(QWidget* page, const char* name)
{
    QLabel* label = page->findChild<QLabel*>(name);
    return label ? label->text() : QString("<no label %1>").arg(name);
}

void processEvents()
{
    QCoreApplication::processEvents();
}

// A writer in another thread stores value into the 2-byte field as every
// writer does, under ParaWriteLock: the low byte, a hold of 300 ms,
// the high byte. refresh runs on this thread while the store is half done;
// true when it returned only after the store was whole.
bool refreshWaitedForTheStore(unsigned char* field, unsigned value, const std::function<void()>& refresh)
{
    std::atomic<bool> half{false};
    std::atomic<bool> whole{false};
    std::thread writer([&] {
        ParaWriteLock bytes;
        field[0] = static_cast<unsigned char>(value & 0xFF);
        half = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        field[1] = static_cast<unsigned char>(value >> 8);
        whole = true;
    });
    while (!half.load())
        std::this_thread::yield();
    refresh();
    const bool waited = whole.load();
    writer.join();
    return waited;
}

// The chip thread's change pass holds the manage mutex (for up to 2 s
// here) and stores nothing meanwhile: refresh runs on this thread during
// the pass; true when it returned before the pass was over.
bool refreshReadDuringAPass(const std::function<void()>& refresh)
{
    std::atomic<bool> held{false};
    std::atomic<bool> over{false};
    std::atomic<bool> done{false};
    std::thread pass([&] {
        C331ParaLock::acquire();
        held = true;
        for (int i = 0; i < 200 && !done.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        over = true;
        C331ParaLock::release();
    });
    while (!held.load())
        std::this_thread::yield();
    refresh();
    const bool early = !over.load();
    done = true;
    pass.join();
    return early;
}

// The chip thread's change pass holds the manage mutex while the operator
// taps on this thread. The PC's write, waiting for the pass too, lands
// first, once this thread has slept 100 ms on end (waiting for the mutex):
// a tap that looks before it takes the mutex has looked by then.
void pcWritesWhileTheTapWaits(const std::function<void()>& tap, const std::function<void()>& pcWrite)
{
    const std::string stat = "/proc/self/task/" + std::to_string(syscall(SYS_gettid)) + "/stat";
    std::atomic<bool> held{false};
    std::thread pass([&] {
        C331ParaLock::acquire();
        held = true;
        for (int asleep = 0, tries = 0; asleep < 20 && tries < 2000; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::ifstream in(stat);
            const std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            asleep = line.find(") S ") != std::string::npos ? asleep + 1 : 0;
        }
        pcWrite();
        C331ParaLock::release();
    });
    while (!held.load())
        std::this_thread::yield();
    tap();
    pass.join();
}

// True when a label or a line edit of the page shows text (labels: within
// their text).
bool pageShows(QWidget* page, const QString& text)
{
    for (QLabel* l : page->findChildren<QLabel*>())
        if (l->text().contains(text))
            return true;
    for (QLineEdit* e : page->findChildren<QLineEdit*>())
        if (e->text() == text)
            return true;
    return false;
}

} // namespace

// --- the tick ------------------------------------------------------------

TEST_F(ShellTest, TheTickCountsFirstAndRebootsOnce300TicksAfterTheRequest)
{
    G_timeTicks = 5000;
    g_app_reset_flag = 1;
    G_reboot_tickTicks = G_timeTicks.load();
    tick(1);
    EXPECT_EQ(G_timeTicks.load(), 5001u);
    tick(298);
    EXPECT_EQ(shellCount("reboot"), 0) << "299 ticks";
    tick(1);
    EXPECT_EQ(shellCount("reboot"), 1) << "300 ticks";
    EXPECT_EQ(g_app_reset_flag.load(), 0);
    tick(400);
    EXPECT_EQ(shellCount("reboot"), 1) << "one request, one reboot";

    // A request across the counter's wrap is served too.
    G_timeTicks = 0xFFFFFF80u;
    g_app_reset_flag = 1;
    G_reboot_tickTicks = G_timeTicks.load();
    tick(299);
    EXPECT_EQ(shellCount("reboot"), 1);
    tick(2);
    EXPECT_EQ(shellCount("reboot"), 2);
}

TEST_F(ShellTest, AFactoryAgeingSampleIsTakenEvery18000Ticks)
{
    setLe16(ParaWriteLock().block(), para::inputSignal(2), 1920);
    setLe16(ParaWriteLock().block(), para::inputSignal(2) + 2, 1080);
    setLe16(ParaWriteLock().block(), para::inputSignal(2) + 4, 60);
    tick(17999);
    EXPECT_TRUE(factoryage_log.empty());
    tick(1);
    ASSERT_EQ(factoryage_log.size(), 1u);
    EXPECT_EQ(factoryage_log_num, 1u);
    EXPECT_NE(factoryage_log[0].find("HDMI1 1920x1080@60"), std::string::npos) << factoryage_log[0];
    EXPECT_NE(factoryage_log[0].find("EXT 0x0@0"), std::string::npos) << factoryage_log[0];
    tick(18000);
    EXPECT_EQ(factoryage_log.size(), 2u);

    // The log keeps the latest samples only; the count goes on.
    for (size_t i = 0; i < MainWindow::kAgeingLines; ++i)
        g_mainwindow->factoryage_sample();
    EXPECT_EQ(factoryage_log.size(), MainWindow::kAgeingLines);
    EXPECT_EQ(factoryage_log_num, MainWindow::kAgeingLines + 2);
    factoryage_log.clear();
    factoryage_log_num = 0;
}

TEST_F(ShellTest, TheUpdateScreenComesFromAnyThreadTurnsWithTheTickAndHoldsTheIdleTimeOut)
{
    std::thread worker([] { g_mainwindow->update_start(); });
    worker.join();
    EXPECT_FALSE(g_mainwindow->update_screen_up()) << "the worker only asks";
    processEvents();
    ASSERT_TRUE(g_mainwindow->update_screen_up());
    FirmwareUpdate* screen = qApp->findChild<FirmwareUpdate*>();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "FirmwareUpdate")
            screen = static_cast<FirmwareUpdate*>(w);
    ASSERT_NE(screen, nullptr);
    const int frame = screen->frame();
    tick(FirmwareUpdate::kStepTicks - 1);
    EXPECT_EQ(screen->frame(), frame);
    tick(1);
    EXPECT_EQ(screen->frame(), (frame + 1) % FirmwareUpdate::kSteps);

    // No idle time-out while the package is installed.
    g_back_to_mainwindow_time = 5;
    g_auto_lock_time = 10;
    tick(20);
    EXPECT_EQ(g_page_focus.load(), 1);
    EXPECT_FALSE(g_lockwindow->isVisible());

    std::thread done([] { g_mainwindow->update_over(); });
    done.join();
    processEvents();
    EXPECT_FALSE(g_mainwindow->update_screen_up());
    g_back_to_mainwindow_time = 18000;
    g_auto_lock_time = 30000;
}

// --- openers and Back ---------------------------------------------------------

TEST_F(ShellTest, HomeOpensTheSettingsMenuAndItsBackReturns)
{
    int focusInside = -1;
    whenModal([&] {
        focusInside = g_page_focus.load();
        ASSERT_TRUE(g_option);
        EXPECT_TRUE(g_option->isVisible());
        g_option->on_Button_back_clicked();
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_EQ(focusInside, 5);
    EXPECT_EQ(g_page_focus.load(), 1);
    EXPECT_FALSE(g_option);
}

TEST_F(ShellTest, TheSettingsMenuOpensTheAdvancedPageWhoseBackReturnsToTheMenu)
{
    int focusAdvanced = -1;
    int focusAfter = -1;
    whenModal([&] {
        whenModal([&] {
            focusAdvanced = g_page_focus.load();
            ASSERT_TRUE(g_advancedoption);
            EXPECT_TRUE(AdvancedOption::page_open());
            g_advancedoption->on_Button_back_clicked();
        });
        g_option->on_Button_advanced_clicked();
        focusAfter = g_page_focus.load();
        EXPECT_FALSE(g_advancedoption);
        g_option->on_Button_back_clicked();
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_EQ(focusAdvanced, 12);
    EXPECT_EQ(focusAfter, 5);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
    EXPECT_FALSE(AdvancedOption::page_open());
}

TEST_F(ShellTest, OpenersDoNothingWhileBusyOrLocked)
{
    bool opened = false;
    // Presses the settings button; a page that opens is closed at once.
    auto trySettings = [&] {
        whenModal([&] {
            if (g_option) {
                opened = true;
                g_option->on_Button_back_clicked();
            }
        });
        g_mainwindow->on_Button_setting_clicked();
        processEvents();
    };
    // A mode save on its way keeps the openers busy until the refresh...
    g_mainwindow->on_Button_mode_save_clicked();
    EXPECT_EQ(g_mainwindow->busy, 1);
    trySettings();
    EXPECT_FALSE(opened);
    // ... or for kBusyTicks at most.
    tick(MainWindow::kBusyTicks);
    trySettings();
    EXPECT_TRUE(opened);

    // The panel lock.
    opened = false;
    g_mainwindow->on_Button_lock_clicked();
    EXPECT_EQ(le16(store->ram_para, para::kPanelLock), 1);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    trySettings();
    EXPECT_FALSE(opened);
    g_mainwindow->on_Button_mode_clicked();
    EXPECT_FALSE(g_mainwindow->mode_window_shown());
    g_mainwindow->on_Button_lock_clicked();
    EXPECT_EQ(le16(store->ram_para, para::kPanelLock), 0);
    g_mainwindow->on_Button_mode_clicked();
    EXPECT_TRUE(g_mainwindow->mode_window_shown());
}

TEST_F(ShellTest, TheUsbThreadClosesTheSettingsMenuInTheGuiThread)
{
    whenModal([&] {
        std::thread usb([] { Option::request_close(); });
        usb.join();
        EXPECT_TRUE(g_option) << "closed only in the GUI thread";
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_FALSE(g_option);
    EXPECT_EQ(g_page_focus.load(), 1);
}

// --- idle time-outs -------------------------------------------------------------

TEST_F(ShellTest, IdleTimeBacksOutOfTheAdvancedPageAndTheMenuThenLocks)
{
    g_back_to_mainwindow_time = 50;
    g_auto_lock_time = 80;
    int focusBeforeIdle = -1;
    whenModal([&] {
        whenModal([&] {
            focusBeforeIdle = g_page_focus.load();
            // The keypad is up when the time runs out.
            whenModal([&] { tick(60); });
            g_numberkeyboard->exec();
        });
        g_option->on_Button_advanced_clicked();
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_EQ(focusBeforeIdle, 12);
    EXPECT_FALSE(g_numberkeyboard->isVisible());
    EXPECT_FALSE(g_advancedoption);
    EXPECT_FALSE(g_option);
    EXPECT_EQ(g_page_focus.load(), 1);
    EXPECT_FALSE(g_lockwindow->isVisible());

    tick(20);
    EXPECT_TRUE(g_lockwindow->isVisible()) << "the lock time has passed";
    EXPECT_EQ(g_page_focus.load(), 0);
    tick(500);
    EXPECT_EQ(g_page_focus.load(), 0);

    // A touch: the idle screen goes when touched and the home page is back.
    lcd_touch::p_lcd_touch->touch_event(platform::TouchEvent{0, 0, 1, 0x14a, 1});
    EXPECT_EQ(lcd_touch::p_lcd_touch->idle_ticks(), 0u);
    g_lockwindow->unlock();
    EXPECT_EQ(g_page_focus.load(), 1);
    tick(49);
    EXPECT_EQ(g_page_focus.load(), 1);
    g_back_to_mainwindow_time = 18000;
    g_auto_lock_time = 30000;
}

TEST_F(ShellTest, IdleBackByFocusForTheDeviceStatusAndTheMenu)
{
    g_back_to_mainwindow_time = 10;
    g_auto_lock_time = kAutoLockNever;
    whenModal([&] { tick(10); });
    g_mainwindow->on_Button_state_clicked();
    EXPECT_FALSE(g_machinestate);
    EXPECT_EQ(g_page_focus.load(), 1);

    // Touched again, then left alone in the settings menu.
    lcd_touch::p_lcd_touch->touch_event(platform::TouchEvent{});
    whenModal([&] {
        tick(9);
        EXPECT_TRUE(g_option) << "9 ticks";
        tick(1);
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_FALSE(g_option);
    EXPECT_EQ(g_page_focus.load(), 1);

    // The lock time 120000 means never.
    tick(200000);
    EXPECT_FALSE(g_lockwindow->isVisible());
    g_back_to_mainwindow_time = 18000;
    g_auto_lock_time = 30000;
}

TEST_F(ShellTest, ThePagesStayWhileTheDialIsUp)
{
    g_back_to_mainwindow_time = 5;
    g_option = new Option();
    g_page_focus = 5;
    QRoundProgressBar::create_qround_bar(g_option);
    tick(10);
    EXPECT_TRUE(g_option);
    EXPECT_EQ(g_page_focus.load(), 5);
    g_qround_bar->para_sync(100);
    tick(1);
    EXPECT_FALSE(g_option) << "the time-out acts once the dial has gone";
    EXPECT_EQ(g_page_focus.load(), 1);
    g_back_to_mainwindow_time = 18000;
}

TEST_F(ShellTest, TouchEventsCountAsActivityAndPressesReachTheSink)
{
    static std::vector<std::tuple<int, int, bool>> seen;
    seen.clear();
    lcd_touch::tap_sink = [](int x, int y, bool pressed) { seen.emplace_back(x, y, pressed); };
    tick(100);
    EXPECT_EQ(lcd_touch::p_lcd_touch->idle_ticks(), 100u);
    const platform::TouchEvent tap[] = {
        {0, 0, 1, 0x14a, 1}, {0, 0, 3, 0x35, 120}, {0, 0, 3, 0x36, 340}, {0, 0, 0, 0, 0},
        {0, 0, 1, 0x14a, 0}, {0, 0, 0, 0, 0},      {0, 0, 3, 0x35, 5},   {0, 0, 0, 0, 0},
    };
    for (const auto& e : tap)
        lcd_touch::p_lcd_touch->touch_event(e);
    lcd_touch::tap_sink = nullptr;
    EXPECT_EQ(lcd_touch::p_lcd_touch->idle_ticks(), 0u);
    ASSERT_EQ(seen.size(), 2u) << "a move without a press or release is no tap";
    EXPECT_EQ(seen[0], std::make_tuple(120, 340, true));
    EXPECT_EQ(seen[1], std::make_tuple(120, 340, false));
}

// --- refresh of the page in focus ------------------------------------------------------

TEST_F(ShellTest, ParaSyncRefreshesTheShellPagesAndShowsTheirTips)
{
    SyncUpdate* sync = SyncUpdate::pInstance();
    setLe16(ParaWriteLock().block(), para::inputSignal(1), 1280);
    setLe16(ParaWriteLock().block(), para::inputSignal(1) + 2, 720);
    setLe16(ParaWriteLock().block(), para::inputSignal(1) + 4, 50);

    // The idle status screen: redrawn, no tip.
    g_page_focus = 0;
    sync->para_sync(1);
    EXPECT_EQ(g_tip->shown_type(), 0);

    // The device status page.
    g_machinestate = new MachineState();
    g_page_focus = 2;
    sync->para_sync(11);
    const QList<QLabel*> states = g_machinestate->findChildren<QLabel*>("label_source_state");
    bool shown = false;
    for (QLabel* l : states)
        shown = shown || l->text() == "1280x720@50Hz";
    EXPECT_TRUE(shown);
    EXPECT_EQ(g_tip->shown_type(), 0);
    g_machinestate->on_Button_back_clicked();

    // The settings menu follows a language change.
    g_option = new Option();
    g_page_focus = 5;
    ParaWriteLock().block()[para::kLanguage] = 2;
    sync->para_sync(1);
    EXPECT_EQ(g_language, 2);
    EXPECT_EQ(labelText(g_option, "label_title"), QString::fromUtf8("Настройки"));
    EXPECT_EQ(g_tip->shown_type(), 0);

    // The advanced settings page gets tip 1.
    g_advancedoption = new AdvancedOption();
    g_page_focus = 12;
    sync->para_sync(1);
    EXPECT_EQ(g_tip->shown_type(), 1);
    g_advancedoption->on_Button_back_clicked();
    g_option->on_Button_back_clicked();

    // A focus whose page is not open refreshes nothing and shows no tip.
    g_tip->hide();
    g_page_focus = 12;
    sync->para_sync(1);
    EXPECT_EQ(g_tip->shown_type(), 0);
}

// A PC's language write (768) lands after the refresh has taken its copy of
// the block, before the block is persisted: the file takes it with this
// refresh, and the next refresh still relabels the page in focus (the home
// page, the idle screen).
TEST_F(ShellTest, ALanguageWriteLandingAfterTheRefreshsCopyIsShownByTheNextRefresh)
{
    SyncUpdate* sync = SyncUpdate::pInstance();
    auto pcWrites = [this](unsigned char language) {
        unsigned char word[2] = {language, 0x00};
        ASSERT_EQ(store->ZdrRamParaDeal(word, 2, 768), 0);
        c331_manage::para_change_flag = 1;
    };
    const struct {
        int focus;
        unsigned char first, second;
        QWidget* page;
        const char* label;
        const char* shown;
    } rounds[] = {{1, 1, 2, g_mainwindow, "label_title", "Видеопроцессор K47"},
                  {0, 3, 1, g_lockwindow, "label_hint", "Touch the screen to unlock"}};
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.focus);
        ASSERT_TRUE(round.page);
        g_page_focus = round.focus;
        pcWrites(round.first);
        bool landed = false;
        SyncUpdate::page_refreshed_hook = [&] {
            if (landed)
                return;
            pcWrites(round.second);
            landed = true;
        };
        sync->para_sync(1);
        SyncUpdate::page_refreshed_hook = nullptr;
        ASSERT_TRUE(landed);
        EXPECT_EQ(g_language, round.first) << "the refresh shows its copy";
        EXPECT_EQ(store->ram_para_shadow[768], round.second) << "the file holds the PC's write";

        sync->para_sync(1);   // the PC's flag
        EXPECT_EQ(g_language, round.second);
        EXPECT_EQ(labelText(round.page, round.label), QString::fromUtf8(round.shown));
    }
}

// The PC and the input drivers write the block and the slots from other
// threads: a page's refresh reads them under the manage mutex, waits for a
// store in progress and shows the whole new value (1920 = 0x0780 becomes
// 2560 = 0x0A00; half stored it reads 1792).
TEST_F(ShellTest, PageRefreshesWaitForAStoreInProgressAndShowTheWholeValue)
{
    g_language = 1;
    // The LED screen: width at block 1378, height at 1380.
    setLe16(ParaWriteLock().block(), 1380, 1080);
    test_store::persisted();

    // The idle status screen.
    setLe16(ParaWriteLock().block(), 1378, 1920);
    EXPECT_TRUE(refreshWaitedForTheStore(test_store::unguarded_block() + 1378, 2560, [] { g_lockwindow->syncUpdate(); }))
        << "idle status screen";
    EXPECT_TRUE(pageShows(g_lockwindow, "2560 x 1080"));
    EXPECT_FALSE(pageShows(g_lockwindow, "1792 x 1080"));

    // The device status page.
    setLe16(ParaWriteLock().block(), 1378, 1920);
    {
        MachineState page;
        EXPECT_TRUE(refreshWaitedForTheStore(test_store::unguarded_block() + 1378, 2560, [&] { page.syncUpdate(1); }))
            << "device status page";
        EXPECT_TRUE(pageShows(&page, "2560 x 1080"));
    }

    // The window layout page: window 1's width (layer record 2272, word 14).
    setLe16(ParaWriteLock().block(), 2272 + 14, 1920);
    test_store::persisted();
    {
        ImageLayout page;
        EXPECT_TRUE(refreshWaitedForTheStore(test_store::unguarded_block() + 2272 + 14, 2560, [&] { page.syncUpdate(); }))
            << "window layout page";
        EXPECT_TRUE(pageShows(&page, "2560"));
        EXPECT_FALSE(pageShows(&page, "1792"));
        // A change pass stores nothing: the page reads at once.
        setLe16(ParaWriteLock().block(), 2272 + 14, 1280);
        EXPECT_TRUE(refreshReadDuringAPass([&] { page.syncUpdate(); })) << "window layout page during a pass";
        EXPECT_TRUE(pageShows(&page, "1280"));
    }
    EXPECT_TRUE(refreshReadDuringAPass([] { g_lockwindow->syncUpdate(); })) << "idle status screen during a pass";
    // A whole refresh raised meanwhile (an upload's; the block changed, so
    // the file and the shadow are written) stores nothing into the block:
    // it does not wait for the pass either.
    setLe16(ParaWriteLock().block(), 1378, 1600);
    EXPECT_TRUE(refreshReadDuringAPass([] { SyncUpdate::pInstance()->para_sync(103); }))
        << "an upload's refresh during a pass";
    EXPECT_EQ(le16(store->ram_para_shadow, 1378), 1600) << "the stored change reached the shadow";

    // The user modes page: slot 4's LED width (2-byte marker, then block
    // 896 on: 2 + 1378 - 896 = 484).
    unsigned char* slot = test_store::unguarded_slot(3);
    slot[0] = slot[1] = 0xAA;
    setLe16(slot, 484, 1920);
    setLe16(slot, 486, 1080);
    {
        CustomMode page;   // opens on slot 1: slot 4 is chosen after
        g_mode_select = 3;
        EXPECT_TRUE(refreshWaitedForTheStore(slot + 484, 2560, [&] { page.lcd_para_init(); })) << "user modes page";
        EXPECT_TRUE(pageShows(&page, "LED size:2560x1080"));
    }
    g_mode_select = 0;
}

// Two PCs store the LED screen size in turn, each whole (1920 x 1080 and
// 1280 x 720), as fast as they can: every refresh of the device status page
// and of the idle status screen shows one of the two sizes, never the width
// of one with the height of the other.
TEST_F(ShellTest, TheLedSizeShownIsAlwaysOneWholeStore)
{
    g_language = 1;
    std::atomic<bool> stop{false};
    std::atomic<unsigned> stores{0};
    std::thread pcs([&] {
        for (unsigned i = 0; !stop.load(); ++i) {
            ParaWriteLock lock;
            setLe16(lock.block(), 1378, i % 2 ? 1280 : 1920);
            setLe16(lock.block(), 1380, i % 2 ? 720 : 1080);
            ++stores;
        }
    });
    while (stores.load() < 2)
        std::this_thread::yield();
    const QRegularExpression size("(\\d+) x (\\d+)");
    auto mixed = [&](const QString& text) {
        const QRegularExpressionMatch m = size.match(text);
        const QString shown = m.hasMatch() ? m.captured(0) : QString("<no size in %1>").arg(text);
        return shown == "1920 x 1080" || shown == "1280 x 720" ? QString() : shown;
    };
    QStringList seen;
    {
        MachineState page;
        for (int i = 0; i < 1500; ++i) {
            page.syncUpdate(1);
            const QString m = mixed(labelText(&page, "label_info"));
            if (!m.isEmpty())
                seen << "status page: " + m;
        }
    }
    for (int i = 0; i < 1500; ++i) {
        g_lockwindow->syncUpdate();
        const QString m = mixed(labelText(g_lockwindow, "label_led"));
        if (!m.isEmpty())
            seen << "idle screen: " + m;
    }
    stop = true;
    pcs.join();
    EXPECT_TRUE(seen.isEmpty()) << seen.size() << " of 3000 refreshes, first: " << seen.value(0).toStdString();
}

TEST_F(ShellTest, AModeSavedFromTheHomePanelIsConfirmedByTip1)
{
    SyncUpdate* sync = SyncUpdate::pInstance();
    g_mainwindow->mode_window_open();
    g_mode_select = 6;
    ParaWriteLock().block()[3000] = 0x5A;
    g_mainwindow->on_Button_mode_save_clicked();
    // Taken at the tap: the slot, its file and the current mode.
    EXPECT_EQ(store->ZdrUserModeSaved(6), 1);
    EXPECT_TRUE(exists(hostPath("/data/modes/custom_mode7")));
    EXPECT_EQ(le16(store->ram_para, para::kModeSaveRequest), 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(g_mainwindow->tip_flag, 1);

    // The chip thread's pass ends in the refresh of the home page.
    sync->para_sync(1);
    EXPECT_EQ(g_tip->shown_type(), 1);
    EXPECT_EQ(g_mainwindow->tip_flag, 0);
    EXPECT_EQ(g_mainwindow->busy, 0);
    EXPECT_EQ(store->ZdrUserModeSaved(6), 1);
    EXPECT_EQ(store->mode_user_para[6][2 + 3000 - 896], 0x5A);
    EXPECT_EQ(le16(store->ram_para, para::kCurrentMode), 7);
    EXPECT_TRUE(exists(hostPath("/data/modes/custom_mode7")));
    // The same refresh shows what was saved: the panel names mode 07 saved,
    // the home line the current mode 07.
    const bool saved = pageShows(g_mainwindow, "07 (saved)") || pageShows(g_mainwindow, "07 （已保存）");
    EXPECT_TRUE(saved) << "the panel still shows mode 07 empty";
    EXPECT_TRUE(pageShows(g_mainwindow, "User mode: 07") || pageShows(g_mainwindow, "当前模式：07"));
}

TEST_F(ShellTest, ALoadedModeReplacesTheUserModeAreaOnly)
{
    unsigned char* slot = test_store::unguarded_slot(2);
    slot[0] = 0xAA;
    slot[1] = 0xAA;
    std::memset(slot + 2, 0x33, para::kModeSize);
    ParaWriteLock().block()[para::kLanguage] = 1;
    g_mode_select = 2;
    g_mainwindow->on_Button_mode_load_clicked();
    EXPECT_EQ(store->ram_para[para::kModeStart], 0x33);
    EXPECT_EQ(store->ram_para[para::kBlockSize - 1], 0x33);
    EXPECT_EQ(store->ram_para[para::kLanguage], 1);
    EXPECT_EQ(le16(store->ram_para, para::kCurrentMode), 3);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(g_mainwindow->tip_flag, 1);

    // An empty slot cannot be loaded.
    c331_manage::para_change_flag = 0;
    g_mainwindow->syncUpdate();
    g_mode_select = 3;
    g_mainwindow->on_Button_mode_load_clicked();
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);
    EXPECT_EQ(le16(store->ram_para, para::kCurrentMode), 3);
}

// Every page that looks at the store before it stores (a slot saved, a
// bound, a crop) looks in the hold that stores: a PC's write that waited
// for a chip pass with the page lands before the look, and the page
// refuses or stores as it would have had the write been there when it was
// tapped. A pick (a mirror, a colour temperature) is an act whatever the
// block holds: it stores and asks for a pass over the PC's same write.
// Block, slots and change flag end as the PC's write and the page's
// expected store leave them.
TEST_F(ShellTest, EveryCheckOfAPageIsInTheHoldOfItsStore)
{
    using Bytes = std::vector<unsigned char>;
    Bytes emptied(ZdrRamPara::kSlotFileSize, 0);
    emptied[0] = emptied[1] = 0xFF;
    const auto saveSlot = [](int s) {
        std::memset(test_store::unguarded_slot(s), 0x33, ZdrRamPara::kSlotSize);
        test_store::unguarded_slot(s)[0] = test_store::unguarded_slot(s)[1] = 0xAA;
    };
    // Crops 1 and 2 of HDMI1; record k emptied and crop 2 put in record k + 1.
    const Bytes crop1 = {2, 0x80, 0, 0, 0, 0, 10, 0, 10, 0}, crop2 = {2, 0x81, 0, 0, 0, 0, 10, 0, 10, 0};
    Bytes moved(para::kCropSize, 0);
    moved.insert(moved.end(), crop2.begin(), crop2.end());
    std::unique_ptr<QWidget> page;
    const auto click = [&page](const char* name) { page->findChild<QPushButton*>(name)->click(); };
    // The store as one run of bytes: the block, then slot s at
    // kBlockSize + s * kSlotSize.
    const auto image = [this] {
        Bytes all(para::kBlockSize + ZdrRamPara::kSlotCount * ZdrRamPara::kSlotSize);
        store->snapshot_block(all.data());
        for (int s = 0; s < ZdrRamPara::kSlotCount; ++s)
            store->snapshot_slot(s, all.data() + para::kBlockSize + s * ZdrRamPara::kSlotSize);
        return all;
    };
    const int slot0 = para::kBlockSize, slotSize = ZdrRamPara::kSlotSize;
    struct Row {
        const char* path;
        std::function<void()> open, tap;
        int pcAt;   // in the store's run of bytes
        Bytes pc;
        int pageAt;   // the page's own store, expected (none: no bytes)
        Bytes pageStores;
        int flag;
    };
    const std::vector<Row> rows = {
        {"home panel, Load of a slot the PC empties", [&] { saveSlot(0), g_mode_select = 0; },
         [] { g_mainwindow->on_Button_mode_load_clicked(); }, slot0, emptied, 0, {}, 0},
        {"user modes page, Use of a slot the PC empties",
         [&] { saveSlot(1), page.reset(g_custommode = new CustomMode()), click("1"); }, [&] { click("Button_use"); },
         slot0 + slotSize, emptied, 0, {}, 0},
        {"user modes page, Delete of a slot the PC empties (its OSD word stays)",
         [&] {
             saveSlot(2), page.reset(g_custommode = new CustomMode()), click("2");
             setLe16(test_store::unguarded_slot(2), para::kOsdOn - para::kModeStart + 2, 1);
         },
         [&] { click("Button_delete"); }, slot0 + 2 * slotSize, {0xFF, 0xFF}, 0, {}, 0},
        {"window layout, a width beyond the LED width the PC shrinks",
         [&] {
             setLe16(test_store::unguarded_block(), para::kLedWidth, 1920);
             setLe16(test_store::unguarded_block(), para::layer(0) + para::kLayerX, 1000);
             page.reset(g_imagelayout = new ImageLayout());
             g_lineedit = page->findChild<My_lineEdit*>("lineEdit_W");
         },
         [] { g_imagelayout->confirmString("900"); }, para::kLedWidth, {0xE8, 0x03}, 0, {}, 0},
        {"window layout, a mirror the PC chose first",
         [&] { test_store::unguarded_block()[para::layer(0) + para::kLayerMirror] = 0,
               page.reset(g_imagelayout = new ImageLayout()); },
         [&] { click("mirror3"); }, para::layer(0) + para::kLayerMirror, {2}, para::layer(0) + para::kLayerMirror,
         {2}, 1},
        {"picture quality, a colour temperature the PC chose first",
         [&] { setLe16(test_store::unguarded_block(), para::kColorTempType, 0),
               page.reset(g_imagequality = new ImageQuality()); },
         [] { g_imagequality->on_comboBox_activated(2); }, para::kColorTempType, {2, 0}, para::kColorTempType, {2, 0},
         1},
        {"crop editor, Delete of a crop the PC replaced",
         [&] {
             std::copy(crop1.begin(), crop1.end(), test_store::unguarded_block() + para::crop(0));
             std::copy(crop2.begin(), crop2.end(), test_store::unguarded_block() + para::crop(1));
             page.reset(g_inputcut = new InputCut());
             page->findChild<QFrame*>("frame_source")->findChild<QPushButton*>("2", Qt::FindDirectChildrenOnly)->click();
         },
         [&] { click("Button_delete"); }, para::crop(1), moved, 0, {}, 0},
        {"crop editor, Add while the PC takes the free number",
         [&] {
             std::memset(test_store::unguarded_block() + para::crop(0), 0, para::kCropSize * para::kCropCount);
             std::copy(crop1.begin(), crop1.end(), test_store::unguarded_block() + para::crop(0));
             page.reset(g_inputcut = new InputCut()), click("Button_add");
         },
         [&] { click("Button_ok"); }, para::crop(1), crop2, para::crop(2),
         {2, 0x82, 0, 0, 0, 0, 0x80, 0x07, 0x38, 0x04}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        row.open();
        Bytes expected = image();
        std::copy(row.pc.begin(), row.pc.end(), expected.begin() + row.pcAt);
        std::copy(row.pageStores.begin(), row.pageStores.end(), expected.begin() + row.pageAt);
        c331_manage::para_change_flag = 0;
        pcWritesWhileTheTapWaits(row.tap, [&] {
            Bytes b = row.pc;
            const unsigned short n = static_cast<unsigned short>(b.size());
            if (row.pcAt < slot0)
                store->ZdrRamParaDeal(b.data(), n, static_cast<unsigned>(row.pcAt));
            else
                store->ZdrModeUserRamParaDeal(b.data(), n,
                                              static_cast<unsigned>((row.pcAt - slot0) / slotSize + 1) << 12);
        });
        EXPECT_EQ(c331_manage::para_change_flag.load(), row.flag);
        const Bytes now = image();
        EXPECT_EQ(std::mismatch(now.begin(), now.end(), expected.begin()).first - now.begin(),
                  static_cast<std::ptrdiff_t>(now.size()))
            << "the first byte that differs";
        page.reset();
        g_lineedit = nullptr;
    }
}

TEST_F(ShellTest, TheLanguageButtonsStoreTheLanguageForTheChip)
{
    Option menu;
    QPushButton* russian = menu.findChild<QPushButton*>("2");
    ASSERT_NE(russian, nullptr);
    russian->click();
    EXPECT_EQ(store->ram_para[para::kLanguage], 2);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(g_language, 1) << "the pages switch with the refresh after the chip's pass";
    EXPECT_EQ(menu.text_ready, 1);
}

// --- advanced settings ---------------------------------------------------------------

namespace {

class Advanced : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fpga_end_card_job();
        g_option = new Option();
        g_advancedoption = new AdvancedOption();
        g_page_focus = 12;
        g_advancedoption->show();
    }
    void TearDown() override
    {
        if (g_qround_bar)
            g_qround_bar->para_sync(100);
        if (g_advancedoption)
            g_advancedoption->on_Button_back_clicked();
        if (g_option)
            g_option->on_Button_back_clicked();
        fpga_end_card_job();
        ShellTest::TearDown();
    }
};

} // namespace

TEST_F(Advanced, ACheckPostsJob5AndShowsTheResultTheFpgaThreadHandsOver)
{
    g_advancedoption->on_Button_check_clicked();
    EXPECT_EQ(fpga_card_job(), 5);
    ASSERT_TRUE(g_qround_bar);
    EXPECT_EQ(g_qround_bar->parentWidget(), g_advancedoption.data());
    QPointer<QRoundProgressBar> dial = g_qround_bar;
    g_advancedoption->on_Button_check_clicked();
    EXPECT_EQ(g_qround_bar, dial) << "one job at a time";

    // Back is refused while the job runs.
    g_advancedoption->on_Button_back_clicked();
    EXPECT_TRUE(g_advancedoption);

    // The FPGA thread: progress, then a card found on screen 0, net 1.
    std::thread fpga([] {
        AdvancedOption::report_progress(30);
        EXPECT_TRUE(AdvancedOption::check_found(AdvancedOption::result_line(0, 1, 4, 12)));
    });
    fpga.join();
    processEvents();
    ASSERT_TRUE(dial);
    EXPECT_EQ(dial->value(), 30);
    EXPECT_EQ(AdvancedOption::recovery_status(), 1);

    fpga_end_card_job();
    std::thread end([] { AdvancedOption::report_progress(100); });
    end.join();
    processEvents();
    EXPECT_FALSE(g_qround_bar);
    EXPECT_EQ(g_advancedoption->shown_results(), QStringList{"01/02/05/12"});
    EXPECT_TRUE(g_advancedoption->findChild<QPushButton*>("Button_self_recovery")->isEnabled());
}

TEST_F(Advanced, ARestoreNeedsAResultAndEndsWithAnEmptyList)
{
    g_advancedoption->on_Button_self_recovery_clicked();
    EXPECT_EQ(fpga_card_job(), 0) << "nothing to restore";
    EXPECT_FALSE(g_qround_bar);
    EXPECT_FALSE(AdvancedOption::restore_finished()) << "no status set";

    ASSERT_TRUE(AdvancedOption::check_found("01/01/03/08"));
    g_advancedoption->on_Button_self_recovery_clicked();
    EXPECT_EQ(fpga_card_job(), 6);
    ASSERT_TRUE(g_qround_bar);

    // The FPGA thread ends the restore and posts para sync 99.
    std::thread fpga([] {
        if (AdvancedOption::restore_finished())
            ZdrRamPara::pInstance()->test_signal(99);
    });
    fpga.join();
    fpga_end_card_job();
    AdvancedOption::report_progress(100);
    processEvents();
    g_advancedoption->syncUpdate(99);
    EXPECT_TRUE(g_advancedoption->shown_results().isEmpty());
    EXPECT_EQ(AdvancedOption::recovery_status(), 0);
}

TEST_F(Advanced, AClosedPageTakesNoResultAndNoProgress)
{
    g_advancedoption->on_Button_back_clicked();
    flushDeletes();
    EXPECT_FALSE(AdvancedOption::page_open());
    EXPECT_FALSE(AdvancedOption::check_found("01/01/01/01"));
    AdvancedOption::report_progress(50);
    processEvents();
    EXPECT_TRUE(AdvancedOption::result_list().isEmpty());

    // A page opened later starts empty.
    {
        g_advancedoption = new AdvancedOption();
        ASSERT_TRUE(AdvancedOption::check_found("02/02/02/02"));
        g_advancedoption->on_Button_back_clicked();
        flushDeletes();
    }
    g_advancedoption = new AdvancedOption();
    EXPECT_TRUE(AdvancedOption::result_list().isEmpty());
    EXPECT_EQ(AdvancedOption::recovery_status(), 0);
}

TEST(AdvancedResultLine, NumbersArePaddedToTwoDigits)
{
    EXPECT_EQ(AdvancedOption::result_line(0, 1, 4, 12), "01/02/05/12");
    EXPECT_EQ(AdvancedOption::result_line(9, 31, 254, 130), "10/32/255/130");
}

TEST_F(Advanced, TheFactoryPageMarksEachFontFoundInTheChipFlash)
{
    c331_manage::font_status = 0x05;      // 32-pixel CJK and 64-pixel CJK
    g_advancedoption->on_Button_factory_clicked();
    EXPECT_EQ(g_advancedoption->current_tab(), 2);
    const QImage yes = QPixmap(":/png/osd_yes.bmp").toImage();
    const QImage no = QPixmap(":/png/osd_no.bmp").toImage();
    ASSERT_NE(yes, no);
    const QList<QLabel*> marks = g_advancedoption->findChildren<QLabel*>("label_font_state");
    ASSERT_EQ(marks.size(), 4);
    const bool expected[4] = {true, false, true, false};
    for (int i = 0; i < 4; ++i) {
        const QImage shown = marks[i]->pixmap(Qt::ReturnByValue).toImage();
        EXPECT_EQ(shown, expected[i] ? yes : no) << "font " << i;
    }
    c331_manage::font_status = 0;
}

TEST_F(Advanced, TheFactoryResetWantsASecondPressAndKeepsTheEdids)
{
    setLe16(ParaWriteLock().block(), para::kLedWidth, 1234);
    setLe16(ParaWriteLock().block(), para::edid(3), 4000);
    g_advancedoption->on_Button_reset_all_clicked();
    EXPECT_EQ(le16(store->ram_para, para::kLedWidth), 1234) << "the first press only asks";
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);
    tick(AdvancedOption::kConfirmTicks);
    g_advancedoption->on_Button_reset_all_clicked();
    EXPECT_EQ(le16(store->ram_para, para::kLedWidth), 1234) << "too late: asks again";
    g_advancedoption->on_Button_reset_all_clicked();
    const DefaultParaImage& image = defaultParaImage();
    EXPECT_EQ(le16(store->ram_para, para::kLedWidth), le16(image.data(), para::kLedWidth - kDefaultImageShift));
    EXPECT_EQ(le16(store->ram_para, para::edid(3)), 4000);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
}

TEST_F(Advanced, TheLedReInitialisationNeedsRunningFpgasAndTheWifiSwitchIsStored)
{
    g_set_led_para = 0;
    g_advancedoption->on_Button_led_clicked();
    g_advancedoption->on_Button_led_reset_clicked();
    // This build's FPGA manager reports its FPGAs as not running.
    EXPECT_EQ(fpga_both_running(), false);
    EXPECT_EQ(g_set_led_para.load(), 0);
    EXPECT_EQ(labelText(g_advancedoption, "label_led_state"), "The sending card is not ready");

    g_advancedoption->on_Button_wifi_clicked();
    EXPECT_EQ(store->ram_para[para::kWifiOff], 1);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    g_advancedoption->on_Button_wifi_clicked();
    EXPECT_EQ(store->ram_para[para::kWifiOff], 0);
}
