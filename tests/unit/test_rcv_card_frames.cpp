// Receiving-card command frames: the exact bytes of the builders, the check
// byte, the size limit of a port frame, and the templates.
#include "support/fpga_fixture.h"

#include "core/utils.h"
#include "sim/board.h"
#include "sim/control_channel.h"

#include <vector>

namespace {

using CardFrames = FpgaTest;

std::vector<unsigned char> bytes(const unsigned char* f, size_t n)
{
    return std::vector<unsigned char>(f, f + n);
}

unsigned char xorAll(const unsigned char* f, size_t n)
{
    unsigned char x = 0;
    for (size_t i = 0; i < n; ++i)
        x ^= f[i];
    return x;
}

TEST_F(CardFrames, SaveAndParameterFramesHaveTheirExactBytes)
{
    unsigned char f[fpga_manage::kMaxPortFrame] = {};
    const unsigned char check = mgr().save_para_cmd_create(f, 2);
    const std::vector<unsigned char> head = {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x03, 0x00, 0x81, 0xFF, 0x00};
    EXPECT_EQ(bytes(f, 12), head);
    EXPECT_EQ(check, xorAll(f, 12));
    EXPECT_EQ(f[12], check);
    EXPECT_EQ(g_send_para.frame_len.load(), 13);

    // To one card: port 6 is place 2 in its group, card 5.
    EXPECT_EQ(mgr().save_para2flash_cmd_create(6, 5, f, 0), 13);
    EXPECT_EQ(bytes(f, 13), std::vector<unsigned char>({0x05, 0x20, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x00, 0x00, 0x81,
                                                         0xFF, 0x00, static_cast<unsigned char>(xorAll(f, 12))}));
    EXPECT_EQ(mgr().save_para2flash_cmd_create(6, 5, f, 1), 13);
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1], 0x0F);

    g_send_para.value = 9;
    const unsigned char m = mgr().mapping_enable_cmd_create(3, f);
    EXPECT_EQ(bytes(f, 15), std::vector<unsigned char>({0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x04, 0x00, 0xA0,
                                                         0x03, 0x0F, 0x01, 0x09, m}));
    EXPECT_EQ(m, xorAll(f, 14));
    g_send_para.value = 0;
}

TEST_F(CardFrames, DataFramesCarryTheirPayloadAndLength)
{
    std::vector<unsigned char> data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 7 + 1);
    unsigned char f[fpga_manage::kMaxPortFrame] = {};

    const unsigned char c = mgr().load_write_ram_cmd_create(1, 3, 0x12345678, data.data(), 1000, f, 0);
    EXPECT_EQ(g_send_para.frame_len.load(), 1019);
    EXPECT_EQ(bytes(f, 18), std::vector<unsigned char>({0x03, 0x10, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x02, 0x00, 0x60,
                                                         0x78, 0x56, 0x34, 0x12, 0xE8, 0x03, 0x00, 0x00}));
    EXPECT_EQ(bytes(f + 18, 1000), data);
    EXPECT_EQ(f[1018], c);
    EXPECT_EQ(c, xorAll(f, 1018));

    EXPECT_EQ(mgr().load_write_user_defined_cmd_create(0, 2, data.data(), 20, f, 0), 30);
    EXPECT_EQ(f[9], data[0]);
    EXPECT_EQ(f[7], 0);
    EXPECT_EQ(f[29], xorAll(f, 29));

    EXPECT_EQ(mgr().load_write_reg_cmd_create(7, 1, data.data(), 4, f, 1), 15);
    EXPECT_EQ(bytes(f, 10), std::vector<unsigned char>({0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x00, 0x00, 0xA0}));
    EXPECT_EQ(f[14], xorAll(f, 14));

    EXPECT_EQ(mgr().rcv_active_firmware_cmd_create(9, 0, data.data(), 2, f), 13);
    EXPECT_EQ(f[1], 0x10);
    EXPECT_EQ(f[7], 10);
    EXPECT_EQ(f[9], 0xB4);
    EXPECT_EQ(mgr().rcv_reconfig_cmd_create(2, 4, data.data(), 2, f), 13);
    EXPECT_EQ(f[9], 0x84);
    EXPECT_EQ(mgr().load_search_rxc_cmd_create(3, data.data(), 1, f), 12);
    EXPECT_EQ(bytes(f, 10), std::vector<unsigned char>({0xFE, 0x3F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x04, 0x00, 0x10}));
}

TEST_F(CardFrames, APayloadBeyondAPortFrameBuildsNothing)
{
    std::vector<unsigned char> data(1100, 0x11);
    unsigned char f[fpga_manage::kMaxPortFrame + 8];
    std::fill(std::begin(f), std::end(f), 0xEE);
    g_send_para.frame_len = 77;
    EXPECT_EQ(mgr().load_write_ram_cmd_create(0, 0, 0, data.data(), 1006, f, 0), 0);
    EXPECT_EQ(mgr().load_write_reg_cmd_create(0, 0, data.data(), 1014, f, 0), 0);
    EXPECT_EQ(mgr().load_write_user_defined_cmd_create(0, 0, data.data(), 1015, f, 0), 0);
    EXPECT_EQ(g_send_para.frame_len.load(), 77);
    EXPECT_EQ(f[0], 0xEE) << "nothing written";
    const unsigned char c = mgr().load_write_ram_cmd_create(0, 0, 0, data.data(), 1005, f, 0);
    EXPECT_EQ(c, xorAll(f, 1023));
    EXPECT_EQ(g_send_para.frame_len.load(), 1024);
}

TEST_F(CardFrames, SearchFrameLayout)
{
    unsigned char f[30];
    fpga_manage::build_search_frame(f, 7, 0x04030201, 0x0D0C0B0A, 3);
    EXPECT_EQ(bytes(f, 30),
              std::vector<unsigned char>({0xFE, 0x3F, 0x00, 0xF0, 0x10, 0xAA, 0xFF, 0x08, 0x00, 0x10, 0, 0, 0, 0, 0,
                                          0,    0x01, 0x01, 0x02, 0x03, 0x04, 0xFF, 0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0,
                                          0,    static_cast<unsigned char>(xorAll(f, 29))}));
    fpga_manage::build_search_frame(f, 12, 0, 0, 0);
    EXPECT_EQ(f[1], 0x0F);
    EXPECT_EQ(f[7], 13);
    EXPECT_EQ(Utils::BCC(f, 29), f[29]);
}

TEST_F(CardFrames, TemplatesAddressEveryCardFromTheSendingCard)
{
    for (const unsigned char* t : {fpga_manage::SEARCH_CARD_BUF, fpga_manage::SEND_BRI_ETH_CMD,
                                   fpga_manage::SEND_BRI_ETH_REG, fpga_manage::SEND_BRI_SAVE_CMD,
                                   fpga_manage::SEND_READ_VMF_RAM0_CMD}) {
        EXPECT_EQ(bytes(t, 5), std::vector<unsigned char>({0xFE, 0x0F, 0x00, 0xF0, 0x10}));
    }
    EXPECT_EQ(fpga_manage::SEND_BRI_ETH_CMD[18], 0xFF);
    EXPECT_EQ(fpga_manage::SEND_READ_VMF_RAM0_CMD[15], 0x01);
    EXPECT_EQ(fpga_manage::SEND_BRI_SAVE_CMD[10], 0x09);
}

// The template sender: the port's place in its group as the address high
// byte, the search template's port byte, the brightness value from
// register 64, and the check byte.
TEST_F(CardFrames, TemplatesSentToAPort)
{
    sim::ControlChannel& control = sim::Board::instance().control();
    control.execute("cards 6 2");
    bringUp();
    mgr().set_reg_image(0, 64, 4);
    mgr().Send_rcv_card_cmd(5, 1, 0);   // FPGA 0 port 5: port number 6
    mgr().Send_rcv_card_cmd(5, 0, 0);
    const std::string log = control.execute("card-log 6");
    // 16 x 4 - 1 = 0x3F as the value; check byte 0x?? follows.
    EXPECT_NE(log.find("fe1f00f010660100006080000000010000003f"), std::string::npos) << log;
    EXPECT_NE(log.find("fe1f00f010aaff0600100000000000"), std::string::npos) << log;
    mgr().Send_rcv_card_cmd(16, 0, 0);   // no port 16: nothing sent
    EXPECT_EQ(control.execute("card-log 6"), log);
}

} // namespace

