// Power cuts: the program is killed (SIGKILL, as a power cut) just before
// each rename of the settings one action changes together, the network
// settings from the PC, the WiFi address and the WiFi factory restore over
// the AT channel. After each cut the settings file holds all of the old
// values or all of the new ones, the files derived from it agree after a
// restart, and the device reports what the file holds; the restart leaves
// nothing of the cut write behind, and a file kept beside the settings
// survives. The same holds for the two files written most often, the
// parameter file and the user-mode files: a cut just before or just after
// any rename of a change the PC applies (flag 1, a user-mode save with it)
// or of a rewrite of the user-mode files (flag 2) leaves each file old or
// new, the PC reads back what the file holds after a restart, and no
// temporary stays. A brightness change cut between the parameter file and
// the brightness record is the level after the restart as the file holds
// it, in the record and on both FPGAs. A board root holding what
// interrupted writes leave behind is cleaned at start, the real files
// untouched.
#include "support/app_runner.h"

#include "pcclient/pc_client.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace {

std::string readAll(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return std::string("<missing>");
    const QByteArray b = f.readAll();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

void writeAll(const std::string& path, const std::string& bytes)
{
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// The names in a folder of the board, sorted, hidden ones included.
std::vector<std::string> folder(AppRunner& app, const std::string& systemPath)
{
    std::vector<std::string> names;
    const QDir dir(QString::fromStdString(app.hostPath(systemPath)));
    for (const QString& n : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        names.push_back(n.toStdString());
    std::sort(names.begin(), names.end());
    return names;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string s;
    for (const std::string& n : names)
        s += (s.empty() ? "" : " ") + n;
    return s;
}

// A copy of the settings kept beside them by hand, readable by all as the
// settings file is.
const char* const kKeptBackup = "/data/configs/tcpip.ini.backup";

void keepBackup(AppRunner& app)
{
    writeAll(app.hostPath(kKeptBackup), "[config]\nIPAddress=192.168.1.50\n");
    QFile::setPermissions(QString::fromStdString(app.hostPath(kKeptBackup)),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                              QFileDevice::ReadOther);
}

// After a start: the settings folder and /etc hold their own files only.
void expectNothingStray(AppRunner& app, const std::string& what)
{
    EXPECT_EQ(joined(folder(app, "/data/configs")), "tcpip.ini tcpip.ini.backup") << what;
    EXPECT_EQ(readAll(app.hostPath(kKeptBackup)), "[config]\nIPAddress=192.168.1.50\n") << what;
    EXPECT_EQ(joined(folder(app, "/etc")), "rtl_hostapd_2G.conf udhcpd.conf wpa_supplicant.conf") << what;
}

struct Net {
    std::string ip, mask, gateway;
    int port = 0;
    bool operator==(const Net& o) const { return ip == o.ip && mask == o.mask && gateway == o.gateway && port == o.port; }
};

std::ostream& operator<<(std::ostream& os, const Net& n)
{
    return os << n.ip << "/" << n.mask << "/" << n.gateway << ":" << n.port;
}

Net fileNet(AppRunner& app)
{
    QSettings ini(QString::fromStdString(app.hostPath("/data/configs/tcpip.ini")), QSettings::IniFormat);
    return {ini.value("config/IPAddress").toString().toStdString(), ini.value("config/SubNetMask").toString().toStdString(),
            ini.value("config/GateWay").toString().toStdString(), ini.value("config/TcpPort").toInt()};
}

std::string fileWifi(AppRunner& app)
{
    QSettings ini(QString::fromStdString(app.hostPath("/data/configs/tcpip.ini")), QSettings::IniFormat);
    return ini.value("config/WifiIPAddress").toString().toStdString();
}

// The control link's UDP and AT ports of the running program.
void ports(AppRunner& app, unsigned short& udp, unsigned short& at)
{
    udp = app.linkPort("udp");
    at = app.linkPort("at");
}

std::string quad(const pcclient::Bytes& b, size_t at)
{
    return std::to_string(b[at]) + "." + std::to_string(b[at + 1]) + "." + std::to_string(b[at + 2]) + "." +
           std::to_string(b[at + 3]);
}

// What the device reports (device information, 0x80).
Net reportedNet(AppRunner& app)
{
    unsigned short udpPort = 0, atPort = 0;
    ports(app, udpPort, atPort);
    pcclient::UdpLink udp;
    pcclient::Reply r;
    if (!udp.open("127.0.0.1", udpPort) || !udp.request(pcclient::kProcessor, 0x80, {}, r, 5000) ||
        r.data.size() < 46)
        return {};
    return {quad(r.data, 32), quad(r.data, 36), quad(r.data, 40), r.data[44] | (r.data[45] << 8)};
}

// Arms the cut just before the nth rename onto one of the named files (or
// just after it).
void armCut(AppRunner& app, const std::string& names, int n, bool after = false)
{
    app.clearEnv();
    app.setEnv("LD_PRELOAD", ZDR_KILL_AT_RENAME_LIB);
    app.setEnv("ZDR_KILL_RENAME_NAMES", names);
    app.setEnv("ZDR_KILL_RENAME_AT", std::to_string(n));
    if (after)
        app.setEnv("ZDR_KILL_RENAME_AFTER", "1");
}

std::string cutName(int n, bool after)
{
    return "cut " + std::string(after ? "after " : "before ") + std::to_string(n);
}

bool cutDown(AppRunner& app)
{
    return app.waitFor([&] { return !app.running(); }) || !app.running();
}

TEST(E2ePowerCuts, TheNetworkSettingsOfOneCommandAreStoredWhole)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    app.stop();
    const std::string original = readAll(app.hostPath("/data/configs/tcpip.ini"));
    const Net old = fileNet(app);
    const Net fresh{"10.20.30.40", "255.255.0.0", "10.20.0.1", 45005};
    ASSERT_FALSE(old == fresh);
    const pcclient::Bytes set{10, 20, 30, 40, 255, 255, 0, 0, 10, 20, 0, 1, 0xCD, 0xAF};
    keepBackup(app);

    bool leftBehind = false;
    for (const bool after : {false, true}) {
        int cuts = 0;
        for (int n = 1; n <= 6; ++n) {
            const std::string what = cutName(n, after);
            writeAll(app.hostPath("/data/configs/tcpip.ini"), original);
            armCut(app, "tcpip.ini", n, after);
            ASSERT_TRUE(app.start()) << what << ": " << app.output().toStdString();
            unsigned short udpPort = 0, atPort = 0;
            ports(app, udpPort, atPort);
            pcclient::UdpLink udp;
            pcclient::Reply r;
            ASSERT_TRUE(udp.open("127.0.0.1", udpPort));
            const bool answered = udp.request(pcclient::kProcessor, 0x82, set, r, 3000);
            if (answered && app.running()) {
                // Every rename done: the new values, reported as stored.
                EXPECT_EQ(r.status, 0);
                EXPECT_EQ(fileNet(app), fresh);
                EXPECT_EQ(reportedNet(app), fresh);
                app.stop();
                break;
            }
            ASSERT_TRUE(cutDown(app)) << what;
            ++cuts;
            const Net stored = fileNet(app);
            EXPECT_TRUE(stored == old || stored == fresh) << what << ": " << stored;
            leftBehind = leftBehind || folder(app, "/data/configs").size() > 2;
            app.clearEnv();
            ASSERT_TRUE(app.start()) << app.output().toStdString();
            EXPECT_EQ(reportedNet(app), fileNet(app)) << what;
            expectNothingStray(app, what);
            app.stop();
        }
        EXPECT_GE(cuts, 1);
    }
    EXPECT_TRUE(leftBehind) << "a cut in the settings file's save leaves its temporary";
}

TEST(E2ePowerCuts, TheWifiAddressAndItsDhcpFileAgreeAfterAnyCut)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    app.stop();
    const std::string original = readAll(app.hostPath("/data/configs/tcpip.ini"));
    const std::string originalDhcp = readAll(app.hostPath("/etc/udhcpd.conf"));
    const std::string old = fileWifi(app);
    const std::string fresh = "10.9.8.7";
    ASSERT_NE(old, fresh);
    keepBackup(app);

    for (const bool after : {false, true}) {
        int cuts = 0;
        for (int n = 1; n <= 6; ++n) {
            const std::string what = cutName(n, after);
            writeAll(app.hostPath("/data/configs/tcpip.ini"), original);
            writeAll(app.hostPath("/etc/udhcpd.conf"), originalDhcp);
            armCut(app, "tcpip.ini,udhcpd.conf", n, after);
            ASSERT_TRUE(app.start()) << what << ": " << app.output().toStdString();
            unsigned short udpPort = 0, atPort = 0;
            ports(app, udpPort, atPort);
            const std::string reply = pcclient::atCommand("127.0.0.1", atPort, "AT+SETDATA=3," + fresh + "\r\n");
            if (reply == "OK\r\n" && app.running()) {
                EXPECT_EQ(fileWifi(app), fresh);
                EXPECT_NE(readAll(app.hostPath("/etc/udhcpd.conf")).find("opt router " + fresh + "\n"),
                          std::string::npos);
                app.stop();
                break;
            }
            ASSERT_TRUE(cutDown(app)) << what;
            ++cuts;
            const std::string stored = fileWifi(app);
            EXPECT_TRUE(stored == old || stored == fresh) << what << ": " << stored;
            // After a restart the DHCP file follows the stored address and the
            // device reports that address.
            app.clearEnv();
            ASSERT_TRUE(app.start()) << app.output().toStdString();
            EXPECT_NE(readAll(app.hostPath("/etc/udhcpd.conf")).find("opt router " + stored + "\n"), std::string::npos)
                << what << ":\n" << readAll(app.hostPath("/etc/udhcpd.conf"));
            ports(app, udpPort, atPort);
            const std::string check = pcclient::atCommand("127.0.0.1", atPort, "AT+CHECKDATA");
            EXPECT_NE(check.find("," + stored + "\r\nOK\r\n"), std::string::npos) << what << ": " << check;
            expectNothingStray(app, what);
            app.stop();
        }
        EXPECT_GE(cuts, 2) << "one cut at each of the two files";
    }
}

TEST(E2ePowerCuts, AWifiRestoreCutAnywhereIsFinishedAtTheNextStartAndLeavesNothingBehind)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    // Settings away from the factory ones, for the restore to change.
    {
        unsigned short udpPort = 0, atPort = 0;
        ports(app, udpPort, atPort);
        ASSERT_EQ(pcclient::atCommand("127.0.0.1", atPort, "AT+SETDATA=3,10.9.8.7\r\n"), "OK\r\n");
        ASSERT_EQ(pcclient::atCommand("127.0.0.1", atPort, "AT+SETDATA=1,Stage Left,secret-pass\r\n"), "OK\r\n");
        ASSERT_EQ(pcclient::atCommand("127.0.0.1", atPort, "AT+SETDATA=2,Hall Net,hall-pass\r\n"), "OK\r\n");
    }
    app.stop();
    const char* const files[] = {"/data/configs/tcpip.ini", "/etc/rtl_hostapd_2G.conf", "/etc/wpa_supplicant.conf",
                                 "/etc/udhcpd.conf"};
    std::vector<std::string> before;
    for (const char* f : files)
        before.push_back(readAll(app.hostPath(f)));
    ASSERT_EQ(fileWifi(app), "10.9.8.7");
    keepBackup(app);

    // The restore writes its mark, the settings file and the three WiFi
    // files: a cut before each rename, then one past the last.
    bool leftBehind = false;
    for (const bool after : {false, true}) {
        int cuts = 0;
        for (int n = 1; n <= 7; ++n) {
            const std::string what = cutName(n, after);
            for (size_t i = 0; i < before.size(); ++i)
                writeAll(app.hostPath(files[i]), before[i]);
            armCut(app, "wifi_restore,tcpip.ini,rtl_hostapd_2G.conf,wpa_supplicant.conf,udhcpd.conf", n, after);
            ASSERT_TRUE(app.start()) << what << ": " << app.output().toStdString();
            unsigned short udpPort = 0, atPort = 0;
            ports(app, udpPort, atPort);
            const std::string reply = pcclient::atCommand("127.0.0.1", atPort, "AT+RESTORE\r\n");
            if (reply == "OK\r\n" && app.running()) {
                app.stop();
                EXPECT_EQ(fileWifi(app), "192.168.22.101");
                EXPECT_EQ(joined(folder(app, "/data/configs")), "tcpip.ini tcpip.ini.backup");
                break;
            }
            ASSERT_TRUE(cutDown(app)) << what;
            ++cuts;
            leftBehind = leftBehind || folder(app, "/data/configs").size() > 2 || folder(app, "/etc").size() > 3;
            // A cut before the mark is in place leaves the old settings; any
            // later one (from just after the mark's rename on) is finished by
            // the next start.
            app.clearEnv();
            ASSERT_TRUE(app.start()) << app.output().toStdString();
            ports(app, udpPort, atPort);
            const std::string check = pcclient::atCommand("127.0.0.1", atPort, "AT+CHECKDATA");
            if (n == 1 && !after)
                EXPECT_EQ(check, "+CHECKDATA:Stage Left,secret-pass,Hall Net,hall-pass,10.9.8.7\r\nOK\r\n");
            else
                EXPECT_TRUE(check.rfind("+CHECKDATA:", 0) == 0 &&
                            check.find(",12345678,,,192.168.22.101\r\nOK\r\n") != std::string::npos)
                    << what << ": " << check;
            expectNothingStray(app, what);
            app.stop();
        }
        EXPECT_EQ(cuts, 5) << "one cut at each of the five renames";
    }
    EXPECT_TRUE(leftBehind);
}

// A cut between the brightness record's erase and its write leaves the
// record's sector erased while the block keeps the percent: the next start
// stores that percent again as a manual record and shows it.
TEST(E2ePowerCuts, ABrightnessRecordErasedByACutIsStoredAgainFromThePercent)
{
    // 45 % = 45 x 255 / 100 = 114 = 0x72: AA 03 AA 00 00 00, length 49,
    // mode 16, the level in all 48 slots.
    std::string record = "aa03aa000000310010";
    for (int k = 0; k < 48; ++k)
        record += "72";
    std::string erased;
    for (int k = 0; k < 57; ++k)
        erased += "ff";
    auto fpgasUp = [](AppRunner& app) {
        return app.waitFor([&] { return app.control("fpga-status").find("\nstatus 1") != std::string::npos; },
                           40000);
    };
    AppRunner app;
    app.setEnv("ZDR_SIM_START_COMMANDS", "cards 1 1");
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");
    ASSERT_EQ(app.control("store-set 2176 2d00"), "");
    ASSERT_TRUE(app.waitFor([&] { return app.control("flash-read 2 0x6CE000 57") == record; }, 10000))
        << app.control("flash-read 2 0x6CE000 57");
    app.stop();

    // What the cut left: the sector erased, the percent stored.
    app.clearEnv();
    app.setEnv("ZDR_SIM_START_COMMANDS", "cards 1 1;flash-write 2 0x6CE000 " + erased);
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    EXPECT_TRUE(app.waitFor([&] { return app.control("flash-read 2 0x6CE000 58") == record + "ff"; }, 40000))
        << app.control("flash-read 2 0x6CE000 58");
    EXPECT_TRUE(app.waitFor(
        [&] { return app.control("fpga-reg 0 6") == "0x72" && app.control("fpga-reg 1 6") == "0x72"; }, 40000))
        << app.control("fpga-status") << "\n" << app.control("fpga-reg 0 6") << " " << app.control("fpga-reg 1 6");
    EXPECT_EQ(app.control("store-read block 2176 2"), "2d00");
    app.stop();
}

TEST(E2ePowerCuts, WhatInterruptedWritesLeftIsRemovedAtStart)
{
    AppRunner app;
    // Files of the board's own, some with names near those of temporaries:
    // kept beside the settings before the cut save began.
    const std::pair<const char*, const char*> real[] = {
        {"/data/configs/alias.json", "{\"namelist\": {}}"},
        {"/data/rcvrecovery/KQFX", "packed"},
        {"/data/smartmapping/scan.kqfile", "scan"},
        {"/data/smartmapping/notes.new.kqfile", "scan too"},
        {"/data/modes/MO05.json", "{}"},
        {"/data/configs/tcpip.ini.backup", "kept"},
        {"/data/configs/tcpip.ini.Ab12Cd", "not a temporary"},
        {"/data/configs/tcpip.ini.qWcRtZx", "not one either"},
        {"/data/configs/wifi_restore.new.txt", "notes"},
        {"/data/app/zdrK47N2", "a staged program"},
        // The mark of a bitstream write cut short stays: the flash is blank.
        {"/data/configs/fpga0_flash_writing", "FPGA 0 flash write started\n"},
    };
    const QFileDevice::Permissions rw_r__r__ = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadGroup | QFileDevice::ReadOther;
    for (const auto& f : real) {
        writeAll(app.hostPath(f.first), f.second);
        ASSERT_TRUE(QFile::setPermissions(QString::fromStdString(app.hostPath(f.first)), rw_r__r__));
    }

    const char* const leftovers[] = {
        "/data/ram_device_info.new",    "/data/modes/custom_mode3.new", "/data/configs/omenu.json.new",
        "/data/modes/MO05.json.new",    "/data/configs/alias.json.new", "/etc/udhcpd.conf.new",
        "/etc/wpa_supplicant.conf.new", "/etc/rtl_hostapd_2G.conf.new", "/data/configs/wifi_restore.new",
        "/data/.upload.new",            "/data/rcvrecovery/KQFX.new",   "/data/smartmapping/KQFR.new",
        "/data/app/zdrK47N2.new",       "/data/configs/tcpip.ini.lock", "/data/configs/tcpip.ini.qWcRtZ",
        "/data/configs/fpga1_flash_writing.new",
    };
    // A save of the settings file cut short: its lock (pid, program, host),
    // taken after the files above were kept, then the temporary six
    // letters long, with the settings file's mode, 0644.
    struct stat kept {};
    ASSERT_EQ(::stat(app.hostPath("/data/configs/tcpip.ini.backup").c_str(), &kept), 0);
    const auto later = [](const timespec& a, const timespec& b) {
        return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    struct stat lock {};
    do {
        writeAll(app.hostPath("/data/configs/tcpip.ini.lock"), "4242\nzdrK47N\nboard\n");
        ASSERT_EQ(::stat(app.hostPath("/data/configs/tcpip.ini.lock").c_str(), &lock), 0);
        if (later(lock.st_mtim, kept.st_ctim))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (std::chrono::steady_clock::now() < until);
    ASSERT_TRUE(later(lock.st_mtim, kept.st_ctim));
    for (const char* p : leftovers)
        if (std::string(p) != "/data/configs/tcpip.ini.lock")
            writeAll(app.hostPath(p), "half written");
    ASSERT_TRUE(QFile::setPermissions(QString::fromStdString(app.hostPath("/data/configs/tcpip.ini.qWcRtZ")),
                                      rw_r__r__));

    ASSERT_TRUE(app.start()) << app.output().toStdString();
    for (const char* p : leftovers)
        EXPECT_FALSE(QFile::exists(QString::fromStdString(app.hostPath(p)))) << p;
    for (const auto& f : real)
        EXPECT_EQ(readAll(app.hostPath(f.first)), f.second) << f.first;
    EXPECT_TRUE(app.waitFor(
        [&] {
            return readAll(app.hostPath("/data/velmokq/log/prqEnglneLog")).find("FPGA 0: flash blank, upgrade again") !=
                   std::string::npos;
        },
        5000));
    app.stop();
}

// ---- the parameter file and the user-mode files ----

// Hand-built user-mode file: the marker, then one byte throughout.
std::string modeFile(unsigned char marker, unsigned char fill)
{
    std::string f(4096, static_cast<char>(fill));
    f[0] = f[1] = static_cast<char>(marker);
    return f;
}

// Puts a file back as it was before the store ("<missing>": no file).
void putBack(AppRunner& app, const std::string& systemPath, const std::string& bytes)
{
    if (bytes == "<missing>")
        QFile::remove(QString::fromStdString(app.hostPath(systemPath)));
    else
        writeAll(app.hostPath(systemPath), bytes);
}

// Counts the renames onto the named files and kills before the nth (0:
// never), logging each rename's name to the log file.
void armCounted(AppRunner& app, const std::string& names, int n, const std::string& log)
{
    armCut(app, names, n);
    app.setEnv("ZDR_KILL_RENAME_LOG", log);
    QFile::remove(QString::fromStdString(log));
}

// The names of the renames logged, one a line.
std::vector<std::string> renamesLogged(const std::string& log)
{
    std::vector<std::string> names;
    std::istringstream in(readAll(log));
    for (std::string line; std::getline(in, line);)
        names.push_back(line);
    return names;
}

// What the PC reads from the processor's RAM; "<no reply>" without a
// reply.
std::string pcRead(pcclient::Link& link, uint32_t address, uint16_t count)
{
    pcclient::Reply r;
    if (!link.request(pcclient::kProcessor, 0x61, pcclient::ramReadPayload(address, count), r, 5000) ||
        r.status != 0)
        return "<no reply>";
    return std::string(r.data.begin(), r.data.end());
}

bool pcWrite(pcclient::Link& link, uint32_t address, const pcclient::Bytes& data)
{
    pcclient::Reply r;
    return link.request(pcclient::kProcessor, 0x60, pcclient::ramWritePayload(address, data), r, 5000) &&
           r.status == 0;
}

bool pcFlag(pcclient::Link& link, unsigned char flag)
{
    pcclient::Reply r;
    return link.request(pcclient::kProcessor, 0xA0, pcclient::regWritePayload({{11, 0xFF, flag}}), r, 5000) &&
           r.status == 0;
}

// The temporaries (".new") in a folder of the board.
std::string temporaries(AppRunner& app, const std::string& systemPath)
{
    std::vector<std::string> found;
    for (const std::string& n : folder(app, systemPath))
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".new") == 0)
            found.push_back(n);
    return joined(found);
}

// Where two files differ (the first few offsets, with the bytes), for a
// failure's message.
std::string differences(const std::string& a, const std::string& b)
{
    std::ostringstream out;
    if (a.size() != b.size())
        out << "sizes " << a.size() << " and " << b.size() << "; ";
    int shown = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()) && shown < 12; ++i)
        if (a[i] != b[i]) {
            out << "@" << i << " " << int(static_cast<unsigned char>(a[i])) << "/"
                << int(static_cast<unsigned char>(b[i])) << " ";
            ++shown;
        }
    return out.str();
}

// One file a store writes: where, what it held before, what the store
// puts there.
struct Written {
    std::string path, before, after;
};

// After a cut just before the rename `cut` (1 on) of the files in rename
// order: those renamed before it hold the new contents, the others the old.
void expectOldOrNew(AppRunner& app, const std::vector<Written>& files, int cut, const std::string& what)
{
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string now = readAll(app.hostPath(files[i].path));
        const bool renamed = static_cast<int>(i) < cut - 1;
        EXPECT_TRUE(now == (renamed ? files[i].after : files[i].before))
            << what << ": " << files[i].path << " is "
            << (now == files[i].before  ? "old"
                : now == files[i].after   ? "new"
                : now == "<missing>"      ? "missing"
                                          : "neither old nor new (" + std::to_string(now.size()) + " bytes)")
            << ", expected " << (renamed ? "new" : "old") << ": "
            << differences(now, renamed ? files[i].after : files[i].before);
    }
}

// A run without a cut: waits until the log names `count` renames and each
// file holds what the store puts there (a rename is logged just before it
// is made); false when that did not come within the bound.
bool renamesDone(AppRunner& app, const std::vector<Written>& files, const std::string& log, size_t count)
{
    return app.waitFor([&] {
        if (renamesLogged(log).size() < count)
            return false;
        for (const Written& f : files)
            if (readAll(app.hostPath(f.path)) != f.after)
                return false;
        return true;
    });
}

// For each rename n of a run (in the order renames gives), a cut just
// before it and one just after it: the files put back as they were, the
// program started, the store made and the program cut down there; each
// file is then old or new, also after a restart on the same board, where
// the PC reads what the files hold. Some cut must leave a temporary behind
// (removed by the restart).
void cutAtEachRename(AppRunner& app, const std::vector<Written>& files, const std::vector<std::string>& renames,
                     const std::string& names, const std::string& log, const std::function<void()>& store,
                     const std::function<void(const std::string&)>& expectReadBack)
{
    bool leftBehind = false;
    for (int n = 1; n <= static_cast<int>(renames.size()); ++n) {
        for (const bool after : {false, true}) {
            const std::string what =
                "cut " + std::to_string(n) + (after ? " (after " : " (before ") + renames[n - 1] + ")";
            // The files renamed before the cut: those before rename n, and
            // rename n itself for a cut after it.
            const int nextToRename = after ? n + 1 : n;
            for (const Written& f : files)
                putBack(app, f.path, f.before);
            armCounted(app, names, n, log);
            if (after)
                app.setEnv("ZDR_KILL_RENAME_AFTER", "1");
            ASSERT_TRUE(app.start()) << what << ": " << app.output().toStdString();
            store();
            ASSERT_TRUE(cutDown(app)) << what;
            expectOldOrNew(app, files, nextToRename, what);
            leftBehind = leftBehind || !temporaries(app, "/data").empty() || !temporaries(app, "/data/modes").empty();
            app.clearEnv();
            ASSERT_TRUE(app.start()) << what << ": " << app.output().toStdString();
            expectOldOrNew(app, files, nextToRename, what + ", restarted");
            expectReadBack(what + ", restarted");
            app.stop();
        }
    }
    EXPECT_TRUE(leftBehind) << "a cut before a rename leaves its temporary until the restart";
}

// The parameter file as the next store after a start writes it with no
// change of the PC's: the fade words' low bytes at 60, as every start sets
// them, and the output panel's results as the chip's set-up wrote them
// into the block (read by the PC).
std::string paraAfterStart(const std::string& para, const std::string& panel)
{
    std::string after = para;
    for (int l = 0; l < 16; ++l) {
        after[2 + 2816 + 4 * l - 768] = 60;
        after[2 + 2818 + 4 * l - 768] = 60;
    }
    if (panel.size() == 14)
        after.replace(2 + 1382 - 768, 14, panel);
    return after;
}

// The PC reads block 768 to 4095 as the parameter file holds it, but for
// what every start sets: the test pattern, the current mode, the save
// request's high byte, the black-out, the fade words' low bytes and the
// output panel's results.
void expectBlockAsFile(pcclient::Link& link, AppRunner& app, const std::string& what)
{
    std::string read = pcRead(link, 768, 3328);
    std::string file = readAll(app.hostPath("/data/ram_device_info"));
    ASSERT_EQ(read.size(), 3328u) << what;
    ASSERT_EQ(file.size(), 4096u) << what;
    file = file.substr(2, 3328);
    auto mask = [&](int offset, int count) {
        for (int i = 0; i < count; ++i)
            read[offset - 768 + i] = file[offset - 768 + i] = '\0';
    };
    mask(864, 4);
    mask(869, 1);
    mask(2116, 2);
    for (int k = 0; k < 32; ++k)
        mask(2816 + 2 * k, 1);
    mask(1382, 14);
    EXPECT_TRUE(read == file) << what << ": the PC reads the block otherwise than the file holds it: "
                              << differences(read, file);
}

TEST(E2ePowerCuts, AChangeAndAUserModeSaveFromThePcAreStoredWholeAtAnyCut)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    app.stop();
    const std::string para = readAll(app.hostPath("/data/ram_device_info"));
    ASSERT_EQ(para.size(), 4096u);

    // User mode 4 saved before, its image 0x33 throughout. The PC sets the
    // brightness to 42 and the saturation to 33 and saves user mode 4, then
    // raises flag 1.
    const std::string mode4 = modeFile(0xAA, 0x33);
    const std::string names = "ram_device_info,custom_mode4,MO04.json";
    const std::string log = app.workDir() + "/renames.log";
    // The save takes the block as it stands at the flag: the PC saves once
    // the chip is up and has written its panel results into the block.
    auto store = [&](pcclient::UdpLink& udp) {
        return app.waitFor([&] { return app.control("c331-state").find("state=6") != std::string::npos; },
                           30000) &&
               pcWrite(udp, 2176, {42, 0}) && pcWrite(udp, 2182, {33, 0}) && pcWrite(udp, 868, {4, 0}) &&
               pcFlag(udp, 1);
    };
    // The PC reads the block and user mode 4 as the files hold them, and
    // nothing else is in their folders.
    auto expectReadBack = [&](const std::string& what) {
        pcclient::UdpLink udp;
        ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
        expectBlockAsFile(udp, app, what);
        EXPECT_EQ(pcRead(udp, 0x4000, 4096), readAll(app.hostPath("/data/modes/custom_mode4"))) << what;
        EXPECT_EQ(temporaries(app, "/data"), "") << what;
        EXPECT_EQ(joined(folder(app, "/data/modes")), "custom_mode4") << what;
    };

    // A run without a cut: the renames the store makes, in order.
    writeAll(app.hostPath("/data/modes/custom_mode4"), mode4);
    armCounted(app, names, 0, log);
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    std::string panel;
    {
        pcclient::UdpLink udp;
        ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
        ASSERT_TRUE(store(udp));
        ASSERT_TRUE(app.waitFor([&] { return app.control("store-read shadow 2176 2") == "2a00"; }))
            << "the store did not complete";
        app.control("top-window");   // the GUI thread is past the store
        panel = pcRead(udp, 1382, 14);
    }
    // The file takes block 768 on from byte 2: the two words, the current
    // mode 4, the save request done; the mode takes block 896 to 4095, the
    // rest of its file is kept.
    std::string newPara = paraAfterStart(para, panel);
    newPara[2 + 2176 - 768] = 42;
    newPara[2 + 2177 - 768] = 0;
    newPara[2 + 2182 - 768] = 33;
    newPara[2 + 2183 - 768] = 0;
    newPara[2 + 866 - 768] = 4;
    newPara[2 + 867 - 768] = 0;
    newPara[2 + 868 - 768] = 0;
    newPara[2 + 869 - 768] = 0;
    std::string newMode4 = mode4;
    newMode4.replace(2, 3200, newPara.substr(2 + 896 - 768, 3200));
    const std::vector<Written> files = {{"/data/modes/custom_mode4", mode4, newMode4},
                                        {"/data/ram_device_info", para, newPara}};
    EXPECT_TRUE(renamesDone(app, files, log, 2)) << "the store did not rename both files";
    const std::vector<std::string> renames = renamesLogged(log);
    ASSERT_EQ(joined(renames), "custom_mode4 ram_device_info");
    expectOldOrNew(app, files, 3, "no cut");
    EXPECT_EQ(temporaries(app, "/data/modes"), "");
    expectReadBack("no cut");
    app.stop();

    // A cut before and after each of them, then a restart on the same board.
    cutAtEachRename(app, files, renames, names, log, [&] {
        pcclient::UdpLink udp;
        if (udp.open("127.0.0.1", app.linkPort("udp")))
            store(udp);
    }, expectReadBack);
}

TEST(E2ePowerCuts, ARewriteOfTheUserModeFilesLeavesEachOldOrNewAtAnyCut)
{
    AppRunner app;
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    app.stop();
    const std::string para = readAll(app.hostPath("/data/ram_device_info"));
    ASSERT_EQ(para.size(), 4096u);

    // User modes 2 and 5 saved before; the PC changes 16 bytes of mode 5's
    // image, saves mode 9 (marker and 62 bytes) and raises flag 2: every
    // saved mode's file is rewritten, mode 2's with what it held, and the
    // parameter file takes what the start changed in the block.
    const std::string mode2 = modeFile(0xAA, 0x22);
    const std::string mode5 = modeFile(0xAA, 0x55);
    std::string newMode5 = mode5;
    newMode5.replace(2, 16, std::string(16, '\xA5'));
    std::string newMode9(4096, '\0');
    newMode9[0] = newMode9[1] = '\xAA';
    newMode9.replace(2, 62, std::string(62, '\x99'));
    const std::string names = "ram_device_info,custom_mode2,custom_mode5,custom_mode9";
    const std::string log = app.workDir() + "/renames.log";

    auto store = [&](pcclient::TcpLink& tcp) {
        pcclient::Bytes nine(64, 0x99);
        nine[0] = nine[1] = 0xAA;
        return pcWrite(tcp, 0x5002, pcclient::Bytes(16, 0xA5)) && pcWrite(tcp, 0x9000, nine) && pcFlag(tcp, 2);
    };
    // The PC reads the three modes as their files hold them (an empty
    // slot, marked FF FF, where there is no file) and the block as the
    // parameter file holds it, and no temporary is left.
    auto expectReadBack = [&](const std::string& what) {
        pcclient::TcpLink tcp;
        ASSERT_TRUE(tcp.open("127.0.0.1", app.linkPort("tcp")));
        for (int m : {2, 5, 9}) {
            const std::string file = readAll(app.hostPath("/data/modes/custom_mode" + std::to_string(m)));
            const uint32_t at = static_cast<uint32_t>(m) << 12;
            if (file == "<missing>")
                EXPECT_EQ(pcRead(tcp, at, 2), "\xFF\xFF") << what << ": mode " << m;
            else
                EXPECT_EQ(pcRead(tcp, at, 4096), file) << what << ": mode " << m;
        }
        expectBlockAsFile(tcp, app, what);
        EXPECT_EQ(temporaries(app, "/data"), "") << what;
        EXPECT_EQ(temporaries(app, "/data/modes"), "") << what;
    };

    // A run without a cut: the renames the rewrite makes, in order.
    writeAll(app.hostPath("/data/modes/custom_mode2"), mode2);
    writeAll(app.hostPath("/data/modes/custom_mode5"), mode5);
    armCounted(app, names, 0, log);
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    std::string panel;
    {
        pcclient::TcpLink tcp;
        ASSERT_TRUE(tcp.open("127.0.0.1", app.linkPort("tcp")));
        ASSERT_TRUE(store(tcp));
        EXPECT_TRUE(app.waitFor([&] {
            return readAll(app.hostPath("/data/modes/custom_mode9")) == newMode9;
        })) << "the rewrite did not complete";
        app.control("top-window");   // the GUI thread is past the rewrite
        panel = pcRead(tcp, 1382, 14);
    }
    // The parameter file takes what the start changed in the block unless
    // it holds that already: a first start that got as far as the output
    // panel's set-up (on a busy machine) stored it when it stopped.
    const std::string newPara = paraAfterStart(para, panel);
    const bool paraRewritten = newPara != para;
    const std::vector<Written> files = {{"/data/modes/custom_mode2", mode2, mode2},
                                        {"/data/modes/custom_mode5", mode5, newMode5},
                                        {"/data/modes/custom_mode9", "<missing>", newMode9},
                                        {"/data/ram_device_info", para, newPara}};
    EXPECT_TRUE(renamesDone(app, files, log, paraRewritten ? 4 : 3)) << "the rewrite did not rename its files";
    const std::vector<std::string> renames = renamesLogged(log);
    ASSERT_EQ(joined(renames),
              std::string("custom_mode2 custom_mode5 custom_mode9") + (paraRewritten ? " ram_device_info" : ""));
    expectOldOrNew(app, files, 5, "no cut");
    expectReadBack("no cut");
    EXPECT_EQ(joined(folder(app, "/data/modes")), "custom_mode2 custom_mode5 custom_mode9");
    app.stop();

    cutAtEachRename(app, files, renames, names, log, [&] {
        pcclient::TcpLink tcp;
        if (tcp.open("127.0.0.1", app.linkPort("tcp")))
            store(tcp);
    }, expectReadBack);
}

// ---- a brightness change between the parameter file and its record ----

// A manual brightness record of 8-bit levels (mode 16) as the flash behind
// FPGA 0 holds it at 0x6CE000: AA 03 AA 00 00 00, length 49, the mode, the
// level in all 48 slots.
std::string manualRecord(const char* level)
{
    std::string record = "aa03aa000000310010";
    for (int k = 0; k < 48; ++k)
        record += level;
    return record;
}

bool fpgasUp(AppRunner& app, int timeoutMs = 40000)
{
    return app.waitFor([&] { return app.control("fpga-status").find("\nstatus 1") != std::string::npos; },
                       timeoutMs);
}

// Word 2176 (the brightness percent) as the parameter file holds it (the
// block from 768 on, from byte 2 of the file).
int filePercent(AppRunner& app)
{
    const std::string file = readAll(app.hostPath("/data/ram_device_info"));
    if (file.size() != 4096)
        return -1;
    return static_cast<unsigned char>(file[2 + 2176 - 768]) | (static_cast<unsigned char>(file[2 + 2177 - 768]) << 8);
}

// The PC sets the brightness percent: the word, then flag 1; true when both
// were answered with status 0.
bool pcSetsBrightness(AppRunner& app, unsigned char percent)
{
    pcclient::UdpLink udp;
    return udp.open("127.0.0.1", app.linkPort("udp")) && pcWrite(udp, 2176, {percent, 0}) && pcFlag(udp, 1);
}

// On a board with a port linked: the level in force is the percent, in the
// record, word 2176 (as the PC reads it and as the file holds it), on the
// picture quality page and in register 6 of both FPGAs.
void expectLevelInForce(AppRunner& app, int percent, const char* record, const char* reg6, const std::string& what)
{
    ASSERT_TRUE(fpgasUp(app)) << what << ": " << app.control("fpga-status");
    EXPECT_TRUE(app.waitFor(
        [&] { return app.control("fpga-reg 0 6") == reg6 && app.control("fpga-reg 1 6") == reg6; }, 30000))
        << what << ": register 6 " << app.control("fpga-reg 0 6") << " " << app.control("fpga-reg 1 6");
    // Past the brightness task's next send (once a second), which writes
    // back the percent the screen shows.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(app.control("fpga-reg 0 6"), reg6) << what;
    EXPECT_EQ(app.control("fpga-reg 1 6"), reg6) << what;
    EXPECT_EQ(app.control("flash-read 2 0x6CE000 57"), manualRecord(record)) << what;
    char word[5];
    std::snprintf(word, sizeof(word), "%02x00", percent);
    EXPECT_EQ(app.control("store-read block 2176 2"), word) << what;
    pcclient::UdpLink udp;
    ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
    EXPECT_EQ(pcRead(udp, 2176, 2), std::string({static_cast<char>(percent), '\0'})) << what;
    EXPECT_TRUE(app.waitFor([&] { return filePercent(app) == percent; }, 5000))
        << what << ": the file holds " << filePercent(app);
    // The picture quality page, from the idle screen through the settings.
    app.control("tap 400 240");
    app.waitFor([&] { return app.control("page-focus") == "1"; }, 5000);
    app.control("tap 495 180");
    app.waitFor([&] { return app.control("page-focus") == "5"; }, 5000);
    app.control("tap 105 310");
    EXPECT_TRUE(app.waitFor([&] { return app.control("widget-text label_bright") == std::to_string(percent); }, 5000))
        << what << ": the page shows " << app.control("widget-text label_bright");
    app.control("tap 36 36");
    app.waitFor([&] { return app.control("page-focus") == "5"; }, 5000);
    app.control("tap 36 36");
    app.waitFor([&] { return app.control("page-focus") == "1"; }, 5000);
}

// One brightness change: where the FPGAs are while the PC sets the
// percent, and how the program ends.
struct BrightnessCase {
    const char* what;
    const char* hold = nullptr;   // start commands that keep the FPGAs from coming up ("" none, null: wait until up)
    bool release = false;         // the FPGAs are let up before the end
    bool cut = false;             // cut at the parameter file's rename (else SIGTERM)
    bool cutBefore = false;       // just before it (else just after)
    int oldPercent;               // stored before, with its record's level
    const char* oldLevel;
    int percent;                  // set by the PC
    const char *level, *reg6;     // in force after the restart
    int percentAfter;
    bool stopAtOnce = false;      // SIGTERM right after the PC's answer to the word (its flag not sent)
};

// For each case on one board: the old level stored as a page does with both
// FPGAs up, the program started (held as the case says), the PC's percent
// set, the program ended; then the level in force after a restart with a
// port linked.
void runBrightnessCases(const std::vector<BrightnessCase>& cases)
{
    AppRunner app;
    auto storeLevel = [&](int percent, const char* level, const std::string& what) {
        char word[5];
        std::snprintf(word, sizeof(word), "%02x00", percent);
        ASSERT_EQ(app.control(std::string("store-set 2176 ") + word), "");
        ASSERT_TRUE(app.waitFor([&] { return app.control("flash-read 2 0x6CE000 57") == manualRecord(level); }, 10000))
            << what << ": " << app.control("flash-read 2 0x6CE000 57");
        ASSERT_TRUE(app.waitFor([&] { return filePercent(app) == percent; }, 10000)) << what;
    };
    app.setEnv("ZDR_SIM_START_COMMANDS", "cards 1 1");
    ASSERT_TRUE(app.start()) << app.output().toStdString();
    ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");

    for (const BrightnessCase& c : cases) {
        SCOPED_TRACE(c.what);
        storeLevel(c.oldPercent, c.oldLevel, c.what);
        app.stop();

        app.clearEnv();
        std::string commands = "cards 1 1";
        if (c.hold && *c.hold)
            commands += std::string(";") + c.hold;
        app.setEnv("ZDR_SIM_START_COMMANDS", commands);
        if (c.cut) {
            app.setEnv("LD_PRELOAD", ZDR_KILL_AT_RENAME_LIB);
            app.setEnv("ZDR_KILL_RENAME_NAMES", "ram_device_info");
            app.setEnv("ZDR_KILL_RENAME_AT", "1");
            app.setEnv("ZDR_KILL_RENAME_AFTER", c.cutBefore ? "0" : "1");
        }
        ASSERT_TRUE(app.start()) << c.what << ": " << app.output().toStdString();
        if (!c.hold) {
            ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");
        } else if (*c.hold) {
            EXPECT_NE(app.control("fpga-status").find("\nstatus 0"), std::string::npos);
        }
        pcclient::UdpLink udp;
        pcclient::Reply r;
        // A RAM write of the percent is an act at the flag that applies it.
        // A cut is made at the file's first rename after the act: the percent
        // is set by item 1, whose act comes with its write (between a RAM
        // write and its flag a refresh may store the file before the act,
        // and a cut there rightly ends at the record before).
        const bool answered =
            c.stopAtOnce ? udp.open("127.0.0.1", app.linkPort("udp")) &&
                               pcWrite(udp, 2176, {static_cast<unsigned char>(c.percent), 0}) && pcFlag(udp, 1)
            : c.cut ? udp.open("127.0.0.1", app.linkPort("udp")) &&
                          udp.request(pcclient::kProcessor, 0xB0,
                                      pcclient::itemsPayload({{1, 0, static_cast<uint16_t>(c.percent)}}), r) &&
                          r.status == 0
                    : pcSetsBrightness(app, static_cast<unsigned char>(c.percent));
        if (c.cut) {
            ASSERT_TRUE(cutDown(app)) << c.what;
            EXPECT_EQ(filePercent(app), c.cutBefore ? c.oldPercent : c.percent) << c.what;
        } else {
            ASSERT_TRUE(answered) << c.what;
            if (!c.stopAtOnce) {
                ASSERT_TRUE(app.waitFor([&] { return filePercent(app) == c.percent; }, 5000))
                    << c.what << ": the file holds " << filePercent(app);
            }
            if (c.hold && *c.hold) {
                EXPECT_NE(app.control("fpga-status").find("\nstatus 0"), std::string::npos)
                    << c.what << ": " << app.control("fpga-status");
            }
            if (c.release) {
                ASSERT_EQ(app.control("fpga-fault 1 none"), "");
                ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");
                EXPECT_TRUE(app.waitFor(
                    [&] { return app.control("flash-read 2 0x6CE000 57") == manualRecord(c.level); }, 10000))
                    << c.what << ": the record " << app.control("flash-read 2 0x6CE000 57");
            }
            app.stop();
        }

        app.clearEnv();
        app.setEnv("ZDR_SIM_START_COMMANDS", "cards 1 1");
        ASSERT_TRUE(app.start()) << c.what << ": " << app.output().toStdString();
        expectLevelInForce(app, c.percentAfter, c.level, c.reg6, std::string(c.what) + ", restarted");
        EXPECT_EQ(temporaries(app, "/data"), "") << c.what;
    }
    app.stop();
}

// A brightness percent the PC sets while the FPGAs are not up is answered
// and stored in the parameter file at once, but its record only once they
// are. After the program is stopped (SIGTERM) before they came up, the next
// start shows the percent set, and the record, the block, the file, the
// page and register 6 agree: during start-up, with FPGA 1 kept from its
// link, with FPGA 0 dead. Kept from coming up and then let up, the FPGAs
// store the record in the same run. Up, and stopped the moment the PC is
// answered, the stop stores it.
TEST(E2ePowerCuts, ABrightnessSetWhileTheFpgasComeUpIsTheLevelAfterAStop)
{
    // 80 % = 204 = 0xCC stored; 25 % = 63 = 0x3F set.
    runBrightnessCases({
        {.what = "start-up", .hold = "", .oldPercent = 80, .oldLevel = "cc", .percent = 25, .level = "3f",
         .reg6 = "0x3F", .percentAfter = 25},
        {.what = "FPGA 1 without a link", .hold = "fpga-fault 1 nolink", .oldPercent = 80, .oldLevel = "cc",
         .percent = 25, .level = "3f", .reg6 = "0x3F", .percentAfter = 25},
        {.what = "FPGA 0 dead", .hold = "fpga-fault 0 dead", .oldPercent = 80, .oldLevel = "cc", .percent = 25,
         .level = "3f", .reg6 = "0x3F", .percentAfter = 25},
        {.what = "FPGA 1 without a link until the file holds it", .hold = "fpga-fault 1 nolink", .release = true,
         .oldPercent = 80, .oldLevel = "cc", .percent = 25, .level = "3f", .reg6 = "0x3F", .percentAfter = 25},
        {.what = "FPGAs up, stopped right after the answer", .oldPercent = 80, .oldLevel = "cc", .percent = 25,
         .level = "3f", .reg6 = "0x3F", .percentAfter = 25, .stopAtOnce = true},
    });
}

// The same when the program is cut just after the parameter file's rename
// (the record not written, the FPGAs not up, or up and a step behind), and
// just before it once the store's mark names the percent (the record
// perhaps already written): the percent set everywhere.
TEST(E2ePowerCuts, ABrightnessChangeCutBetweenTheFileAndTheRecordIsTheFilesLevelAfterARestart)
{
    // 100 % = 0xFF stored; 30 % = 76 = 0x4C set. 80 % = 0xCC.
    runBrightnessCases({
        {.what = "start-up, cut after the file's rename", .hold = "", .cut = true, .oldPercent = 100,
         .oldLevel = "ff", .percent = 30, .level = "4c", .reg6 = "0x4C", .percentAfter = 30},
        {.what = "FPGA 1 without a link, cut after the file's rename", .hold = "fpga-fault 1 nolink", .cut = true,
         .oldPercent = 100, .oldLevel = "ff", .percent = 30, .level = "4c", .reg6 = "0x4C", .percentAfter = 30},
        {.what = "FPGAs up, cut after the file's rename", .cut = true, .oldPercent = 100, .oldLevel = "ff",
         .percent = 30, .level = "4c", .reg6 = "0x4C", .percentAfter = 30},
        {.what = "FPGAs up, cut before the file's rename", .cut = true, .cutBefore = true, .oldPercent = 80,
         .oldLevel = "cc", .percent = 30, .level = "4c", .reg6 = "0x4C", .percentAfter = 30},
    });
}

// The ways the PC sets the brightness, each its own act: a manual level
// stored (command page type 3, byte 2 = 0xAA, mode 16), one only shown
// (byte 2 = 0), a percent (word 2176 and the flag) and a write of register
// 64 (the level, shown and not stored). Two of them, in every order,
// 0.1 s or 1 s apart, with FPGA 1 up or dead while they come; then FPGA 1
// reset, an LED size change or a restart. The level shown is the last
// act's, the record the last stored one's, and word 2176 the percent
// shown; after a restart the record is shown.
class E2eBrightnessActs : public ::testing::TestWithParam<int> {};

TEST_P(E2eBrightnessActs, TheLevelShownIsTheLastActsAndTheRecordTheLastStoredOnes)
{
    enum Act { kStore, kShow, kPercent, kRegister64 };
    const char* const names[] = {"stored 0xCC", "shown 0x40", "60 %", "register 64"};
    struct Level {
        unsigned char shown, stored;
        int percent;
    };
    auto percentOf = [](unsigned char v) { return v * 100 / 255; };
    AppRunner app;
    pcclient::UdpLink udp;
    auto commandPage = [&](unsigned char store, unsigned char level) {
        pcclient::Reply r;
        return udp.request(pcclient::kSendingCard, 0x60,
                           pcclient::Bytes{0x00, 0x00, 0x01, 0x00, 0x0A, 0x00, 0x00, 0x00, 0xAA, 0x03, store, 0x00,
                                           0x00, 0x00, 0x31, 0x00, 0x10, level},
                           r, 5000, 0) &&
               r.status == 0 &&
               udp.request(pcclient::kSendingCard, 0xA0, pcclient::Bytes{0x02, 0x00, 0x04, 0x04}, r, 5000, 0) &&
               r.status == 0;
    };
    auto act = [&](Act a, Level& l) {
        pcclient::Reply r;
        switch (a) {
        case kStore:
            ASSERT_TRUE(commandPage(0xAA, 0xCC));
            l = {0xCC, 0xCC, 80};
            break;
        case kShow:
            ASSERT_TRUE(commandPage(0x00, 0x40));
            l = {0x40, l.stored, 25};
            break;
        case kPercent:
            ASSERT_TRUE(pcWrite(udp, 2176, {60, 0}) && pcFlag(udp, 1));
            l = {0x99, 0x99, 60};
            break;
        case kRegister64:
            for (unsigned char fpga : {0, 1})
                udp.request(pcclient::kSendingCard, 0xA0, pcclient::Bytes{0x40, 0x00, 0xFF, 0x10}, r, 5000, fpga);
            l = {0x10, l.stored, 6};
            break;
        }
    };
    auto hex = [](unsigned v) {
        char b[8];
        std::snprintf(b, sizeof(b), "0x%02X", v);
        return std::string(b);
    };
    auto state = [&] {
        return app.control("fpga-reg 0 6") + " " + app.control("fpga-reg 1 6") + " word " +
               app.control("store-read block 2176 2") + " record " + app.control("flash-read 2 0x6CE000 10");
    };
    auto expectLevel = [&](const Level& l, const std::string& what) {
        char word[5];
        std::snprintf(word, sizeof(word), "%02x00", l.percent);
        char level[3];
        std::snprintf(level, sizeof(level), "%02x", l.stored);
        auto holds = [&] {
            return app.control("fpga-reg 0 6") == hex(l.shown) && app.control("fpga-reg 1 6") == hex(l.shown) &&
                   app.control("store-read block 2176 2") == word &&
                   app.control("flash-read 2 0x6CE000 10") == std::string("aa03aa000000310010") + level;
        };
        ASSERT_TRUE(app.waitFor(holds, 30000)) << what << ": " << state();
        // Past the brightness task's next sends, which would put back an
        // older level.
        std::this_thread::sleep_for(std::chrono::milliseconds(3000));
        EXPECT_TRUE(holds()) << what << ", 3 s later: " << state();
    };
    auto start = [&] {
        app.clearEnv();
        app.setEnv("ZDR_SIM_START_COMMANDS", "cards 1 1");
        ASSERT_TRUE(app.start()) << app.output().toStdString();
        ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");
        ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
    };
    // Round 0 to 11: the ordered pair of two acts, and by the round's
    // remainders by 4 and by 3 every pairing of the gap, FPGA 1's state and
    // what follows. Round 12 to 15: one act alone, then a restart.
    const int round = GetParam();
    const bool alone = round >= 12;
    const Act first = static_cast<Act>(alone ? round - 12 : round / 3);
    Act second = static_cast<Act>(round % 3);
    if (second >= first)
        second = static_cast<Act>(second + 1);
    start();
    const int gapMs = round % 2 ? 1000 : 100;
    const bool dead = !alone && round / 2 % 2 == 1;
    const int after = alone ? 2 : round % 3;
    const std::string what = alone ? std::string(names[first]) + " alone"
                                   : std::string(names[first]) + " then " + names[second] + ", " +
                                         std::to_string(gapMs) + " ms apart" + (dead ? ", FPGA 1 dead" : "");
    SCOPED_TRACE(what);
    // From 100 % stored and shown.
    Level l{0xFF, 0xFF, 100};
    ASSERT_TRUE(commandPage(0xAA, 0xFF));
    expectLevel(l, what + ": the level before");
    if (dead) {
        ASSERT_EQ(app.control("fpga-fault 1 dead"), "");
    }
    act(first, l);
    if (!alone) {
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        act(second, l);
    }
    if (dead) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_EQ(app.control("fpga-fault 1 none"), "");
        ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");
    }
    expectLevel(l, what);
    if (after == 0) {
        ASSERT_EQ(app.control("fpga-fault 1 dead"), "");
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_EQ(app.control("fpga-fault 1 none"), "");
        ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");
        expectLevel(l, what + ", FPGA 1 reset");
    } else if (after == 1) {
        ASSERT_EQ(app.control("fpga-led-request 1280 720"), "");
        ASSERT_TRUE(app.waitFor([&] { return app.control("fpga-status").find(" reset 1") != std::string::npos; },
                                20000));
        ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");
        expectLevel(l, what + ", an LED size change");
    } else {
        app.stop();
        start();
        expectLevel({l.stored, l.stored, percentOf(l.stored)}, what + ", restarted");
    }
    app.stop();
}

INSTANTIATE_TEST_SUITE_P(EveryOrder, E2eBrightnessActs, ::testing::Range(0, 16));

// A percent whose record a busy flash did not take is stored once the
// flash takes it again; stopped before that, with a level only shown since
// (its percent written back into the file), the next start stores and
// shows the percent set, and word 2176 says so from the start.
TEST(E2ePowerCuts, APercentTheFlashDidNotTakeIsStoredLaterOrAtTheNextStart)
{
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "a level shown, then a stop" : "the flash back");
        AppRunner app;
        app.setEnv("ZDR_SIM_START_COMMANDS", "cards 1 1");
        ASSERT_TRUE(app.start()) << app.output().toStdString();
        ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");
        pcclient::UdpLink udp;
        ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
        pcclient::Reply r;
        auto commandPage = [&](unsigned char store, unsigned char level) {
            return udp.request(pcclient::kSendingCard, 0x60,
                               pcclient::Bytes{0x00, 0x00, 0x01, 0x00, 0x0A, 0x00, 0x00, 0x00, 0xAA, 0x03, store,
                                               0x00, 0x00, 0x00, 0x31, 0x00, 0x10, level},
                               r, 5000, 0) &&
                   udp.request(pcclient::kSendingCard, 0xA0, pcclient::Bytes{0x02, 0x00, 0x04, 0x04}, r, 5000, 0);
        };
        ASSERT_TRUE(commandPage(0xAA, 0xFF));
        ASSERT_TRUE(app.waitFor([&] { return app.control("flash-read 2 0x6CE000 10") == "aa03aa000000310010ff"; }));
        // 41 % = 104 = 0x68, set while the flash stays busy.
        ASSERT_EQ(app.control("flash-busy 2 stuck"), "");
        ASSERT_TRUE(pcWrite(udp, 2176, {41, 0}) && pcFlag(udp, 1));
        ASSERT_TRUE(app.waitFor([&] { return app.control("fpga-reg 1 6") == "0x68"; }, 10000));
        std::this_thread::sleep_for(std::chrono::milliseconds(5000));
        if (stopped) {
            // 0x30 shown, not stored: 18 % written back.
            ASSERT_TRUE(commandPage(0x00, 0x30));
            ASSERT_TRUE(app.waitFor([&] { return filePercent(app) == 18; }, 10000)) << filePercent(app);
            app.stop();
            app.clearEnv();
            app.setEnv("ZDR_SIM_START_COMMANDS", "cards 1 1");
            ASSERT_TRUE(app.start()) << app.output().toStdString();
            ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");
            EXPECT_EQ(app.control("store-read block 2176 2"), "2900") << "right after the FPGAs came up";
        } else {
            ASSERT_EQ(app.control("flash-busy 2 normal"), "");
        }
        EXPECT_TRUE(app.waitFor([&] { return app.control("flash-read 2 0x6CE000 10") == "aa03aa00000031001068"; },
                                30000))
            << app.control("flash-read 2 0x6CE000 10");
        EXPECT_TRUE(app.waitFor([&] { return app.control("fpga-reg 0 6") == "0x68"; }, 10000));
        EXPECT_TRUE(app.waitFor([&] { return !QFileInfo::exists(QString::fromStdString(
                                                 app.hostPath("/data/configs/brightness_storing"))); },
                                10000));
        app.stop();
    }
}

// A board that stored the PC's level 200 (0xC8) and then showed 100
// (0x64) without storing it: word 2176 is 39, written back by the system.
struct PreviewedBoard {
    AppRunner app;
    pcclient::UdpLink udp;
    pcclient::Reply r;
    bool commandPage(unsigned char store, unsigned char mode, unsigned char level, unsigned char length = 0x31)
    {
        return udp.request(pcclient::kSendingCard, 0x60,
                           pcclient::Bytes{0x00, 0x00, 0x01, 0x00, 0x0A, 0x00, 0x00, 0x00, 0xAA, 0x03, store, 0x00,
                                           0x00, 0x00, length, 0x00, mode, level},
                           r, 5000, 0) &&
               r.status == 0 &&
               // Answered once a store into a busy flash in the FPGA thread gave up.
               udp.request(pcclient::kSendingCard, 0xA0, pcclient::Bytes{0x02, 0x00, 0x04, 0x04}, r, 20000, 0) &&
               r.status == 0;
    }
    std::string record() { return app.control("flash-read 2 0x6CE000 10"); }
    std::string reg(int fpga, int n) { return app.control("fpga-reg " + std::to_string(fpga) + " " + std::to_string(n)); }
    void start()
    {
        app.setEnv("ZDR_SIM_START_COMMANDS", "cards 1 1");
        ASSERT_TRUE(app.start()) << app.output().toStdString();
        ASSERT_TRUE(fpgasUp(app)) << app.control("fpga-status");
        ASSERT_TRUE(udp.open("127.0.0.1", app.linkPort("udp")));
    }
    void preview()
    {
        ASSERT_TRUE(commandPage(0xAA, 0x10, 0xC8));
        ASSERT_TRUE(app.waitFor([&] { return record() == "aa03aa000000310010c8"; }, 10000)) << record();
        ASSERT_TRUE(commandPage(0x00, 0x10, 0x64));
        ASSERT_TRUE(app.waitFor([&] { return filePercent(app) == 39; }, 10000)) << filePercent(app);
    }
    // After a restart: the level of the record shown on both FPGAs.
    void expectAfterRestart(const std::string& level, const std::string& what)
    {
        app.clearEnv();
        start();
        EXPECT_TRUE(app.waitFor([&] { return reg(0, 6) == "0x" + level && reg(1, 6) == "0x" + level; }, 20000))
            << what << ", restarted: " << reg(0, 6) << " " << reg(1, 6);
        EXPECT_EQ(record(), "aa03aa000000310010" + QString::fromStdString(level).toLower().toStdString()) << what;
        app.stop();
    }
};

// Each act on the brightness is taken when it is answered, whatever the
// word held: item 1 and a user-mode load at the percent a level only shown
// wrote back are stored; a RAM write of the percent is taken at its flag
// (whole or one byte) unless it repeats both the level in force (a preview
// included) and the last percent act, and a later act drops it while it
// waits for its flag; a
// write of register 64 is a level shown on both FPGAs and not stored; a
// record the flash did not take is stored once it takes it again, the
// latest asked, also over a percent still waiting, and at a stop.
class E2eBrightnessActsTaken : public ::testing::TestWithParam<int> {};

TEST_P(E2eBrightnessActsTaken, EachActIsTakenWhenAnswered)
{
    PreviewedBoard b;
    b.start();
    if (GetParam() == 7) {
        // Mode 1 saved at 39 % before the preview.
        ASSERT_TRUE(pcWrite(b.udp, 2176, {39, 0}) && pcWrite(b.udp, 868, {1, 0}) && pcFlag(b.udp, 2));
        ASSERT_TRUE(b.app.waitFor([&] { return b.record() == "aa03aa00000031001063"; }, 10000)) << b.record();
    }
    b.preview();
    auto item = [&](unsigned char n, uint16_t value) {
        return b.udp.request(pcclient::kProcessor, 0xB0, pcclient::itemsPayload({{n, 0, value}}), b.r) &&
               b.r.status == 0;
    };
    auto shows = [&](const std::string& reg6) { return b.reg(0, 6) == reg6 && b.reg(1, 6) == reg6; };
    // Shown and stored, and still so past the brightness task's next sends.
    auto holds = [&](const std::string& reg6, const std::string& level) {
        const std::string record = "aa03aa000000310010" + level;
        EXPECT_TRUE(b.app.waitFor([&] { return shows(reg6) && b.record() == record; }, 10000))
            << b.reg(0, 6) << " " << b.reg(1, 6) << " " << b.record();
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        EXPECT_TRUE(shows(reg6) && b.record() == record) << b.reg(0, 6) << " " << b.reg(1, 6) << " " << b.record();
    };
    // 39 % = 99 = 0x63; 60 % = 153 = 0x99; 80 % = 204 = 0xCC.
    switch (GetParam()) {
    case 0: {
        SCOPED_TRACE("item 1 = 39");
        ASSERT_TRUE(item(1, 39));
        EXPECT_TRUE(b.app.waitFor([&] { return b.record() == "aa03aa00000031001063"; }, 10000)) << b.record();
        b.app.stop();
        b.expectAfterRestart("63", "item 1 = 39");
        break;
    }
    case 1: {
        SCOPED_TRACE("a RAM write of 39, the preview's percent, and its flag: the slider released there, stored");
        ASSERT_TRUE(pcWrite(b.udp, 2176, {39, 0}) && pcFlag(b.udp, 1));
        holds("0x63", "63");
        b.app.stop();
        b.expectAfterRestart("63", "a RAM write at the preview's percent");
        break;
    }
    case 2: {
        SCOPED_TRACE("register 64 = 0x30 on FPGA 0");
        ASSERT_TRUE(b.udp.request(pcclient::kSendingCard, 0xA0, pcclient::Bytes{0x40, 0x00, 0xFF, 0x30}, b.r, 5000,
                                  0) &&
                    b.r.status == 0);
        EXPECT_TRUE(b.app.waitFor([&] { return b.reg(0, 6) == "0x30" && b.reg(1, 6) == "0x30"; }, 10000))
            << b.reg(0, 6) << " " << b.reg(1, 6);
        for (unsigned char fpga : {0, 1}) {
            ASSERT_TRUE(b.udp.request(pcclient::kSendingCard, 0xA1, pcclient::Bytes{0x40, 0x00, 0x01, 0x00}, b.r,
                                      5000, fpga) &&
                        b.r.status == 0);
            EXPECT_EQ(b.r.data, pcclient::Bytes{0x30}) << "register 64 of FPGA " << int(fpga);
        }
        EXPECT_EQ(b.record(), "aa03aa000000310010c8");
        b.app.stop();
        b.expectAfterRestart("C8", "register 64");
        break;
    }
    case 3:
    case 4: {
        const bool waiting = GetParam() == 4;
        SCOPED_TRACE(waiting ? "the PC stores 0x5A over a percent waiting, the flash stuck" : "the PC stores 0x5A, the flash stuck");
        ASSERT_EQ(b.app.control("flash-busy 2 stuck"), "");
        if (waiting) {
            ASSERT_TRUE(b.udp.request(pcclient::kProcessor, 0xB0, pcclient::itemsPayload({{1, 0, 60}}), b.r) &&
                        b.r.status == 0);
            ASSERT_TRUE(b.app.waitFor([&] { return b.reg(1, 6) == "0x99"; }, 10000));
        }
        ASSERT_TRUE(b.commandPage(0xAA, 0x10, 0x5A));
        ASSERT_TRUE(b.app.waitFor([&] { return b.reg(1, 6) == "0x5A"; }, 10000));
        ASSERT_EQ(b.app.control("flash-busy 2 normal"), "");
        EXPECT_TRUE(b.app.waitFor([&] { return b.record() == "aa03aa0000003100105a"; }, 15000)) << b.record();
        b.app.stop();
        b.expectAfterRestart("5A", "a store refused");
        break;
    }
    case 5: {
        SCOPED_TRACE("item 1 = 80, register 64 previews 0x72, a RAM write of 80 and its flag");
        ASSERT_TRUE(item(1, 80));
        holds("0xCC", "cc");
        ASSERT_TRUE(b.udp.request(pcclient::kSendingCard, 0xA0, pcclient::Bytes{0x40, 0x00, 0xFF, 0x72}, b.r, 5000,
                                  0) &&
                    b.r.status == 0);
        ASSERT_TRUE(b.app.waitFor([&] { return shows("0x72"); }, 10000)) << b.reg(0, 6) << " " << b.reg(1, 6);
        ASSERT_TRUE(pcWrite(b.udp, 2176, {80, 0}) && pcFlag(b.udp, 1));
        holds("0xCC", "cc");
        break;
    }
    case 6: {
        SCOPED_TRACE("one byte of 60 at 2176, then its flag");
        ASSERT_TRUE(pcWrite(b.udp, 2176, {60}));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_TRUE(shows("0x64") && b.record() == "aa03aa000000310010c8") << "before the flag: " << b.reg(0, 6)
                                                                            << " " << b.record();
        ASSERT_TRUE(pcFlag(b.udp, 1));
        holds("0x99", "99");
        break;
    }
    case 7: {
        SCOPED_TRACE("item 4 loads mode 1, saved at 39 %, the preview's percent");
        ASSERT_TRUE(item(4, 1));
        holds("0x63", "63");
        b.app.stop();
        b.expectAfterRestart("63", "a load at the preview's percent");
        break;
    }
    case 8: {
        SCOPED_TRACE("a RAM write of 30 without its flag, item 1 = 60, then a flag");
        ASSERT_TRUE(pcWrite(b.udp, 2176, {30, 0}));
        ASSERT_TRUE(item(1, 60));
        holds("0x99", "99");
        ASSERT_TRUE(pcFlag(b.udp, 1));
        holds("0x99", "99");
        break;
    }
    case 9:
    case 10: {
        const bool waiting = GetParam() == 10;
        SCOPED_TRACE(waiting ? "a record owed, a RAM write of 60 waiting for its flag, a SIGTERM"
                             : "a record owed, a SIGTERM");
        ASSERT_EQ(b.app.control("flash-busy 2 stuck"), "");
        ASSERT_TRUE(b.commandPage(0xAA, 0x10, 0x5A));
        ASSERT_TRUE(b.app.waitFor([&] { return shows("0x5A"); }, 10000));
        if (waiting) {
            ASSERT_TRUE(pcWrite(b.udp, 2176, {60, 0}));
        }
        ASSERT_EQ(b.app.control("flash-busy 2 normal"), "");
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        ASSERT_EQ(::kill(static_cast<pid_t>(b.app.pid()), SIGTERM), 0);
        EXPECT_EQ(b.app.waitForExit(60000), 0);
        b.expectAfterRestart("5A", "a record owed at the stop");
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWay, E2eBrightnessActsTaken, ::testing::Range(0, 11));

// A percent act cut short at each step before its record: before and after
// the store's mark, with the parameter file holding it and the record not
// (the flash busy), and with the record stored. The file held the percent
// of a level only shown before the act. The next start shows the act's
// level (60 % = 0x99) or the record before it (0xC8), never the level
// shown (39 % would store 0x63).
TEST(E2ePowerCuts, APercentActCutAtEveryStepEndsAtItsLevelOrTheRecordBefore)
{
    PreviewedBoard b;
    b.start();
    ASSERT_TRUE(b.commandPage(0xAA, 0x10, 0xC8));
    ASSERT_TRUE(b.app.waitFor([&] { return b.record() == "aa03aa000000310010c8"; }, 10000)) << b.record();
    b.app.stop();
    const struct {
        const char* what;
        int markCut;   // 0 none, 1 before the mark's rename, 2 after it
        bool stuck;    // the flash does not take the record
        const char* after;
    } cases[] = {
        {"before the mark", 1, false, "C8"},
        {"after the mark", 2, false, "99"},
        {"the file holds it, the flash busy", 0, true, "99"},
        {"the record stored", 0, false, "99"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.markCut)
            armCut(b.app, "brightness_storing", 1, c.markCut == 2);
        b.start();
        b.preview();
        if (c.stuck) {
            ASSERT_EQ(b.app.control("flash-busy 2 stuck"), "");
        }
        pcSetsBrightness(b.app, 60);
        if (c.markCut) {
            ASSERT_TRUE(cutDown(b.app));
        } else {
            if (c.stuck)
                ASSERT_TRUE(b.app.waitFor([&] { return filePercent(b.app) == 60; }, 10000));
            else
                ASSERT_TRUE(b.app.waitFor([&] { return b.record() == "aa03aa00000031001099"; }, 10000));
            ASSERT_EQ(::kill(static_cast<pid_t>(b.app.pid()), SIGKILL), 0);
            ASSERT_TRUE(cutDown(b.app));
        }
        b.expectAfterRestart(c.after, c.what);
        // The record before the next row.
        b.app.clearEnv();
        b.start();
        ASSERT_TRUE(b.commandPage(0xAA, 0x10, 0xC8));
        ASSERT_TRUE(b.app.waitFor([&] { return b.record() == "aa03aa000000310010c8"; }, 10000)) << b.record();
        b.app.stop();
    }
}

} // namespace
