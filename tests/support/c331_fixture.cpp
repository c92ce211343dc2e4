#include "support/c331_fixture.h"

#include "avchips/velmosource.h"
#include "core/le_bytes.h"
#include "sendcard/fpga_manage.h"
#include "sim/board.h"
#include "videochip/c331_drv.h"

#include <cstring>

void C331Test::SetUp()
{
    StoreTest::SetUp();
    writeParaFile(defaultFile());
    store = load();
    g_force_bkcolor = 2;
    g_fpga_c331_start = 0;
    g_osd_update = 0;
    g_set_led_para = 0;
    g_led_panel_reinit = 0;
    fpga_manage* fpga = fpga_manage::pInstance();
    fpga->lcd_change_flag = 0;
    velmosource* source = velmosource::pInstance();
    for (int i = 0; i < 6; ++i) {
        source->edid_write_request[i] = 0;
        source->edid_custom_select[i] = 0xFF;
    }
    source->volume_update_request = 0;

    m = new c331_manage();
    m->c331_fd = m->drv->initialize();
    ASSERT_GE(m->c331_fd, 0);
    m->load_system_param();
    m->define_param();
    m->start_applied_copy();
    // The manager the other threads reach, as pInstance publishes it.
    c331_manage::p_c331_manage = m;
    chip().clearFrames();
}

void C331Test::TearDown()
{
    c331_manage::p_c331_manage = nullptr;
    delete m;
    m = nullptr;
    g_force_bkcolor = 1;
    g_fpga_c331_start = 0;
    g_osd_update = 0;
    g_set_led_para = 0;
    g_led_panel_reinit = 0;
    StoreTest::TearDown();
}

sim::C331ChipModel& C331Test::chip()
{
    return sim::Board::instance().c331();
}

std::vector<uint8_t> C331Test::writesTo(uint32_t desc, uint32_t bankOffset)
{
    const uint8_t bank = static_cast<uint8_t>(((desc >> 16) & 0xFF) + bankOffset);
    const uint8_t addr = static_cast<uint8_t>((desc >> 8) & 0x7F);
    std::vector<uint8_t> values;
    for (const auto& f : chip().frames()) {
        if (f.write() && !f.bankSelect() && f.bank == bank && f.addr() == addr)
            values.push_back(f.b1);
    }
    return values;
}

size_t C331Test::registerFrames()
{
    size_t n = 0;
    for (const auto& f : chip().frames())
        n += f.bankSelect() ? 0 : 1;
    return n;
}

void C331Test::store16(int offset, uint16_t value, unsigned char flag)
{
    ParaWriteLock lock;
    setLe16(lock.block(), offset, value);
    lock.raise(flag);
}

void C331Test::persist()
{
    test_store::persisted();
}

void C331Test::sideBySidePanel()
{
    m->pnl.ledW = 3840;
    m->pnl.ledH = 1080;
    m->pnl.och.width = 1920;
    m->pnl.och.height = 1080;
    m->pnl.och_HCnt = 2;
    m->pnl.och_VCnt = 1;
    m->pnl.splice = 3;
}
