// The network and USB update page: octet entry and its copy into the
// gateway, Apply writing the settings and renewing the address, the USB
// file list, the upgrade request, the refresh codes, the opener, Back and
// idle handling, and a screenshot per language.
#include "support/shell_fixture.h"
#include "support/wait_for.h"

#include "core/config_engine.h"
#include "core/global.h"
#include "core/syncupdate.h"
#include "core/utils.h"
#include "link/link_global.h"
#include "platform/board_root.h"
#include "sendcard/fpga_manage.h"
#include "ui/screen/linkoption.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_style.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <atomic>
#include <thread>

namespace {

const char* const kLanguageTags[4] = {"zh", "en", "ru", "vn"};

class LinkOptionPage : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        fpga_manage::createForTest(false);
        g_usb_grade = 0;
        g_send_para.step = 7;
        g_str_ip = "192.168.1.199";
        g_srt_mask = "255.255.255.0";
        g_str_gateway = "192.168.1.1";
        g_usb_grade_path = "ZDR-K47";
        g_option = new Option();
        g_linkoption = new LinkOption();
        g_page_focus = kFocusLinkOption;
    }
    void TearDown() override
    {
        if (g_linkoption)
            g_linkoption->on_Button_back_clicked();
        if (g_option)
            g_option->on_Button_back_clicked();
        g_usb_grade = 0;
        g_send_para.step = 0;
        fpga_manage::destroyForTest();
        ShellTest::TearDown();
    }
    Ui_LinkOption* ui() { return g_linkoption->ui; }
    // Types text into a field through the keypad's result.
    void type(int row, int i, const QString& text)
    {
        My_lineEdit* field = ui()->octet[row][i];
        g_lineedit = field;
        g_linkoption->lineedit_name = field->objectName();
        emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit(text);
    }
    QString row(int r)
    {
        QStringList parts;
        for (int i = 0; i < 4; ++i)
            parts << ui()->octet[r][i]->text();
        return parts.join('.');
    }
    void usbFile(const QString& dir, const QString& name)
    {
        const QString path = platform::boardPath(QString("/mnt/usb1/") + dir);
        QDir().mkpath(path);
        QFile f(path + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    QStringList rows()
    {
        QStringList out;
        for (int r = 0; r < 5; ++r)
            if (QLabel* l = g_linkoption->frame_file->findChild<QLabel*>(QString("label_file%1").arg(r)))
                out << l->text();
        return out;
    }
    bool marked(int r)
    {
        return g_linkoption->frame_file->findChild<QLabel*>(QString("label_file%1").arg(r))->styleSheet().startsWith(
            "background-color:#4777FF");
    }
};

} // namespace

TEST_F(LinkOptionPage, FieldsShowTheAddressAndTypedOctetsAreCheckedAndCopiedToTheGateway)
{
    EXPECT_EQ(ui()->stackedWidget->currentIndex(), 0);
    EXPECT_EQ(row(0), "192.168.1.199");
    EXPECT_EQ(row(1), "255.255.255.0");
    EXPECT_EQ(row(2), "192.168.1.1");

    type(0, 1, "10");
    EXPECT_EQ(row(0), "192.10.1.199");
    EXPECT_EQ(row(2), "192.10.1.1");
    type(0, 3, "20");
    type(1, 0, "254");
    EXPECT_EQ(row(2), "192.10.1.1");
    EXPECT_EQ(row(1), "254.255.255.0");

    type(0, 2, "255");
    EXPECT_EQ(ui()->octet[0][2]->text(), "255");
    type(0, 2, "256");
    type(0, 2, "123456789012");
    // An empty entry would leave a hole in the address.
    type(0, 2, "");
    EXPECT_EQ(ui()->octet[0][2]->text(), "255");
    EXPECT_EQ(ui()->octet[2][2]->text(), "255");
    // A leading zero would make the network tools read octal: "010" is 10.
    type(0, 2, "010");
    EXPECT_EQ(ui()->octet[0][2]->text(), "10");
    EXPECT_EQ(ui()->octet[2][2]->text(), "10");
    type(0, 2, "255");

    // A keypad result for a field of another page is not taken.
    My_lineEdit other;
    g_lineedit = &other;
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("7");
    EXPECT_EQ(row(0), "192.10.255.20");
}

TEST_F(LinkOptionPage, ApplyWritesAllThreeItemsOnlyWhenSomethingChangedAndRefusesAHole)
{
    ConfigEngine* config = ConfigEngine::pInstance();
    const int syncs = shellCount("sync");
    g_linkoption->on_Button_net_apply_clicked();
    EXPECT_EQ(shellCount("sync"), syncs);
    EXPECT_EQ(ui()->Button_net_apply->styleSheet(), kTabSelected);

    type(1, 3, "128");
    g_linkoption->on_Button_net_cancel_clicked();
    EXPECT_EQ(ui()->Button_net_cancel->styleSheet(), kTabSelected);
    EXPECT_EQ(row(1), "255.255.255.128");
    g_linkoption->on_Button_net_apply_clicked();
    EXPECT_EQ(config->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.1.199");
    EXPECT_EQ(config->read_config_variant(ConfigItem::SubNetMask).toString(), "255.255.255.128");
    EXPECT_EQ(config->read_config_variant(ConfigItem::GateWay).toString(), "192.168.1.1");
    EXPECT_EQ(shellCount("sync"), syncs + 1);

    ui()->octet[0][0]->clear();
    g_linkoption->on_Button_net_apply_clicked();
    EXPECT_EQ(config->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.1.199");
    EXPECT_EQ(shellCount("sync"), syncs + 1);
    type(0, 0, "192");

    // The PC moves the device while the page is open; the operator then
    // changes the gateway and applies: the PC's address is not undone, the
    // page shows it, and an Apply after that stores the operator's change.
    config->write_config_variants({{ConfigItem::IPAddress, "192.168.1.50"},
                                   {ConfigItem::SubNetMask, "255.255.0.0"},
                                   {ConfigItem::GateWay, "192.168.1.1"}});
    type(2, 3, "2");
    g_linkoption->on_Button_net_apply_clicked();
    EXPECT_EQ(config->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.1.50");
    EXPECT_EQ(config->read_config_variant(ConfigItem::SubNetMask).toString(), "255.255.0.0");
    EXPECT_EQ(config->read_config_variant(ConfigItem::GateWay).toString(), "192.168.1.1");
    EXPECT_EQ(row(0), "192.168.1.50");
    EXPECT_EQ(row(1), "255.255.0.0");
    EXPECT_EQ(row(2), "192.168.1.1");
    type(2, 3, "2");
    g_linkoption->on_Button_net_apply_clicked();
    EXPECT_EQ(config->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.1.50");
    EXPECT_EQ(config->read_config_variant(ConfigItem::GateWay).toString(), "192.168.1.2");

    // A refresh shows an address the PC set.
    config->write_config_variants({{ConfigItem::IPAddress, "192.168.1.60"}});
    g_linkoption->syncUpdate(1);
    EXPECT_EQ(row(0), "192.168.1.60");

    // The PC's set-network lands after Apply has looked, before it stores:
    // kept, and shown.
    type(2, 3, "3");
    LinkOption::apply_looked_hook = [&] { config->write_config_variants({{ConfigItem::IPAddress, "192.168.1.70"}}); };
    g_linkoption->on_Button_net_apply_clicked();
    LinkOption::apply_looked_hook = nullptr;
    EXPECT_EQ(config->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.1.70");
    EXPECT_EQ(row(0), "192.168.1.70");

    // It lands after the store, while the page waits for the settings lock
    // to renew the interface: the next refresh shows it.
    type(2, 3, "4");
    const int synced = shellCount("sync");
    std::atomic<bool> held{false};
    std::thread pc([&] {
        QMutexLocker settings(&Utils::_settings_mutex);
        held = true;
        waitFor([&] { return shellCount("sync") > synced; }, 10000);
        config->write_config_variants({{ConfigItem::IPAddress, "192.168.1.80"}});
    });
    while (!held.load())
        std::this_thread::yield();
    g_linkoption->on_Button_net_apply_clicked();
    pc.join();
    EXPECT_EQ(config->read_config_variant(ConfigItem::GateWay).toString(), "192.168.1.4");
    g_linkoption->syncUpdate(1);
    EXPECT_EQ(row(0), "192.168.1.80");
}

TEST_F(LinkOptionPage, TheUsbTabListsUpdateFilesAndMarksTheFirstZdrAndEveryZdrzk)
{
    g_linkoption->on_Button_usb_clicked();
    EXPECT_EQ(ui()->stackedWidget->currentIndex(), 2);
    EXPECT_EQ(ui()->Button_usb->styleSheet(), kTabSelected);
    EXPECT_EQ(ui()->Button_com->styleSheet(), kTabPlain);
    ASSERT_TRUE(g_linkoption->frame_file);
    EXPECT_EQ(g_linkoption->frame_file->findChild<QLabel*>("label_nofile")->text(), "No loaded file!");

    usbFile("ZDR-K47", "a.ZDR");
    usbFile("ZDR-K47", "b.ZDR");
    usbFile("ZDR-K47", "c.ZDRZK");
    usbFile("ZDR-K47", "update.zdr");
    usbFile("ZDR-K47", "update.ZDR.bak");
    usbFile("", "top.ZDR");
    g_linkoption->on_Button_usb_clicked();
    EXPECT_EQ(g_linkoption->listed_count, 3u);
    EXPECT_EQ(g_linkoption->zdr_count, 2);
    const QStringList shown = rows();
    ASSERT_EQ(shown.size(), 3);
    for (int r = 0; r < 3; ++r) {
        const QString name = QFileInfo(g_linkoption->update_files.at(r)).fileName();
        EXPECT_EQ(shown.at(r), "<font color = #FFFFFF >" + name + "</font>");
        if (name.endsWith(".ZDRZK")) {
            EXPECT_TRUE(marked(r));
        }
    }
    // Exactly one of the two ZDR files is marked: the first listed.
    int zdrMarks = 0;
    for (int r = 0; r < 3; ++r)
        if (g_linkoption->update_files.at(r).endsWith(".ZDR") && marked(r))
            ++zdrMarks;
    EXPECT_EQ(zdrMarks, 1);

    g_usb_grade_path = " ";
    g_linkoption->on_Button_usb_clicked();
    ASSERT_EQ(g_linkoption->listed_count, 1u);
    EXPECT_TRUE(g_linkoption->update_files.at(0).endsWith("/mnt/usb1/top.ZDR"));
}

TEST_F(LinkOptionPage, TheUpgradeInstallsExactlyTheFilesThePageLists)
{
    struct Case {
        const char* what;
        std::vector<std::pair<QString, QString>> files;   // folder under /mnt/usb1, name
        QString setting;
        int listed;
    };
    std::vector<Case> cases = {
        {"a hidden package only", {{"ZDR-K47", ".hidden.ZDR"}}, "ZDR-K47", 0},
        {"hidden beside shown",
         {{"ZDR-K47", ".hidden.ZDR"}, {"ZDR-K47", ".h.ZDRZK"}, {"ZDR-K47", "a.ZDR"}, {"ZDR-K47", "b.ZDRZK"}},
         "ZDR-K47",
         2},
        {"a setting that leaves the disk", {{"../other", "evil.ZDR"}}, "../other", 0},
        {"the disk's top folder", {{"", "top.ZDR"}, {"", ".top.ZDR"}}, " ", 1},
    };
    Case many{"more than a page can hold", {}, "ZDR-K47", 100};
    for (int i = 0; i < 104; ++i)
        many.files.push_back({"ZDR-K47", QString("m%1.ZDR").arg(i)});
    cases.push_back(many);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(platform::boardPath(QString("/mnt/usb1"))).removeRecursively();
        QDir(platform::boardPath(QString("/mnt/other"))).removeRecursively();
        QDir().mkpath(platform::boardPath(QString("/mnt/usb1")));
        for (const auto& f : c.files)
            usbFile(f.first, f.second);
        g_usb_grade_path = c.setting;
        g_linkoption->on_Button_usb_clicked();
        fpga_manage::p_fpga_manage->get_usb_file_list_path();
        EXPECT_EQ(g_linkoption->listed_count, unsigned(c.listed));
        EXPECT_EQ(fpga_manage::p_fpga_manage->usb_file_count, unsigned(c.listed));
        EXPECT_EQ(fpga_manage::p_fpga_manage->usb_file_list, g_linkoption->update_files);
        if (c.listed == 0) {
            const QLabel* none = g_linkoption->frame_file->findChild<QLabel*>("label_nofile");
            EXPECT_TRUE(none && none->text() == "No loaded file!");
        }
    }
}

TEST_F(LinkOptionPage, SevenFilesShowFiveRowsWithoutArrows)
{
    for (int i = 0; i < 7; ++i)
        usbFile("ZDR-K47", QString("f%1.ZDRZK").arg(i));
    g_linkoption->on_Button_usb_clicked();
    EXPECT_EQ(g_linkoption->listed_count, 7u);
    EXPECT_EQ(rows().size(), 5);
    EXPECT_FALSE(g_linkoption->frame_file->findChild<QPushButton*>("Button_next"));
    EXPECT_FALSE(g_linkoption->frame_file->findChild<QPushButton*>("Button_previous"));
}

TEST_F(LinkOptionPage, OkAsksOnceForTheUpgradeUntilTheDiskIsPulled)
{
    g_linkoption->on_Button_ok_clicked();
    EXPECT_EQ(g_usb_grade.load(), 1u);
    EXPECT_EQ(g_send_para.step, 0);
    g_usb_grade = 0;
    g_linkoption->on_Button_ok_clicked();
    EXPECT_EQ(g_usb_grade.load(), 0u);

    g_linkoption->syncUpdate(101);
    g_linkoption->on_Button_ok_clicked();
    EXPECT_EQ(g_usb_grade.load(), 1u);
}

TEST_F(LinkOptionPage, UsbCodesRedrawTheListAndTheEndOfTheUpgradeShowsOnTheUsbTabOnly)
{
    usbFile("ZDR-K47", "a.ZDR");
    SyncUpdate::pInstance()->para_sync(100);
    EXPECT_FALSE(g_linkoption->frame_file);
    SyncUpdate::pInstance()->para_sync(102);
    ASSERT_TRUE(g_linkoption->frame_file);
    EXPECT_EQ(rows().size(), 1);

    fpga_manage::p_fpga_manage->upgrade_time_text = "10:1:2    10:3:4";
    SyncUpdate::pInstance()->para_sync(104);
    EXPECT_TRUE(ui()->label_log->text().isEmpty());
    g_linkoption->on_Button_usb_clicked();
    SyncUpdate::pInstance()->para_sync(104);
    EXPECT_EQ(ui()->label_log->text(),
              "<font style = 'font-size:20px' color = #51BB28 >downing over<br>10:1:2    10:3:4</font>");

    // An upgrade with a refused package says so.
    fpga_manage::p_fpga_manage->upgrade_errors = 2;
    SyncUpdate::pInstance()->para_sync(104);
    EXPECT_EQ(ui()->label_log->text(), "<font style = 'font-size:20px' color = #51BB28 >downing over&nbsp;&nbsp;"
                                       "<font color = #E04040 >Not completed: 2 failed</font><br>10:1:2    10:3:4</font>");

    // ... and what the flash of each FPGA it tried holds.
    const struct {
        unsigned char flash0, flash1;
        const char* said;
    } flashes[] = {
        {1, 0, "FPGA 0: old version kept"},
        {2, 3, "FPGA 0: new version; FPGA 1: flash blank, upgrade again"},
        {0, 2, "FPGA 1: new version"},
        {3, 1, "FPGA 0: flash blank, upgrade again; FPGA 1: old version kept"},
    };
    for (const auto& f : flashes) {
        SCOPED_TRACE(f.said);
        fpga_manage::p_fpga_manage->upgrade_flash[0] = f.flash0;
        fpga_manage::p_fpga_manage->upgrade_flash[1] = f.flash1;
        SyncUpdate::pInstance()->para_sync(104);
        EXPECT_EQ(ui()->label_log->text(),
                  QString("<font style = 'font-size:20px' color = #51BB28 >downing over&nbsp;&nbsp;"
                          "<font color = #E04040 >Not completed: 2 failed</font><br>"
                          "<font style = 'font-size:14px' color = #E04040 >%1</font><br>10:1:2    10:3:4</font>")
                      .arg(f.said));
    }
    // Packages left out (more than 100 on the disk) are named beside the
    // load button, and no longer once an upgrade left none out.
    EXPECT_TRUE(ui()->label_skipped->text().isEmpty());
    fpga_manage::p_fpga_manage->usb_skipped = QStringList{"m100.ZDR", "m101.ZDR"};
    SyncUpdate::pInstance()->para_sync(104);
    EXPECT_EQ(ui()->label_skipped->text().replace('\n', ' '), "Not installed (over 100 packages): m100.ZDR, m101.ZDR");
    fpga_manage::p_fpga_manage->usb_skipped.clear();
    SyncUpdate::pInstance()->para_sync(104);
    EXPECT_TRUE(ui()->label_skipped->text().isEmpty());
    fpga_manage::p_fpga_manage->upgrade_errors = 0;
    fpga_manage::p_fpga_manage->upgrade_flash[0] = 0;
    fpga_manage::p_fpga_manage->upgrade_flash[1] = 0;

    // A flash write cut short is found at start: the USB tab says so
    // before any upgrade, and so does the end of one that left it.
    g_linkoption->on_Button_back_clicked();
    flushDeletes();
    const std::string mark = platform::boardPath("/data/configs/fpga1_flash_writing");
    QFile(QString::fromStdString(mark)).open(QIODevice::WriteOnly);
    fpga_manage::createForTest(false);
    g_linkoption = new LinkOption();
    g_page_focus = kFocusLinkOption;
    g_linkoption->on_Button_usb_clicked();
    EXPECT_EQ(ui()->label_log->text(),
              "<font style = 'font-size:14px' color = #E04040 >FPGA 1: flash blank, upgrade again</font>");
    SyncUpdate::pInstance()->para_sync(104);
    EXPECT_EQ(ui()->label_log->text(), "<font style = 'font-size:20px' color = #51BB28 >downing over<br>"
                                       "<font style = 'font-size:14px' color = #E04040 >FPGA 1: flash blank, "
                                       "upgrade again</font><br></font>");
    std::remove(mark.c_str());
}

TEST_F(LinkOptionPage, OpenedFromTheMenuAndClosedByTheIdleTimeOut)
{
    g_linkoption->on_Button_back_clicked();
    EXPECT_FALSE(g_linkoption);
    EXPECT_EQ(g_page_focus.load(), kFocusOption);
    flushDeletes();

    int focusInside = -1;
    g_back_to_mainwindow_time = 5;
    whenModal([&] {
        focusInside = g_page_focus.load();
        tick(10);
    });
    g_option->on_link_set_clicked();
    g_back_to_mainwindow_time = 18000;
    EXPECT_EQ(focusInside, kFocusLinkOption);
    EXPECT_FALSE(g_linkoption);
    EXPECT_FALSE(g_option);
    EXPECT_EQ(g_page_focus.load(), kFocusHome);
}

TEST_F(LinkOptionPage, TextsInFourLanguagesAndScreenshots)
{
    usbFile("ZDR-K47", "a.ZDR");
    usbFile("ZDR-K47", "b.ZDRZK");
    g_linkoption->on_Button_back_clicked();
    const QString dir = QString(ZDR_BINARY_DIR) + "/screenshots";
    QDir().mkpath(dir);
    for (int language = 0; language < 4; ++language) {
        g_language = static_cast<unsigned char>(language);
        LinkOption page;
        if (language == 1) {
            EXPECT_EQ(page.ui->label_title->text(), "Communication");
            EXPECT_EQ(page.ui->Button_net_cancel->text(), "Cancle");
        }
        const QString tag = kLanguageTags[language];
        EXPECT_TRUE(page.grab().save(dir + "/link_serial_" + tag + ".png"));
        page.on_Button_wlan_clicked();
        EXPECT_TRUE(page.grab().save(dir + "/link_network_" + tag + ".png"));
        page.on_Button_usb_clicked();
        EXPECT_TRUE(page.grab().save(dir + "/link_usb_" + tag + ".png"));
        // The end of an upgrade that left packages out and a flash blank.
        fpga_manage* fpga = fpga_manage::p_fpga_manage;
        fpga->upgrade_time_text = "23:59:59    23:59:59";
        fpga->upgrade_errors = 6;
        fpga->upgrade_flash[0] = fpga_manage::kFlashBlank;
        fpga->upgrade_flash[1] = fpga_manage::kFlashOldKept;
        fpga->usb_skipped = QStringList{"update_2024_08_02_full_package.ZDR", "m101.ZDR", "m102.ZDRZK",
                                        "m103.ZDR", "m104.ZDR"};
        page.syncUpdate(104);
        EXPECT_TRUE(page.grab().save(dir + "/link_usb_end_" + tag + ".png"));
        fpga->upgrade_errors = 0;
        fpga->upgrade_flash[0] = fpga->upgrade_flash[1] = fpga_manage::kFlashNotTried;
        fpga->usb_skipped.clear();
    }
    g_language = 9;
    LinkOption page;
    EXPECT_EQ(page.ui->Button_usb->text(), "USB UPDATE");
    EXPECT_EQ(page.ui->label_num_baud->text(), "115200");
}
