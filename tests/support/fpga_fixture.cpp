#include "support/fpga_fixture.h"

#include "avchips/velmosource.h"
#include "core/global.h"
#include "sim/board.h"
#include "sim/spi_bus.h"
#include "videochip/c331_manage.h"

namespace {

void resetSharedState()
{
    g_fpga_c331_start = 0;
    g_force_bkcolor = 1;
    g_set_led_para = 0;
    g_led_panel_reinit = 0;
    g_set_led_setup = 0;
    g_freeze_out = 0;
    g_usb_grade = 0;
    pc_cmd_valid = 0;
    pc_cmd_time = 0;
    ScreenState = 1;
    g_send_para.code = 0;
    g_send_para.step = 255;
    g_send_para.flag = 0;
    c331_manage::para_change_flag = 0;
}

} // namespace

void FpgaTest::SetUp()
{
    StoreTest::SetUp();
    writeParaFile(defaultFile());
    load();
    resetSharedState();
    velmosource* v = velmosource::pInstance();
    v->fpga_clk_setup_state[0] = 2;
    v->fpga_clk_setup_state[1] = 2;
    fpga_manage::createForTest(false);
}

void FpgaTest::TearDown()
{
    fpga_manage::destroyForTest();
    velmosource* v = velmosource::pInstance();
    v->fpga_clk_setup_state[0] = 0;
    v->fpga_clk_setup_state[1] = 0;
    resetSharedState();
    StoreTest::TearDown();
}

sim::FpgaModel& FpgaTest::model(int fpga)
{
    return sim::Board::instance().fpga().fpga(fpga);
}

sim::NorFlashModel& FpgaTest::flash(int chip)
{
    return sim::Board::instance().fpga().flash(chip);
}

void FpgaTest::tick()
{
    ++G_timeTicks;
    mgr().fpga_manage_deal(nullptr);
}

int FpgaTest::runUntil(const std::function<bool()>& done, int maxTicks)
{
    for (int t = 1; t <= maxTicks; ++t) {
        tick();
        if (done())
            return t;
    }
    return -1;
}

void FpgaTest::bringUp()
{
    ASSERT_GT(runUntil([this] { return mgr().get_fpga_status() == 1; }, 3000), 0)
        << "states " << int(mgr().fpga_state[0]) << "/" << int(mgr().link_state[0]) << " "
        << int(mgr().fpga_state[1]) << "/" << int(mgr().link_state[1]);
}

uint64_t FpgaTest::messages(int node)
{
    return sim::Board::instance().spi().messageCount(sim::kFpgaNodes[node]);
}
