// The WiFi manager: its configuration files, the AT commands and the
// daemons it starts through the shell.
#include "support/link_fixture.h"

#include "core/para_layout.h"
#include "link/k47_wifi_config.h"
#include "core/global.h"
#include "link/link_global.h"
#include "sim/board.h"
#include "sim/shell_model.h"

#include <QSettings>

class WifiConfig : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        g_str_wifi_ip = K47_WIFI_CONFIG::kDefaultWifiIp;
    }
    void TearDown() override
    {
        wifi.stop();
        g_str_wifi_ip = K47_WIFI_CONFIG::kDefaultWifiIp;
        LinkTest::TearDown();
    }
    std::string conf(const char* path) { return readFile(hostPath(path)); }
    bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

    K47_WIFI_CONFIG wifi;
};

TEST_F(WifiConfig, StartWritesDefaultsAndBringsTheAccessPointUp)
{
    wifi.start();
    ASSERT_TRUE(waitFor([&] { return ranCommand("udhcpd /etc/udhcpd.conf"); }));
    EXPECT_TRUE(ranCommand("ifconfig wlan0 192.168.22.101 netmask 255.255.255.0 up"));
    EXPECT_TRUE(ranCommand("hostapd -B /etc/rtl_hostapd_2G.conf"));
    // No station is configured, so none is started.
    EXPECT_FALSE(ranCommand("udhcpc -b -i wlan1"));
    const std::string ap = conf("/etc/rtl_hostapd_2G.conf");
    EXPECT_TRUE(contains(ap, "interface=wlan0\ndriver=rtl871xdrv\n"));
    // The default name ends with the device id's last four digits.
    const std::string ssid = K47_WIFI_CONFIG::default_ap_ssid();
    EXPECT_EQ(ssid, "K47N_" + std::string(g_pid + 28, 4));
    EXPECT_TRUE(contains(ap, "ssid=" + ssid + "\n"));
    EXPECT_TRUE(contains(ap, "wpa_passphrase=12345678\n"));
    const std::string dhcp = conf("/etc/udhcpd.conf");
    EXPECT_TRUE(contains(dhcp, "start 192.168.22.128\nend 192.168.22.254\n"));
    EXPECT_TRUE(contains(dhcp, "opt router 192.168.22.101\n"));
    EXPECT_EQ(wifi.at_command("AT+CHECKDATA"), "+CHECKDATA:" + K47_WIFI_CONFIG::default_ap_ssid() + ",12345678,,,192.168.22.101\r\nOK\r\n");
}

TEST_F(WifiConfig, AccessPointStaysOffWhileSwitchedOff)
{
    ParaWriteLock().block()[para::kWifiOff] = 1;
    wifi.start();
    wifi.stop();
    EXPECT_FALSE(ranCommand("hostapd -B /etc/rtl_hostapd_2G.conf"));
    EXPECT_TRUE(exists(hostPath("/etc/rtl_hostapd_2G.conf")));
}

TEST_F(WifiConfig, SetDataWritesCheckedSettings)
{
    EXPECT_EQ(wifi.at_command("AT+SETDATA=1,Hall A,secret99"), "OK\r\n");
    EXPECT_TRUE(contains(conf("/etc/rtl_hostapd_2G.conf"), "ssid=Hall A\n"));
    EXPECT_EQ(wifi.at_command("AT+SETDATA=2,Office,pass word"), "OK\r\n");
    const std::string sta = conf("/etc/wpa_supplicant.conf");
    EXPECT_TRUE(contains(sta, "ssid=\"Office\"\n"));
    EXPECT_TRUE(contains(sta, "psk=\"pass word\"\n"));
    EXPECT_EQ(wifi.at_command("AT+SETDATA=3,10.20.30.200"), "OK\r\n");
    EXPECT_EQ(g_str_wifi_ip, "10.20.30.200");
    EXPECT_TRUE(contains(conf("/etc/udhcpd.conf"), "start 10.20.30.2\nend 10.20.30.127\n"));
    QSettings ini(QString::fromStdString(hostPath("/data/configs/tcpip.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value("config/WifiIPAddress").toString(), "10.20.30.200");
    EXPECT_EQ(wifi.at_command("AT+CHECKDATA"), "+CHECKDATA:Hall A,secret99,Office,pass word,10.20.30.200\r\nOK\r\n");
    // Names and passwords are reported as stored, a trailing space too.
    EXPECT_EQ(wifi.at_command("AT+SETDATA=1,Hall B ,secret99 "), "OK\r\n");
    EXPECT_EQ(wifi.at_command("AT+CHECKDATA"), "+CHECKDATA:Hall B ,secret99 ,Office,pass word,10.20.30.200\r\nOK\r\n");

    // An open station network, then no station at all.
    EXPECT_EQ(wifi.at_command("AT+SETDATA=2,Guest,"), "OK\r\n");
    EXPECT_TRUE(contains(conf("/etc/wpa_supplicant.conf"), "key_mgmt=NONE\n"));
    EXPECT_EQ(wifi.at_command("AT+SETDATA=2,,"), "OK\r\n");
    EXPECT_FALSE(contains(conf("/etc/wpa_supplicant.conf"), "network="));
}

TEST_F(WifiConfig, BadSettingsAreRefusedAndChangeNothing)
{
    wifi.at_command("AT+SETDATA=1,Hall,secret99");
    const std::string before = conf("/etc/rtl_hostapd_2G.conf");
    for (const char* line :
         {"AT+SETDATA=1,Hall,short", "AT+SETDATA=1,,secret99", "AT+SETDATA=1,Ha\"ll,secret99",
          "AT+SETDATA=1,Hall\nwpa=0,secret99", "AT+SETDATA=1,Hall,secret99,x", "AT+SETDATA=1,Hall",
          "AT+SETDATA=1,123456789012345678901234567890123,secret99", "AT+SETDATA=3,10.0.0.0",
          "AT+SETDATA=3,10.0.0.1; reboot", "AT+SETDATA=3,300.1.1.1", "AT+SETDATA=4,x", "AT+SETDATA=", "AT+FOO",
          "at+getver", "AT+SETDATA=3,192.168.050.1", "AT+SETDATA=3,192.168.8.08", "AT+SETDATA=3,010.1.1.1"})
        EXPECT_EQ(wifi.at_command(line), "ERROR\r\n") << line;
    // One command line with at most one trailing CR, LF or CR LF per
    // datagram; anything else is refused.
    for (const std::string& d : {std::string("AT"), std::string("AT\r"), std::string("AT\n"), std::string("AT\r\n")})
        EXPECT_EQ(wifi.at_datagram(d), "OK\r\n") << d;
    for (const std::string& d : {std::string(), std::string("\r\n"), std::string("AT\r\n\r\n"), std::string("AT\r\r"),
                                std::string("AT\0", 3), std::string("AT\n\r"), std::string("AT\r\nAT+RST")})
        EXPECT_EQ(wifi.at_datagram(d), "ERROR\r\n") << d;
    EXPECT_EQ(conf("/etc/rtl_hostapd_2G.conf"), before);
    EXPECT_EQ(g_str_wifi_ip, K47_WIFI_CONFIG::kDefaultWifiIp);
    EXPECT_TRUE(shellCommands().empty());
}

// A restore cut short (its mark still there) is finished at the next start.
TEST_F(WifiConfig, ARestoreCutShortIsFinishedAtStart)
{
    wifi.at_command("AT+SETDATA=1,Hall,secret99");
    wifi.at_command("AT+SETDATA=2,Office,password1");
    wifi.at_command("AT+SETDATA=3,10.0.0.9");
    writeFile(hostPath("/data/configs/wifi_restore"), "restore\n");
    wifi.start();
    wifi.stop();
    EXPECT_FALSE(exists(hostPath("/data/configs/wifi_restore")));
    EXPECT_EQ(wifi.at_command("AT+CHECKDATA"),
              "+CHECKDATA:" + K47_WIFI_CONFIG::default_ap_ssid() + ",12345678,,,192.168.22.101\r\nOK\r\n");
    EXPECT_TRUE(contains(conf("/etc/udhcpd.conf"), "opt router 192.168.22.101\n"));
}

TEST_F(WifiConfig, VersionRestoreAndRestart)
{
    EXPECT_EQ(wifi.at_command("AT+GETVER"), "+GETVER:K47N-WIFI-1.0\r\nOK\r\n");
    EXPECT_EQ(wifi.at_command("AT"), "OK\r\n");
    wifi.at_command("AT+SETDATA=1,Hall,secret99");
    wifi.at_command("AT+SETDATA=3,10.0.0.9");
    EXPECT_EQ(wifi.at_command("AT+RESTORE"), "OK\r\n");
    EXPECT_EQ(wifi.at_command("AT+CHECKDATA"), "+CHECKDATA:" + K47_WIFI_CONFIG::default_ap_ssid() + ",12345678,,,192.168.22.101\r\nOK\r\n");

    sim::Board::instance().shell().setOutput("pidof hostapd", "812 913\n");
    wifi.start();
    ASSERT_TRUE(waitFor([&] { return ranCommand("udhcpd /etc/udhcpd.conf"); }));
    sim::Board::instance().shell().clearLog();
    EXPECT_EQ(wifi.at_command("AT+RST"), "OK\r\n");
    ASSERT_TRUE(waitFor([&] { return ranCommand("hostapd -B /etc/rtl_hostapd_2G.conf"); }));
    EXPECT_TRUE(ranCommand("kill 812"));
    EXPECT_TRUE(ranCommand("kill 913"));
    EXPECT_TRUE(ranCommand("ifconfig wlan0 down"));
}
