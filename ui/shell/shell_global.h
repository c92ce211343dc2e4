// Process-wide state of the touch UI shell.
#pragma once

#include <atomic>

class MainWindow;
class LockWindow;
class QTimer;

// The page on screen: 0 idle status screen, 1 home, 2 device status, ...
extern std::atomic<int> g_page_focus;
extern MainWindow* g_mainwindow;
extern LockWindow* g_lockwindow;
extern QTimer* g_timer;

// Idle ticks before the idle status screen is shown (120000 = never) and
// before the pages return to the home page.
extern unsigned int g_auto_lock_time;
extern unsigned int g_back_to_mainwindow_time;

// Reboot request and its tick stamp: the tick runs "reboot" 300 ticks after.
extern std::atomic<unsigned char> g_app_reset_flag;
extern std::atomic<unsigned int> G_reboot_tickTicks;
