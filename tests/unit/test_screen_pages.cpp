// The test pattern page and the LED screen and output page: what their
// controls store into the parameter block, what a refresh redraws, their
// openers, Backs and idle handling, and a screenshot of each per language.
#include "support/shell_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/syncupdate.h"
#include "sendcard/fpga_manage.h"
#include "ui/screen/outputset.h"
#include "ui/screen/test_chart.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/tip.h"
#include "videochip/c331_manage.h"

#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <cstring>

namespace {

const char* const kLanguageTags[4] = {"zh", "en", "ru", "vn"};

void screenshot(QWidget* page, const char* name, int language)
{
    const QString dir = QString(ZDR_BINARY_DIR) + "/screenshots";
    QDir().mkpath(dir);
    const QString path = dir + "/" + name + "_" + kLanguageTags[language] + ".png";
    ASSERT_TRUE(page->grab().save(path)) << path.toStdString();
}

// --- test patterns ---------------------------------------------------------------

class TestChartPage : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        g_option = new Option();
        g_test_chart = new test_chart();
        g_page_focus = kFocusTestChart;
        c331_manage::para_change_flag = 0;
    }
    void TearDown() override
    {
        if (g_test_chart)
            g_test_chart->on_Button_back_clicked();
        if (g_option)
            g_option->on_Button_back_clicked();
        c331_manage::para_change_flag = 0;
        ShellTest::TearDown();
    }
    void press(int i) { g_test_chart->findChild<QPushButton*>(QString::number(i))->click(); }
    QString border(int i) { return g_test_chart->ui->label_test[i]->styleSheet(); }
    unsigned char pattern() { return store->ram_para[para::kTestPattern]; }
};

} // namespace

TEST_F(TestChartPage, APictureStoresItsPatternEveryTimeAndCloseSwitchesItOff)
{
    press(2);
    EXPECT_EQ(pattern(), 3);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(border(2), "border:5px solid rgb(255,171,84);");

    // Pressed again: stored and raised again, the highlight stays.
    c331_manage::para_change_flag = 0;
    press(2);
    EXPECT_EQ(pattern(), 3);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(border(2), "border:5px solid rgb(255,171,84);");

    // Another picture moves the highlight.
    press(7);
    EXPECT_EQ(pattern(), 8);
    EXPECT_EQ(border(2), "border:1px solid rgb(255, 255, 255);");
    EXPECT_EQ(border(7), "border:5px solid rgb(255,171,84);");

    c331_manage::para_change_flag = 0;
    g_test_chart->ui->Button_closetest->click();
    EXPECT_EQ(pattern(), 0);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    EXPECT_EQ(g_test_chart->test_index, test_chart::kNone);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(border(i), "border:1px solid rgb(255, 255, 255);") << i;
    press(0);
    EXPECT_EQ(pattern(), 1);
    EXPECT_EQ(border(0), "border:5px solid rgb(255,171,84);");
}

TEST_F(TestChartPage, BackKeepsThePatternAndTheRefreshLeavesThePageAlone)
{
    press(4);
    // A language change refreshes nothing on this page and shows no tip.
    const QString title = g_test_chart->ui->label_title->text();
    ParaWriteLock().block()[para::kLanguage] = 0;
    SyncUpdate::pInstance()->last_tip = 0;
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(g_test_chart->ui->label_title->text(), title);
    EXPECT_EQ(SyncUpdate::pInstance()->last_tip, 0);
    // The idle time-out does not press this page's Back.
    g_back_to_mainwindow_time = 5;
    tick(10);
    g_back_to_mainwindow_time = 18000;
    EXPECT_TRUE(g_test_chart);
    EXPECT_EQ(g_page_focus.load(), kFocusTestChart);

    g_test_chart->on_Button_back_clicked();
    EXPECT_FALSE(g_test_chart);
    EXPECT_EQ(g_page_focus.load(), kFocusOption);
    EXPECT_EQ(pattern(), 5);
}

TEST_F(TestChartPage, CaptionsNameTheDirectionOfTheirPictures)
{
    g_language = 1;
    g_test_chart->language_changed();
    EXPECT_EQ(g_test_chart->ui->label_hline->text(), "Vertical line");
    EXPECT_EQ(g_test_chart->ui->label_wline->text(), "Horizontal line");
    g_language = 2;
    g_test_chart->language_changed();
    EXPECT_EQ(g_test_chart->ui->label_colour->text(), QString::fromUtf8("Тест 6"));
    g_language = 3;
    g_test_chart->language_changed();
    EXPECT_EQ(g_test_chart->ui->label_wline->text(), QString::fromUtf8("Kiểm tra 8"));
}

TEST_F(ShellTest, TheSettingsMenuOpensTheTestPatternPage)
{
    int focusInside = -1;
    whenModal([&] {
        whenModal([&] {
            focusInside = g_page_focus.load();
            ASSERT_TRUE(g_test_chart);
            g_test_chart->on_Button_back_clicked();
        });
        g_option->on_test_chart_clicked();
        EXPECT_FALSE(g_test_chart);
        EXPECT_EQ(g_page_focus.load(), kFocusOption);
        g_option->on_Button_back_clicked();
    });
    g_mainwindow->on_Button_setting_clicked();
    EXPECT_EQ(focusInside, kFocusTestChart);
}

// --- LED screen and output -------------------------------------------------------

namespace {

class OutputSetPage : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fpga_manage::createForTest(false);
        g_set_led_para = 0;
        g_set_led_setup = 5;
        c331_manage::para_change_flag = 0;
        g_option = new Option();
    }
    void TearDown() override
    {
        if (g_outputset)
            g_outputset->on_Button_back_clicked();
        if (g_option)
            g_option->on_Button_back_clicked();
        fpga_manage::destroyForTest();
        g_set_led_para = 0;
        g_set_led_setup = 0;
        c331_manage::para_change_flag = 0;
        ShellTest::TearDown();
    }
    // A stored screen: block and shadow agree.
    void stored(int w, int h, int mode)
    {
        const std::pair<int, int> words[3] = {{para::kLedWidth, w}, {para::kLedHeight, h}, {para::kSpliceMode, mode}};
        for (const auto& word : words) {
            setLe16(test_store::unguarded_block(), word.first, static_cast<uint16_t>(word.second));
            test_store::shadow_word(word.first, static_cast<uint16_t>(word.second));
        }
    }
    OutputSet* open()
    {
        g_outputset = new OutputSet();
        g_page_focus = kFocusOutputSet;
        return g_outputset;
    }
    // The keypad's result for one of the page's number fields.
    void type(My_lineEdit* field, const QString& text)
    {
        g_lineedit = field;
        g_outputset->lineedit_name = field->objectName();
        g_numberkeyboard->label_show("", text);
        emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit(text);
    }
    void bothRunning(bool second)
    {
        fpga_manage::p_fpga_manage->MCU_REG_func[0][80] = 3;
        fpga_manage::p_fpga_manage->MCU_REG_func[1][80] = second ? 3 : 2;
    }
    int field(My_lineEdit* f) { return f->text().toInt(); }
    unsigned block(int off) { return le16(store->ram_para, off); }
    Ui_OutputSet* ui() { return g_outputset->ui; }
};

} // namespace

TEST_F(OutputSetPage, SpliceModesSplitTheScreen)
{
    stored(1920, 1080, 3);
    open();
    EXPECT_EQ(ui()->comboBox->currentIndex(), 0);
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 960);
    EXPECT_EQ(field(ui()->lineEdit_out2_width), 960);
    EXPECT_EQ(field(ui()->lineEdit_out2_height), 1080);
    ui()->Button_apply1->click();
    EXPECT_EQ(block(para::kOut2), 960u);
    EXPECT_EQ(block(para::kOut2 + 2), 0u);
    EXPECT_EQ(block(para::kOut1 + 4), 960u);
    EXPECT_EQ(c331_manage::para_change_flag.load(), 1);
    g_outputset->on_Button_back_clicked();

    // Odd width: half is 962, rounded up to 968.
    stored(1921, 1081, 3);
    open();
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 968);
    EXPECT_EQ(field(ui()->lineEdit_out2_width), 953);
    // Vertical: an odd height halves to 540 + 541, an even one to 542 + 538.
    ui()->comboBox->setCurrentIndex(1);
    EXPECT_EQ(g_outputset->splice_type, 2);
    EXPECT_EQ(field(ui()->lineEdit_out1_height), 540);
    EXPECT_EQ(field(ui()->lineEdit_out2_height), 541);
    ui()->lineEdit_height->setText("1080");
    ui()->comboBox->setCurrentIndex(0);
    ui()->comboBox->setCurrentIndex(1);
    EXPECT_EQ(field(ui()->lineEdit_out1_height), 542);
    EXPECT_EQ(field(ui()->lineEdit_out2_height), 538);
}

TEST_F(OutputSetPage, CopyModeLimitsTheWidthAndWideEntriesRoundToWholeBlocks)
{
    stored(10000, 1080, 3);
    open();
    ui()->comboBox->setCurrentIndex(2);
    EXPECT_EQ(ui()->lineEdit_width->text(), "8188");
    ui()->Button_apply1->click();
    EXPECT_EQ(block(para::kLedWidth), 8188u);
    EXPECT_EQ(block(para::kOut2 + 4), 8188u);
    EXPECT_EQ(block(para::kSpliceMode), 4u);
    g_outputset->on_Button_back_clicked();

    stored(10000, 1080, 2);
    open();
    type(ui()->lineEdit_out1_width, "2000");
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 2016);
    EXPECT_EQ(field(ui()->lineEdit_out2_width), 2016);

    // Above the limit the page switches to horizontal splicing.
    type(ui()->lineEdit_out1_width, "9000");
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 8192);
    EXPECT_EQ(field(ui()->lineEdit_out2_width), 1840);
    EXPECT_EQ(g_outputset->splice_type, 3);
    EXPECT_EQ(ui()->comboBox->currentIndex(), 1);
    ui()->Button_apply1->click();
    EXPECT_EQ(block(para::kOut1 + 4), 8192u);
    EXPECT_EQ(block(para::kOut2), 8192u);
    EXPECT_EQ(block(para::kOut2 + 4), 1808u);
    EXPECT_EQ(block(para::kSpliceMode), 3u);
    // A number beyond the largest int is as much too large as 9000.
    type(ui()->lineEdit_out1_width, "500");
    type(ui()->lineEdit_out1_width, "99999999999");
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 8192);
    EXPECT_EQ(field(ui()->lineEdit_out2_width), 1840);
    // No number at all leaves the fields as they were.
    type(ui()->lineEdit_out1_width, "");
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 8192);

    // Heights: above the limit gives 8188; vertical leaves OUT2 the rest.
    type(ui()->lineEdit_out1_height, "9999");
    EXPECT_EQ(field(ui()->lineEdit_out1_height), 8188);
    EXPECT_EQ(field(ui()->lineEdit_out2_height), 8188);
    type(ui()->lineEdit_out1_height, "100");
    type(ui()->lineEdit_out1_height, "99999999999");
    EXPECT_EQ(field(ui()->lineEdit_out1_height), 8188);
    EXPECT_EQ(field(ui()->lineEdit_out2_height), 8188);
}

TEST_F(OutputSetPage, SideBySideAnOut1WiderThanTheScreenIsTheScreenWidthStackedItIsTaken)
{
    stored(1920, 1080, 3);
    open();
    type(ui()->lineEdit_out1_width, "3000");
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 1920);
    EXPECT_EQ(field(ui()->lineEdit_out2_width), 0);
    type(ui()->lineEdit_out1_width, "9000");
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 1920);
    EXPECT_EQ(field(ui()->lineEdit_out2_width), 0);
    ui()->Button_apply1->click();
    EXPECT_EQ(block(para::kOut2 + 4), 0u) << "never a wrapped 16-bit width";
    EXPECT_EQ(block(para::kOut1 + 4), 1920u);
    // A number beyond the largest int is held like 9000, not taken as 0.
    stored(1280, 720, 3);
    delete g_outputset.data();
    open();
    type(ui()->lineEdit_out1_width, "99999999999");
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 1280);
    EXPECT_EQ(field(ui()->lineEdit_out2_width), 0);
    ui()->Button_apply1->click();
    EXPECT_EQ(block(para::kOut1 + 4), 1280u);
    EXPECT_EQ(block(para::kOut2), 1280u);
    EXPECT_EQ(block(para::kOut2 + 4), 0u);
    // Stacked, both outputs take the width typed, wider than the screen
    // or not (the screen's own width sets the chip's outputs there).
    stored(1920, 1080, 2);
    delete g_outputset.data();
    open();
    type(ui()->lineEdit_out1_width, "2500");
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 2500);
    EXPECT_EQ(field(ui()->lineEdit_out2_width), 2500);
    ui()->Button_apply1->click();
    EXPECT_EQ(block(para::kOut1 + 4), 2500u);
    EXPECT_EQ(block(para::kOut2 + 4), 2500u);
    // Stacked, OUT1 is never taller than the screen: OUT2 below it is left
    // no height rather than a wrapped 16-bit one.
    for (const char* typed : {"2000", "99999999999"}) {
        type(ui()->lineEdit_out1_height, typed);
        EXPECT_EQ(field(ui()->lineEdit_out1_height), 1080) << typed;
        EXPECT_EQ(field(ui()->lineEdit_out2_height), 0) << typed;
    }
    ui()->Button_apply1->click();
    EXPECT_EQ(block(para::kOut1 + 6), 1080u);
    EXPECT_EQ(block(para::kOut2 + 6), 0u);
}

TEST_F(OutputSetPage, OnlyARealChangeResetsTheWindowsAndAsksForTheLedHandshake)
{
    stored(1920, 1080, 3);
    setLe16(ParaWriteLock().block(), para::layer(0) + para::kLayerX, 100);
    setLe16(ParaWriteLock().block(), para::layer(2) + para::kLayerEnable, 1);
    bothRunning(true);
    open();
    ui()->Button_apply1->click();
    EXPECT_EQ(block(para::layer(0) + para::kLayerX), 100u);
    EXPECT_EQ(block(para::layer(2) + para::kLayerEnable), 1u);
    EXPECT_EQ(g_set_led_para.load(), 0);
    EXPECT_EQ(g_outputset->findChild<QPushButton*>("Button_apply1")->styleSheet(),
              "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);");

    // Only the mode changes: one full-screen window and the handshake.
    ui()->comboBox->setCurrentIndex(1);
    ui()->Button_apply1->click();
    EXPECT_EQ(block(para::kSpliceMode), 2u);
    EXPECT_EQ(block(para::layer(0) + para::kLayerX), 0u);
    EXPECT_EQ(block(para::layer(0) + para::kLayerW), 1920u);
    EXPECT_EQ(block(para::layer(0) + para::kLayerH), 1080u);
    EXPECT_EQ(block(para::layer(2) + para::kLayerEnable), 0u);
    EXPECT_EQ(g_set_led_para.load(), 1);
    EXPECT_EQ(g_set_led_setup.load(), 0);
}

TEST_F(OutputSetPage, WithOneFpgaDownApplyStoresButAsksForNoHandshake)
{
    stored(1920, 1080, 3);
    bothRunning(false);
    open();
    ui()->comboBox->setCurrentIndex(2);
    ui()->Button_apply1->click();
    EXPECT_EQ(block(para::kSpliceMode), 4u);
    EXPECT_EQ(block(para::layer(1) + para::kLayerEnable), 0u);
    EXPECT_EQ(g_set_led_para.load(), 0);
    EXPECT_EQ(g_set_led_setup.load(), 5);
}

TEST_F(OutputSetPage, OpeningComputesTheOutputsAndTheRefreshShowsTheStoredOnes)
{
    stored(1920, 1080, 3);
    setLe16(ParaWriteLock().block(), para::kOut1 + 4, 1000);
    setLe16(ParaWriteLock().block(), para::kOut2 + 4, 920);
    open();
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 960);
    SyncUpdate::pInstance()->last_tip = 0;
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 1000);
    EXPECT_EQ(field(ui()->lineEdit_out2_width), 920);
    EXPECT_EQ(SyncUpdate::pInstance()->last_tip, 1);
    // A typed value not applied is replaced by the next refresh.
    type(ui()->lineEdit_out1_width, "500");
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(field(ui()->lineEdit_out1_width), 1000);
}

TEST_F(OutputSetPage, PortTilesShowTheAreaOfTheirFpgaPort)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    unsigned short x, y, w, h;
    fpga_manage::get_eth_param_addr(4, &x, &y, &w, &h);
    setLe16(m->MCU_RAM_PARA_func[1], x, 384);
    setLe16(m->MCU_RAM_PARA_func[1], y, 128);
    setLe16(m->MCU_RAM_PARA_func[1], w, 256);
    setLe16(m->MCU_RAM_PARA_func[1], h, 64);
    unsigned short x0, y0, w0, h0;
    fpga_manage::get_eth_param_addr(0, &x0, &y0, &w0, &h0);
    setLe16(m->MCU_RAM_PARA_func[0], x0, 7);
    open();
    g_outputset->on_Button_lanset_clicked();
    EXPECT_EQ(ui()->stackedWidget->currentIndex(), 1);
    ui()->Button_wlan[2]->click();
    QPushButton* tile = nullptr;
    for (QPushButton* b : g_outputset->findChildren<QPushButton*>("4"))
        if (b->isVisibleTo(g_outputset))
            tile = b;
    ASSERT_TRUE(tile);
    tile->click();
    EXPECT_EQ(ui()->lineEdit_X->text(), "384");
    EXPECT_EQ(ui()->lineEdit_Y->text(), "128");
    EXPECT_EQ(ui()->lineEdit_W->text(), "256");
    EXPECT_EQ(ui()->lineEdit_H->text(), "64");
    EXPECT_EQ(g_wlan_frame[4]->styleSheet(), "background-color: #212435;border:1px solid #00D65B;");
    EXPECT_EQ(g_wlan_frame[0]->styleSheet(), "background-color: #212435;border:1px solid #FFFFFF;");
    bool shown = false;
    for (QLabel* l : g_outputset->findChildren<QLabel*>())
        shown = shown || (l->text() == "LED21" && l->isVisibleTo(g_outputset));
    EXPECT_TRUE(shown);
    // Out of range reads port 0 of the first FPGA.
    g_outputset->wlan_para_get(40);
    EXPECT_EQ(ui()->lineEdit_X->text(), "7");
}

TEST_F(OutputSetPage, OpenedFromTheMenuAndClosedByTheIdleTimeOut)
{
    int focusInside = -1;
    g_back_to_mainwindow_time = 5;
    whenModal([&] {
        focusInside = g_page_focus.load();
        tick(10);
    });
    g_option->on_output_set_clicked();
    g_back_to_mainwindow_time = 18000;
    EXPECT_EQ(focusInside, kFocusOutputSet);
    EXPECT_FALSE(g_outputset);
    EXPECT_FALSE(g_option);
    EXPECT_EQ(g_page_focus.load(), kFocusHome);
}

TEST_F(OutputSetPage, TextsInFourLanguagesAndScreenshots)
{
    stored(3840, 1080, 3);
    for (int language = 0; language < 4; ++language) {
        g_language = static_cast<unsigned char>(language);
        open();
        if (language == 1) {
            EXPECT_EQ(ui()->label_tip->text(), "LED max:16376(w),16376(h)");
            EXPECT_EQ(ui()->comboBox->itemText(1), "VerticalS");
        }
        screenshot(g_outputset, "output_led", language);
        g_outputset->on_Button_lanset_clicked();
        screenshot(g_outputset, "output_ports", language);
        g_outputset->on_Button_back_clicked();

        test_chart chart;
        chart.findChild<QPushButton*>("5")->click();
        screenshot(&chart, "test_patterns", language);
    }
    g_language = 9;
    open();
    EXPECT_EQ(ui()->label_title->text(), "Output Seeting");
}
