// WiFi access point and station manager with its AT-command channel.
//
// The access point (hostapd on wlan0 with udhcpd) and the station
// (wpa_supplicant on wlan1 with udhcpc) are configured by the files
// /etc/rtl_hostapd_2G.conf, /etc/udhcpd.conf and /etc/wpa_supplicant.conf;
// the WiFi thread starts and stops the daemons through the shell. The WiFi
// configuration tool talks to at_command() over UDP port 13769.
#pragma once

#include "core/published.h"
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class K47_WIFI_CONFIG {
public:
    static constexpr const char* kAtOk = "OK\r\n";
    static constexpr const char* kAtError = "ERROR\r\n";
    static constexpr const char* kVersion = "K47N-WIFI-1.0";
    static constexpr const char* kHostapdConf = "/etc/rtl_hostapd_2G.conf";
    static constexpr const char* kUdhcpdConf = "/etc/udhcpd.conf";
    static constexpr const char* kWpaConf = "/etc/wpa_supplicant.conf";
    // Present while a factory restore of the WiFi settings runs.
    static constexpr const char* kRestoreMark = "/data/configs/wifi_restore";
    static constexpr const char* kDefaultPassword = "12345678";
    static constexpr const char* kDefaultWifiIp = "192.168.22.101";

    // Creates the manager on the first call and starts its thread.
    static K47_WIFI_CONFIG* pInstance();
    static Published<K47_WIFI_CONFIG> p_wifi_config;

    K47_WIFI_CONFIG();
    ~K47_WIFI_CONFIG();

    // Writes missing configuration files, brings the access point up (unless
    // it is switched off in the parameter block) and the station (when one
    // is configured), and starts the thread.
    void start();
    void stop();

    // One AT command line (without its line end); returns the reply text,
    // "ERROR\r\n" for anything not understood.
    std::string at_command(const std::string& line);
    // One datagram of the AT channel: one command line with at most one
    // trailing CR, LF or CR LF; anything else (an empty datagram, more
    // lines, a NUL or another CR or LF inside) answers ERROR.
    std::string at_datagram(const std::string& datagram);
    // The factory WiFi settings, all files and the address; false when a
    // file could not be written (the next start finishes it).
    bool restore_defaults();

    struct Settings {
        std::string apSsid;
        std::string apPassword;
        std::string staSsid;
        std::string staPassword;
    };
    // The settings as the configuration files hold them.
    Settings read_settings() const;
    static std::string default_ap_ssid();

    // Text that may go into a configuration file: printable ASCII without
    // '"', '\\' and ','; an SSID of 1 to 32, a WPA password of 8 to 63
    // characters.
    static bool valid_ssid(const std::string& s);
    static bool valid_password(const std::string& s);

private:
    enum Job : unsigned { kRestartAp = 1, kRestartStation = 2 };

    void wifiThread();
    void post(unsigned jobs);
    bool write_ap_files(const std::string& ssid, const std::string& password);
    bool write_station_file(const std::string& ssid, const std::string& password);
    bool write_dhcp_file(const std::string& wifiIp);
    void ensure_files();
    bool wifi_off() const;
    void ap_up();
    void ap_down();
    void station_up();
    void station_down();
    static void stop_daemon(const char* name);

    mutable std::mutex m_fileMutex;   // the configuration files
    std::mutex m_mutex;
    std::condition_variable m_wake;
    unsigned m_jobs = 0;
    bool m_stop = false;
    bool m_apUp = false;
    std::thread m_thread;
};
