// Image-processing blocks of input channels 0 to 3: interlace-to-progressive
// (motion filter, diagonal interpolation, cadence detection, comb filter),
// the four noise reducers, the channels' memory control and write mode, and
// the scaler's shrink coefficient sets.
#include "videochip/c331_manage.h"

#include "videochip/c331_drv.h"

#include <initializer_list>

using namespace c331;

namespace {

bool validPort(int p) { return p >= 0 && p < kPortCount; }

// A level of a CMOS input; an index beyond the four CMOS inputs (a V-by-One
// port) has no levels.
int level(const int (&a)[4], int c) { return c >= 0 && c < 4 ? a[c] : 0; }

// Writes one-byte registers from first on in a channel's bank.
void writeRun(c331_drv* drv, int fd, C331RegDesc first, std::initializer_list<unsigned> values, unsigned off)
{
    unsigned i = 0;
    for (unsigned v : values)
        drv->write_C331(fd, first + 0x100 * i++, v, off);
}

constexpr C331RegDesc kMct = 0x000801;        // + 0x100 x channel
constexpr C331RegDesc kIscwct = 0x007101;     // + 0x100 x channel
constexpr C331RegDesc kIsyct = 0x100901;      // channel bank
constexpr C331RegDesc kNrEnable = 0x150801;   // channel bank

// 4-tap vertical shrink sets (entries 8 to 23 of each row; 0 to 7 are 0).
const unsigned char kLut4[10][16] = {
    {15, 15, 15, 15, 15, 15, 16, 21, 16, 16, 16, 17, 18, 18, 17, 22},
    {13, 14, 14, 14, 15, 15, 16, 20, 16, 16, 16, 18, 19, 19, 19, 24},
    {10, 11, 12, 13, 14, 15, 16, 20, 17, 17, 18, 19, 20, 21, 21, 24},
    {6, 8, 9, 11, 12, 14, 15, 19, 18, 19, 20, 21, 23, 23, 25, 26},
    {1, 3, 5, 8, 10, 12, 15, 17, 19, 21, 22, 24, 27, 28, 29, 30},
    {253, 255, 0, 3, 6, 10, 13, 16, 20, 23, 26, 29, 32, 32, 34, 32},
    {248, 249, 252, 255, 1, 5, 10, 13, 20, 25, 29, 33, 38, 41, 42, 38},
    {246, 245, 246, 248, 252, 0, 5, 10, 18, 26, 33, 40, 45, 49, 51, 44},
    {247, 244, 242, 243, 245, 250, 0, 5, 15, 25, 35, 45, 54, 57, 58, 54},
    {252, 247, 243, 241, 241, 244, 249, 0, 9, 21, 35, 47, 57, 64, 66, 64},
};

// Block-reduction format sets: NR enable, 0x154D, 0x154F, 0x1554, 0x1556, 0x156A.
struct BlockFormat {
    unsigned enable, r4d, r4f, r54, r56, r6a;
};
const BlockFormat kFmt480i{0, 64, 16, 64, 16, 8};
const BlockFormat kFmt480p{3, 64, 16, 128, 32, 6};
const BlockFormat kFmt720p{3, 171, 43, 342, 86, 16};
const BlockFormat kFmt1080i{0, 384, 96, 384, 96, 48};
const BlockFormat kFmt1080p{3, 384, 96, 768, 192, 36};

} // namespace

// One block-reduction format set at the port's level.
static void blockSet(c331_drv* drv, int fd, int ich, int lvl, const BlockFormat& f)
{
    if (lvl < 1 || lvl > 3)
        return;
    const unsigned off = chOffset(ich);
    const int i = lvl - 1;
    static const unsigned k39[3] = {8855, 8855, 3223}, k3b[3] = {144, 160, 176}, k40[3] = {32, 16, 16},
                          k41[3] = {132, 66, 66}, k42[3] = {65, 51, 51}, k43[3] = {6, 4, 4}, k44[3] = {16, 16, 6};
    drv->write_C331(fd, kNrEnable, f.enable, off);
    drv->write_C331(fd, 0x153902, k39[i], off);
    drv->write_C331(fd, 0x153B01, k3b[i], off);
    writeRun(drv, fd, 0x153C01, {64, 80, 96, 128}, off);
    writeRun(drv, fd, 0x154001, {k40[i], k41[i], k42[i], k43[i], k44[i], 64, 0, 0, 6, 4, 64, 18, 16}, off);
    drv->write_C331(fd, 0x154D02, f.r4d, off);
    drv->write_C331(fd, 0x154F02, f.r4f, off);
    writeRun(drv, fd, 0x155101, {64, 18, 16}, off);
    drv->write_C331(fd, 0x155402, f.r54, off);
    drv->write_C331(fd, 0x155602, f.r56, off);
    writeRun(drv, fd, 0x155801, {0, 0, 0, 0}, off);
    for (C331RegDesc r : {0x155C02u, 0x155E02u, 0x156002u, 0x156202u})
        drv->write_C331(fd, r, 0, off);
    writeRun(drv, fd, 0x156401, {18, 0, 0}, off);
    drv->write_C331(fd, 0x156702, 0, off);
    drv->write_C331(fd, 0x156901, 8, off);
    drv->write_C331(fd, 0x156A01, f.r6a, off);
}

void c331_manage::set_nr_b_480i(int fd, int ich, int c) { blockSet(drv, fd, ich, level(PM_BNR, c), kFmt480i); }
void c331_manage::set_nr_b_480p(int fd, int ich, int c) { blockSet(drv, fd, ich, level(PM_BNR, c), kFmt480p); }
void c331_manage::set_nr_b_720p(int fd, int ich, int c) { blockSet(drv, fd, ich, level(PM_BNR, c), kFmt720p); }
void c331_manage::set_nr_b_1080i(int fd, int ich, int c) { blockSet(drv, fd, ich, level(PM_BNR, c), kFmt1080i); }
void c331_manage::set_nr_b_1080p(int fd, int ich, int c) { blockSet(drv, fd, ich, level(PM_BNR, c), kFmt1080p); }

void c331_manage::set_nr_block(int fd, int ich, int c)
{
    if (ich < 0 || ich > 3 || !validPort(c))
        return;
    if (!level(PM_BNR, c)) {
        drv->write_C331(fd, 0x153902, 0, chOffset(ich));
        return;
    }
    switch (PI_ACT[c].vw) {
    case 240: set_nr_b_480i(fd, ich, c); break;
    case 480: set_nr_b_480p(fd, ich, c); break;
    case 540: set_nr_b_1080i(fd, ich, c); break;
    case 720: set_nr_b_720p(fd, ich, c); break;
    case 1080: set_nr_b_1080p(fd, ich, c); break;
    default: break;
    }
}

void c331_manage::set_nr_tpx(int fd, int ich, int c)
{
    if (ich < 0 || ich > 3)
        return;
    const unsigned off = chOffset(ich);
    const int l = level(PM_TNR, c);
    if (l < 1 || l > 3) {
        drv->write_C331(fd, 0x120801, 0, off);
        return;
    }
    static const unsigned k[3][8] = {
        {18, 20, 24, 27, 28, 29, 30, 31}, {17, 18, 20, 22, 24, 26, 28, 31}, {0, 8, 12, 16, 20, 24, 28, 31}};
    writeRun(drv, fd, 0x120801, {3, 49, 117, 185, 253}, off);
    for (unsigned i = 0; i < 8; ++i)
        drv->write_C331(fd, 0x120D01 + 0x100 * i, k[l - 1][i], off);
}

void c331_manage::set_nr_hvpx(int fd, int ich, int c)
{
    if (ich < 0 || ich > 3)
        return;
    const unsigned off = chOffset(ich);
    const int h = level(PM_HNR, c), v = level(PM_VNR, c);
    auto pair = [](int l, int k) -> unsigned {
        static const unsigned t[3][2] = {{0x42, 0x96}, {0x75, 0xC9}, {0xA8, 0xFC}};
        return l >= 1 && l <= 3 ? t[l - 1][k] : 0;
    };
    drv->write_C331(fd, 0x156B01, (v ? 0x10u : 0u) + (h ? 1u : 0u), off);
    writeRun(drv, fd, 0x156C01, {pair(v, 0), pair(v, 1), pair(h, 0), pair(h, 1)}, off);
}

void c331_manage::set_nr_mosq(int fd, int ich, int c)
{
    if (ich < 0 || ich > 3)
        return;
    const unsigned off = chOffset(ich);
    const int l = level(PM_MNR, c);
    if (l < 1 || l > 3) {
        drv->write_C331(fd, 0x150901, 0, off);
        return;
    }
    const int i = l - 1;
    static const unsigned a[3] = {63, 127, 127}, d[3] = {32, 63, 255}, e[3] = {213, 217, 217}, f[3] = {127, 255, 111},
                          g[3] = {24, 24, 0}, h[3] = {36, 0, 0}, j[3] = {64, 64, 0}, k[3] = {81, 0, 0};
    writeRun(drv, fd, 0x150901, {1, 128, 56, 8, 128, 56, 8}, off);
    writeRun(drv, fd, 0x151001, {a[i], a[i], 127, 127, 127, 127, a[i], a[i], 127, 127, 127, 127, 252, d[i], e[i],
                                 f[i], g[i], h[i], 0, 0, 0, 0, 0, j[i], k[i], 0, 0, 0, 0, 0},
             off);
}

void c331_manage::set_nr(int fd, int ich, int c)
{
    if (ich < 0 || ich > 3 || !validPort(c))
        return;
    const unsigned off = chOffset(ich);
    if (PI_PORT_INFO[c].STATE > 3) {
        set_nr_block(fd, ich, c);
        set_nr_tpx(fd, ich, c);
        set_nr_hvpx(fd, ich, c);
        set_nr_mosq(fd, ich, c);
        unsigned en = 0;
        if (!PI_PORT_INFO[c].IP) {
            if (level(PM_BNR, c))
                en = 3;
            else if (level(PM_HNR, c) || level(PM_VNR, c) || level(PM_TNR, c) || level(PM_MNR, c))
                en = 1;
        }
        drv->write_C331(fd, kNrEnable, en, off);
        return;
    }
    for (C331RegDesc r : {0x153902u, 0x120801u, 0x156B01u, 0x150901u, kNrEnable})
        drv->write_C331(fd, r, 0, off);
}

void c331_manage::set_mvflt(int fd, int ich, int c)
{
    if (ich < 0 || ich > 3 || !validPort(c))
        return;
    const unsigned off = chOffset(ich);
    const int l = level(PM_MVFLT, c);
    // Registers 0x1A, 0x1E, 0x1B, 0x1F, 0x1C, 0x20, 0x1D, 0x21 in that order.
    static const unsigned kOrder[8] = {0x1A, 0x1E, 0x1B, 0x1F, 0x1C, 0x20, 0x1D, 0x21};
    static const unsigned k[4][8] = {{4, 4, 4, 4, 8, 8, 8, 8},
                                     {8, 8, 8, 8, 8, 8, 16, 16},
                                     {8, 8, 8, 8, 16, 16, 24, 24},
                                     {16, 16, 16, 16, 24, 24, 31, 31}};
    if (PI_PORT_INFO[c].STATE < 4 || l == 0) {
        drv->write_C331(fd, 0x141501, 0, off);
        for (unsigned a = 0x1A; a <= 0x21; ++a)
            drv->write_C331(fd, 0x140001 + 0x100 * a, 0, off);
        return;
    }
    drv->write_C331(fd, 0x141501, 31, off);
    if (l < 1 || l > 4)
        return;
    for (unsigned i = 0; i < 8; ++i)
        drv->write_C331(fd, 0x140001 + 0x100 * kOrder[i], k[l - 1][i], off);
}

void c331_manage::set_diag(int fd, int ich, int c)
{
    if (ich < 0 || ich > 3 || !validPort(c))
        return;
    const unsigned off = chOffset(ich);
    const int l = level(PM_DIAG, c);
    if (PI_PORT_INFO[c].STATE < 4 || l < 1 || l > 3) {
        for (unsigned a = 0x50; a <= 0x5F; ++a)
            drv->write_C331(fd, 0x140001 + 0x100 * a, 0, off);
        return;
    }
    const int i = l - 1;
    static const unsigned r50[3] = {9, 11, 11}, r51[3] = {255, 127, 127}, r53[3] = {0, 3, 19}, r54[3] = {4, 4, 9},
                          r56[3] = {3, 1, 3}, r57[3] = {8, 4, 8}, r5f[3] = {50, 50, 49};
    writeRun(drv, fd, 0x145001,
             {r50[i], r51[i], 119, r53[i], r54[i], 16, r56[i], r57[i], 10, 20, 4, 4, 2, 2, 16, r5f[i], 0, 0, 0, 0},
             off);
}

void c331_manage::set_comb(int fd, int ich, int c)
{
    if (ich < 0 || ich > 3 || !validPort(c))
        return;
    const unsigned off = chOffset(ich);
    const int l = level(PM_COMB, c);
    if (PI_PORT_INFO[c].STATE < 4 || l < 1 || l > 3) {
        drv->write_C331(fd, 0x143B01, 0, off);
        return;
    }
    static const unsigned k[3][2] = {{16, 128}, {20, 128}, {112, 160}};
    writeRun(drv, fd, 0x143B01, {1, k[l - 1][0], k[l - 1][1]}, off);
}

void c331_manage::set_ipregs(int fd, int ich, int c)
{
    if (ich < 0 || ich > 3 || !validPort(c))
        return;
    const int st = PI_PORT_INFO[c].STATE;
    if (st < 5 || st > 8)
        return;
    const unsigned off = chOffset(ich);
    static const unsigned k[4][13] = {
        {0x1A, 0x10, 0x11, 0x8E, 6, 0x80, 0xC0, 0xC1, 0xC1, 0xC1, 0, 0xC1, 0xC1},
        {0x1A, 0x10, 0x11, 0x8E, 6, 0x80, 0xC0, 0, 0, 0, 0, 0, 0},
        {0x0D, 3, 0x11, 0x35, 2, 0x80, 0x28, 0xC4, 0xC4, 0xC4, 0xC4, 0xC2, 0xC2},
        {0x0D, 3, 0x11, 0x45, 2, 0x80, 0x28, 0, 0, 0, 0, 0, 0},
    };
    for (unsigned i = 0; i < 13; ++i)
        drv->write_C331(fd, 0x142E01 + 0x100 * i, k[st - 5][i], off);
    const bool hd = st <= 6;
    if (hd)
        writeRun(drv, fd, 0x144201, {0x44, 0, 3, 0, 0, 2, 0x0F, 0, 0}, off);
    else
        writeRun(drv, fd, 0x144201, {0x46, 0, 3, 0, 0, 0, 9, 0, 0}, off);
    unsigned base = hd ? 0x33 : 0x32;
    if (level(PM_22PD, c))
        base |= 0x40;
    if (level(PM_23PD, c))
        base |= 0x80;
    drv->write_C331(fd, 0x142C01, base, off);
    drv->write_C331(fd, 0x142D01, level(PM_24SF, c) ? 0x19 : 0x09, off);
    drv->write_C331(fd, 0x143001,
                    (static_cast<unsigned>(level(PM_23PDSQTH, c)) & 0xF) |
                        ((static_cast<unsigned>(level(PM_22PDSQTH, c)) & 0xF) << 4),
                    off);
}

void c331_manage::set_ip(int fd, int ich)
{
    if (ich < 0 || ich > 3)
        return;
    const int owner = g_ich_win[ich];
    if (owner < 0 || owner >= kWinCount)
        return;
    const int c = PM_INPUT[owner];
    if (!validPort(c))
        return;
    const unsigned off = chOffset(ich);
    const bool inter = PI_PORT_INFO[c].IP != 0;
    const bool nr = PI_PORT_INFO[c].STATE >= 4 &&
                    (level(PM_HNR, c) || level(PM_VNR, c) || level(PM_TNR, c) || level(PM_BNR, c) || level(PM_MNR, c));
    if (nr || inter) {
        wait1_pivs(fd, ich);
        wait1_pivs(fd, ich);
        const unsigned chr = 0x600u * static_cast<unsigned>(ich);
        drv->write_C331(fd, kStatusHold, 0x80, 0);
        PI_IFH[c] = static_cast<int>(drv->read_C331(fd, 0xA80802 + chr, 0)) + 1;
        PI_IFV[c] = static_cast<int>(drv->read_C331(fd, 0xA80A02 + chr, 0));
        drv->write_C331(fd, kStatusHold, 0, 0);
        const int h = inter ? (PI_IFH[c] + 1) / 2 : PI_IFH[c];
        const int twice = inter ? 2 : 1;
        drv->write_C331(fd, 0x140802, static_cast<unsigned>(h + 32), off);
        drv->write_C331(fd, 0x140A02, static_cast<unsigned>(2 * (PI_IFV[c] + 16)), off);
        drv->write_C331(fd, 0x146D02, static_cast<unsigned>((3 * (h + 33)) / 4) | 0x8000u, off);
        drv->write_C331(fd, 0x140C01, 1, off);
        drv->write_C331(fd, 0x140F02, static_cast<unsigned>(PI_ACT[c].hw), off);
        drv->write_C331(fd, 0x141302, static_cast<unsigned>(PI_ACT[c].vw * twice), off);
        drv->write_C331(fd, 0x141102, static_cast<unsigned>(PI_ACT[c].vst * twice) | 0x8000u, off);
        set_mvflt(fd, ich, c);
        set_diag(fd, ich, c);
        set_ipregs(fd, ich, c);
        set_comb(fd, ich, c);
        set_nr(fd, ich, c);
        if (inter) {
            drv->write_C331(fd, 0x142A01, level(PM_IPEN, c) ? 0 : 0x20, off);
            drv->write_C331(fd, 0x146701, 8, off);
            drv->write_C331(fd, 0x146801, 4, off);
        } else {
            drv->write_C331(fd, 0x142A01, 0x10, off);
            drv->write_C331(fd, 0x146701, 0, off);
            drv->write_C331(fd, 0x146801, 0, off);
        }
    } else {
        drv->write_C331(fd, 0x157001, 0, off);
        set_nr(fd, ich, c);
    }
    static const C331RegDesc kFld[8] = {0x171804, 0x171C04, 0x172004, 0x172404, 0x170804, 0x170C04, 0x171004, 0x171404};
    if (inter) {
        const unsigned o = (static_cast<unsigned>(PS_MWI_IP) & 31) * 1024;
        const unsigned i0 = PS_MEM_IP_I[ich][0], i1 = PS_MEM_IP_I[ich][1];
        const unsigned v[8] = {o + i0, i0, o + i1, i1, o + i0, i0, o + i1, i1};
        for (int k = 0; k < 8; ++k)
            drv->write_C331(fd, kFld[k], v[k], off);
        drv->write_C331(fd, 0x175902, static_cast<unsigned>(PS_MEM_IPYOFF), off);
        drv->write_C331(fd, 0x165B01, 1, off);
    } else {
        for (int k = 0; k < 8; ++k)
            drv->write_C331(fd, kFld[k], PS_MEM_IP_P[ich][k & 1], off);
        drv->write_C331(fd, 0x175902, 0, off);
        drv->write_C331(fd, 0x165B01, 0, off);
    }
}

void c331_manage::set_mct(int fd, int win, int flag)
{
    (void)flag;
    if (win < 0 || win >= kWinCount)
        return;
    const int mode = PM_WIN_DBD_MODE[win];
    int c;
    if (mode == DBD_CMOS_IN34 || mode == DBD_CMOS_IN34V)
        c = 2;
    else if (mode == DBD_VBO_IN12 || mode == DBD_VBO_IN12V)
        c = 4;
    else if (mode <= DBD_SINGLE_INPUT)
        c = PM_INPUT[win];
    else
        c = 0;
    if (!validPort(c))
        return;
    const int first = g_win_ich[win][0];
    if (first < 0 || first >= kIchCount)
        return;
    const unsigned m = PI_PORT_INFO[c].STATE == 0 ? 1 : 0x11;
    const unsigned further = 8u + static_cast<unsigned>(first);
    if (c < 4) {
        const int nr = level(PM_BNR, c) ? 2
                                         : ((level(PM_HNR, c) || level(PM_VNR, c) || level(PM_TNR, c) || level(PM_MNR, c))
                                                ? 1
                                                : 0);
        const bool inter = PI_PORT_INFO[c].IP != 0;
        unsigned bits = (nr || inter) ? 0x0E : 0;
        if (first > 3 || mode > DBD_SINGLE_INPUT)
            bits = 0;
        drv->write_C331(fd, kMct + 0x100u * static_cast<unsigned>(first), bits | m, 0);
        drv->write_C331(fd, kIsyct, inter ? 0 : 1, chOffset(first));
        if (nren_old[c] != nr) {
            nren_old[c] = nr;
            if (!inter)
                drv->write_C331(fd, kNrEnable, nr == 2 ? 3 : static_cast<unsigned>(nr), chOffset(first));
        }
    } else {
        // Both V-by-One ports.
        drv->write_C331(fd, kMct + 0x100u * static_cast<unsigned>(first), m, 0);
        drv->write_C331(fd, kIsyct, 1, chOffset(first));
    }
    for (int i = 1; i < kIchCount && g_win_ich[win][i] >= 0; ++i) {
        const int ch = g_win_ich[win][i];
        drv->write_C331(fd, kMct + 0x100u * static_cast<unsigned>(ch), m, 0);
        drv->write_C331(fd, kIsyct, further, chOffset(ch));
    }
}

void c331_manage::set_iscwct(int fd, int win)
{
    if (win < 0 || win >= kWinCount)
        return;
    static const unsigned kValue[4] = {0, 0x80, 1, 0x11};
    const int mode = PM_MEM_WMODE[win];
    const unsigned v = mode >= 1 && mode <= 3 ? kValue[mode] : 0;
    for (int i = 0; i < kIchCount && g_win_ich[win][i] >= 0; ++i)
        drv->write_C331(fd, kIscwct + 0x100u * static_cast<unsigned>(g_win_ich[win][i]), v, 0);
}

int c331_manage::lut_shrink_set(int ratio)
{
    if (ratio <= 0)
        return 44;
    static const int kBound[12] = {13108, 26215, 32769, 39322, 45876, 49153, 52429, 55706, 58983, 62260, 65001, 0};
    static const int kSet[12] = {1, 2, 4, 6, 8, 12, 17, 22, 27, 32, 38, 44};
    for (int i = 0; i < 11; ++i) {
        if (ratio < kBound[i])
            return kSet[i];
    }
    return 44;
}

int c331_manage::lut_4sym_row(int ratio)
{
    if (ratio > 62259)
        return 9;
    if (ratio > 58982)
        return 8;
    if (ratio > 52428)
        return 7;
    if (ratio > 45875)
        return 6;
    if (ratio > 39321)
        return 5;
    if (ratio >= 32769)
        return 4;
    if (ratio >= 26215)
        return 3;
    if (ratio >= 13108)
        return 2;
    return 1;
}

void c331_manage::set_lut_hshrnk(int fd, int ratio, int ch, int dual)
{
    if (ch < 0 || ch >= kIchCount)
        return;
    const unsigned c = static_cast<unsigned>(ch);
    drv->write_C331(fd, 0x007901, static_cast<unsigned>(lut_shrink_set(ratio)), 0);
    drv->write_C331(fd, 0x007A01, 131 + 4 * c, 0);
    if (dual)
        drv->write_C331(fd, 0x007A01, 135 + 4 * c, 0);
}

void c331_manage::set_lut_vshrnk(int fd, int ratio, int ch)
{
    if (ch < 0 || ch > 5)
        return;
    const unsigned c = static_cast<unsigned>(ch);
    drv->write_C331(fd, 0x007901, static_cast<unsigned>(lut_shrink_set(ratio)), 0);
    if (ch >= 4) {
        drv->write_C331(fd, 0x007A01, 146 + 8 * (c - 4), 0);
        drv->write_C331(fd, 0x007A01, 150 + 8 * (c - 4), 0);
    } else if (PS_VSHRNK_TAPS[c] >= 4) {
        drv->write_C331(fd, 0x007A01, 130 + 8 * (c / 2), 0);
        drv->write_C331(fd, 0x007A01, 134 + 8 * (c / 2), 0);
    } else {
        drv->write_C331(fd, 0x007A01, 130 + 4 * c, 0);
    }
}

void c331_manage::set_lut_hzoom(int fd, int ratio, int ch)
{
    (void)ratio;
    if (ch < 0 || ch >= kIchCount)
        return;
    drv->write_C331(fd, 0x007901, 46, 0);
    drv->write_C331(fd, 0x007A01, 129 + 4 * static_cast<unsigned>(ch), 0);
}

void c331_manage::set_lut_vshrnk_4sym(int fd, int ratio, int ch, int dual)
{
    if (ch < 0 || ch >= kIchCount)
        return;
    const int row = lut_4sym_row(ratio);
    for (unsigned i = 0; i < 24; ++i) {
        const unsigned v = i < 8 ? 0 : kLut4[row][i - 8];
        drv->write_C331(fd, 0x116801 + 0x100 * i, v, chOffset(ch));
        if (dual)
            drv->write_C331(fd, 0x216801 + 0x100 * i, v, chOffset(ch));
    }
}
