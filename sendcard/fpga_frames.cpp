// Receiving-card command frames: the builders of the loading, mapping and
// search code and the frame templates.
#include "sendcard/fpga_manage.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/utils.h"

#include <cstdio>
#include <cstring>

const unsigned char fpga_manage::SEARCH_CARD_BUF[15] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0xAA, 0xFF, 0x00,
                                                        0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
const unsigned char fpga_manage::SEND_BRI_ETH_CMD[20] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0x66, 0x01, 0x00, 0x00, 0x60,
                                                         0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0x00};
const unsigned char fpga_manage::SEND_BRI_ETH_REG[15] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0x66, 0x01, 0x00,
                                                         0x00, 0xA0, 0x01, 0x08, 0x00, 0x08, 0x00};
const unsigned char fpga_manage::SEND_BRI_SAVE_CMD[13] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0x66, 0x01,
                                                          0x00, 0x00, 0x81, 0x09, 0x00, 0x00};
const unsigned char fpga_manage::SEND_READ_VMF_RAM0_CMD[19] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0xBB, 0x03,
                                                               0x00, 0x00, 0x61, 0x00, 0x00, 0x00, 0x00,
                                                               0x00, 0x01, 0x00, 0x00, 0x00};

namespace {

// Header bytes 0..9 (opcode included); the frame length including the check
// byte is header + payload + 1.
void header(unsigned char* f, unsigned short dest, unsigned char kind, unsigned char b6, unsigned char portByte,
            unsigned char opcode)
{
    setLe16(f, 0, dest);
    setLe16(f, 2, fpga_manage::kAddrSelf);
    f[4] = 0x10;
    f[5] = kind;
    f[6] = b6;
    f[7] = portByte;
    f[8] = 0x00;
    f[9] = opcode;
}

// Stores the check byte at position len - 1 and returns it.
unsigned char seal(unsigned char* f, unsigned len)
{
    f[len - 1] = Utils::BCC(f, len - 1);
    return f[len - 1];
}

// Whether a payload of n bytes after `fixed` header and payload bytes fits
// a port frame.
bool fits(unsigned fixed, unsigned n)
{
    return fixed + n + 1 <= fpga_manage::kMaxPortFrame;
}

unsigned char portByte(unsigned short port)
{
    return static_cast<unsigned char>(port + 1);
}

} // namespace

unsigned short fpga_manage::card_address(unsigned short port, unsigned short card, unsigned char all)
{
    if (all)
        return kAddrAllCards;
    return static_cast<unsigned short>(((port << 12) & 0x3000) | (card & 0x0FFF));
}

unsigned char fpga_manage::load_write_ram_cmd_create(unsigned short port, unsigned short card, uint32_t address,
                                                     const unsigned char* data, unsigned short n,
                                                     unsigned char* frame, unsigned char all)
{
    if (!fits(18, n))
        return 0;
    header(frame, card_address(port, card, all), kKindPara, 0x01, portByte(port), 0x60);
    setLe32(frame, 10, address);
    setLe16(frame, 14, n);
    frame[16] = 0;
    frame[17] = 0;
    std::memcpy(frame + 18, data, n);
    g_send_para.frame_len = static_cast<unsigned short>(n + 19);
    return seal(frame, n + 19u);
}

namespace {

// A frame with `n` data bytes straight after the opcode.
unsigned short dataFrame(unsigned char* frame, unsigned short dest, unsigned char b7, unsigned char opcode,
                         const unsigned char* data, unsigned short n)
{
    if (!fits(10, n))
        return 0;
    header(frame, dest, fpga_manage::kKindPara, 0x01, b7, opcode);
    std::memcpy(frame + 10, data, n);
    const unsigned short len = static_cast<unsigned short>(n + 11);
    seal(frame, len);
    g_send_para.frame_len = len;
    return len;
}

} // namespace

unsigned short fpga_manage::rcv_active_firmware_cmd_create(unsigned short port, unsigned short card,
                                                           const unsigned char* data, unsigned short n,
                                                           unsigned char* frame)
{
    return dataFrame(frame, card_address(port, card, 0), portByte(port), 0xB4, data, n);
}

unsigned char fpga_manage::save_para_cmd_create(unsigned char* frame, unsigned short port)
{
    header(frame, kAddrAllCards, kKindPara, 0x01, portByte(port), 0x81);
    frame[10] = 0xFF;
    frame[11] = 0x00;
    g_send_para.frame_len = 13;
    return seal(frame, 13);
}

unsigned short fpga_manage::load_write_reg_cmd_create(unsigned short port, unsigned short card,
                                                      const unsigned char* data, unsigned short n,
                                                      unsigned char* frame, unsigned char all)
{
    return dataFrame(frame, card_address(port, card, all), 0, 0xA0, data, n);
}

unsigned short fpga_manage::load_write_user_defined_cmd_create(unsigned short port, unsigned short card,
                                                               const unsigned char* data, unsigned short n,
                                                               unsigned char* frame, unsigned char all)
{
    if (!fits(9, n))
        return 0;
    header(frame, card_address(port, card, all), kKindPara, 0x01, 0, 0);
    std::memcpy(frame + 9, data, n);
    const unsigned short len = static_cast<unsigned short>(n + 10);
    seal(frame, len);
    g_send_para.frame_len = len;
    return len;
}

unsigned short fpga_manage::rcv_reconfig_cmd_create(unsigned short port, unsigned short card,
                                                    const unsigned char* data, unsigned short n,
                                                    unsigned char* frame)
{
    return dataFrame(frame, card_address(port, card, 0), portByte(port), 0x84, data, n);
}

unsigned short fpga_manage::load_search_rxc_cmd_create(unsigned short port, const unsigned char* data,
                                                       unsigned short n, unsigned char* frame)
{
    const unsigned short dest = static_cast<unsigned short>(kAddrSearch | ((port << 12) & 0x3000));
    return dataFrame(frame, dest, portByte(port), 0x10, data, n);
}

unsigned short fpga_manage::save_para2flash_cmd_create(unsigned short port, unsigned short card,
                                                       unsigned char* frame, unsigned char all)
{
    header(frame, card_address(port, card, all), kKindPara, 0x01, 0, 0x81);
    frame[10] = 0xFF;
    frame[11] = 0x00;
    seal(frame, 13);
    g_send_para.frame_len = 13;
    return 13;
}

unsigned char fpga_manage::mapping_enable_cmd_create(unsigned short port, unsigned char* frame)
{
    header(frame, kAddrAllCards, kKindPara, 0x01, portByte(port), 0xA0);
    frame[10] = 0x03;
    frame[11] = 0x0F;
    frame[12] = 0x01;
    frame[13] = static_cast<unsigned char>(g_send_para.value.load());
    g_send_para.frame_len = 15;
    return seal(frame, 15);
}

unsigned char fpga_manage::rcv_card_cmd_create(unsigned char* frame, unsigned short port)
{
    const unsigned short card = g_send_para.target_card;
    unsigned short x = 0;
    unsigned short y = 0;
    get_rcvcard_x_y(card, &x, &y);
    // The offset moves the place; past the 16-bit position it is held at
    // the largest, never wrapped.
    const unsigned xo = x + static_cast<unsigned>(line_type.x_offset);
    const unsigned yo = y + static_cast<unsigned>(line_type.y_offset);
    x = static_cast<unsigned short>(xo > 0xFFFF ? 0xFFFF : xo);
    y = static_cast<unsigned short>(yo > 0xFFFF ? 0xFFFF : yo);
    if (traceOn())
        std::printf("\n rcv_card_cmd_create ,index = %d,x=%d,y=%d\n", card, x, y);
    header(frame, card_address(port, card, 0), kKindPara, 0x01, portByte(port), 0x60);
    setLe32(frame, 10, 0x180);
    setLe16(frame, 14, 4);
    frame[16] = 0;
    frame[17] = 0;
    setLe16(frame, 18, x);
    setLe16(frame, 20, y);
    return seal(frame, 23);
}

unsigned char fpga_manage::ram_reset_cmd_create(unsigned char* frame, unsigned char a, unsigned short value,
                                                unsigned short port)
{
    header(frame, static_cast<unsigned short>(kAddrSearch | ((port << 12) & 0x3000)), kKindPara, 0x01, portByte(port),
           0xA0);
    frame[10] = a;
    frame[11] = static_cast<unsigned char>(value & 0xFF);
    frame[12] = 0x01;
    frame[13] = static_cast<unsigned char>(value >> 8);
    g_send_para.frame_len = 15;
    return seal(frame, 15);
}

void fpga_manage::build_search_frame(unsigned char* frame, unsigned short port, uint32_t word_a, uint32_t word_b,
                                     unsigned char flag)
{
    std::memset(frame, 0, 30);
    header(frame, static_cast<unsigned short>(kAddrSearch | ((port << 12) & 0x3000)), kKindSearch, 0xFF,
           portByte(port), 0x10);
    frame[16] = flag & 1;
    setLe32(frame, 17, word_a);
    frame[21] = 0xFF;
    setLe32(frame, 23, word_b);
    seal(frame, 30);
}

void fpga_manage::check_error_rcv_search_card_cmd(unsigned short port, unsigned char fpga, uint32_t word_a,
                                                  uint32_t word_b, unsigned char flag)
{
    if (port > 15)
        return;
    unsigned char frame[30];
    build_search_frame(frame, port, word_a, word_b, flag);
    const unsigned char bit = static_cast<unsigned char>(1u << ((port >> 1) & 3));
    write_to_register(port < 8 ? 131 : 147, bit, 0, fpga);
    Send_to_port(frame, 30, port, fpga);
}

void fpga_manage::Send_rcv_card_cmd(unsigned short port, unsigned char which, unsigned char fpga)
{
    if (port > 15 || which > 3)
        return;
    // The port's place in its group of four as the address high byte.
    const unsigned char high = static_cast<unsigned char>(0x0F | ((port & 3) << 4));
    unsigned char f[20];
    unsigned short n = 0;
    switch (which) {
    case 0:
        n = sizeof(SEARCH_CARD_BUF);
        std::memcpy(f, SEARCH_CARD_BUF, n);
        f[7] = static_cast<unsigned char>(port + 1);
        break;
    case 1:
        n = sizeof(SEND_BRI_ETH_CMD);
        std::memcpy(f, SEND_BRI_ETH_CMD, n);
        f[18] = static_cast<unsigned char>(16 * reg_image(0, 64) - 1);
        break;
    case 2:
        n = sizeof(SEND_BRI_ETH_REG);
        std::memcpy(f, SEND_BRI_ETH_REG, n);
        break;
    default:
        n = sizeof(SEND_BRI_SAVE_CMD);
        std::memcpy(f, SEND_BRI_SAVE_CMD, n);
        break;
    }
    f[1] = high;
    f[n - 1] = Utils::BCC(f, n - 1u);
    Send_to_port(f, n, port, fpga);
}
