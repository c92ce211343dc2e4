// The light sensor read of the automatic brightness: the multi-function
// card found by the card search answers the sensor read over its port.
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
    ASSERT_EQ(mgr().vmf_addr, 0x6000);
    ASSERT_EQ(mgr().vmf_group, 6);

    control("card-sensor 23 49 255");
    control("card-sensor 23 52 4");
    control("card-sensor 23 127 9");
    mgr().bri_level = 10;
    mgr().bri_sensor_fail = 0;
    EXPECT_EQ(mgr().Brightness_read_VMF_value(), 1);
    EXPECT_EQ(mgr().vmf_reply_ok, 1);
    EXPECT_EQ(mgr().vmf_data[52], 4);
    EXPECT_EQ(mgr().vmf_data[127], 9) << "all 128 data bytes";
    mgr().Brightness_auto_filter();
    EXPECT_EQ(mgr().bri_level, 9u);
    EXPECT_EQ(mgr().bri_sensor_fail, 0u);

    // A silent card: the read ends (ticks stand still here) as a failure.
    control("card-fault 23 silent");
    EXPECT_EQ(mgr().Brightness_read_VMF_value(), 0);
    EXPECT_EQ(mgr().bri_sensor_fail, 1u);
    // A bad check byte is not taken either.
    control("card-fault 23 badcheck");
    EXPECT_EQ(mgr().Brightness_read_VMF_value(), 0);
    EXPECT_EQ(mgr().bri_sensor_fail, 2u);
}

} // namespace
