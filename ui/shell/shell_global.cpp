#include "ui/shell/shell_global.h"

std::atomic<int> g_page_focus{0};
MainWindow* g_mainwindow = nullptr;
LockWindow* g_lockwindow = nullptr;
QTimer* g_timer = nullptr;

unsigned int g_auto_lock_time = 30000;
unsigned int g_back_to_mainwindow_time = 18000;

std::atomic<unsigned char> g_app_reset_flag{0};
std::atomic<unsigned int> G_reboot_tickTicks{0};
