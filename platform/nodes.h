// The board's device nodes, in one place: the drivers name the device they
// open through these, and the platform back ends resolve them (the real
// files on the board, the device models on the simulated board).
#pragma once

namespace platform {
namespace nodes {

constexpr const char* kC331Spi = "/dev/spidev32766.0";
// FPGA 0, FPGA 1, the flash behind FPGA 0, the flash behind FPGA 1.
constexpr const char* kFpgaSpi[4] = {"/dev/spidev32766.1", "/dev/spidev32766.2", "/dev/spidev32766.3",
                                     "/dev/spidev32766.4"};
constexpr const char* kI2cBus = "/dev/i2c-0";
constexpr const char* kRs485 = "/dev/ttyS2";
constexpr const char* kModem4G = "/dev/ttyS1";
constexpr const char* kTouch = "/dev/input/event1";
constexpr const char* kKernelMtd = "/dev/mtd10";
constexpr const char* kLogoMtd = "/dev/mtd8";

} // namespace nodes
} // namespace platform
