// Configuration file and device identity: healing of tcpip.ini, item
// look-ups, device id, start-up with and without /dev/mem, launch line.
#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "link/link_global.h"
#include "sim/board.h"
#include "sim/phys_mem.h"
#include "sim/shell_model.h"
#include "support/sim_board_test.h"

#include <QDir>
#include <QSettings>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

struct Expected {
    const char* name;
    QVariant value;
    unsigned char kind;
};

const Expected kDefaults[] = {
    {"TcpPort", 5005, 1},
    {"UdpPort", 5008, 1},
    {"IPAddress", "192.168.1.199", 0},
    {"SubNetMask", "255.255.255.0", 0},
    {"GateWay", "192.168.1.1", 0},
    {"MAC", "FF:FF:FF:FF:FF:FF", 0},
    {"Barcode", " ", 0},
    {"WifiIPAddress", "192.168.22.101", 0},
    {"EDIDCheck", "Once", 0},
    {"SourceCheck", 255, 1},
    {"ImageLayoutPassword", "No", 0},
    {"eVoqcloudserverip", " ", 0},
    {"eVoqcloudserverport", " ", 1},
    {"eVoqclouduserip", " ", 0},
    {"eVoqcloudcontrollername", " ", 0},
    {"ZdrMaxPixel_UINT", 19600000, 1},
    {"usbupgradedir", "ZDR-K47", 0},
};

std::string pidText() { return std::string(g_pid, sizeof g_pid); }

class ConfigEngineTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        saved_ = g_debugSwitch;
        g_debugSwitch = 0;
        ConfigEngine::resetForTest();
        QDir().mkpath(QString::fromStdString(hostPath("/data/velmokq/log")));
        QDir().mkpath(QString::fromStdString(hostPath("/data/configs")));
        iniPath_ = hostPath("/data/configs/tcpip.ini");
    }
    void TearDown() override
    {
        ConfigEngine::resetForTest();
        g_debugSwitch = saved_;
        SimBoardTest::TearDown();
    }
    void writeLaunchLine(const std::string& line)
    {
        writeFile(hostPath("/data/configs/led_load_config.ini"), "[app-1]\napp_path=" + line + "\n");
    }

    std::string iniPath_;
    unsigned char saved_ = 254;
};

} // namespace

TEST_F(ConfigEngineTest, MissingGroupIsCompletedWithAllDefaults)
{
    writeFile(iniPath_, "[other]\nkeep=1\n");
    ConfigEngine* cfg = ConfigEngine::pInstance();
    ASSERT_NE(cfg, nullptr);

    QSettings file(QString::fromStdString(iniPath_), QSettings::IniFormat);
    file.beginGroup("config");
    EXPECT_EQ(file.childKeys().size(), 17);
    file.endGroup();
    EXPECT_EQ(file.value("other/keep").toString(), "1");
    for (int i = 0; i < 17; ++i) {
        const Expected& e = kDefaults[i];
        const QString key = QString("config/") + e.name;
        EXPECT_EQ(file.value(key).toString(), e.value.toString()) << e.name;
        EXPECT_EQ(cfg->read_config_variant(ConfigItem::ConfigName(i)).toString(), e.value.toString())
            << e.name;
    }
}

TEST_F(ConfigEngineTest, MissingFileIsCreatedWithDefaults)
{
    ASSERT_FALSE(exists(iniPath_));
    ConfigEngine::pInstance();
    ASSERT_TRUE(exists(iniPath_));
    QSettings file(QString::fromStdString(iniPath_), QSettings::IniFormat);
    EXPECT_EQ(file.value("config/usbupgradedir").toString(), "ZDR-K47");
    EXPECT_EQ(file.value("config/Barcode").toString(), " ");
}

TEST_F(ConfigEngineTest, EmptyValueIsHealedOthersKept)
{
    // A value with a comma, written by hand without quotes, is a value too.
    writeFile(iniPath_, "[config]\nIPAddress=\nTcpPort=6000\nEDIDCheck=Always\nBarcode=AB12,CD34\n");
    g_port = 1;
    ConfigEngine* cfg = ConfigEngine::pInstance();
    QSettings file(QString::fromStdString(iniPath_), QSettings::IniFormat);
    EXPECT_EQ(file.value("config/IPAddress").toString(), "192.168.1.199");
    EXPECT_EQ(file.value("config/TcpPort").toString(), "6000");
    EXPECT_EQ(file.value("config/EDIDCheck").toString(), "Always");
    EXPECT_EQ(cfg->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.1.199");
    EXPECT_EQ(cfg->read_config_variant(ConfigItem::TcpPort).toInt(), 6000);
    EXPECT_EQ(g_port, 6000u);
    EXPECT_EQ(g_int_tcp_port, 6000u);
    EXPECT_EQ(g_check_edid, "Always");
    EXPECT_EQ(cfg->read_config_variant(ConfigItem::Barcode).toString(), "AB12,CD34");
    const std::string text = readFile(iniPath_);
    EXPECT_NE(text.find("AB12"), std::string::npos) << text;
    EXPECT_NE(text.find("CD34"), std::string::npos) << text;
}

TEST_F(ConfigEngineTest, FirstCallMarksTheFileSynchronousOnce)
{
    sim::Board::instance().shell().clearLog();
    ConfigEngine* a = ConfigEngine::pInstance();
    ConfigEngine* b = ConfigEngine::pInstance();
    EXPECT_EQ(a, b);
    const auto cmds = sim::Board::instance().shell().commands();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.front(), "chattr +S /data/configs/tcpip.ini");
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "chattr +S /data/configs/tcpip.ini"), 1);
}

TEST_F(ConfigEngineTest, WriteGoesToTheFileAtOnce)
{
    ConfigEngine* cfg = ConfigEngine::pInstance();
    cfg->write_config_variant(ConfigItem::GateWay, QString("10.0.0.254"));
    cfg->write_config_variant(ConfigItem::TcpPort, 7000);
    EXPECT_EQ(cfg->read_config_variant(ConfigItem::GateWay).toString(), "10.0.0.254");
    EXPECT_EQ(cfg->read_config_variant(ConfigItem::TcpPort).toInt(), 7000);
    QSettings file(QString::fromStdString(iniPath_), QSettings::IniFormat);
    EXPECT_EQ(file.value("config/GateWay").toString(), "10.0.0.254");
    EXPECT_EQ(file.value("config/TcpPort").toInt(), 7000);

    // The next start reads the written values.
    ConfigEngine::resetForTest();
    cfg = ConfigEngine::pInstance();
    EXPECT_EQ(cfg->read_config_variant(ConfigItem::GateWay).toString(), "10.0.0.254");
    EXPECT_EQ(g_str_gateway, "10.0.0.254");
    EXPECT_EQ(g_port, 7000u);

    // Out of range is ignored.
    cfg->write_config_variant(ConfigItem::ConfigCount, 1);
    EXPECT_FALSE(cfg->read_config_variant(ConfigItem::ConfigCount).isValid());
}

TEST_F(ConfigEngineTest, LookUpsByName)
{
    ConfigEngine* cfg = ConfigEngine::pInstance();
    EXPECT_EQ(ConfigEngine::_itemMap.size(), 17);
    for (int i = 0; i < 17; ++i) {
        const Expected& e = kDefaults[i];
        const QString bare = e.name;
        const QString full = "config/" + bare;
        EXPECT_EQ(ConfigEngine::_itemMap.value(full, ConfigItem::ConfigCount), ConfigItem::ConfigName(i));
        EXPECT_TRUE(cfg->containsItemStr(bare)) << e.name;
        EXPECT_TRUE(cfg->containsItemStr(full)) << e.name;
        EXPECT_EQ(cfg->strToItem(bare), ConfigItem::ConfigName(i));
        EXPECT_EQ(cfg->strToItem(full), ConfigItem::ConfigName(i));
        ConfigItem* item = cfg->getConfigItem(bare);
        ASSERT_NE(item, nullptr) << e.name;
        EXPECT_EQ(item, cfg->getConfigItem(full));
        EXPECT_EQ(item->key, full);
        EXPECT_EQ(item->name, ConfigItem::ConfigName(i));
        EXPECT_EQ(item->kind, e.kind) << e.name;
        EXPECT_EQ(item->defaultValue.toString(), e.value.toString()) << e.name;
        EXPECT_EQ(item->file, "/data/configs/tcpip.ini");
    }
    EXPECT_EQ(cfg->getConfigItem("NoSuchItem"), nullptr);
    EXPECT_EQ(cfg->getConfigItem("config/NoSuchItem"), nullptr);
    EXPECT_FALSE(cfg->containsItemStr("NoSuchItem"));
    EXPECT_FALSE(cfg->containsItemStr("tcpport"));
    EXPECT_EQ(cfg->strToItem("NoSuchItem"), ConfigItem::ConfigCount);
}

TEST_F(ConfigEngineTest, DeviceIdFromUniqueIdRegisters)
{
    auto& mem = sim::Board::instance().mem();
    mem.setUniqueId(0x1234, 0x5678, 0x9ABC);
    mem.setResetValue(sim::PhysMemModel::kRiuBase + sim::PhysMemModel::kUidCtrl, 0xFFFF);
    memset(g_pid, 'z', sizeof g_pid);
    ConfigEngine::pInstance();
    EXPECT_EQ(pidText(), "1597bca0886b31023001305032627494");
    // Bit 8 of the control register is cleared, nothing else changed.
    EXPECT_EQ(mem.read16(sim::PhysMemModel::kRiuBase + sim::PhysMemModel::kUidCtrl), 0xFEFF);
}

TEST_F(ConfigEngineTest, DeviceIdOfZeroAndAllOnes)
{
    auto& mem = sim::Board::instance().mem();
    mem.setUniqueId(0, 0, 0);
    memset(g_pid, 'z', sizeof g_pid);
    ConfigEngine::pInstance();
    EXPECT_EQ(pidText(), std::string(32, '0'));

    ConfigEngine::resetForTest();
    mem.setUniqueId(0xFFFF, 0xFFFF, 0xFFFF);
    ConfigEngine::pInstance();
    // Nibbles 15: sums 30 >> 1 = 15, 45 / 3 = 15, 45 mod 3 = 0, (15+15) & 1 = 0.
    EXPECT_EQ(pidText(), "fffffff0fffff00ff000f0f0f0f0ffff");
}

TEST_F(ConfigEngineTest, MemFailureStillRunsTheRestOfStartUp)
{
    sim::Board::instance().mem().setMemOpenFails(true);
    writeFile(iniPath_, "[config]\nIPAddress=10.20.30.40\nSourceCheck=3\n");
    writeLaunchLine("/data/app/zdrK47N -platform linuxfb");
    memset(g_pid, 'z', sizeof g_pid);
    g_str_ip = "stale";
    g_check_source = -1;
    g_update_status = 0;
    factoryage_log = {"old line"};
    factoryage_log_num = 1;

    ConfigEngine* cfg = ConfigEngine::pInstance();
    ASSERT_NE(cfg, nullptr);
    EXPECT_EQ(pidText(), std::string(32, '\0'));
    EXPECT_EQ(g_str_ip, "10.20.30.40");
    EXPECT_EQ(g_check_source, 3);
    EXPECT_EQ(g_update_status, 1);
    EXPECT_TRUE(factoryage_log.empty());
    EXPECT_EQ(factoryage_log_num, 0u);
    const std::string logText = readFile(hostPath(kEngineLogPath));
    EXPECT_NE(logText.find("[ERROR   ] # RUVOMSG # "), std::string::npos);
}

TEST_F(ConfigEngineTest, LaunchLineCheck)
{
    g_update_status = 7;
    writeLaunchLine("/data/app/zdrK47N -platform linuxfb");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 1);

    for (const std::string other : {"/data/app/zdrK47N2 -platform linuxfb", "/data/app/zdrK47N", ""}) {
        ConfigEngine::resetForTest();
        g_update_status = 7;
        writeLaunchLine(other);
        ConfigEngine::pInstance();
        EXPECT_EQ(g_update_status, 0) << other;
    }

    ConfigEngine::resetForTest();
    ASSERT_TRUE(QFile::remove(QString::fromStdString(hostPath("/data/configs/led_load_config.ini"))));
    g_update_status = 7;
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 0);
}

TEST_F(ConfigEngineTest, DefaultsLeaveTheCloudOff)
{
    g_eVoq_cloud = 9;
    g_eVoq_cloudserverport = 99;
    ConfigEngine::pInstance();
    EXPECT_EQ(g_eVoq_cloud, 0);
    EXPECT_EQ(g_eVoq_cloudserverport, 0);
    EXPECT_EQ(g_eVoq_cloudserverip, " ");
    EXPECT_EQ(g_eVoq_clouduserid, " ");
    EXPECT_EQ(g_eVoq_controllername, " ");
    EXPECT_EQ(g_usb_grade_path, "ZDR-K47");
    EXPECT_EQ(g_zdr_max_pixel, 19600000u);
}

TEST_F(ConfigEngineTest, CreatesTheParameterFileOnlyWhenMissing)
{
    const std::string para = hostPath("/data/ram_device_info");
    // The trace of a first start names the file and says why it is missing.
    g_debugSwitch = 254;
    testing::internal::CaptureStdout();
    ConfigEngine::pInstance();
    const std::string trace = testing::internal::GetCapturedStdout();
    g_debugSwitch = 0;
    EXPECT_NE(trace.find("\n ConfigEngine::pInstance error fopen 01! (" + para +
                         ": none yet, as at a first start; the default parameters are written to it)\n"),
              std::string::npos)
        << trace;
    const std::string created = readFile(para);
    ASSERT_EQ(created.size(), 4096u);
    EXPECT_EQ(0, std::memcmp(created.data(), ConfigEngine::default_para_ramlist, 4096));

    // An existing file is never rewritten here, whatever its size.
    ConfigEngine::resetForTest();
    writeFile(para, "short");
    ConfigEngine::pInstance();
    EXPECT_EQ(readFile(para), "short");
}
