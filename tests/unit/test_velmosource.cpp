// The input-source manager against the simulated board's I2C bus: the
// receivers' readings reaching hdminfo and the block, EDID EEPROM writes,
// the audio selection.
#include "support/store_fixture.h"

#include "avchips/velmosource.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "platform/platform.h"
#include "sim/av_inputs.h"
#include "sim/board.h"
#include "sim/c331_chip.h"
#include "sim/control_channel.h"

#include <QMutexLocker>
#include <cstring>
#include <functional>
#include <memory>

namespace {

class VelmoSource : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        store = load();
        v = velmosource::pInstance();
        v->i2c_fd = platform::i2c().open("/dev/i2c-0");
        for (int i = 0; i < 6; ++i) {
            v->hdminfo[i] = HdmiInfo();
            v->edid_write_request[i] = 0;
            v->edid_custom_select[i] = 0;
        }
        v->volume_update_request = 0;
        v->audio_input = -1;
    }
    void TearDown() override
    {
        platform::i2c().close(v->i2c_fd);
        v->i2c_fd = -1;
        StoreTest::TearDown();
    }
    static void setSource(int input, int w, int h, int hz, bool interlaced = false, int lanes = 0)
    {
        sim::C331ChipModel::VideoSource s{true, w, h, hz};
        s.interlaced = interlaced;
        s.lanes = lanes;
        sim::Board::instance().c331().setSource(input, s);
    }
    HdmiInfo info(int input)
    {
        QMutexLocker lock(&Utils::_source_hdminfo_mutex);
        return v->hdminfo[input];
    }
    uint16_t signalWord(int input, int word) const
    {
        return le16(store->ram_para, para::kInputSignal + 6 * input + 2 * word);
    }
    std::vector<uint8_t> eeprom(int input)
    {
        std::vector<uint8_t> mem(sim::avin::kEepromSize);
        const std::string hex = sim::Board::instance().control().execute("edid-read " + std::to_string(input));
        for (size_t i = 0; i + 1 < hex.size() && i / 2 < mem.size(); i += 2)
            mem[i / 2] = static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16));
        return mem;
    }
    static bool checksumOk(const uint8_t* e)
    {
        unsigned sum = 0;
        for (int i = 0; i < 128; ++i)
            sum += e[i];
        return (sum & 0xFF) == 0;
    }

    ZdrRamPara* store = nullptr;
    velmosource* v = nullptr;
};

TEST_F(VelmoSource, ReceiverReadingReachesHdminfoAndTheBlock)
{
    setSource(2, 1920, 1080, 60, false, 8);
    ASSERT_EQ(v->poll_input(2), 0);
    const HdmiInfo h = info(2);
    EXPECT_EQ(h.Hact, 1920);
    EXPECT_EQ(h.Vact, 1080);
    EXPECT_EQ(h.Htotal, 2200);
    EXPECT_EQ(h.Vtotal, 1125);
    EXPECT_EQ(h.Hsync, 44);
    EXPECT_EQ(h.Vback, 36);
    EXPECT_FLOAT_EQ(h.pfreq, 148.5f);
    EXPECT_EQ(h.lane, 8);
    EXPECT_EQ(h.ip, 0);
    EXPECT_EQ(h.datamode, 0) << "148.5 MHz: one pixel a clock";
    EXPECT_EQ(h.nosignal, 0);
    EXPECT_NE(h.stable, 0);
    EXPECT_EQ(signalWord(2, 0), 1920);
    // 3840 x 2160 @ 30 (4120 x 2205 x 30 = 272.5 MHz): the receiver's
    // two-pixel bus, data mode 1.
    setSource(2, 3840, 2160, 30, false, 8);
    ASSERT_EQ(v->poll_input(2), 0);
    EXPECT_EQ(info(2).datamode, 1);
    setSource(2, 1920, 1080, 60, false, 8);
    ASSERT_EQ(v->poll_input(2), 0);
    EXPECT_EQ(signalWord(2, 1), 1080);
    EXPECT_EQ(signalWord(2, 2), 60);
    EXPECT_EQ(signalWord(1, 0), 0) << "other inputs untouched";

    // The source goes away: no signal, record zeroed.
    sim::Board::instance().c331().setSource(2, sim::C331ChipModel::VideoSource{});
    ASSERT_EQ(v->poll_input(2), 0);
    EXPECT_EQ(info(2).nosignal, 1);
    EXPECT_EQ(info(2).Hact, 0);
    EXPECT_NE(info(2).stable, 0) << "no signal is a settled state the chip must see";
    EXPECT_EQ(signalWord(2, 0), 0);
    EXPECT_EQ(signalWord(2, 2), 0);
}

TEST_F(VelmoSource, InterlacedSourceAndTheSourceCommandChangeBothModels)
{
    ASSERT_EQ(sim::Board::instance().control().execute("source 4 1280 720 50"), "ok\n");
    EXPECT_EQ(sim::Board::instance().c331().source(4).width, 1280);
    ASSERT_EQ(v->poll_input(4), 0);
    EXPECT_EQ(info(4).Hact, 1280);
    EXPECT_EQ(signalWord(4, 2), 50);

    ASSERT_EQ(sim::Board::instance().control().execute("source 5 1920 540 60 i 4"), "ok\n");
    ASSERT_EQ(v->poll_input(5), 0);
    EXPECT_EQ(info(5).ip, 1);
    EXPECT_EQ(info(5).lane, 4);
    // A 1080i field: 540 lines in 562 (the interlaced states' range), at
    // 2200 x 562 x 60 = 74.184 MHz; a 480i field 240 in 262.
    EXPECT_EQ(info(5).Vtotal, 562);
    EXPECT_NEAR(info(5).pfreq, 74.184f, 0.001f);
    EXPECT_EQ(info(5).datamode, 0);
    ASSERT_EQ(sim::Board::instance().control().execute("source 5 720 240 60 i"), "ok\n");
    ASSERT_EQ(v->poll_input(5), 0);
    EXPECT_EQ(info(5).Vtotal, 262);
    EXPECT_NE(sim::Board::instance().control().execute("source 5 1920 540 60 x"), "ok\n");
}

TEST_F(VelmoSource, FailedOrImplausibleReadingsNeverHalfUpdate)
{
    setSource(0, 1920, 1080, 60);
    ASSERT_EQ(v->poll_input(0), 0);
    // The receiver stops answering: both records keep their last values.
    sim::Board::instance().control().execute("av-nak 48 on");
    setSource(0, 1280, 720, 50);
    EXPECT_EQ(v->poll_input(0), -1);
    EXPECT_EQ(info(0).Hact, 1920);
    EXPECT_EQ(signalWord(0, 0), 1920);
    EXPECT_EQ(signalWord(0, 2), 60);
    sim::Board::instance().control().execute("av-nak 48 off");
    ASSERT_EQ(v->poll_input(0), 0);
    EXPECT_EQ(signalWord(0, 0), 1280);

    // Out-of-range values are taken as no signal, not passed on.
    setSource(1, 20000, 1080, 60);
    ASSERT_EQ(v->poll_input(1), 0);
    EXPECT_EQ(info(1).nosignal, 1);
    EXPECT_EQ(signalWord(1, 0), 0);
    setSource(1, 1920, 1080, 0);
    ASSERT_EQ(v->poll_input(1), 0);
    EXPECT_EQ(info(1).nosignal, 1);
    setSource(1, 1920, 1080, 60, false, 3);   // no such lane count
    ASSERT_EQ(v->poll_input(1), 0);
    EXPECT_EQ(info(1).nosignal, 1);
    EXPECT_EQ(v->poll_input(6), -1);
}

TEST_F(VelmoSource, CustomEdidIsValidAndCarriesTheTiming)
{
    uint8_t e[128];
    ASSERT_TRUE(velmosource::Set_Custom_HDMI_EDID(e, 3840, 2160, 30));
    const uint8_t header[8] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    EXPECT_EQ(std::memcmp(e, header, 8), 0);
    EXPECT_TRUE(checksumOk(e));
    EXPECT_EQ(le16(e, 54), (3840 + 280) * (2160 + 45) * 30 / 10000);
    EXPECT_EQ(e[56] | ((e[58] >> 4) << 8), 3840);
    EXPECT_EQ(e[59] | ((e[61] >> 4) << 8), 2160);
    uint8_t untouched[128];
    std::memset(untouched, 0x5A, sizeof(untouched));
    EXPECT_FALSE(velmosource::Set_Custom_HDMI_EDID(untouched, 0, 1080, 60));
    EXPECT_FALSE(velmosource::Set_Custom_HDMI_EDID(untouched, 1920, 1080, 0));
    EXPECT_FALSE(velmosource::Set_Custom_HDMI_EDID(untouched, 4095, 4095, 240)) << "pixel clock beyond the field";
    EXPECT_EQ(untouched[0], 0x5A);
}

TEST_F(VelmoSource, EdidRequestWritesTheEepromAndClears)
{
    setLe16(ParaWriteLock().block(), para::edid(3), 1280);
    setLe16(ParaWriteLock().block(), para::edid(3) + 2, 1024);
    setLe16(ParaWriteLock().block(), para::edid(3) + 4, 75);
    v->edid_write_request[3] = 1;
    v->about_set_edid_deal();
    EXPECT_EQ(v->edid_write_request[3], 0);
    const std::vector<uint8_t> mem = eeprom(3);
    uint8_t want[128];
    ASSERT_TRUE(velmosource::Set_Custom_HDMI_EDID(want, 1280, 1024, 75));
    EXPECT_EQ(std::memcmp(mem.data(), want, 128), 0);
    EXPECT_TRUE(checksumOk(mem.data()));
    EXPECT_EQ(eeprom(2)[0], 0) << "only the requested input";

    // Default selector, and an out-of-range record: the default EDID.
    uint8_t def[128];
    velmosource::default_edid(def);
    v->edid_custom_select[1] = 1;
    v->edid_write_request[1] = 1;
    setLe16(ParaWriteLock().block(), para::edid(5), 9);
    v->edid_write_request[5] = 1;
    v->about_set_edid_deal();
    EXPECT_EQ(std::memcmp(eeprom(1).data(), def, 128), 0);
    EXPECT_EQ(std::memcmp(eeprom(5).data(), def, 128), 0);
}

namespace {

// An EDID EEPROM that runs a call at its first page write, while the
// writer is still busy with the EEPROM.
class EepromWithHook : public sim::EdidEepromModel {
public:
    std::function<void()> atFirstPage;
    bool write(const uint8_t* data, uint16_t len) override
    {
        const bool ok = sim::EdidEepromModel::write(data, len);
        if (len > 1 && atFirstPage) {
            const std::function<void()> f = std::move(atFirstPage);
            atFirstPage = nullptr;
            f();
        }
        return ok;
    }
};

} // namespace

TEST_F(VelmoSource, ARecordChangedWhileTheEepromIsWrittenIsWrittenNext)
{
    auto hooked = std::make_shared<EepromWithHook>();
    sim::I2cBusModel& bus = sim::Board::instance().i2c();
    bus.detach(sim::avin::kEepromBase + 3);
    bus.attach(sim::avin::kEepromBase + 3, hooked);
    setLe16(ParaWriteLock().block(), para::edid(3), 1280);
    setLe16(ParaWriteLock().block(), para::edid(3) + 2, 1024);
    setLe16(ParaWriteLock().block(), para::edid(3) + 4, 75);
    // The chip manager stores a new record and raises the request again
    // while the first record is being written.
    hooked->atFirstPage = [&] {
        setLe16(ParaWriteLock().block(), para::edid(3), 800);
        setLe16(ParaWriteLock().block(), para::edid(3) + 2, 600);
        setLe16(ParaWriteLock().block(), para::edid(3) + 4, 60);
        v->edid_write_request[3] = 1;
    };
    v->edid_write_request[3] = 1;
    v->about_set_edid_deal();
    EXPECT_EQ(v->edid_write_request[3], 1) << "the second change is still to be written";
    v->about_set_edid_deal();
    EXPECT_EQ(v->edid_write_request[3], 0);
    uint8_t mem[sim::avin::kEepromSize];
    hooked->contents(mem);
    uint8_t want[128];
    ASSERT_TRUE(velmosource::Set_Custom_HDMI_EDID(want, 800, 600, 60));
    EXPECT_EQ(std::memcmp(mem, want, 128), 0);
}

TEST_F(VelmoSource, EdidWriteFailureRetriesBoundedly)
{
    sim::Board::instance().control().execute("av-nak 58 on");
    v->edid_write_request[0] = 1;
    v->about_set_edid_deal();
    EXPECT_EQ(v->edid_write_request[0], 1) << "kept for a retry";
    sim::Board::instance().control().execute("av-nak 58 off");
    v->about_set_edid_deal();
    EXPECT_EQ(v->edid_write_request[0], 0);
    EXPECT_EQ(eeprom(0)[1], 0xFF);

    sim::Board::instance().control().execute("av-nak 59 on");
    v->edid_write_request[1] = 1;
    for (int i = 0; i < velmosource::kEdidTries; ++i)
        v->about_set_edid_deal();
    EXPECT_EQ(v->edid_write_request[1], 0) << "given up after a bounded number of tries";
}

TEST_F(VelmoSource, VolumeRequestSelectsTheAudioWindowsInput)
{
    const int l = para::layer(2);
    setLe16(ParaWriteLock().block(), para::kAudioWindow, 2);
    setLe16(ParaWriteLock().block(), l + para::kLayerInput, 4);
    // Level 50 with sound on, as the PC's item 0x8032 stores it: +20/+21
    // hold 32 80.
    ParaWriteLock().block()[l + 20] = 0x32;
    ParaWriteLock().block()[l + 21] = 0x80;
    v->volume_update_request = 1;
    v->about_volume_deal();
    EXPECT_EQ(v->volume_update_request, 0);
    EXPECT_EQ(v->audio_input, 4);
    EXPECT_EQ(v->audio_level, 50);
    EXPECT_EQ(v->audio_on, 1);
    // Sound on is bit 7 alone: the other bits neither switch it on nor off.
    for (unsigned char flags : {0x01, 0x7F, 0xFF, 0x00}) {
        ParaWriteLock().block()[l + 21] = flags;
        v->volume_update_request = 1;
        v->about_volume_deal();
        EXPECT_EQ(v->audio_on, (flags & 0x80) ? 1 : 0) << int(flags);
    }
    ParaWriteLock().block()[l + 20] = 77;
    ParaWriteLock().block()[l + 21] = 0x80;
    v->volume_update_request = 1;
    v->about_volume_deal();
    EXPECT_EQ(v->audio_level, 77);
    EXPECT_EQ(v->audio_on, 1);

    // Through a crop record; an out-of-table crop selects nothing.
    setLe16(ParaWriteLock().block(), para::crop(7), static_cast<uint16_t>(para::kCropInUse | 1));
    setLe16(ParaWriteLock().block(), l + para::kLayerInput, static_cast<uint16_t>(para::kLayerInputIsCrop | 7));
    v->volume_update_request = 1;
    v->about_volume_deal();
    EXPECT_EQ(v->audio_input, 1);
    setLe16(ParaWriteLock().block(), l + para::kLayerInput, static_cast<uint16_t>(para::kLayerInputIsCrop | 200));
    v->volume_update_request = 1;
    v->about_volume_deal();
    EXPECT_EQ(v->audio_input, -1);
    setLe16(ParaWriteLock().block(), para::kAudioWindow, 99);
    v->volume_update_request = 1;
    v->about_volume_deal();
    EXPECT_EQ(v->audio_input, -1);
}

} // namespace
