// The crop editor: tiles and counts per input, paging, adding, changing and
// deleting crops through the store's crop operations, the keypad, the
// refresh by para sync, opener and Back, the texts and screenshots.
#include "support/shell_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/syncupdate.h"
#include "core/zdrrampara.h"
#include "ui/picture/inputcut.h"
#include "platform/platform.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <QDir>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <cstring>
#include <utility>
#include <vector>

namespace {

class CropPage : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        c331_manage::para_change_flag = 0;
    }
    void TearDown() override
    {
        if (g_inputcut)
            delete g_inputcut.data();
        g_inputcut_back_to_choose = nullptr;
        c331_manage::para_change_flag = 0;
        ShellTest::TearDown();
    }

    // Crop record k: the input's crop number n with a rectangle.
    void putCrop(int k, int input, int n, int x, int y, int w, int h)
    {
        const int off = para::crop(k);
        setLe16(ParaWriteLock().block(), off, static_cast<uint16_t>(0x8000 | ((n - 1) << 8) | input));
        setLe16(ParaWriteLock().block(), off + 2, x);
        setLe16(ParaWriteLock().block(), off + 4, y);
        setLe16(ParaWriteLock().block(), off + 6, w);
        setLe16(ParaWriteLock().block(), off + 8, h);
    }
    uint16_t cropField(int k, int field) const { return le16(store->ram_para, para::crop(k) + 2 * field); }
    // Block and shadow agree again, as after a refresh.
    void persisted() { test_store::persisted(); }

    InputCut* open()
    {
        g_inputcut = new InputCut();
        g_page_focus = kFocusInputCut;
        return g_inputcut;
    }
    QFrame* tiles() const { return g_inputcut->findChild<QFrame*>("frame_source"); }
    QPushButton* tileButton(int k) const
    {
        return tiles()->findChild<QPushButton*>(QString::number(k), Qt::FindDirectChildrenOnly);
    }
    int tileCount() const
    {
        int n = 0;
        while (tileButton(n))
            ++n;
        return n;
    }
    QString tileText(const char* kind, int k) const
    {
        QLabel* l = tiles()->findChild<QLabel*>(QString("%1_%2").arg(kind).arg(k));
        return l ? l->text() : QString("<none>");
    }
    QString text(const char* name) const
    {
        QLabel* l = g_inputcut->findChild<QLabel*>(name);
        return l ? l->text() : QString("<none>");
    }
    My_lineEdit* field(const char* name) const { return g_inputcut->findChild<My_lineEdit*>(name); }
    QPushButton* button(const char* name) const { return g_inputcut->findChild<QPushButton*>(name); }
    void pressInput(int b)
    {
        g_inputcut->findChild<QPushButton*>(QString::number(b), Qt::FindDirectChildrenOnly)->click();
    }
    void setFields(const char* x, const char* y, const char* w, const char* h)
    {
        field("lineEdit_X")->setText(x);
        field("lineEdit_Y")->setText(y);
        field("lineEdit_W")->setText(w);
        field("lineEdit_H")->setText(h);
    }
};

} // namespace

TEST_F(CropPage, TilesCountsAndPagingFollowTheInputsCrops)
{
    for (int n = 1; n <= 5; ++n)
        putCrop(n + 2, 2, n, 0, 0, 100 * n, 50 * n);
    putCrop(0, 1, 1, 0, 0, 640, 480);   // DVI's crop, not HDMI1's
    setLe16(ParaWriteLock().block(), para::inputSignal(2), 1920);
    setLe16(ParaWriteLock().block(), para::inputSignal(2) + 2, 1080);
    setLe16(ParaWriteLock().block(), para::inputSignal(2) + 4, 60);
    persisted();
    open();

    EXPECT_EQ(text("HDMI1_num"), "(6)");
    EXPECT_EQ(text("DVI_num"), "(2)");
    EXPECT_EQ(text("EXT_num"), "(1)");
    EXPECT_EQ(tileCount(), 6);
    EXPECT_EQ(tileText("name", 0), "HDMI1");
    EXPECT_EQ(tileText("size", 0), "1920x1080@60Hz");
    EXPECT_EQ(tileText("name", 2), "HDMI1_crop2");
    EXPECT_EQ(tileText("size", 5), "500x250");
    EXPECT_FALSE(tiles()->findChild<QPushButton*>("Button_next"));
    EXPECT_FALSE(tiles()->findChild<QPushButton*>("Button_previous"));

    // A 6th crop makes a second page with one tile.
    putCrop(20, 2, 6, 10, 20, 700, 70);
    g_inputcut->syncUpdate(1);
    EXPECT_EQ(g_inputcut->page_max, 1);
    EXPECT_EQ(text("HDMI1_num"), "(7)");
    // The tiles' frame goes later, not inside its own arrow's click.
    QPointer<QFrame> first = tiles();
    tiles()->findChild<QPushButton*>("Button_next")->click();
    EXPECT_TRUE(first);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(first);
    EXPECT_EQ(g_inputcut->page_index, 1);
    EXPECT_EQ(tileCount(), 1);
    EXPECT_EQ(tileText("name", 0), "HDMI1_crop6");
    EXPECT_EQ(tileText("size", 0), "700x70");
    EXPECT_FALSE(tiles()->findChild<QPushButton*>("Button_next"));
    tiles()->findChild<QPushButton*>("Button_previous")->click();
    EXPECT_EQ(g_inputcut->page_index, 0);

    // The DVI tab: no signal, its crop, the selection frame moved.
    pressInput(4);
    EXPECT_EQ(g_inputcut->source_index, 1);
    EXPECT_EQ(tileCount(), 2);
    EXPECT_EQ(tileText("name", 0), "DVI");
    EXPECT_EQ(tileText("size", 0), "No signal");
    EXPECT_EQ(tileText("name", 1), "DVI_crop1");
    // EXT: only the input itself.
    pressInput(5);
    EXPECT_EQ(g_inputcut->source_index, 0);
    EXPECT_EQ(tileCount(), 1);
}

TEST_F(CropPage, AddingStoresTheLowestFreeNumberInTheFirstFreeRecord)
{
    putCrop(0, 3, 1, 0, 0, 10, 10);   // another input's
    putCrop(1, 2, 1, 0, 0, 20, 20);
    putCrop(2, 2, 3, 0, 0, 30, 30);
    persisted();
    open();
    button("Button_add")->click();
    EXPECT_EQ(g_inputcut->crop_adding, 1);
    EXPECT_TRUE(g_inputcut->findChild<QFrame*>("frame_add")->isVisibleTo(g_inputcut));
    EXPECT_FALSE(button("Button_delete")->isVisibleTo(g_inputcut));
    EXPECT_EQ(text("label_change_source"), "Name:HDMI1-Crop-3");
    EXPECT_EQ(field("lineEdit_W")->text(), "1920");
    button("Button_ok")->click();

    EXPECT_EQ(cropField(3, 0), 0x8000 | (1 << 8) | 2);   // crop number 2 of HDMI1
    EXPECT_EQ(cropField(3, 1), 0);
    EXPECT_EQ(cropField(3, 2), 0);
    EXPECT_EQ(cropField(3, 3), 1920);
    EXPECT_EQ(cropField(3, 4), 1080);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(text("HDMI1_num"), "(4)");
    EXPECT_FALSE(g_inputcut->findChild<QFrame*>("frame_add")->isVisibleTo(g_inputcut));

    // Typed values: signed 16-bit numbers. The keypad's 40000 or "abc" is
    // refused (the field keeps its value); a field holding no such number
    // stores nothing and the editor stays open.
    button("Button_add")->click();
    g_lineedit = field("lineEdit_W");
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("40000");
    EXPECT_EQ(field("lineEdit_W")->text(), "1920");
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("abc");
    EXPECT_EQ(field("lineEdit_W")->text(), "1920");
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("-32768");
    EXPECT_EQ(field("lineEdit_W")->text(), "-32768");
    g_lineedit = nullptr;
    uint8_t table[para::kCropSize * para::kCropCount];
    std::memcpy(table, store->ram_para + para::kCropTable, sizeof(table));
    c331_manage::para_change_flag = 0;
    for (const char* bad : {"40000", "", "12a"}) {
        setFields("-5", bad, "640", "720");
        button("Button_ok")->click();
        EXPECT_EQ(std::memcmp(table, store->ram_para + para::kCropTable, sizeof(table)), 0) << bad;
        EXPECT_EQ(c331_manage::para_change_flag.load(), 0) << bad;
        EXPECT_TRUE(g_inputcut->findChild<QFrame*>("frame_add")->isVisibleTo(g_inputcut)) << bad;
    }
    setFields("-5", "32767", "640", "720");
    button("Button_ok")->click();
    EXPECT_EQ(cropField(4, 0), 0x8000 | (3 << 8) | 2);
    EXPECT_EQ(cropField(4, 1), 0xFFFB);
    EXPECT_EQ(cropField(4, 2), 0x7FFF);
    EXPECT_EQ(cropField(4, 3), 640);
    EXPECT_EQ(cropField(4, 4), 720);

    // Cancel stores nothing.
    c331_manage::para_change_flag = 0;
    uint8_t before[para::kCropSize * para::kCropCount];
    std::memcpy(before, store->ram_para + para::kCropTable, sizeof(before));
    button("Button_add")->click();
    button("Button_cancel")->click();
    EXPECT_EQ(std::memcmp(before, store->ram_para + para::kCropTable, sizeof(before)), 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);
}

TEST_F(CropPage, EditingAndDeletingAddressTheTouchedCrop)
{
    for (int n = 1; n <= 7; ++n)
        putCrop(10 + n, 2, n, n, n, 100 + n, 200 + n);
    persisted();
    open();
    // The input's own tile only closes the edit line.
    button("Button_add")->click();
    tileButton(0)->click();
    EXPECT_FALSE(g_inputcut->findChild<QFrame*>("frame_add")->isVisibleTo(g_inputcut));
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);

    // Second tile of the second page: the 7th crop.
    tiles()->findChild<QPushButton*>("Button_next")->click();
    tileButton(1)->click();
    EXPECT_EQ(g_inputcut->crop_index, 7);
    EXPECT_EQ(field("lineEdit_W")->text(), "107");
    EXPECT_EQ(text("label_change_source"), "Name:HDMI1-Crop-7");
    EXPECT_TRUE(button("Button_delete")->isVisibleTo(g_inputcut));
    setFields("1", "2", "300", "400");
    button("Button_ok")->click();
    EXPECT_EQ(cropField(17, 0), 0x8000 | (6 << 8) | 2);
    EXPECT_EQ(cropField(17, 3), 300);
    EXPECT_EQ(cropField(17, 4), 400);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    // The page stored under the chip's mutex and released it.
    EXPECT_EQ(pthread_mutex_trylock(&c331_manage::c331_mutex), 0);
    pthread_mutex_unlock(&c331_manage::c331_mutex);

    // Delete it: the second page is left without tiles but with Previous.
    c331_manage::para_change_flag = 0;
    persisted();
    tileButton(1)->click();
    button("Button_delete")->click();
    EXPECT_EQ(cropField(17, 0), 0);
    EXPECT_EQ(cropField(17, 3), 300);   // the rectangle stays in place
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(text("HDMI1_num"), "(7)");
    EXPECT_EQ(tileCount(), 1);
    tileButton(0)->click();   // crop 6, now the last
    button("Button_delete")->click();
    EXPECT_EQ(g_inputcut->page_max, 0);
    EXPECT_EQ(tileCount(), 0);
    EXPECT_TRUE(tiles()->findChild<QPushButton*>("Button_previous"));

    // The next added crop takes the freed number 6.
    tiles()->findChild<QPushButton*>("Button_previous")->click();
    button("Button_add")->click();
    button("Button_ok")->click();
    EXPECT_EQ(cropField(0, 0), 0x8000 | (5 << 8) | 2);
}

TEST_F(CropPage, ACropThatMovedAwayFromTheTouchedPositionIsNotOverwrittenNorDeleted)
{
    putCrop(0, 2, 1, 0, 0, 100, 100);
    putCrop(1, 2, 2, 0, 0, 200, 200);
    putCrop(2, 2, 3, 0, 0, 300, 300);
    persisted();
    open();
    tileButton(2)->click();   // the 2nd crop (record 1)
    // Meanwhile the PC deletes crop 1; position 2 is now crop 3.
    setLe16(ParaWriteLock().block(), para::crop(0), 0);
    g_inputcut->syncUpdate(1);
    EXPECT_TRUE(g_inputcut->findChild<QFrame*>("frame_add")->isVisibleTo(g_inputcut));
    setFields("9", "9", "9", "9");
    button("Button_ok")->click();
    EXPECT_EQ(cropField(2, 3), 300);
    EXPECT_EQ(cropField(1, 3), 200);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 0);

    tileButton(2)->click();   // now crop 3 (record 2)
    setLe16(ParaWriteLock().block(), para::crop(1), 0);   // the PC deletes crop 2
    g_inputcut->syncUpdate(1);
    button("Button_delete")->click();
    EXPECT_EQ(cropField(2, 0), 0x8000 | (2 << 8) | 2);

    // The crop still in place is deleted as usual.
    tileButton(1)->click();
    button("Button_delete")->click();
    EXPECT_EQ(cropField(2, 0), 0);
}

TEST_F(CropPage, TheKeypadFillsOnlyThisPagesFields)
{
    open();
    button("Button_add")->click();
    QString title;
    QTimer::singleShot(0, [&] {
        title = g_numberkeyboard->findChild<QLabel*>("label_title")
                    ? g_numberkeyboard->findChild<QLabel*>("label_title")->text()
                    : QString();
        emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("1280");
        g_numberkeyboard->hide();
        g_numberkeyboard->reject();
    });
    QMetaObject::invokeMethod(field("lineEdit_W"), "send_show", Q_ARG(QString, "1920"));
    EXPECT_EQ(title, "W");
    EXPECT_EQ(g_lineedit.data(), field("lineEdit_W"));
    EXPECT_EQ(field("lineEdit_W")->text(), "1280");

    // A result for a field of another page leaves ours alone.
    My_lineEdit other;
    g_lineedit = &other;
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("77");
    EXPECT_EQ(field("lineEdit_W")->text(), "1280");
    EXPECT_EQ(other.text(), "");
    g_lineedit = nullptr;
}

TEST_F(CropPage, ParaSyncRedrawsOnCropChangesAndCode103)
{
    putCrop(0, 2, 1, 0, 0, 100, 100);
    persisted();
    open();
    SyncUpdate* sync = SyncUpdate::pInstance();
    putCrop(1, 2, 2, 0, 0, 640, 360);   // from the PC
    sync->para_sync(1);
    EXPECT_EQ(text("HDMI1_num"), "(3)");
    EXPECT_EQ(tileText("size", 2), "640x360");

    // Without a difference nothing is redrawn ...
    QFrame* drawn = tiles();
    g_inputcut->syncUpdate(1);
    EXPECT_EQ(tiles(), drawn);
    // ... but code 103 (files installed) redraws.
    g_inputcut->syncUpdate(103);
    EXPECT_NE(tiles(), drawn);
    // A crop the file already holds and the tiles do not show yet is shown.
    putCrop(5, 2, 3, 0, 0, 1, 1);
    test_store::persisted(para::crop(5), para::kCropSize);
    g_inputcut->syncUpdate(1);
    EXPECT_EQ(text("HDMI1_num"), "(4)");

    // A language change relabels.
    ParaWriteLock().block()[para::kLanguage] = 2;
    sync->para_sync(1);
    EXPECT_EQ(text("label_title"), QString::fromUtf8("Источник"));
    EXPECT_EQ(button("Button_cancel")->text(), QString::fromUtf8("Отмена"));
    EXPECT_EQ(tileText("size", 0), QString::fromUtf8("Нет сигнала"));
}

// A PC's crop writes land after the refresh has taken its copy of the
// block, before the block is persisted: HDMI1's crop 1 changed to 800x600
// (record 0, 1472) and a crop 2 added (record 3, 1502). The file takes them
// with this refresh; the next refresh shows them, and nothing the page did
// stored an older table. A signal record written later is shown too.
TEST_F(CropPage, CropWritesLandingAfterTheRefreshsCopyAreShownByTheNextRefresh)
{
    g_language = 1;
    putCrop(0, 2, 1, 0, 0, 100, 100);
    persisted();
    open();
    const std::vector<unsigned char> first = {0x02, 0x80, 0, 0, 0, 0, 0x80, 0x02, 0xE0, 0x01};    // 640x480
    const std::vector<unsigned char> second = {0x02, 0x80, 0, 0, 0, 0, 0x20, 0x03, 0x58, 0x02};   // 800x600
    const std::vector<unsigned char> added = {0x02, 0x81, 0x10, 0, 0x20, 0, 0x40, 0x01, 0xF0, 0x00};   // 320x240

    pcWrites(1472, first);
    bool landed = false;
    SyncUpdate::page_refreshed_hook = [&] {
        if (landed)
            return;
        pcWrites(1472, second);
        pcWrites(1502, added);
        landed = true;
    };
    SyncUpdate::pInstance()->para_sync(1);
    SyncUpdate::page_refreshed_hook = nullptr;
    ASSERT_TRUE(landed);
    EXPECT_EQ(tileText("size", 1), "640x480") << "the refresh shows its copy";
    EXPECT_EQ(text("HDMI1_num"), "(2)");

    SyncUpdate::pInstance()->para_sync(1);   // the PC's flag
    EXPECT_EQ(tileText("size", 1), "800x600");
    EXPECT_EQ(tileText("size", 2), "320x240");
    EXPECT_EQ(tileText("name", 2), "HDMI1_crop2");
    EXPECT_EQ(text("HDMI1_num"), "(3)");
    for (const auto& w : {std::make_pair(1472, second), std::make_pair(1502, added)}) {
        expectStoredEverywhere(w.first, w.second);
    }

    // A signal comes to HDMI1 (the receiver driver's record at 268, no
    // crop changed): the input's own tile shows it at the next refresh.
    EXPECT_EQ(tileText("size", 0), "No signal");
    setLe16(ParaWriteLock().block(), 268, 1280);
    setLe16(ParaWriteLock().block(), 270, 720);
    setLe16(ParaWriteLock().block(), 272, 50);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(tileText("size", 0), "1280x720@50Hz");
}

TEST_F(CropPage, OpenedFromTheMenuBackReturnsThereOrToTheInputChoice)
{
    g_option = new Option();
    g_page_focus = kFocusOption;
    int focusInside = -1;
    QTimer::singleShot(0, [&] {
        focusInside = g_page_focus.load();
        ASSERT_TRUE(g_inputcut);
        g_inputcut->on_Button_back_clicked();
    });
    g_option->on_input_cut_clicked();
    EXPECT_EQ(focusInside, 7);
    EXPECT_EQ(g_page_focus.load(), 5);
    EXPECT_FALSE(g_inputcut);
    flushDeletes();

    // With the input choice page below, Back returns there.
    static int hookCalls = 0;
    hookCalls = 0;
    g_inputcut_back_to_choose = [] { return ++hookCalls > 0; };
    open()->on_Button_back_clicked();
    EXPECT_EQ(hookCalls, 1);
    EXPECT_EQ(g_page_focus.load(), 3);
    EXPECT_FALSE(g_inputcut);
    flushDeletes();
    g_inputcut_back_to_choose = nullptr;

    // The idle time-out presses this Back and then the menu's.
    g_back_to_mainwindow_time = 10;
    g_auto_lock_time = kAutoLockNever;
    lcd_touch::p_lcd_touch->touch_event(platform::TouchEvent{});
    QTimer::singleShot(0, [&] {
        tick(9);
        EXPECT_TRUE(g_inputcut) << "9 ticks";
        tick(1);
    });
    g_option->on_input_cut_clicked();
    flushDeletes();
    EXPECT_FALSE(g_inputcut);
    EXPECT_FALSE(g_option);
    EXPECT_EQ(g_page_focus.load(), 1);
    g_back_to_mainwindow_time = 18000;
    g_auto_lock_time = 30000;
}

TEST_F(CropPage, TextsInEachLanguageAndScreenshots)
{
    const QString dir = QString(ZDR_BINARY_DIR) + "/screenshots";
    QDir().mkpath(dir);
    putCrop(0, 2, 1, 0, 0, 960, 540);
    putCrop(1, 2, 2, 960, 0, 960, 540);
    setLe16(ParaWriteLock().block(), para::inputSignal(2), 1920);
    setLe16(ParaWriteLock().block(), para::inputSignal(2) + 2, 1080);
    setLe16(ParaWriteLock().block(), para::inputSignal(2) + 4, 60);
    persisted();
    const char* const tags[4] = {"zh", "en", "ru", "vn"};
    const char* const titles[4] = {"输入截取", "Input intercept", "Источник", "Chặn nguồn vào"};
    const char* const cancels[4] = {"取消", "Cancle", "Отмена", "Hủy bỏ"};
    const char* const widths[4] = {"宽", "W", "Ширина", "Rộng"};
    for (int l = 0; l < 4; ++l) {
        g_language = static_cast<unsigned char>(l);
        open();
        EXPECT_EQ(text("label_title"), QString::fromUtf8(titles[l]));
        EXPECT_EQ(button("Button_cancel")->text(), QString::fromUtf8(cancels[l]));
        EXPECT_EQ(text("label_W"), QString::fromUtf8(widths[l]));
        tileButton(2)->click();
        ASSERT_TRUE(g_inputcut->grab().save(dir + "/inputcut_" + tags[l] + ".png"));
        // The captions of the edit line stand in the form's 13 points, as
        // painted (the longer words of some languages get room, not a
        // smaller font).
        QFont form;
        form.setPointSize(13);
        for (const char* caption : {"label_crop", "label_X", "label_Y", "label_W", "label_H"}) {
            QLabel* label = g_inputcut->findChild<QLabel*>(caption);
            ASSERT_TRUE(label) << caption;
            EXPECT_EQ(QFontInfo(label->font()).pixelSize(), QFontInfo(form).pixelSize())
                << tags[l] << " " << caption << " \"" << label->text().toStdString() << "\"";
            EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width())
                << tags[l] << " " << caption;
        }
        delete g_inputcut.data();
    }
    g_language = 7;   // any other value shows English
    open();
    EXPECT_EQ(text("label_crop"), "Crop:");
}
