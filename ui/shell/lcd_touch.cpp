#include "ui/shell/lcd_touch.h"
#include "platform/nodes.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "ui/picture/inputcut.h"
#include "ui/screen/linkoption.h"
#include "ui/screen/outputset.h"
#include "ui/screen/smartmapping.h"
#include "ui/picture/edidset.h"
#include "ui/picture/inputchoose.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/imagequality.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/lockwindow.h"
#include "ui/picture/custommode.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/shell_global.h"

#include <pthread.h>
#include <unistd.h>

namespace {
using namespace platform::evdev;
constexpr const char* kTouchNode = platform::nodes::kTouch;
} // namespace

lcd_touch* lcd_touch::p_lcd_touch = nullptr;
void (*lcd_touch::tap_sink)(int, int, bool) = nullptr;

lcd_touch::lcd_touch()
{
    touch_tick_ = G_timeTicks.load();
}

lcd_touch* lcd_touch::pInstance()
{
    if (!p_lcd_touch) {
        p_lcd_touch = new lcd_touch();
        p_lcd_touch->start();
    }
    return p_lcd_touch;
}

lcd_touch* lcd_touch::createForTest()
{
    destroyForTest();
    p_lcd_touch = new lcd_touch();
    return p_lcd_touch;
}

void lcd_touch::destroyForTest()
{
    delete p_lcd_touch;
    p_lcd_touch = nullptr;
}

void lcd_touch::start()
{
    fd = platform::touch().open(kTouchNode);
    if (fd < 0) {
        writeLogMsg(ERROR, std::string("touch screen ") + kTouchNode + " cannot be opened");
        return;
    }
    pthread_t thread;
    if (pthread_create(&thread, nullptr, &lcd_touch::touch_thread, this) != 0) {
        writeLogMsg(ERROR, "touch thread cannot be started");
        return;
    }
    pthread_detach(thread);
}

void* lcd_touch::touch_thread(void* arg)
{
    Utils::name_thread("touch");
    lcd_touch* self = static_cast<lcd_touch*>(arg);
    platform::TouchEvent event;
    for (;;) {
        const int r = platform::touch().readEvent(self->fd, event, 100);
        if (r > 0) {
            self->touch_event(event);
        } else if (r < 0) {
            // The device went away: look for it again now and then.
            platform::touch().close(self->fd);
            ::usleep(500000);
            self->fd = platform::touch().open(kTouchNode);
        }
    }
    return nullptr;
}

void lcd_touch::touch_event(const platform::TouchEvent& event)
{
    touch_tick_ = G_timeTicks.load();
    switch (event.type) {
    case kEvKey:
        if (event.code == kBtnTouch)
            button_ = event.value ? 1 : 0;
        break;
    case kEvAbs:
        if (event.code == kAbsMtPositionX || event.code == kAbsX)
            x_ = event.value;
        else if (event.code == kAbsMtPositionY || event.code == kAbsY)
            y_ = event.value;
        break;
    case kEvSyn:
        if (button_ >= 0 && tap_sink)
            tap_sink(x_, y_, button_ == 1);
        button_ = -1;
        break;
    default:
        break;
    }
}

unsigned int lcd_touch::idle_ticks() const
{
    return Utils::getTimeSpace(touch_tick_.load());
}

void lcd_touch::auto_timeout_back()
{
    const unsigned int idle = idle_ticks();
    if (idle < g_back_to_mainwindow_time)
        backed_ = false;
    if (idle < g_auto_lock_time)
        locked_ = false;
    // A running upgrade or receiving-card job keeps its screen.
    if (g_qround_bar || (g_mainwindow && g_mainwindow->update_screen_up()))
        return;

    if (!backed_ && idle >= g_back_to_mainwindow_time) {
        backed_ = true;
        if (g_numberkeyboard && g_numberkeyboard->isVisible())
            g_numberkeyboard->reject();
        back_to_home(g_page_focus.load());
    }
    if (!locked_ && g_auto_lock_time < kAutoLockNever && idle >= g_auto_lock_time) {
        locked_ = true;
        if (g_lockwindow)
            g_lockwindow->lock();
    }
}

void lcd_touch::back_to_home(int focus)
{
    switch (focus) {
    case kFocusMachineState:
        if (g_machinestate)
            g_machinestate->on_Button_back_clicked();
        break;
    case kFocusCustomMode:
        if (g_custommode)
            g_custommode->on_Button_back_clicked();
        break;
    case kFocusOption:
        if (g_option)
            g_option->on_Button_back_clicked();
        break;
    case kFocusOutputSet:
        if (g_outputset)
            g_outputset->on_Button_back_clicked();
        if (g_option)
            g_option->on_Button_back_clicked();
        break;
    case kFocusInputChoose:
        if (g_inputchoose)
            g_inputchoose->on_Button_back_clicked();
        // Opened from the window layout page: out of it and the menu too.
        if (g_imagelayout) {
            g_imagelayout->on_Button_back_clicked();
            if (g_option)
                g_option->on_Button_back_clicked();
        }
        break;
    case kFocusEdid:
        if (g_edidset)
            g_edidset->on_Button_back_clicked();
        if (g_inputchoose)
            g_inputchoose->on_Button_back_clicked();
        else if (g_option)
            g_option->on_Button_back_clicked();
        break;
    case kFocusLinkOption:
        if (g_linkoption)
            g_linkoption->on_Button_back_clicked();
        if (g_option)
            g_option->on_Button_back_clicked();
        break;
    case kFocusAdvanced:
        if (g_advancedoption)
            g_advancedoption->on_Button_back_clicked();
        if (g_option)
            g_option->on_Button_back_clicked();
        break;
    case kFocusSmartMapping:
        if (g_smartmapping)
            g_smartmapping->on_Button_back_clicked();
        if (g_option && g_page_focus.load() == kFocusOption)
            g_option->on_Button_back_clicked();
        break;
    case kFocusInputCut:
        if (g_inputcut)
            g_inputcut->on_Button_back_clicked();
        // Back to the input choice page presses its Back too (focus 3 now).
        if (g_page_focus.load() == kFocusInputChoose)
            back_to_home(kFocusInputChoose);
        else if (g_option)
            g_option->on_Button_back_clicked();
        break;
    case kFocusImageLayout:
        if (g_imagelayout)
            g_imagelayout->on_Button_back_clicked();
        if (g_option)
            g_option->on_Button_back_clicked();
        break;
    case kFocusImageQuality:
        if (g_imagequality)
            g_imagequality->on_Button_back_clicked();
        if (g_option)
            g_option->on_Button_back_clicked();
        break;
    // The input, picture and screen pages (focus 3, 4, 6 to 11 and 24) add
    // their Back slots here, each followed by the Back of the page that
    // opened it; the test patterns (16) stay on screen.
    default:
        break;
    }
}
