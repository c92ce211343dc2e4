// Fixture for tests of the c331 chip manager on the simulated board: the
// parameter store loaded from the default file, the simulated chip on its
// SPI node and a chip manager of the test's own (no thread), with the
// fixed parameters loaded.
#pragma once

#include "support/store_fixture.h"

#include "sim/c331_chip.h"
#include "videochip/c331_manage.h"

#include <cstdint>
#include <vector>

class C331Test : public StoreTest {
protected:
    void SetUp() override;
    void TearDown() override;

    sim::C331ChipModel& chip();
    uint32_t reg(uint32_t desc, uint32_t bankOffset = 0) { return chip().reg(desc, bankOffset); }
    // The values written to one register byte (descriptor's first address,
    // bank + offset), in order, from the frame log.
    std::vector<uint8_t> writesTo(uint32_t desc, uint32_t bankOffset = 0);
    // Frames of the log that are not bank selects.
    size_t registerFrames();

    // A page's store: under the c331 manage mutex, then the flag raised.
    void store16(int offset, uint16_t value, unsigned char flag = 1);
    // One change pass of the chip thread.
    void deal() { c331_manage::c331managerdeal(m); }
    // What the GUI thread does on the para sync signal: the shadow becomes
    // equal to the block.
    void persist();
    // A panel of two 1920 x 1080 output channels side by side under a
    // 3840 x 1080 LED screen.
    void sideBySidePanel();

    ZdrRamPara* store = nullptr;
    c331_manage* m = nullptr;
};
