// The functions of the other device parts that the PC commands reach. A
// part that does not exist on this device build answers "not available".
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "link/message_deal.h"
#include "sendcard/fpga_manage.h"
#include "videochip/c331_manage.h"

#include <QMutexLocker>
#include <atomic>
#include <cstring>
#include <vector>

namespace link_services {

namespace {

unsigned char notAvailable(const char* what)
{
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        writeLogMsg(WARNING, std::string("control link: not available: ") + what);
    return link_frame::kNotAvailable;
}

// The sending card's RAM: page number in address bits 12-19, byte offset
// in bits 0-11. Pages 1 to 5 are per FPGA, 0x10 to 0x12 are the box's own;
// the command page (0x10) is reached through its owner alone
// (sendcard/command_page.h).
constexpr uint32_t kCommandPage = 0x10;

unsigned char* sendcardPage(fpga_manage* m, int fpga, uint32_t address, size_t& size)
{
    const uint32_t page = address >> 12;
    switch (page) {
    case 0x01: size = 1024; return m->MCU_RAM_PARA_func[fpga];
    case 0x02: size = 1024; return m->MCU_RAM_RX_func[fpga];
    case 0x03: size = 1024; return m->MCU_RAM_TX_func[fpga];
    case 0x04: size = 136; return m->MCU_RAM_ETH_PARA_func[fpga];
    case 0x05: size = 136; return m->MCU_RAM_ETH_BACK_PARA_func[fpga];
    case 0x11: size = sizeof(m->MCU_RAM_DEFAULT); return m->MCU_RAM_DEFAULT;
    case 0x12: size = sizeof(m->MCU_RAM_EXTEND); return m->MCU_RAM_EXTEND;
    default: size = 0; return nullptr;
    }
}

constexpr uint32_t kExtendPage = 0x12;
// The card result page (read only): byte 0 the flag (1 = a card answer
// came since the PC last read it), bytes 1..130 the answer's bytes 9..138.
constexpr uint32_t kCardResultPage = 0x13;
constexpr uint32_t kCardResultSize = 1 + fpga_manage::kCardResultPcBytes;

} // namespace

unsigned char sendcard_write_ram(int fpga, uint32_t address, const unsigned char* data, int count)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m)
        return link_frame::kNotAvailable;
    const uint32_t offset = address & 0xFFF;
    if ((address >> 12) == kCommandPage) {
        return count >= 0 && m->command_page.pc_write(offset, data, static_cast<unsigned>(count))
                   ? link_frame::kOk
                   : link_frame::kRefused;
    }
    size_t size = 0;
    unsigned char* page = sendcardPage(m, fpga, address, size);
    if (!page || count < 0 || offset + static_cast<uint32_t>(count) > size)
        return link_frame::kRefused;
    std::memcpy(page + offset, data, static_cast<size_t>(count));
    if ((address >> 12) == kExtendPage && offset < 5) {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        m->multicast_flag = m->MCU_RAM_EXTEND[0];
        m->multicast_target = le32(m->MCU_RAM_EXTEND, 1);
    }
    return link_frame::kOk;
}

unsigned char sendcard_read_ram(int fpga, uint32_t address, unsigned char* data, int count)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m)
        return link_frame::kNotAvailable;
    const uint32_t offset = address & 0xFFF;
    if ((address >> 12) == kCardResultPage) {
        if (count < 0 || offset + static_cast<uint32_t>(count) > kCardResultSize)
            return link_frame::kRefused;
        // A read of the flag clears it.
        unsigned char view[kCardResultSize];
        m->card_result_view(view, offset == 0);
        std::memcpy(data, view + offset, static_cast<size_t>(count));
        return link_frame::kOk;
    }
    if ((address >> 12) == kCommandPage) {
        return count >= 0 && m->command_page.pc_read(offset, data, static_cast<unsigned>(count))
                   ? link_frame::kOk
                   : link_frame::kRefused;
    }
    size_t size = 0;
    const unsigned char* page = sendcardPage(m, fpga, address, size);
    if (!page || count < 0 || offset + static_cast<uint32_t>(count) > size)
        return link_frame::kRefused;
    // The running-time state is copied in as the PC reads it.
    if ((address >> 12) == kExtendPage)
        m->clock_record.Time_to_RAM(m->MCU_RAM_EXTEND);
    std::memcpy(data, page + offset, static_cast<size_t>(count));
    return link_frame::kOk;
}

unsigned char sendcard_write_register(int fpga, unsigned reg, unsigned char mask, unsigned char value)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m)
        return link_frame::kNotAvailable;
    // Registers 97 to 127 are ignored and 171 up refused by the card.
    if (reg >= kSendCardWritableCount)
        return link_frame::kRefused;
    // An FPGA that does not answer takes nothing: the write failed.
    const unsigned char i = fpga == 0 ? 0 : 1;
    if (!m->write_to_register(reg, mask, value, i))
        return link_frame::kFailed;
    // The black-out bit written is an act on the screen of that FPGA.
    if (reg == fpga_manage::kRegScreen && (mask & fpga_manage::kScreenBlackout))
        m->screen_acts.register0_written(i, (value & fpga_manage::kScreenBlackout) != 0);
    return link_frame::kOk;
}

unsigned char sendcard_read_registers(int fpga, unsigned first, unsigned count, unsigned char* values)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m)
        return link_frame::kNotAvailable;
    if (first > 255 || count > 256 - first)
        return link_frame::kRefused;
    // The FPGA thread and the PC's writes change the image under its
    // mutex: the registers asked for together are read in one hold.
    m->reg_image_range(static_cast<unsigned char>(fpga), first, count, values);
    return link_frame::kOk;
}

namespace {
// The chip manager once it has opened the chip.
c331_manage* chipReady()
{
    c331_manage* m = c331_manage::p_c331_manage;
    return m && m->drv && m->c331_fd >= 0 ? m : nullptr;
}
} // namespace

unsigned char c331_flash_erase(unsigned sector, unsigned count, unsigned type)
{
    c331_manage* m = chipReady();
    if (!m)
        return notAvailable("c331 serial flash");
    const int r = m->erase_flash(m->c331_fd, static_cast<int>(sector), static_cast<int>(count), static_cast<char>(type));
    return r == 0 ? link_frame::kOk : link_frame::kFailed;
}

unsigned char c331_flash_write(uint32_t address, const unsigned char* data, unsigned count)
{
    c331_manage* m = chipReady();
    if (!m)
        return notAvailable("c331 serial flash");
    std::vector<char> bytes(data, data + count);
    const int r = m->write_flash(m->c331_fd, static_cast<int>(address), static_cast<int>(count), bytes.data());
    return r == 0 ? link_frame::kOk : link_frame::kFailed;
}

unsigned char c331_flash_read(uint32_t address, unsigned char* data, unsigned count)
{
    c331_manage* m = chipReady();
    if (!m)
        return notAvailable("c331 serial flash");
    const int r = m->read_flash(m->c331_fd, static_cast<int>(address), static_cast<int>(count),
                                reinterpret_cast<char*>(data));
    return r == 0 ? link_frame::kOk : link_frame::kFailed;
}

unsigned char c331_font_update()
{
    c331_manage* m = chipReady();
    if (!m)
        return notAvailable("c331 font reload");
    const bool read = m->read_c331_font(m->c331_fd) == 0;
    const bool loaded = m->update_font(m->c331_fd) == 0;
    return read && loaded ? link_frame::kOk : link_frame::kFailed;
}

unsigned char c331_print()
{
    c331_manage* m = chipReady();
    if (!m)
        return notAvailable("c331 register print");
    m->c331_print();
    return link_frame::kOk;
}

void clock_set_record_timing()
{
    if (fpga_manage* m = fpga_manage::p_fpga_manage)
        m->clock_record.dealwith_record_timing();
}

} // namespace link_services
