#include "core/utils.h"
#include "core/wait_bound.h"

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "link/link_global.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iconv.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

QMutex Utils::_system_mutex;
QMutex Utils::_usleep_mutex;
QMutex Utils::_led_para_init_mutex;
QMutex Utils::_bri_set_mutex;
QMutex Utils::_spi_mutex;
QMutex Utils::_fpga_multicast_mutex;
QMutex Utils::_c331_bnk_mutex;
QMutex Utils::_file_deal_mutex;
QMutex Utils::_source_init_mutex;
QMutex Utils::_check_nosig_mutex;
QMutex Utils::_source_hdminfo_mutex;
QMutex Utils::_test_signal_mutex;
QMutex Utils::_settings_mutex;

namespace {

// Byte table of a reflected CRC with the given (reflected) polynomial.
template <typename T>
std::array<T, 256> reflectedTable(T poly)
{
    std::array<T, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        T c = static_cast<T>(n);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? static_cast<T>((c >> 1) ^ poly) : static_cast<T>(c >> 1);
        table[n] = c;
    }
    return table;
}

const std::array<uint32_t, 256>& crc32Table()
{
    static const std::array<uint32_t, 256> table = reflectedTable<uint32_t>(0xEDB88320u);
    return table;
}

const std::array<uint16_t, 256>& crc16Table()
{
    static const std::array<uint16_t, 256> table = reflectedTable<uint16_t>(0xA001);
    return table;
}

// The table of ruvoCalcCRC16, kept apart from calcCRC16's.
const std::array<uint16_t, 256>& ruvoCrc16Table()
{
    static const std::array<uint16_t, 256> table = reflectedTable<uint16_t>(0xA001);
    return table;
}

uint16_t reflectedCrc16(const std::array<uint16_t, 256>& table, uint16_t crc,
                        const unsigned char* data, unsigned int len)
{
    if (!data)
        return crc;
    for (unsigned int i = 0; i < len; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ data[i]) & 0xFF]);
    return crc;
}

// Runs a network command only when every address put into it is a dotted
// IPv4 quad; the addresses come from the settings file and must never reach
// the shell as anything else.
void runNetCommand(const QString& pattern, const QStringList& addresses)
{
    QString command = pattern;
    for (const QString& a : addresses) {
        if (!Utils::isDottedQuad(a)) {
            writeLogMsg(ERROR, "Utils::initIPAddress: not an IPv4 address, command skipped: \""
                                   + pattern.toStdString() + "\" with \"" + a.toStdString() + "\"");
            return;
        }
        command = command.arg(a);
    }
    Utils::system_mutex(command);
}

// A path as one word for the shell.
std::string shellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += "'";
    return out;
}

int convertInPlace(const char* from, const char* to, std::string& text)
{
    std::vector<char> out(text.size() * 4 + 4);
    size_t used = 0;
    if (Utils::ChangeCode(from, to, text.data(), text.size(), out.data(), out.size(), &used) != 0)
        return -1;
    text.assign(out.data(), used);
    return 0;
}

} // namespace

unsigned int Utils::getTimeSpace(unsigned int t)
{
    const unsigned int now = G_timeTicks.load();
    if (now >= t)
        return now - t;
    return (0xFFFFFFFFu - t) + now;
}

unsigned int Utils::TickCount::due(uint64_t nowUs)
{
    if (!started) {
        started = true;
        countedUs = nowUs;
        return 1;
    }
    if (nowUs < countedUs + kTickUs)
        return 0;
    const uint64_t ticks = (nowUs - countedUs) / kTickUs;
    countedUs += ticks * kTickUs;
    return static_cast<unsigned int>(ticks);
}

namespace {

// The tick thread: one for the process, started by the first of
// start_tick_thread() and watch_ticks(); it runs for the life of the
// process, as the other workers do (so its state is never destroyed).
struct TickThread {
    std::atomic<bool> counting{false};
    std::mutex watchesMutex;
    std::vector<std::pair<void (*)(void*), void*>> watches;

    static TickThread& get()
    {
        static TickThread* const tick = [] {
            auto* t = new TickThread;
            std::thread([t] { t->run(); }).detach();
            return t;
        }();
        return *tick;
    }

    void run()
    {
        Utils::name_thread("tick");
        Utils::TickCount count;
        for (;;) {
            {
                std::lock_guard<std::mutex> hold(watchesMutex);
                for (const auto& w : watches)
                    w.first(w.second);
            }
            if (!counting.load()) {
                std::this_thread::sleep_for(std::chrono::microseconds(Utils::TickCount::kTickUs));
                continue;
            }
            platform::Clock& clock = platform::clock();
            G_timeTicks.fetch_add(count.due(clock.nowUs()));
            const uint64_t now = clock.nowUs();
            const uint64_t next = count.countedUs + Utils::TickCount::kTickUs;
            clock.sleepUs(next > now ? next - now : 0);
        }
    }
};

} // namespace

void Utils::start_tick_thread()
{
    TickThread::get().counting = true;
}

void Utils::watch_ticks(void (*watch)(void*), void* arg)
{
    TickThread& tick = TickThread::get();
    std::lock_guard<std::mutex> hold(tick.watchesMutex);
    tick.watches.emplace_back(watch, arg);
}

void Utils::unwatch_ticks(void (*watch)(void*), void* arg)
{
    TickThread& tick = TickThread::get();
    std::lock_guard<std::mutex> hold(tick.watchesMutex);
    auto& w = tick.watches;
    w.erase(std::remove(w.begin(), w.end(), std::make_pair(watch, arg)), w.end());
}

unsigned char Utils::BCC(const unsigned char* data, unsigned int len)
{
    if (!data)
        return 0;
    // Eight bytes at a time, folded at the end (XOR is taken bytewise).
    uint64_t wide = 0;
    unsigned int i = 0;
    for (; len - i >= 8; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, sizeof(word));
        wide ^= word;
    }
    wide ^= wide >> 32;
    wide ^= wide >> 16;
    wide ^= wide >> 8;
    auto x = static_cast<unsigned char>(wide);
    for (; i < len; ++i)
        x ^= data[i];
    return x;
}

unsigned int Utils::calcCRC32(const unsigned char* data, unsigned int len)
{
    const auto& table = crc32Table();
    uint32_t crc = 0;
    if (!data)
        return 0;
    for (unsigned int i = 0; i < len; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

unsigned short Utils::calcCRC16(const unsigned char* data, unsigned int len)
{
    return reflectedCrc16(crc16Table(), 0, data, len);
}

unsigned short Utils::ruvoCalcCRC16(const unsigned char* data, unsigned int len)
{
    return reflectedCrc16(ruvoCrc16Table(), 0xFFFF, data, len);
}

unsigned short Utils::prq1CRC16Code(const unsigned char* data, unsigned int len)
{
    uint16_t crc = 0;
    if (!data)
        return 0;
    for (unsigned int i = 0; i < len; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

int Utils::system_mutex(const QString& command, int* status)
{
    service_wait::blocks();
    QMutexLocker lock(&_system_mutex);
    const int ret = platform::shell().run(command.toLatin1().toStdString());
    if (status)
        *status = ret;
    return ret == 0 ? 0 : 255;
}

int Utils::getIPAddress()
{
    ConfigEngine* cfg = ConfigEngine::pInstance();

    // Read and stored as one step: the settings are read from the engine
    // together (a network set written meanwhile, as the PC writes it, is
    // read all old or all new), and a WiFi address set meanwhile is either
    // read here or stored after.
    QMutexLocker lock(&_settings_mutex);
    const std::vector<QVariant> v = cfg->read_config_variants({
        ConfigItem::IPAddress, ConfigItem::GateWay, ConfigItem::SubNetMask, ConfigItem::TcpPort,
        ConfigItem::Barcode, ConfigItem::WifiIPAddress, ConfigItem::EDIDCheck, ConfigItem::ImageLayoutPassword,
        ConfigItem::SourceCheck, ConfigItem::eVoqcloudserverip, ConfigItem::eVoqcloudserverport,
        ConfigItem::eVoqclouduserip, ConfigItem::eVoqcloudcontrollername, ConfigItem::ZdrMaxPixel_UINT,
        ConfigItem::usbupgradedir});
    g_str_ip = v[0].toString();
    g_str_gateway = v[1].toString();
    g_srt_mask = v[2].toString();
    g_port = v[3].toUInt();
    g_int_tcp_port = g_port;
    g_str_barcode = v[4].toString();
    g_str_wifi_ip = v[5].toString();
    g_check_edid = v[6].toString();
    g_imagelayoutpassword = v[7].toString();
    g_check_source = v[8].toInt();
    g_eVoq_cloudserverip = v[9].toString();
    g_eVoq_cloudserverport = v[10].toInt();
    g_eVoq_clouduserid = v[11].toString();
    g_eVoq_controllername = v[12].toString();
    g_zdr_max_pixel = v[13].toUInt();
    g_usb_grade_path = v[14].toString();

    const QString blank = " ";
    g_eVoq_cloud = (g_eVoq_cloudserverip != blank || g_eVoq_clouduserid != blank
                    || g_eVoq_controllername != blank || g_eVoq_cloudserverport != 0)
        ? 1
        : 0;
    return 0;
}

int Utils::initIPAddress()
{
    if (system_mutex("ifconfig eth0 &>/dev/null") != 0)
        return 255;
    getIPAddress();
    const NetworkSettings net = network_settings();
    system_mutex("route del default wlan0");
    runNetCommand("ifconfig eth0 %1 netmask %2", {net.ip, net.mask});
    runNetCommand("route add -host %1 dev eth0", {net.gateway});
    runNetCommand("route add default gw %1 metric 100", {net.gateway});
    system_mutex("route add -host 255.255.255.255 eth0");
    system_mutex("route del 255.255.255.255 wlan1");
    return 0;
}

Utils::NetworkSettings Utils::network_settings()
{
    QMutexLocker lock(&_settings_mutex);
    NetworkSettings n;
    n.ip = g_str_ip;
    n.mask = g_srt_mask;
    n.gateway = g_str_gateway;
    n.mac = g_str_mac;
    n.wifiIp = g_str_wifi_ip;
    n.tcpPort = g_int_tcp_port;
    return n;
}

void Utils::set_wifi_ip(const QString& ip)
{
    QMutexLocker lock(&_settings_mutex);
    if (ConfigEngine::p_config)
        ConfigEngine::p_config->write_config_variant(ConfigItem::WifiIPAddress, ip);
    g_str_wifi_ip = ip;
}

bool Utils::isDottedQuad(const QString& text)
{
    const QStringList parts = text.split('.');
    if (parts.size() != 4)
        return false;
    for (const QString& p : parts) {
        if (p.isEmpty() || p.size() > 3)
            return false;
        int v = 0;
        for (QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
            v = v * 10 + (c.unicode() - '0');
        }
        if (v > 255)
            return false;
    }
    return true;
}

int Utils::non_region_erase(int fd, int offset, int length, int unlock)
{
    platform::Mtd& mtd = platform::mtd();
    platform::MtdInfo info;
    if (mtd.getInfo(fd, info) != 0)
        return 8;
    // A device without an erase size or a negative range cannot be erased.
    if (info.erasesize == 0 || offset < 0 || length < 0)
        return 8;

    const uint32_t erasesize = info.erasesize;
    uint32_t blocks = static_cast<uint32_t>(length) / erasesize;
    if (static_cast<uint32_t>(length) % erasesize)
        ++blocks;

    if (traceOn())
        printf("\r\nPerforming Flash Erase of length %u at offset 0x%x\n", erasesize,
               static_cast<unsigned>(offset));

    uint64_t start = static_cast<uint32_t>(offset);
    for (uint32_t i = 0; i < blocks; ++i, start += erasesize) {
        if (start > 0xFFFFFFFFu)
            return 8;
        const uint32_t at = static_cast<uint32_t>(start);
        if (unlock != 0 && mtd.unlock(fd, at, erasesize) != 0)
            return 8;
        if (mtd.erase(fd, at, erasesize) != 0)
            return 8;
    }
    return 0;
}

int Utils::non_region_write(int fd, const unsigned char* buf, int size, int offset)
{
    platform::Mtd& mtd = platform::mtd();
    platform::MtdInfo info;
    if (mtd.getInfo(fd, info) != 0)
        return 1;
    if (info.writesize == 0 || size < 0 || offset < 0 || (size > 0 && !buf))
        return 1;

    const size_t page = info.writesize;
    const size_t total = static_cast<size_t>(size);
    const size_t pages = total / page;
    off_t at = offset;
    for (size_t i = 0; i < pages; ++i, at += static_cast<off_t>(page)) {
        const ssize_t n = mtd.pwrite(fd, buf + i * page, page, at);
        if (n != static_cast<ssize_t>(page)) {
            if (traceOn())
                printf("\n nand non_region_write error %#x ,writesize=%#x,offset=%#x,size=%#x\n",
                       static_cast<unsigned>(pages), static_cast<unsigned>(page),
                       static_cast<unsigned>(at), static_cast<unsigned>(size));
            return 1;
        }
    }
    const size_t rest = total % page;
    if (rest) {
        const ssize_t n = mtd.pwrite(fd, buf + pages * page, rest, at);
        if (n != static_cast<ssize_t>(rest)) {
            if (traceOn())
                printf("\n nand non_region_write error %#x,size=%#x \n", static_cast<unsigned>(rest),
                       static_cast<unsigned>(size));
            return 1;
        }
    }
    return 0;
}

int Utils::stringToInt(const std::string& text)
{
    if (text.compare(0, 2, "0x") == 0)
        return static_cast<int>(std::strtol(text.c_str() + 2, nullptr, 16));
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

std::string Utils::intToString(int value)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%d", value);
    return buf;
}

void Utils::name_thread(const char* name)
{
    char n[16];
    std::snprintf(n, sizeof(n), "%s", name);
    pthread_setname_np(pthread_self(), n);
}

int Utils::usleep_mutex(unsigned int us)
{
    service_wait::blocks();
    QMutexLocker lock(&_usleep_mutex);
    struct timespec ts;
    ts.tv_sec = us / 1000000u;
    ts.tv_nsec = static_cast<long>(us % 1000000u) * 1000L;
    return nanosleep(&ts, nullptr) == 0 ? 0 : 255;
}

int Utils::msleep_mutex(unsigned int ms)
{
    service_wait::blocks();
    QMutexLocker lock(&_usleep_mutex);
    struct timespec ts;
    ts.tv_sec = ms / 1000u;
    ts.tv_nsec = static_cast<long>(ms % 1000u) * 1000000L;
    return nanosleep(&ts, nullptr) == 0 ? 0 : 255;
}

bool Utils::isFileExists(const std::string& path, bool regularOnly)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return !regularOnly || S_ISREG(st.st_mode);
}

bool Utils::isDirExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void Utils::get_file_list_smartpath(QStringList& list, const QString& dir, const QString& suffix)
{
    QString want = suffix;
    if (want.startsWith('.'))
        want.remove(0, 1);
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& fi : entries) {
        if (want.isEmpty() || fi.fileName().endsWith("." + want))
            list.append(fi.absoluteFilePath());
    }
}

void Utils::change_file_formt(const std::string& path)
{
    const QString quoted = QString::fromStdString(shellQuote(path));
    system_mutex("dos2unix " + quoted);
    system_mutex("sync");
    system_mutex("sed -i '1s/^\\xEF\\xBB\\xBF//' " + quoted);
    system_mutex("sync");
}

int Utils::ChangeCode(const char* from, const char* to, const char* in, size_t inLen, char* out,
                      size_t outLen, size_t* outUsed)
{
    if (outUsed)
        *outUsed = 0;
    if (!from || !to || !out || (inLen && !in))
        return -1;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (traceOn())
            printf("iconv_open ======failed ");
        return -1;
    }
    memset(out, 0, outLen);
    char* src = const_cast<char*>(in);
    size_t srcLeft = inLen;
    char* dst = out;
    size_t dstLeft = outLen;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    if (r != static_cast<size_t>(-1))
        r = iconv(cd, nullptr, nullptr, &dst, &dstLeft); // flush any shift state
    iconv_close(cd);
    if (r == static_cast<size_t>(-1))
        return -1;
    if (outUsed)
        *outUsed = outLen - dstLeft;
    return 0;
}

int Utils::GB2312ToUTF8(std::string& text) { return convertInPlace("gb2312", "UTF-8", text); }
int Utils::GB2312ToUnicode(std::string& text) { return convertInPlace("GB2312", "UCS-2LE", text); }
int Utils::UTF8ToUnicode(std::string& text) { return convertInPlace("UTF-8", "UCS-2LE", text); }
int Utils::UnicodeToUTF8(std::string& text) { return convertInPlace("UCS-2LE", "UTF-8", text); }
int Utils::UTF8ToGB2312(std::string& text) { return convertInPlace("UTF-8", "gb2312", text); }
int Utils::UnicodeToGB2312(std::string& text) { return convertInPlace("UCS-2LE", "GB2312", text); }
