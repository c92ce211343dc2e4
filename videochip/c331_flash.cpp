// The chip's serial flash: program, read and erase through the chip's
// flash controller (bank 4), and the controller's DMA from flash into chip
// memory, glyph-string memory and the colour table.
#include "videochip/c331_manage.h"

#include "core/logMsg.h"
#include "core/wait_bound.h"
#include "videochip/c331_drv.h"

#include <cstdarg>
#include <cstdio>

std::mutex c331_manage::sfl_mutex;
std::atomic<unsigned> c331_manage::sfl_timeouts[SFL_WAIT_COUNT];

namespace {

// Flash controller registers (bank 4).
constexpr unsigned kEngine = 0x040801;
constexpr unsigned kMemDest = 0x041104;
constexpr unsigned kGlyphDest = 0x042702;
constexpr unsigned kCtl = 0x044701;
constexpr unsigned kTrigger = 0x044801;
constexpr unsigned kProgramCmd = 0x044901;
constexpr unsigned kReadCmd = 0x044A01;
constexpr unsigned kEraseCmd = 0x044B01;
constexpr unsigned kWrenCmd = 0x044C01;
constexpr unsigned kRdsrCmd = 0x044D01;
constexpr unsigned kAddress = 0x044E04;
constexpr unsigned kData = 0x045201;
constexpr unsigned kDtctl = 0x045301;     // B4_SFLDTCTL
constexpr unsigned kStat = 0x045401;      // B4_SFLSTAT
constexpr unsigned kRdsr = 0x045501;      // B4_SFLRDSR
constexpr unsigned kDmaLength = 0x045604;
constexpr unsigned kDmaTarget = 0x045A01;
constexpr unsigned kAccessMode = 0x045F01;
constexpr unsigned kClear60 = 0x046001;
constexpr unsigned kColourDest = 0x091F01;
// GIO set-up (bank 5).
constexpr unsigned kGio42 = 0x054203;
constexpr unsigned kGio3C = 0x053C02;
constexpr unsigned kGio3E = 0x053E02;
constexpr unsigned kGio45 = 0x054502;

constexpr unsigned kDtctlReadBusy = 0x80;
constexpr unsigned kDtctlWempty = 0x20;
constexpr unsigned kStatDma = 0x01;
constexpr unsigned kStatWbusy = 0x02;
constexpr unsigned kStatEbusy = 0x08;
constexpr unsigned kRdsrWip = 0x01;
constexpr unsigned kRdsrWel = 0x02;

// Bounds in time of the flash waits (board microseconds), from the flash's
// worst case with a margin: a page program takes at most 3 ms; an erase at
// most 400 ms for 4 KiB, 1 s for 32 KiB and 2 s for 64 KiB. The controller's
// own steps (write buffer, read start, write disable) take microseconds.
constexpr uint64_t kProgramBoundUs = 10000;
constexpr uint64_t kControllerBoundUs = 10000;
uint64_t eraseBoundUs(unsigned unit)
{
    return unit <= 0x1000u ? 400000 : unit <= 0x8000u ? 1000000 : 2000000;
}
// A DMA reads the flash at a few MB/s at least: 1 us per byte (the
// largest font, 10.75 MB, within 11 s) and 100 ms besides.
uint64_t dmaBoundUs(int length)
{
    return 100000 + static_cast<uint64_t>(length > 0 ? length : 0);
}

const char* const kTimeoutText[c331_manage::SFL_WAIT_COUNT] = {
    "B4_SFLDTCTL WEMPTY Timeout Error!!. Please check the circumestance of Serial Flash.",
    "B4_SFLSTAT WBUSY Timeout Error!!. Please check the circumestance of Serial Flash.",
    "B4_SFLRDSR WIP Timeout Error!!. Please check the circumestance of Serial Flash.",
    "B4_SFLRDSR WRDI Timeout Error!!. Please check the circumestance of Serial Flash.",
    "B4_SFLSTAT EBUSY Timeout Error!!. Please check the circumestance of Serial Flash.",
    "B4_SFLDTCTL read start Timeout Error!!. Please check the circumestance of Serial Flash.",
    "B4_SFLSTAT DMA Timeout Error!!. Please check the circumestance of Serial Flash.",
};

// Flash tracing: the chip code's trace switch 6.
void sflTrace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void sflTrace(const char* fmt, ...)
{
    if (!(c331_manage::prnEn[6] & 0x80))
        return;
    std::printf("\033[1;34m");
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::printf("\033[0m\n");
}

// A wait that reached its bound: traced every time, logged once per kind.
void timedOut(c331_manage::SflWait kind)
{
    sflTrace("%s", kTimeoutText[kind]);
    if (c331_manage::sfl_timeouts[kind].fetch_add(1) == 0)
        writeLogMsg(ERROR, std::string("c331 serial flash: ") + kTimeoutText[kind]);
}

// Reads a status register back to back while (value & bit) is set (or,
// with untilSet, until it is set), for at most boundUs. True when the wait
// ended in time; the last value read in last.
bool pollBit(c331_drv* drv, int fd, unsigned desc, unsigned bit, bool untilSet, uint64_t boundUs, unsigned& last)
{
    unsigned polls = 0;
    return waitUntil(boundUs, 0, [&] {
        last = drv->read_C331(fd, desc, 0);
        if (((last & bit) != 0) == untilSet)
            return true;
        if (desc == kStat && bit == kStatEbusy && ++polls % 40 == 0)
            sflTrace("B4_SFLSTAT = %02x.Wait Please.\n", last);
        return false;
    });
}

} // namespace

namespace {

void gioSetup(c331_drv* drv, int fd, bool forDma)
{
    drv->write_C331(fd, kGio42, 0x55, 0);
    if (forDma)
        drv->write_C331(fd, kGio45, 0x3FF, 0);
    drv->write_C331(fd, kGio3C, 0x300, 0);
    drv->write_C331(fd, kGio3E, 0x300, 0);
    if (!forDma) {
        drv->write_C331(fd, kGio45, 0x3FF, 0);
        sflTrace("GIO setting OK.");
    }
}

// Clears a write-enable latch left set: write disable, then wait for WEL
// to drop. False when it did not.
bool clearWel(c331_drv* drv, int fd)
{
    sflTrace("B4_SFLRDSR WEL is 1, and have to clear WEL bit.");
    drv->write_C331(fd, kEraseCmd, 0x04, 0);
    drv->write_C331(fd, kTrigger, 5, 0);
    sflTrace("Serial Flash WRDI command process start.");
    unsigned last = 0;
    const bool ok = pollBit(drv, fd, kRdsr, kRdsrWel, false, kControllerBoundUs, last);
    if (ok)
        sflTrace("B4_SFLRDSR WRDI finish");
    else
        timedOut(c331_manage::SFL_WRDI);
    drv->write_C331(fd, kTrigger, 0, 0);
    return ok;
}

// The wait after a committed page. False when a wait reached its bound.
bool programWait(c331_drv* drv, int fd)
{
    bool ok = true;
    unsigned last = 0;
    if (!pollBit(drv, fd, kDtctl, kDtctlWempty, true, kControllerBoundUs, last)) {
        timedOut(c331_manage::SFL_WEMPTY);
        ok = false;
    }
    if (!pollBit(drv, fd, kStat, kStatWbusy, false, kProgramBoundUs, last)) {
        timedOut(c331_manage::SFL_WBUSY);
        ok = false;
    }
    if (!pollBit(drv, fd, kRdsr, kRdsrWip, false, kProgramBoundUs, last)) {
        timedOut(c331_manage::SFL_WIP);
        ok = false;
    }
    if (last & kRdsrWel)
        ok = clearWel(drv, fd) && ok;
    return ok;
}

} // namespace

int c331_manage::write_flash(int fd, int address, int length, char* data)
{
    std::lock_guard<std::mutex> hold(sfl_mutex);
    const unsigned a = static_cast<unsigned>(address);
    const unsigned n = length > 0 && data ? static_cast<unsigned>(length) : 0;
    gioSetup(drv, fd, false);
    drv->write_C331(fd, kCtl, 0x80, 0);
    drv->write_C331(fd, kTrigger, 0, 0);
    drv->write_C331(fd, kCtl, 0x31, 0);
    drv->write_C331(fd, kWrenCmd, 0x06, 0);
    drv->write_C331(fd, kRdsrCmd, 0x05, 0);
    drv->write_C331(fd, kProgramCmd, 0x12, 0);
    drv->write_C331(fd, kAccessMode, 1, 0);
    drv->write_C331(fd, kTrigger, 0, 0);
    drv->write_C331(fd, kClear60, 0, 0);
    drv->write_C331(fd, kAddress, a, 0);
    drv->write_C331(fd, kAddress, a, 0);
    bool ok = true;
    for (unsigned i = 0; i < n; ++i) {
        drv->write_C331(fd, kData, static_cast<unsigned char>(data[i]), 0);
        if ((a + i + 1) % 256 == 0) {
            drv->write_C331(fd, kAddress, a + i + 1, 0);
            ok = programWait(drv, fd) && ok;
        }
        if ((i + 1) % 8192 == 0)
            sflTrace("#### %8u byte of %8u byte write finish. ###\n", i + 1, n);
    }
    if ((a + n) % 256 != 0) {
        drv->write_C331(fd, kAddress, a + n, 0);
        ok = programWait(drv, fd) && ok;
    }
    return ok ? 0 : -1;
}

int c331_manage::read_flash(int fd, int address, int length, char* data)
{
    std::lock_guard<std::mutex> hold(sfl_mutex);
    const unsigned a = static_cast<unsigned>(address);
    const unsigned n = length > 0 && data ? static_cast<unsigned>(length) : 0;
    gioSetup(drv, fd, false);
    drv->write_C331(fd, kTrigger, 0, 0);
    drv->write_C331(fd, kCtl, 0x80, 0);
    drv->write_C331(fd, kCtl, 0x31, 0);
    drv->write_C331(fd, kReadCmd, 0x0C, 0);
    drv->write_C331(fd, kAccessMode, 1, 0);
    drv->write_C331(fd, kTrigger, 0, 0);
    drv->write_C331(fd, kClear60, 0, 0);
    drv->write_C331(fd, kAddress, a, 0);
    drv->write_C331(fd, kDtctl, 1, 0);
    unsigned last = 0;
    const bool ok = pollBit(drv, fd, kDtctl, kDtctlReadBusy, false, kControllerBoundUs, last);
    if (!ok)
        timedOut(SFL_READ);
    drv->write_C331(fd, kDtctl, 0, 0);
    for (unsigned i = 0; i < n; ++i) {
        data[i] = static_cast<char>(drv->read_C331(fd, kData, 0));
        if ((i + 1) % 1024 == 0)
            sflTrace("#### %8u byte of %8u byte read finish. ###\n", i + 1, n);
    }
    sflTrace("#### %8u byte of %8u byte read finish. ###\n", n, n);
    drv->write_C331(fd, kAddress, a, 0);
    return ok ? 0 : -1;
}

int c331_manage::erase_flash(int fd, int sector, int count, char type)
{
    std::lock_guard<std::mutex> hold(sfl_mutex);
    gioSetup(drv, fd, false);
    drv->write_C331(fd, kTrigger, 0, 0);
    drv->write_C331(fd, kCtl, 0x80, 0);
    drv->write_C331(fd, kCtl, 0x01, 0);
    drv->write_C331(fd, kWrenCmd, 0x06, 0);
    drv->write_C331(fd, kRdsrCmd, 0x05, 0);
    drv->write_C331(fd, kAccessMode, 1, 0);
    const unsigned unit = type == 0 ? 0x1000u : type == 1 ? 0x8000u : 0x10000u;
    const unsigned command = type == 0 ? 0x20u : type == 1 ? 0x52u : 0xD8u;
    bool ok = true;
    for (int i = 0; i < count; ++i) {
        const unsigned address = static_cast<unsigned>(sector) * 0x1000u + static_cast<unsigned>(i) * unit;
        drv->write_C331(fd, kEraseCmd, command, 0);
        drv->write_C331(fd, kAddress, address, 0);
        drv->write_C331(fd, kTrigger, 4, 0);
        unsigned last = 0;
        if (pollBit(drv, fd, kStat, kStatEbusy, false, eraseBoundUs(unit), last)) {
            sflTrace("B4_SFLSTAT EBUSY finish");
        } else {
            timedOut(SFL_EBUSY);
            ok = false;
        }
        if (pollBit(drv, fd, kRdsr, kRdsrWip, false, eraseBoundUs(unit), last)) {
            sflTrace("B4_SFLRDSR WIP finish");
        } else {
            timedOut(SFL_WIP);
            ok = false;
        }
        if (last & kRdsrWel)
            ok = clearWel(drv, fd) && ok;
        drv->write_C331(fd, kTrigger, 0, 0);
    }
    return ok ? 0 : -1;
}

int c331_manage::osd_write_dma_sfl(int fd, int source, int dest, int target, int length)
{
    std::lock_guard<std::mutex> hold(sfl_mutex);
    gioSetup(drv, fd, true);
    drv->write_C331(fd, kEngine, 0, 0);
    drv->write_C331(fd, kTrigger, 0, 0);
    drv->write_C331(fd, kCtl, 0x80, 0);
    drv->write_C331(fd, kCtl, target == 1 ? 0x37 : 0x33, 0);
    drv->write_C331(fd, kAccessMode, 2, 0);
    drv->write_C331(fd, kProgramCmd, 0x12, 0);
    drv->write_C331(fd, kReadCmd, 0x0C, 0);
    drv->write_C331(fd, kEraseCmd, 0xC7, 0);
    drv->write_C331(fd, kWrenCmd, 0x06, 0);
    drv->write_C331(fd, kRdsrCmd, 0x05, 0);
    drv->write_C331(fd, kAddress, static_cast<unsigned>(source), 0);
    drv->write_C331(fd, kDmaLength, static_cast<unsigned>(length) | 0x80000000u, 0);
    drv->write_C331(fd, kDmaTarget, static_cast<unsigned>(target) & 15, 0);
    if (target == 0)
        drv->write_C331(fd, kMemDest, static_cast<unsigned>(dest), 0);
    else if (target == 1)
        drv->write_C331(fd, kGlyphDest, static_cast<unsigned>(dest) & 0xFFFF, 0);
    else if (target == 4)
        drv->write_C331(fd, kColourDest, static_cast<unsigned>(dest) & 0xFF, 0);
    drv->write_C331(fd, kTrigger, 2, 0);
    unsigned last = 0;
    const bool ok = pollBit(drv, fd, kStat, kStatDma, false, dmaBoundUs(length), last);
    if (!ok)
        timedOut(SFL_DMA);
    drv->write_C331(fd, kTrigger, 0, 0);
    return ok ? 0 : -1;
}
