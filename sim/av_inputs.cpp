#include "sim/av_inputs.h"

#include "sim/c331_chip.h"
#include "sim/control_channel.h"

#include <cstdio>
#include <cstdlib>
#include <vector>
#include <cstring>
#include <map>

namespace sim {

using namespace avin;

namespace {
void put16(uint8_t* p, unsigned v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
} // namespace

void ReceiverModel::fillRegisters(uint8_t* regs) const
{
    std::memset(regs, 0, kRegCount);
    regs[0] = kReceiverId;
    auto chip = chip_.lock();
    if (!chip)
        return;
    const C331ChipModel::VideoSource s = chip->source(input_);
    if (!s.present)
        return;
    put16(regs + 2, static_cast<unsigned>(s.width));
    put16(regs + 4, static_cast<unsigned>(s.height));
    regs[6] = static_cast<uint8_t>(s.hz);
    regs[7] = static_cast<uint8_t>(s.lanes);
    const unsigned htotal = static_cast<unsigned>(s.width + kHFront + kHSync + kHBack);
    const unsigned vtotal = static_cast<unsigned>(
        s.height + (s.interlaced ? kFieldVFront + kFieldVSync + kFieldVBack : kVFront + kVSync + kVBack));
    put16(regs + 8, htotal);
    put16(regs + 10, vtotal);
    put16(regs + 12, kHSync);
    put16(regs + 14, kHBack);
    put16(regs + 16, static_cast<unsigned>(s.interlaced ? kFieldVSync : kVSync));
    put16(regs + 18, static_cast<unsigned>(s.interlaced ? kFieldVBack : kVBack));
    regs[20] = 3;
    const uint32_t khz = static_cast<uint32_t>(uint64_t(htotal) * vtotal * static_cast<unsigned>(s.hz) / 1000);
    regs[1] = static_cast<uint8_t>(1 | (s.interlaced ? 2 : 0) | (khz > kSinglePixelKhz ? 4 : 0));
    put16(regs + 21, khz & 0xFFFF);
    put16(regs + 23, khz >> 16);
}

bool ReceiverModel::write(const uint8_t* data, uint16_t len)
{
    if (len >= 1)
        ptr_ = data[0];
    return true;   // the registers are read-only
}

bool ReceiverModel::read(uint8_t* data, uint16_t len)
{
    uint8_t regs[kRegCount];
    fillRegisters(regs);
    for (uint16_t i = 0; i < len; ++i, ++ptr_)
        data[i] = ptr_ < kRegCount ? regs[ptr_] : 0xFF;
    return true;
}

bool EdidEepromModel::write(const uint8_t* data, uint16_t len)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (busy_) {
        busy_ = false;   // the write cycle ends while the master polls
        return false;
    }
    if (len == 0)
        return true;
    ptr_ = data[0];
    if (len == 1)
        return true;
    // A page write wraps inside its page, as a 24C02 does.
    const int page = ptr_ & ~(kEepromPage - 1);
    int off = ptr_ & (kEepromPage - 1);
    for (uint16_t i = 1; i < len; ++i) {
        mem_[page + off] = data[i];
        off = (off + 1) & (kEepromPage - 1);
    }
    busy_ = true;
    ++pageWrites_;
    return true;
}

bool EdidEepromModel::read(uint8_t* data, uint16_t len)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (busy_) {
        busy_ = false;
        return false;
    }
    for (uint16_t i = 0; i < len; ++i)
        data[i] = mem_[ptr_++];
    return true;
}

void EdidEepromModel::contents(uint8_t* out) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(out, mem_, kEepromSize);
}

int EdidEepromModel::pageWrites() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return pageWrites_;
}

void attachAvInputs(I2cBusModel& bus, const std::shared_ptr<C331ChipModel>& chip, ControlChannel& control)
{
    auto devices = std::make_shared<std::map<uint16_t, std::shared_ptr<I2cDevice>>>();
    std::vector<std::shared_ptr<EdidEepromModel>> eeproms;
    for (int i = 0; i < 6; ++i) {
        auto rx = std::make_shared<ReceiverModel>(chip, i);
        auto ee = std::make_shared<EdidEepromModel>();
        (*devices)[static_cast<uint16_t>(kReceiverBase + i)] = rx;
        (*devices)[static_cast<uint16_t>(kEepromBase + i)] = ee;
        bus.attach(static_cast<uint16_t>(kReceiverBase + i), rx);
        bus.attach(static_cast<uint16_t>(kEepromBase + i), ee);
        eeproms.push_back(ee);
    }
    control.add("edid-read", "<input 0..5>: the input's EDID EEPROM, 256 bytes in hex",
                [eeproms](const std::vector<std::string>& args, std::string& reply) {
                    ArgReader a(args);
                    if (!a.count(1, 1) || !a.oneOf(0, "input", {"0", "1", "2", "3", "4", "5"}))
                        return a.refuse("edid-read <input 0..5>", reply);
                    uint8_t mem[kEepromSize];
                    eeproms[static_cast<size_t>(args[0][0] - '0')]->contents(mem);
                    char hex[3];
                    for (uint8_t b : mem) {
                        std::snprintf(hex, sizeof(hex), "%02X", b);
                        reply += hex;
                    }
                    return true;
                });
    control.add("av-nak", "<addr hex> on|off: an input receiver or EEPROM stops acknowledging",
                [&bus, devices](const std::vector<std::string>& args, std::string& reply) {
                    unsigned long long addr = 0;
                    ArgReader a(args);
                    const bool known = a.count(2, 2) && a.number(0, "addr", 0, 0xFFFF, addr, 16);
                    auto it = known ? devices->find(static_cast<uint16_t>(addr)) : devices->end();
                    if (known && it == devices->end())
                        a.fail(0, "addr", "is no input receiver or EEPROM");
                    if (it == devices->end() || !a.oneOf(1, "switch", {"on", "off"}))
                        return a.refuse("av-nak <addr hex> on|off", reply);
                    if (args[1] == "on")
                        bus.detach(it->first);
                    else
                        bus.attach(it->first, it->second);
                    return true;
                });
}

} // namespace sim
