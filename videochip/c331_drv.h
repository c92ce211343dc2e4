// Register access of the c331 video-processing chip over its SPI node. The
// only path to the chip's registers: a bank-select frame, then one two-byte
// frame per register byte. The chip shares the SPI bus with the two
// sending-card FPGAs; every message first drives both FPGA select lines high.
#pragma once

#include "videochip/c331_types.h"
#include "platform/nodes.h"

class c331_drv {
public:
    static constexpr const char* kNode = platform::nodes::kC331Spi;
    static constexpr unsigned kWriteHz = 10000000;
    static constexpr unsigned kReadHz = 5000000;

    c331_drv();

    // Opens the chip's node (mode 3, 8 bits, 10 MHz); the descriptor from
    // open, -1 when the node cannot be opened.
    int initialize();
    // The next access sends a bank select again.
    void init_reg_acc_param();

    int SPI_Transfer_Write(int fd, const unsigned char* tx, int len);
    int SPI_Transfer(int fd, const unsigned char* tx, unsigned char* rx, int len);

    void write_C331(int fd, unsigned desc, unsigned value, unsigned bank_offset);
    unsigned read_C331(int fd, unsigned desc, unsigned bank_offset);
    // Replaces the bits of mask with the same bits of value (read, then
    // write: not atomic against another thread's access to the register).
    void write_c331_mask(int fd, unsigned desc, unsigned value, unsigned mask, unsigned bank_offset);

    int cachedBank() const { return bank_; }

private:
    // Sends a bank select when the bank differs from the cached one; called
    // with Utils::_c331_bnk_mutex held.
    void select_bank(int fd, int bank);
    int message(int fd, const unsigned char* tx, unsigned char* rx, int len, unsigned hz);

    int bank_;
};
