#include "sendcard/fpga_drv.h"
#include "platform/nodes.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/wait_bound.h"
#include "platform/platform.h"
#include "sendcard/fpga_manage.h"

#include <QMutexLocker>
#include <cstdio>
#include <vector>

namespace {

const char* const* const kNodes = platform::nodes::kFpgaSpi;

constexpr unsigned char kWriteEnable = 0x06;
constexpr unsigned char kReadStatus = 0x05;
constexpr unsigned char kPageProgram = 0x02;
constexpr unsigned char kFastRead = 0x0B;
constexpr unsigned char kReadUid = 0x4B;
const unsigned char kEraseOpcode[3] = {0x20, 0x52, 0xD8};
const uint32_t kEraseSectors[3] = {1, 8, 16};

void address3(unsigned char* out, uint32_t address)
{
    out[0] = static_cast<unsigned char>(address >> 16);
    out[1] = static_cast<unsigned char>(address >> 8);
    out[2] = static_cast<unsigned char>(address);
}

// Bounds of a flash range, computed without 32-bit wrap-around.
bool inFlash(uint32_t address, uint32_t length)
{
    return length != 0 && static_cast<uint64_t>(address) + length <= fpga_drv::kFlashSize;
}

} // namespace

fpga_drv::fpga_drv(fpga_manage& owner) : owner_(owner)
{
    writeLogMsg(INFO, "====fpga_drv::fpga_drv()=====");
}

int fpga_drv::initialize_vbyne1(unsigned char index)
{
    platform::Spi& spi = platform::spi();
    const int fd = spi.open(kNodes[index & 3]);
    if (traceOn())
        std::printf("\n fpga_drv SPI - Open Succeed. Start Init SPI...");
    uint8_t mode = 3;
    if (spi.setMode(fd, mode) < 0)
        std::perror("can't set spi mode\n");
    if (spi.getMode(fd, mode) < 0 && traceOn())
        std::printf("can't get spi mode");
    uint8_t bits = 8;
    if (spi.setBitsPerWord(fd, bits) < 0 && traceOn())
        std::printf("can't set bits per word");
    if (spi.getBitsPerWord(fd, bits) < 0 && traceOn())
        std::printf("can't get bits per word");
    uint32_t speed = kSpiSpeedHz;
    if (spi.setMaxSpeed(fd, speed) < 0 && traceOn())
        std::printf("can't set max speed hz");
    if (spi.getMaxSpeed(fd, speed) < 0 && traceOn())
        std::printf("can't get max speed hz");
    return fd;
}

int fpga_drv::SPI_Transfer(int fd, const unsigned char* tx, unsigned char* rx, unsigned int length)
{
    platform::SpiTransfer t;
    t.tx = tx;
    t.rx = rx;
    t.len = length;
    t.speedHz = kSpiSpeedHz;
    t.bitsPerWord = 8;
    const int r = platform::spi().message(fd, &t, 1);
    if (r <= 0)
        std::perror("can't send spi message\n");
    return r;
}

int fpga_drv::SPI_Transfer_Write(int fd, const unsigned char* tx, unsigned int length)
{
    return SPI_Transfer(fd, tx, nullptr, length);
}

int fpga_drv::FPGA_SPI_WAIT_BUSY(int fd, unsigned char chip, uint64_t boundUs)
{
    bool failed = false;
    auto poll = [&] {
        const unsigned char tx[2] = {kReadStatus, 0xFF};
        unsigned char rx[2] = {0xFF, 0xFF};
        failed = SPI_Transfer(fd, tx, rx, 2) <= 0;
        return failed || (rx[1] & 0x01) == 0;
    };
    bool ready = poll();
    if (!ready) {
        // Busy: the bus is free between the polls, each made with it
        // taken and the flash selected again; the whole wait is bounded.
        owner_.flash_release(chip);
        Utils::_spi_mutex.unlock();
        ready = waitUntil(boundUs, kBusyPollUs, [&] {
            QMutexLocker bus(&Utils::_spi_mutex);
            owner_.flash_select(chip);
            const bool done = poll();
            owner_.flash_release(chip);
            return done;
        });
        Utils::_spi_mutex.lock();
        owner_.flash_select(chip);
    }
    if (ready && !failed)
        return 1;
    if (!failed)
        writeLogMsg(ERROR, "FPGA flash stays busy: operation abandoned");
    return 0;
}

int fpga_drv::flash_fd(unsigned char chip) const
{
    return owner_.spi_fd[chip == 2 ? 2 : 3];
}

bool fpga_drv::write_enable(int fd)
{
    const unsigned char cmd = kWriteEnable;
    return SPI_Transfer_Write(fd, &cmd, 1) > 0;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(unsigned char chip, uint32_t sector, unsigned char kind, uint32_t count)
{
    if (kind > 2)
        return 0;
    const uint32_t step = kEraseSectors[kind];
    if (static_cast<uint64_t>(sector) + static_cast<uint64_t>(count) * step > kSectorCount)
        return 0;
    const int fd = flash_fd(chip);
    QMutexLocker flash(&flash_mutex_);
    QMutexLocker lock(&Utils::_spi_mutex);
    owner_.flash_select(chip);
    bool ok = FPGA_SPI_WAIT_BUSY(fd, chip) == 1;
    uint32_t address = (sector & 0xFFFF) * 4096;
    for (uint32_t i = 0; ok && i < count; ++i) {
        unsigned char cmd[4] = {kEraseOpcode[kind], 0, 0, 0x00};
        cmd[1] = static_cast<unsigned char>(address >> 16);
        cmd[2] = static_cast<unsigned char>(address >> 8);
        ok = write_enable(fd) && FPGA_SPI_WAIT_BUSY(fd, chip) == 1 && SPI_Transfer_Write(fd, cmd, 4) > 0 &&
             FPGA_SPI_WAIT_BUSY(fd, chip, kEraseBusyUs[kind]) == 1;
        address += step * 4096;
    }
    owner_.flash_release(chip);
    return ok ? 1 : 0;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(unsigned char chip, uint32_t address, unsigned char* buffer,
                                           uint32_t length)
{
    if (!buffer || !inFlash(address, length))
        return 0;
    const int fd = flash_fd(chip);
    QMutexLocker flash(&flash_mutex_);
    QMutexLocker lock(&Utils::_spi_mutex);
    owner_.flash_select(chip);
    bool ok = true;
    uint32_t done = 0;
    // The first piece runs to the end of its page, then whole pages, then
    // the tail; each piece's header goes into the 4 bytes before its data.
    while (ok && done < length) {
        const uint32_t a = address + done;
        const uint32_t room = kPageSize - (a % kPageSize);
        const uint32_t n = (length - done < room) ? length - done : room;
        unsigned char* piece = buffer + done;
        piece[0] = kPageProgram;
        address3(piece + 1, a);
        ok = write_enable(fd) && SPI_Transfer_Write(fd, piece, n + 4) > 0 &&
             FPGA_SPI_WAIT_BUSY(fd, chip, kProgramBusyUs) == 1;
        done += n;
    }
    owner_.flash_release(chip);
    return ok ? 1 : 0;
}

int fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(unsigned char chip, uint32_t address, uint32_t length, unsigned char* dest)
{
    if (!dest || !inFlash(address, length))
        return 0;
    const int fd = flash_fd(chip);
    std::vector<unsigned char> tx(kReadChunk + 5, 0xFF);
    std::vector<unsigned char> rx(kReadChunk + 5, 0xFF);
    QMutexLocker flash(&flash_mutex_);
    QMutexLocker lock(&Utils::_spi_mutex);
    owner_.flash_select(chip);
    bool ok = true;
    for (uint32_t done = 0; ok && done < length;) {
        const uint32_t n = (length - done < kReadChunk) ? length - done : kReadChunk;
        tx[0] = kFastRead;
        address3(&tx[1], address + done);
        tx[4] = 0xFF;   // the dummy byte
        ok = SPI_Transfer(fd, tx.data(), rx.data(), n + 5) > 0;
        if (ok)
            std::copy(rx.begin() + 5, rx.begin() + 5 + n, dest + done);
        done += n;
    }
    owner_.flash_release(chip);
    return ok ? 1 : 0;
}

int fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(unsigned char chip, unsigned char* dest)
{
    if (!dest)
        return 0;
    const int fd = flash_fd(chip);
    unsigned char tx[13] = {kReadUid, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    unsigned char rx[13];
    QMutexLocker flash(&flash_mutex_);
    QMutexLocker lock(&Utils::_spi_mutex);
    owner_.flash_select(chip);
    const bool ok = SPI_Transfer(fd, tx, rx, 13) > 0;
    owner_.flash_release(chip);
    if (ok)
        std::copy(rx + 5, rx + 13, dest);
    return ok ? 1 : 0;
}
