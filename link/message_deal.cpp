#include "link/message_deal.h"

#include "core/brightness_acts.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/mode_saves.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "link/link_global.h"
#include "link/protocol_phy.h"
#include "sendcard/fpga_manage.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <QStringList>
#include <cstdio>
#include <cstring>

using namespace link_frame;

namespace link_frame {

bool isPassThrough(const unsigned char* frame, int length)
{
    return length >= kHeader + 1 && le16(frame, kDest) < kFirstDeviceAddress && le16(frame, kSrc) == kPc;
}

bool isForDevice(const unsigned char* frame, int length)
{
    if (length < kHeader + 1)
        return false;
    const uint16_t dest = le16(frame, kDest);
    return dest == kSendingCard || dest == kProcessor;
}

} // namespace link_frame

namespace {

// Payload bytes of a frame (between the header and the check byte).
inline int payloadLength(int frameLength)
{
    return frameLength - kHeader - 1;
}

bool quadBytes(const QString& text, unsigned char out[4])
{
    if (!Utils::isDottedQuad(text)) {
        std::memset(out, 0, 4);
        return false;
    }
    const QStringList parts = text.split('.');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(parts[i].toUInt());
    return true;
}

QString quadText(const unsigned char* b)
{
    return QString("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

uint32_t quadValue(const unsigned char* b)
{
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

// A unicast IPv4 address a host may have (not 0.x, loopback, multicast or
// reserved).
bool isHostAddress(const unsigned char* b)
{
    return b[0] != 0 && b[0] != 127 && b[0] < 224;
}

// A contiguous netmask of 8 to 30 bits.
bool isNetmask(const unsigned char* b)
{
    const uint32_t m = quadValue(b);
    const uint32_t inv = ~m;
    if ((inv & (inv + 1)) != 0)
        return false;   // the ones are not contiguous from the top
    int bits = 0;
    for (uint32_t v = m; v; v <<= 1)
        ++bits;
    return bits >= 8 && bits <= 30;
}

void macBytes(const QString& text, unsigned char out[6])
{
    std::memset(out, 0xFF, 6);
    const QStringList parts = text.split(':');
    if (parts.size() != 6)
        return;
    unsigned char tmp[6];
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint v = parts[i].toUInt(&ok, 16);
        if (!ok || parts[i].size() != 2 || v > 0xFF)
            return;
        tmp[i] = static_cast<unsigned char>(v);
    }
    std::memcpy(out, tmp, 6);
}

} // namespace

bool (*message_deal::services_ready)() = &message_deal::default_services_ready;

bool message_deal::default_services_ready()
{
    // The chip manager is created after the store has loaded and after the
    // FPGA manager: with all three in place every handler has its targets.
    return ZdrRamPara::p_zdrrampara_config && fpga_manage::p_fpga_manage && c331_manage::p_c331_manage;
}

int message_deal::status(unsigned char s)
{
    out()[0] = s;
    return 1;
}

int message_deal::message_group_deal(const unsigned char* frame, int length, const Origin& origin)
{
    if (!frame || length < kHeader + 1 || length > protocol_phy::kMaxBody || !isForDevice(frame, length))
        return 0;
    if (!services_ready())
        return 0;

    int n;
    switch (frame[kCommand]) {
    case kWriteRam: n = write_ram(frame, length); break;
    case kReadRam: n = read_ram(frame, length); break;
    case kWriteRegister: n = write_register(frame, length); break;
    case kReadRegister: n = read_register(frame, length); break;
    case kWriteItems: n = write_items(frame, length); break;
    case kDeviceInfo: n = device_info(frame, length); break;
    case kSetNetwork: n = set_network(frame, length); break;
    case kSetClock: n = write_rtc_time(frame, length); break;
    case kEraseFlash: n = cmd_erase_flash(frame, length); break;
    case kWriteFlash: n = cmd_write_flash(frame, length); break;
    case kReadFlash: n = cmd_read_flash(frame, length); break;
    case kFileStart: n = write_file_start(frame, length, origin); break;
    case kFileData: n = write_file_data(frame, length, origin); break;
    case kFileEnd: n = write_file_end(frame, length, origin); break;
    default: n = status(kUnknown); break;
    }

    std::memcpy(m_reply, frame, kHeader);
    m_reply[kDest] = frame[kSrc];
    m_reply[kDest + 1] = frame[kSrc + 1];
    m_reply[kSrc] = frame[kDest];
    m_reply[kSrc + 1] = frame[kDest + 1];
    const int body = kPayload + n;
    m_reply[body] = Utils::BCC(m_reply, static_cast<unsigned>(body));
    return body + 1;
}

// RAM write: address u32, count u16, two spare bytes, count data bytes.
int message_deal::write_ram(const unsigned char* frame, int length)
{
    const unsigned char* p = frame + kPayload;
    const int plen = payloadLength(length);
    if (plen < 8)
        return status(kRefused);
    const uint32_t address = le32(p, 0);
    const uint16_t count = le16(p, 4);
    if (plen != 8 + count)
        return status(kRefused);
    unsigned char* data = const_cast<unsigned char*>(p + 8);   // the store only reads it

    if (le16(frame, kDest) == kSendingCard) {
        if (frame[kPort] > 1)
            return status(kRefused);
        return status(link_services::sendcard_write_ram(frame[kPort], address, data, count));
    }

    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    int r = 1;
    if (address < 0x1000) {
        // Stored whole under the chip's manage mutex: a change pass never
        // reads a half-written field.
        C331ParaLock lock;
        r = store->ZdrRamParaDeal(data, count, address);
    }
    else if (address <= 0x10FFF) {
        // The user-mode slots too: the pages copy them under the same mutex.
        C331ParaLock lock;
        r = store->ZdrModeUserRamParaDeal(data, count, address);
    }
    return status(r == 0 ? kOk : kRefused);
}

// RAM read: address u32, count u16 (1..kMaxRead), two spare bytes. The
// reply carries the status and, when it is 0, the count bytes.
int message_deal::read_ram(const unsigned char* frame, int length)
{
    const unsigned char* p = frame + kPayload;
    if (payloadLength(length) != 8)
        return status(kRefused);
    const uint32_t address = le32(p, 0);
    const uint16_t count = le16(p, 4);
    if (count == 0 || count > kMaxRead)
        return status(kRefused);

    if (le16(frame, kDest) == kSendingCard) {
        if (frame[kPort] > 1)
            return status(kRefused);
        const unsigned char s = link_services::sendcard_read_ram(frame[kPort], address, out() + 1, count);
        if (s != kOk)
            return status(s);
        out()[0] = kOk;
        return 1 + count;
    }

    // Copied under the store's short lock, which every writer takes while
    // it stores: a reply never carries a half-written field, and is never
    // held up by a change pass of the chip.
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (address < 0x1000) {
        if (address + count > static_cast<uint32_t>(para::kBlockSize))
            return status(kRefused);
        store->block_bytes(static_cast<int>(address), out() + 1, count);
    } else if (address <= 0x10FFF) {
        const uint32_t mode = address >> 12;   // 1..16
        const uint32_t offset = address & 0xFFF;
        if (offset + count > static_cast<uint32_t>(ZdrRamPara::kSlotFileSize))
            return status(kRefused);
        store->slot_bytes(static_cast<int>(mode - 1), static_cast<int>(offset), out() + 1, count);
    } else {
        return status(kRefused);
    }
    out()[0] = kOk;
    return 1 + count;
}

// Register write: 1 to 64 items of four bytes: register u16, mask, value.
int message_deal::write_register(const unsigned char* frame, int length)
{
    const unsigned char* p = frame + kPayload;
    const int plen = payloadLength(length);
    if (plen < 4 || plen % 4 != 0 || plen / 4 > 64)
        return status(kRefused);
    const int items = plen / 4;
    // Every item is checked before the first is written, so that a refused
    // write changes nothing (the sending card refuses its registers above
    // 170).
    const bool card = le16(frame, kDest) == kSendingCard;
    const unsigned limit = card ? link_services::kSendCardWritableCount : link_reg::kWritableCount;
    for (int i = 0; i < items; ++i)
        if (le16(p, 4 * i) >= limit)
            return status(kRefused);
    if (card && frame[kPort] > 1)
        return status(kRefused);

    unsigned char result = kOk;
    // The register image is shared by every link and the chip thread: each
    // store is made under the manage mutex, as the chip thread reads it.
    const unsigned char* image = ZdrRamPara::p_zdrrampara_config->run_status;
    auto merge = [image](unsigned at, unsigned char value, unsigned char mask) {
        ParaWriteLock lock;
        lock.status()[at] = static_cast<unsigned char>((value & mask) | (image[at] & ~mask));
    };
    for (int i = 0; i < items; ++i) {
        const unsigned reg = le16(p, 4 * i);
        const unsigned char mask = p[4 * i + 2];
        const unsigned char value = p[4 * i + 3];
        unsigned char s = kOk;
        if (card) {
            s = link_services::sendcard_write_register(frame[kPort], reg, mask, value);
        } else {
            switch (reg) {
            case link_reg::kRecovery:
                merge(32, value, mask);
                break;
            case link_reg::kSystem: {
                const unsigned char v = value & mask;
                if (v & 0x01) {
                    G_reboot_tickTicks = G_timeTicks.load();
                    g_app_reset_flag = 1;
                    writeLogMsg(INFO, "reboot requested by the PC");
                }
                if (v & 0x02)
                    s = link_services::c331_print();
                break;
            }
            case link_reg::kTestSequence:
            case link_reg::kParaDump:
            case link_reg::kRegGroup: {
                ParaWriteLock bytes;
                if (reg == link_reg::kTestSequence)
                    bytes.status()[34] = value & mask;
                else if (reg == link_reg::kParaDump)
                    bytes.status()[35] = static_cast<unsigned char>(value + 1);
                else
                    bytes.status()[36] = value & mask;
                bytes.raise(1);
                break;
            }
            default:
                merge(reg, value, mask);
                if (reg == link_reg::kMcuFlag)
                    REG_mcu_flag(value, mask);
                else if (reg == link_reg::kUpdate0E)
                    s = RegUpdate0E(value & mask);
                break;
            }
        }
        if (s != kOk && result == kOk)
            result = s;
    }
    return status(result);
}

// Register read: first register u16, count u16. Processor registers are
// the bytes of its register image (the runtime status area).
int message_deal::read_register(const unsigned char* frame, int length)
{
    const unsigned char* p = frame + kPayload;
    if (payloadLength(length) != 4)
        return status(kRefused);
    const unsigned first = le16(p, 0);
    const unsigned count = le16(p, 2);
    if (count == 0 || count > static_cast<unsigned>(kMaxRead))
        return status(kRefused);

    if (le16(frame, kDest) == kSendingCard) {
        if (frame[kPort] > 1)
            return status(kRefused);
        const unsigned char s = link_services::sendcard_read_registers(frame[kPort], first, count, out() + 1);
        if (s != kOk)
            return status(s);
        out()[0] = kOk;
        return 1 + static_cast<int>(count);
    }

    if (first + count > static_cast<unsigned>(ZdrRamPara::kStatusSize))
        return status(kRefused);
    out()[0] = kOk;
    // Copied under the store's short lock, which the image's writers take
    // while they store: never held up by a change pass of the chip.
    ZdrRamPara::p_zdrrampara_config->status_bytes(static_cast<int>(first), out() + 1, static_cast<int>(count));
    return 1 + static_cast<int>(count);
}

// The flash commands. Byte 0 of the payload selects the flash; only the
// c331 chip's serial flash (4, 32 MiB) is served here. Every range is
// checked in 64 bits, so no address or count from the wire can wrap.
namespace {
constexpr unsigned char kChipFlash = 4;
constexpr uint64_t kChipFlashSize = 0x2000000;
inline uint32_t le24(const unsigned char* p) { return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16); }
} // namespace

// Payload: selector u8, erase size u8 (0 4 KiB, 1 32 KiB, 2 64 KiB), start
// sector u16 (4 KiB units), count u16 (0 taken as 1).
int message_deal::cmd_erase_flash(const unsigned char* frame, int length)
{
    const unsigned char* p = frame + kPayload;
    if (payloadLength(length) != 6)
        return status(kRefused);
    if (p[0] != kChipFlash)
        return status(kNotAvailable);
    const unsigned type = p[1];
    const unsigned sector = le16(p, 2);
    const unsigned count = le16(p, 4) ? le16(p, 4) : 1;
    if (type > 2)
        return status(kRefused);
    const unsigned sectorsPerUnit = type == 0 ? 1 : type == 1 ? 8 : 16;
    if (sector % sectorsPerUnit != 0)
        return status(kRefused);
    if (uint64_t(sector) * 0x1000 + uint64_t(count) * sectorsPerUnit * 0x1000 > kChipFlashSize)
        return status(kRefused);
    return status(link_services::c331_flash_erase(sector, count, type));
}

// Payload: selector u8, address u24, length u16 (at least 1), the bytes.
int message_deal::cmd_write_flash(const unsigned char* frame, int length)
{
    const unsigned char* p = frame + kPayload;
    if (payloadLength(length) < 6)
        return status(kRefused);
    if (p[0] != kChipFlash)
        return status(kNotAvailable);
    const uint32_t address = le24(p + 1);
    const unsigned count = le16(p, 4);
    if (count == 0 || payloadLength(length) != 6 + static_cast<int>(count) ||
        uint64_t(address) + count - 1 >= kChipFlashSize)
        return status(kRefused);
    return status(link_services::c331_flash_write(address, p + 6, count));
}

// Payload: selector u8, address u24, length u16 (1 to 4096); the reply
// carries the bytes after the status.
int message_deal::cmd_read_flash(const unsigned char* frame, int length)
{
    const unsigned char* p = frame + kPayload;
    if (payloadLength(length) != 6)
        return status(kRefused);
    if (p[0] != kChipFlash)
        return status(kNotAvailable);
    const uint32_t address = le24(p + 1);
    const unsigned count = le16(p, 4);
    if (count == 0 || count > static_cast<unsigned>(kMaxRead) || uint64_t(address) + count - 1 >= kChipFlashSize)
        return status(kRefused);
    const unsigned char s = link_services::c331_flash_read(address, out() + 1, count);
    if (s != kOk)
        return status(s);
    out()[0] = kOk;
    return 1 + static_cast<int>(count);
}

void message_deal::REG_mcu_flag(unsigned char value, unsigned char mask)
{
    const unsigned char v = value & mask;
    if (!(v & 0x0B))
        return;
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    C331ParaLock lock;
    if ((v & 0x08) && store && le16(store->ram_para, para::kOsdOn) == 1)
        g_osd_update = 1;
    if (store) {
        {
            // The flag is the PC's act on what it wrote: a user-mode save it
            // asked for (word 868) is taken now, with the block as it
            // stands, and with the value 2 each user mode's file as its slot
            // stands (raising 2 takes them; the refresh after the pass, or
            // the stop, writes the files); the brightness percent a RAM
            // write set is taken here too, in the order of the flags.
            ParaWriteLock bytes;
            ModeSaves::take_request(bytes);
            if (v & 0x02)
                bytes.raise(2);
            BrightnessActs::pInstance()->take_ram_percent();
        }
        // The black-out word a RAM write set: told to the screen's record
        // once the store's short lock is given back.
        store->pc_flag_applies();
    }
    lock.raise();
}

unsigned char message_deal::RegUpdate0E(unsigned char value)
{
    if (value & 0x08)
        return link_services::c331_font_update();
    return kOk;
}

// Parameter items: 1 to 32 items of four bytes: item, index, value u16.
// Every item is checked before any is stored, against the block as the
// items before it in the frame leave it (a crop named after a load is one
// of the loaded mode's); then all are stored under the c331 manage mutex
// and the parameter-changed flag is raised.
int message_deal::write_items(const unsigned char* frame, int length)
{
    enum : unsigned char { kBrightness = 1, kColorTemp, kWindowInput, kUserMode, kBlackOut, kAudio };
    const unsigned char* p = frame + kPayload;
    const int plen = payloadLength(length);
    if (plen < 4 || plen % 4 != 0 || plen / 4 > 32)
        return status(kRefused);
    const int items = plen / 4;
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    // Checked and stored under one hold of the manage mutex: the crop
    // records and slot markers checked are the ones the store then uses.
    C331ParaLock lock;

    // What a check reads that an earlier item of the frame may change: the
    // crop table, which a load (item 4) replaces with the mode's own. No
    // item changes a slot's marker.
    static_assert(para::kCropTable >= para::kModeStart &&
                      para::kCropTable + para::kCropCount * para::kCropSize <= para::kBlockSize,
                  "a user mode carries the crop table");
    unsigned char crops[para::kCropCount * para::kCropSize] = {};
    if (store)
        store->block_bytes(para::kCropTable, crops, sizeof crops);
    for (int i = 0; i < items; ++i) {
        const unsigned char item = p[4 * i];
        const unsigned char index = p[4 * i + 1];
        const uint16_t value = le16(p, 4 * i + 2);
        bool ok = false;
        switch (item) {
        case kBrightness: ok = value <= 100; break;
        case kColorTemp: ok = value <= 3; break;
        case kWindowInput:
            if (index >= para::kLayerCount)
                break;
            if (value & para::kLayerInputIsCrop) {
                const unsigned k = value & 0x7FFF;
                ok = k < static_cast<unsigned>(para::kCropCount) &&
                     (le16(crops, para::crop(static_cast<int>(k)) - para::kCropTable) & para::kCropInUse);
            } else {
                ok = value < para::kInputCount;
            }
            break;
        case kUserMode:
            ok = value >= 1 && value <= 16 && store->ZdrUserModeSaved(value - 1);
            if (ok)   // the slot's image after its 2-byte marker, as the load copies it
                store->slot_bytes(value - 1, 2 + para::kCropTable - para::kModeStart, crops, sizeof crops);
            break;
        case kBlackOut: ok = value <= 1; break;
        case kAudio: ok = index < para::kLayerCount && (value & 0xFF) <= 100 && (value & 0x7F00) == 0; break;
        default: break;
        }
        if (!ok)
            return status(kRefused);
    }

    ParaWriteLock bytes;
    unsigned char* block = bytes.block();
    for (int i = 0; i < items; ++i) {
        const unsigned char item = p[4 * i];
        const unsigned char index = p[4 * i + 1];
        const uint16_t value = le16(p, 4 * i + 2);
        switch (item) {
        case kBrightness: bytes.set_brightness(value); break;
        case kColorTemp: setLe16(block, para::kColorTempType, value); break;
        case kWindowInput:
            setLe16(block, para::layer(index) + para::kLayerInput, value);
            // The picture no longer matches the mode a load brought, whether
            // or not the load has reached the file.
            setLe16(block, para::kCurrentMode, 0);
            break;
        case kUserMode: bytes.load_mode(value - 1); break;
        case kBlackOut: bytes.blackout_command(value); break;
        case kAudio: {
            const int rec = para::layer(index);
            setLe16(block, para::kAudioWindow, index);
            block[rec + para::kLayerAudioLevel] = static_cast<unsigned char>(value & 0xFF);
            if (value & 0x8000)
                block[rec + para::kLayerAudioFlags] |= 0x80;
            else
                block[rec + para::kLayerAudioFlags] &= 0x7F;
            break;
        }
        default: break;
        }
    }
    bytes.raise(1);
    return status(kOk);
}

// Device information: no payload. Reply: status, device id (32 characters),
// address, mask, gateway (4 bytes each), TCP port u16, WiFi address
// (4 bytes), MAC (6 bytes).
int message_deal::device_info(const unsigned char* frame, int length)
{
    if (payloadLength(length) != 0)
        return status(kRefused);
    unsigned char* o = out();
    o[0] = kOk;
    std::memcpy(o + 1, g_pid, 32);
    const Utils::NetworkSettings net = Utils::network_settings();
    quadBytes(net.ip, o + 33);
    quadBytes(net.mask, o + 37);
    quadBytes(net.gateway, o + 41);
    setLe16(o, 45, static_cast<uint16_t>(net.tcpPort));
    quadBytes(net.wifiIp, o + 47);
    macBytes(net.mac, o + 51);
    return 57;
}

// Network settings: address, mask, gateway (4 bytes each), TCP port u16
// (0 keeps the port). Stored in the settings file and applied to eth0; a
// new TCP port takes effect at the next start.
int message_deal::set_network(const unsigned char* frame, int length)
{
    const unsigned char* p = frame + kPayload;
    if (payloadLength(length) != 14)
        return status(kRefused);
    const unsigned char* ip = p;
    const unsigned char* mask = p + 4;
    const unsigned char* gw = p + 8;
    const uint16_t port = le16(p, 12);
    const uint32_t m = quadValue(mask);
    const uint32_t host = quadValue(ip) & ~m;
    if (!isHostAddress(ip) || !isNetmask(mask) || host == 0 || host == (~m) || !isHostAddress(gw))
        return status(kRefused);

    // One rewrite of the settings file for the whole command.
    std::vector<std::pair<ConfigItem::ConfigName, QVariant>> values = {
        {ConfigItem::IPAddress, quadText(ip)}, {ConfigItem::SubNetMask, quadText(mask)}, {ConfigItem::GateWay, quadText(gw)}};
    if (port != 0)
        values.push_back({ConfigItem::TcpPort, static_cast<int>(port)});
    ConfigEngine::pInstance()->write_config_variants(values);
    Utils::getIPAddress();
    Utils::initIPAddress();
    writeLogMsg(INFO, "network set by the PC: " + quadText(ip).toStdString());
    return status(kOk);
}

// Clock: year u16, month, day, hour, minute, second.
int message_deal::write_rtc_time(const unsigned char* frame, int length)
{
    const unsigned char* p = frame + kPayload;
    if (payloadLength(length) != 7)
        return status(kRefused);
    // The same check and the same command as the command page's clock.
    switch (fpga_manage::set_clock(le16(p, 0), p[2], p[3], p[4], p[5], p[6], "the PC")) {
    case fpga_manage::ClockSet::Refused:
        return status(kRefused);
    case fpga_manage::ClockSet::Failed:
        return status(kFailed);
    case fpga_manage::ClockSet::Done:
        break;
    }
    link_services::clock_set_record_timing();
    return status(kOk);
}
