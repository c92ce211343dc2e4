// The EDID settings page: the tile shows the open input's EDID record, the
// edit frame stores width, height and the shown rate, the rate toggle, the
// refresh on a change of the record or the signal, the way in from the input
// choice page and out again, and a screenshot per language.
#include "support/shell_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/syncupdate.h"
#include "ui/picture/edidset.h"
#include "ui/picture/inputchoose.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/inputcut.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <cstring>
#include <vector>

namespace {

class EdidPage : public ShellTest {
protected:
    void TearDown() override
    {
        if (page)
            delete page.data();
        g_language = 0;
        ShellTest::TearDown();
    }
    EDIDset* open()
    {
        test_store::persisted();
        page = new EDIDset();
        g_edidset = page;
        return page;
    }
    QString text(const char* name) { return page->findChild<QLabel*>(name)->text(); }
    QString tileSize() { return page->findChild<QFrame*>("frame_source")->findChild<QLabel*>("source_size")->text(); }
    void press(const char* name)
    {
        QPushButton* b = page->findChild<QPushButton*>(name);
        ASSERT_TRUE(b) << name;
        b->click();
        QCoreApplication::processEvents();
    }
    void touchTile()
    {
        page->findChild<QFrame*>("frame_source")->findChild<QPushButton*>()->click();
    }
    void setEdid(int input, int w, int h, int r)
    {
        setLe16(ParaWriteLock().block(), para::edid(input), w);
        setLe16(ParaWriteLock().block(), para::edid(input) + 2, h);
        setLe16(ParaWriteLock().block(), para::edid(input) + 4, r);
    }
    My_lineEdit* field(const char* name) { return page->findChild<My_lineEdit*>(name); }

    QPointer<EDIDset> page;
};

} // namespace

TEST_F(EdidPage, TheTileShowsTheOpenInputsRecordAndOkStoresTheEdit)
{
    setEdid(2, 1920, 1080, 60);
    setEdid(4, 3840, 2160, 60);
    g_language = 1;
    open();
    EXPECT_EQ(tileSize(), "1920x1080@60Hz");
    EXPECT_EQ(text("label_rate"), "60");
    EXPECT_TRUE(page->findChild<QFrame*>("frame_add")->isHidden());

    press("2");  // HDMI3
    EXPECT_EQ(page->source_index, 4);
    EXPECT_EQ(tileSize(), "3840x2160@60Hz");
    touchTile();
    EXPECT_FALSE(page->findChild<QFrame*>("frame_add")->isHidden());
    EXPECT_EQ(field("lineEdit_W")->text(), "3840");
    EXPECT_EQ(text("label_edid_source"), "EDID source:HDMI3");

    field("lineEdit_W")->setText("2560");
    field("lineEdit_H")->setText("1440");
    press("Button_left");
    EXPECT_EQ(text("label_rate"), "30");
    c331_manage::para_change_flag = 0;
    press("button_ok");
    EXPECT_EQ(le16(store->ram_para, 920), 2560u);
    EXPECT_EQ(le16(store->ram_para, 922), 1440u);
    EXPECT_EQ(le16(store->ram_para, 924), 30u);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(tileSize(), "2560x1440@30Hz");
    EXPECT_TRUE(page->findChild<QFrame*>("frame_add")->isHidden());
    EXPECT_TRUE(page->findChild<QPushButton*>("button_ok")->isHidden());
}

TEST_F(EdidPage, RateTogglesAndBadNumbersAndDeleteLeaveTheRecordAsItShould)
{
    setEdid(0, 1280, 720, 50);
    open();
    press("5");  // EXT
    touchTile();
    EXPECT_EQ(text("label_rate"), "50") << "the record's own rate until an arrow is pressed";
    press("Button_right");
    EXPECT_EQ(text("label_rate"), "30");
    press("Button_left");
    EXPECT_EQ(text("label_rate"), "60");

    // The arrows step from the stored rate: 30 stored, reopened, the first
    // press shows 60; so does touching the tile again after an unsaved step.
    setEdid(0, 1280, 720, 30);
    delete page.data();
    open();
    press("5");
    touchTile();
    EXPECT_EQ(text("label_rate"), "30");
    press("Button_right");
    EXPECT_EQ(text("label_rate"), "60") << "the first press moves from the stored 30";
    touchTile();
    EXPECT_EQ(text("label_rate"), "30");
    press("Button_left");
    EXPECT_EQ(text("label_rate"), "60");
    press("Button_left");
    EXPECT_EQ(text("label_rate"), "30");
    setEdid(0, 1280, 720, 50);
    press("5");
    touchTile();

    press("button_delete");
    EXPECT_EQ(le16(store->ram_para, para::edid(0)), 1280u) << "Delete stores nothing";

    // A size no EDID can carry (64 to 4095) is refused: from the keypad the
    // field keeps its value; on OK nothing is stored and the editor stays.
    touchTile();
    g_lineedit = field("lineEdit_W");
    for (const char* bad : {"70000", "", "0", "63", "4096", "12a"}) {
        emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit(bad);
        EXPECT_EQ(field("lineEdit_W")->text(), "1280") << bad;
    }
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("4095");
    EXPECT_EQ(field("lineEdit_W")->text(), "4095");
    g_lineedit = nullptr;
    c331_manage::para_change_flag = 0;
    for (const char* bad : {"70000", "", "0"}) {
        field("lineEdit_W")->setText(bad);
        field("lineEdit_H")->setText("720");
        press("button_ok");
        EXPECT_EQ(le16(store->ram_para, para::edid(0)), 1280u) << bad;
        EXPECT_EQ(le16(store->ram_para, para::edid(0) + 2), 720u) << bad;
        EXPECT_EQ(c331_manage::para_change_flag.load(), 0) << bad;
        EXPECT_FALSE(page->findChild<QFrame*>("frame_add")->isHidden()) << bad;
    }
    EXPECT_EQ(tileSize(), "1280x720@50Hz");
    // 4095 x 4095 at 60 Hz needs a pixel clock above the 655.35 MHz an
    // EDID carries: refused too, not turned into another EDID.
    field("lineEdit_W")->setText("4095");
    field("lineEdit_H")->setText("4095");
    press("button_ok");
    EXPECT_EQ(le16(store->ram_para, para::edid(0)), 1280u);
    EXPECT_FALSE(page->findChild<QFrame*>("frame_add")->isHidden());
    field("lineEdit_H")->setText("720");
    field("lineEdit_W")->setText("64");
    press("button_ok");
    EXPECT_EQ(le16(store->ram_para, para::edid(0)), 64u);
}

TEST_F(EdidPage, KeypadResultsReachOnlyThisPagesFields)
{
    open();
    touchTile();
    My_lineEdit other;
    g_lineedit = &other;
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("77");
    EXPECT_EQ(other.text(), "");
    g_lineedit = field("lineEdit_H");
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("768");
    EXPECT_EQ(field("lineEdit_H")->text(), "768");
}

TEST_F(EdidPage, RefreshRedrawsOnTheOpenInputsRecordOrSignalAndFollowsTheLanguage)
{
    setEdid(2, 1920, 1080, 60);
    g_language = 0;
    open();
    EXPECT_EQ(page->findChild<QPushButton*>("Button_left")->x(), 440);
    QFrame* drawn = page->findChild<QFrame*>("frame_source");
    page->syncUpdate();
    EXPECT_EQ(page->findChild<QFrame*>("frame_source"), drawn) << "nothing changed, nothing redrawn";
    setEdid(2, 1024, 768, 60);  // the PC's change
    page->syncUpdate();
    EXPECT_EQ(tileSize(), "1024x768@60Hz");
    drawn = page->findChild<QFrame*>("frame_source");
    setLe16(ParaWriteLock().block(), para::inputSignal(2), 1920);
    page->syncUpdate();
    EXPECT_NE(page->findChild<QFrame*>("frame_source"), drawn) << "a signal change redraws";
    EXPECT_EQ(tileSize(), "1024x768@60Hz");

    setLe16(ParaWriteLock().block(), para::kLanguage, 1);
    page->syncUpdate();
    EXPECT_EQ(page->findChild<QPushButton*>("button_cancel")->text(), "Cancle");
    EXPECT_EQ(page->findChild<QPushButton*>("button_ok")->text(), "SAVE");
    EXPECT_EQ(page->findChild<QPushButton*>("Button_left")->x(), 500);
    EXPECT_EQ(page->findChild<QLabel*>("label_freq")->width(), 130);
    g_language = 3;
    page->language_changed();
    EXPECT_EQ(page->findChild<QLabel*>("label_rate")->width(), 72);
    EXPECT_EQ(page->findChild<QPushButton*>("Button_right")->x(), 616);
}

// A PC's EDID write lands after the refresh has taken its copy of the
// block, before the block is persisted: HDMI1's record (908) becomes
// 2560x1440 at 30 Hz. The file takes it with this refresh; the next refresh
// shows it, and nothing the page did stored an older record.
TEST_F(EdidPage, AnEdidWriteLandingAfterTheRefreshsCopyIsShownByTheNextRefresh)
{
    setEdid(2, 1920, 1080, 60);
    g_language = 1;
    open();
    g_page_focus = kFocusEdid;
    const std::vector<unsigned char> second = {0x00, 0x0A, 0xA0, 0x05, 0x1E, 0x00};   // 2560x1440@30

    setLe16(ParaWriteLock().block(), 268, 1920);   // a signal at HDMI1: the tile is drawn again
    c331_manage::para_change_flag = 1;
    bool landed = false;
    SyncUpdate::page_refreshed_hook = [&] {
        if (landed)
            return;
        pcWrites(908, second);
        landed = true;
    };
    SyncUpdate::pInstance()->para_sync(1);
    SyncUpdate::page_refreshed_hook = nullptr;
    ASSERT_TRUE(landed);
    EXPECT_EQ(tileSize(), "1920x1080@60Hz") << "the refresh shows its copy";
    EXPECT_EQ(std::vector<unsigned char>(store->ram_para_shadow + 908, store->ram_para_shadow + 914), second)
        << "the file holds the PC's write";

    SyncUpdate::pInstance()->para_sync(1);   // the PC's flag
    EXPECT_EQ(tileSize(), "2560x1440@30Hz");
    EXPECT_EQ(std::vector<unsigned char>(store->ram_para + 908, store->ram_para + 914), second);
    EXPECT_EQ(fileBlockBytes(908, 6), second);
}

TEST_F(EdidPage, OpenedFromTheInputChoicePageAndIdleBacksOutOfBoth)
{
    int focusEdid = -1, focusAfter = -1;
    whenModal([&] {
        whenModal([&] {
            focusEdid = g_page_focus.load();
            ASSERT_TRUE(g_edidset);
            g_edidset->on_Button_back_clicked();
        });
        g_inputchoose->zdr_button_EDID_clicked();
        focusAfter = g_page_focus.load();
        EXPECT_FALSE(g_edidset);
        g_inputchoose->on_Button_back_clicked();
    });
    g_mainwindow->on_inputchoose_clicked();
    EXPECT_EQ(focusEdid, 8);
    EXPECT_EQ(focusAfter, 3);
    EXPECT_EQ(g_page_focus.load(), 1);

    g_back_to_mainwindow_time = 50;
    whenModal([&] {
        whenModal([&] { tick(60); });
        g_inputchoose->zdr_button_EDID_clicked();
    });
    g_mainwindow->on_inputchoose_clicked();
    EXPECT_FALSE(g_edidset);
    EXPECT_FALSE(g_inputchoose);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
}

TEST_F(EdidPage, TheCropEditorOpensFromTheInputChoicePageAndReturnsToIt)
{
    int focusCrop = -1, focusAfter = -1;
    whenModal([&] {
        whenModal([&] {
            focusCrop = g_page_focus.load();
            ASSERT_TRUE(g_inputcut);
            g_inputcut->on_Button_back_clicked();
        });
        g_inputchoose->zdr_button_inputcut_clicked();
        focusAfter = g_page_focus.load();
        EXPECT_FALSE(g_inputcut);
        g_inputchoose->on_Button_back_clicked();
    });
    g_mainwindow->on_inputchoose_clicked();
    EXPECT_EQ(focusCrop, 7);
    EXPECT_EQ(focusAfter, 3);
    EXPECT_EQ(g_page_focus.load(), 1);

    // Idle: out of the crop editor and the input choice page, home.
    g_back_to_mainwindow_time = 50;
    whenModal([&] {
        whenModal([&] { tick(60); });
        g_inputchoose->zdr_button_inputcut_clicked();
    });
    g_mainwindow->on_inputchoose_clicked();
    EXPECT_FALSE(g_inputcut);
    EXPECT_FALSE(g_inputchoose);
    EXPECT_EQ(g_page_focus.load(), 1);
    flushDeletes();
}

TEST_F(EdidPage, TheWindowLayoutPageOpensTheInputChoicePageWhichReturnsToIt)
{
    int focusChoose = -1, focusAfter = -1;
    whenModal([&] {
        whenModal([&] {
            focusChoose = g_page_focus.load();
            ASSERT_TRUE(g_inputchoose);
            g_inputchoose->on_Button_back_clicked();
        });
        g_imagelayout->on_Button_source_select_clicked();
        focusAfter = g_page_focus.load();
        EXPECT_FALSE(g_inputchoose);
        g_imagelayout->on_Button_back_clicked();
    });
    shell_open_page(g_imagelayout, kFocusImageLayout);
    EXPECT_EQ(focusChoose, 3);
    EXPECT_EQ(focusAfter, 9);
    EXPECT_FALSE(g_imagelayout);

    // Idle: out of the input choice page and the window layout page.
    g_back_to_mainwindow_time = 50;
    whenModal([&] {
        whenModal([&] { tick(60); });
        g_imagelayout->on_Button_source_select_clicked();
    });
    shell_open_page(g_imagelayout, kFocusImageLayout);
    EXPECT_FALSE(g_inputchoose);
    EXPECT_FALSE(g_imagelayout);
    flushDeletes();
}

TEST_F(EdidPage, Screenshots)
{
    const char* const tags[4] = {"zh", "en", "ru", "vn"};
    const QString dir = QString(ZDR_BINARY_DIR) + "/screenshots";
    QDir().mkpath(dir);
    setEdid(2, 1920, 1080, 60);
    open();
    touchTile();
    for (int lang = 0; lang < 4; ++lang) {
        g_language = static_cast<unsigned char>(lang);
        page->language_changed();
        const QString path = dir + "/edidset_" + tags[lang] + ".png";
        EXPECT_TRUE(page->grab().save(path)) << path.toStdString();
    }
}
