// The lowest layer of the sending card: the raw SPI transfers of the four
// FPGA spidev nodes and the SPI-NOR operations on the flash behind each FPGA
// (flash chip 2 behind FPGA 0, flash chip 3 behind FPGA 1). The descriptors
// and the GPIO lines that select a flash belong to fpga_manage.
#pragma once

#include <QMutex>
#include <cstdint>

class fpga_manage;

class fpga_drv {
public:
    static constexpr uint32_t kFlashSize = 0x800000;   // 2048 sectors of 4 KiB
    static constexpr uint32_t kSectorCount = 2048;
    static constexpr uint32_t kPageSize = 256;
    static constexpr uint32_t kReadChunk = 2048;
    static constexpr uint32_t kSpiSpeedHz = 10000000;
    // Bounds in time of the flash's busy waits (board microseconds): the
    // worst case that the data sheets of common 64 Mbit SPI-NOR parts allow,
    // with a margin. A page program takes at most 5 ms; an erase at most
    // 800 ms (4 KiB), 1.6 s (32 KiB) or 3 s (64 KiB). A bound below what
    // its data sheet allows a part would fail an upgrade mid-way, after its
    // erase.
    // Before an operation the flash may still finish the longest of them.
    static constexpr uint64_t kProgramBusyUs = 10000;
    static constexpr uint64_t kEraseBusyUs[3] = {1000000, 2000000, 4000000};
    static constexpr uint64_t kAnyBusyUs = 4000000;

    explicit fpga_drv(fpga_manage& owner);

    // Opens and configures spidev node index (0..3: FPGA 0, FPGA 1, flash 2,
    // flash 3) for mode 3, 8 bits, 10 MHz; the descriptor as open gave it.
    int initialize_vbyne1(unsigned char index);

    // One spidev message of one transfer; the byte count moved, or 0 / -1
    // after printing "can't send spi message" through perror.
    int SPI_Transfer(int fd, const unsigned char* tx, unsigned char* rx, unsigned int length);
    int SPI_Transfer_Write(int fd, const unsigned char* tx, unsigned int length);

    // Polls the flash status until the busy bit clears: 1 ready, 0 when a
    // poll fails or the flash stays busy beyond boundUs. Called with the
    // SPI bus held and the flash of chip selected, as it returns; a flash
    // still busy after the first poll gives the bus back (and the select
    // lines) between its polls, every kBusyPollUs: the video chip's and the
    // FPGAs' transfers go on while it erases or programs, and only the
    // flash's own users wait (flash_mutex).
    int FPGA_SPI_WAIT_BUSY(int fd, unsigned char chip, uint64_t boundUs = kAnyBusyUs);
    static constexpr uint64_t kBusyPollUs = 1000;

    // Flash operations: 1 done, 0 refused (bounds, kind) or failed (a
    // transfer failed, the flash stayed busy). chip 2 is the flash behind
    // FPGA 0, any other value the one behind FPGA 1. Each holds the
    // flashes' own lock (flash_mutex, then _spi_mutex) over its whole
    // operation: no other flash operation comes between its steps.
    // kind 0, 1, 2 erase 4 KiB, 32 KiB, 64 KiB units, count units from
    // 4 KiB sector number sector.
    int FPGA_SPI_FLASH_VBYONE_ERASE(unsigned char chip, uint32_t sector, unsigned char kind, uint32_t count);
    // buffer holds 4 bytes of room, then the length data bytes; the room
    // ahead of each page piece is overwritten with its program header.
    int FPGA_SPI_FLASH_VBYONE_WRITE(unsigned char chip, uint32_t address, unsigned char* buffer, uint32_t length);
    int FPGA_SPI_FLASH_VBYONE_READ(unsigned char chip, uint32_t address, uint32_t length, unsigned char* dest);
    // The flash's 8-byte unique id into dest; 1 done, 0 failed (dest kept).
    int FPGA_SPI_FLASH_SSTF016B_RD_UID(unsigned char chip, unsigned char* dest);

private:
    int flash_fd(unsigned char chip) const;
    bool write_enable(int fd);

    fpga_manage& owner_;
    // One flash operation at a time; taken before _spi_mutex, held across
    // the flash's busy waits (the bus is not).
    QMutex flash_mutex_;
};
