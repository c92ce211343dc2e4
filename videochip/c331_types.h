// Types of the c331 chip code: register descriptors, the window model, the
// panel record and the per-port records.
#pragma once

#include <cstdint>

// A c331 register: bank in bits 16-23, first register address in bits 8-15,
// byte count (1 to 4) in bits 0-7, written 0xBBAANN. Per-channel register
// sets lie 16 banks apart: channel n is reached with bank offset 16 x n.
typedef unsigned int C331RegDesc;

constexpr unsigned c331Bank(C331RegDesc d) { return (d >> 16) & 0xFF; }
constexpr unsigned c331Addr(C331RegDesc d) { return (d >> 8) & 0xFF; }
constexpr unsigned c331Count(C331RegDesc d) { return d & 0xFF; }

namespace c331 {

constexpr int kWinCount = 6;      // windows (layers the chip applies)
constexpr int kOchCount = 8;      // output channels
constexpr int kIchCount = 8;      // input channels
constexpr int kPortCount = 6;     // chip input ports
constexpr int kNoWindow = 6;      // PM_WIN_NUM / PM_INPUT value for "none"
constexpr int kNoArea = 8;        // PM_AREA_NUM value for "none"
constexpr int kDbdBlocks = 6;     // dot-by-dot field-memory blocks

// Bank offset of output (or input) channel n.
constexpr unsigned chOffset(int n) { return 16u * static_cast<unsigned>(n); }

// Registers named by more than one part of the chip code.
constexpr C331RegDesc kIdentity = 0xB20801;          // reads 0x24 on a working chip
constexpr uint8_t kIdentityValue = 0x24;
constexpr C331RegDesc kStatusHold = 0x002901;
constexpr C331RegDesc kRtctFirst = 0x002201;         // seven 1-byte registers 0x22..0x28
constexpr C331RegDesc kInputDataMode = 0x001802;
constexpr C331RegDesc kInputSyncLatch = 0x050801;
constexpr C331RegDesc kInputSyncStatus = 0x052201;
constexpr C331RegDesc kOutputSyncLatch = 0x050901;
constexpr C331RegDesc kOutputSyncStatus = 0x052301;
constexpr C331RegDesc kIchStatus = 0xA83F01;         // + 0x500 x channel; 0xFF no input
constexpr C331RegDesc kFieldStatus = 0xAB4701;       // + 0x100 x index
constexpr C331RegDesc kVboRange = 0x024C01;          // + 0x1C00 x receiver
constexpr C331RegDesc kVboLock = 0xB26301;           // bit 5 + 2 x receiver
constexpr C331RegDesc kVboMeasure = 0xAE5C03;        // + 0xC00 x receiver
constexpr C331RegDesc kCmosSyncPol = 0x063804;
constexpr C331RegDesc kVboSyncPol = 0x063C04;
constexpr C331RegDesc kVboLaneMode = 0x001E02;       // + 0x200 x receiver
constexpr C331RegDesc kVboLaneSelect = 0x003902;
constexpr C331RegDesc kOutBkgColor = 0x084903;       // output channel bank offset
constexpr C331RegDesc kOutBkgEnable = 0x084801;      // output channel bank offset

// Dot-by-dot modes (PM_WIN_DBD_MODE).
enum DbdMode {
    DBD_DISABLE = 0,
    DBD_SINGLE_INPUT = 1,
    DBD_CMOS_IN12 = 20,
    DBD_CMOS_IN12V = 21,
    DBD_CMOS_IN34 = 22,
    DBD_CMOS_IN34V = 23,
    DBD_CMOS_IN123 = 30,
    DBD_CMOS_IN1234 = 40,
    DBD_CMOS_IN1234Q = 41,
    DBD_VBO_IN12 = 50,
    DBD_VBO_IN12V = 51,
};

// Arrangements of the output channels.
enum Arrangement {
    ARRANG2K4_2x1 = 5,
    ARRANG2K4_4x1_8K = 6,
    ARRANG2K4_2x2_8K = 7,
    ARRANG2K4_1x2 = 8,
};

enum LaneMode { OCHBW_2K4K30 = 0, OCHBW_2K2K30 = 1 };

enum SpliceMode { SPLICE_NONE = 0, SPLICE_HV = 1, SPLICE_V = 2, SPLICE_H = 3, SPLICE_CP12 = 4, SPLICE_CP21 = 5 };

} // namespace c331

// The system's input numbers. Any int converts to it (a stored input word
// may name no input at all; the conversion to a chip port refuses it).
enum DSP_INPUT_PORT : int {
    DSP_INPUT_EXT = 0,
    DSP_INPUT_DVI = 1,
    DSP_INPUT_HDMI1 = 2,
    DSP_INPUT_HDMI2 = 3,
    DSP_INPUT_HDMI3 = 4,
    DSP_INPUT_HDMI4 = 5,
};

struct ST_RECT {
    int x;
    int y;
    int w;
    int h;
};

// The window list: count and rectangles (x, y, width, height).
struct ST_MWIN {
    int wincnt;
    ST_RECT* pwin;
};

// One preset layout of the panel set-up.
struct ST_MWIN_PRESET {
    int wincnt;
    ST_RECT* pwin;
};

// One window of the chip (an enabled layer of the parameter block).
struct ST_WIN_INFO {
    int16_t x;
    int16_t y;
    int16_t w;
    int16_t h;
    uint8_t input;          // DSP_INPUT_PORT
    uint8_t cropIdx;        // crop record index while the window shows a crop
    uint8_t layer;          // priority 0..5
    uint8_t winEn;
    uint8_t rotate;         // attribute: bit 0 and bit 1 the two mirror bits
    uint8_t outputMode;     // bit 0 black, bit 1 freeze
    int8_t srcLayer;        // the layer record the window was built from, -1 none
    uint8_t ochLst[8];      // output channels rendering the window's parts
    uint8_t ochPosLst[8];   // the channel area of each part
    uint8_t totalh;         // span in output channels across
    uint8_t totalv;         // and down
    uint8_t ochCnt;         // number of parts (totalh x totalv)
};

// Input and output window of a window, and the size of a port's area.
struct _ImageWindowDef_st {
    int hst;
    int hw;
    int vst;
    int vw;
};

// One output part of a window per channel column and row.
struct _ImageWindowDef2_St {
    int hst;
    int hw;
    int vst;
    int vw;
    int firstCol;
    int lastCol;
    int firstRow;
    int lastRow;
};

struct _ScalingSt {
    int hmode;      // 0 none, 1 shrink, 2 zoom
    int vmode;
    int hshrink;    // 16.16 fixed point
    int vshrink;
    int hzoom;
    int vzoom;
};

// Arrangement and timing of the output channels.
struct ST_OCH_SPEC {
    int laneMode;   // c331::LaneMode
    int arrang;     // c331::Arrangement
    int width;
    int height;
    int htt;
    int hsw;
    int hfp;
    int vtt;
    int vsw;
    int vfp;
    int use1och;
};

// The output panel record.
struct ST_PANEL {
    int16_t ledW;
    int16_t ledH;
    int16_t out1w;
    int16_t out2w;
    int16_t out1h;
    int16_t out2h;
    int16_t xoffs;
    int16_t yoffs;
    uint8_t och_HCnt;
    uint8_t och_VCnt;
    int splice;             // c331::SpliceMode
    ST_OCH_SPEC och;
    int chErr;              // a window part found no channel
};

// Measurement record of a chip port.
struct ST_PORT_INFO {
    int HCNT;       // H count
    int HCNT2;      // second H value
    int VCNT;       // V count
    int FCNT;       // frame clock count
    int V5;         // fifth value
    int nosignal;
    int STATE;      // scan state: 0 no input, 3..8 (PI_STATE)
    int IP;         // interlaced (PI_SCAN_MODE)
};
