// Output geometry and screen state: the screen controls, the placement of
// the ports' areas behind the chip's output offset, the V-by-One relock and
// the port link report.
#include "sendcard/fpga_manage.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"

#include <cstring>

namespace {

// Back page byte ranges and the parameter page bytes they save.
struct BackRange {
    unsigned back;
    unsigned page;
    unsigned length;
};
const BackRange kBackRanges[] = {
    {0, 60, 4}, {4, 8, 4}, {8, 12, 4}, {12, 19, 8}, {20, 32, 8}, {28, 43, 8}, {36, 520, 32}, {68, 576, 64}, {132, 56, 4},
};

// The (x, y) pairs the output offset moves: parameter page offset and the
// back page offset it is rebuilt from.
struct OffsetPair {
    unsigned page;
    unsigned back;
};
const OffsetPair kOffsetPairs[] = {
    {60, 0}, {8, 4}, {19, 12}, {32, 20}, {43, 28},
    {520, 36}, {528, 44}, {536, 52}, {544, 60},
    {576, 68}, {584, 76}, {592, 84}, {600, 92}, {608, 100}, {616, 108}, {624, 116}, {632, 124},
};

} // namespace

void fpga_manage::SCREEN_fpgactrl_status(int code)
{
    for (unsigned char i = 0; i < 2; ++i) {
        switch (code) {
        case 0:
            write_to_register(0, 0x04, 0x04, i);
            break;
        case 1:
            write_to_register(0, 0x04, 0x00, i);
            break;
        case 2:
            write_to_register(0, 0x02, 0x02, i);
            break;
        case 3:
            write_to_register(0, 0x02, 0x00, i);
            break;
        case 4:
            write_to_register(3, 0x20, 0x20, i);
            break;
        case 5:
            write_to_register(3, 0x20, 0x00, i);
            break;
        case 7:
            write_to_register(23, 0x01, 0x00, i);
            break;
        case 8:
            write_to_register(23, 0x01, 0x01, i);
            break;
        case 9:
            read_from_register(22, i);
            break;
        default:
            break;
        }
    }
}

void fpga_manage::SCREEN_fpgactrl_status2(int code, unsigned char fpga)
{
    switch (code) {
    case 0:
        write_to_register(0, 0x04, 0x04, fpga);
        break;
    case 4:
        write_to_register(3, 0x20, 0x20, fpga);
        break;
    case 10:
        write_to_register(23, 0x08, 0x08, fpga);
        break;
    case 11:
        write_to_register(23, 0x08, 0x00, fpga);
        break;
    default:
        break;
    }
}

void fpga_manage::K47_back_mcu_set_net_para(unsigned char fpga)
{
    const unsigned char i = fpga == 0 ? 0 : 1;
    for (const BackRange& r : kBackRanges)
        std::memcpy(MCU_RAM_ETH_BACK_PARA_func[i] + r.back, MCU_RAM_PARA_func[i] + r.page, r.length);
}

void fpga_manage::K47_mcu_set_net_para(unsigned char fpga)
{
    const unsigned char i = fpga == 0 ? 0 : 1;
    // The panel offset as one copy (the chip thread stores it meanwhile).
    unsigned char offset[4] = {};
    if (ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config)
        store->block_bytes(para::kPanelResult, offset, 4);
    const uint16_t x = le16(offset, 0);
    const uint16_t y = le16(offset, 2);
    unsigned char* page = MCU_RAM_PARA_func[i];
    const unsigned char* back = MCU_RAM_ETH_BACK_PARA_func[i];
    for (const OffsetPair& p : kOffsetPairs) {
        setLe16(page, p.page, static_cast<uint16_t>(le16(back, p.back) + x));
        setLe16(page, p.page + 2, static_cast<uint16_t>(le16(back, p.back + 2) + y));
    }
}

void fpga_manage::K47_mcu_set_lcd_x_y_para(unsigned char flag)
{
    if (flag == 0)
        return;
    const unsigned char* first = MCU_RAM_PARA_func[0];
    const unsigned char* back = MCU_RAM_ETH_BACK_PARA_func[1];
    unsigned char* second = MCU_RAM_PARA_func[1];
    // FPGA 1's area starts where FPGA 0's ends: its own origin is 0.
    if (le16(back, 56) == static_cast<uint16_t>(le16(first, 56) + le16(first, 60)))
        setLe16(second, 56, 0);
    if (le16(back, 58) == static_cast<uint16_t>(le16(first, 58) + le16(first, 62)))
        setLe16(second, 58, 0);
}

unsigned char fpga_manage::check_vbo_status(unsigned char fpga)
{
    const unsigned char i = fpga == 0 ? 0 : 1;
    if (Utils::getTimeSpace(vbo_time[i]) < 10)
        return vbo_relock[i];
    vbo_time[i] = G_timeTicks;
    const unsigned char* reg = MCU_REG_func[i];
    if (vbo_relock[i] == 0) {
        int unlocked = 0;
        for (int k = 0; k < 8; ++k) {
            read_from_register(40, i);
            if ((reg[40] & 0x1C) != 0x1C)
                ++unlocked;
        }
        if (unlocked > 3) {
            vbo_relock[i] = 1;
            write_to_register(3, 0xC0, 0x00, i);
            vbo_relock_step[i] = 0;
        }
    } else if (vbo_relock_step[i] == 0) {
        write_to_register(3, 0x40, 0x40, i);
        vbo_relock_step[i] = 1;
        vbo_relock_try[i] = 0;
    } else {
        read_from_register(22, i);
        ++vbo_relock_try[i];
        if ((reg[22] & 0x08) == 0 || vbo_relock_try[i] >= 1000) {
            write_to_register(3, 0x80, 0x80, i);
            vbo_relock[i] = 0;
        }
    }
    return vbo_relock[i];
}

uint32_t fpga_manage::get_wlan_state()
{
    uint32_t state = 0;
    for (unsigned char i = 0; i < 2; ++i) {
        if (reg_image(i, 80) != 3)
            continue;
        read_from_register(128, i);
        read_from_register(144, i);
        const uint32_t bits = reg_image(i, 128) | (reg_image(i, 144) << 8);
        state |= bits << (16 * i);
    }
    return state;
}

void fpga_manage::check_wlanonline_state()
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store)
        return;
    unsigned short now[2] = {0, 0};
    for (unsigned char i = 0; i < 2; ++i) {
        if (!fpga_present(i) || reg_image(i, 80) != 3)
            continue;
        read_from_register(128, i);
        read_from_register(144, i);
        now[i] = static_cast<unsigned short>(reg_image(i, 128) + reg_image(i, 144) * 256);
    }
    if (get_fpga_status() == 1 && (now[0] != wlan_reported[0] || now[1] != wlan_reported[1])) {
        wlan_reported[0] = now[0];
        wlan_reported[1] = now[1];
        store->test_signal(11);
    }
}
