// The window layout page: what the on/off button, the number fields, the
// mirror buttons and the point-to-point list store into the window's layer
// record, the refresh, the opener, Back and the idle time-out, and a
// screenshot per language.
#include "support/page_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/syncupdate.h"
#include "ui/picture/imagelayout.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "videochip/c331_manage.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <cstring>
#include <vector>

namespace {

class ImageLayoutTest : public PageTest<ImageLayout> {
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        setLe16(ParaWriteLock().block(), para::kLedWidth, 1920);
        setLe16(ParaWriteLock().block(), para::kLedHeight, 1080);
        const int inputs[6] = {2, 3, 1, 0, 4, 5};
        for (int L = 0; L < 6; ++L) {
            const int base = para::layer(L);
            setLe16(ParaWriteLock().block(), base + para::kLayerEnable, L < 3 ? 1 : 0);
            setLe16(ParaWriteLock().block(), base + para::kLayerInput, inputs[L]);
            setLe16(ParaWriteLock().block(), base + para::kLayerMirror, 0);
            setLe16(ParaWriteLock().block(), base + para::kLayerX, 100 * L);
            setLe16(ParaWriteLock().block(), base + para::kLayerY, 0);
            setLe16(ParaWriteLock().block(), base + para::kLayerW, 960);
            setLe16(ParaWriteLock().block(), base + para::kLayerH, 540);
            setLe16(ParaWriteLock().block(), base + para::kLayerOutput, 0);
            setLe16(ParaWriteLock().block(), base + para::kLayerP2P, 0);
        }
        sync();
    }
    void sync()
    {
        test_store::persisted();
        c331_manage::para_change_flag = 0;
    }
    ImageLayout* open() { return PageTest::open(g_imagelayout, kFocusImageLayout); }
    void choose(int window) { page->findChild<QPushButton*>(QString::number(window))->click(); }
    // Types text on the keypad for the named field and confirms it.
    void enter(const char* field, const char* value)
    {
        g_lineedit = w<My_lineEdit>(field);
        page->confirmString(value);
    }
    int word(int L, int offset) const { return le16(store->ram_para, para::layer(L) + offset); }
    std::vector<unsigned char> layers() const
    {
        return std::vector<unsigned char>(store->ram_para + para::layer(0), store->ram_para + para::layer(6));
    }
    int flag() const { return c331_manage::para_change_flag.load(); }
};

} // namespace

TEST_F(ImageLayoutTest, OpeningShowsWindowOneAsOnAndStoresNothing)
{
    setLe16(ParaWriteLock().block(), para::layer(0) + para::kLayerEnable, 0);
    setLe16(ParaWriteLock().block(), para::layer(0) + para::kLayerOutput, 0x100);
    setLe16(ParaWriteLock().block(), para::layer(0) + para::kLayerP2P, 8);
    sync();
    const auto before = layers();
    g_language = 1;
    open();
    EXPECT_EQ(layers(), before);
    EXPECT_EQ(flag(), 0);
    EXPECT_EQ(text("image_state"), "Image state:ON") << "window 1 is always on";
    EXPECT_FALSE(w<QPushButton>("button_state")->isVisible() || !w<QPushButton>("button_state")->isHidden());
    EXPECT_EQ(page->tile_name(0), "HDMI1");
    EXPECT_EQ(page->tile_name(1), "HDMI2");
    EXPECT_EQ(page->tile_name(3), "Close");
    EXPECT_EQ(text("image_name"), "Name:image1");
    EXPECT_EQ(text("image_source"), "Source:HDMI1");
    EXPECT_EQ(w<QComboBox>("comboBox_P2P")->currentIndex(), 2);
    EXPECT_EQ(w<My_lineEdit>("lineEdit_W")->text(), "960");
    EXPECT_TRUE(w<QComboBox>("comboBox")->isHidden());
    EXPECT_TRUE(w<QPushButton>("Button_ok")->isHidden());
}

TEST_F(ImageLayoutTest, SwitchingAWindowOffAndOnStoresItsEnableByte)
{
    g_language = 1;
    open();
    choose(1);
    EXPECT_EQ(page->current_window(), 1);
    EXPECT_FALSE(w<QPushButton>("button_state")->isHidden());
    page->on_button_state_clicked();
    EXPECT_EQ(word(1, para::kLayerEnable), 0);
    EXPECT_EQ(flag(), 1);
    EXPECT_EQ(page->tile_name(1), "Close");
    EXPECT_EQ(text("image_state"), "Image state:OFF");
    page->on_button_state_clicked();
    EXPECT_EQ(word(1, para::kLayerEnable), 1);
    EXPECT_EQ(page->tile_name(1), "HDMI2");
    EXPECT_EQ(word(2, para::kLayerEnable), 1) << "only the chosen window";
}

TEST_F(ImageLayoutTest, ARectangleEntryMustStayOnTheLedScreen)
{
    open();
    enter("lineEdit_X", "0");
    EXPECT_EQ(word(0, para::kLayerX), 0);
    EXPECT_EQ(flag(), 1);
    enter("lineEdit_W", "1920");
    EXPECT_EQ(word(0, para::kLayerW), 1920) << "x + width equal to the LED width";
    c331_manage::para_change_flag = 0;
    enter("lineEdit_X", "1");
    EXPECT_EQ(word(0, para::kLayerX), 0);
    EXPECT_EQ(w<My_lineEdit>("lineEdit_X")->text(), "0");
    enter("lineEdit_W", "1921");
    EXPECT_EQ(word(0, para::kLayerW), 1920);
    EXPECT_EQ(flag(), 0);
    enter("lineEdit_H", "1080");
    EXPECT_EQ(word(0, para::kLayerH), 1080);
    enter("lineEdit_Y", "1");
    EXPECT_EQ(word(0, para::kLayerY), 0);

    // A result for another page's field is not ours.
    c331_manage::para_change_flag = 0;
    My_lineEdit other;
    g_lineedit = &other;
    page->confirmString("5");
    EXPECT_EQ(flag(), 0);
}

// A PC stores a window's whole rectangle while the page is being drawn: the
// store lands between two of the page's field updates (here when the X
// field takes its new text). The page shows one whole rectangle, and an
// edit stores that one with the edit, never a mix of the two stores.
TEST_F(ImageLayoutTest, AStoreBetweenTheFieldUpdatesIsNeitherShownNorStoredMixed)
{
    setLe16(ParaWriteLock().block(), para::kLedWidth, 3840);
    setLe16(ParaWriteLock().block(), para::kLedHeight, 2160);
    sync();
    open();
    choose(1);   // shows 100, 0, 960, 540
    const int base = para::layer(1);
    auto rect = [&](int x, int y, int wd, int ht) {
        ParaWriteLock lock;
        setLe16(lock.block(), base + para::kLayerX, static_cast<uint16_t>(x));
        setLe16(lock.block(), base + para::kLayerY, static_cast<uint16_t>(y));
        setLe16(lock.block(), base + para::kLayerW, static_cast<uint16_t>(wd));
        setLe16(lock.block(), base + para::kLayerH, static_cast<uint16_t>(ht));
        lock.raise(1);
    };
    rect(0, 0, 1920, 1080);
    bool stored = false;
    const QMetaObject::Connection c =
        QObject::connect(w<My_lineEdit>("lineEdit_X"), &QLineEdit::textChanged, [&](const QString&) {
            if (!stored) {
                stored = true;
                rect(640, 360, 1280, 720);
            }
        });
    page->syncUpdate();
    QObject::disconnect(c);
    ASSERT_TRUE(stored);
    const QStringList shown = {w<My_lineEdit>("lineEdit_X")->text(), w<My_lineEdit>("lineEdit_Y")->text(),
                               w<My_lineEdit>("lineEdit_W")->text(), w<My_lineEdit>("lineEdit_H")->text()};
    EXPECT_TRUE(shown == QStringList({"0", "0", "1920", "1080"}) || shown == QStringList({"640", "360", "1280", "720"}))
        << shown.join(", ").toStdString();

    enter("lineEdit_H", "700");
    const std::vector<int> kept = {word(1, para::kLayerX), word(1, para::kLayerY), word(1, para::kLayerW)};
    EXPECT_EQ(word(1, para::kLayerH), 700);
    EXPECT_TRUE(kept == std::vector<int>({0, 0, 1920}) || kept == std::vector<int>({640, 360, 1280}))
        << kept[0] << ", " << kept[1] << ", " << kept[2];
}

TEST_F(ImageLayoutTest, NumbersThatWrapOrOverflowAreRefused)
{
    open();
    const auto before = layers();
    // -1 + 1 wraps to 0 as unsigned numbers; it must not become width 65535.
    enter("lineEdit_X", "1");
    enter("lineEdit_W", "-1");
    EXPECT_EQ(word(0, para::kLayerW), 960);
    // The keypad sets no digit limit: a number no field can hold.
    enter("lineEdit_Y", "99999999999");
    EXPECT_EQ(word(0, para::kLayerY), 0);
    EXPECT_EQ(w<My_lineEdit>("lineEdit_Y")->text(), "0");
    w<My_lineEdit>("lineEdit_W")->setText("-5");
    enter("lineEdit_X", "1920");
    EXPECT_EQ(word(0, para::kLayerX), 1);
    auto expected = before;
    setLe16(expected.data(), para::kLayerX, 1);
    EXPECT_EQ(layers(), expected);
}

// A pick is an act whatever the block holds: one that repeats the block's
// word stores it again and asks for a pass.
TEST_F(ImageLayoutTest, MirrorAndPointToPointAreActsWhateverTheBlockHolds)
{
    open();
    choose(2);
    const auto before = layers();
    page->on_mirror1_clicked();
    EXPECT_EQ(flag(), 1) << "mode 0 is in force";
    EXPECT_EQ(layers(), before);
    c331_manage::para_change_flag = 0;
    page->on_mirror4_clicked();
    EXPECT_EQ(word(2, para::kLayerMirror), 3);
    EXPECT_EQ(flag(), 1);

    c331_manage::para_change_flag = 0;
    setLe16(ParaWriteLock().block(), para::layer(2) + para::kLayerOutput, 0x0203);
    QComboBox* p2p = w<QComboBox>("comboBox_P2P");
    // Moved as a refresh moves it: no choice, nothing stored.
    p2p->setCurrentIndex(2);
    EXPECT_EQ(word(2, para::kLayerOutput), 0x0203);
    EXPECT_EQ(flag(), 0);
    pick(p2p, 3);
    EXPECT_EQ(word(2, para::kLayerOutput), 0x0303) << "bit 8 set, the others kept";
    EXPECT_EQ(word(2, para::kLayerP2P), 9);
    EXPECT_EQ(flag(), 1);
    c331_manage::para_change_flag = 0;
    page->on_comboBox_P2P_activated(3);
    EXPECT_EQ(flag(), 1);
    EXPECT_EQ(word(2, para::kLayerOutput), 0x0303);
    EXPECT_EQ(word(2, para::kLayerP2P), 9);
    pick(p2p, 0);
    EXPECT_EQ(word(2, para::kLayerOutput), 0x0203);
    EXPECT_EQ(word(2, para::kLayerP2P), 9) << "the mode stays when point-to-point goes off";
    EXPECT_EQ(word(1, para::kLayerOutput), 0);
}

// A PC writes window 1's point-to-point record (2290-2295: output word,
// audio, mode) and its hidden-list word (2278), and a refresh takes its copy
// of the block; the PC writes both again, answered, before the refresh has
// set the lists from its copy. The refresh shows what it copied and stores
// nothing: the block, the shadow and the parameter file end with the PC's
// second write, and the next refresh shows it. On to on, on to off, off to on.
TEST_F(ImageLayoutTest, APcWriteBetweenTheRefreshsCopyAndItsListsIsKept)
{
    struct Record {
        unsigned char output, mode, hidden;   // output word 0x0?00 | bit 8, mode, hidden list
        int shown;                            // the point-to-point list's item
    };
    const struct {
        Record before, first, second;
    } rounds[] = {{{0x00, 0, 0, 0}, {0x01, 8, 2, 2}, {0x01, 9, 5, 3}},
                  {{0x00, 0, 0, 0}, {0x01, 8, 2, 2}, {0x00, 8, 4, 0}},
                  {{0x01, 8, 0, 2}, {0x00, 8, 3, 0}, {0x01, 0, 6, 1}}};
    auto pcWrites = [this](const Record& r) {
        unsigned char p2p[6] = {0x00, r.output, 0x00, 0x00, r.mode, 0x00};   // 2290-2295
        unsigned char hidden[2] = {r.hidden, 0x00};                          // 2278
        ASSERT_EQ(store->ZdrRamParaDeal(p2p, 6, 2290), 0);
        ASSERT_EQ(store->ZdrRamParaDeal(hidden, 2, 2278), 0);
        c331_manage::para_change_flag = 1;
    };
    auto fileWord = [this](int offset) {
        const auto file = fileBytes("/data/ram_device_info");
        return file.size() == 4096u ? le16(file.data(), 2 + offset - 768) : -1;
    };
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.second.shown);
        delete page;
        pcWrites(round.before);
        SyncUpdate::pInstance()->para_sync(1);
        open();
        QComboBox* p2p = w<QComboBox>("comboBox_P2P");
        QComboBox* hidden = w<QComboBox>("comboBox");
        ASSERT_EQ(p2p->currentIndex(), round.before.shown);

        pcWrites(round.first);
        bool landed = false;
        const QMetaObject::Connection c =
            beforeThePage(hidden, QOverload<int>::of(&QComboBox::currentIndexChanged), [&] {
                pcWrites(round.second);
                landed = true;
            });
        SyncUpdate::pInstance()->para_sync(1);
        QObject::disconnect(c);
        ASSERT_TRUE(landed);
        EXPECT_EQ(p2p->currentIndex(), round.first.shown) << "the refresh shows its copy";

        SyncUpdate::pInstance()->para_sync(1);   // the PC's second flag
        const int p2pWords[3] = {2290, 2294, 2278};
        const int expected[3] = {round.second.output << 8, round.second.mode, round.second.hidden};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(le16(store->ram_para, p2pWords[i]), expected[i]) << "block " << p2pWords[i];
            EXPECT_EQ(le16(store->ram_para_shadow, p2pWords[i]), expected[i]) << "shadow " << p2pWords[i];
            EXPECT_EQ(fileWord(p2pWords[i]), expected[i]) << "file " << p2pWords[i];
        }
        EXPECT_EQ(p2p->currentIndex(), round.second.shown);
        EXPECT_EQ(hidden->currentIndex(), round.second.hidden);
    }
}

// The strip of tiles the same way: a PC switches window 4 on with HDMI3
// (2350 = 1, input 2358 = 4) after the refresh has built the strip from its
// copy; the next refresh shows it, although the file already holds it.
TEST_F(ImageLayoutTest, APcWriteAfterTheStripsCopyIsShownByTheNextRefresh)
{
    g_language = 1;
    open();
    ASSERT_EQ(page->tile_name(3), "Close");
    auto pcWrites = [this](int offset, unsigned char value) {
        unsigned char word[2] = {value, 0x00};
        ASSERT_EQ(store->ZdrRamParaDeal(word, 2, offset), 0);
        c331_manage::para_change_flag = 1;
    };
    pcWrites(2272 + 8, 1);   // window 1 shows DVI: the strip is rebuilt
    pcWrites(2272 + 10, 7);  // and its X moves
    bool landed = false;
    const QMetaObject::Connection c =
        beforeThePage(w<My_lineEdit>("lineEdit_X"), &QLineEdit::textChanged, [&] {
            pcWrites(2350, 1);
            pcWrites(2358, 4);
            landed = true;
        });
    SyncUpdate::pInstance()->para_sync(1);
    QObject::disconnect(c);
    ASSERT_TRUE(landed);
    EXPECT_EQ(page->tile_name(0), "DVI");
    EXPECT_EQ(le16(store->ram_para_shadow, 2350), 1) << "the file holds the PC's write";

    SyncUpdate::pInstance()->para_sync(1);   // the PC's flag
    EXPECT_EQ(page->tile_name(3), "HDMI3");
}

TEST_F(ImageLayoutTest, AStoredBackupChoiceOutsideTheListIsKept)
{
    ParaWriteLock().block()[para::layer(1) + 6] = 9;
    sync();
    open();
    choose(1);
    EXPECT_EQ(store->ram_para[para::layer(1) + 6], 9);
}

TEST_F(ImageLayoutTest, TheRefreshRebuildsTheStripAndRedrawsTheDetails)
{
    g_language = 1;
    open();
    choose(1);
    // The PC moves window 2 to DVI and window 4 on.
    setLe16(ParaWriteLock().block(), para::layer(1) + para::kLayerInput, 1);
    setLe16(ParaWriteLock().block(), para::layer(3) + para::kLayerEnable, 1);
    setLe16(ParaWriteLock().block(), para::layer(1) + para::kLayerX, 7);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(page->tile_name(1), "DVI");
    EXPECT_EQ(page->tile_name(3), "EXT");
    EXPECT_EQ(page->current_window(), 1);
    EXPECT_EQ(text("image_source"), "Source:DVI");
    EXPECT_EQ(w<My_lineEdit>("lineEdit_X")->text(), "7");

    // A crop index beyond the crop table names no input.
    setLe16(ParaWriteLock().block(), para::layer(1) + para::kLayerInput, 0x8000 | 200);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(page->tile_name(1), "");
}

TEST_F(ImageLayoutTest, TextsFollowTheLanguage)
{
    g_language = 0;
    open();
    for (int language : {1, 7}) {
        g_language = static_cast<unsigned char>(language);
        page->language_changed();
        page->image_para_update();
        EXPECT_EQ(text("label_title"), "Screen layout");
        EXPECT_EQ(text("label_mirror"), "mirror");
        EXPECT_EQ(text("label_X"), "X");
    }
    g_language = 2;
    page->language_changed();
    EXPECT_EQ(text("label_W"), QString::fromUtf8("Ширина"));
    EXPECT_EQ(w<QComboBox>("comboBox_P2P")->itemText(0), QString::fromUtf8("点对点关闭"))
        << "the items keep the language they were built in";
}

TEST_F(ShellTest, TheSettingsMenuOpensTheWindowLayoutPageAndIdleTimeBacksOut)
{
    // The setting's default: no code is asked.
    g_imagelayoutpassword = "No";
    int focusInside = -1;
    whenModal([&] {
        whenModal([&] {
            focusInside = g_page_focus.load();
            ASSERT_TRUE(g_imagelayout);
            g_imagelayout->on_Button_back_clicked();
        });
        g_option->on_image_layout_clicked();
        EXPECT_EQ(g_page_focus.load(), 5);
        EXPECT_FALSE(g_imagelayout);
        g_option->on_Button_back_clicked();
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_EQ(focusInside, 9);
    flushDeletes();

    // A code that starts with 0, typed on the keypad key by key, opens the
    // page; a wrong one does not.
    g_imagelayoutpassword = "0123";
    for (const char* keys : {"0123", "0124", "123"}) {
        focusInside = -1;
        QString shown;
        whenModal([&] {
            whenModal([&] {
                for (const char* k = keys; *k; ++k)
                    g_numberkeyboard->findChild<QPushButton*>(QString(QChar(*k)))->click();
                shown = g_numberkeyboard->display_text();
                whenModal([&] {
                    focusInside = g_page_focus.load();
                    if (g_imagelayout)
                        g_imagelayout->on_Button_back_clicked();
                });
                g_numberkeyboard->findChild<QPushButton*>("Button_OK")->click();
            });
            g_option->on_image_layout_clicked();
            g_option->on_Button_back_clicked();
        });
        g_mainwindow->on_Button_setting_clicked();
        const bool right = std::string(keys) != "0124";
        EXPECT_EQ(focusInside == 9, right) << keys << " shown as " << shown.toStdString();
        flushDeletes();
    }
    g_imagelayoutpassword = "No";

    g_back_to_mainwindow_time = 50;
    whenModal([&] {
        whenModal([&] { tick(60); });
        g_option->on_image_layout_clicked();
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_FALSE(g_imagelayout);
    EXPECT_FALSE(g_option);
    EXPECT_EQ(g_page_focus.load(), 1);
    g_back_to_mainwindow_time = 18000;
    flushDeletes();
}

TEST_F(ImageLayoutTest, ScreenshotsInFourLanguages)
{
    // The window shown splices HDMI3 and HDMI4 side by side: the longest
    // item of the point-to-point list is shown.
    setLe16(ParaWriteLock().block(), para::layer(1) + para::kLayerOutput, 0x100);
    setLe16(ParaWriteLock().block(), para::layer(1) + para::kLayerP2P, 8);
    sync();
    const char* const tags[4] = {"zh", "en", "ru", "vn"};
    const QString dir = QString(ZDR_BINARY_DIR) + "/screenshots";
    for (int language = 0; language < 4; ++language) {
        g_language = static_cast<unsigned char>(language);
        delete page;
        open();
        choose(1);
        QComboBox* list = w<QComboBox>("comboBox_P2P");
        ASSERT_EQ(list->currentIndex(), 2);
        shot("window_layout", language);
        // The list opened, on its own picture.
        page->show();
        list->showPopup();
        EXPECT_TRUE(list->view()->window()->grab().save(dir + "/window_layout_p2p_list_" + tags[language] + ".png"));
        list->hidePopup();
    }
}

TEST_F(ImageLayoutTest, AWindowAliasIsShownCutToItsWidth)
{
    writeFile(hostPath("/data/configs/alias.json"),
              R"({"namelist": {"win": [ {"id": "1", "valid": "on", "name": "Main stage left wall screen"},
                                         {"id": "2", "valid": "off", "name": "Side"} ]}})");
    g_language = 1;
    open();
    choose(1);
    const QString shown = text("image_name");
    EXPECT_TRUE(shown.startsWith("Name:Ma")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << "elided at the right";
    EXPECT_LT(shown.size(), QString("Name:Main stage left wall screen").size());
    choose(2);
    EXPECT_EQ(text("image_name"), "Name:image3") << "a name switched off";
}

TEST_F(ImageLayoutTest, TouchingAFieldOpensTheKeypadWhoseOkStoresTheNumber)
{
    open();
    QString title, shown;
    whenModal([&] {
        title = g_numberkeyboard->findChild<QLabel*>("label_title")
                    ? g_numberkeyboard->findChild<QLabel*>("label_title")->text()
                    : QString();
        shown = g_numberkeyboard->display_text();
        g_numberkeyboard->on_Button_C_clicked();
        g_numberkeyboard->on_Button_OK_clicked();
    });
    emit w<My_lineEdit>("lineEdit_H")->send_show("540");
    EXPECT_EQ(title, "H");
    EXPECT_EQ(shown, "540");
    EXPECT_EQ(w<My_lineEdit>("lineEdit_H")->text(), "0");
    EXPECT_EQ(word(0, para::kLayerH), 0);
    EXPECT_EQ(flag(), 1);
}
