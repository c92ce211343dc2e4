// The emulated sending-card registers and pages: the image rules of
// register writes, the command page, the port link bits in the parameter
// page, the output geometry and the port link report.
#include "support/board_clock.h"
#include "support/fpga_fixture.h"
#include "support/wait_for.h"

#include "core/le_bytes.h"
#include "core/global.h"
#include "core/para_layout.h"
#include "link/message_deal.h"
#include "sim/board.h"
#include "sim/phys_mem.h"
#include "sim/spi_bus.h"

#include <QSignalSpy>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

namespace {

class FpgaImages : public FpgaTest {
protected:
    void SetUp() override
    {
        FpgaTest::SetUp();
        model(0).onRegisterWrite([this](unsigned reg, uint8_t mask, uint8_t value) {
            writes.emplace_back(reg, mask, value);
        });
    }
    void TearDown() override
    {
        model(0).onRegisterWrite(nullptr);
        FpgaTest::TearDown();
    }

    // Posts a command page as the PC's RAM write leaves it.
    void postPage(unsigned char type, unsigned char store, unsigned short length, unsigned char b8 = 0,
                  unsigned char b9 = 0)
    {
        unsigned char page[fpga_manage::kCmdPageSize];
        page[0] = 0xAA;
        page[1] = type;
        page[2] = store;
        setLe16(page, 6, length);
        page[8] = b8;
        page[9] = b9;
        for (unsigned k = 10; k < 1024; ++k)
            page[k] = static_cast<unsigned char>(k * 3);
        writeCommandPage(page, sizeof(page));
    }

    std::vector<std::tuple<unsigned, uint8_t, uint8_t>> writes;
};

TEST_F(FpgaImages, RegisterWritesFollowTheImageRules)
{
    // Masked: the register is read first, only the masked bits change.
    model(0).setReg(23, 0xA5);
    mgr().write_to_register(23, 0x0F, 0x03, 0);
    EXPECT_EQ(mgr().MCU_REG_func[0][23], 0xA3);
    EXPECT_EQ(model(0).storedReg(23), 0xA3);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], std::make_tuple(23u, uint8_t(0x0F), uint8_t(0xA3)));

    // Image-only, ignored and refused registers send nothing.
    const uint64_t sent = messages(0);
    mgr().write_to_register(64, 0xFF, 0x37, 0);
    EXPECT_EQ(mgr().MCU_REG_func[0][64], 0x37);
    mgr().write_to_register(66, 0x01, 0xFF, 0);
    EXPECT_EQ(mgr().MCU_REG_func[0][66], 0x01);
    mgr().MCU_REG_func[0][100] = 0x11;
    mgr().write_to_register(100, 0xFF, 0x22, 0);
    mgr().write_to_register(171, 0xFF, 0x22, 0);
    mgr().read_from_register(64, 0);
    mgr().read_from_register(100, 0);
    mgr().read_from_register(171, 0);
    EXPECT_EQ(mgr().MCU_REG_func[0][100], 0x11);
    EXPECT_EQ(mgr().MCU_REG_func[0][171], 0);
    EXPECT_EQ(messages(0), sent);

    // Register 0 bit 2 is the black-out: the screen state follows it. A
    // manager that has written no register 0 yet says shown.
    EXPECT_EQ(mgr().MCU_RAM_EXTEND[29], 1);
    mgr().write_to_register(0, 0x04, 0x04, 0);
    EXPECT_EQ(ScreenState.load(), 0);
    EXPECT_EQ(mgr().MCU_RAM_EXTEND[29], 0);
    mgr().write_to_register(0, 0x04, 0x00, 0);
    EXPECT_EQ(ScreenState.load(), 1);
    EXPECT_EQ(mgr().MCU_RAM_EXTEND[29], 1);

    // Any fpga other than 0 is FPGA 1.
    mgr().write_to_register(23, 0xFF, 0x5A, 9);
    EXPECT_EQ(model(1).storedReg(23), 0x5A);
    EXPECT_EQ(mgr().MCU_REG_func[1][23], 0x5A);
}

TEST_F(FpgaImages, RegisterTwoStrobesStayInTheImageAndRunTheCommandPage)
{
    // No command posted (byte 0 not 0xAA): bit 2 goes out as 0 and nothing runs.
    const unsigned char unposted[10] = {0x00, 3, 0, 0, 0, 0, 0, 0, 0, 9};
    writeCommandPage(unposted, sizeof(unposted));
    mgr().write_to_register(2, 0x04, 0x04, 0);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], std::make_tuple(2u, uint8_t(0x04), uint8_t(0x00)));
    EXPECT_EQ(mgr().MCU_REG_func[0][2] & 0x04, 0x04);
    EXPECT_EQ(mgr().MCU_REG_func[0][64], 0);

    // Manual brightness posted: runs once, level and register 64 image set,
    // the record stored at 0x6CE000 and its mode taken at once.
    postPage(3, 0xAA, 49, 0x10, 7);   // mode 16 counts as manual
    mgr().write_to_register(2, 0x06, 0x06, 0);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(std::get<2>(writes[1]), 0x00) << "the strobes reached the FPGA";
    EXPECT_EQ(mgr().MCU_REG_func[0][2] & 0x06, 0x06);
    EXPECT_EQ(mgr().MCU_REG_func[0][64], 7);
    EXPECT_EQ(mgr().bri_level, 7u);
    EXPECT_EQ(mgr().bri_mode, 0x10);
    const std::vector<uint8_t> record = flash(2).peek(fpga_manage::kBrightRecord, 49 + 8 + 1);
    EXPECT_TRUE(std::equal(record.begin(), record.end() - 1, mgr().command_page.take().begin()));
    EXPECT_EQ(record.back(), 0xFF) << "more than bytes 0..n+7 were stored";
}

TEST_F(FpgaImages, CommandPageRecordsAreStoredClearedAndBoundedByThePage)
{
    // On/off table: stored and marked, then cleared.
    postPage(2, 0xAA, 12, 1);
    mgr().Dealwith_mcu_ram();
    EXPECT_EQ(mgr().MCU_REG_func[0][66], 1);
    EXPECT_EQ(flash(2).peek(fpga_manage::kOnOffRecord, 2), std::vector<uint8_t>({0xAA, 2}));
    postPage(2, 0x55, 12, 1);
    mgr().Dealwith_mcu_ram();
    EXPECT_EQ(mgr().MCU_REG_func[0][66], 0);
    EXPECT_EQ(flash(2).peek(fpga_manage::kOnOffRecord, 2), std::vector<uint8_t>({0xFF, 0xFF}));

    // Table mode: the stored record may fill the page, never more; one past
    // it is shown and not stored.
    flash(2).poke(fpga_manage::kBrightRecord, {0x5A});
    ASSERT_EQ(mgr().bri_mode, 0);
    postPage(3, 0xAA, 1017, 1);
    mgr().Dealwith_mcu_ram();
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 1)[0], 0x5A) << "a record past the page was stored";
    EXPECT_EQ(mgr().bri_mode, 1) << "a record past the page was not shown";
    // A sensor read nobody answers (a card found, silent) counts a failure;
    // the stored record starts the count again.
    {
        BoardClockSpeed fast(100);
        mgr().MCU_RAM_PARA_func[0][fpga_manage::kCardStatusOffset[0]] = 1;
        mgr().Brightness_check_VMF();
        EXPECT_EQ(mgr().Brightness_read_VMF_value(), 0);
        mgr().MCU_RAM_PARA_func[0][fpga_manage::kCardStatusOffset[0]] = 0;
        ASSERT_EQ(mgr().sensor().failures(), 1u);
    }
    postPage(3, 0xAA, 1016, 1);
    mgr().Dealwith_mcu_ram();
    const std::vector<uint8_t> record = flash(2).peek(fpga_manage::kBrightRecord, 1024);
    EXPECT_TRUE(std::equal(record.begin(), record.end(), mgr().command_page.take().begin()));
    EXPECT_EQ(mgr().bri_mode, 1);
    EXPECT_EQ(mgr().sensor().failures(), 0u);

    // A manual level whose record does not fit: the level is shown, nothing
    // stored, the table stays the mode.
    postPage(3, 0xAA, 0xFFFF, 0, 12);
    mgr().Dealwith_mcu_ram();
    EXPECT_EQ(mgr().MCU_REG_func[0][64], 12);
    EXPECT_EQ(mgr().bri_mode, 1);
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 1024), record);

    // Clear, and a page not posted.
    postPage(3, 0x55, 49, 2);
    mgr().Dealwith_mcu_ram();
    EXPECT_EQ(flash(2).peek(fpga_manage::kBrightRecord, 1)[0], 0xFF);
    flash(2).poke(fpga_manage::kOnOffRecord, {0x5A});
    const unsigned char notPosted[3] = {0x55, 2, 0x55};
    writeCommandPage(notPosted, sizeof(notPosted));
    mgr().Dealwith_mcu_ram();
    EXPECT_EQ(flash(2).peek(fpga_manage::kOnOffRecord, 1)[0], 0x5A) << "a page not posted was run";
}

// The PC's command page runs in a link thread and the FPGA thread takes the
// record lock for its brightness and schedule work: the page decides and
// copies under it, and stores to the flash once it has given it back.
TEST_F(FpgaImages, TheCommandPageGivesTheRecordLockBackBeforeItStoresToFlash)
{
    int selects = 0;
    int held = 0;
    sim::Board::instance().mem().onWrite(sim::PhysMemModel::kRiuBase + kFpga0FlashPad, [&](uint16_t v) {
        if (v & 0x10)
            return;
        ++selects;
        if (pthread_mutex_trylock(&mgr().fpga_record_mutex) == 0)
            pthread_mutex_unlock(&mgr().fpga_record_mutex);
        else
            ++held;
    });
    postPage(3, 0xAA, 49, 1);
    mgr().write_to_register(2, 0x04, 0x04, 0);
    sim::Board::instance().mem().onWrite(sim::PhysMemModel::kRiuBase + kFpga0FlashPad, nullptr);
    // The erase and the program, and the flash selected again for each
    // poll of its busy waits (the bus is free between them).
    EXPECT_GE(selects, 2) << "erase and program";
    EXPECT_EQ(held, 0);
}

// While the flash behind FPGA 0 stays busy and a command page's store waits
// for it, a PC's other requests are each answered while the flash is still
// stuck (it is freed once they are, or after 2 s): its register-64 write, a
// show-only command page, a read of register 64. A second page stored
// meanwhile waits for the first one's store; once the flash is back, the
// record that stands is the later page's.
TEST_F(FpgaImages, AFlashThatStaysBusyHoldsOnlyTheStoreThatWaitsForIt)
{
    auto strobe = [] { return link_services::sendcard_write_register(0, 2, 0x04, 0x04) == link_frame::kOk; };
    auto level = [] {
        unsigned char v = 0;
        return link_services::sendcard_read_registers(0, fpga_manage::kImageBrightLevel, 1, &v) == link_frame::kOk ? int(v) : -1;
    };
    flash(2).setStuckBusy(true);
    std::atomic<bool> stuck{true};
    std::atomic<bool> answered{false};
    std::thread freer([&] {
        waitFor([&] { return answered.load(); }, 2000);
        stuck = false;
        flash(2).setStuckBusy(false);
    });
    const uint64_t polls = flash(2).counters().statusReads;
    std::thread first([&] {
        postPage(3, 0xAA, 49, 16, 0x21);
        strobe();
    });
    ASSERT_TRUE(waitFor([&] { return flash(2).counters().statusReads > polls + 2; })) << "the store waits";
    EXPECT_EQ(link_services::sendcard_write_register(0, fpga_manage::kImageBrightLevel, 0xFF, 0x33), link_frame::kOk);
    EXPECT_TRUE(stuck) << "the register-64 write waited for the flash";
    EXPECT_EQ(level(), 0x33);
    EXPECT_TRUE(stuck) << "the read of register 64 waited for the flash";
    postPage(3, 0x00, 49, 16, 0x44);
    EXPECT_TRUE(strobe());
    EXPECT_TRUE(stuck) << "the show-only page waited for the flash";
    EXPECT_EQ(level(), 0x44);
    std::thread later([&] {
        postPage(3, 0xAA, 49, 16, 0x55);
        strobe();
    });
    EXPECT_TRUE(waitFor([&] { return mgr().flash_stores_waiting() == 1; }, 1000)) << "the later store is asked meanwhile";
    EXPECT_TRUE(stuck) << "the later page waited for the flash";
    answered = true;
    first.join();
    later.join();
    freer.join();
    EXPECT_EQ(level(), 0x55);
    const std::vector<uint8_t> record = flash(2).peek(fpga_manage::kBrightRecord, 57);
    EXPECT_EQ(record[8], 16);
    EXPECT_EQ(record[9], 0x55) << "the later page's record stands";
}

// Two PCs write the command page at once, each from its own link thread,
// by RAM writes and strobes as the link carries them: PC A stores on/off
// tables and manual levels, each page written whole, then strobed; PC B
// writes show-only pages (store byte 0) over the same bytes meanwhile,
// strobed now and then, and asks to store one now and then too. A strobe
// may run the other PC's page (the page is one for both), but whatever
// the order, each record the flash holds after a round is one a PC asked
// to store, whole.
TEST_F(FpgaImages, TwoPcsWritingTheCommandPageAtOnceStoreOnlyWholeRecordsTheyAskedFor)
{
    constexpr unsigned kOnOffSize = 8 + 17;    // type 2: four entries
    constexpr unsigned kBrightSize = 8 + 49;   // type 3: mode, 48 levels
    auto bcd = [](unsigned v) { return static_cast<unsigned char>((v / 10) << 4 | v % 10); };
    // A page of type 2 or 3 whose bytes say who wrote it and when (n).
    auto page = [&](unsigned char type, bool store, unsigned n) {
        std::vector<unsigned char> p(64, 0);
        p[0] = 0xAA;
        p[1] = type;
        p[2] = store ? 0xAA : 0x00;
        setLe16(p.data(), 6, type == 2 ? 17 : 49);
        if (type == 2) {
            p[8] = 4;
            for (unsigned k = 0; k < 16; k += 2) {
                p[9 + k] = bcd((n + k) % 24);
                p[10 + k] = bcd((n / 24 + k) % 60);
            }
        } else {
            p[8] = 0x10;   // a manual level of 8-bit levels
            for (unsigned k = 9; k < kBrightSize; ++k)
                p[k] = static_cast<unsigned char>(1 + n % 250);
        }
        return p;
    };
    auto write = [](const std::vector<unsigned char>& p) {
        return link_services::sendcard_write_ram(0, 0x10000, p.data(), static_cast<int>(p.size()));
    };
    auto strobe = [] { return link_services::sendcard_write_register(0, 2, 0x04, 0x04); };

    // What the flash held before, and every record a PC asked to store.
    std::vector<std::vector<unsigned char>> onOffAsked = {flash(2).peek(fpga_manage::kOnOffRecord, kOnOffSize)};
    std::vector<std::vector<unsigned char>> brightAsked = {flash(2).peek(fpga_manage::kBrightRecord, kBrightSize)};
    std::mutex askedMutex;
    auto asked = [&](const std::vector<unsigned char>& p) {
        std::lock_guard<std::mutex> l(askedMutex);
        if (p[1] == 2)
            onOffAsked.emplace_back(p.begin(), p.begin() + kOnOffSize);
        else
            brightAsked.emplace_back(p.begin(), p.begin() + kBrightSize);
    };
    auto oneOf = [](const std::vector<unsigned char>& r, const std::vector<std::vector<unsigned char>>& set) {
        return std::find(set.begin(), set.end(), r) != set.end();
    };

    int badStatus = 0;
    long bWrites = 0, bStrobes = 0;
    for (unsigned round = 0; round < 60; ++round) {
        std::atomic<bool> aDone{false};
        std::thread pcA([&] {
            for (unsigned k = 0; k < 2; ++k) {
                const auto p = page(static_cast<unsigned char>(2 + (round + k) % 2), true, 1000 * round + k);
                asked(p);
                if (write(p) != link_frame::kOk || strobe() != link_frame::kOk)
                    ++badStatus;
            }
            aDone = true;
        });
        std::thread pcB([&] {
            for (unsigned n = 0; !aDone.load() || n < 8; ++n) {
                const bool store = n % 16 == 15;
                const auto p = page(static_cast<unsigned char>(2 + n % 2), store, 500000 + 1000 * round + n);
                if (store)
                    asked(p);
                write(p);
                ++bWrites;
                if (store || n % 4 == 3) {
                    strobe();
                    ++bStrobes;
                }
            }
        });
        pcA.join();
        pcB.join();
        const auto onOff = flash(2).peek(fpga_manage::kOnOffRecord, kOnOffSize);
        const auto bright = flash(2).peek(fpga_manage::kBrightRecord, kBrightSize);
        ASSERT_TRUE(oneOf(onOff, onOffAsked)) << "round " << round << ": an on/off record nobody stored: "
                                              << ::testing::PrintToString(onOff);
        ASSERT_TRUE(oneOf(bright, brightAsked)) << "round " << round << ": a brightness record nobody stored: "
                                                << ::testing::PrintToString(bright);
    }
    EXPECT_EQ(badStatus, 0);
    EXPECT_GT(bStrobes, 0);
    EXPECT_GT(bWrites, bStrobes);
}

TEST(FpgaPortAreas, AddressesOfEachPort)
{
    const unsigned short first[16] = {8, 19, 32, 43, 520, 528, 536, 544, 576, 584, 592, 600, 608, 616, 624, 632};
    for (unsigned p = 0; p < 16; ++p) {
        unsigned short x, y, w, h;
        EXPECT_EQ(fpga_manage::get_eth_param_addr(static_cast<unsigned char>(p), &x, &y, &w, &h), 0);
        EXPECT_EQ(x, first[p]) << p;
        EXPECT_EQ(y, first[p] + 2);
        EXPECT_EQ(w, first[p] + 4);
        EXPECT_EQ(h, first[p] + 6);
    }
    for (unsigned char p : {16, 31, 255}) {
        unsigned short x, y, w, h;
        fpga_manage::get_eth_param_addr(p, &x, &y, &w, &h);
        EXPECT_EQ(x, 8);
        EXPECT_EQ(h, 14);
    }
}

TEST_F(FpgaImages, PortLinkBitsAndDroppedCardCountsReachThePage)
{
    unsigned char* page = mgr().MCU_RAM_PARA_func[0];
    page[96] = 0xE4;     // bits 2 and 5-7 are kept
    page[512] = 0xA0;    // the high nibble is kept
    for (int p = 0; p < 16; ++p) {
        setLe16(page, fpga_manage::kCardCountOffset[p], static_cast<uint16_t>(p + 1));
        page[fpga_manage::kCardStatusOffset[p]] = 1;
    }
    mgr().write_fpga_ram(page, 0, 1024, 1, 0);
    for (int p : {0, 2, 4, 8, 15})
        model(0).setPortLink(p, true);

    mgr().update_eth_state(0);
    EXPECT_EQ(page[96], 0xE4 | 0x01 | 0x08);
    EXPECT_EQ(page[512], 0xA1);
    EXPECT_EQ(page[513], 0x81);
    const std::vector<uint8_t> fpga = model(0).ram(1, 0, 1024);
    EXPECT_EQ(fpga[96], page[96]);
    EXPECT_EQ(fpga[512], page[512]);
    EXPECT_EQ(fpga[513], page[513]);
    for (int p = 0; p < 16; ++p) {
        const bool linked = p == 0 || p == 2 || p == 4 || p == 8 || p == 15;
        SCOPED_TRACE(p);
        EXPECT_EQ(le16(page, fpga_manage::kCardCountOffset[p]), linked ? p + 1 : 0);
        EXPECT_EQ(le16(fpga.data(), fpga_manage::kCardCountOffset[p]), linked ? p + 1 : 0);
        EXPECT_EQ(fpga[fpga_manage::kCardStatusOffset[p]], linked ? 1 : 0);
    }
}

TEST_F(FpgaImages, GeometryFollowsTheOutputOffsetWithin16Bits)
{
    unsigned char* page = mgr().MCU_RAM_PARA_func[0];
    for (int k = 0; k < 1024; ++k)
        page[k] = static_cast<unsigned char>(k * 7 + 1);
    std::vector<unsigned char> before(page, page + 1024);
    mgr().K47_back_mcu_set_net_para(0);
    const unsigned char* back = mgr().MCU_RAM_ETH_BACK_PARA_func[0];
    EXPECT_EQ(le16(back, 0), le16(page, 60));
    EXPECT_EQ(le16(back, 12), le16(page, 19));
    EXPECT_EQ(le16(back, 132), le16(page, 56));

    // Offset 0: the page equals the saved geometry again.
    mgr().K47_mcu_set_net_para(0);
    EXPECT_EQ(std::vector<unsigned char>(page, page + 1024), before);

    unsigned char* block = test_store::unguarded_block();
    setLe16(block, para::kPanelResult, 0x0200);
    setLe16(block, para::kPanelResult + 2, 0xFFF0);
    setLe16(mgr().MCU_RAM_ETH_BACK_PARA_func[0], 4, 0xFF00);   // port 0 x
    mgr().K47_mcu_set_net_para(0);
    EXPECT_EQ(le16(page, 8), 0x0100) << "x wraps within 16 bits";
    EXPECT_EQ(le16(page, 10), static_cast<uint16_t>(le16(back, 6) + 0xFFF0));
    EXPECT_EQ(le16(page, 632), static_cast<uint16_t>(le16(back, 124) + 0x200));
    EXPECT_EQ(le16(page, 12), le16(before.data(), 12)) << "a width moved";
    EXPECT_EQ(le16(page, 636), le16(before.data(), 636)) << "a width moved";

    // FPGA 1's area starting where FPGA 0's ends gets its origin at 0.
    unsigned char* second = mgr().MCU_RAM_PARA_func[1];
    setLe16(page, 56, 100);
    setLe16(page, 60, 1280);
    setLe16(page, 58, 0);
    setLe16(page, 62, 512);
    setLe16(mgr().MCU_RAM_ETH_BACK_PARA_func[1], 56, 1380);
    setLe16(mgr().MCU_RAM_ETH_BACK_PARA_func[1], 58, 7);
    setLe16(second, 56, 1380);
    setLe16(second, 58, 7);
    mgr().K47_mcu_set_lcd_x_y_para(0);
    EXPECT_EQ(le16(second, 56), 1380);
    mgr().K47_mcu_set_lcd_x_y_para(1);
    EXPECT_EQ(le16(second, 56), 0);
    EXPECT_EQ(le16(second, 58), 7);
}

TEST_F(FpgaImages, ScreenControlsActOnBothFpgas)
{
    const uint64_t sent0 = messages(0);
    mgr().SCREEN_fpgactrl_status(6);
    mgr().SCREEN_fpgactrl_status(12);
    EXPECT_EQ(messages(0), sent0);
    mgr().SCREEN_fpgactrl_status(9);
    EXPECT_EQ(messages(0), sent0 + 2) << "one register read";
    EXPECT_TRUE(writes.empty());

    mgr().SCREEN_fpgactrl_status(4);
    mgr().SCREEN_fpgactrl_status(8);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(model(i).storedReg(3) & 0x20, 0x20);
        EXPECT_EQ(model(i).storedReg(23) & 0x01, 0x01);
    }
    mgr().SCREEN_fpgactrl_status(5);
    mgr().SCREEN_fpgactrl_status(2);
    mgr().SCREEN_fpgactrl_status2(10, 1);
    EXPECT_EQ(model(0).storedReg(3) & 0x20, 0);
    EXPECT_EQ(model(1).storedReg(0) & 0x02, 0x02);
    EXPECT_EQ(model(1).storedReg(23) & 0x08, 0x08);
    EXPECT_EQ(model(0).storedReg(23) & 0x08, 0);
}

// Answers register reads from a script (command word, then data phase).
class ScriptedRegisters : public sim::SpiDevice {
public:
    explicit ScriptedRegisters(std::function<uint8_t(unsigned)> answer) : answer_(std::move(answer)) {}
    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len, uint32_t) override
    {
        if (command_ && len == 4) {
            reg_ = tx[2];
            read_ = tx[0] & 1;
        } else if (!command_ && read_ && rx) {
            for (uint32_t i = 0; i < len; ++i)
                rx[i] = answer_(reg_);
        }
    }
    void endMessage() override { command_ = !command_; }

private:
    std::function<uint8_t(unsigned)> answer_;
    bool command_ = true;
    unsigned reg_ = 0;
    bool read_ = false;
};

TEST_F(FpgaImages, RelockNeedsMoreThanThreeOfEightSamplesWithoutTheLock)
{
    int sample = 0;
    int missing = 3;
    sim::Board::instance().spi().attach(sim::kFpgaNodes[0], std::make_shared<ScriptedRegisters>([&](unsigned reg) {
        if (reg != 40)
            return uint8_t(0);
        const bool locked = (sample++ % 8) >= missing;
        return uint8_t(locked ? 0x1C : 0x0C);   // bit 4 missing
    }));
    G_timeTicks = 100;
    EXPECT_EQ(mgr().check_vbo_status(0), 0);
    EXPECT_EQ(sample, 8);
    missing = 4;
    G_timeTicks += 10;
    EXPECT_EQ(mgr().check_vbo_status(0), 1);
    EXPECT_EQ(sample, 16);
}

TEST_F(FpgaImages, ARelockClearsAndRepeatsTheInitSteps)
{
    model(1).setFault(sim::FpgaModel::Fault::NoLock);
    model(1).setReg(3, 0xC0);
    G_timeTicks = 100;
    EXPECT_EQ(mgr().check_vbo_status(1), 1);
    EXPECT_EQ(model(1).storedReg(3) & 0xC0, 0);
    EXPECT_EQ(mgr().check_vbo_status(1), 1) << "at most once every 10 ticks";
    EXPECT_EQ(mgr().vbo_relock_step[1], 0);
    G_timeTicks += 10;
    mgr().check_vbo_status(1);
    EXPECT_EQ(model(1).storedReg(3) & 0xC0, 0x40);
    G_timeTicks += 10;
    EXPECT_EQ(mgr().check_vbo_status(1), 0) << "register 22 bit 3 clear ends the relock";
    EXPECT_EQ(model(1).storedReg(3) & 0xC0, 0xC0);

    // An init error that never clears: given up after 1000 tries.
    model(1).setFault(sim::FpgaModel::Fault::InitError);
    mgr().vbo_relock[1] = 1;
    mgr().vbo_relock_step[1] = 1;
    mgr().vbo_relock_try[1] = 998;
    G_timeTicks += 10;
    EXPECT_EQ(mgr().check_vbo_status(1), 1);
    G_timeTicks += 10;
    EXPECT_EQ(mgr().check_vbo_status(1), 0);
}

TEST_F(FpgaImages, WlanStateAndItsReport)
{
    model(0).setPortLink(3, true);
    model(1).setPortLink(0, true);
    model(1).setPortLink(15, true);
    EXPECT_EQ(mgr().get_wlan_state(), 0u) << "no FPGA running";
    mgr().MCU_REG_func[1][80] = 3;
    EXPECT_EQ(mgr().get_wlan_state(), 0x80010000u) << "only FPGA 1 running";

    QSignalSpy spy(ZdrRamPara::p_zdrrampara_config, &ZdrRamPara::sig_update_para);
    bringUp();
    const int before = spy.count();
    ASSERT_GE(before, 1) << "the first link pair is reported";
    EXPECT_EQ(spy.last().at(0).toInt(), 11);
    EXPECT_EQ(mgr().get_wlan_state(), 0x80010008u);
    tick();
    EXPECT_EQ(spy.count(), before) << "an unchanged pair is reported again";
    model(0).setPortLink(9, true);
    tick();
    ASSERT_EQ(spy.count(), before + 1);
    EXPECT_EQ(spy.last().at(0).toInt(), 11);
    EXPECT_EQ(mgr().wlan_reported[0], 0x0208);
}

// The port areas of a parameter page: smallest origin, farthest edges, and
// the page's screen origin and size (bytes 56..63).
TEST_F(FpgaImages, PortAreaBoundsOfAParameterPage)
{
    unsigned char* page = mgr().MCU_RAM_PARA_func[1];
    mgr().eth_param_init(1, 1);                    // every port 0, 0, 1280 x 512
    setLe16(page, 43, 100);                        // port 3: x 100, y 50 (43, 45)
    setLe16(page, 45, 50);
    setLe16(page, 584, 2000);                      // port 9: 2000, 1000, 500 x 100
    setLe16(page, 586, 1000);
    setLe16(page, 588, 500);
    setLe16(page, 590, 100);
    for (int b = 56; b < 64; b += 2)
        setLe16(page, b, static_cast<uint16_t>(b * 10));
    unsigned short a = 0, b = 0;
    mgr().get_eth_min_x_y(1, &a, &b);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    mgr().get_eth_max_border(1, &a, &b);
    EXPECT_EQ(a, 2500);
    EXPECT_EQ(b, 1100);
    mgr().get_eth_lcd_x_y(1, &a, &b);
    EXPECT_EQ(a, 560);
    EXPECT_EQ(b, 580);
    mgr().get_eth_lcd_w_h(1, &a, &b);
    EXPECT_EQ(a, 600);
    EXPECT_EQ(b, 620);
}

} // namespace

