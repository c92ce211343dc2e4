// Command handlers of the control protocol: reply layout, RAM and register
// access to the processor, the flag and request registers, parameter items,
// device information, network and clock.
#include "support/link_fixture.h"

#include "avchips/velmosource.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/para_layout.h"
#include "link/k47_wifi_config.h"
#include "link/link_global.h"
#include "link/protocol_phy.h"
#include "sendcard/fpga_manage.h"
#include "sim/board.h"
#include "sim/shell_model.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <QSettings>
#include <atomic>
#include <memory>
#include <cstring>
#include <set>
#include <thread>

using namespace pcclient;

namespace {

constexpr unsigned char kWriteRam = 0x60, kReadRam = 0x61, kWriteReg = 0xA0, kReadReg = 0xA1, kItems = 0xB0;

} // namespace

using LinkHandlers = LinkTest;

TEST_F(LinkHandlers, ReplySwapsTheAddressesKeepsTheHeaderAndChecks)
{
    Bytes body = buildBody(kProcessor, kWriteRam, ramWritePayload(0x562, Bytes{0x00, 0x05}), 0);
    body[4] = 0x34;   // length word, carried
    body[5] = 0x12;
    body[6] = 0x77;   // port select, carried
    body[8] = 0x99;   // spare, carried
    body.back() = 0;
    for (size_t i = 0; i + 1 < body.size(); ++i)
        body.back() ^= body[i];
    const int n = deal.message_group_deal(body.data(), static_cast<int>(body.size()), defaultOrigin());
    const Bytes reply(deal.reply(), deal.reply() + n);
    Bytes expect{0x10, 0xF0, 0x01, 0xF0, 0x34, 0x12, 0x77, 0x00, 0x99, 0x60, 0x00};
    unsigned char x = 0;
    for (unsigned char b : expect)
        x ^= b;
    expect.push_back(x);
    EXPECT_EQ(reply, expect);
    EXPECT_EQ(le16(store->ram_para, 0x562), 0x0500);
}

TEST_F(LinkHandlers, FramesNotForTheDeviceOrTooEarlyGetNoReply)
{
    const Bytes payload = ramReadPayload(0, 4);
    EXPECT_TRUE(call(0xF002, kReadRam, payload).body.empty());
    EXPECT_TRUE(call(0x0001, kReadRam, payload).body.empty());   // pass-through, not the dispatcher's
    EXPECT_EQ(call(kProcessor, kReadRam, payload).status, 0);

    // Before the store, the chip manager and the FPGA manager exist.
    message_deal::services_ready = &message_deal::default_services_ready;
    EXPECT_TRUE(call(kProcessor, kReadRam, payload).body.empty());

    const Bytes body = buildBody(0xF000, kReadRam, payload);
    EXPECT_TRUE(link_frame::isForDevice(body.data(), static_cast<int>(body.size())));
    const Bytes pass = buildBody(0x0FFF, 0x61, payload);
    EXPECT_TRUE(link_frame::isPassThrough(pass.data(), static_cast<int>(pass.size())));
    const Bytes notPc = buildBody(0x0FFF, 0x61, payload, 0, 0xF011);
    EXPECT_FALSE(link_frame::isPassThrough(notPc.data(), static_cast<int>(notPc.size())));
}

TEST_F(LinkHandlers, UnknownCommandAndBadLengths)
{
    EXPECT_EQ(callProcessor(0x42, Bytes{}).status, 5);
    // The count does not match the data carried.
    Bytes p = ramWritePayload(0x562, Bytes{1, 2, 3});
    p.pop_back();
    EXPECT_EQ(callProcessor(kWriteRam, p).status, 1);
    EXPECT_EQ(callProcessor(kWriteRam, Bytes{0, 0, 0}).status, 1);
    EXPECT_EQ(callProcessor(kReadRam, Bytes{0, 0, 0, 0, 4, 0}).status, 1);
    EXPECT_EQ(callProcessor(kWriteReg, Bytes{11, 0, 0xFF}).status, 1);
    EXPECT_EQ(callProcessor(kItems, Bytes{}).status, 1);
}

TEST_F(LinkHandlers, RamWriteStoresIntoBlockAndSlotsWithoutRaisingTheFlag)
{
    EXPECT_EQ(callProcessor(kWriteRam, ramWritePayload(4000, Bytes(96, 0x5C))).status, 0);
    EXPECT_EQ(store->ram_para[4095], 0x5C);
    EXPECT_EQ(callProcessor(kWriteRam, ramWritePayload(4000, Bytes(97, 0x11))).status, 1);
    EXPECT_EQ(store->ram_para[4000], 0x5C);

    EXPECT_EQ(callProcessor(kWriteRam, ramWritePayload(0x10000, Bytes{0xAA, 0xAA, 0x42})).status, 0);
    EXPECT_EQ(store->mode_user_para[15][2], 0x42);
    EXPECT_EQ(callProcessor(kWriteRam, ramWritePayload(0x1FFF, Bytes{0x33})).status, 0);
    EXPECT_EQ(store->mode_user_para[0][0xFFF], 0x33);
    EXPECT_EQ(callProcessor(kWriteRam, ramWritePayload(0x1FFF, Bytes{0x33, 0x34})).status, 1);
    EXPECT_EQ(callProcessor(kWriteRam, ramWritePayload(0x11000, Bytes{1})).status, 1);
    EXPECT_EQ(callProcessor(kWriteRam, ramWritePayload(0xFFFFFFFF, Bytes{1})).status, 1);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);
}

TEST_F(LinkHandlers, RamReadServesBlockAndSlotsWithinTheirBounds)
{
    setLe16(ParaWriteLock().block(), para::kLedWidth, 3840);
    Reply r = callProcessor(kReadRam, ramReadPayload(para::kLedWidth, 2));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.data, (Bytes{0x00, 0x0F}));

    ParaWriteLock().slot(4)[0] = 0xAA;
    ParaWriteLock().slot(4)[4095] = 0x17;
    r = callProcessor(kReadRam, ramReadPayload(0x5000, 1));
    EXPECT_EQ(r.data, Bytes{0xAA});
    r = callProcessor(kReadRam, ramReadPayload(0x5FFF, 1));
    EXPECT_EQ(r.data, Bytes{0x17});

    EXPECT_EQ(callProcessor(kReadRam, ramReadPayload(0xFFF, 2)).status, 1);
    EXPECT_TRUE(callProcessor(kReadRam, ramReadPayload(0xFFF, 2)).data.empty());
    EXPECT_EQ(callProcessor(kReadRam, ramReadPayload(0x5FFF, 2)).status, 1);
    EXPECT_EQ(callProcessor(kReadRam, ramReadPayload(0x11000, 1)).status, 1);
    EXPECT_EQ(callProcessor(kReadRam, ramReadPayload(0, 0)).status, 1);
    EXPECT_EQ(callProcessor(kReadRam, ramReadPayload(0, 4097)).status, 1);
    r = callProcessor(kReadRam, ramReadPayload(0, 4096));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.data.size(), 4096u);
}

TEST_F(LinkHandlers, FlagRegisterRaisesTheChangeFlag)
{
    const unsigned char* image = store->run_status;
    EXPECT_EQ(callProcessor(kWriteReg, regWritePayload({{11, 0xFF, 0x01}})).status, 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(image[11], 0x01);

    c331_manage::para_change_flag = 0;
    callProcessor(kWriteReg, regWritePayload({{11, 0xFF, 0x02}}));
    EXPECT_EQ(c331_manage::para_change_flag.load(), 2);
    // A pending 2 is not lowered to 1 by a later write.
    callProcessor(kWriteReg, regWritePayload({{11, 0xFF, 0x01}}));
    EXPECT_EQ(c331_manage::para_change_flag.load(), 2);

    // Bit 3 asks for the OSD menu only while the OSD is on.
    c331_manage::para_change_flag = 0;
    callProcessor(kWriteReg, regWritePayload({{11, 0xFF, 0x09}}));
    EXPECT_EQ(g_osd_update.load(), 0u);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    setLe16(ParaWriteLock().block(), para::kOsdOn, 1);
    callProcessor(kWriteReg, regWritePayload({{11, 0xFF, 0x08}}));
    EXPECT_EQ(g_osd_update.load(), 1u);

    // Masked-off bits do nothing; the image keeps its other bits.
    c331_manage::para_change_flag = 0;
    ParaWriteLock().status()[11] = 0xF0;
    callProcessor(kWriteReg, regWritePayload({{11, 0x0C, 0x03}}));
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);
    EXPECT_EQ(image[11], 0xF0);
}

TEST_F(LinkHandlers, RequestRegisters160To164)
{
    const unsigned char* image = store->run_status;
    ParaWriteLock().status()[32] = 0xF0;
    EXPECT_EQ(callProcessor(kWriteReg, regWritePayload({{160, 0x0F, 0x35}})).status, 0);
    EXPECT_EQ(image[32], 0xF5);
    EXPECT_EQ(image[160], 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);

    EXPECT_EQ(callProcessor(kWriteReg, regWritePayload({{162, 0x0F, 0x35}})).status, 0);
    EXPECT_EQ(image[34], 0x05);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    c331_manage::para_change_flag = 0;
    callProcessor(kWriteReg, regWritePayload({{163, 0x00, 0x04}}));
    EXPECT_EQ(image[35], 0x05);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    c331_manage::para_change_flag = 0;
    callProcessor(kWriteReg, regWritePayload({{164, 0xF0, 0x3C}}));
    EXPECT_EQ(image[36], 0x30);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);

    // 161: bit 0 schedules the reboot, bit 1 asks for the chip print (no
    // chip manager in this test); neither is stored.
    G_timeTicks = 1234;
    EXPECT_EQ(callProcessor(kWriteReg, regWritePayload({{161, 0xFF, 0x01}})).status, 0);
    EXPECT_EQ(g_app_reset_flag.load(), 1);
    EXPECT_EQ(G_reboot_tickTicks.load(), 1234u);
    EXPECT_EQ(image[161], 0);
    EXPECT_EQ(image[33], 0);
    EXPECT_EQ(callProcessor(kWriteReg, regWritePayload({{161, 0x02, 0x02}})).status, 4);

    // Register 0x0E bit 3 reloads the fonts (no chip manager in this test);
    // are only stored.
    EXPECT_EQ(callProcessor(kWriteReg, regWritePayload({{0x0E, 0xFF, 0x01}})).status, 0);
    EXPECT_EQ(callProcessor(kWriteReg, regWritePayload({{0x0E, 0xFF, 0x08}})).status, 4);
}

TEST_F(LinkHandlers, RegisterWritesAreCheckedAsAWhole)
{
    const unsigned char* image = store->run_status;
    // One register outside the writable range refuses them all.
    EXPECT_EQ(callProcessor(kWriteReg, regWritePayload({{20, 0xFF, 0x12}, {256, 0xFF, 1}})).status, 1);
    EXPECT_EQ(image[20], 0);
    // Several in one frame, applied in order.
    EXPECT_EQ(callProcessor(kWriteReg, regWritePayload({{20, 0xFF, 0x12}, {20, 0x0F, 0x05}, {21, 0xFF, 7}})).status,
              0);
    EXPECT_EQ(image[20], 0x15);
    EXPECT_EQ(image[21], 7);
}

TEST_F(LinkHandlers, RegisterReadServesTheStatusWindow)
{
    Reply r = callProcessor(kReadReg, regReadPayload(37, 3));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.data, (Bytes{0x80, 0x1F, 0x06}));
    r = callProcessor(kReadReg, regReadPayload(1060, 4));
    EXPECT_EQ(r.data.size(), 4u);
    EXPECT_EQ(callProcessor(kReadReg, regReadPayload(1061, 4)).status, 1);
    EXPECT_EQ(callProcessor(kReadReg, regReadPayload(0, 0)).status, 1);
}

TEST_F(LinkHandlers, SendingCardCommandsNeedTheFpgaManager)
{
    ASSERT_EQ(fpga_manage::p_fpga_manage, nullptr);
    EXPECT_EQ(call(kSendingCard, kReadRam, ramReadPayload(0x1000, 4)).status, 4);
    EXPECT_EQ(call(kSendingCard, kWriteReg, regWritePayload({{2, 4, 4}})).status, 4);
    // Only FPGA 0 and 1 exist.
    EXPECT_EQ(call(kSendingCard, kReadRam, ramReadPayload(0x1000, 4), 2).status, 1);
    EXPECT_EQ(store->run_status[2], 0);
}

TEST_F(LinkHandlers, SendingCardPagesAndRegistersAreTheFpgaImages)
{
    fpga_manage* m = fpga_manage::createForTest(false);
    m->MCU_RAM_PARA_func[1][60] = 0x80;
    m->MCU_RAM_PARA_func[1][61] = 0x07;
    Reply r = call(kSendingCard, kReadRam, ramReadPayload(0x1000 + 60, 2), 1);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.data, Bytes({0x80, 0x07}));

    // The command page is the box's own: the same for both FPGAs.
    EXPECT_EQ(call(kSendingCard, kWriteRam, ramWritePayload(0x10000 + 8, Bytes{1, 55}), 1).status, 0);
    unsigned char written[2] = {};
    ASSERT_TRUE(m->command_page.pc_read(8, written, 2));
    EXPECT_EQ(written[0], 1);
    EXPECT_EQ(written[1], 55);

    // Writing the head of the extension page sets the multicast selector.
    EXPECT_EQ(call(kSendingCard, kWriteRam, ramWritePayload(0x12000, Bytes{1, 0x0F, 0, 0x03, 0})).status, 0);
    EXPECT_EQ(m->multicast_flag, 1);
    EXPECT_EQ(m->multicast_target, 0x0003000Fu);

    // Pages end where their images end; unknown pages do not exist.
    EXPECT_EQ(call(kSendingCard, kReadRam, ramReadPayload(0x4000 + 130, 8)).status, 1);
    EXPECT_EQ(call(kSendingCard, kWriteRam, ramWritePayload(0x10000 + 1023, Bytes{1, 2})).status, 1);
    EXPECT_EQ(call(kSendingCard, kReadRam, ramReadPayload(0x9000, 1)).status, 1);
    EXPECT_EQ(call(kSendingCard, kReadRam, ramReadPayload(0x11000 + 2044, 4)).status, 0);

    // Registers read the image as it stands; registers above 170 are refused.
    m->MCU_REG_func[0][80] = 3;
    r = call(kSendingCard, kReadReg, regReadPayload(80, 1));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.data, Bytes({3}));
    EXPECT_EQ(call(kSendingCard, kWriteReg, regWritePayload({{64, 0xFF, 77}})).status, 0);
    EXPECT_EQ(m->MCU_REG_func[0][64], 77);
    EXPECT_EQ(call(kSendingCard, kWriteReg, regWritePayload({{171, 0xFF, 1}})).status, 1);
    // A refused write changes nothing, not even its items before the bad one.
    m->MCU_REG_func[0][70] = 0;
    EXPECT_EQ(call(kSendingCard, kWriteReg, regWritePayload({{70, 0xFF, 0x5A}, {200, 0xFF, 1}})).status, 1);
    EXPECT_EQ(m->MCU_REG_func[0][70], 0);
    fpga_manage::destroyForTest();
}

TEST_F(LinkHandlers, ParameterItemsAreStoredTogetherAndRaiseTheFlag)
{
    test_store::persisted();
    setLe16(ParaWriteLock().block(), para::kCurrentMode, 3);
    test_store::shadow_word(para::kCurrentMode, 3);
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{1, 0, 40}, {2, 0, 3}, {3, 1, 4}, {5, 0, 1}, {6, 2, 0x8050}}))
                  .status,
              0);
    EXPECT_EQ(le16(store->ram_para, para::kBrightness), 40);
    EXPECT_EQ(le16(store->ram_para, para::kColorTempType), 3);
    EXPECT_EQ(le16(store->ram_para, para::layer(1) + para::kLayerInput), 4);
    EXPECT_EQ(le16(store->ram_para, para::kCurrentMode), 0);   // no longer the saved mode
    EXPECT_EQ(le16(store->ram_para, para::kBlackout), 1);
    EXPECT_EQ(le16(store->ram_para, para::kAudioWindow), 2);
    EXPECT_EQ(store->ram_para[para::layer(2) + para::kLayerAudioLevel], 0x50);
    EXPECT_EQ(store->ram_para[para::layer(2) + para::kLayerAudioFlags] & 0x80, 0x80);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);

    // The source manager takes the sound the PC switched: window 0 at level
    // 50 with sound on (+20/+21 = 32 80), then the same level with it off.
    velmosource* source = velmosource::pInstance();
    for (uint16_t value : {0x8032, 0x0032, 0x8032}) {
        EXPECT_EQ(callProcessor(kItems, itemsPayload({{6, 0, value}})).status, 0);
        EXPECT_EQ(store->ram_para[para::layer(0) + 20], 0x32);
        EXPECT_EQ(store->ram_para[para::layer(0) + 21] & 0x80, value & 0x8000 ? 0x80 : 0);
        source->volume_update_request = 1;
        source->about_volume_deal();
        EXPECT_EQ(source->audio_level, 50) << value;
        EXPECT_EQ(source->audio_on, value & 0x8000 ? 1 : 0) << value;
    }

    // A bad item refuses the whole frame.
    c331_manage::para_change_flag = 0;
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{1, 0, 70}, {1, 0, 101}})).status, 1);
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{3, 0, 6}})).status, 1);
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{3, 16, 1}})).status, 1);
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{9, 0, 0}})).status, 1);
    EXPECT_EQ(le16(store->ram_para, para::kBrightness), 40);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);
}

// Item 4 loads mode 3; a change of a window's input after it (item 3, in
// the same frame or the next, or the input page) clears the current mode,
// whether or not the load has reached the file in between.
TEST_F(LinkHandlers, APictureChangeAfterALoadClearsTheModeWhicheverStoreRanFirst)
{
    ParaWriteLock().slot(2)[0] = ParaWriteLock().slot(2)[1] = 0xAA;
    struct Row {
        const char* what;
        bool persisted;   // the load reached the file before the change
        int by;           // 0 item 3 in its own frame, 1 in the load's frame, 2 the input page
    };
    const Row rows[] = {{"item 3", false, 0}, {"item 3, load persisted", true, 0}, {"one frame", false, 1},
                        {"input page", false, 2}, {"input page, load persisted", true, 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.by == 1) {
            EXPECT_EQ(callProcessor(kItems, itemsPayload({{4, 0, 3}, {3, 0, 3}})).status, 0);
        } else {
            EXPECT_EQ(callProcessor(kItems, itemsPayload({{4, 0, 3}})).status, 0);
            EXPECT_EQ(le16(store->ram_para, para::kCurrentMode), 3);
            if (row.persisted) {
                ASSERT_TRUE(store->persist_block(0));
            }
            if (row.by == 0)
                EXPECT_EQ(callProcessor(kItems, itemsPayload({{3, 0, 4}})).status, 0);
            else
                store->ZdrSetImageSource(0, 4, 0);
        }
        EXPECT_EQ(le16(store->ram_para, para::kCurrentMode), 0);
        ASSERT_TRUE(store->persist_block(0));   // the next round starts from a file holding mode 0
    }
}

// Item 3 may name only a crop record in use as the items before it in the
// frame leave the table: a load (item 4) brings the mode's own table. Mode
// 3 (slot 2) has crop 6 in use and crop 5 free; the block the other way
// round. A refused frame stores nothing.
TEST_F(LinkHandlers, WindowInputMayNameOnlyACropInUse)
{
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{3, 0, 0x8005}})).status, 1);
    setLe16(ParaWriteLock().block(), para::crop(5), 0x8002);
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{3, 0, 0x8005}})).status, 0);
    EXPECT_EQ(le16(store->ram_para, para::layer(0) + para::kLayerInput), 0x8005);
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{3, 0, 0x8028}})).status, 1);

    // The mode: the block as it stands, crop 5 freed, crop 6 in use, layer 1 on input 2.
    unsigned char* mode = test_store::unguarded_slot(2);
    store->block_bytes(para::kModeStart, mode + 2, para::kModeSize);
    mode[0] = mode[1] = 0xAA;
    auto modeWord = [mode](int offset, uint16_t value) { setLe16(mode, 2 + offset - para::kModeStart, value); };
    modeWord(para::crop(5), 0);
    modeWord(para::crop(6), 0x8103);
    modeWord(para::layer(1) + para::kLayerInput, 2);
    const struct {
        const char* what;
        std::vector<ParaItem> items;
        unsigned char status;
        uint16_t layer1;   // layer 1's input after the frame
    } rows[] = {
        {"a crop the load freed", {{4, 0, 3}, {3, 1, 0x8005}}, 1, 4},
        {"a crop the load brings", {{4, 0, 3}, {3, 1, 0x8006}}, 0, 0x8006},
        {"a crop before the load", {{3, 1, 0x8005}, {4, 0, 3}}, 0, 2},
        {"a crop after the load, then loaded again", {{4, 0, 3}, {3, 1, 0x8006}, {4, 0, 3}}, 0, 2},
        {"a crop the load freed after one it brings", {{4, 0, 3}, {3, 1, 0x8006}, {3, 2, 0x8005}}, 1, 4},
        {"a crop not in use, no load", {{3, 1, 0x8006}}, 1, 4},
        {"a crop in use, no load", {{3, 1, 0x8005}}, 0, 0x8005},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        {
            ParaWriteLock lock;
            setLe16(lock.block(), para::crop(5), 0x8002);
            setLe16(lock.block(), para::crop(6), 0);
            setLe16(lock.block(), para::layer(1) + para::kLayerInput, 4);
            setLe16(lock.block(), para::kCurrentMode, 0);
        }
        c331_manage::para_change_flag = 0;
        EXPECT_EQ(callProcessor(kItems, itemsPayload(row.items)).status, row.status);
        EXPECT_EQ(le16(store->ram_para, para::layer(1) + para::kLayerInput), row.layer1);
        const uint16_t input = row.layer1;
        if (input & para::kLayerInputIsCrop) {
            EXPECT_NE(le16(store->ram_para, para::crop(input & 0xFF)) & para::kCropInUse, 0)
                << "the window names a crop in use";
        }
        EXPECT_EQ(c331_manage::para_change_flag.load(), row.status == 0 ? 1 : 0);
    }
}

TEST_F(LinkHandlers, LoadingAUserModeCopiesASavedSlot)
{
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{4, 0, 2}})).status, 1);   // slot 1 empty
    ParaWriteLock().slot(1)[0] = ParaWriteLock().slot(1)[1] = 0xAA;
    std::memset(ParaWriteLock().slot(1) + 2, 0x21, 3200);
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{4, 0, 2}})).status, 0);
    EXPECT_EQ(store->ram_para[896], 0x21);
    EXPECT_EQ(store->ram_para[4095], 0x21);
    EXPECT_EQ(le16(store->ram_para, para::kCurrentMode), 2);
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{4, 0, 17}})).status, 1);
    EXPECT_EQ(callProcessor(kItems, itemsPayload({{4, 0, 0}})).status, 1);
}

TEST_F(LinkHandlers, DeviceInfoReportsIdentityAndNetwork)
{
    std::memcpy(g_pid, "0123456789abcdef0123456789abcdef", 32);
    g_str_ip = "192.168.1.199";
    g_srt_mask = "255.255.255.0";
    g_str_gateway = "192.168.1.1";
    g_int_tcp_port = 5005;
    g_str_wifi_ip = "192.168.22.101";
    g_str_mac = "00:1A:2b:3C:4d:5E";
    const Reply r = callProcessor(0x80, Bytes{});
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.data.size(), 56u);
    EXPECT_EQ(std::string(r.data.begin(), r.data.begin() + 32), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(Bytes(r.data.begin() + 32, r.data.begin() + 44),
              (Bytes{192, 168, 1, 199, 255, 255, 255, 0, 192, 168, 1, 1}));
    EXPECT_EQ(le16(r.data.data(), 44), 5005);
    EXPECT_EQ(Bytes(r.data.begin() + 46, r.data.begin() + 50), (Bytes{192, 168, 22, 101}));
    EXPECT_EQ(Bytes(r.data.begin() + 50, r.data.end()), (Bytes{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    std::memset(g_pid, 0, 32);
    g_str_mac = "FF:FF:FF:FF:FF:FF";
}

TEST_F(LinkHandlers, SetNetworkStoresAndAppliesCheckedAddresses)
{
    const unsigned char ip[4] = {10, 1, 2, 3}, mask[4] = {255, 255, 0, 0}, gw[4] = {10, 1, 0, 1};
    EXPECT_EQ(callProcessor(0x82, networkPayload(ip, mask, gw, 6000)).status, 0);
    QSettings ini(QString::fromStdString(hostPath("/data/configs/tcpip.ini")), QSettings::IniFormat);
    EXPECT_EQ(ini.value("config/IPAddress").toString(), "10.1.2.3");
    EXPECT_EQ(ini.value("config/SubNetMask").toString(), "255.255.0.0");
    EXPECT_EQ(ini.value("config/GateWay").toString(), "10.1.0.1");
    EXPECT_EQ(ini.value("config/TcpPort").toInt(), 6000);
    EXPECT_EQ(g_int_tcp_port, 6000u);
    EXPECT_EQ(g_str_ip, "10.1.2.3");
    EXPECT_TRUE(ranCommand("ifconfig eth0 10.1.2.3 netmask 255.255.0.0"));
    EXPECT_TRUE(ranCommand("route add default gw 10.1.0.1 metric 100"));

    sim::Board::instance().shell().clearLog();
    const unsigned char badMask[4] = {255, 0, 255, 0}, net0[4] = {10, 1, 0, 0}, lo[4] = {127, 0, 0, 1};
    EXPECT_EQ(callProcessor(0x82, networkPayload(ip, badMask, gw, 0)).status, 1);
    EXPECT_EQ(callProcessor(0x82, networkPayload(net0, mask, gw, 0)).status, 1);
    EXPECT_EQ(callProcessor(0x82, networkPayload(lo, mask, gw, 0)).status, 1);
    EXPECT_EQ(callProcessor(0x82, networkPayload(ip, mask, lo, 0)).status, 1);
    EXPECT_TRUE(shellCommands().empty());
    EXPECT_EQ(ini.value("config/IPAddress").toString(), "10.1.2.3");
    g_port = g_int_tcp_port = 5005;
}

namespace {

std::string quadAt(const Bytes& b, size_t at)
{
    return std::to_string(b[at]) + "." + std::to_string(b[at + 1]) + "." + std::to_string(b[at + 2]) + "." +
           std::to_string(b[at + 3]);
}

} // namespace

// Set-network on one link and WiFi address changes on the AT channel while
// device information is read on another link: every address reported is
// one that was set (the strings were replaced under the reader's feet).
TEST_F(LinkHandlers, DeviceInfoWhileTheAddressesChangeReportsOnlyAddressesThatWereSet)
{
    const Reply first = callProcessor(0x80, Bytes{});
    ASSERT_EQ(first.data.size(), 56u);
    // Address, mask, gateway and WiFi address: at the start, then as set.
    std::set<std::string> allowed[4] = {
        {quadAt(first.data, 32), "10.1.2.3", "172.16.5.6"},
        {quadAt(first.data, 36), "255.255.0.0", "255.255.255.0"},
        {quadAt(first.data, 40), "10.1.0.1", "172.16.5.1"},
        {quadAt(first.data, 46), "10.20.30.200", "192.168.30.1"},
    };
    const unsigned char ipA[4] = {10, 1, 2, 3}, maskA[4] = {255, 255, 0, 0}, gwA[4] = {10, 1, 0, 1};
    const unsigned char ipB[4] = {172, 16, 5, 6}, maskB[4] = {255, 255, 255, 0}, gwB[4] = {172, 16, 5, 1};

    std::atomic<int> running{2};
    std::thread network([&] {
        message_deal other;
        for (int i = 0; i < 150; ++i) {
            const bool a = i % 2 == 0;
            const Bytes body = buildBody(kProcessor, 0x82, networkPayload(a ? ipA : ipB, a ? maskA : maskB,
                                                                          a ? gwA : gwB, 0));
            other.message_group_deal(body.data(), static_cast<int>(body.size()), defaultOrigin());
        }
        --running;
    });
    std::thread wifi([&] {
        K47_WIFI_CONFIG at;   // its thread not started: the commands only
        for (int i = 0; i < 150; ++i)
            at.at_command(i % 2 ? "AT+SETDATA=3,192.168.30.1" : "AT+SETDATA=3,10.20.30.200");
        --running;
    });
    int reads = 0, wrong = 0;
    std::string firstWrong;
    const size_t at[4] = {32, 36, 40, 46};
    while (running.load() > 0) {
        const Reply r = callProcessor(0x80, Bytes{});
        ++reads;
        for (int k = 0; k < 4; ++k) {
            if (r.data.size() != 56u || !allowed[k].count(quadAt(r.data, at[k]))) {
                if (!wrong++)
                    firstWrong = r.data.size() == 56u ? quadAt(r.data, at[k]) : "a short reply";
            }
        }
    }
    network.join();
    wifi.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(wrong, 0) << "first: " << firstWrong;
    // What the device ends with is what was set last.
    const Reply last = callProcessor(0x80, Bytes{});
    EXPECT_EQ(quadAt(last.data, 32), "172.16.5.6");
    EXPECT_EQ(quadAt(last.data, 46), "192.168.30.1");
}

// A store in progress holds the manage mutex and the block's short lock: a
// RAM read waits for it and gets the whole value. The chip thread holds
// the manage mutex alone through its whole change pass, SPI programming
// included, and stores nothing meanwhile: RAM and register reads are
// answered during the pass, not after it.
TEST_F(LinkHandlers, ReadsWaitForAStoreInProgressButNotForAPass)
{
    // Runs the request in another thread; `done` tells when it is answered.
    struct Reader {
        std::atomic<bool> done{false};
        Reply got;
        std::thread thread;
        explicit Reader(const Bytes& body)
            : thread([this, body] {
                  message_deal other;
                  const int n = other.message_group_deal(body.data(), static_cast<int>(body.size()), defaultOrigin());
                  got = parseReply(other.reply(), n);
                  done = true;
              })
        {
        }
    };
    for (const uint32_t address : {2178u, 0x3000u + 20u}) {
        unsigned char* field = address < 0x1000 ? test_store::unguarded_block() + address : test_store::unguarded_slot(2) + 20;
        field[0] = field[1] = 0;
        auto bytes = std::make_unique<ParaWriteLock>();   // a writer half way through its store
        field[0] = 0x11;
        {
            Reader r(buildBody(kProcessor, 0x61, ramReadPayload(address, 2)));
            const bool early = waitFor([&] { return r.done.load(); }, 300);
            field[1] = 0x22;
            bytes.reset();
            r.thread.join();
            EXPECT_FALSE(early) << "the read did not wait for the store at " << address;
            EXPECT_EQ(r.got.data, (Bytes{0x11, 0x22})) << "at " << address;
        }

        field[0] = 0x33;
        field[1] = 0x44;
        C331ParaLock::acquire();   // a change pass programming the chip
        Reader r(buildBody(kProcessor, 0x61, ramReadPayload(address, 2)));
        const bool answered = waitFor([&] { return r.done.load(); }, 2000);
        C331ParaLock::release();
        r.thread.join();
        EXPECT_TRUE(answered) << "the read waited for the pass at " << address;
        EXPECT_EQ(r.got.data, (Bytes{0x33, 0x44})) << "at " << address;
    }
    // The register image the same (registers 37 to 39).
    ParaWriteLock().status()[37] = 0x80;
    ParaWriteLock().status()[38] = 0x1F;
    ParaWriteLock().status()[39] = 0x06;
    C331ParaLock::acquire();
    Reader r(buildBody(kProcessor, kReadReg, regReadPayload(37, 3)));
    const bool answered = waitFor([&] { return r.done.load(); }, 2000);
    C331ParaLock::release();
    r.thread.join();
    EXPECT_TRUE(answered) << "the register read waited for the pass";
    EXPECT_EQ(r.got.data, (Bytes{0x80, 0x1F, 0x06}));
}

TEST_F(LinkHandlers, TheClockOfThePcAndOfTheCommandPageTakeTheSameDatesAndAnswerAFailure)
{
    fpga_manage* m = fpga_manage::createForTest(false);
    auto& shell = sim::Board::instance().shell();
    const auto bcd = [](int v) { return static_cast<unsigned char>((v / 10) << 4 | (v % 10)); };
    const struct {
        int y, mo, d, h, mi, s;
        const char* command;   // nullptr: refused, nothing run
        int hwclockExit;
        int status;
    } rows[] = {
        {2024, 2, 29, 23, 59, 58, "date \"2024-2-29 23:59:58\";hwclock -wu", 0, 0},
        {2024, 2, 30, 12, 0, 0, nullptr, 0, 1},
        {2023, 2, 29, 0, 0, 0, nullptr, 0, 1},
        {2024, 4, 31, 0, 0, 0, nullptr, 0, 1},
        {1900, 1, 1, 0, 0, 0, nullptr, 0, 1},
        {2100, 1, 1, 0, 0, 0, nullptr, 0, 1},
        {1999, 12, 31, 0, 0, 0, nullptr, 0, 1},
        {2024, 13, 1, 0, 0, 0, nullptr, 0, 1},
        {2024, 1, 1, 24, 0, 0, nullptr, 0, 1},
        // The hardware clock not set: a failure, not a success.
        {2024, 3, 5, 9, 7, 0, "date \"2024-3-5 9:7:0\";hwclock -wu", 1, 3},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.y) + "-" + std::to_string(r.mo) + "-" + std::to_string(r.d));
        const std::vector<std::string> expected =
            r.command ? std::vector<std::string>{r.command} : std::vector<std::string>{};
        shell.setExitCode("hwclock", r.hwclockExit);
        shell.clearLog();
        EXPECT_EQ(callProcessor(0x87, clockPayload(r.y, r.mo, r.d, r.h, r.mi, r.s)).status, r.status);
        EXPECT_EQ(shellCommands(), expected) << "the PC";

        // The command page's clock: BCD year, century, month, day, time.
        shell.clearLog();
        const unsigned char page[15] = {0,        0,        0,        0,        0,        0,
                                        0,        0,        bcd(r.y % 100), bcd(r.y / 100), bcd(r.mo), bcd(r.d),
                                        bcd(r.h), bcd(r.mi), bcd(r.s)};
        m->Checktime(page);
        EXPECT_EQ(shellCommands(), expected) << "the command page";
        const std::string log = readFile(hostPath(kEngineLogPath));
        if (r.status == 1) {
            EXPECT_NE(log.find("clock set by the command page to " + std::to_string(r.y) + "-" + std::to_string(r.mo) +
                               "-" + std::to_string(r.d)),
                      std::string::npos)
                << "a refusal not logged";
        }
    }
    const std::string log = readFile(hostPath(kEngineLogPath));
    EXPECT_NE(log.find("clock set by the PC to 2024-3-5 9:7:0 failed"), std::string::npos);
    EXPECT_NE(log.find("clock set by the command page to 2024-3-5 9:7:0 failed"), std::string::npos);
    shell.setExitCode("hwclock", 0);
    fpga_manage::destroyForTest();
}
