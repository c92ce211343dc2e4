// Renders every page of the shell in the four languages to PNG files for
// review: <build folder>/screenshots/<page>_<zh|en|ru|vn>.png.
#include "support/shell_fixture.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/advancedoption.h"
#include "ui/shell/firmwareupdate.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/tip.h"
#include "videochip/c331_manage.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <cstring>

namespace {

const char* const kLanguageTags[4] = {"zh", "en", "ru", "vn"};

class Screens : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        dir = QString(ZDR_BINARY_DIR) + "/screenshots";
        QDir().mkpath(dir);
        // Something to show: a few inputs with signal, a saved mode in use.
        const int inputs[3][4] = {{2, 1920, 1080, 60}, {4, 3840, 2160, 30}, {1, 1280, 720, 60}};
        for (const auto& in : inputs) {
            setLe16(ParaWriteLock().block(), para::inputSignal(in[0]), in[1]);
            setLe16(ParaWriteLock().block(), para::inputSignal(in[0]) + 2, in[2]);
            setLe16(ParaWriteLock().block(), para::inputSignal(in[0]) + 4, in[3]);
        }
        ParaWriteLock().slot(0)[0] = ParaWriteLock().slot(0)[1] = 0xAA;
        ParaWriteLock().slot(4)[0] = ParaWriteLock().slot(4)[1] = 0xAA;
        setLe16(ParaWriteLock().block(), para::kCurrentMode, 5);
        c331_manage::font_status = 0x03;
        std::memcpy(g_pid, "3f2a9c0d41b7e6580c1d2e3f4a5b6c7d", sizeof(g_pid));
    }
    void TearDown() override
    {
        c331_manage::font_status = 0;
        std::memset(g_pid, 0, sizeof(g_pid));
        ShellTest::TearDown();
    }

    // Saves the widget as <name>_<language>.png and checks it was written.
    void shot(QWidget* widget, const QString& name, int language)
    {
        const QString path = dir + "/" + name + "_" + kLanguageTags[language] + ".png";
        const QPixmap picture = widget->grab();
        ASSERT_FALSE(picture.isNull()) << name.toStdString();
        ASSERT_TRUE(picture.save(path)) << path.toStdString();
        ++written;
    }
    // A top-level pop-up (keypad, tip) over the home page, as on the screen.
    void shotOver(QWidget* popup, const QString& name, int language)
    {
        QPixmap screen = g_mainwindow->grab();
        QPainter p(&screen);
        p.fillRect(screen.rect(), QColor(0, 0, 0, 90));
        p.drawPixmap(popup->geometry().topLeft(), popup->grab());
        p.end();
        const QString path = dir + "/" + name + "_" + kLanguageTags[language] + ".png";
        ASSERT_TRUE(screen.save(path)) << path.toStdString();
        ++written;
    }

    QString dir;
    int written = 0;
};

} // namespace

TEST_F(Screens, EveryShellPageInFourLanguages)
{
    for (int language = 0; language < 4; ++language) {
        g_language = static_cast<unsigned char>(language);
        // The settings menu marks the stored language.
        if (ZdrRamPara::p_zdrrampara_config)
            ParaWriteLock().block()[para::kLanguage] = static_cast<unsigned char>(language);
        g_mainwindow->language_changed();
        g_mainwindow->mode_window_close();
        shot(g_mainwindow, "home", language);
        g_mode_select = 4;
        g_mainwindow->mode_window_open();
        shot(g_mainwindow, "home_modes", language);
        g_mainwindow->mode_window_close();

        g_lockwindow->language_changed();
        shot(g_lockwindow, "idle", language);

        MachineState state;
        shot(&state, "device_status", language);

        Option menu;
        shot(&menu, "settings", language);

        {
            AdvancedOption advanced;
            g_advancedoption = &advanced;
            AdvancedOption::check_found(AdvancedOption::result_line(0, 1, 4, 12));
            advanced.on_Button_recovery_clicked();
            shot(&advanced, "advanced_recovery", language);
            QRoundProgressBar::create_qround_bar(&advanced);
            g_qround_bar->para_sync(64);
            shot(&advanced, "advanced_progress", language);
            g_qround_bar->para_sync(100);
            advanced.on_Button_led_clicked();
            advanced.on_Button_led_reset_clicked();
            shot(&advanced, "advanced_led", language);
            advanced.on_Button_factory_clicked();
            shot(&advanced, "advanced_factory", language);
            g_advancedoption = nullptr;
        }

        g_numberkeyboard->setGeometry(420, 0, 380, 480);
        g_numberkeyboard->label_show("X", "1920");
        shotOver(g_numberkeyboard, "keypad", language);

        g_tip->tip_create(1);
        shotOver(g_tip, "tip_check", language);
        g_tip->tip_create(3);
        shotOver(g_tip, "tip_usb_in", language);
        g_tip->tip_create(4);
        shotOver(g_tip, "tip_usb_out", language);
        g_tip->tip_create(5);
        shotOver(g_tip, "tip_reading", language);
        g_tip->hide();

        FirmwareUpdate update;
        shot(&update, "update", language);
    }
    flushDeletes();
    EXPECT_EQ(written, 4 * 15);
    EXPECT_TRUE(QFile::exists(dir + "/home_vn.png"));
}
