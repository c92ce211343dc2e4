// Core services of the running program: a USB disk plugged into the
// simulated board reaches the GUI as codes 100 and 102, and the names of
// the alias file label the idle status screen.
#include "support/app_runner.h"
#include "support/wait_for.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

void put(const std::string& path, const std::string& text)
{
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
}

} // namespace

TEST(E2eCoreServices, UsbDiskAndAliasNamesReachTheScreen)
{
    AppRunner app;
    put(app.hostPath("/data/configs/alias.json"),
        R"({"filename": "/data/configs/alias.json",
            "namelist": {"source": [ {"id": "5", "valid": "on", "name": "Lobby camera"} ]}})");
    // The USB storage driver is loaded and the disk holds a file.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(app.hostPath("/proc/scsi/usb-storage"))));
    put(app.hostPath("/mnt/usb1/show.bin"), "x");
    ASSERT_TRUE(app.start()) << app.output().toStdString();

    const std::string names = app.control("idle-names");
    EXPECT_NE(names.find("\nLobby camera"), std::string::npos) << names;
    EXPECT_EQ(names.rfind("Lobby camera"), names.size() - 12) << "input 5 carries the name: " << names;

    ASSERT_TRUE(waitFor([&] { return app.control("usb-events").find("listening=1") == 0; }, 10000))
        << app.control("usb-events");
    EXPECT_EQ(app.control("uevent add@/devices/soc/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/sda1"
                          "|ACTION=add|SUBSYSTEM=block"),
              "");
    // The disk is added at once and ready after it settled (3 s of ticks),
    // each code delivered to the GUI thread.
    const bool ready = waitFor([&] { return app.control("usb-events").find("102=1/1") != std::string::npos; }, 15000);
    const std::string events = app.control("usb-events");
    EXPECT_TRUE(ready) << events;
    EXPECT_NE(events.find("100=1/1"), std::string::npos) << events;
    EXPECT_NE(events.find("101=0/0"), std::string::npos) << events;

    EXPECT_EQ(app.control("uevent remove@/devices/soc/usb1/1-1"), "");
    EXPECT_TRUE(waitFor([&] { return app.control("usb-events").find("101=1/1") != std::string::npos; }, 5000))
        << app.control("usb-events");
    app.stop();
}
