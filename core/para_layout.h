// Layout of the 4096-byte parameter block: byte offsets of its fields. The
// PC addresses the block by offset and /data/ram_device_info holds it, so
// every offset here is binding.
#pragma once

namespace para {

constexpr int kBlockSize = 4096;

// Input signal record of input i: width, height, refresh (u16 each).
constexpr int kInputSignal = 256;
constexpr int kInputSignalSize = 6;
constexpr int kInputCount = 6;

// The persisted part of the block: 768 to 4095, stored after a 2-byte head.
constexpr int kPersistStart = 768;
constexpr int kPersistSize = kBlockSize - kPersistStart;   // 3328
constexpr int kFileHeadSize = 2;

constexpr int kLanguage = 768;
constexpr int kUnused770 = 770;
constexpr int kPanelLock = 772;
constexpr int kWifiOff = 774;
constexpr int kTestPattern = 864;
constexpr int kCurrentMode = 866;
constexpr int kModeSaveRequest = 868;

// The user-mode area: what a user mode holds (896 to 4095).
constexpr int kModeStart = 896;
constexpr int kModeSize = kBlockSize - kModeStart;          // 3200

// EDID record of input i: width, height, refresh (u16 each).
constexpr int kEdid = 896;
constexpr int kEdidEnd = 1376;                              // end of the EDID reset range

constexpr int kSpliceMode = 1376;
constexpr int kLedWidth = 1378;
constexpr int kLedHeight = 1380;
constexpr int kPanelResult = 1382;                          // 7 x u16 written by the chip thread
constexpr int kPanelResultSize = 14;
constexpr int kOut1 = 1408;                                 // x, y, w, h
constexpr int kOut2 = 1416;

// Crop table: 40 records of 10 bytes: head, x, y, w, h.
constexpr int kCropTable = 1472;
constexpr int kCropSize = 10;
constexpr int kCropCount = 40;
constexpr unsigned kCropInUse = 0x8000;

constexpr int kAudioWindow = 2112;
constexpr int kDotByDot = 2114;
constexpr int kBlackout = 2116;
constexpr int kSwitchEffect = 2118;
constexpr int kOsdOn = 2124;

// Picture controls (2176 to 2191).
constexpr int kBrightness = 2176;
constexpr int kContrast = 2178;
constexpr int kSharpness = 2180;
constexpr int kSaturation = 2182;
constexpr int kColorTempType = 2184;
constexpr int kRedGain = 2186;
constexpr int kGreenGain = 2188;
constexpr int kBlueGain = 2190;
constexpr int kPictureEnd = 2192;

constexpr int kLayerPriority = 2208;                        // u16 per layer
constexpr int kUnused2270 = 2270;

// Layer records: 16 of 26 bytes; the chip applies the first six.
constexpr int kLayer = 2272;
constexpr int kLayerSize = 26;
constexpr int kLayerCount = 16;
constexpr int kLayerEnable = 0;
constexpr int kLayerMirror = 4;
constexpr int kLayerInput = 8;
constexpr int kLayerX = 10;
constexpr int kLayerY = 12;
constexpr int kLayerW = 14;
constexpr int kLayerH = 16;
constexpr int kLayerOutput = 18;
constexpr int kLayerAudioLevel = 20;
constexpr int kLayerAudioFlags = 21;
constexpr int kLayerP2P = 22;
constexpr unsigned kLayerInputIsCrop = 0x8000;

// Fade-in and fade-out words of layer L at 2816 + 4L and 2818 + 4L.
constexpr int kLayerFade = 2816;

inline constexpr int layer(int l) { return kLayer + kLayerSize * l; }
inline constexpr int crop(int k) { return kCropTable + kCropSize * k; }
inline constexpr int edid(int input) { return kEdid + 6 * input; }
inline constexpr int inputSignal(int input) { return kInputSignal + kInputSignalSize * input; }

} // namespace para
