#include "videochip/c331_drv.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "sendcard/fpga_manage.h"

#include <QMutexLocker>
#include <cstdio>

c331_drv::c331_drv()
    : bank_(-1)
{
    writeLogMsg(INFO, "====c331_drv::c331_drv()=====");
}

int c331_drv::initialize()
{
    platform::Spi& spi = platform::spi();
    const int fd = spi.open(kNode);
    if (fd < 0) {
        writeLogMsg(ERROR, std::string("c331: cannot open ") + kNode);
        return fd;
    }
    uint8_t mode = 3;
    if (spi.setMode(fd, mode) < 0)
        spi.getMode(fd, mode);
    spi.setBitsPerWord(fd, 8);
    uint32_t speed = kWriteHz;
    uint32_t readBack = 0;
    spi.setMaxSpeed(fd, speed);
    spi.getMaxSpeed(fd, readBack);
    return fd;
}

void c331_drv::init_reg_acc_param()
{
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    bank_ = -1;
}

int c331_drv::message(int fd, const unsigned char* tx, unsigned char* rx, int len, unsigned hz)
{
    platform::SpiTransfer t;
    t.tx = tx;
    t.rx = rx;
    t.len = static_cast<uint32_t>(len > 0 ? len : 0);
    t.speedHz = hz;
    t.bitsPerWord = 8;
    t.delayUsecs = 0;
    int ret;
    {
        QMutexLocker lock(&Utils::_spi_mutex);
        // The bus reaches the chip only while neither FPGA is selected.
        if (fpga_manage::p_fpga_manage)
            fpga_manage::p_fpga_manage->release_select_lines();
        ret = platform::spi().message(fd, &t, 1);
    }
    if (ret <= 0)
        std::perror("can't send spi message\n");
    return ret;
}

int c331_drv::SPI_Transfer_Write(int fd, const unsigned char* tx, int len)
{
    return message(fd, tx, nullptr, len, kWriteHz);
}

int c331_drv::SPI_Transfer(int fd, const unsigned char* tx, unsigned char* rx, int len)
{
    return message(fd, tx, rx, len, kReadHz);
}

void c331_drv::select_bank(int fd, int bank)
{
    if (bank == bank_)
        return;
    bank_ = bank;
    const unsigned char frame[2] = {0x80, static_cast<unsigned char>(bank & 0xFF)};
    SPI_Transfer_Write(fd, frame, 2);
}

void c331_drv::write_C331(int fd, unsigned desc, unsigned value, unsigned bank_offset)
{
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    select_bank(fd, static_cast<int>(c331Bank(desc) + bank_offset));
    const unsigned addr = c331Addr(desc);
    const unsigned count = c331Count(desc);
    for (unsigned i = 0; i < count; ++i) {
        const unsigned char frame[2] = {static_cast<unsigned char>(0x80 | ((addr + i) & 0xFF)),
                                        static_cast<unsigned char>(value & 0xFF)};
        SPI_Transfer_Write(fd, frame, 2);
        // Address 0 of every bank is the chip's bank register: the chip has
        // now selected the bank just written, and the cache must say so.
        if (((addr + i) & 0x7F) == 0)
            bank_ = frame[1];
        value >>= 8;
    }
}

unsigned c331_drv::read_C331(int fd, unsigned desc, unsigned bank_offset)
{
    QMutexLocker lock(&Utils::_c331_bnk_mutex);
    select_bank(fd, static_cast<int>(c331Bank(desc) + bank_offset));
    const unsigned addr = c331Addr(desc);
    const unsigned count = c331Count(desc);
    unsigned result = 0;
    for (unsigned i = 0; i < count; ++i) {
        const unsigned char tx[2] = {static_cast<unsigned char>((addr + i) & 0x7F), 0xFF};
        // A failed transfer leaves the idle bus level in the answer.
        unsigned char rx[2] = {0xFF, 0xFF};
        SPI_Transfer(fd, tx, rx, 2);
        if (i < 4)
            result |= static_cast<unsigned>(rx[1]) << (8 * i);
    }
    return result;
}

void c331_drv::write_c331_mask(int fd, unsigned desc, unsigned value, unsigned mask, unsigned bank_offset)
{
    const unsigned old = read_C331(fd, desc, bank_offset);
    write_C331(fd, desc, old ^ ((value ^ old) & mask), bank_offset);
}
