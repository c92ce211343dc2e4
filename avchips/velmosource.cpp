#include "avchips/velmosource.h"
#include "platform/nodes.h"

#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/wait_bound.h"
#include "core/zdrrampara.h"
#include "platform/platform.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <chrono>
#include <cstring>
#include <thread>

Published<velmosource> velmosource::p_velmo_source;

velmosource::velmosource() = default;

velmosource* velmosource::pInstance()
{
    if (!p_velmo_source)
        p_velmo_source = new velmosource();
    return p_velmo_source;
}

int velmosource::initialize()
{
    i2c_fd = platform::i2c().open(platform::nodes::kI2cBus);
    if (i2c_fd < 0)
        writeLogMsg(ERROR, "velmosource: cannot open /dev/i2c-0");
    // The source-check thread: the FPGAs' clock set-up first, so that the
    // FPGA thread may bring them up.
    std::thread([this] {
        Utils::name_thread("sources");
        s5p210_setup(0);
        s5p210_setup(1);
        for (;;) {
            source_check_pass();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }).detach();
    return 0;
}

// The clock chip's programming comes with the input drivers; the set-up
// marks its progress so that the FPGA thread may start.
void velmosource::s5p210_setup(int fpga)
{
    fpga_clk_setup_state[fpga & 1] = 1;
    fpga_clk_setup_state[fpga & 1] = 2;
}

void velmosource::source_check_pass()
{
    for (int i = 0; i < 6; ++i)
        poll_input(i);
    about_set_edid_deal();
    about_volume_deal();
}

namespace {

// Register file of a receiver, as read in one combined transfer.
constexpr int kRxRegs = 0x19;

bool i2cRead(int fd, uint16_t addr, uint8_t reg, uint8_t* out, uint16_t len)
{
    platform::I2cMessage m[2];
    m[0].addr = addr;
    m[0].len = 1;
    m[0].buf = &reg;
    m[1].addr = addr;
    m[1].flags = platform::I2cMessage::Read;
    m[1].len = len;
    m[1].buf = out;
    return fd >= 0 && platform::i2c().transfer(fd, m, 2) == 2;
}

bool i2cWrite(int fd, uint16_t addr, uint8_t* data, uint16_t len)
{
    platform::I2cMessage m;
    m.addr = addr;
    m.len = len;
    m.buf = data;
    return fd >= 0 && platform::i2c().transfer(fd, &m, 1) == 1;
}

// A reading is taken as a signal only when every value is plausible; out
// of range values mean no usable signal and never reach the block.
bool plausible(const HdmiInfo& r, int hz)
{
    return r.Hact >= 64 && r.Hact <= 8192 && r.Vact >= 64 && r.Vact <= 8192 && hz >= 1 && hz <= 240 &&
           r.Htotal > r.Hact && r.Htotal <= 16384 && r.Vtotal > r.Vact && r.Vtotal <= 16384 &&
           r.Hsync + r.Hback < r.Htotal - r.Hact + 1 && r.Vsync + r.Vback < r.Vtotal - r.Vact + 1 &&
           (r.lane == 0 || r.lane == 1 || r.lane == 2 || r.lane == 4 || r.lane == 8) && r.pfreq > 0 &&
           r.pfreq <= 1200.0f;
}

} // namespace

int velmosource::poll_input(int input)
{
    if (input < 0 || input > 5)
        return -1;
    uint8_t regs[kRxRegs];
    if (!i2cRead(i2c_fd, static_cast<uint16_t>(kReceiverAddr + input), 0, regs, kRxRegs) || regs[0] != 0xA5)
        return -1;

    HdmiInfo r;
    int hz = 0;
    if (regs[1] & 1) {
        r.Hact = le16(regs, 2);
        r.Vact = le16(regs, 4);
        hz = regs[6];
        r.lane = regs[7];
        r.Htotal = le16(regs, 8);
        r.Vtotal = le16(regs, 10);
        r.Hsync = le16(regs, 12);
        r.Hback = le16(regs, 14);
        r.Vsync = le16(regs, 16);
        r.Vback = le16(regs, 18);
        r.Hpol = regs[20] & 1;
        r.Vpol = (regs[20] >> 1) & 1;
        r.pfreq = static_cast<float>(le32(regs, 21)) / 1000.0f;
        r.ip = (regs[1] >> 1) & 1;
        r.type = 1;
        // Two pixels a clock (status bit 2): the receiver's bus for the
        // pixel clocks one pixel a clock cannot carry.
        r.datamode = (regs[1] >> 2) & 1;
        r.nosignal = 0;
    }
    if (r.nosignal || !plausible(r, hz)) {
        r = HdmiInfo();
        hz = 0;
    }
    r.stable = 1;

    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        hdminfo[input] = r;
    }
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (store) {
        // Stored as every write of the block is (under the manage mutex as
        // well, so this thread may wait for a change pass); a record that
        // has not changed is not stored again.
        const int off = para::kInputSignal + para::kInputSignalSize * input;
        unsigned char rec[para::kInputSignalSize];
        setLe16(rec, 0, static_cast<uint16_t>(r.Hact));
        setLe16(rec, 2, static_cast<uint16_t>(r.Vact));
        setLe16(rec, 4, static_cast<uint16_t>(hz));
        unsigned char now[para::kInputSignalSize];
        store->block_bytes(off, now, sizeof(now));
        if (std::memcmp(now, rec, sizeof(rec)) != 0) {
            ParaWriteLock bytes;
            std::memcpy(bytes.block() + off, rec, sizeof(rec));
        }
    }
    return 0;
}

namespace {

// Blanking of the detailed timing (CEA-861 1080p shape).
constexpr int kEdidHbl = 280;
constexpr int kEdidVbl = 45;

// The detailed timing's pixel clock in 10 kHz units.
uint64_t edid_clock_10k(int width, int height, int hz)
{
    return uint64_t(width + kEdidHbl) * uint64_t(height + kEdidVbl) * uint64_t(hz) / 10000;
}

} // namespace

bool velmosource::edid_timing_fits(int width, int height, int hz)
{
    if (width < kEdidMinSize || width > kEdidMaxSize || height < kEdidMinSize || height > kEdidMaxSize || hz < 24 ||
        hz > 240)
        return false;
    const uint64_t clk10k = edid_clock_10k(width, height, hz);
    return clk10k != 0 && clk10k <= 0xFFFF;
}

bool velmosource::Set_Custom_HDMI_EDID(uint8_t* edid, int width, int height, int hz)
{
    const int hfp = 88, hs = 44, hbl = kEdidHbl, vfp = 4, vs = 5, vbl = kEdidVbl;
    if (!edid_timing_fits(width, height, hz))
        return false;
    const uint64_t clk10k = edid_clock_10k(width, height, hz);

    uint8_t e[128] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    e[8] = 0x6A;   // manufacturer "ZDR"
    e[9] = 0x52;
    e[10] = 0x47;  // product 0x4B47
    e[11] = 0x4B;
    e[16] = 1;     // week
    e[17] = 30;    // 1990 + 30
    e[18] = 1;     // EDID 1.3
    e[19] = 3;
    e[20] = 0x80;  // digital input
    e[21] = 0;     // size unknown
    e[22] = 0;
    e[23] = 0x78;  // gamma 2.2
    e[24] = 0x0A;  // RGB, preferred timing in the first descriptor
    static const uint8_t chroma[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
    std::memcpy(e + 25, chroma, sizeof(chroma));
    for (int i = 38; i < 54; ++i)
        e[i] = 0x01;   // no standard timings

    uint8_t* d = e + 54;
    setLe16(d, 0, static_cast<uint16_t>(clk10k));
    d[2] = static_cast<uint8_t>(width);
    d[3] = static_cast<uint8_t>(hbl);
    d[4] = static_cast<uint8_t>(((width >> 8) << 4) | (hbl >> 8));
    d[5] = static_cast<uint8_t>(height);
    d[6] = static_cast<uint8_t>(vbl);
    d[7] = static_cast<uint8_t>(((height >> 8) << 4) | (vbl >> 8));
    d[8] = static_cast<uint8_t>(hfp);
    d[9] = static_cast<uint8_t>(hs);
    d[10] = static_cast<uint8_t>((vfp << 4) | vs);
    d[11] = 0;
    d[17] = 0x1E;  // digital separate sync, both polarities positive

    uint8_t* name = e + 72;   // monitor name
    name[3] = 0xFC;
    const char text[13] = {'z', 'd', 'r', 'K', '4', '7', 'N', '\n', ' ', ' ', ' ', ' ', ' '};
    std::memcpy(name + 5, text, 13);
    uint8_t* range = e + 90;  // range limits
    range[3] = 0xFD;
    range[5] = 24;
    range[6] = 240;
    range[7] = 15;
    range[8] = 255;
    range[9] = 66;            // 660 MHz
    range[10] = 0;
    range[11] = 0x0A;
    for (int i = 12; i < 18; ++i)
        range[i] = 0x20;
    e[108 + 3] = 0x10;        // dummy descriptor

    unsigned sum = 0;
    for (int i = 0; i < 127; ++i)
        sum += e[i];
    e[127] = static_cast<uint8_t>(256 - (sum & 0xFF));
    std::memcpy(edid, e, 128);
    return true;
}

void velmosource::default_edid(uint8_t* edid)
{
    Set_Custom_HDMI_EDID(edid, 1920, 1080, 60);
}

int velmosource::write_edid(int input, const uint8_t* edid)
{
    if (input < 0 || input > 5)
        return -1;
    const uint16_t addr = static_cast<uint16_t>(kEdidEepromAddr + input);
    for (int page = 0; page < 128; page += 8) {
        uint8_t msg[9];
        msg[0] = static_cast<uint8_t>(page);
        std::memcpy(msg + 1, edid + page, 8);
        if (!i2cWrite(i2c_fd, addr, msg, sizeof(msg)))
            return -1;
        // The EEPROM does not acknowledge during its write cycle (at most
        // 5 ms): poll it every 1 ms for 20 ms.
        const bool ready = waitUntil(20000, 1000, [&] {
            uint8_t ptr = static_cast<uint8_t>(page);
            return i2cWrite(i2c_fd, addr, &ptr, 1);
        });
        if (!ready)
            return -1;
    }
    uint8_t back[128];
    if (!i2cRead(i2c_fd, addr, 0, back, sizeof(back)))
        return -1;
    return std::memcmp(back, edid, 128) == 0 ? 0 : -1;
}

void velmosource::about_set_edid_deal()
{
    for (int i = 0; i < 6; ++i) {
        // The request is taken before the record is read: a change stored
        // while the EEPROM is written raises it again and is written next.
        if (!edid_write_request[i].exchange(0))
            continue;
        uint8_t edid[128];
        bool custom = false;
        if (edid_custom_select[i] == 0) {
            ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
            if (store) {
                // The pages and the PC store the record while it is read:
                // one copy of it whole.
                unsigned char rec[6];
                store->block_bytes(para::edid(i), rec, sizeof(rec));
                custom = Set_Custom_HDMI_EDID(edid, le16(rec, 0), le16(rec, 2), le16(rec, 4));
                if (!custom)
                    writeLogMsg(ERROR, "velmosource: EDID record of input " + std::to_string(i) +
                                           " out of range, default EDID written");
            }
        }
        if (!custom)
            default_edid(edid);
        if (write_edid(i, edid) == 0 || ++edid_tries_[i] >= kEdidTries) {
            if (edid_tries_[i] >= kEdidTries)
                writeLogMsg(ERROR, "velmosource: EDID EEPROM of input " + std::to_string(i) + " not written");
            edid_tries_[i] = 0;
        } else {
            edid_write_request[i] = 1;   // tried again on the next pass
        }
    }
}

void velmosource::about_volume_deal()
{
    if (!volume_update_request)
        return;
    volume_update_request = 0;
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store)
        return;
    // The pages and the PC store these records while they are read: read
    // from one copy, never waiting for the chip's change pass.
    unsigned char block[para::kBlockSize];
    store->snapshot_block(block);
    const unsigned layer = le16(block, para::kAudioWindow);
    if (layer >= static_cast<unsigned>(para::kLayerCount)) {
        audio_input = -1;
        return;
    }
    const unsigned char* rec = block + para::layer(static_cast<int>(layer));
    unsigned in = le16(rec, para::kLayerInput);
    if (in & para::kLayerInputIsCrop) {
        const unsigned k = in & 0xFF;
        in = k < static_cast<unsigned>(para::kCropCount) ? le16(block, para::crop(static_cast<int>(k))) & 0xFF : 0xFF;
    }
    audio_input = in <= 5 ? static_cast<int>(in) : -1;
    audio_level = rec[para::kLayerAudioLevel];
    // Bit 7 of the flags byte is "audio on", as the PC's item stores it.
    audio_on = (rec[para::kLayerAudioFlags] & 0x80) ? 1 : 0;
}
