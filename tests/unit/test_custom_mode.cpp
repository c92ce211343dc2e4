// The user modes page: opening on the mode in use, the tiles and their
// selection, the summary, Use and Delete on the parameter block and the
// slots, the refresh through para_sync, Back and the idle time-out, and the
// page in the four languages.
#include "support/shell_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/syncupdate.h"
#include "sim/board.h"
#include "sim/shell_model.h"
#include "ui/picture/custommode.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/tip.h"
#include "videochip/c331_manage.h"

#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

class CustomModeTest : public ShellTest {
protected:
    void TearDown() override
    {
        delete page;
        g_custommode = nullptr;
        c331_manage::para_change_flag = 0;
        g_language = 1;
        ShellTest::TearDown();
    }
    // Slot s saved, its data filled with a pattern and a few fields set.
    void saveSlot(int s, int ledW, int ledH, int bri, int ctrst)
    {
        unsigned char* slot = test_store::unguarded_slot(s);
        slot[0] = slot[1] = 0xAA;
        for (int k = 0; k < ZdrRamPara::kSlotFileSize; ++k)
            slot[2 + k] = static_cast<unsigned char>(k * 7 + s);
        unsigned char* data = slot + 2;
        setLe16(data, para::kLedWidth - para::kModeStart, ledW);
        setLe16(data, para::kLedHeight - para::kModeStart, ledH);
        setLe16(data, para::kBrightness - para::kModeStart, bri);
        setLe16(data, para::kContrast - para::kModeStart, ctrst);
        data[para::kAudioWindow - para::kModeStart] = 0;
        setLe16(data, para::layer(0) + para::kLayerAudioLevel - para::kModeStart, 0);
        setLe16(data, para::kOsdOn - para::kModeStart, 0);
    }
    void open()
    {
        page = new CustomMode();
        g_custommode = page;
        g_page_focus = kFocusCustomMode;
    }
    QString text(const char* name) const
    {
        QLabel* l = page->findChild<QLabel*>(name);
        return l ? l->text() : QString("<none>");
    }
    bool visible(const char* name) const
    {
        QLabel* l = page->findChild<QLabel*>(name);
        return l && !l->isHidden();
    }
    void touchTile(int slot)
    {
        QPushButton* b = page->findChild<QPushButton*>(QString::number(slot));
        ASSERT_NE(b, nullptr);
        b->click();
    }
    QPushButton* button(const char* name) const { return page->findChild<QPushButton*>(name); }
    int shellRuns(const std::string& command) const
    {
        const auto cmds = sim::Board::instance().shell().commands();
        return static_cast<int>(std::count(cmds.begin(), cmds.end(), command));
    }

    QPointer<CustomMode> page;
};

} // namespace

TEST_F(CustomModeTest, OpensOnTheModeInUseWithItsBadgeOrOnSlotOne)
{
    g_language = 1;
    open();
    EXPECT_EQ(g_mode_select, 0);
    EXPECT_EQ(text("label_ID"), "ID:1");
    EXPECT_FALSE(visible("label_using"));
    EXPECT_TRUE(page->findChild<QLabel*>("using_badge")->isHidden());
    EXPECT_TRUE(visible("label_blank")) << "slot 1 is empty";
    EXPECT_FALSE(visible("label_LED"));
    EXPECT_EQ(text("label_name"), "Name:Mode1");
    delete page;

    saveSlot(4, 1920, 1080, 80, 50);
    setLe16(ParaWriteLock().block(), para::kCurrentMode, 5);
    open();
    EXPECT_EQ(g_mode_select, 4);
    EXPECT_EQ(text("label_ID"), "ID:5");
    EXPECT_TRUE(visible("label_using"));
    EXPECT_FALSE(visible("label_blank"));
    EXPECT_EQ(text("label_LED"), "LED size:1920x1080");
    EXPECT_EQ(text("label_brightness"), "Bri:80 CTRST:50 Volume:OFF");
    EXPECT_TRUE(g_frame[4]->styleSheet().contains("1px solid #00D65B"));
    EXPECT_TRUE(g_frame[3]->styleSheet().contains("1px solid #FFFFFF"));
    QLabel* badge = page->findChild<QLabel*>("using_badge");
    EXPECT_FALSE(badge->isHidden());
    EXPECT_EQ(badge->geometry(), QRect(96, 2 + 90 * 4, 56, 30));
    EXPECT_EQ(badge->text(), "Using");
    delete page;

    // A value above 16 is no mode in use.
    setLe16(ParaWriteLock().block(), para::kCurrentMode, 17);
    open();
    EXPECT_EQ(g_mode_select, 0);
    EXPECT_TRUE(page->findChild<QLabel*>("using_badge")->isHidden());
}

TEST_F(CustomModeTest, TouchingTilesMovesTheSelectionBorderAndTheSummary)
{
    g_language = 1;
    saveSlot(6, 3840, 2160, 100, 40);
    open();
    touchTile(6);
    EXPECT_EQ(g_mode_select, 6);
    EXPECT_EQ(text("label_ID"), "ID:7");
    EXPECT_TRUE(g_frame[6]->styleSheet().contains("2px solid #00D65B"));
    EXPECT_EQ(text("label_LED"), "LED size:3840x2160");
    EXPECT_FALSE(visible("label_blank"));
    touchTile(2);
    EXPECT_TRUE(g_frame[6]->styleSheet().contains("1px solid #FFFFFF"));
    EXPECT_TRUE(g_frame[2]->styleSheet().contains("2px solid #00D65B"));
    EXPECT_TRUE(visible("label_blank"));
    EXPECT_FALSE(visible("label_LED"));
    EXPECT_FALSE(visible("label_brightness"));
}

TEST_F(CustomModeTest, VolumeFollowsTheAudioWindowAndAnAudioWindowBeyondTheLayersReadsOff)
{
    g_language = 1;
    saveSlot(0, 64, 32, 10, 20);
    unsigned char* data = test_store::unguarded_slot(0) + 2;
    data[para::kAudioWindow - para::kModeStart] = 3;
    setLe16(data, para::layer(3) + para::kLayerAudioLevel - para::kModeStart, 0x8040);
    open();
    EXPECT_EQ(text("label_brightness"), "Bri:10 CTRST:20 Volume:ON");
    delete page;

    // Window 200 would read far past the slot's data.
    data[para::kAudioWindow - para::kModeStart] = 200;
    open();
    EXPECT_EQ(text("label_brightness"), "Bri:10 CTRST:20 Volume:OFF");
}

TEST_F(CustomModeTest, AliasNamesAreElidedOnTheTileAndInTheSummary)
{
    g_language = 1;
    writeFile(hostPath("/data/configs/alias.json"),
              R"({"namelist": {"usermode": [{"id": 0, "valid": "on", "name": "A very long name for the lobby screen"},
                                            {"id": 1, "valid": "off", "name": "Hidden"}]}})");
    open();
    const QList<QLabel*> names = page->findChildren<QLabel*>("mode_name");
    ASSERT_EQ(names.size(), 16);
    EXPECT_TRUE(names[0]->text().endsWith(QChar(0x2026))) << names[0]->text().toStdString();
    EXPECT_EQ(names[1]->text(), "MODE 2");
    EXPECT_TRUE(text("label_name").startsWith("Name:A very"));
    EXPECT_TRUE(text("label_name").endsWith(QChar(0x2026)));
}

TEST_F(CustomModeTest, UseCopiesTheSlotIntoTheModeAreaUnderTheChipLock)
{
    saveSlot(3, 1920, 1080, 90, 50);
    unsigned char before[4096];
    for (int i = 0; i < 4096; ++i)
        ParaWriteLock().block()[i] = static_cast<unsigned char>(0x5A ^ i);
    std::memcpy(before, store->ram_para, sizeof(before));
    open();
    touchTile(3);
    c331_manage::para_change_flag = 0;
    button("Button_use")->click();
    EXPECT_EQ(le16(store->ram_para, para::kCurrentMode), 4);
    EXPECT_EQ(0, std::memcmp(store->ram_para + para::kModeStart, store->mode_user_para[3] + 2, para::kModeSize));
    EXPECT_EQ(0, std::memcmp(store->ram_para, before, para::kCurrentMode));
    EXPECT_EQ(0, std::memcmp(store->ram_para + 868, before + 868, 896 - 868));
    EXPECT_EQ(c331_manage::para_change_flag, 1);
    EXPECT_EQ(button("Button_use")->styleSheet().left(28), "background-color: #4777FF;co");

    // Delete highlighted, then Use on an empty slot: only the highlight.
    button("Button_delete")->click();
    EXPECT_TRUE(button("Button_use")->styleSheet().startsWith("background-color: #212435"));
    touchTile(9);
    c331_manage::para_change_flag = 0;
    std::memcpy(before, store->ram_para, sizeof(before));
    button("Button_use")->click();
    EXPECT_EQ(0, std::memcmp(store->ram_para, before, sizeof(before)));
    EXPECT_EQ(c331_manage::para_change_flag, 0);
    EXPECT_TRUE(button("Button_use")->styleSheet().startsWith("background-color: #4777FF"));
    EXPECT_TRUE(button("Button_delete")->styleSheet().startsWith("background-color: #212435"));
}

TEST_F(CustomModeTest, DeleteEmptiesTheSlotAndKeepsTheModeInUse)
{
    saveSlot(4, 1920, 1080, 90, 50);
    setLe16(ParaWriteLock().slot(4) + 2, para::kOsdOn - para::kModeStart, 1);
    setLe16(ParaWriteLock().block(), para::kCurrentMode, 5);
    open();
    button("Button_delete")->click();
    EXPECT_FALSE(store->ZdrUserModeSaved(4));
    EXPECT_EQ(shellRuns("rm  -rf  /data/modes/custom_mode5"), 1);
    EXPECT_EQ(shellRuns("rm  -rf  /data/modes/MO05.json"), 1);
    EXPECT_EQ(le16(store->ram_para, para::kCurrentMode), 5);
    EXPECT_TRUE(visible("label_using"));
    EXPECT_TRUE(visible("label_blank"));
    EXPECT_FALSE(visible("label_LED"));
    EXPECT_FALSE(page->findChild<QLabel*>("using_badge")->isHidden());

    // A second Delete on the now empty slot removes nothing more.
    button("Button_delete")->click();
    EXPECT_EQ(shellRuns("rm  -rf  /data/modes/custom_mode5"), 1);
}

TEST_F(CustomModeTest, ParaSyncRebuildsOnANewModeInUseAndShowsTheCheckMark)
{
    g_language = 1;
    saveSlot(1, 1920, 1080, 90, 50);
    test_store::persisted();
    open();
    touchTile(1);
    button("Button_use")->click();
    EXPECT_TRUE(page->findChild<QLabel*>("using_badge")->isHidden()) << "not redrawn by Use itself";
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_FALSE(page->findChild<QLabel*>("using_badge")->isHidden());
    EXPECT_TRUE(g_frame[1]->styleSheet().contains("1px solid #00D65B"));
    EXPECT_TRUE(visible("label_using"));
    EXPECT_EQ(g_tip->shown_type(), 1);

    // A language change relabels the fixed texts.
    ParaWriteLock().block()[para::kLanguage] = 2;
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(text("label_title"), QString::fromUtf8("Слот"));
    EXPECT_EQ(button("Button_use")->text(), QString::fromUtf8("Вызвать"));
}

// A PC's writes land after the refresh has taken its copy of the block,
// before the block is persisted: the mode in use (866) goes from 1 to 2,
// and the selected slot's brightness (slot 1, its byte 1282) to 77. The
// file takes the mode with this refresh; the next refresh shows both, and
// nothing the page did stored an older value.
TEST_F(CustomModeTest, WritesLandingAfterTheRefreshsCopyAreShownByTheNextRefresh)
{
    g_language = 1;
    saveSlot(0, 1920, 1080, 90, 50);
    saveSlot(1, 1280, 720, 60, 40);
    test_store::persisted();
    open();
    ASSERT_EQ(text("label_ID"), "ID:1");
    auto fileWord = [this](int offset) {
        const auto file = fileBytes("/data/ram_device_info");
        return file.size() == 4096u ? le16(file.data(), 2 + offset - 768) : -1;
    };
    QLabel* badge = page->findChild<QLabel*>("using_badge");

    pcWrites(866, {0x01, 0x00});
    bool landed = false;
    SyncUpdate::page_refreshed_hook = [&] {
        if (landed)
            return;
        pcWrites(866, {0x02, 0x00});
        unsigned char bri[2] = {77, 0};
        ASSERT_EQ(store->ZdrModeUserRamParaDeal(bri, 2, (1 << 12) | 1282), 0);
        landed = true;
    };
    SyncUpdate::pInstance()->para_sync(1);
    SyncUpdate::page_refreshed_hook = nullptr;
    ASSERT_TRUE(landed);
    badge = page->findChild<QLabel*>("using_badge");
    ASSERT_TRUE(badge);
    EXPECT_EQ(badge->y(), 2) << "the refresh shows its copy: mode 1";
    EXPECT_EQ(text("label_brightness"), "Bri:90 CTRST:50 Volume:OFF");
    EXPECT_EQ(le16(store->ram_para_shadow, 866), 2u) << "the file holds the PC's write";

    SyncUpdate::pInstance()->para_sync(1);   // the PC's flag
    badge = page->findChild<QLabel*>("using_badge");
    ASSERT_TRUE(badge);
    EXPECT_FALSE(badge->isHidden());
    EXPECT_EQ(badge->y(), 92) << "mode 2 in use";
    EXPECT_FALSE(visible("label_using")) << "slot 1 is no longer the mode in use";
    EXPECT_EQ(text("label_brightness"), "Bri:77 CTRST:50 Volume:OFF");
    EXPECT_EQ(le16(store->ram_para, 866), 2u);
    EXPECT_EQ(le16(store->ram_para_shadow, 866), 2u);
    EXPECT_EQ(fileWord(866), 2);
}

TEST_F(CustomModeTest, OpenerBackAndIdleTimeOut)
{
    whenModal([&] {
        EXPECT_TRUE(g_custommode);
        EXPECT_EQ(g_page_focus.load(), 4);
        g_custommode->on_Button_back_clicked();
    });
    g_mainwindow->on_custommode_clicked();
    EXPECT_FALSE(g_custommode);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();

    lcd_touch::p_lcd_touch->touch_event(platform::TouchEvent{});
    whenModal([&] { tick(g_back_to_mainwindow_time + 1); });
    g_mainwindow->on_custommode_clicked();
    EXPECT_FALSE(g_custommode);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
}

TEST_F(CustomModeTest, FixedTextsInTheFourLanguagesAndScreenshots)
{
    const QString dir = QString(ZDR_BINARY_DIR) + "/screenshots";
    QDir().mkpath(dir);
    saveSlot(0, 1920, 1080, 100, 50);
    unsigned char* data = test_store::unguarded_slot(0) + 2;
    const int windows[6][6] = {{1, 2, 0, 0, 960, 540},      {1, 3, 960, 0, 960, 540},
                               {1, 0x8001, 0, 540, 960, 540}, {0, 1, 960, 540, 960, 540},
                               {1, 5, 480, 270, 960, 540},  {0, 0, 0, 0, 1920, 1080}};
    for (int l = 0; l < 6; ++l) {
        const int at = para::layer(l) - para::kModeStart;
        setLe16(data, at + para::kLayerEnable, windows[l][0]);
        for (int f = 1; f < 6; ++f)
            setLe16(data, at + para::kLayerInput + 2 * (f - 1), windows[l][f]);
    }
    setLe16(data, para::crop(1) - para::kModeStart, 0x8104);
    setLe16(data, para::kOsdOn - para::kModeStart, 1);
    writeFile(hostPath("/data/modes/MO01.json"),
              R"({"name": "m", "osdcount": "1", "oactcount": 1, "menu": [{"type": 0, "status": "on",
                  "pos": {"x": 0, "y": 0, "w": 1920, "h": 64}, "act": {"effect": 4, "speed": 3, "staytime": 0},
                  "backpara": {"enable": "on", "color": "0x203060"},
                  "fontpara": {"startx": 8, "starty": 8, "fontw": 32, "fonth": 32, "wordspace": 2,
                               "verticalspace": 2, "color": "0xFFD700"},
                  "texts": ["Welcome to the hall\nOpening at 9:00"]}]})");
    setLe16(ParaWriteLock().block(), para::kCurrentMode, 1);
    const char* const tags[4] = {"zh", "en", "ru", "vn"};
    const char* const titles[4] = {"用户模式", "User mode", "Слот", "Chế độ người dùng"};
    const char* const using_[4] = {"使用中", "Using", "Использовать", "sử dụng"};
    for (int lang = 0; lang < 4; ++lang) {
        g_language = static_cast<unsigned char>(lang);
        open();
        EXPECT_EQ(text("label_title"), QString::fromUtf8(titles[lang]));
        EXPECT_EQ(text("label_using"), QString::fromUtf8(using_[lang]));
        EXPECT_EQ(text("label_blank"), QString::fromUtf8("未保存用户模式数据"));
        // The LED line names the screen size in every language.
        const char* const led[4] = {"LED参数:1920x1080", "LED size:1920x1080", "Размер LED:1920x1080",
                                    "Kích thước LED:1920x1080"};
        EXPECT_EQ(text("label_LED"), QString::fromUtf8(led[lang]));
        ASSERT_TRUE(page->grab().save(dir + "/custommode_" + tags[lang] + ".png"));
        delete page;
    }
    g_language = 7;
    open();
    EXPECT_EQ(text("label_title"), "User mode");
}

// --- the preview -----------------------------------------------------------

TEST_F(CustomModeTest, PreviewRowsShowSourcesStatesAndRectangles)
{
    saveSlot(0, 1920, 1080, 100, 50);
    unsigned char* data = test_store::unguarded_slot(0) + 2;
    for (int l = 0; l < 6; ++l) {
        const int at = para::layer(l) - para::kModeStart;
        setLe16(data, at + para::kLayerEnable, 1);
        setLe16(data, at + para::kLayerInput, 2);
        setLe16(data, at + para::kLayerX, 0);
        setLe16(data, at + para::kLayerY, 0);
        setLe16(data, at + para::kLayerW, 1920);
        setLe16(data, at + para::kLayerH, 1080);
    }
    // Window 5 shows crop record 7 of HDMI1 and is off; window 2 is 65535 wide.
    const int at4 = para::layer(4) - para::kModeStart;
    setLe16(data, at4 + para::kLayerEnable, 0);
    setLe16(data, at4 + para::kLayerInput, 0x8007);
    setLe16(data, para::crop(7) - para::kModeStart, 0x8002);
    setLe16(data, para::layer(1) - para::kModeStart + para::kLayerW, 65535);

    g_language = 1;
    open();
    QWidget* preview = page->previewWidget();
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->findChildren<QLabel*>().size(), 18) << "OSD off: six rows of three";
    const QList<QLabel*> sources = preview->findChildren<QLabel*>("layer_source");
    const QList<QLabel*> rects = preview->findChildren<QLabel*>("layer_rect");
    const QList<QLabel*> badges = preview->findChildren<QLabel*>("layer_number");
    ASSERT_EQ(sources.size(), 6);
    EXPECT_EQ(sources[0]->text(), "HDMI1 ON");
    EXPECT_EQ(sources[4]->text(), "HDMI1_Crop8 OFF");
    EXPECT_EQ(rects[0]->text(), "[0,0]1920x1080");
    EXPECT_EQ(rects[1]->text(), "[0,0]65535x1080");
    EXPECT_EQ(badges[4]->text(), "5");
    EXPECT_EQ(badges[4]->pos(), QPoint(300, 54));
    EXPECT_EQ(badges[4]->styleSheet(), "background-color: #32CC4C;");
    EXPECT_EQ(rects[3]->width(), 470);
    delete page;

    g_language = 0;
    open();
    EXPECT_EQ(page->previewWidget()->findChildren<QLabel*>("layer_source")[4]->text(),
              QString::fromUtf8("HDMI1_Crop8 关闭"));
    // An empty slot has no preview.
    touchTile(3);
    EXPECT_EQ(page->previewWidget(), nullptr);
}

TEST_F(CustomModeTest, PreviewOsdLinesFromTheModesMenuFile)
{
    saveSlot(10, 1920, 1080, 100, 50);
    setLe16(ParaWriteLock().slot(10) + 2, para::kOsdOn - para::kModeStart, 1);
    writeFile(hostPath("/data/modes/MO0b.json"),
              R"({"name": "m", "osdcount": "1", "oactcount": 1, "menu": [{"type": 0, "status": "on",
                  "pos": {"x": 10, "y": 20, "w": 300, "h": 64},
                  "act": {"effect": 7, "speed": 5, "staytime": 30},
                  "backpara": {"enable": "on", "color": "0x102030"},
                  "fontpara": {"startx": 1, "starty": 2, "fontw": 32, "fonth": 48, "wordspace": 3,
                               "verticalspace": 4, "color": "0x00FF00"},
                  "texts": ["one\ntwo\nthree\nfour"]}]})");
    g_language = 1;
    setLe16(ParaWriteLock().block(), para::kCurrentMode, 11);
    open();
    QLabel* sample = page->previewWidget()->findChild<QLabel*>("osd_sample");
    QLabel* params = page->previewWidget()->findChild<QLabel*>("osd_para");
    ASSERT_NE(sample, nullptr);
    ASSERT_NE(params, nullptr);
    EXPECT_EQ(sample->text(), "one\ntwo\nthree");
    EXPECT_EQ(sample->styleSheet(), "background-color:#102030;color:#00FF00;");
    EXPECT_EQ(params->text(), "osd [x:10,y:20,w:300,h:64] font size:32*48\n"
                              "space [h:3,v:4] char[x:1,y:2] speed:5,effect:static");

    // Without its file the lines are still there, with plain colours.
    std::remove(hostPath("/data/modes/MO0b.json").c_str());
    touchTile(10);
    sample = page->previewWidget()->findChild<QLabel*>("osd_sample");
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->styleSheet(), "background-color:#000000;color:#FFFFFF;");

    // A mode menu that does not parse previews as no text; the preview
    // deletes nothing: the live menu and the mode's file stay as they were.
    const std::string live = "{\"name\": \"live\", \"osdcount\": 0, \"oactcount\": 0}";
    writeFile(hostPath("/data/configs/omenu.json"), live);
    writeFile(hostPath("/data/modes/MO0b.json"), "{\"name\": \"m\", \"osdcount\": ");
    delete page;
    open();
    touchTile(10);
    sample = page->previewWidget()->findChild<QLabel*>("osd_sample");
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->text(), "");
    EXPECT_EQ(readFile(hostPath("/data/configs/omenu.json")), live);
    EXPECT_EQ(readFile(hostPath("/data/modes/MO0b.json")), "{\"name\": \"m\", \"osdcount\": ");
}

TEST(CustomModePreview, OsdSampleKeepsThreeLinesAndColoursNeedSixDigits)
{
    EXPECT_EQ(custommode_osd_sample("a\n\nc"), "a\n\nc");
    EXPECT_EQ(custommode_osd_sample("a\nb\nc\nd\ne"), "a\nb\nc");
    EXPECT_EQ(custommode_osd_color("0xA0b1C2", "000000"), "A0b1C2");
    EXPECT_EQ(custommode_osd_color("A0B1C2", "000000"), "A0B1C2");
    EXPECT_EQ(custommode_osd_color("0x12", "FFFFFF"), "FFFFFF");
    EXPECT_EQ(custommode_osd_color("red;} QWidget{x", "FFFFFF"), "FFFFFF");
    const unsigned char language = g_language;
    g_language = 1;
    EXPECT_EQ(custommode_source_text(9, false, 0, true), "IN9 ON");
    g_language = language;
}
