// Process-wide state of the touch UI shell.
//
// The page pointers are QPointers: a page that was closed and deleted reads
// as null, so nobody reaches a page the GUI has already deleted. They are
// read and written in the GUI thread only; other threads reach the pages
// through the thread-safe operations of the page classes.
#pragma once

#include <QPointer>
#include <atomic>

class MainWindow;
class LockWindow;
class MachineState;
class Option;
class AdvancedOption;
class NumberKeyboard;
class My_lineEdit;
class TIP;
class QRoundProgressBar;
class QTimer;

// The page on screen: 0 idle status screen, 1 home, 2 device status, 3 input
// choice, 4 user modes, 5 settings menu, 6 LED screen settings, 7 input
// crops, 8 EDID settings, 9 window layout, 10 network and USB, 11 picture
// quality, 12 advanced settings, 16 test patterns, 24 mapping wizard.
extern std::atomic<int> g_page_focus;
enum PageFocus : int {
    kFocusIdle = 0,
    kFocusHome = 1,
    kFocusMachineState = 2,
    kFocusInputChoose = 3,
    kFocusCustomMode = 4,
    kFocusOption = 5,
    kFocusOutputSet = 6,
    kFocusInputCut = 7,
    kFocusEdid = 8,
    kFocusImageLayout = 9,
    kFocusLinkOption = 10,
    kFocusImageQuality = 11,
    kFocusAdvanced = 12,
    kFocusTestChart = 16,
    kFocusSmartMapping = 24,
};
extern MainWindow* g_mainwindow;
extern LockWindow* g_lockwindow;
extern QTimer* g_timer;

// The shared number keypad and the one tip pop-up, made by the home page.
extern NumberKeyboard* g_numberkeyboard;
extern TIP* g_tip;

// The open pages of the shell (null while closed).
extern QPointer<MachineState> g_machinestate;
extern QPointer<Option> g_option;
extern QPointer<AdvancedOption> g_advancedoption;

// The number field that asked for the keypad last; a page acts on the
// keypad's result only when this is one of its own fields.
extern QPointer<My_lineEdit> g_lineedit;

// The round progress dial on screen, or null.
extern QPointer<QRoundProgressBar> g_qround_bar;

// The selected user-mode slot 0..15 (home page panel and user modes page).
extern unsigned char g_mode_select;

// Idle ticks before the idle status screen is shown (120000 or more = never)
// and before the pages return to the home page.
extern unsigned int g_auto_lock_time;
extern unsigned int g_back_to_mainwindow_time;
constexpr unsigned int kAutoLockNever = 120000;

// Reboot request and its tick stamp: the tick runs "reboot" 300 ticks after.
extern std::atomic<unsigned char> g_app_reset_flag;
extern std::atomic<unsigned int> G_reboot_tickTicks;

// Opens a page as every opener does: made with no parent, remembered in its
// page pointer and in the page focus, run modally. Nothing while that page
// is open already.
template <typename Page>
void shell_open_page(QPointer<Page>& pointer, int focus)
{
    if (pointer)
        return;
    Page* page = new Page();
    pointer = page;
    g_page_focus = focus;
    page->exec();
}
