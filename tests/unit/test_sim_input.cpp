// Touch-screen and hot-plug events of the simulated board.
#include "support/sim_board_test.h"

#include "platform/platform.h"
#include "sim/board.h"
#include "sim/control_channel.h"
#include "sim/hotplug_model.h"
#include "sim/touch_model.h"

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class SimTouch : public SimBoardTest {};

TEST_F(SimTouch, ReadWaitsForItsTimeout)
{
    EXPECT_EQ(platform::touch().open("/dev/fb0"), -1);
    const int fd = platform::touch().open("/dev/input/event0");
    ASSERT_GE(fd, 0x40000000) << "virtual descriptor";
    platform::TouchEvent e;
    const auto t0 = Clock::now();
    EXPECT_EQ(platform::touch().readEvent(fd, e, 80), 0);
    EXPECT_GE(msSince(t0), 75);
    EXPECT_LT(msSince(t0), 2000);
    EXPECT_EQ(platform::touch().readEvent(fd + 1, e, 0), -1) << "not open";
    platform::touch().close(fd);
}

TEST_F(SimTouch, TapGivesPressPositionAndRelease)
{
    const int fd = platform::touch().open("/dev/input/event1");
    sim::Board::instance().touch().tap(120, 340);
    std::vector<platform::TouchEvent> events;
    platform::TouchEvent e;
    while (platform::touch().readEvent(fd, e, 0) == 1)
        events.push_back(e);
    ASSERT_EQ(events.size(), 8u);
    EXPECT_EQ(events[0].type, 1);
    EXPECT_EQ(events[0].code, 0x14a);
    EXPECT_EQ(events[0].value, 1);
    bool sawX = false, sawY = false;
    for (size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(events[i].type, 3);
        if (events[i].code == 0x00 || events[i].code == 0x35)
            sawX = sawX || events[i].value == 120;
        if (events[i].code == 0x01 || events[i].code == 0x36)
            sawY = sawY || events[i].value == 340;
    }
    EXPECT_TRUE(sawX && sawY);
    EXPECT_EQ(events[5].type, 0);
    EXPECT_EQ(events[6].type, 1);
    EXPECT_EQ(events[6].value, 0);
    EXPECT_EQ(events[7].type, 0);
    EXPECT_NE(events[0].sec, 0u) << "stamped";
    platform::touch().close(fd);
}

TEST_F(SimTouch, InjectionWakesAWaitingReaderAndCloseEndsIt)
{
    const int fd = platform::touch().open("/dev/input/event0");
    std::thread injector([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(sim::Board::instance().control().execute("touch 3 0x35 77"), "ok\n");
    });
    platform::TouchEvent e;
    const auto t0 = Clock::now();
    EXPECT_EQ(platform::touch().readEvent(fd, e, 5000), 1);
    EXPECT_LT(msSince(t0), 4000);
    injector.join();
    EXPECT_EQ(e.type, 3);
    EXPECT_EQ(e.code, 0x35);
    EXPECT_EQ(e.value, 77);

    EXPECT_EQ(sim::Board::instance().control().execute("tap 5 6"), "ok\n");
    EXPECT_EQ(platform::touch().readEvent(fd, e, 0), 1);
    EXPECT_EQ(sim::Board::instance().control().execute("tap 5").rfind("error ", 0), 0u);
    // The screen is 800 x 480: its last pixel is a tap, a point off it is
    // refused and queues nothing.
    EXPECT_EQ(sim::Board::instance().control().execute("tap 799 479"), "ok\n");
    while (platform::touch().readEvent(fd, e, 0) == 1) {
    }
    for (const char* off : {"tap 9999 9999", "tap 800 0", "tap 0 480", "tap -1 5", "tap 5 -1", "tap 65536 1"}) {
        const std::string answer = sim::Board::instance().control().execute(off);
        EXPECT_EQ(answer.rfind("error ", 0), 0u) << off << ": " << answer;
        EXPECT_TRUE(answer.find("is not a number from 0 to 799") != std::string::npos ||
                    answer.find("is not a number from 0 to 479") != std::string::npos)
            << off << ": " << answer;
    }
    EXPECT_EQ(platform::touch().readEvent(fd, e, 0), 0);

    std::thread closer([fd] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        platform::touch().close(fd);
    });
    // The queue still has the rest of the tap; drain it, then wait.
    while (platform::touch().readEvent(fd, e, 0) == 1) {
    }
    EXPECT_EQ(platform::touch().readEvent(fd, e, 5000), -1);
    closer.join();
}

class SimHotplug : public SimBoardTest {};

TEST_F(SimHotplug, MessagesReachEveryListenerWithTheirFields)
{
    sim::HotplugModel& model = sim::Board::instance().hotplug();
    static const char raw[] = "add@/devices/usb1\0ACTION=add\0SUBSYSTEM=block\0";
    const std::string message(raw, sizeof(raw) - 1);
    const ssize_t size = static_cast<ssize_t>(message.size());
    model.inject(message);   // nobody listens: lost, as with the kernel
    const int a = platform::hotplug().open();
    const int b = platform::hotplug().open();
    ASSERT_GE(a, 0x40000000);
    EXPECT_NE(a, b);
    EXPECT_EQ(model.listeners(), 2u);
    char buf[256];
    EXPECT_EQ(platform::hotplug().receive(a, buf, sizeof(buf), 20), 0);

    model.inject(message);
    ASSERT_EQ(platform::hotplug().receive(a, buf, sizeof(buf), 100), size);
    EXPECT_EQ(std::string(buf, message.size()), message);
    ASSERT_EQ(platform::hotplug().receive(b, buf, 10, 100), 10) << "cut to the buffer";
    EXPECT_EQ(std::string(buf, 10), message.substr(0, 10));
    EXPECT_EQ(platform::hotplug().receive(b, buf, sizeof(buf), 0), 0) << "the rest of a cut message is gone";

    EXPECT_EQ(sim::Board::instance().control().execute("uevent remove@/devices/usb1|ACTION=remove"), "ok\n");
    const ssize_t n = platform::hotplug().receive(a, buf, sizeof(buf), 100);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n > 0 ? n : 0)),
              std::string("remove@/devices/usb1\0ACTION=remove\0", 35));
    EXPECT_EQ(sim::Board::instance().control().execute("uevent").rfind("error ", 0), 0u);

    EXPECT_EQ(platform::hotplug().close(a), 0);
    EXPECT_EQ(platform::hotplug().receive(a, buf, sizeof(buf), 0), -1);
    EXPECT_EQ(platform::hotplug().close(a), -1);
    platform::hotplug().close(b);
    EXPECT_EQ(model.listeners(), 0u);
}

TEST_F(SimHotplug, ReceiveWaitsThenWakesOnAMessage)
{
    const int fd = platform::hotplug().open();
    char buf[64];
    auto t0 = Clock::now();
    EXPECT_EQ(platform::hotplug().receive(fd, buf, sizeof(buf), 60), 0);
    EXPECT_GE(msSince(t0), 55);
    std::thread injector([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sim::Board::instance().hotplug().inject(std::string("change@/x\0", 10));
    });
    t0 = Clock::now();
    EXPECT_EQ(platform::hotplug().receive(fd, buf, sizeof(buf), 5000), 10);
    EXPECT_LT(msSince(t0), 4000);
    injector.join();
    EXPECT_EQ(platform::hotplug().receive(fd, nullptr, 10, 0), -1);
    platform::hotplug().close(fd);
}

} // namespace
