// The change pass: what each changed field of the parameter block does, and
// the faults it must not have (lost updates, waiting for the FPGA thread
// while holding the manage mutex, windows confused with layers, EDID
// requests dropped, crop indices beyond the table).
#include "support/c331_fixture.h"

#include "avchips/velmosource.h"
#include "core/brightness_acts.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "sendcard/fpga_manage.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/imagequality.h"
#include "ui/picture/inputcut.h"

#include <QMutexLocker>
#include <QComboBox>
#include <QPushButton>
#include <QFrame>
#include <QLineEdit>
#include <QObject>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace {

class C331Deal : public C331Test {
protected:
    void SetUp() override
    {
        C331Test::SetUp();
        QObject::connect(store, &ZdrRamPara::sig_update_para, [this](int code) { codes.push_back(code); });
    }

    fpga_manage* fpga() { return fpga_manage::p_fpga_manage; }
    velmosource* source() { return velmosource::p_velmo_source; }

    void layers(std::initializer_list<int> enabled)
    {
        for (int l = 0; l < 6; ++l)
            setLe16(ParaWriteLock().block(), para::layer(l) + para::kLayerEnable, 0);
        for (int l : enabled) {
            setLe16(ParaWriteLock().block(), para::layer(l) + para::kLayerEnable, 1);
            setLe16(ParaWriteLock().block(), para::layer(l) + para::kLayerX, 0);
            setLe16(ParaWriteLock().block(), para::layer(l) + para::kLayerW, 1920);
        }
        sideBySidePanel();
        m->zdrApi_initEnvC331();
        persist();
        m->start_applied_copy();
    }

    std::vector<int> codes;
};

TEST_F(C331Deal, NothingHappensWithoutTheFlag)
{
    setLe16(ParaWriteLock().block(), para::kContrast, 30);
    deal();
    EXPECT_EQ(registerFrames(), 0u);
    EXPECT_TRUE(codes.empty());
}

TEST_F(C331Deal, TwoQuickStoresBothReachTheChip)
{
    store16(para::kContrast, 30);
    deal();
    EXPECT_EQ(reg(0x0C2802), 30u * 1023 / 100);
    EXPECT_EQ(c331_manage::para_change_flag, 0);

    // A second store lands after the pass, and the GUI thread persists the
    // block (making the shadow equal to it) before the next pass runs.
    store16(para::kSaturation, 80);
    persist();
    deal();
    EXPECT_EQ(reg(0x0C1B02), 80u * 1023 / 100) << "the second store must not be lost";
    EXPECT_EQ(codes, (std::vector<int>{1, 1}));
}

TEST_F(C331Deal, AChangeIsAppliedOnceEvenBeforeItIsPersisted)
{
    store16(para::kContrast, 30);
    deal();
    chip().clearFrames();
    store16(para::kTestPattern, 0);     // the flag again, nothing new
    deal();
    EXPECT_TRUE(writesTo(0x0C2802).empty()) << "contrast is not programmed a second time";
}

// The brightness is the sending card's: the chip's pass programs nothing
// for it, and what the FPGA thread applies is the percent act (the system's
// write-back is none).
TEST_F(C331Deal, BrightnessIsTheSendingCardsAndItsWriteBackNoAct)
{
    BrightnessActs* acts = BrightnessActs::pInstance();
    store16(para::kBrightness, 40);
    deal();
    EXPECT_EQ(acts->last_percent_act().percent, 40);
    const uint64_t act = acts->last_percent_act().seq;
    EXPECT_EQ(fpga()->lcd_change_flag, 0);
    EXPECT_EQ(reg(0x0C3A02), 0u) << "the chip's own brightness stays 50";
    EXPECT_TRUE(writesTo(0x0C2802).empty());
    EXPECT_TRUE(writesTo(0x0C5B02).empty());

    // The percent the screen then shows, written back by the system, is no
    // act of the user's, nor is an unrelated change.
    {
        C331ParaLock lock;
        EXPECT_TRUE(c331_manage::write_back_word(SystemWord::kBrightness, 24));
    }
    store16(para::kContrast, 30);
    deal();
    EXPECT_EQ(acts->last_percent_act().seq, act);
    EXPECT_EQ(le16(store->ram_para, para::kBrightness), 24);

    // The chip brought up again (the PC's debug request) keeps the applied
    // copy: the write-back, not yet in the shadow, is still no change.
    m->bring_up();
    g_fpga_c331_start = 0;   // the FPGA thread stays out of this test
    store16(para::kContrast, 31);
    deal();
    EXPECT_EQ(acts->last_percent_act().seq, act);

    // A user's change still waiting for its pass is not overwritten.
    {
        ParaWriteLock lock;
        setLe16(lock.block(), para::kBrightness, 70);
        lock.raise();
        EXPECT_FALSE(c331_manage::write_back_word(SystemWord::kBrightness, 12));
    }
    deal();
    EXPECT_EQ(le16(store->ram_para, para::kBrightness), 70);
    EXPECT_GT(acts->last_percent_act().seq, act);
    EXPECT_EQ(acts->last_percent_act().percent, 70);
}

TEST_F(C331Deal, ColourTemperatureIsSetOnceForTypeAndGains)
{
    {
        ParaWriteLock lock;
        setLe16(lock.block(), para::kColorTempType, 0);
        setLe16(lock.block(), para::kRedGain, 128);
        setLe16(lock.block(), para::kBlueGain, 32);
        lock.raise();
    }
    deal();
    EXPECT_EQ(writesTo(0x0C5B02).size(), 1u) << "one call";
    EXPECT_EQ(reg(0x0C5B02, 16 * 5), 8192u);
    EXPECT_EQ(reg(0x0C6302), 64u * 64);
    EXPECT_EQ(reg(0x0C6B02), 32u * 64);
}

TEST_F(C331Deal, TestPatternAndFlagValueTwo)
{
    m->gMwin.wincnt = 1;
    store16(para::kTestPattern, 2, 2);
    // A page's store before the pass takes the flag does not lower the
    // pending rewrite of the user-mode files.
    store16(para::kContrast, 30, 1);
    EXPECT_EQ(c331_manage::para_change_flag, 2);
    deal();
    EXPECT_EQ(reg(0x085701), 4u);
    EXPECT_EQ(reg(0x086401), 255u);
    EXPECT_EQ(codes, (std::vector<int>{2}));
}

TEST_F(C331Deal, EveryChangedEdidRecordIsRequested)
{
    {
        ParaWriteLock lock;
        setLe16(lock.block(), para::edid(1), 1280);
        setLe16(lock.block(), para::edid(3) + 4, 50);
        lock.raise();
    }
    deal();
    for (int i = 0; i < 6; ++i) {
        const bool changed = i == 1 || i == 3;
        EXPECT_EQ(source()->edid_write_request[i], changed ? 1 : 0) << "input " << i;
        EXPECT_EQ(source()->edid_custom_select[i], changed ? 0 : 0xFF) << "input " << i;
    }
}

TEST_F(C331Deal, BlackoutPanelResultAudioAndDebugRequests)
{
    {
        ParaWriteLock lock;
        setLe16(lock.block(), para::kBlackout, 1);
        setLe16(lock.block(), para::kPanelResult + 2, 8);
        setLe16(lock.block(), para::layer(4) + para::kLayerAudioLevel, 0x8005);
        lock.status()[34] = 0x48;     // bit 3 and bit 6: only the lowest is served
        lock.status()[36] = 1;
        lock.raise();
    }
    m->c331_init_state = 6;
    deal();
    EXPECT_TRUE(fpga()->screen_acts.word_last().dark) << "the black-out written is an act";
    EXPECT_EQ(fpga()->lcd_change_flag, 1);
    EXPECT_EQ(source()->volume_update_request, 1);
    EXPECT_EQ(m->c331_init_state, 6) << "bit 3 served, not bit 6";
    EXPECT_EQ(store->run_status[34], 0);
    EXPECT_EQ(store->run_status[36], 0);

    ParaWriteLock().status()[34] = 0x40;
    store16(para::kTestPattern, 0);
    deal();
    EXPECT_EQ(m->c331_init_state, 0) << "the chip is brought up again";
}

TEST_F(C331Deal, PanelChangeWaitsForAPendingLedRequestWithoutHoldingTheMutex)
{
    g_set_led_para = 1;
    {
        ParaWriteLock lock;
        setLe16(lock.block(), para::kLedWidth, 3840);
        setLe16(lock.block(), para::kContrast, 20);
        lock.raise();
    }
    deal();     // must come back although the request is pending
    EXPECT_EQ(g_set_led_para, 1);
    EXPECT_EQ(reg(0x0C2802), 20u * 1023 / 100) << "the other changes are applied meanwhile";
    EXPECT_EQ(c331_manage::para_change_flag, 0);
    EXPECT_TRUE(m->panel_deferred);

    // The FPGA thread needs the mutex to finish its request: it is free.
    std::atomic<bool> got{false};
    std::thread fpgaThread([&got] {
        C331ParaLock lock;
        got = true;
    });
    fpgaThread.join();
    EXPECT_TRUE(got);

    deal();
    EXPECT_EQ(g_set_led_para, 1) << "still pending: nothing done";
    EXPECT_EQ(codes.size(), 1u);

    g_set_led_para = 0;     // the FPGA thread completed the request
    deal();
    EXPECT_EQ(g_set_led_para, 2) << "panel set up, 2 posted";
    EXPECT_FALSE(m->panel_deferred);
    EXPECT_EQ(le16(m->applied_para, para::kLedWidth), 3840);
    EXPECT_EQ(codes.size(), 2u);

    deal();
    EXPECT_EQ(codes.size(), 2u) << "done once";
}

TEST_F(C331Deal, AReInitialisationWithoutAChangedPanelWordSetsThePanelUpOnceTheScreenIsDark)
{
    {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        g_set_led_para = 1;
        g_led_panel_reinit = 1;
    }
    deal();
    EXPECT_EQ(g_set_led_para, 1) << "the FPGA side has not blanked the screen yet";
    EXPECT_TRUE(codes.empty());

    g_set_led_para = 0;     // the FPGA thread completed its part
    deal();
    EXPECT_EQ(g_set_led_para, 2) << "panel set up, 2 posted";
    EXPECT_EQ(g_led_panel_reinit, 0);
    EXPECT_EQ(codes.size(), 1u);

    g_set_led_para = 0;
    deal();
    EXPECT_EQ(g_set_led_para, 0) << "done once";
    EXPECT_EQ(codes.size(), 1u);
}

TEST_F(C331Deal, LayerChangesReachTheirOwnWindow)
{
    layers({0, 2});
    ASSERT_EQ(m->gMwin.wincnt, 2);
    m->gWininfo[0].rotate = 0;
    m->gWininfo[1].rotate = 0;

    store16(para::layer(2) + para::kLayerMirror, 3);
    deal();
    EXPECT_EQ(m->gWininfo[1].rotate, 3) << "layer 2 is window 1";
    EXPECT_EQ(m->gWininfo[0].rotate, 0);

    // A disabled layer touches no window.
    store16(para::layer(1) + para::kLayerMirror, 1);
    deal();
    EXPECT_EQ(m->gWininfo[0].rotate, 0);
    EXPECT_EQ(m->gWininfo[1].rotate, 3);
    store16(para::layer(1) + para::kLayerOutput, 1);
    deal();
    EXPECT_EQ(m->gWininfo[1].outputMode, 0);
    EXPECT_EQ(m->gWininfo[0].outputMode, 0);

    // Priorities and effects go the same way.
    store16(para::kLayerPriority + 2 * 2, 5);
    deal();
    EXPECT_EQ(m->gWininfo[1].layer, 5);
    EXPECT_EQ(m->PM_OVERLAY_PRI[1], 0);
    store16(para::kLayerFade + 4 * 2 + 2, 12);
    deal();
    EXPECT_EQ(m->PM_WIN_FADE_OUT[1], 12);

    // Enabling layer 1 renumbers: layer 2 becomes window 2.
    store16(para::layer(1) + para::kLayerEnable, 1);
    deal();
    EXPECT_EQ(m->gMwin.wincnt, 3);
    EXPECT_EQ(m->window_of_layer(2), 2);
    EXPECT_EQ(m->gWininfo[2].rotate, 3);
    EXPECT_EQ(m->gWininfo[1].rotate, 1) << "layer 1's own mirror word";
}

TEST_F(C331Deal, CropSelectionAndCropIndexBeyondTheTable)
{
    layers({0, 2});
    ParaWriteLock().block()[para::crop(5)] = 0x83;      // input 3 in the head's low bits
    store16(para::layer(2) + para::kLayerInput, 0x8005);
    deal();
    EXPECT_EQ(m->gWininfo[1].cropIdx, 5);
    // The crop's input (low bits of the head) becomes the window's input.
    EXPECT_EQ(m->gWininfo[1].input, 3);
    EXPECT_EQ(m->PM_INPUT[1], 0);

    setLe16(ParaWriteLock().block(), para::kAudioWindow, 2);
    source()->volume_update_request = 0;
    store16(para::layer(2) + para::kLayerInput, 0x8030);   // crop 48: no such record
    deal();
    EXPECT_EQ(m->gWininfo[1].cropIdx, 5);
    EXPECT_EQ(source()->volume_update_request, 0);
    EXPECT_EQ(c331_manage::para_change_flag, 0);

    // The input of the audio window re-selects the audio; another's does not.
    store16(para::layer(2) + para::kLayerInput, 3);
    deal();
    EXPECT_EQ(source()->volume_update_request, 1);
    source()->volume_update_request = 0;
    store16(para::layer(0) + para::kLayerInput, 4);
    deal();
    EXPECT_EQ(source()->volume_update_request, 0);
}

// An operator's pick on a page over a PC's RAM write waiting for its flag:
// layer 0 (window 0) shows its word in force; the PC writes the word, or
// another value, into RAM without its flag (answered); the operator picks
// on the page. The pick is an act whatever the block holds: the pass it
// asks for shows the pick, and the PC's flag afterwards changes nothing.
TEST_F(C331Deal, AnOperatorsPickOverARamWriteWaitingForItsFlagIsShownAtOnce)
{
    const int layer0 = para::layer(0);
    struct Row {
        const char* what;
        std::vector<std::pair<int, uint16_t>> inForce, ramWrite;   // (offset, word)
        std::function<void()> pick;
        std::function<int()> shown;   // what the chip shows
        int expected;
    };
    // The red factor of the colour matrix: warm 8845, nature 8192, cool 6944.
    auto red = [this] { return static_cast<int>(reg(0x0C5B02)); };
    auto rotate = [this] { return static_cast<int>(m->gWininfo[0].rotate); };
    auto dbd = [this] { return static_cast<int>(m->PM_WIN_DBD_MODE[0]); };
    auto quality = [](int index) {
        return [index] {
            ImageQuality page;
            QComboBox* type = page.findChild<QComboBox*>("comboBox");
            type->setCurrentIndex(index);
            emit type->activated(index);
        };
    };
    auto mirror = [](int mode) {
        return [mode] {
            ImageLayout page;
            page.findChild<QPushButton*>("0")->click();   // window 1: layer 0
            page.findChild<QPushButton*>(QString("mirror%1").arg(mode + 1))->click();
        };
    };
    auto p2p = [](int index) {
        return [index] {
            ImageLayout page;
            page.findChild<QPushButton*>("0")->click();
            QComboBox* list = page.findChild<QComboBox*>("comboBox_P2P");
            list->setCurrentIndex(index);
            emit list->activated(index);
        };
    };
    const int out = layer0 + para::kLayerOutput, mode = layer0 + para::kLayerP2P, mir = layer0 + para::kLayerMirror;
    const Row rows[] = {
        {"warm over a RAM write of warm", {{para::kColorTempType, 2}}, {{para::kColorTempType, 1}}, quality(1), red,
         8845},
        {"cool over a RAM write of cool", {{para::kColorTempType, 1}}, {{para::kColorTempType, 3}}, quality(3), red,
         6944},
        {"nature (in force) over a RAM write of warm", {{para::kColorTempType, 2}}, {{para::kColorTempType, 1}},
         quality(2), red, 8192},
        {"mirror 4 over a RAM write of it", {{mir, 0}}, {{mir, 3}}, mirror(3), rotate, 3},
        {"mirror 2 over a RAM write of it", {{mir, 3}}, {{mir, 1}}, mirror(1), rotate, 1},
        {"mirror 1 (in force) over a RAM write of mirror 3", {{mir, 0}}, {{mir, 2}}, mirror(0), rotate, 0},
        {"point-to-point on over a RAM write of it", {{out, 0}, {mode, 0}}, {{out, 0x100}, {mode, 9}}, p2p(3), dbd,
         c331_manage::dbd_code(9)},
        {"point-to-point off over a RAM write of it", {{out, 0x100}, {mode, 8}}, {{out, 0}}, p2p(0), dbd,
         c331::DBD_DISABLE},
        {"point-to-point mode 8 over a RAM write of it", {{out, 0x100}, {mode, 9}}, {{mode, 8}}, p2p(2), dbd,
         c331_manage::dbd_code(8)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        layers({0});
        for (const auto& w : row.inForce)
            store16(w.first, w.second);
        deal();
        persist();
        for (const auto& w : row.ramWrite) {
            unsigned char word[2] = {static_cast<unsigned char>(w.second & 0xFF),
                                     static_cast<unsigned char>(w.second >> 8)};
            ASSERT_EQ(store->ZdrRamParaDeal(word, 2, static_cast<unsigned>(w.first)), 0);
        }
        deal();
        ASSERT_EQ(c331_manage::para_change_flag, 0) << "no pass before the flag";
        row.pick();
        deal();
        EXPECT_EQ(row.shown(), row.expected) << "the pick, at the pass it asks for";
        c331_manage::para_change_flag = 1;   // the PC's flag, later
        deal();
        EXPECT_EQ(row.shown(), row.expected) << "the PC's flag after the pick";
    }
}

// An edited crop: HDMI1 (chip port 1) at 1920 x 1080, its crop 1 (record 0)
// at 0, 0, 960 x 540 shown in window 0, its crop 2 (record 1) the same
// and shown by no window. The crop page's OK or the PC's write of the
// record and its flag sets the width (the PC's, the input too); the pass
// the flag starts applies it to the window that shows the crop, and moves
// nothing for the other.
struct CropEdit {
    bool byPage;
    int width;
    bool shown;
    int input = 2;   // the crop's input after the edit
};

class C331DealCropEdit : public C331Deal, public testing::WithParamInterface<CropEdit> {};

TEST_P(C331DealCropEdit, AnEditedCropReachesTheWindowThatShowsItAtItsFlag)
{
    const CropEdit e = GetParam();
    m->PI_ACT[1] = {192, 1920, 41, 1080};
    m->PI_PORT_INFO[1].STATE = 4;
    layers({0});
    for (int k = 0; k < 2; ++k) {
        const unsigned char rec[10] = {2, static_cast<unsigned char>(0x80 | k), 0, 0, 0, 0, 0xC0, 3, 0x1C, 2};
        std::memcpy(ParaWriteLock().block() + para::crop(k), rec, sizeof rec);
    }
    // Window 0 spans one output channel.
    m->PM_WIN_SHAPE[0][0] = m->PM_WIN_SHAPE[0][1] = 1;
    store16(para::layer(0) + para::kLayerInput, 0x8000);
    deal();
    persist();
    ASSERT_EQ(m->IWIN[0].hw, 960);
    ASSERT_EQ(m->PM_INPUT_OFFSET[0][1], 960);

    const int k = e.shown ? 0 : 1;
    if (e.byPage) {
        InputCut page;
        page.findChild<QPushButton*>("0", Qt::FindDirectChildrenOnly)->click();   // HDMI1
        page.findChild<QFrame*>("frame_source")
            ->findChild<QPushButton*>(QString::number(k + 1), Qt::FindDirectChildrenOnly)
            ->click();
        page.findChild<QLineEdit*>("lineEdit_W")->setText(QString::number(e.width));
        page.findChild<QPushButton*>("Button_ok")->click();
    } else {
        // The whole record, as the PC writes it.
        pcWrites(para::crop(k), {static_cast<unsigned char>(e.input), static_cast<unsigned char>(0x80 | k), 0, 0, 0, 0,
                                 static_cast<unsigned char>(e.width & 0xFF), static_cast<unsigned char>(e.width >> 8),
                                 0x1C, 2});
    }
    ASSERT_EQ(le16(store->ram_para, para::crop(k) + 6), e.width);
    chip().clearFrames();
    deal();
    const int input = e.shown ? e.input : 2;
    EXPECT_EQ(m->gWininfo[0].input, input) << "the window shows the crop's input";
    EXPECT_EQ(m->PM_INPUT[0], c331_manage::zdrApi_inputCvtC331(static_cast<DSP_INPUT_PORT>(input)));
    if (e.shown && e.input == 2) {
        EXPECT_EQ(m->IWIN[0].hw, e.width);
        EXPECT_EQ(m->PM_INPUT_OFFSET[0][1], 1920 - e.width);
        EXPECT_GT(registerFrames(), 0u);
    } else if (e.shown) {
        EXPECT_GT(registerFrames(), 0u);
    } else {
        EXPECT_EQ(m->IWIN[0].hw, 960);
        EXPECT_EQ(m->PM_INPUT_OFFSET[0][1], 960);
        EXPECT_EQ(registerFrames(), 0u) << "a crop no window shows moves nothing";
    }
    EXPECT_EQ(m->gWininfo[0].cropIdx, 0);
    EXPECT_EQ(c331_manage::para_change_flag, 0);
}

INSTANTIATE_TEST_SUITE_P(PageAndPc, C331DealCropEdit,
                         testing::Values(CropEdit{true, 720, true}, CropEdit{true, 800, true},
                                         CropEdit{true, 880, true}, CropEdit{true, 640, true},
                                         CropEdit{false, 720, true}, CropEdit{false, 800, true},
                                         CropEdit{false, 880, true}, CropEdit{false, 640, true},
                                         CropEdit{true, 720, false}, CropEdit{false, 640, false},
                                         CropEdit{false, 960, true, 3}, CropEdit{false, 720, true, 4},
                                         CropEdit{false, 960, false, 3}));

} // namespace
