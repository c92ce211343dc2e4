// The input choice page: layer strip, input tabs and source tiles drawn from
// the parameter block, what a touched tile stores, the refresh against what
// the page shows, opener, Back and idle time-out, and a screenshot per language.
#include "support/shell_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/syncupdate.h"
#include "ui/picture/inputchoose.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <cstring>
#include <utility>
#include <vector>

namespace {

class InputChoosePage : public ShellTest {
protected:
    void TearDown() override
    {
        if (page)
            delete page.data();
        g_language = 0;
        ShellTest::TearDown();
    }

    // Crop record k: input, crop number, size.
    void putCrop(int k, int input, int number, int w, int h)
    {
        setLe16(ParaWriteLock().block(), para::crop(k), 0x8000 | ((number - 1) << 8) | input);
        setLe16(ParaWriteLock().block(), para::crop(k) + 2, 0);
        setLe16(ParaWriteLock().block(), para::crop(k) + 4, 0);
        setLe16(ParaWriteLock().block(), para::crop(k) + 6, w);
        setLe16(ParaWriteLock().block(), para::crop(k) + 8, h);
    }
    void layerInput(int layer, unsigned word) { setLe16(ParaWriteLock().block(), para::layer(layer) + para::kLayerInput, word); }
    void enable(int layer, int on) { setLe16(ParaWriteLock().block(), para::layer(layer) + para::kLayerEnable, on); }
    void persist() { test_store::persisted(); }

    InputChoose* open()
    {
        persist();
        page = new InputChoose();
        g_inputchoose = page;
        return page;
    }
    QFrame* sources() { return page->findChild<QFrame*>("frame"); }
    // The visible source tiles' name labels in tile order.
    QStringList tileNames()
    {
        QStringList names;
        QFrame* f = sources();
        for (int i = 0; f && i < 6; ++i) {
            QPushButton* b = f->findChild<QPushButton*>(QString::number(i));
            if (!b)
                break;
            names << b->parentWidget()->findChild<QLabel*>("source_name")->text();
        }
        return names;
    }
    QString usedTile()
    {
        QLabel* badge = sources()->findChild<QLabel*>("source_using");
        return badge ? badge->parentWidget()->findChild<QLabel*>("source_name")->text() : QString();
    }
    void press(QWidget* in, const QString& name)
    {
        QCoreApplication::processEvents();
        QPushButton* b = in->findChild<QPushButton*>(name);
        ASSERT_TRUE(b) << name.toStdString();
        b->click();
        QCoreApplication::processEvents();
    }
    QString label(const char* name) { return page->findChild<QLabel*>(name)->text(); }

    QPointer<InputChoose> page;
};

} // namespace

TEST_F(InputChoosePage, TabsCountTheInputAndItsCropsAndShowTheSignal)
{
    setLe16(ParaWriteLock().block(), para::inputSignal(2), 1920);
    setLe16(ParaWriteLock().block(), para::inputSignal(2) + 2, 1080);
    setLe16(ParaWriteLock().block(), para::inputSignal(2) + 4, 60);
    setLe16(ParaWriteLock().block(), para::inputSignal(3), 1920);  // no refresh: no signal
    setLe16(ParaWriteLock().block(), para::inputSignal(3) + 2, 1080);
    putCrop(0, 2, 1, 640, 480);
    putCrop(3, 2, 2, 320, 240);
    putCrop(5, 1, 1, 100, 100);
    layerInput(0, 2);
    g_language = 0;
    open();
    EXPECT_EQ(label("label_HDMI1_num"), "(3)");
    EXPECT_EQ(label("label_DVI_num"), "(2)");
    EXPECT_EQ(label("label_EXT_num"), "(1)");
    EXPECT_EQ(page->source_index, 2) << "the tab of layer 0's source";
    EXPECT_EQ(tileNames(), QStringList({"HDMI1", "HDMI1_crop1", "HDMI1_crop2"}));
    QFrame* f = sources();
    EXPECT_EQ(f->findChild<QPushButton*>("0")->parentWidget()->findChild<QLabel*>("source_size")->text(),
              "1920x1080@60Hz");
    EXPECT_EQ(f->findChild<QPushButton*>("2")->parentWidget()->findChild<QLabel*>("source_size")->text(), "320x240");
    EXPECT_EQ(usedTile(), "HDMI1");
    EXPECT_FALSE(f->findChild<QPushButton*>("Button_next"));
    EXPECT_FALSE(f->findChild<QPushButton*>("Button_previous"));

    page->on_Button_HDMI2_clicked();
    EXPECT_EQ(tileNames(), QStringList({"HDMI2"}));
    EXPECT_EQ(sources()->findChild<QPushButton*>("0")->parentWidget()->findChild<QLabel*>("source_size")->text(),
              "无信号");
    EXPECT_EQ(usedTile(), "") << "layer 0 shows HDMI1";
    EXPECT_EQ(page->findChild<QFrame*>("frame1")->x(), 150);
}

TEST_F(InputChoosePage, SevenSourcesPageOverAndTheTouchedTileStoresItsSource)
{
    // Crops 1..6 of HDMI2, stored in reverse table order.
    for (int n = 1; n <= 6; ++n)
        putCrop(10 - n, 3, n, 10 * n, 10 * n);
    layerInput(2, 3);
    enable(2, 1);
    open();
    press(page, "2");  // layer 2's tile
    EXPECT_EQ(page->image_index, 2);
    EXPECT_EQ(page->source_index, 3);
    EXPECT_EQ(tileNames().size(), 6);
    EXPECT_TRUE(sources()->findChild<QPushButton*>("Button_next"));
    press(sources(), "Button_next");
    EXPECT_EQ(page->page_index, 1);
    EXPECT_EQ(tileNames(), QStringList({"HDMI2_crop6"}));
    EXPECT_TRUE(sources()->findChild<QPushButton*>("Button_previous"));
    EXPECT_FALSE(sources()->findChild<QPushButton*>("Button_next"));

    c331_manage::para_change_flag = 0;
    press(sources(), "0");  // source 6: the crop numbered 6, record 4
    EXPECT_EQ(le16(store->ram_para, 2332), 0x8000u | 4);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(usedTile(), "HDMI2_crop6");

    press(sources(), "Button_previous");
    press(sources(), "0");
    EXPECT_EQ(le16(store->ram_para, 2332), 3u) << "the input tile stores the input number";
    press(sources(), "2");
    EXPECT_EQ(le16(store->ram_para, 2332), 0x8000u | 8) << "the second crop by number";
}

TEST_F(InputChoosePage, TheLayerStripShowsTheLayersSwitchedOnAndNamesTheirSources)
{
    enable(0, 0);
    enable(2, 1);
    enable(5, 1);
    enable(3, 2);  // only 1 counts as on
    layerInput(5, 1);
    open();
    int x = 20;
    for (int L : {0, 2, 5}) {
        QLabel* tile = page->findChild<QLabel*>(QString("layer_%1").arg(L));
        ASSERT_TRUE(tile) << L;
        EXPECT_EQ(tile->x(), x);
        EXPECT_EQ(tile->text(), QString::number(L + 1));
        x += 130;
    }
    EXPECT_FALSE(page->findChild<QLabel*>("layer_3"));
    EXPECT_EQ(page->findChild<QLabel*>("layer_5")->findChild<QLabel*>("layer_name")->text(), "DVI");
    EXPECT_EQ(page->findChild<QPushButton*>("5")->x(), 17 + 260);
}

// Tiles list an input's crops by crop number; the in-use marker and the
// layer's label must name the crop the layer shows even when the crop table
// holds the crops in another order.
TEST_F(InputChoosePage, TheCropInUseIsMarkedAndNamedByItsOwnNumber)
{
    putCrop(0, 2, 3, 30, 30);
    putCrop(1, 2, 1, 10, 10);
    putCrop(2, 2, 2, 20, 20);
    layerInput(0, 0x8000 | 0);  // record 0: HDMI1's crop 3, first in the table
    open();
    EXPECT_EQ(tileNames(), QStringList({"HDMI1", "HDMI1_crop1", "HDMI1_crop2", "HDMI1_crop3"}));
    EXPECT_EQ(usedTile(), "HDMI1_crop3");

    page->on_Button_HDMI1_clicked();
    press(sources(), "3");
    EXPECT_EQ(le16(store->ram_para, para::layer(0) + para::kLayerInput), 0x8000u | 0);
    EXPECT_EQ(page->findChild<QLabel*>("layer_0")->findChild<QLabel*>("layer_name")->text(), "HDMI1_Crop3");
}

TEST_F(InputChoosePage, RefreshFollowsLayersCropsAndSignals)
{
    enable(1, 1);
    layerInput(0, 2);
    layerInput(1, 4);
    open();
    press(page, "1");
    EXPECT_EQ(page->source_index, 4);

    // Another party switches the selected layer off: layer 0 and its tab.
    enable(1, 0);
    page->syncUpdate(1);
    persist();
    EXPECT_EQ(page->image_index, 0);
    EXPECT_EQ(page->source_index, 2);
    EXPECT_FALSE(page->findChild<QLabel*>("layer_1"));

    // A crop appears: counts and tiles follow.
    putCrop(7, 2, 1, 64, 32);
    page->syncUpdate(1);
    persist();
    EXPECT_EQ(label("label_HDMI1_num"), "(2)");
    EXPECT_EQ(tileNames(), QStringList({"HDMI1", "HDMI1_crop1"}));

    // The PC changes layer 0's input: its label and the open tab follow.
    layerInput(0, 1);
    page->syncUpdate(1);
    persist();
    EXPECT_EQ(page->source_index, 1);
    EXPECT_EQ(page->findChild<QLabel*>("layer_0")->findChild<QLabel*>("layer_name")->text(), "DVI");

    // A signal comes to DVI: the tile shows it.
    setLe16(ParaWriteLock().block(), para::inputSignal(1), 1280);
    setLe16(ParaWriteLock().block(), para::inputSignal(1) + 2, 720);
    setLe16(ParaWriteLock().block(), para::inputSignal(1) + 4, 50);
    page->syncUpdate(1);
    EXPECT_EQ(sources()->findChild<QLabel*>("source_size")->text(), "1280x720@50Hz");
}

// A PC's writes land after the refresh has taken its copy of the block,
// before the block is persisted: window 2's input (2306), window 3 switched
// on (2324) and a crop of HDMI1 (record 0, 1472), and a signal comes to
// HDMI1 (256 + 12). The file takes them with this refresh; the next refresh
// shows every one, and nothing the page did stored an older value.
TEST_F(InputChoosePage, WritesLandingAfterTheRefreshsCopyAreShownByTheNextRefresh)
{
    g_language = 1;
    enable(1, 1);
    layerInput(0, 2);
    layerInput(1, 4);
    open();
    g_page_focus = 3;
    auto layerName = [this](int L) {
        QLabel* tile = page->findChild<QLabel*>(QString("layer_%1").arg(L));
        return tile ? tile->findChild<QLabel*>("layer_name")->text() : QString();
    };
    const std::vector<unsigned char> input5 = {0x05, 0x00}, on = {0x01, 0x00};
    const std::vector<unsigned char> crop = {0x02, 0x80, 0, 0, 0, 0, 0x80, 0x02, 0xE0, 0x01};   // HDMI1 crop 1, 640x480

    pcWrites(2306, {0x01, 0x00});   // window 2 shows DVI
    bool landed = false;
    SyncUpdate::page_refreshed_hook = [&] {
        if (landed)
            return;
        pcWrites(2306, input5);
        pcWrites(2324, on);
        pcWrites(1472, crop);
        setLe16(ParaWriteLock().block(), 268, 1920);   // the receiver driver's record
        setLe16(ParaWriteLock().block(), 270, 1080);
        setLe16(ParaWriteLock().block(), 272, 60);
        landed = true;
    };
    SyncUpdate::pInstance()->para_sync(1);
    SyncUpdate::page_refreshed_hook = nullptr;
    ASSERT_TRUE(landed);
    EXPECT_EQ(layerName(1), "DVI") << "the refresh shows its copy";
    EXPECT_EQ(std::vector<unsigned char>(store->ram_para_shadow + 2306, store->ram_para_shadow + 2308), input5)
        << "the file holds the PC's write";

    SyncUpdate::pInstance()->para_sync(1);   // the PC's flag
    EXPECT_EQ(layerName(1), "HDMI4");
    EXPECT_TRUE(page->findChild<QLabel*>("layer_2")) << "window 3 switched on";
    EXPECT_EQ(label("label_HDMI1_num"), "(2)");
    EXPECT_EQ(tileNames(), QStringList({"HDMI1", "HDMI1_crop1"}));
    EXPECT_EQ(sources()->findChild<QPushButton*>("0")->parentWidget()->findChild<QLabel*>("source_size")->text(),
              "1920x1080@60Hz");
    for (const auto& w : {std::make_pair(2306, input5), std::make_pair(2324, on), std::make_pair(1472, crop)}) {
        expectStoredEverywhere(w.first, w.second);
    }
}

TEST_F(InputChoosePage, TextsAndMenuButtonsFollowTheLanguage)
{
    g_language = 0;
    open();
    QPushButton* cut = page->findChild<QPushButton*>("button_inputcut");
    QPushButton* edid = page->findChild<QPushButton*>("button_EDID");
    EXPECT_EQ(cut->x(), 680);
    EXPECT_TRUE(cut->isHidden());
    press(sources(), "Button_menu");
    EXPECT_FALSE(cut->isHidden());
    EXPECT_FALSE(edid->isHidden());
    press(sources(), "Button_menu");
    EXPECT_TRUE(edid->isHidden());

    setLe16(ParaWriteLock().block(), para::kLanguage, 2);
    page->syncUpdate(1);
    EXPECT_EQ(cut->text(), QString::fromUtf8("Источник"));
    EXPECT_EQ(cut->x(), 640);
    EXPECT_EQ(cut->width(), 140);
    g_language = 7;
    page->language_changed();
    EXPECT_EQ(label("label_title"), "Source switch");
    EXPECT_EQ(edid->geometry(), QRect(620, 370, 160, 60));
}

TEST_F(InputChoosePage, HomeOpensThePageAndBackOrIdleReturnsHome)
{
    int focusInside = -1;
    whenModal([&] {
        focusInside = g_page_focus.load();
        ASSERT_TRUE(g_inputchoose);
        g_inputchoose->on_Button_back_clicked();
    });
    g_mainwindow->on_inputchoose_clicked();
    EXPECT_EQ(focusInside, 3);
    EXPECT_EQ(g_page_focus.load(), 1);
    EXPECT_FALSE(g_inputchoose);

    g_back_to_mainwindow_time = 50;
    whenModal([&] { tick(60); });
    g_mainwindow->on_inputchoose_clicked();
    EXPECT_FALSE(g_inputchoose);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
}

TEST_F(InputChoosePage, TheRefreshReachesThePageInFocus)
{
    open();
    g_page_focus = 3;
    putCrop(0, 2, 1, 8, 8);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(label("label_HDMI1_num"), "(2)");
    EXPECT_EQ(std::memcmp(store->ram_para, store->ram_para_shadow, 4096), 0) << "persisted after the page saw it";
}

TEST_F(InputChoosePage, Screenshots)
{
    const char* const tags[4] = {"zh", "en", "ru", "vn"};
    const QString dir = QString(ZDR_BINARY_DIR) + "/screenshots";
    QDir().mkpath(dir);
    setLe16(ParaWriteLock().block(), para::inputSignal(2), 1920);
    setLe16(ParaWriteLock().block(), para::inputSignal(2) + 2, 1080);
    setLe16(ParaWriteLock().block(), para::inputSignal(2) + 4, 60);
    putCrop(0, 2, 1, 960, 540);
    putCrop(1, 2, 2, 960, 540);
    enable(1, 1);
    enable(3, 1);
    layerInput(0, 2);
    layerInput(1, 0x8000 | 1);
    layerInput(3, 1);
    open();
    for (int lang = 0; lang < 4; ++lang) {
        g_language = static_cast<unsigned char>(lang);
        page->language_changed();
        page->initSource();
        press(sources(), "Button_menu");
        const QString path = dir + "/inputchoose_" + tags[lang] + ".png";
        EXPECT_TRUE(page->grab().save(path)) << path.toStdString();
    }
}
