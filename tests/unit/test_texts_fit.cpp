// Every page of the touch screen, and the keypad, the tips and the progress
// dial, in the four languages: every text shown (labels, buttons, line
// edits, list items, combo boxes with their open lists) fits its widget
// with the fonts installed here (nothing clipped, nothing cut short without
// a way to see it whole). And the check itself: it finds a text too wide
// for each kind of widget it measures.
#include "support/shell_fixture.h"
#include "support/text_fit.h"

#include "core/config_engine.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "sendcard/fpga_manage.h"
#include "ui/picture/custommode.h"
#include "ui/picture/edidset.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/imagequality.h"
#include "ui/picture/inputchoose.h"
#include "ui/picture/inputcut.h"
#include "ui/screen/linkoption.h"
#include "ui/screen/outputset.h"
#include "ui/screen/smartmapping.h"
#include "ui/screen/test_chart.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/firmwareupdate.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/tip.h"
#include "videochip/c331_manage.h"

#include <QDir>
#include <QFile>
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <cstring>

namespace {

const char* const kTags[4] = {"zh", "en", "ru", "vn"};

class TextsFit : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fpga_manage::createForTest(false);
        // Signals on three inputs (a 4K one), crops, saved modes with their
        // windows, a mode in use, the fonts loaded.
        const int inputs[3][4] = {{2, 1920, 1080, 60}, {4, 3840, 2160, 30}, {1, 1280, 720, 60}};
        for (const auto& in : inputs) {
            setLe16(ParaWriteLock().block(), para::inputSignal(in[0]), in[1]);
            setLe16(ParaWriteLock().block(), para::inputSignal(in[0]) + 2, in[2]);
            setLe16(ParaWriteLock().block(), para::inputSignal(in[0]) + 4, in[3]);
        }
        for (int k = 0; k < 2; ++k) {
            setLe16(ParaWriteLock().block(), para::crop(k), 0x8000 | (k << 8) | 2);
            setLe16(ParaWriteLock().block(), para::crop(k) + 6, 960);
            setLe16(ParaWriteLock().block(), para::crop(k) + 8, 540);
        }
        setLe16(ParaWriteLock().block(), para::layer(1) + para::kLayerEnable, 1);
        setLe16(ParaWriteLock().block(), para::layer(1) + para::kLayerInput, 0x8001);
        unsigned char* mode = test_store::unguarded_slot(0);
        mode[0] = mode[1] = 0xAA;
        const int windows[4][6] = {{1, 2, 0, 0, 960, 540},
                                   {1, 3, 960, 0, 960, 540},
                                   {1, 0x8001, 0, 540, 960, 540},
                                   {0, 1, 960, 540, 960, 540}};
        for (int l = 0; l < 4; ++l) {
            const int at = para::layer(l) - para::kModeStart;
            setLe16(mode + 2, at + para::kLayerEnable, windows[l][0]);
            for (int f = 1; f < 6; ++f)
                setLe16(mode + 2, at + para::kLayerInput + 2 * (f - 1), windows[l][f]);
        }
        setLe16(mode + 2, para::crop(1) - para::kModeStart, 0x8104);
        ParaWriteLock().slot(4)[0] = ParaWriteLock().slot(4)[1] = 0xAA;
        setLe16(ParaWriteLock().block(), para::kCurrentMode, 1);
        test_store::persisted();
        c331_manage::font_status = 0x03;
        // The settings engine reads the board's device id when it is made:
        // made first, so that the id below stays. An id of digits only is
        // the widest there is.
        ConfigEngine::pInstance();
        std::memcpy(g_pid, "00000000000000000000000000000000", sizeof(g_pid));
        g_option = new Option();
    }
    void TearDown() override
    {
        if (g_option)
            g_option->on_Button_back_clicked();
        flushDeletes();
        c331_manage::font_status = 0;
        std::memset(g_pid, 0, sizeof(g_pid));
        fpga_manage::destroyForTest();
        g_language = 0;
        ShellTest::TearDown();
    }

    // Adds what does not fit on the widget, as shown in one language (each
    // label and button painted, as when it is on the screen: some lie
    // beyond their frame until it is scrolled).
    void check(QWidget* page, const char* state, int language)
    {
        page->grab();
        for (QWidget* w : page->findChildren<QWidget*>())
            if ((qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) && w->isVisibleTo(page))
                w->grab();
        for (const QString& line : textsThatDoNotFit(page))
            unfit << QString("%1_%2: %3").arg(state, kTags[language], line);
    }

    QStringList unfit;
};

} // namespace

TEST_F(TextsFit, EveryTextOnEveryPageFitsItsWidgetInFourLanguages)
{
    for (int language = 0; language < 4; ++language) {
        g_language = static_cast<unsigned char>(language);

        // The shell: home, its mode list, the idle screen, the device
        // status, the settings menu, the advanced settings and its dial, the
        // update page, the keypad and the tips.
        g_mainwindow->language_changed();
        g_mainwindow->mode_window_close();
        check(g_mainwindow, "home", language);
        g_mode_select = 4;
        g_mainwindow->mode_window_open();
        check(g_mainwindow, "home_modes", language);
        g_mainwindow->mode_window_close();
        g_lockwindow->language_changed();
        check(g_lockwindow, "idle", language);
        {
            MachineState state;
            check(&state, "device_status", language);
        }
        g_option->language_changed();
        check(g_option, "settings", language);
        {
            AdvancedOption advanced;
            g_advancedoption = &advanced;
            AdvancedOption::check_found(AdvancedOption::result_line(0, 1, 4, 12));
            advanced.on_Button_recovery_clicked();
            check(&advanced, "advanced_recovery", language);
            QRoundProgressBar::create_qround_bar(&advanced);
            g_qround_bar->para_sync(64);
            check(g_qround_bar, "dial", language);
            g_qround_bar->para_sync(100);
            advanced.on_Button_led_clicked();
            advanced.on_Button_led_reset_clicked();
            check(&advanced, "advanced_led", language);
            advanced.on_Button_factory_clicked();
            check(&advanced, "advanced_factory", language);
            g_advancedoption = nullptr;
        }
        {
            FirmwareUpdate update;
            check(&update, "update", language);
        }
        g_numberkeyboard->label_show(ui_text("宽", "W", "Ширина", "Rộng"), "1920");
        check(g_numberkeyboard, "keypad", language);
        for (int tip : {1, 3, 4, 5, TIP::kLoadIncomplete}) {
            g_tip->tip_create(tip);
            check(g_tip, qPrintable(QString("tip%1").arg(tip)), language);
        }
        g_tip->hide();

        // The input and picture pages.
        {
            InputChoose page;
            g_inputchoose = &page;
            page.language_changed();
            page.initSource();
            check(&page, "inputchoose", language);
            g_inputchoose = nullptr;
        }
        {
            CustomMode page;
            g_custommode = &page;
            check(&page, "custommode", language);
            g_custommode = nullptr;
        }
        {
            EDIDset page;
            g_edidset = &page;
            check(&page, "edidset", language);
            page.findChild<QFrame*>("frame_source")->findChild<QPushButton*>()->click();
            check(&page, "edidset_editor", language);
            g_edidset = nullptr;
        }
        {
            g_inputcut = new InputCut();
            check(g_inputcut, "inputcut", language);
            if (QPushButton* add = g_inputcut->findChild<QPushButton*>("Button_add"))
                add->click();
            check(g_inputcut, "inputcut_editor", language);
            delete g_inputcut.data();
        }
        {
            g_imagelayout = new ImageLayout();
            g_imagelayout->findChild<QPushButton*>("1")->click();
            check(g_imagelayout, "window_layout", language);
            delete g_imagelayout.data();
        }
        {
            ImageQuality page;
            g_imagequality = &page;
            page.on_Button_quality_clicked();
            check(&page, "picture_quality", language);
            page.on_Button_temperature_clicked();
            check(&page, "picture_temperature", language);
            g_imagequality = nullptr;
        }

        // The screen pages.
        {
            LinkOption page;
            check(&page, "link_serial", language);
            page.on_Button_wlan_clicked();
            check(&page, "link_network", language);
            page.on_Button_usb_clicked();
            check(&page, "link_usb", language);
            // The end of an upgrade in which packages failed.
            fpga_manage::p_fpga_manage->upgrade_time_text = "23:59:59    23:59:59";
            fpga_manage::p_fpga_manage->upgrade_errors = 12;
            // The widest flash line: one flash blank, the other kept.
            fpga_manage::p_fpga_manage->upgrade_flash[0] = fpga_manage::kFlashBlank;
            fpga_manage::p_fpga_manage->upgrade_flash[1] = fpga_manage::kFlashOldKept;
            // Packages left out, one with a long name.
            fpga_manage::p_fpga_manage->usb_skipped =
                QStringList{"update_2024_08_02_full_package_for_the_left_and_right_screens.ZDR", "m101.ZDR",
                            "m102.ZDRZK", "m103.ZDR", "m104.ZDR", "m105.ZDR", "m106.ZDR", "m107.ZDR"};
            page.syncUpdate(104);
            check(&page, "link_usb_failed", language);
            fpga_manage::p_fpga_manage->usb_skipped.clear();
            fpga_manage::p_fpga_manage->upgrade_errors = 0;
            fpga_manage::p_fpga_manage->upgrade_flash[0] = fpga_manage::kFlashNotTried;
            fpga_manage::p_fpga_manage->upgrade_flash[1] = fpga_manage::kFlashNotTried;
        }
        {
            g_outputset = new OutputSet();
            check(g_outputset, "output_led", language);
            g_outputset->on_Button_lanset_clicked();
            check(g_outputset, "output_ports", language);
            delete g_outputset.data();
        }
        {
            test_chart chart;
            chart.findChild<QPushButton*>("5")->click();
            check(&chart, "test_patterns", language);
        }
        {
            g_smartmapping = new SmartMapping();
            SmartMapping& w = *g_smartmapping;
            check(&w, "smart_mapping_0", language);
            w.on_Button_next_clicked();
            check(&w, "smart_mapping_1", language);
            w.on_Button_next_2_clicked();
            check(&w, "smart_mapping_2", language);
            w.on_Button_route_clicked();
            check(&w, "smart_mapping_3", language);
            w.scan_files = 1;
            w.on_Button_loadscan_clicked();
            check(&w, "smart_mapping_4", language);
            w.on_Button_next_5_clicked();
            check(&w, "smart_mapping_5", language);
            w.on_Button_paraweld_clicked();
            check(&w, "smart_mapping_6", language);
            w.on_Button_mapping_clicked();
            check(&w, "smart_mapping_7", language);
            delete g_smartmapping.data();
        }
    }
    EXPECT_TRUE(unfit.isEmpty()) << unfit.size() << " texts do not fit:\n"
                                 << unfit.join('\n').toStdString();
}

// Hand-built widgets, each with a text that fits and one that does not: the
// check names exactly those that do not.
TEST(TextFitCheck, FindsTheTextsTooWideForEachKindOfWidget)
{
    QWidget root;
    root.resize(800, 480);
    QFont font;
    font.setPixelSize(16);
    root.setFont(font);
    const QString longText = "a text far too wide for its widget";
    const auto place = [&root](QWidget* w, const char* name, int y, int width, int height) {
        w->setParent(&root);
        w->setObjectName(name);
        w->setGeometry(10, y, width, height);
    };
    // Combo boxes as the pages make them: a list view, the pages' style.
    const auto combo = [&place](const char* name, int y, int width, const QString& item) {
        QComboBox* c = new QComboBox();
        place(c, name, y, width, 40);
        c->setView(new QListView());
        c->setStyleSheet("QComboBox { color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255); }\n"
                         "QComboBox QAbstractItemView::item { color: rgb(255, 255, 255); min-height: 35px; "
                         "min-width: 60px; }");
        c->addItems({"OFF", item});
        return c;
    };
    combo("narrowBox", 10, 90, longText);
    combo("wideBox", 60, 500, longText);
    // An item wider than the screen: no list can hold it.
    combo("narrowList", 110, 500, QString(100, 'W'));
    QLineEdit* narrowEdit = new QLineEdit(longText);
    place(narrowEdit, "narrowEdit", 160, 90, 40);
    QLineEdit* narrowPlaceholder = new QLineEdit();
    narrowPlaceholder->setPlaceholderText(longText);
    place(narrowPlaceholder, "narrowPlaceholder", 210, 90, 40);
    QLineEdit* wideEdit = new QLineEdit("1920");
    place(wideEdit, "wideEdit", 260, 90, 40);
    QListWidget* list = new QListWidget();
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->addItems({"01/02", longText});
    place(list, "list", 310, 120, 100);
    QCheckBox* check = new QCheckBox(longText);
    place(check, "check", 460, 90, 20);
    QGroupBox* group = new QGroupBox(longText);
    place(group, "group", 370, 90, 80);
    root.show();

    const QStringList found = textsThatDoNotFit(&root);
    const QString all = found.join('\n');
    QStringList named;
    for (const QString& line : found)
        named << line.left(line.indexOf('"') - 1);
    // The narrow box opens a list as wide as its items.
    EXPECT_EQ(named.join(' ').toStdString(),
              "narrowBox[1] narrowList[1] narrowList.list[1] narrowEdit narrowPlaceholder list[1] check group")
        << all.toStdString();
}
