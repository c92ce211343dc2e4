// The light sensor read of the automatic brightness: the multi-function
// card found by the card search answers the sensor read over its port.
#include "support/board_clock.h"
#include "support/fpga_fixture.h"

#include "core/global.h"
#include "sim/board.h"
#include "sim/control_channel.h"

namespace {

class LightSensor : public FpgaTest {
protected:
    std::string control(const std::string& line) { return sim::Board::instance().control().execute(line); }
};

TEST_F(LightSensor, TheMultiFunctionCardsSensorMovesTheLevel)
{
    // A multi-function card on FPGA 1's port 6: group 6, address 0x6000.
    control("cards 23 2 mf");
    bringUp();
    ASSERT_GT(runUntil([this] { return mgr().get_port_card_num(22) == 2; }, 2000), 0);
    mgr().Brightness_check_VMF();
    ASSERT_EQ(mgr().sensor().addr(), 0x6000);
    ASSERT_EQ(mgr().sensor().group(), 6);

    control("card-sensor 23 49 255");
    control("card-sensor 23 52 4");
    control("card-sensor 23 127 9");
    mgr().bri_level = 10;
    ASSERT_EQ(mgr().sensor().failures(), 0u);
    EXPECT_EQ(mgr().Brightness_read_VMF_value(), 1);
    EXPECT_EQ(mgr().sensor().answered(), true);
    EXPECT_EQ(mgr().sensor().data()[52], 4);
    EXPECT_EQ(mgr().sensor().data()[127], 9) << "all 128 data bytes";
    mgr().Brightness_auto_filter();
    EXPECT_EQ(mgr().bri_level, 9u);
    EXPECT_EQ(mgr().sensor().failures(), 0u);

    // A silent card: the read ends (ticks stand still here) as a failure.
    control("card-fault 23 silent");
    EXPECT_EQ(mgr().Brightness_read_VMF_value(), 0);
    EXPECT_EQ(mgr().sensor().failures(), 1u);
    // A bad check byte is not taken either.
    control("card-fault 23 badcheck");
    EXPECT_EQ(mgr().Brightness_read_VMF_value(), 0);
    EXPECT_EQ(mgr().sensor().failures(), 2u);

    // Stopping the card's outputs: one power channel a step, at most one
    // step every 51 ticks; after the eighth the outputs count as stopped.
    // The card does not answer register writes: each step waits 400 ms of
    // the board's clock (run fast here).
    control("card-fault 23 none");
    BoardClockSpeed fast(20);
    const std::string before = control("card-log 23");
    G_timeTicks = 1000;
    mgr().eth_data_send_stop();
    EXPECT_EQ(mgr().eth_data_step, 2);
    EXPECT_EQ(mgr().vmf_power_bits[0], 0x03) << "channel 1 off";
    mgr().eth_data_send_stop();
    EXPECT_EQ(mgr().eth_data_step, 2) << "not again within 51 ticks";
    for (int step = 2; step <= 8; ++step) {
        G_timeTicks += 51;
        mgr().eth_data_send_stop();
    }
    EXPECT_EQ(mgr().eth_data_step, 1);
    EXPECT_EQ(mgr().eth_data_stopped, 1);
    EXPECT_EQ(mgr().vmf_power_bits[0], 0xFF);
    EXPECT_EQ(mgr().vmf_power_bits[1], 0xFF);
    EXPECT_NE(control("card-log 23"), before) << "the writes reached the card's chain";
    G_timeTicks += 51;
    mgr().eth_data_send_start();
    EXPECT_EQ(mgr().vmf_power_bits[0], 0xFD) << "channel 1 on again";
}

} // namespace
