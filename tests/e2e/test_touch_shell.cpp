// The touch screen of the running program: the start-up windows, taps that
// wake the idle status screen and open pages, and the idle time-outs that
// lead back to the home page and then to the idle status screen.
#include "support/app_runner.h"

#include <QThread>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

// Waits (at most 10 s) until the probe answers what is expected.
bool waitFor(AppRunner& app, const std::string& probe, const std::string& expected)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        if (app.control(probe) == expected)
            return true;
        QThread::msleep(20);
    }
    return false;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Waits (at most 10 s) until the probe's answer contains the part: a page
// takes its focus before its window is up.
bool waitForPart(AppRunner& app, const std::string& probe, const std::string& part)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        if (contains(app.control(probe), part))
            return true;
        QThread::msleep(20);
    }
    return false;
}

} // namespace

TEST(E2eTouchShell, TapsWakeTheIdleScreenAndOpenPagesIdleTimeLeadsBack)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();

    // Start-up: the idle status screen on top, the keypad placed over the
    // right part of the screen (not shown).
    EXPECT_EQ(app.control("page-focus"), "0");
    EXPECT_EQ(app.control("widget-geometry NumberKeyboard"), "420 0 380 480 hidden");
    EXPECT_EQ(app.control("widget-geometry MainWindow"), "0 0 800 480 visible");

    // A tap anywhere takes the idle screen away.
    ASSERT_EQ(app.control("tap 400 240"), "");
    ASSERT_TRUE(waitFor(app, "page-focus", "1"));
    EXPECT_TRUE(waitForPart(app, "top-window", "active MainWindow")) << app.control("top-window");
    EXPECT_FALSE(contains(app.control("top-window"), "visible LockWindow"));

    // The settings tile opens the settings menu; its Back returns.
    app.control("tap 495 180");
    ASSERT_TRUE(waitFor(app, "page-focus", "5"));
    EXPECT_TRUE(waitForPart(app, "top-window", "active Option")) << app.control("top-window");
    app.control("tap 36 36");
    ASSERT_TRUE(waitFor(app, "page-focus", "1"));

    // The device status page, left alone: back home after the back time,
    // then the idle status screen after the lock time.
    app.control("tap 685 180");
    ASSERT_TRUE(waitFor(app, "page-focus", "2"));
    app.control("idle-times 30 100000");
    ASSERT_TRUE(waitFor(app, "page-focus", "1"));
    app.control("idle-times 30 60");
    ASSERT_TRUE(waitFor(app, "page-focus", "0"));
    EXPECT_TRUE(waitForPart(app, "top-window", "active LockWindow")) << app.control("top-window");

    app.control("idle-times 18000 30000");
    app.control("tap 100 100");
    ASSERT_TRUE(waitFor(app, "page-focus", "1"));
    app.stop();
}

// On a board with its default settings, taps from the idle screen reach the
// window layout page (no code is asked) and the picture quality page, both
// in place over the whole screen, and their fields and buttons take taps at
// their form coordinates and store into the block.
TEST(E2eTouchShell, TheWindowLayoutAndPictureQualityPagesTakeTapsOnADefaultBoard)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    app.control("tap 400 240");
    ASSERT_TRUE(waitFor(app, "page-focus", "1"));
    app.control("tap 495 180");
    ASSERT_TRUE(waitFor(app, "page-focus", "5"));

    // The window layout tile (second of the first row).
    app.control("tap 297 150");
    ASSERT_TRUE(waitFor(app, "page-focus", "9")) << app.control("page-focus");
    ASSERT_TRUE(waitFor(app, "widget-geometry ImageLayout", "0 0 800 480 visible"))
        << app.control("widget-geometry ImageLayout");
    // Window 1's width field (446, 320, 100 x 40), then 1 0 0 0 and OK on
    // the keypad (at x 420): window 1 is 1000 wide (block 2272 + 14).
    app.control("tap 496 340");
    ASSERT_TRUE(waitFor(app, "widget-geometry NumberKeyboard", "420 0 380 480 visible"));
    for (const char* key : {"tap 487 166", "tap 609 376", "tap 609 376", "tap 609 376"})
        app.control(key);
    // The keypad's display and the field are line edits: widget-text reads them.
    EXPECT_TRUE(waitFor(app, "widget-text lineEdit_display", "1000")) << app.control("widget-text lineEdit_display");
    app.control("tap 610 444");
    EXPECT_TRUE(waitFor(app, "store-read block 2286 2", "e803")) << app.control("store-read block 2286 2");
    EXPECT_TRUE(waitFor(app, "widget-text lineEdit_W", "1000")) << app.control("widget-text lineEdit_W");
    app.control("tap 36 36");
    ASSERT_TRUE(waitFor(app, "page-focus", "5"));

    // The picture quality tile (first of the second row); contrast's "-"
    // (546, 174 in the page area at 170, 68): 50 becomes 49 (block 2178).
    app.control("tap 105 310");
    ASSERT_TRUE(waitFor(app, "page-focus", "11")) << app.control("page-focus");
    ASSERT_TRUE(waitFor(app, "widget-geometry ImageQuality", "0 0 800 480 visible"))
        << app.control("widget-geometry ImageQuality");
    ASSERT_EQ(app.control("store-read block 2178 2"), "3200");
    app.control("tap 738 264");
    EXPECT_TRUE(waitFor(app, "store-read block 2178 2", "3100")) << app.control("store-read block 2178 2");

    // The colour temperature tab (20, 140, 140 x 60) and its type's
    // drop-down list (236, 30, 354 x 50 in the page area; "nature", the
    // third item, is chosen): a tap opens the list, a tap on its second
    // item ("warm") picks it as an operator does (block 2184), and the list
    // closes before the choice is stored.
    app.control("tap 90 170");
    ASSERT_EQ(app.control("store-read block 2184 2"), "0200");
    app.control("tap 583 123");
    ASSERT_TRUE(waitForPart(app, "top-window", "\npopup ")) << app.control("top-window");
    const std::string windows = app.control("top-window");
    int x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(std::sscanf(windows.c_str() + windows.find("\npopup ") + 7, "%d %d %d %d", &x, &y, &w, &h), 4)
        << windows;
    // Four items of equal height fill the list.
    app.control("tap " + std::to_string(x + w / 2) + " " + std::to_string(y + h * 3 / 8));
    EXPECT_TRUE(waitFor(app, "store-read block 2184 2", "0100")) << app.control("store-read block 2184 2") << "\n"
                                                                 << windows;
    EXPECT_FALSE(contains(app.control("top-window"), "popup"));

    app.control("tap 36 36");
    ASSERT_TRUE(waitFor(app, "page-focus", "5"));
    app.stop();
}
