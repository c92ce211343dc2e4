// The mapping wizard: what its fields store into line_type, the jobs it
// posts and how the progress dial gates them, the port tiles, the scan-file
// list, its opener and Back, and a screenshot per language.
#include "support/shell_fixture.h"

#include "core/global.h"
#include "platform/board_root.h"
#include "sendcard/fpga_manage.h"
#include "ui/screen/smartmapping.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/tip.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

namespace {

class SmartMappingPage : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        g_option = new Option();
        g_smartmapping = new SmartMapping();
        g_page_focus = kFocusSmartMapping;
        g_send_para.code = 0;
    }
    void TearDown() override
    {
        close_dial();
        if (g_smartmapping)
            g_smartmapping->on_Button_back_clicked();
        if (g_option)
            g_option->on_Button_back_clicked();
        g_send_para.code = 0;
        g_kqfile_name.clear();
        ShellTest::TearDown();
    }
    Ui_SmartMapping* ui() { return g_smartmapping->ui; }
    void close_dial()
    {
        if (g_qround_bar)
            g_qround_bar->para_sync(100);
    }
    void touch(const char* file)
    {
        const QString path = platform::boardPath(QString(file));
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
};

} // namespace

TEST_F(SmartMappingPage, FieldsAreHeldToWhatTheRecordCarriesAndSendPostsJobOneOnlyWithoutADial)
{
    ui()->lineEdit_X->setText("70000");
    ui()->lineEdit_Y->setText("");
    ui()->Button_next->click();
    EXPECT_EQ(line_type.width, 65535) << "held, never wrapped";
    EXPECT_EQ(line_type.height, 0);
    EXPECT_EQ(ui()->stackedWidget->currentIndex(), 1);
    ui()->lineEdit_line->setText("300");
    ui()->lineEdit_column->setText("abc");
    ui()->lineEdit_horzion->setText("16");
    ui()->lineEdit_vert->setText("-1");
    ui()->Button_send->click();
    EXPECT_EQ(line_type.rows, 255) << "300 rows are more than a byte carries, not 44";
    EXPECT_EQ(line_type.columns, 0);
    EXPECT_EQ(line_type.x_offset, 16);
    EXPECT_EQ(line_type.y_offset, 0);
    EXPECT_EQ(g_send_para.code.load(), 1);
    EXPECT_EQ(g_send_para.step.load(), 0);
    ASSERT_TRUE(g_qround_bar);

    // While the dial is up: no job, no Back, no menu change.
    g_send_para.code = 0;
    ui()->Button_send->click();
    ui()->Button_confirm->click();
    EXPECT_EQ(g_send_para.code.load(), 0);
    g_smartmapping->on_Button_back_clicked();
    EXPECT_TRUE(g_smartmapping);
    ui()->Button_paraweld->click();
    EXPECT_NE(ui()->stackedWidget->currentIndex(), 6);

    // The FPGA thread's progress reaches the dial through the hook; 100 closes it.
    void (*report)(int) = g_smartmapping_progress.load();
    ASSERT_TRUE(report);
    report(40);
    QCoreApplication::processEvents();
    ASSERT_TRUE(g_qround_bar);
    EXPECT_EQ(g_qround_bar->value(), 40);
    report(100);
    QCoreApplication::processEvents();
    flushDeletes();
    EXPECT_FALSE(g_qround_bar);
    ui()->Button_paraweld->click();
    ui()->Button_confirm->click();
    EXPECT_EQ(g_send_para.code.load(), 3);
}

TEST_F(SmartMappingPage, TheKeypadsNumberIsHeldToWhatTheRecordCarries)
{
    // The keypad's result for a field, as its OK sends it.
    auto type = [](My_lineEdit* field, const QString& text) {
        g_lineedit = field;
        emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit(text);
    };
    for (const char* rows : {"256", "258", "300", "99999999999"}) {
        type(ui()->lineEdit_line, "4");
        type(ui()->lineEdit_line, rows);
        EXPECT_EQ(ui()->lineEdit_line->text(), "255") << rows;
    }
    type(ui()->lineEdit_column, "99999999999");
    EXPECT_EQ(ui()->lineEdit_column->text(), "255");
    type(ui()->lineEdit_column, "12");
    EXPECT_EQ(ui()->lineEdit_column->text(), "12");
    type(ui()->lineEdit_column, "");
    EXPECT_EQ(ui()->lineEdit_column->text(), "12") << "no number leaves the field";
    for (My_lineEdit* f : {ui()->lineEdit_X, ui()->lineEdit_Y, ui()->lineEdit_horzion, ui()->lineEdit_vert}) {
        type(f, "65536");
        EXPECT_EQ(f->text(), "65535") << f->objectName().toStdString();
        type(f, "99999999999");
        EXPECT_EQ(f->text(), "65535") << f->objectName().toStdString();
    }
    type(ui()->lineEdit_X, "128");
    ui()->Button_next->click();
    EXPECT_EQ(line_type.width, 128);
    EXPECT_EQ(line_type.height, 65535);
    ui()->Button_send->click();
    EXPECT_EQ(line_type.rows, 255);
    EXPECT_EQ(line_type.columns, 12);
    EXPECT_EQ(line_type.x_offset, 65535);
}

TEST_F(SmartMappingPage, PortTilesKeepTheChosenPortAcrossGroups)
{
    ui()->Button_next->click();
    ui()->Button_wlan[3]->click();
    g_smartmapping->tile_frame->findChild<QPushButton*>("7")->click();
    EXPECT_EQ(line_type.port, 31);
    EXPECT_TRUE(g_smartmapping->tiles[7]->styleSheet().contains("#00D65B"));
    ui()->Button_wlan[0]->click();
    EXPECT_EQ(line_type.port, 31);
    for (int i = 0; i < 8; ++i)
        EXPECT_FALSE(g_smartmapping->tiles[i]->styleSheet().contains("#00D65B")) << i;
    ui()->Button_wlan[3]->click();
    EXPECT_TRUE(g_smartmapping->tiles[7]->styleSheet().contains("#00D65B"));
    g_smartmapping->tile_frame->findChild<QPushButton*>("2")->click();
    int green = 0;
    for (int i = 0; i < 8; ++i)
        green += g_smartmapping->tiles[i]->styleSheet().contains("#00D65B");
    EXPECT_EQ(green, 1);
    EXPECT_EQ(line_type.port, 26);
}

TEST_F(SmartMappingPage, RouteButtonsChooseTheRoute)
{
    ui()->Button_route->click();
    EXPECT_EQ(ui()->stackedWidget->currentIndex(), 3);
    ui()->Button_routes[11]->click();
    EXPECT_EQ(line_type.route, 12);
    EXPECT_EQ(ui()->stackedWidget->currentIndex(), 2);
}

TEST_F(SmartMappingPage, ScanFilesArePagedAndTheFirstIsChosen)
{
    for (int i = 0; i < 7; ++i)
        touch(QString("/data/smartmapping/d%1.kqfile").arg(i).toUtf8().constData());
    touch("/data/smartmapping/x.KQFILE");
    touch("/data/smartmapping/y.kqfile.bak");
    for (int i = 0; i < 4; ++i)
        touch(QString("/mnt/usb1/u%1.kqfile").arg(i).toUtf8().constData());
    g_smartmapping->on_Button_next_5_clicked();
    EXPECT_EQ(g_smartmapping->total_count, 11);
    EXPECT_EQ(g_smartmapping->last_file_page, 2);
    EXPECT_TRUE(g_kqfile_name.startsWith("/data/smartmapping/"));
    EXPECT_FALSE(g_smartmapping->previous_button);
    EXPECT_TRUE(g_smartmapping->next_button);
    g_smartmapping->zdr_Button_next_clicked();
    EXPECT_TRUE(g_kqfile_name.isEmpty());
    g_smartmapping->zdr_Button_next_clicked();
    EXPECT_FALSE(g_smartmapping->next_button);
    ASSERT_TRUE(g_smartmapping->file_labels[0]);
    EXPECT_FALSE(g_smartmapping->file_labels[1]);
    EXPECT_TRUE(g_smartmapping->file_labels[0]->styleSheet().contains("#00FF00"));
    g_smartmapping->file_frame->findChild<QPushButton*>("0")->click();
    EXPECT_TRUE(g_kqfile_name.startsWith("/mnt/usb1/"));
}

// The page arrows rebuild the frame they sit in: pressed and released as a
// finger does, each arrow turns the page; the frame it sat in leaves the
// page at once and is deleted once the click is over, not inside it.
TEST_F(SmartMappingPage, TheArrowsTurnThePageWhenPressedAndReleased)
{
    for (int i = 0; i < 7; ++i)
        touch(QString("/data/smartmapping/d%1.kqfile").arg(i).toUtf8().constData());
    for (int i = 0; i < 4; ++i)
        touch(QString("/mnt/usb1/u%1.kqfile").arg(i).toUtf8().constData());
    g_smartmapping->show();
    g_smartmapping->on_Button_next_5_clicked();
    ASSERT_EQ(g_smartmapping->last_file_page, 2);
    // A press and a release on the arrow's centre. The arrow (and so its
    // frame) must outlive the click it delivers: a receiver of its click
    // connected after the page's own still hears it.
    const auto tap = [](QPushButton* arrow) {
        ASSERT_TRUE(arrow);
        const QPointer<QPushButton> alive(arrow);
        bool heardToTheEnd = false;
        QObject::connect(arrow, &QPushButton::clicked, [&] { heardToTheEnd = !alive.isNull(); });
        const QPoint centre = arrow->rect().center();
        QTest::mousePress(arrow, Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseRelease(arrow, Qt::LeftButton, Qt::NoModifier, centre);
        EXPECT_TRUE(heardToTheEnd) << "the arrow was deleted inside its own click";
        EXPECT_FALSE(alive && alive->isVisible()) << "the old frame is taken off the page at once";
    };
    const auto frames = [this] {
        int shown = 0;
        for (QFrame* f : ui()->page[5]->findChildren<QFrame*>("frame_file"))
            shown += f->isVisibleTo(ui()->page[5]);
        return shown;
    };
    const auto firstRow = [] {
        QLabel* l = g_smartmapping->file_labels[0];
        return l ? l->text() : QString();
    };
    const QString page0 = firstRow();

    tap(g_smartmapping->next_button);
    flushDeletes();
    EXPECT_EQ(g_smartmapping->file_page, 1);
    EXPECT_EQ(frames(), 1);
    EXPECT_NE(firstRow(), page0);
    EXPECT_TRUE(g_smartmapping->previous_button);
    EXPECT_TRUE(g_kqfile_name.isEmpty());

    tap(g_smartmapping->next_button);
    flushDeletes();
    EXPECT_EQ(g_smartmapping->file_page, 2);
    EXPECT_FALSE(g_smartmapping->next_button);
    ASSERT_TRUE(g_smartmapping->file_labels[0]);
    EXPECT_TRUE(g_smartmapping->file_labels[0]->styleSheet().contains("#00FF00")) << "the last page holds a USB file";

    tap(g_smartmapping->previous_button);
    tap(g_smartmapping->previous_button);
    flushDeletes();
    EXPECT_EQ(g_smartmapping->file_page, 0);
    EXPECT_EQ(frames(), 1);
    EXPECT_EQ(firstRow(), page0);
    EXPECT_TRUE(g_kqfile_name.startsWith("/data/smartmapping/")) << "page 0 chooses its first file again";

    // A row of the rebuilt frame still answers a press.
    QPushButton* row = g_smartmapping->file_frame->findChild<QPushButton*>("1");
    ASSERT_TRUE(row);
    QTest::mouseClick(row, Qt::LeftButton, Qt::NoModifier, row->rect().center());
    EXPECT_EQ(g_smartmapping->chosen_slot, 1);
}

// The file of a running load stays chosen through USB events, which
// rebuild the list once the job has ended; a load that did not load the
// whole file says so; a new scan file from the PC closes the wizard, but
// not while a job runs.
TEST_F(SmartMappingPage, TheLoadKeepsItsFileTellsItsFailureAndThePcClosesTheWizard)
{
    touch("/data/smartmapping/a.kqfile");
    touch("/data/smartmapping/b.kqfile");
    g_smartmapping->language_changed();
    g_smartmapping->on_Button_next_5_clicked();
    g_smartmapping->file_frame->findChild<QPushButton*>("1")->click();
    const QString chosen = g_kqfile_name;
    ASSERT_FALSE(chosen.isEmpty());
    ui()->Button_load->click();
    ASSERT_TRUE(g_qround_bar);
    EXPECT_EQ(g_send_para.code.load(), 2);
    EXPECT_EQ(fpga_posted_load_file(), chosen);

    g_smartmapping->syncUpdate(102);
    g_smartmapping->syncUpdate(101);
    EXPECT_EQ(g_kqfile_name, chosen) << "the list is not rebuilt under a running load";

    // The FPGA thread ends the job through its failure end.
    g_send_para.failed = true;
    g_send_para.code = 0;
    g_language = 1;
    SmartMapping::report_progress(100);
    QCoreApplication::processEvents();
    EXPECT_FALSE(g_qround_bar);
    EXPECT_EQ(g_tip->shown_type(), TIP::kLoadIncomplete);
    EXPECT_EQ(g_tip->text(), "The scan file was not loaded completely");
    EXPECT_NE(g_kqfile_name, chosen) << "the list is rebuilt now, the first file chosen";
    EXPECT_FALSE(g_kqfile_name.isEmpty());
    g_send_para.failed = false;

    // A scan file from the PC while a job runs: Back is refused while the
    // dial is up; the wizard closes when the job ends.
    ui()->Button_load->click();
    ASSERT_TRUE(g_qround_bar);
    SmartMapping::request_close();
    QCoreApplication::processEvents();
    ASSERT_TRUE(g_smartmapping);
    g_send_para.code = 0;
    SmartMapping::report_progress(100);
    QCoreApplication::processEvents();
    flushDeletes();
    EXPECT_FALSE(g_smartmapping);
    EXPECT_EQ(g_page_focus.load(), kFocusOption);
}

TEST_F(SmartMappingPage, OpenedFromTheMenuAndClosedByTheIdleTimeOut)
{
    g_smartmapping->on_Button_back_clicked();
    flushDeletes();
    EXPECT_EQ(g_page_focus.load(), kFocusOption);
    g_option->language_changed();
    int focusInside = -1;
    g_back_to_mainwindow_time = 5;
    whenModal([&] {
        focusInside = g_page_focus.load();
        tick(10);
    });
    g_option->on_smart_mapping_clicked();
    g_back_to_mainwindow_time = 18000;
    EXPECT_EQ(focusInside, kFocusSmartMapping);
    EXPECT_FALSE(g_smartmapping);
    EXPECT_FALSE(g_option);
    EXPECT_EQ(g_smartmapping_progress.load(), nullptr);
}

TEST_F(SmartMappingPage, TextsInFourLanguagesAndScreenshots)
{
    static const char* const tags[4] = {"zh", "en", "ru", "vn"};
    const QString dir = QString(ZDR_BINARY_DIR) + "/screenshots";
    QDir().mkpath(dir);
    for (int language = 0; language < 4; ++language) {
        g_language = static_cast<unsigned char>(language);
        g_smartmapping->language_changed();
        if (language == 1) {
            EXPECT_EQ(ui()->label_title->text(), "Smart debugging screen");
        }
        EXPECT_TRUE(g_smartmapping->grab().save(dir + "/smart_mapping_" + tags[language] + ".png"));
    }
    g_language = 9;
}
