#include "ui/shell/mainwindow.h"
#include "ui/shell/text_fit.h"

#include "ui/picture/inputchoose.h"

#include "core/atomic_file.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/logMsg.h"
#include "core/mode_saves.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "link/link_global.h"
#include "platform/board_root.h"
#include "ui/picture/custommode.h"
#include "ui/shell/firmwareupdate.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_input.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/tip.h"
#include "videochip/c331_manage.h"

#include <vector>
#include <QDateTime>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>
#include <QThread>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char* const kModeSaved = "QPushButton{background-color:#212435;color:#FFFFFF;border:2px solid #00D65B;border-radius:6px;}";
const char* const kModeEmpty = "QPushButton{background-color:#212435;color:#8A8FA8;border:1px solid #3A3F5C;border-radius:6px;}";
const char* const kModeChosen = "QPushButton{background-color:#4777FF;color:#FFFFFF;border:2px solid #FFFFFF;border-radius:6px;}";

QString two_digits(int n)
{
    return QString("%1").arg(n, 2, 10, QChar('0'));
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    shell_resources_init();
    // Every text of every page fits its widget, in every language.
    text_fit::install();
    setObjectName("MainWindow");
    setFixedSize(800, 480);
    setWindowFlags(Qt::FramelessWindowHint);
    move(0, 0);
    QWidget* central = new QWidget(this);
    central->setObjectName("centralwidget");
    central->setStyleSheet("QWidget#centralwidget{background-color:#10101C;} QLabel{color:#FFFFFF;}");
    setCentralWidget(central);

    Button_lock = shell_button(central, "Button_lock", 11, 11, 50, 50, nullptr);
    Button_lock->setFlat(true);
    Button_lock->setIconSize(QSize(36, 36));
    label_title = shell_label(central, "label_title", 150, 11, 500, 50, 24);
    label_title->setAlignment(Qt::AlignCenter);
    label_ip = shell_label(central, "label_ip", 560, 20, 225, 32, 16, "color:#8A8FA8;");
    label_ip->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    const char* const tiles[4] = {"inputchoose", "custommode", "Button_setting", "Button_state"};
    for (int i = 0; i < 4; ++i) {
        tile_[i] = shell_button(central, tiles[i], 30 + 190 * i, 85, 170, 190, nullptr);
        tile_[i]->setFlat(true);
        tile_[i]->setIconSize(QSize(170, 190));
    }

    label_led = shell_label(central, "label_led", 30, 300, 520, 40, 22);
    label_brightness = shell_label(central, "label_brightness", 30, 345, 520, 40, 22);
    label_mode = shell_label(central, "label_mode", 30, 390, 520, 40, 22);
    Button_mode = shell_button(central, "Button_mode", 590, 320, 180, 80);

    // The user-mode panel over the parameter display.
    mode_window = new QFrame(central);
    mode_window->setObjectName("mode_window");
    mode_window->setGeometry(20, 288, 760, 184);
    mode_window->setStyleSheet("QFrame#mode_window{background-color:#181A28;border:1px solid #4777FF;border-radius:10px;}"
                               "QLabel{color:#FFFFFF;}");
    for (int s = 0; s < 16; ++s) {
        const QByteArray name = QByteArray::number(s);
        mode_button_[s] = shell_button(mode_window, name.constData(), 12 + 78 * (s % 8), 12 + 56 * (s / 8), 70, 48,
                                       kModeEmpty);
        mode_button_[s]->setText(two_digits(s + 1));
        connect(mode_button_[s], &QPushButton::clicked, this, &MainWindow::zdr_button_mode_clicked);
    }
    label_mode_select = shell_label(mode_window, "label_mode_select", 14, 128, 610, 44, 20);
    Button_mode_load = shell_button(mode_window, "Button_mode_load", 644, 12, 104, 48);
    Button_mode_save = shell_button(mode_window, "Button_mode_save", 644, 68, 104, 48);
    Button_mode_close = shell_button(mode_window, "Button_mode_close", 644, 124, 104, 48);
    mode_window->hide();

    g_numberkeyboard = new NumberKeyboard();
    g_tip = new TIP();

    ageing_at_ = G_timeTicks.load();
    language_changed();
    QMetaObject::connectSlotsByName(this);
}

MainWindow::~MainWindow()
{
    delete g_numberkeyboard;
    g_numberkeyboard = nullptr;
    delete g_tip;
    g_tip = nullptr;
    delete update_window_;
}

// --- the 10 ms timer -----------------------------------------------------

void MainWindow::slot_update_timer_ticks()
{
    if (update_window_ && update_window_->isVisible())
        update_window_->animation_step();
    if (g_tip)
        g_tip->tip_timeout();
    reboot_check();
    if (Utils::getTimeSpace(ageing_at_) >= kAgeingTicks) {
        ageing_at_ = G_timeTicks.load();
        factoryage_sample();
    }
    if (lcd_touch::p_lcd_touch)
        lcd_touch::p_lcd_touch->auto_timeout_back();
}

void MainWindow::reboot_check()
{
    if (g_app_reset_flag.load() == 0)
        return;
    if (Utils::getTimeSpace(G_reboot_tickTicks.load()) < kRebootDelayTicks)
        return;
    g_app_reset_flag = 0;
    writeLogMsg(INFO, "reboot requested");
    Utils::system_mutex("reboot");
}

void MainWindow::factoryage_sample()
{
    QString line = QDateTime::currentDateTime().toString("[yyyy-MM-dd hh:mm:ss]");
    line += QString(" ageing %1, tick %2:").arg(factoryage_log_num + 1).arg(G_timeTicks.load());
    for (int input = 0; input < 6; ++input) {
        const InputSignal s = input_signal(input);
        line += QString(" %1 %2x%3@%4").arg(input_default_name(input)).arg(s.width).arg(s.height).arg(s.refresh);
    }
    factoryage_log.push_back(line.toStdString());
    if (factoryage_log.size() > kAgeingLines)
        factoryage_log.erase(factoryage_log.begin());
    ++factoryage_log_num;
    writeLogMsg(INFO, line.toStdString());
}

// --- the update busy screen ------------------------------------------------

bool MainWindow::update_screen_up() const
{
    return update_window_ && update_window_->isVisible();
}

void MainWindow::update_start()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "update_start", Qt::QueuedConnection);
        return;
    }
    if (!update_window_)
        update_window_ = new FirmwareUpdate();
    update_window_->language_changed();
    update_window_->show();
    update_window_->raise();
    update_window_->activateWindow();
}

void MainWindow::update_over()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "update_over", Qt::QueuedConnection);
        return;
    }
    if (update_window_)
        update_window_->hide();
}

// --- the page -------------------------------------------------------------

void MainWindow::language_changed()
{
    label_title->setText(ui_text("K47 视频处理器", "K47 video processor", "Видеопроцессор K47", "Bộ xử lý video K47"));
    const char* const pictures[4] = {"home_input.png", "home_mode.png", "home_setting.png", "home_state.png"};
    for (int i = 0; i < 4; ++i)
        tile_[i]->setIcon(QIcon(ui_png(pictures[i])));
    Button_mode->setText(ui_text("快捷模式", "Quick modes", "Быстрые\nрежимы", "Chế độ\nnhanh"));
    Button_mode_load->setText(ui_text("调用", "Load", "Загрузить", "Tải"));
    Button_mode_save->setText(ui_text("保存", "Save", "Сохранить", "Lưu"));
    Button_mode_close->setText(ui_text("关闭", "Close", "Закрыть", "Đóng"));
    para_display();
    mode_panel_update();
}

void MainWindow::para_display()
{
    label_ip->setText("IP: " + Utils::settings_copy(g_str_ip));
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store)
        return;
    // Other threads write the block: the page shows a copy.
    unsigned char block[para::kBlockSize];
    store->snapshot_block(block);
    label_led->setText(ui_text("LED屏：", "LED screen: ", "LED-экран: ", "Màn hình LED: ") +
                       QString("%1 x %2").arg(le16(block, para::kLedWidth)).arg(le16(block, para::kLedHeight)));
    label_brightness->setText(ui_text("亮度：", "Brightness: ", "Яркость: ", "Độ sáng: ") +
                              QString::number(le16(block, para::kBrightness)));
    const int mode = block[para::kCurrentMode] > 16 ? 0 : block[para::kCurrentMode];
    label_mode->setText(ui_text("当前模式：", "User mode: ", "Режим: ", "Chế độ: ") +
                        (mode ? two_digits(mode) : ui_text("无", "none", "нет", "không")));
    Button_lock->setIcon(QIcon(le16(block, para::kPanelLock) == 1 ? ":/png/lock.png" : ":/png/unlock.png"));
}

void MainWindow::syncUpdate()
{
    busy = 0;
    if (ZdrRamPara::pInstance()->ZdrLanguageChanged()) {
        language_changed();
        return;
    }
    para_display();
    mode_panel_update();
}

bool MainWindow::panel_locked() const
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store)
        return false;
    return store->block_word(para::kPanelLock) == 1;
}

bool MainWindow::is_busy()
{
    // A refresh that never comes must not keep the page busy for good.
    if (busy && Utils::getTimeSpace(busy_at_) >= kBusyTicks)
        busy = 0;
    return busy != 0;
}

bool MainWindow::may_open()
{
    return !panel_locked() && !is_busy();
}

void MainWindow::set_busy()
{
    busy = 1;
    busy_at_ = G_timeTicks.load();
}

void MainWindow::on_inputchoose_clicked()
{
    if (!may_open())
        return;
    mode_window_close();
    shell_open_page(g_inputchoose, kFocusInputChoose);
}

void MainWindow::on_custommode_clicked()
{
    if (!may_open())
        return;
    mode_window_close();
    shell_open_page(g_custommode, kFocusCustomMode);
}

void MainWindow::on_Button_setting_clicked()
{
    if (!may_open())
        return;
    mode_window_close();
    shell_open_page(g_option, kFocusOption);
}

void MainWindow::on_Button_state_clicked()
{
    if (!may_open())
        return;
    mode_window_close();
    shell_open_page(g_machinestate, kFocusMachineState);
}

void MainWindow::on_Button_lock_clicked()
{
    {
        ParaWriteLock lock;
        setLe16(lock.block(), para::kPanelLock, panel_locked() ? 0 : 1);
        lock.raise(1);
    }
    if (panel_locked())
        mode_window_close();
    para_display();
}

// --- the user-mode panel ----------------------------------------------------

void MainWindow::on_Button_mode_clicked()
{
    if (mode_window_shown())
        mode_window_close();
    else if (!panel_locked())
        mode_window_open();
}

void MainWindow::mode_window_open()
{
    mode_panel_update();
    mode_window->show();
    mode_window->raise();
}

void MainWindow::mode_window_close()
{
    mode_window->hide();
}

bool MainWindow::mode_window_shown() const
{
    return !mode_window->isHidden();
}

void MainWindow::on_Button_mode_close_clicked()
{
    mode_window_close();
}

void MainWindow::zdr_button_mode_clicked()
{
    const int slot = shell_button_index(sender(), ZdrRamPara::kSlotCount);
    if (slot < 0)
        return;
    g_mode_select = static_cast<unsigned char>(slot);
    mode_panel_update();
}

void MainWindow::mode_panel_update()
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store)
        return;
    if (g_mode_select >= ZdrRamPara::kSlotCount)
        g_mode_select = 0;
    for (int s = 0; s < ZdrRamPara::kSlotCount; ++s) {
        const bool saved = store->ZdrUserModeSaved(s);
        mode_button_[s]->setStyleSheet(s == g_mode_select ? kModeChosen : saved ? kModeSaved : kModeEmpty);
    }
    const bool saved = store->ZdrUserModeSaved(g_mode_select);
    label_mode_select->setText(ui_text("模式 ", "Mode ", "Режим ", "Chế độ ") + two_digits(g_mode_select + 1) + " " +
                               (saved ? ui_text("（已保存）", "(saved)", "(сохранён)", "(đã lưu)")
                                      : ui_text("（空）", "(empty)", "(пусто)", "(trống)")));
    Button_mode_load->setEnabled(saved);
}

void MainWindow::on_Button_mode_load_clicked()
{
    if (is_busy() || !ZdrRamPara::pInstance()->ZdrUserModeLoad(g_mode_select))
        return;
    tip_flag = 1;
    set_busy();
}

void MainWindow::on_Button_mode_save_clicked()
{
    const int slot = g_mode_select;
    if (is_busy() || slot >= ZdrRamPara::kSlotCount)
        return;
    {
        // Taken at the tap, with the block as it stands; the chip's pass
        // and its refresh show it.
        ParaWriteLock lock;
        ModeSaves::take_save(lock, slot);
        lock.raise(1);
    }
    ModeSaves::carry_out(*ZdrRamPara::pInstance());
    tip_flag = 1;
    set_busy();
}
