// USB hot-plug events: kernel messages turned into codes 100/101/102, the
// wait for the USB storage driver and the settling time, and a listener
// that waits for messages instead of spinning.
#include "support/sim_board_test.h"
#include "support/wait_for.h"

#include "core/global.h"
#include "core/usbserver.h"
#include "sim/board.h"
#include "sim/hotplug_model.h"

#include <QDir>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char kDevice[] = "/devices/platform/soc/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0";

struct Emitted {
    int code;
    unsigned int tick;
};

class UsbEvents : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        QObject::connect(&usb, &UsbServer::sig_usb_update, &usb, [this](int code) {
            std::lock_guard<std::mutex> lock(mutex);
            emitted.push_back({code, G_timeTicks.load()});
        }, Qt::DirectConnection);
    }

    std::vector<int> codes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<int> out;
        for (const Emitted& e : emitted)
            out.push_back(e.code);
        return out;
    }
    unsigned int tickOf(int code)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Emitted& e : emitted)
            if (e.code == code)
                return e.tick;
        return ~0u;
    }
    void deal(const std::string& message) { usb.deal_message(message.c_str(), message.size() + 1); }
    void storageDriver() { ASSERT_TRUE(QDir().mkpath(QString::fromStdString(hostPath("/proc/scsi/usb-storage")))); }
    // Handles the message on a worker, as the listening thread does,
    // advancing the ticks one at a time until it is done; at tick
    // driverTick the storage driver appears.
    void dealTicking(const std::string& message, unsigned int driverTick = 0, unsigned int limit = 5000)
    {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            deal(message);
            done = true;
        });
        while (!done && G_timeTicks < limit) {
            if (G_timeTicks == driverTick)
                storageDriver();
            ++G_timeTicks;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        worker.join();
    }

    UsbServer usb;
    std::mutex mutex;
    std::vector<Emitted> emitted;
};

TEST_F(UsbEvents, DevicesWithoutAReadyPartition)
{
    storageDriver();
    deal(std::string("remove@") + kDevice);
    EXPECT_EQ(codes(), std::vector<int>({101}));
    deal(std::string("add@") + kDevice + "/block/sda");
    deal(std::string("add@") + kDevice + "/block/sda/sda10");
    deal(std::string("add@") + kDevice + "/block/sdb/sdb1");
    deal(std::string("add@") + kDevice + "/block/sda/sdb1");
    deal(std::string("add@") + kDevice + "/block/sda/sdax");
    deal(std::string("add@") + kDevice + "/sda/sda1");
    EXPECT_EQ(codes(), std::vector<int>({101, 100, 100, 100, 100, 100, 100}));
    // A removed partition is reported as a removal only: nothing waits
    // for a driver that went with the disk.
    deal(std::string("remove@") + kDevice + "/block/sda/sda1");
    EXPECT_EQ(codes().back(), 101);
    EXPECT_EQ(codes().size(), 8u);
    // Other actions and text after the first zero byte say nothing.
    const std::string change = std::string("change@") + kDevice + '\0' + "add@/block/sda/sda1";
    usb.deal_message(change.data(), change.size());
    deal("");
    deal("////");
    EXPECT_EQ(codes().size(), 8u);
}

TEST_F(UsbEvents, PartitionNames)
{
    auto at = [](std::vector<std::string> parts) { return UsbServer::names_partition(parts, 0); };
    EXPECT_TRUE(at({"block", "sda", "sda0"}));
    EXPECT_TRUE(at({"block", "sda", "sda9"}));
    EXPECT_FALSE(at({"block", "sda"}));
    EXPECT_FALSE(at({"block", "sda", "sda"}));
    EXPECT_FALSE(at({"block", "sda", "sda12"}));
    EXPECT_FALSE(at({"block", "sdb", "sda1"}));
    EXPECT_FALSE(at({"block", "sda", "sdb1"}));
    EXPECT_FALSE(at({"blocks", "sda", "sda1"}));
}

TEST_F(UsbEvents, AddedPartitionIsReadyAfterTheDiskSettles)
{
    storageDriver();
    G_timeTicks = 0;
    dealTicking(std::string("add@") + kDevice + "/block/sda/sda1");
    EXPECT_EQ(codes(), std::vector<int>({100, 102}));
    EXPECT_GT(tickOf(102), UsbServer::kSettleTicks);
    EXPECT_EQ(usb.emitted(100), 1u);
    EXPECT_EQ(usb.emitted(102), 1u);
}

TEST_F(UsbEvents, PartitionWaitsForTheStorageDriver)
{
    G_timeTicks = 0;
    dealTicking(std::string("add@") + kDevice + "/block/sda/sda1", 500);
    EXPECT_EQ(codes(), std::vector<int>({100, 102}));
    EXPECT_GT(tickOf(102), 500 + UsbServer::kSettleTicks);
}

TEST_F(UsbEvents, PartitionWithoutStorageDriverIsGivenUp)
{
    G_timeTicks = 0;
    dealTicking(std::string("add@") + kDevice + "/block/sda/sda1", ~0u, 100000);
    EXPECT_EQ(codes(), std::vector<int>({100}));
    EXPECT_LE(G_timeTicks.load(), UsbServer::kStorageWaitTicks + 100);
}

TEST_F(UsbEvents, ListenerWaitsForAMessage)
{
    ASSERT_EQ(usb.open_source(), 0);
    EXPECT_TRUE(usb.listening());
    usb.set_receive_wait(60000);
    sim::HotplugModel& source = sim::Board::instance().hotplug();
    int result = -1;
    std::thread listener([&] { result = usb.recvData(); });
    // The listener sits in the source's wait until a message comes.
    ASSERT_TRUE(waitFor([&] { return source.waiting() == 1; }));
    EXPECT_TRUE(codes().empty());
    source.inject(std::string("remove@") + kDevice + '\0' + "ACTION=remove" + '\0');
    listener.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(codes(), std::vector<int>({101}));

    // A silent source: the look ends after its wait with nothing handled.
    usb.set_receive_wait(1);
    EXPECT_EQ(usb.recvData(), 0);
    EXPECT_EQ(codes().size(), 1u);
}

} // namespace

#include "support/shell_fixture.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"

TEST_F(ShellTest, ReadyUsbPartitionClosesTheSettingsMenu)
{
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(hostPath("/proc/scsi/usb-storage"))));
    UsbServer usb;
    std::vector<int> codes;
    QObject::connect(&usb, &UsbServer::sig_usb_update, &usb, [&](int code) { codes.push_back(code); },
                     Qt::DirectConnection);
    int focusInside = -1;
    whenModal([&] {
        focusInside = g_page_focus.load();
        std::atomic<bool> done{false};
        const std::string message = std::string("add@") + kDevice + "/block/sda/sda1";
        std::thread worker([&] {
            usb.deal_message(message.c_str(), message.size());
            done = true;
        });
        // Ticks counted (and the GUI timer's slot run) let the disk settle.
        while (!done) {
            tick(1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        worker.join();
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_EQ(focusInside, 5);
    EXPECT_EQ(codes, std::vector<int>({100, 102}));
    EXPECT_FALSE(g_option);
    EXPECT_EQ(g_page_focus.load(), 1);
}
