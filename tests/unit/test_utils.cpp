// Utility helpers: tick arithmetic, check bytes and CRCs, shell commands,
// network settings, MTD erase and write, and the generic helpers.
#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "link/link_global.h"
#include "platform/platform.h"
#include "sim/board.h"
#include "sim/mtd_model.h"
#include "sim/shell_model.h"
#include "support/sim_board_test.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const unsigned char* bytes(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

void putFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::vector<std::string> recorded() { return sim::Board::instance().shell().commands(); }

// Keeps G_timeTicks as the test found it.
class TicksGuard {
public:
    TicksGuard() : saved_(G_timeTicks.load()) {}
    ~TicksGuard() { G_timeTicks = saved_; }

private:
    unsigned int saved_;
};

} // namespace

// ---------------------------------------------------------------- ticks

TEST(UtilsTimeSpace, ElapsedTicksAcrossTheWrap)
{
    TicksGuard guard;
    for (unsigned int now : {0u, 1u, 5u, 123456u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        G_timeTicks = now;
        EXPECT_EQ(Utils::getTimeSpace(now), 0u) << "stamp == now == " << now;
    }
    G_timeTicks = 100;
    EXPECT_EQ(Utils::getTimeSpace(40), 60u);
    G_timeTicks = 0xFFFFFFFFu;
    EXPECT_EQ(Utils::getTimeSpace(0), 0xFFFFFFFFu);

    // The counter wrapped: now minus stamp minus 1, modulo 2^32.
    G_timeTicks = 5;
    EXPECT_EQ(Utils::getTimeSpace(0xFFFFFFFEu), 6u);
    G_timeTicks = 0;
    EXPECT_EQ(Utils::getTimeSpace(0xFFFFFFFFu), 0u);
    G_timeTicks = 0;
    EXPECT_EQ(Utils::getTimeSpace(1), 0xFFFFFFFEu);
}

// The timer's firings at these board times (µs) add these ticks: one per
// 10 ms that passed, however late or early it fires, the rest of a tick
// kept for the next firing.
TEST(UtilsTimeSpace, TheTimerAddsTheTicksOfTheTimeThatPassed)
{
    const struct {
        uint64_t nowUs;
        unsigned int ticks;
    } firings[] = {{5000000, 1}, {5010000, 1}, {5019000, 0}, {5020500, 1}, {5180000, 16},
                   {5185000, 0}, {5190000, 1}, {6190004, 100}, {6200003, 1}, {6200004, 0}};
    Utils::TickCount count;
    unsigned int total = 0;
    for (const auto& f : firings) {
        const unsigned int due = count.due(f.nowUs);
        EXPECT_EQ(due, f.ticks) << "at " << f.nowUs << " us";
        total += due;
    }
    EXPECT_EQ(total, 1u + (6200004u - 5000000u) / 10000u);
}

// A watch runs on the tick thread again and again, whether or not the
// ticks are counted; once unwatched, no call of it runs.
TEST(UtilsTimeSpace, AWatchRunsAtEveryTickUntilUnwatched)
{
    std::atomic<int> calls{0};
    const auto watch = [](void* arg) { ++*static_cast<std::atomic<int>*>(arg); };
    Utils::watch_ticks(watch, &calls);
    QElapsedTimer waited;
    waited.start();
    while (calls < 3 && waited.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Utils::unwatch_ticks(watch, &calls);
    const int seen = calls;
    EXPECT_GE(seen, 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(calls, seen);
}

// ---------------------------------------------------------------- checks

TEST(UtilsChecks, BccIsXorOfBytes)
{
    const unsigned char a[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(Utils::BCC(a, 3), 0x00);
    EXPECT_EQ(Utils::BCC(a, 0), 0x00);
    EXPECT_EQ(Utils::BCC(a, 2), 0x03);
    const unsigned char b[] = {0x12, 0x34, 0xAA};
    EXPECT_EQ(Utils::BCC(b, 1), 0x12);
    EXPECT_EQ(Utils::BCC(b, 2), 0x26);
    EXPECT_EQ(Utils::BCC(b, 3), 0x8C);
    // Runs of eight and more, from an odd address too: 1 ^ 2 ^ ... ^ n.
    const unsigned char c[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    EXPECT_EQ(Utils::BCC(c, 8), 0x08);
    EXPECT_EQ(Utils::BCC(c, 15), 0x00);
    EXPECT_EQ(Utils::BCC(c, 16), 0x10);
    EXPECT_EQ(Utils::BCC(c, 17), 0x01);
    EXPECT_EQ(Utils::BCC(c + 1, 16), 0x00);
}

TEST(UtilsChecks, Crc32StartsFromZeroWithoutFinalInversion)
{
    EXPECT_EQ(Utils::calcCRC32(bytes("abc"), 3), 0xCA6598D0u);
    EXPECT_NE(Utils::calcCRC32(bytes("abc"), 3), 0x352441C2u);
    EXPECT_EQ(Utils::calcCRC32(bytes("abc"), 0), 0u);
    // One byte from zero is the table entry itself.
    const unsigned char one = 0x01, two = 0x02, top = 0x80;
    EXPECT_EQ(Utils::calcCRC32(&one, 1), 0x77073096u);
    EXPECT_EQ(Utils::calcCRC32(&two, 1), 0xEE0E612Cu);
    EXPECT_EQ(Utils::calcCRC32(&top, 1), 0xEDB88320u);
}

TEST(UtilsChecks, Crc16Variants)
{
    const unsigned char* check = bytes("123456789");
    EXPECT_EQ(Utils::calcCRC16(check, 9), 0xBB3D);      // CRC-16/ARC
    EXPECT_EQ(Utils::ruvoCalcCRC16(check, 9), 0x4B37);  // CRC-16/MODBUS
    EXPECT_EQ(Utils::prq1CRC16Code(check, 9), 0x31C3);  // CRC-16/XMODEM
    EXPECT_EQ(Utils::calcCRC16(check, 0), 0x0000);
    EXPECT_EQ(Utils::ruvoCalcCRC16(check, 0), 0xFFFF);
    EXPECT_EQ(Utils::prq1CRC16Code(check, 0), 0x0000);
    EXPECT_EQ(Utils::calcCRC16(bytes("A"), 1), 0x30C0);
    EXPECT_EQ(Utils::prq1CRC16Code(bytes("A"), 1), 0x58E5);
}

// ---------------------------------------------------------------- shell

using UtilsShell = SimBoardTest;

TEST_F(UtilsShell, FailingCommandGives255AndRawStatus)
{
    auto& shell = sim::Board::instance().shell();
    shell.setExitCode("route del default", 1);
    int status = -12345;
    EXPECT_EQ(Utils::system_mutex("route del default wlan0", &status), 255);
    const auto entries = shell.entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().command, "route del default wlan0");
    EXPECT_EQ(status, entries.back().status);
    EXPECT_EQ(status, 1 << 8); // exit status 1 as system() reports it

    status = -12345;
    EXPECT_EQ(Utils::system_mutex("route add -host 255.255.255.255 eth0", &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Utils::system_mutex("route del default wlan0"), 255); // no status pointer
}

TEST_F(UtilsShell, FileFormatCommandsQuoteThePath)
{
    sim::Board::instance().shell().clearLog();
    Utils::change_file_formt("/data/a b;reboot's.txt");
    const std::string quoted = "'/data/a b;reboot'\\''s.txt'";
    const std::vector<std::string> expected = {
        "dos2unix " + quoted,
        "sync",
        "sed -i '1s/^\\xEF\\xBB\\xBF//' " + quoted,
        "sync",
    };
    EXPECT_EQ(recorded(), expected);
}

// ---------------------------------------------------------------- network

class UtilsNetwork : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        saved_ = g_debugSwitch;
        g_debugSwitch = 0;
        QDir().mkpath(QString::fromStdString(hostPath("/data/velmokq/log")));
        ConfigEngine::resetForTest();
    }
    void TearDown() override
    {
        ConfigEngine::resetForTest();
        g_debugSwitch = saved_;
        SimBoardTest::TearDown();
    }
    unsigned char saved_ = 254;
};

TEST(UtilsIpText, DottedQuadOnly)
{
    for (const char* good : {"0.0.0.0", "255.255.255.255", "192.168.1.199", "10.0.0.1", "001.02.3.004"})
        EXPECT_TRUE(Utils::isDottedQuad(good)) << good;
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.256", "1..3.4", "1.2.3.",
                            ".1.2.3", " 1.2.3.4", "1.2.3.4 ", "+1.2.3.4", "1.2.3.-4", "1234.1.1.1",
                            "a.b.c.d", "1.2.3.4; reboot", "1.2.3.4\n", "0x1.2.3.4", "1.2.3.4/24"})
        EXPECT_FALSE(Utils::isDottedQuad(bad)) << bad;
    EXPECT_FALSE(Utils::isDottedQuad(QString::fromUtf8("\xEF\xBC\x91.2.3.4"))); // full-width digit
}

TEST_F(UtilsNetwork, InitIPAddressRunsTheSequence)
{
    ConfigEngine* cfg = ConfigEngine::pInstance();
    cfg->write_config_variant(ConfigItem::IPAddress, QString("10.1.2.3"));
    cfg->write_config_variant(ConfigItem::SubNetMask, QString("255.255.0.0"));
    cfg->write_config_variant(ConfigItem::GateWay, QString("10.1.0.254"));
    g_str_ip = "stale";
    sim::Board::instance().shell().clearLog();

    Utils::initIPAddress();
    const std::vector<std::string> expected = {
        "ifconfig eth0 &>/dev/null",
        "route del default wlan0",
        "ifconfig eth0 10.1.2.3 netmask 255.255.0.0",
        "route add -host 10.1.0.254 dev eth0",
        "route add default gw 10.1.0.254 metric 100",
        "route add -host 255.255.255.255 eth0",
        "route del 255.255.255.255 wlan1",
    };
    EXPECT_EQ(recorded(), expected);
    EXPECT_EQ(g_str_ip, "10.1.2.3"); // reloaded from the settings
}

TEST_F(UtilsNetwork, InitIPAddressWithoutEthernetRunsOnlyTheProbe)
{
    ConfigEngine::pInstance();
    sim::Board::instance().shell().setEthernetPresent(false);
    sim::Board::instance().shell().clearLog();
    Utils::initIPAddress();
    EXPECT_EQ(recorded(), std::vector<std::string>{"ifconfig eth0 &>/dev/null"});
}

TEST_F(UtilsNetwork, AddressesThatAreNotQuadsNeverReachTheShell)
{
    ConfigEngine* cfg = ConfigEngine::pInstance();
    cfg->write_config_variant(ConfigItem::IPAddress, QString("1.2.3.4; reboot"));
    sim::Board::instance().shell().clearLog();
    Utils::initIPAddress();
    std::vector<std::string> expected = {
        "ifconfig eth0 &>/dev/null",
        "route del default wlan0",
        "route add -host 192.168.1.1 dev eth0",
        "route add default gw 192.168.1.1 metric 100",
        "route add -host 255.255.255.255 eth0",
        "route del 255.255.255.255 wlan1",
    };
    EXPECT_EQ(recorded(), expected);
    const std::string logText = readFile(hostPath(kEngineLogPath));
    EXPECT_NE(logText.find("[ERROR   ] # RUVOMSG # "), std::string::npos);
    EXPECT_NE(logText.find("1.2.3.4; reboot"), std::string::npos);

    // A bad mask stops the address command; a bad gateway both route commands.
    cfg->write_config_variant(ConfigItem::IPAddress, QString("10.0.0.2"));
    cfg->write_config_variant(ConfigItem::SubNetMask, QString("255.255.255.0 && rm -rf /"));
    cfg->write_config_variant(ConfigItem::GateWay, QString("$(reboot)"));
    sim::Board::instance().shell().clearLog();
    Utils::initIPAddress();
    expected = {
        "ifconfig eth0 &>/dev/null",
        "route del default wlan0",
        "route add -host 255.255.255.255 eth0",
        "route del 255.255.255.255 wlan1",
    };
    EXPECT_EQ(recorded(), expected);
}

TEST_F(UtilsNetwork, GetIPAddressLoadsTheGlobals)
{
    writeFile(hostPath("/data/configs/tcpip.ini"),
              "[config]\nTcpPort=6001\nIPAddress=10.9.8.7\nSubNetMask=255.0.0.0\nGateWay=10.0.0.1\n"
              "Barcode=BC123\nWifiIPAddress=192.168.50.1\nEDIDCheck=Always\nSourceCheck=7\n"
              "ImageLayoutPassword=Yes\nZdrMaxPixel_UINT=8000000\nusbupgradedir=UPG\n");
    g_str_ip = g_srt_mask = g_str_gateway = g_str_barcode = g_str_wifi_ip = "x";
    g_port = g_int_tcp_port = 1;
    g_check_source = -1;
    g_zdr_max_pixel = 1;
    g_eVoq_cloud = 7;
    ConfigEngine::pInstance();
    EXPECT_EQ(Utils::getIPAddress(), 0);
    EXPECT_EQ(g_port, 6001u);
    EXPECT_EQ(g_int_tcp_port, 6001u);
    EXPECT_EQ(g_str_ip, "10.9.8.7");
    EXPECT_EQ(g_srt_mask, "255.0.0.0");
    EXPECT_EQ(g_str_gateway, "10.0.0.1");
    EXPECT_EQ(g_str_barcode, "BC123");
    EXPECT_EQ(g_str_wifi_ip, "192.168.50.1");
    EXPECT_EQ(g_check_edid, "Always");
    EXPECT_EQ(g_check_source, 7);
    EXPECT_EQ(g_imagelayoutpassword, "Yes");
    EXPECT_EQ(g_zdr_max_pixel, 8000000u);
    EXPECT_EQ(g_usb_grade_path, "UPG");
    EXPECT_EQ(g_eVoq_cloudserverip, " ");
    EXPECT_EQ(g_eVoq_cloudserverport, 0);
    EXPECT_EQ(g_eVoq_cloud, 0);
}

TEST_F(UtilsNetwork, CloudFlagFollowsAnyCloudSetting)
{
    ConfigEngine* cfg = ConfigEngine::pInstance();
    Utils::getIPAddress();
    EXPECT_EQ(g_eVoq_cloud, 0);

    struct Case {
        ConfigItem::ConfigName item;
        QVariant value;
    };
    const Case cases[] = {
        {ConfigItem::eVoqcloudserverip, QString("1.2.3.4")},
        {ConfigItem::eVoqcloudserverport, 8080},
        {ConfigItem::eVoqclouduserip, QString("user")},
        {ConfigItem::eVoqcloudcontrollername, QString("ctl")},
    };
    for (const Case& c : cases) {
        const QVariant before = cfg->read_config_variant(c.item);
        cfg->write_config_variant(c.item, c.value);
        Utils::getIPAddress();
        EXPECT_EQ(g_eVoq_cloud, 1) << "item " << c.item;
        cfg->write_config_variant(c.item, before);
        Utils::getIPAddress();
        EXPECT_EQ(g_eVoq_cloud, 0) << "item " << c.item;
    }
}

// PCs set the network at once: each command stores its set whole and
// reloads the settings. Device information, read meanwhile, always shows
// one PC's address with that PC's mask and gateway.
TEST_F(UtilsNetwork, DeviceInformationNeverMixesTwoSets)
{
    ConfigEngine* cfg = ConfigEngine::pInstance();
    auto set = [cfg](const char* ip, const char* mask, const char* gateway) {
        cfg->write_config_variants({{ConfigItem::IPAddress, QString(ip)},
                                    {ConfigItem::SubNetMask, QString(mask)},
                                    {ConfigItem::GateWay, QString(gateway)}});
        Utils::getIPAddress();
    };
    set("10.1.1.10", "255.0.0.0", "10.1.1.1");
    std::atomic<int> running{2};
    auto pc = [&](const char* ip, const char* mask, const char* gateway) {
        for (int i = 0; i < 150; ++i)
            set(ip, mask, gateway);
        --running;
    };
    std::thread a(pc, "10.1.1.10", "255.0.0.0", "10.1.1.1");
    std::thread b(pc, "172.16.2.20", "255.255.0.0", "172.16.2.1");
    // A third link reloads the settings meanwhile (as its own network
    // command does after its store).
    std::thread reload([&] {
        while (running.load() > 0)
            Utils::getIPAddress();
    });
    int reads = 0;
    int mixed = 0;
    while (running.load() > 0) {
        const Utils::NetworkSettings n = Utils::network_settings();
        ++reads;
        const bool setA = n.ip == "10.1.1.10" && n.mask == "255.0.0.0" && n.gateway == "10.1.1.1";
        const bool setB = n.ip == "172.16.2.20" && n.mask == "255.255.0.0" && n.gateway == "172.16.2.1";
        if (!setA && !setB)
            ++mixed;
    }
    a.join();
    b.join();
    reload.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
}



class UtilsMtd : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        saved_ = g_debugSwitch;
        g_debugSwitch = 0;
        ASSERT_TRUE(sim::Board::instance().mtd().lookup(kNode, part_));
        ASSERT_GT(part_.erasesize, 0u);
        ASSERT_GT(part_.writesize, 0u);
        ASSERT_GE(part_.size, 4 * part_.erasesize);
        fd_ = platform::mtd().open(kNode);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override
    {
        sim::Board::instance().mtd().setFault(kNode, sim::MtdModel::Fault::None);
        if (fd_ >= 0)
            platform::mtd().close(fd_);
        g_debugSwitch = saved_;
        SimBoardTest::TearDown();
    }
    std::vector<unsigned char> readBack(uint32_t offset, size_t n)
    {
        std::vector<unsigned char> out(n);
        EXPECT_EQ(platform::mtd().pread(fd_, out.data(), n, offset), static_cast<ssize_t>(n));
        return out;
    }
    // Fills the first blocks with a pattern (erased first, as flash needs).
    void fillBlocks(uint32_t blocks)
    {
        for (uint32_t b = 0; b < blocks; ++b)
            ASSERT_EQ(platform::mtd().erase(fd_, b * part_.erasesize, part_.erasesize), 0);
        std::vector<unsigned char> data(blocks * part_.erasesize, 0x5A);
        ASSERT_EQ(platform::mtd().pwrite(fd_, data.data(), data.size(), 0),
                  static_cast<ssize_t>(data.size()));
    }
    uint32_t erases() const { return sim::Board::instance().mtd().eraseCount(kNode); }

    static constexpr const char* kNode = "/dev/mtd8";
    sim::MtdModel::Partition part_;
    int fd_ = -1;
    unsigned char saved_ = 254;
};

TEST_F(UtilsMtd, EraseCoversWholeBlocks)
{
    const uint32_t es = part_.erasesize;
    fillBlocks(3);

    uint32_t before = erases();
    EXPECT_EQ(Utils::non_region_erase(fd_, 0, 0, 0), 0);
    EXPECT_EQ(erases(), before);
    EXPECT_EQ(readBack(0, es), std::vector<unsigned char>(es, 0x5A));

    before = erases();
    EXPECT_EQ(Utils::non_region_erase(fd_, 0, 1, 0), 0);
    EXPECT_EQ(erases(), before + 1);
    EXPECT_EQ(readBack(0, es), std::vector<unsigned char>(es, 0xFF));
    EXPECT_EQ(readBack(es, es), std::vector<unsigned char>(es, 0x5A));

    before = erases();
    EXPECT_EQ(Utils::non_region_erase(fd_, es, es + 1, 1), 0);
    EXPECT_EQ(erases(), before + 2);
    EXPECT_EQ(readBack(es, 2 * es), std::vector<unsigned char>(2 * es, 0xFF));
}

TEST_F(UtilsMtd, EraseExactMultipleTakesNoExtraBlock)
{
    const uint32_t es = part_.erasesize;
    fillBlocks(3);
    const uint32_t before = erases();
    EXPECT_EQ(Utils::non_region_erase(fd_, 0, 2 * es, 0), 0);
    EXPECT_EQ(erases(), before + 2);
    EXPECT_EQ(readBack(2 * es, es), std::vector<unsigned char>(es, 0x5A));
}

TEST_F(UtilsMtd, EraseFailuresGive8AndKeepTheDescriptor)
{
    auto& model = sim::Board::instance().mtd();
    platform::MtdInfo info;

    model.setFault(kNode, sim::MtdModel::Fault::Erase);
    EXPECT_EQ(Utils::non_region_erase(fd_, 0, 1, 0), 8);
    model.setFault(kNode, sim::MtdModel::Fault::None);
    EXPECT_EQ(platform::mtd().getInfo(fd_, info), 0) << "descriptor was closed";

    model.setFault(kNode, sim::MtdModel::Fault::Unlock);
    EXPECT_EQ(Utils::non_region_erase(fd_, 0, 1, 1), 8);
    EXPECT_EQ(Utils::non_region_erase(fd_, 0, 1, 0), 0); // no unlock asked
    model.setFault(kNode, sim::MtdModel::Fault::None);
    EXPECT_EQ(platform::mtd().getInfo(fd_, info), 0);

    model.setFault(kNode, sim::MtdModel::Fault::GetInfo);
    EXPECT_EQ(Utils::non_region_erase(fd_, 0, 1, 0), 8);
    model.setFault(kNode, sim::MtdModel::Fault::None);

    EXPECT_EQ(Utils::non_region_erase(fd_, -1, 1, 0), 8);
    EXPECT_EQ(Utils::non_region_erase(fd_, 0, -1, 0), 8);
    EXPECT_EQ(Utils::non_region_erase(-1, 0, 1, 0), 8);

    // Still usable for a real erase afterwards.
    EXPECT_EQ(Utils::non_region_erase(fd_, 0, 1, 0), 0);
}

TEST_F(UtilsMtd, WriteReadsBack)
{
    const uint32_t es = part_.erasesize, ws = part_.writesize;
    ASSERT_EQ(Utils::non_region_erase(fd_, es, 2 * es, 0), 0);
    std::vector<unsigned char> data(2 * ws + 5);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + 1);
    EXPECT_EQ(Utils::non_region_write(fd_, data.data(), static_cast<int>(data.size()), es), 0);
    EXPECT_EQ(readBack(es, data.size()), data);
    EXPECT_EQ(readBack(es + data.size(), 16), std::vector<unsigned char>(16, 0xFF));

    // Less than one page, and nothing at all.
    std::vector<unsigned char> small = {1, 2, 3};
    EXPECT_EQ(Utils::non_region_write(fd_, small.data(), 3, es + 4 * ws), 0);
    EXPECT_EQ(readBack(es + 4 * ws, 3), small);
    EXPECT_EQ(Utils::non_region_write(fd_, small.data(), 0, es + 5 * ws), 0);
}

TEST_F(UtilsMtd, WriteFailuresGive1)
{
    auto& model = sim::Board::instance().mtd();
    std::vector<unsigned char> data(part_.writesize + 3, 0x11);
    model.setFault(kNode, sim::MtdModel::Fault::Write);
    EXPECT_EQ(Utils::non_region_write(fd_, data.data(), static_cast<int>(data.size()), 0), 1);
    EXPECT_EQ(Utils::non_region_write(fd_, data.data(), 3, 0), 1); // remainder only
    model.setFault(kNode, sim::MtdModel::Fault::GetInfo);
    EXPECT_EQ(Utils::non_region_write(fd_, data.data(), static_cast<int>(data.size()), 0), 1);
    model.setFault(kNode, sim::MtdModel::Fault::None);
    EXPECT_EQ(Utils::non_region_write(fd_, nullptr, 4, 0), 1);
    EXPECT_EQ(Utils::non_region_write(fd_, data.data(), -1, 0), 1);
}

// ---------------------------------------------------------------- helpers

TEST(UtilsHelpers, NumberText)
{
    EXPECT_EQ(Utils::stringToInt("0x1F"), 31);
    EXPECT_EQ(Utils::stringToInt("0xff"), 255);
    EXPECT_EQ(Utils::stringToInt("0xAbC"), 0xABC);
    EXPECT_EQ(Utils::stringToInt("123"), 123);
    EXPECT_EQ(Utils::stringToInt("-45"), -45);
    EXPECT_EQ(Utils::stringToInt("010"), 10); // decimal, not octal
    EXPECT_EQ(Utils::stringToInt("junk"), 0);
    EXPECT_EQ(Utils::stringToInt(""), 0);
    EXPECT_EQ(Utils::intToString(0), "0");
    EXPECT_EQ(Utils::intToString(-2147483647 - 1), "-2147483648");
    EXPECT_EQ(Utils::intToString(5005), "5005");
}

TEST(UtilsHelpers, SleepsHoldTheMutex)
{
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(Utils::msleep_mutex(20), 0);
    EXPECT_GE(t.elapsed(), 20);
    t.restart();
    EXPECT_EQ(Utils::usleep_mutex(15000), 0);
    EXPECT_GE(t.elapsed(), 15);
    // Released afterwards.
    EXPECT_TRUE(Utils::_usleep_mutex.tryLock());
    Utils::_usleep_mutex.unlock();
}

TEST(UtilsHelpers, FileAndFolderTests)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string base = dir.path().toStdString();
    putFile(base + "/f.txt", "x");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(base + "/sub")));

    EXPECT_TRUE(Utils::isFileExists(base + "/f.txt", true));
    EXPECT_TRUE(Utils::isFileExists(base + "/f.txt", false));
    EXPECT_TRUE(Utils::isFileExists(base + "/sub", false));
    EXPECT_FALSE(Utils::isFileExists(base + "/sub", true));
    EXPECT_FALSE(Utils::isFileExists(base + "/none", false));
    EXPECT_TRUE(Utils::isDirExists(base + "/sub"));
    EXPECT_FALSE(Utils::isDirExists(base + "/f.txt"));
    EXPECT_FALSE(Utils::isDirExists(base + "/none"));
}

TEST(UtilsHelpers, FileListBySuffixIsAppended)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString base = dir.path();
    for (const char* name : {"b.rcv", "a.rcv", "c.bin", "rcv", "d.rcvx"})
        putFile((base + "/" + name).toStdString(), "x");
    ASSERT_TRUE(QDir().mkpath(base + "/sub.rcv"));
    putFile((base + "/sub.rcv/e.rcv").toStdString(), "x");

    QStringList list = {"kept"};
    Utils::get_file_list_smartpath(list, base, "rcv");
    const QString abs = QDir(base).absolutePath();
    EXPECT_EQ(list, QStringList({"kept", abs + "/a.rcv", abs + "/b.rcv"}));

    QStringList dotted;
    Utils::get_file_list_smartpath(dotted, base, ".bin");
    EXPECT_EQ(dotted, QStringList({abs + "/c.bin"}));

    QStringList none;
    Utils::get_file_list_smartpath(none, base + "/missing", "rcv");
    EXPECT_TRUE(none.isEmpty());
}

TEST(UtilsHelpers, CharacterSetConversions)
{
    const std::string utf8 = "A\xE4\xB8\xAD";          // "A" + U+4E2D
    const std::string ucs2("A\0\x2D\x4E", 4);          // UCS-2LE
    const std::string gb = "A\xD6\xD0";                // GB2312

    std::string s = utf8;
    ASSERT_EQ(Utils::UTF8ToUnicode(s), 0);
    EXPECT_EQ(s, ucs2);
    ASSERT_EQ(Utils::UnicodeToUTF8(s), 0);
    EXPECT_EQ(s, utf8);
    ASSERT_EQ(Utils::UTF8ToGB2312(s), 0);
    EXPECT_EQ(s, gb);
    ASSERT_EQ(Utils::GB2312ToUTF8(s), 0);
    EXPECT_EQ(s, utf8);

    s = gb;
    ASSERT_EQ(Utils::GB2312ToUnicode(s), 0);
    EXPECT_EQ(s, ucs2);
    ASSERT_EQ(Utils::UnicodeToGB2312(s), 0);
    EXPECT_EQ(s, gb);

    s.clear();
    EXPECT_EQ(Utils::UTF8ToUnicode(s), 0);
    EXPECT_TRUE(s.empty());
}

TEST(UtilsHelpers, ConversionFailuresKeepTheText)
{
    std::string bad = "ok\xFF\xFE";
    EXPECT_EQ(Utils::UTF8ToUnicode(bad), -1);
    EXPECT_EQ(bad, "ok\xFF\xFE");

    char out[16];
    size_t used = 99;
    const unsigned char saved = g_debugSwitch;
    g_debugSwitch = 0;
    EXPECT_EQ(Utils::ChangeCode("NO-SUCH-CHARSET", "UTF-8", "a", 1, out, sizeof out, &used), -1);
    g_debugSwitch = saved;
    EXPECT_EQ(used, 0u);
    // Output buffer too small.
    EXPECT_EQ(Utils::ChangeCode("UTF-8", "UCS-2LE", "abcdef", 6, out, 4, &used), -1);
    EXPECT_EQ(Utils::ChangeCode("UTF-8", "UCS-2LE", "ab", 2, out, 4, &used), 0);
    EXPECT_EQ(used, 4u);
    EXPECT_EQ(std::string(out, 4), std::string("a\0b\0", 4));
}
