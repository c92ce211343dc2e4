// The program's start on an empty board: the settings and parameter files
// appear with their defaults, and the user modes found in /data/modes load.
#include "support/app_runner.h"

#include "core/default_para.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>

namespace {

std::string readAll(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll().toStdString();
}

} // namespace

TEST(E2eParameterStore, EmptyBoardGetsItsFilesAndUserModesLoad)
{
    AppRunner app;
    QDir().mkpath(QString::fromStdString(app.hostPath("/data/modes")));
    std::string mode(4096, '\x33');
    mode[0] = mode[1] = '\xAA';
    {
        QFile f(QString::fromStdString(app.hostPath("/data/modes/custom_mode5")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(mode.data(), static_cast<qint64>(mode.size()));
    }
    ASSERT_TRUE(app.start()) << app.output().toStdString();

    const std::string para = readAll(app.hostPath("/data/ram_device_info"));
    const DefaultParaImage& image = defaultParaImage();
    ASSERT_EQ(para.size(), 4096u);
    EXPECT_EQ(para, std::string(image.begin(), image.end()));

    QSettings ini(QString::fromStdString(app.hostPath("/data/configs/tcpip.ini")), QSettings::IniFormat);
    ini.beginGroup("config");
    EXPECT_EQ(ini.childKeys().size(), 17);
    EXPECT_EQ(ini.value("IPAddress").toString(), "192.168.1.199");
    EXPECT_EQ(ini.value("TcpPort").toInt(), 5005);

    EXPECT_EQ(app.control("store-read slot4 0 4"), "aaaa3333");
    EXPECT_EQ(app.control("store-read slot0 0 2"), "ffff");
    // The block holds the defaults: the LED screen 1920 x 1080.
    EXPECT_EQ(app.control("store-read block 1378 4"), "80073804");
}
