#include "link/k47_wifi_config.h"

#include "core/atomic_file.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "link/link_global.h"
#include "platform/platform.h"
#include "videochip/c331_manage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QStringList>
#include <chrono>
#include <sstream>
#include <vector>

Published<K47_WIFI_CONFIG> K47_WIFI_CONFIG::p_wifi_config;

namespace {

bool writeText(const char* systemPath, const std::string& text)
{
    const QString host = platform::boardPath(QString(systemPath));
    QDir().mkpath(QFileInfo(host).absolutePath());
    return writeFileAtomically(host.toStdString(), reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

std::string readText(const char* systemPath)
{
    std::vector<unsigned char> bytes;
    if (!readWholeFile(platform::boardPath(std::string(systemPath)), bytes))
        return std::string();
    return std::string(bytes.begin(), bytes.end());
}

// The value of "key=value" (quotes removed) in a configuration text.
std::string confValue(const std::string& text, const std::string& key)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos || line.compare(b, key.size() + 1, key + "=") != 0)
            continue;
        std::string v = line.substr(b + key.size() + 1);
        // The value as stored, spaces included (a name may end in one).
        while (!v.empty() && v.back() == '\r')
            v.pop_back();
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
            v = v.substr(1, v.size() - 2);
        return v;
    }
    return std::string();
}

bool printableWord(const std::string& s)
{
    for (char c : s)
        if (c < 0x20 || c > 0x7E || c == '"' || c == '\\' || c == ',')
            return false;
    return true;
}

std::vector<std::string> splitCommas(const std::string& s)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = s.find(',', start);
        parts.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

// A unicast host address for the WiFi side (dotted quad, last octet 1..254).
bool validWifiIp(const std::string& ip)
{
    const QString q = QString::fromStdString(ip);
    if (!Utils::isDottedQuad(q))
        return false;
    const QStringList p = q.split('.');
    // A leading zero would read as octal (050 is 40) or not at all (08)
    // in the network tools the address reaches.
    for (const QString& part : p)
        if (part.size() > 1 && part.startsWith('0'))
            return false;
    const int a = p[0].toInt();
    const int d = p[3].toInt();
    return a != 0 && a != 127 && a < 224 && d >= 1 && d <= 254;
}

std::string currentWifiIp()
{
    const std::string ip = Utils::settings_copy(g_str_wifi_ip).toStdString();
    return validWifiIp(ip) ? ip : std::string(K47_WIFI_CONFIG::kDefaultWifiIp);
}

} // namespace

K47_WIFI_CONFIG* K47_WIFI_CONFIG::pInstance()
{
    if (!p_wifi_config) {
        K47_WIFI_CONFIG* w = new K47_WIFI_CONFIG();
        w->start();
        p_wifi_config = w;
    }
    return p_wifi_config;
}

K47_WIFI_CONFIG::K47_WIFI_CONFIG() = default;

K47_WIFI_CONFIG::~K47_WIFI_CONFIG()
{
    stop();
}

void K47_WIFI_CONFIG::start()
{
    ensure_files();
    if (m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = false;
    }
    m_thread = std::thread(&K47_WIFI_CONFIG::wifiThread, this);
}

void K47_WIFI_CONFIG::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

std::string K47_WIFI_CONFIG::default_ap_ssid()
{
    // The device id's last four digits tell devices apart.
    std::string tail(g_pid + 28, 4);
    if (tail.find('\0') != std::string::npos)
        tail = "0000";
    return "K47N_" + tail;
}

bool K47_WIFI_CONFIG::valid_ssid(const std::string& s)
{
    return !s.empty() && s.size() <= 32 && printableWord(s);
}

bool K47_WIFI_CONFIG::valid_password(const std::string& s)
{
    return s.size() >= 8 && s.size() <= 63 && printableWord(s);
}

K47_WIFI_CONFIG::Settings K47_WIFI_CONFIG::read_settings() const
{
    std::lock_guard<std::mutex> lock(m_fileMutex);
    Settings s;
    const std::string ap = readText(kHostapdConf);
    s.apSsid = confValue(ap, "ssid");
    s.apPassword = confValue(ap, "wpa_passphrase");
    const std::string sta = readText(kWpaConf);
    s.staSsid = confValue(sta, "ssid");
    s.staPassword = confValue(sta, "psk");
    return s;
}

bool K47_WIFI_CONFIG::write_ap_files(const std::string& ssid, const std::string& password)
{
    std::ostringstream c;
    c << "interface=wlan0\n"
      << "driver=rtl871xdrv\n"
      << "ctrl_interface=/var/run/hostapd\n"
      << "ssid=" << ssid << "\n"
      << "channel=6\n"
      << "hw_mode=g\n"
      << "ieee80211n=1\n"
      << "wpa=2\n"
      << "wpa_passphrase=" << password << "\n"
      << "wpa_key_mgmt=WPA-PSK\n"
      << "rsn_pairwise=CCMP\n";
    std::lock_guard<std::mutex> lock(m_fileMutex);
    return writeText(kHostapdConf, c.str());
}

bool K47_WIFI_CONFIG::write_station_file(const std::string& ssid, const std::string& password)
{
    std::ostringstream c;
    c << "ctrl_interface=/var/run/wpa_supplicant\n";
    if (!ssid.empty()) {
        c << "network={\n"
          << "\tssid=\"" << ssid << "\"\n";
        if (password.empty())
            c << "\tkey_mgmt=NONE\n";
        else
            c << "\tpsk=\"" << password << "\"\n";
        c << "}\n";
    }
    std::lock_guard<std::mutex> lock(m_fileMutex);
    return writeText(kWpaConf, c.str());
}

namespace {

// The DHCP server's configuration for the WiFi address: the address pool is
// the half of the /24 that the device's own address does not lie in.
std::string dhcpText(const std::string& wifiIp)
{
    const QStringList p = QString::fromStdString(wifiIp).split('.');
    const std::string net = (p[0] + "." + p[1] + "." + p[2] + ".").toStdString();
    const bool low = p[3].toInt() < 128;
    std::ostringstream c;
    c << "start " << net << (low ? 128 : 2) << "\n"
      << "end " << net << (low ? 254 : 127) << "\n"
      << "interface wlan0\n"
      << "opt subnet 255.255.255.0\n"
      << "opt router " << wifiIp << "\n"
      << "opt lease 86400\n";
    return c.str();
}

} // namespace

bool K47_WIFI_CONFIG::write_dhcp_file(const std::string& wifiIp)
{
    std::lock_guard<std::mutex> lock(m_fileMutex);
    return writeText(kUdhcpdConf, dhcpText(wifiIp));
}

bool K47_WIFI_CONFIG::restore_defaults()
{
    // A mark that the restore runs: a power cut before its end leaves it,
    // and the next start restores again (the files are several).
    {
        std::lock_guard<std::mutex> lock(m_fileMutex);
        if (!writeText(kRestoreMark, "restore\n"))
            return false;
    }
    const std::string ip = kDefaultWifiIp;
    // The settings file first: the DHCP file is derived from it.
    Utils::set_wifi_ip(QString::fromStdString(ip));
    if (!write_ap_files(default_ap_ssid(), kDefaultPassword) || !write_station_file("", "") || !write_dhcp_file(ip))
        return false;
    std::lock_guard<std::mutex> lock(m_fileMutex);
    QFile::remove(platform::boardPath(QString(kRestoreMark)));
    return true;
}

void K47_WIFI_CONFIG::ensure_files()
{
    if (QFileInfo::exists(platform::boardPath(QString(kRestoreMark))))
        restore_defaults();
    auto missing = [](const char* path) { return !QFileInfo::exists(platform::boardPath(QString(path))); };
    if (missing(kHostapdConf))
        write_ap_files(default_ap_ssid(), kDefaultPassword);
    if (missing(kWpaConf))
        write_station_file(std::string(), std::string());
    // The DHCP file follows the WiFi address of the settings file, which is
    // written first: a power cut between the two is repaired here.
    if (missing(kUdhcpdConf) || readText(kUdhcpdConf) != dhcpText(currentWifiIp()))
        write_dhcp_file(currentWifiIp());
}

std::string K47_WIFI_CONFIG::at_datagram(const std::string& datagram)
{
    std::string line = datagram;
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
        line.resize(line.size() - 2);
    else if (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    if (line.empty() || line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return kAtError;
    return at_command(line);
}

std::string K47_WIFI_CONFIG::at_command(const std::string& line)
{
    if (line == "AT")
        return kAtOk;
    if (line == "AT+GETVER")
        return std::string("+GETVER:") + kVersion + "\r\n" + kAtOk;
    if (line == "AT+CHECKDATA") {
        const Settings s = read_settings();
        return "+CHECKDATA:" + s.apSsid + "," + s.apPassword + "," + s.staSsid + "," + s.staPassword + "," +
               currentWifiIp() + "\r\n" + kAtOk;
    }
    if (line == "AT+RST") {
        post(kRestartAp | kRestartStation);
        return kAtOk;
    }
    if (line == "AT+RESTORE") {
        if (!restore_defaults())
            return kAtError;
        post(kRestartAp | kRestartStation);
        return kAtOk;
    }
    const std::string set = "AT+SETDATA=";
    if (line.compare(0, set.size(), set) != 0)
        return kAtError;
    const std::vector<std::string> args = splitCommas(line.substr(set.size()));
    if (args[0] == "1" && args.size() == 3 && valid_ssid(args[1]) && valid_password(args[2])) {
        if (!write_ap_files(args[1], args[2]))
            return kAtError;
        post(kRestartAp);
        return kAtOk;
    }
    if (args[0] == "2" && args.size() == 3 &&
        ((args[1].empty() && args[2].empty()) ||
         (valid_ssid(args[1]) && (args[2].empty() || valid_password(args[2]))))) {
        if (!write_station_file(args[1], args[2]))
            return kAtError;
        post(kRestartStation);
        return kAtOk;
    }
    if (args[0] == "3" && args.size() == 2 && validWifiIp(args[1])) {
        // The settings file first: the DHCP file is derived from it (and
        // brought into line at start after a power cut between the two).
        Utils::set_wifi_ip(QString::fromStdString(args[1]));
        if (!write_dhcp_file(args[1]))
            return kAtError;
        post(kRestartAp);
        return kAtOk;
    }
    return kAtError;
}

void K47_WIFI_CONFIG::post(unsigned jobs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs |= jobs;
    }
    m_wake.notify_all();
}

bool K47_WIFI_CONFIG::wifi_off() const
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store)
        return false;
    return store->block_byte(para::kWifiOff) == 1;
}

void K47_WIFI_CONFIG::stop_daemon(const char* name)
{
    std::string pids;
    {
        QMutexLocker lock(&Utils::_system_mutex);
        platform::shell().capture(std::string("pidof ") + name, pids);
    }
    std::istringstream in(pids);
    std::string pid;
    while (in >> pid) {
        if (pid.size() > 7 || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        Utils::system_mutex(QString::fromStdString("kill " + pid));
    }
}

void K47_WIFI_CONFIG::ap_up()
{
    const std::string ip = currentWifiIp();   // a checked dotted quad
    Utils::system_mutex(QString::fromStdString("ifconfig wlan0 " + ip + " netmask 255.255.255.0 up"));
    Utils::system_mutex(QString("hostapd -B ") + kHostapdConf);
    Utils::system_mutex(QString("udhcpd ") + kUdhcpdConf);
    m_apUp = true;
}

void K47_WIFI_CONFIG::ap_down()
{
    stop_daemon("hostapd");
    stop_daemon("udhcpd");
    Utils::system_mutex("ifconfig wlan0 down");
    m_apUp = false;
}

void K47_WIFI_CONFIG::station_up()
{
    if (read_settings().staSsid.empty())
        return;
    Utils::system_mutex(QString("wpa_supplicant -B -D wext -i wlan1 -c ") + kWpaConf);
    Utils::system_mutex("udhcpc -b -i wlan1");
}

void K47_WIFI_CONFIG::station_down()
{
    stop_daemon("wpa_supplicant");
    stop_daemon("udhcpc");
}

void K47_WIFI_CONFIG::wifiThread()
{
    Utils::name_thread("wifi");
    if (!wifi_off())
        ap_up();
    station_up();
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_stop || m_jobs != 0; });
        if (m_stop)
            break;
        const unsigned jobs = m_jobs;
        m_jobs = 0;
        lock.unlock();
        // The access point follows the WiFi-off byte of the parameter block.
        const bool off = wifi_off();
        if ((jobs & kRestartAp) || (off && m_apUp)) {
            if (m_apUp)
                ap_down();
            if (!off)
                ap_up();
        } else if (!off && !m_apUp) {
            ap_up();
        }
        if (jobs & kRestartStation) {
            station_down();
            station_up();
        }
        lock.lock();
    }
}
