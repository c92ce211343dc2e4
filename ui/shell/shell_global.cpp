#include "ui/shell/shell_global.h"

#include "ui/shell/advancedoption.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/option.h"
#include "ui/shell/QRoundProgressBar.h"

std::atomic<int> g_page_focus{0};
MainWindow* g_mainwindow = nullptr;
LockWindow* g_lockwindow = nullptr;
QTimer* g_timer = nullptr;

NumberKeyboard* g_numberkeyboard = nullptr;
TIP* g_tip = nullptr;

QPointer<MachineState> g_machinestate;
QPointer<Option> g_option;
QPointer<AdvancedOption> g_advancedoption;
QPointer<My_lineEdit> g_lineedit;
QPointer<QRoundProgressBar> g_qround_bar;

unsigned char g_mode_select = 0;

unsigned int g_auto_lock_time = 30000;
unsigned int g_back_to_mainwindow_time = 18000;

std::atomic<unsigned char> g_app_reset_flag{0};
std::atomic<unsigned int> G_reboot_tickTicks{0};
