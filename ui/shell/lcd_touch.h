// Touch idle handling: the touch screen's events are watched by a thread of
// their own, and the tick backs out of the pages to the home page and then
// shows the idle status screen once nobody has touched the screen for the
// configured times (g_back_to_mainwindow_time, g_auto_lock_time).
//
// On the device Qt reads the touch screen itself and delivers the presses to
// the widgets; this object only watches for activity.
#pragma once

#include "platform/touch.h"

#include <atomic>

class lcd_touch {
public:
    // Creates the singleton: opens /dev/input/event1 and starts the thread
    // that reads it.
    static lcd_touch* pInstance();
    static lcd_touch* p_lcd_touch;

    // Where the simulated board hands completed presses and releases
    // (screen coordinates) so that they reach the widgets; null on the
    // device. Called from the touch thread.
    static void (*tap_sink)(int x, int y, bool pressed);

    // One event from the touch screen (any thread): every event counts as
    // activity; presses and releases are passed on to tap_sink.
    void touch_event(const platform::TouchEvent& event);

    // Tick (GUI thread): the idle time-outs.
    void auto_timeout_back();
    // Ticks since the screen was last touched.
    unsigned int idle_ticks() const;

    // Presses the Back slots that lead from the page in focus to the home
    // page (GUI thread).
    static void back_to_home(int focus);

    // Tests: a singleton without the device and the thread, and its end.
    static lcd_touch* createForTest();
    static void destroyForTest();

    int fd = -1;

private:
    lcd_touch();
    static void* touch_thread(void* arg);
    void start();

    // Tick of the last touch.
    std::atomic<unsigned int> touch_tick_{0};
    // The time-outs already acted on since the last touch (GUI thread).
    bool backed_ = false;
    bool locked_ = false;
    // The press being assembled from the event stream (touch thread).
    int x_ = 0;
    int y_ = 0;
    int button_ = -1;
};
