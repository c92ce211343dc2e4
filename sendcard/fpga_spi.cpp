// Register and RAM transactions of the two FPGAs and the GPIO lines that
// choose which chip a transfer reaches.
#include "sendcard/fpga_manage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/wait_bound.h"
#include "platform/clock.h"

#include <QMutexLocker>
#include <algorithm>
#include <vector>

namespace {

constexpr unsigned char kRamCommand = 1;
constexpr unsigned char kRegisterCommand = 2;

// This thread's bound on its waits for the SPI bus (0: none), and whether a
// transfer has failed for it.
thread_local uint64_t t_spiUntilUs = 0;
thread_local bool t_spiGivenUp = false;

// Takes the SPI bus for one transfer: at once without a bound, else by the
// bound or not at all.
bool takeSpiBus()
{
    if (t_spiUntilUs == 0) {
        Utils::_spi_mutex.lock();
        return true;
    }
    if (t_spiGivenUp)
        return false;
    const uint64_t now = platform::clock().nowUs();
    if (waitUntil(t_spiUntilUs > now ? t_spiUntilUs - now : 0, 50, [] { return Utils::_spi_mutex.tryLock(); }))
        return true;
    t_spiGivenUp = true;
    return false;
}

} // namespace

fpga_manage::SpiBusBound::SpiBusBound(uint64_t untilUs) : savedUntil_(t_spiUntilUs), savedGivenUp_(t_spiGivenUp)
{
    t_spiUntilUs = untilUs ? untilUs : 1;
    t_spiGivenUp = false;
}

fpga_manage::SpiBusBound::~SpiBusBound()
{
    t_spiUntilUs = savedUntil_;
    t_spiGivenUp = savedGivenUp_;
}

bool fpga_manage::SpiBusBound::givenUp()
{
    return t_spiGivenUp;
}

uint64_t fpga_manage::SpiBusBound::untilUs()
{
    return t_spiUntilUs;
}

void fpga_manage::gpio_set(unsigned pad, unsigned short level)
{
    if (!gpio_window) {
        static std::atomic<bool> said{false};
        if (!said.exchange(true))
            writeLogMsg(WARNING, "FPGA GPIO lines not mapped: line changes are dropped");
        return;
    }
    gpio_window->write16(pad, level);
}

void fpga_manage::release_select_lines()
{
    if (!gpio_window) {
        static std::atomic<bool> said{false};
        if (!said.exchange(true))
            writeLogMsg(WARNING, "FPGA select lines not mapped: chip traffic goes out without driving them");
        return;
    }
    gpio_window->write16(kFpga0SelectPad, kPadHigh);
    gpio_window->write16(kFpga1SelectPad, kPadHigh);
}

unsigned char fpga_manage::fpga_irq_line(unsigned char fpga)
{
    if (!gpio_window)
        return 0;
    return gpio_window->read16(fpga == 0 ? kFpga0IrqPad : kFpga1IrqPad) & 0x01;
}

uint32_t fpga_manage::fpga_cmd_to_spi_data(unsigned char command, uint32_t block, uint32_t address,
                                           unsigned char read)
{
    return (read ? 1u : 0u) | ((command & 0x0Fu) << 1) | ((block & 0xFFu) << 8) | ((address & 0x0FFFu) << 16);
}

uint32_t fpga_manage::fpga_reg_cmd_to_spi_data(unsigned char command, uint32_t, uint32_t reg, unsigned char read,
                                               unsigned char mask)
{
    const uint32_t top = read ? 0u : static_cast<uint32_t>(mask) << 24;
    return (read ? 1u : 0u) | ((command & 0x0Fu) << 1) | ((reg & 0xFFu) << 16) | top;
}

void fpga_manage::fpga_select(unsigned char fpga)
{
    if (fpga == 0) {
        gpio_set(kFpga0CommandPad, kPadHigh);
        gpio_set(kFpga0SelectPad, kPadLow);
        gpio_set(kFpga1SelectPad, kPadHigh);
    } else {
        gpio_set(kFpga1CommandPadA, kPadHigh);
        gpio_set(kFpga1CommandPadB, kPadHigh);
        gpio_set(kFpga1SelectPad, kPadLow);
        gpio_set(kFpga0SelectPad, kPadHigh);
    }
}

void fpga_manage::fpga_data_phase(unsigned char fpga)
{
    if (fpga == 0) {
        gpio_set(kFpga0CommandPad, kPadLow);
    } else {
        gpio_set(kFpga1CommandPadA, kPadLow);
        gpio_set(kFpga1CommandPadB, kPadLow);
    }
}

void fpga_manage::flash_select(unsigned char chip)
{
    if (chip == 2) {
        gpio_set(kFpga1SelectPad, kPadHigh);
        gpio_set(kFpga0SelectPad, kPadLow);
        gpio_set(kFpga0FlashPad, kPadLow);
    } else {
        gpio_set(kFpga0SelectPad, kPadHigh);
        gpio_set(kFpga1SelectPad, kPadLow);
        gpio_set(kFpga1FlashPadA, kPadLow);
        gpio_set(kFpga1FlashPadB, kPadLow);
    }
}

void fpga_manage::flash_release(unsigned char chip)
{
    if (chip == 2) {
        gpio_set(kFpga0FlashPad, kPadHigh);
    } else {
        gpio_set(kFpga1FlashPadA, kPadHigh);
        gpio_set(kFpga1FlashPadB, kPadHigh);
    }
    gpio_set(kFpga0SelectPad, kPadHigh);
    gpio_set(kFpga1SelectPad, kPadHigh);
}

// One transaction: command word with the command line(s) high, then the data
// phase (tx null: rx receives length bytes clocked out as 0xFF; rx null:
// write only). A read that no FPGA answered fails (0), and the FPGA is
// marked silent.
int fpga_manage::fpga_transfer(unsigned char fpga, uint32_t command, const unsigned char* tx, unsigned char* rx,
                               uint32_t length)
{
    const int fd = spi_fd[fpga == 0 ? 0 : 1];
    const unsigned char word[4] = {static_cast<unsigned char>(command), static_cast<unsigned char>(command >> 8),
                                   static_cast<unsigned char>(command >> 16),
                                   static_cast<unsigned char>(command >> 24)};
    std::vector<unsigned char> ones;
    if (!tx) {
        ones.assign(length, 0xFF);
        tx = ones.data();
    }
    if (!takeSpiBus())
        return 0;   // the bus stayed held past this thread's bound
    struct Release {
        ~Release() { Utils::_spi_mutex.unlock(); }
    } release;
    auto phase = [&](const unsigned char* command, const unsigned char* out, unsigned char* in, uint32_t n) {
        fpga_select(fpga);
        bool ok = drv->SPI_Transfer_Write(fd, command, 4) > 0;
        fpga_data_phase(fpga);
        if (ok)
            ok = drv->SPI_Transfer(fd, out, in, n) > 0;
        gpio_set(kFpga0SelectPad, kPadHigh);
        gpio_set(kFpga1SelectPad, kPadHigh);
        return ok;
    };
    if (!phase(word, tx, rx, length))
        return 0;
    if (!rx || std::any_of(rx, rx + length, [](unsigned char b) { return b != 0xFF; }))
        return 1;
    // Nothing but 0xFF came back: what an FPGA that does not drive its data
    // line gives (silent, in reset or unconfigured). The version year, never
    // 0xFF on an FPGA that answers, tells it from a value that is 0xFF.
    const uint32_t yearRead = fpga_reg_cmd_to_spi_data(kRegisterCommand, 0, kRegVersionYear, 1, 0);
    const unsigned char yearWord[4] = {static_cast<unsigned char>(yearRead), static_cast<unsigned char>(yearRead >> 8),
                                       static_cast<unsigned char>(yearRead >> 16),
                                       static_cast<unsigned char>(yearRead >> 24)};
    const unsigned char all = 0xFF;
    unsigned char year = 0xFF;
    if (phase(yearWord, &all, &year, 1) && year != 0xFF)
        return 1;
    // A silent FPGA that is not being reset: the FPGA thread brings it up
    // again from the stored settings.
    const unsigned char i = fpga == 0 ? 0 : 1;
    if (!fpga_rst_pending[i].load())
        fpga_silent[i] = 1;
    return 0;
}

int fpga_manage::read_fpga_register(uint32_t reg, unsigned char* out, unsigned char fpga)
{
    unsigned char value = 0xFF;
    if (!out || !fpga_transfer(fpga, fpga_reg_cmd_to_spi_data(kRegisterCommand, 0, reg, 1, 0), nullptr, &value, 1))
        return 0;
    *out = value;
    return 1;
}

int fpga_manage::write_fpga_register(uint32_t reg, unsigned char value, unsigned char fpga, unsigned char mask)
{
    return fpga_transfer(fpga, fpga_reg_cmd_to_spi_data(kRegisterCommand, 0, reg, 0, mask), &value, nullptr, 1);
}

// A RAM block has a 12-bit address space; longer transfers are refused.
int fpga_manage::write_fpga_ram(const unsigned char* data, uint32_t address, int length, uint32_t block,
                                unsigned char fpga)
{
    if (!data || length <= 0 || length > 4096)
        return 0;
    return fpga_transfer(fpga, fpga_cmd_to_spi_data(kRamCommand, block, address, 0), data, nullptr,
                         static_cast<uint32_t>(length));
}

int fpga_manage::read_fpga_ram(unsigned char* dest, uint32_t address, int length, uint32_t block, unsigned char fpga)
{
    if (!dest || length <= 0 || length > 4096)
        return 0;
    std::vector<unsigned char> in(static_cast<size_t>(length), 0xFF);
    if (!fpga_transfer(fpga, fpga_cmd_to_spi_data(kRamCommand, block, address, 1), nullptr, in.data(),
                       static_cast<uint32_t>(length)))
        return 0;
    std::copy(in.begin(), in.end(), dest);
    return 1;
}
