#include "ui/shell/advancedoption.h"

#include "core/default_para.h"
#include "core/global.h"
#include "core/gui_post.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "sendcard/fpga_manage.h"
#include "ui/shell/option.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "videochip/c331_manage.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMutex>
#include <QMutexLocker>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <atomic>
#include <cstring>

namespace {

// The check's result, handed over from the FPGA thread. Guarded by
// g_result_mutex (a leaf lock).
QMutex g_result_mutex;
int g_recovery_status = 0;
QList<QString> g_result_list;
std::atomic<bool> g_page_open{false};

constexpr unsigned short kNoReply = 65535;
constexpr unsigned short kAllSound = 255;
constexpr unsigned char kJobCheck = 5;
constexpr unsigned char kJobRestore = 6;
constexpr unsigned char kRestoreLoaderStep = 16;

QString padded(int n)
{
    return QString("%1").arg(n, 2, 10, QChar('0'));
}

} // namespace

// --- the FPGA thread's side ------------------------------------------------

bool AdvancedOption::page_open()
{
    return g_page_open.load();
}

void AdvancedOption::report_progress(int percent)
{
    if (!g_page_open.load() || !qApp)
        return;
    gui_post([percent] {
        if (g_advancedoption)
            emit g_advancedoption->sig_qround_bar_update(percent);
    });
}

int AdvancedOption::recovery_status()
{
    QMutexLocker lock(&g_result_mutex);
    return g_recovery_status;
}

QList<QString> AdvancedOption::result_list()
{
    QMutexLocker lock(&g_result_mutex);
    return g_result_list;
}

bool AdvancedOption::check_found(const QString& line)
{
    if (!g_page_open.load())
        return false;
    QMutexLocker lock(&g_result_mutex);
    g_result_list.clear();
    g_result_list.append(line);
    g_recovery_status = 1;
    return true;
}

bool AdvancedOption::restore_finished()
{
    if (!g_page_open.load())
        return false;
    QMutexLocker lock(&g_result_mutex);
    if (!g_recovery_status)
        return false;
    g_result_list.clear();
    g_recovery_status = 0;
    return true;
}

QString AdvancedOption::result_line(int screenIndex, int netLedx, int cardReply, int netRcvNum)
{
    return padded(screenIndex + 1) + "/" + padded(netLedx + 1) + "/" + padded(cardReply + 1) + "/" + padded(netRcvNum);
}

// --- the page --------------------------------------------------------------

AdvancedOption::AdvancedOption(QWidget* parent)
    : QDialog(parent)
{
    shell_page_frame(this, "AdvancedOption");
    shell_back_button(this);
    label_title = shell_title(this);

    Button_recovery = shell_button(this, "Button_recovery", 0, 80, 180, 60, kTabPlain);
    Button_led = shell_button(this, "Button_led", 0, 145, 180, 60, kTabPlain);
    Button_factory = shell_button(this, "Button_factory", 0, 210, 180, 60, kTabPlain);

    stackedWidget = new QStackedWidget(this);
    stackedWidget->setObjectName("stackedWidget");
    stackedWidget->setGeometry(190, 72, 600, 400);

    // Recovery.
    QWidget* recovery = new QWidget(stackedWidget);
    recovery->setObjectName("page_recovery");
    Button_check = shell_button(recovery, "Button_check", 10, 10, 180, 60);
    Button_self_recovery = shell_button(recovery, "Button_self_recovery", 210, 10, 180, 60);
    label_status = shell_label(recovery, "label_status", 10, 80, 580, 60, 18);
    label_status->setWordWrap(true);
    label_list_head = shell_label(recovery, "label_list_head", 10, 145, 580, 30, 16, "color:#8A8FA8;");
    listWidget_result = new QListWidget(recovery);
    listWidget_result->setObjectName("listWidget_result");
    listWidget_result->setGeometry(10, 178, 580, 212);
    listWidget_result->setFocusPolicy(Qt::NoFocus);
    listWidget_result->setStyleSheet("QListWidget{background-color:#212435;color:#FFFFFF;border:1px solid #3A3F5C;"
                                     "font-size:20px;}");
    stackedWidget->addWidget(recovery);

    // LED screen.
    QWidget* led = new QWidget(stackedWidget);
    led->setObjectName("page_led");
    label_led_info = shell_label(led, "label_led_info", 10, 10, 580, 80, 18);
    label_led_info->setWordWrap(true);
    Button_led_reset = shell_button(led, "Button_led_reset", 10, 100, 260, 60);
    label_led_state = shell_label(led, "label_led_state", 290, 100, 300, 60, 18);
    label_led_state->setWordWrap(true);
    label_wifi = shell_label(led, "label_wifi", 10, 210, 300, 50, 20);
    Button_wifi = shell_button(led, "Button_wifi", 320, 219, 70, 32, nullptr);
    Button_wifi->setFlat(true);
    Button_wifi->setIconSize(QSize(70, 32));
    stackedWidget->addWidget(led);

    // Factory.
    QWidget* factory = new QWidget(stackedWidget);
    factory->setObjectName("page_factory");
    label_fonts = shell_label(factory, "label_fonts", 10, 5, 580, 30, 16, "color:#8A8FA8;");
    for (int i = 0; i < 4; ++i) {
        label_font_state_[i] = shell_label(factory, "label_font_state", 10, 42 + 40 * i, 32, 32, 12);
        label_font_state_[i]->setScaledContents(true);
        label_font_[i] = shell_label(factory, "label_font", 54, 42 + 40 * i, 536, 32, 18);
    }
    label_ageing = shell_label(factory, "label_ageing", 10, 210, 580, 30, 18);
    label_ageing_last = shell_label(factory, "label_ageing_last", 10, 242, 580, 60, 14, "color:#8A8FA8;");
    label_ageing_last->setWordWrap(true);
    Button_reset_all = shell_button(factory, "Button_reset_all", 10, 320, 300, 60);
    stackedWidget->addWidget(factory);

    // A fresh page starts with an empty result.
    {
        QMutexLocker lock(&g_result_mutex);
        g_recovery_status = 0;
        g_result_list.clear();
    }
    g_page_open = true;

    // Every job ends with 100: then the result is complete.
    connect(this, &AdvancedOption::sig_qround_bar_update, this, &AdvancedOption::zdr_job_progress);

    current_tab_ = Button_recovery;
    tab_select(Button_recovery, 0);
    language_changed();
    QMetaObject::connectSlotsByName(this);
}

AdvancedOption::~AdvancedOption()
{
    g_page_open = false;
}

void AdvancedOption::language_changed()
{
    label_title->setText(ui_text("高级设置", "Advanced settings", "Расширенные настройки", "Cài đặt nâng cao"));
    Button_recovery->setText(ui_text("接收卡修复", "Card recovery", "Приёмные карты", "Khôi phục thẻ"));
    Button_led->setText(ui_text("LED屏", "LED screen", "LED-экран", "Màn hình LED"));
    Button_factory->setText(ui_text("工厂设置", "Factory", "Заводские", "Nhà máy"));

    Button_check->setText(ui_text("检测", "Check", "Проверить", "Kiểm tra"));
    Button_self_recovery->setText(ui_text("修复", "Restore", "Восстановить", "Khôi phục"));
    label_list_head->setText(ui_text("屏/网口/接收卡/网口卡数", "Screen/Port/Card/Cards on the port",
                                     "Экран/Порт/Карта/Карт на порту", "Màn/Cổng/Thẻ/Số thẻ trên cổng"));

    label_led_info->setText(ui_text("重新初始化LED屏：发送卡复位并重新载入参数。",
                                    "Re-initialise the LED screen: the sending card is reset and loads its "
                                    "settings again.",
                                    "Повторная инициализация LED-экрана: передающая карта перезапускается и "
                                    "заново загружает настройки.",
                                    "Khởi tạo lại màn hình LED: card phát được khởi động lại và tải lại cài đặt."));
    Button_led_reset->setText(ui_text("重新初始化", "Re-initialise", "Инициализировать", "Khởi tạo lại"));
    label_wifi->setText(ui_text("WiFi热点", "WiFi hotspot", "Точка доступа WiFi", "Điểm phát WiFi"));

    label_fonts->setText(ui_text("OSD字库", "OSD fonts", "Шрифты OSD", "Phông chữ OSD"));
    label_font_[0]->setText(ui_text("32点阵中文字库", "32-pixel Chinese font", "32-пиксельный китайский шрифт",
                                    "Phông chữ Trung Quốc 32 điểm"));
    label_font_[1]->setText(ui_text("32点阵英文字库", "32-pixel ASCII font", "32-пиксельный шрифт ASCII",
                                    "Phông chữ ASCII 32 điểm"));
    label_font_[2]->setText(ui_text("64点阵中文字库", "64-pixel Chinese font", "64-пиксельный китайский шрифт",
                                    "Phông chữ Trung Quốc 64 điểm"));
    label_font_[3]->setText(ui_text("64点阵英文字库", "64-pixel ASCII font", "64-пиксельный шрифт ASCII",
                                    "Phông chữ ASCII 64 điểm"));

    result_list_show();
    wifi_show();
    factory_show();
    switch (led_request_) {
    case 1:
        label_led_state->setText(ui_text("已请求重新初始化", "Re-initialisation requested",
                                         "Запрошена повторная инициализация", "Đã yêu cầu khởi tạo lại"));
        break;
    case 2:
        label_led_state->setText(ui_text("发送卡未就绪", "The sending card is not ready", "Передающая карта не готова",
                                         "Card phát chưa sẵn sàng"));
        break;
    default:
        label_led_state->clear();
        break;
    }
}

int AdvancedOption::current_tab() const
{
    return stackedWidget->currentIndex();
}

void AdvancedOption::tab_select(QPushButton* tab, int page)
{
    if (current_tab_)
        current_tab_->setStyleSheet(kTabPlain);
    stackedWidget->setCurrentIndex(page);
    tab->setStyleSheet(kTabSelected);
    current_tab_ = tab;
}

void AdvancedOption::on_Button_recovery_clicked()
{
    tab_select(Button_recovery, 0);
    result_list_show();
}

void AdvancedOption::on_Button_led_clicked()
{
    tab_select(Button_led, 1);
    wifi_show();
}

void AdvancedOption::on_Button_factory_clicked()
{
    tab_select(Button_factory, 2);
    factory_show();
}

void AdvancedOption::on_Button_back_clicked()
{
    // A running job keeps the page: its dial and result belong here.
    if (g_qround_bar)
        return;
    g_advancedoption = nullptr;
    g_page_open = false;
    if (g_option)
        g_option->language_changed();
    shell_close_page(this, kFocusOption);
}

void AdvancedOption::syncUpdate(int code)
{
    if (ZdrRamPara::pInstance()->ZdrLanguageChanged()) {
        language_changed();
        return;
    }
    const unsigned short reply = fpga_card_reply();
    const bool namesCard = reply != kNoReply && reply != kAllSound;
    if ((code == 99 || namesCard) && current_tab() == 0)
        result_list_show();
    wifi_show();
}

// --- recovery ----------------------------------------------------------------

QStringList AdvancedOption::shown_results() const
{
    QStringList lines;
    for (int i = 0; i < listWidget_result->count(); ++i)
        lines << listWidget_result->item(i)->text();
    return lines;
}

void AdvancedOption::result_list_show()
{
    const QList<QString> lines = result_list();
    const int status = recovery_status();
    listWidget_result->clear();
    for (const QString& line : lines)
        listWidget_result->addItem(line);
    Button_self_recovery->setEnabled(!lines.isEmpty());
    if (failed_job_ == kJobCheck)
        label_status->setText(ui_text("检测未完成", "The check was not completed", "Проверка не завершена",
                                      "Kiểm tra chưa hoàn tất"));
    else if (failed_job_ == kJobRestore)
        label_status->setText(ui_text("修复未完成", "The restore was not completed", "Восстановление не завершено",
                                      "Khôi phục chưa hoàn tất"));
    else if (status == 1)
        label_status->setText(ui_text("发现故障接收卡，可以修复", "A faulty receiving card was found: it can be restored",
                                      "Найдена неисправная приёмная карта: её можно восстановить",
                                      "Phát hiện thẻ nhận bị lỗi: có thể khôi phục"));
    else if (checked_)
        label_status->setText(ui_text("未发现故障接收卡", "No faulty receiving card was found",
                                      "Неисправных приёмных карт не найдено", "Không phát hiện thẻ nhận bị lỗi"));
    else
        label_status->setText(ui_text("按“检测”检查接收卡", "Press Check to check the receiving cards",
                                      "Нажмите «Проверить», чтобы проверить приёмные карты",
                                      "Nhấn Kiểm tra để kiểm tra các thẻ nhận"));
}

void AdvancedOption::zdr_job_progress(int value)
{
    if (value < 100 || !job_posted_)
        return;
    job_posted_ = false;
    checked_ = true;
    failed_job_ = fpga_card_job_failed() ? posted_job_ : 0;
    result_list_show();
}

void AdvancedOption::set_status(int status)
{
    QMutexLocker lock(&g_result_mutex);
    g_recovery_status = status;
}

void AdvancedOption::on_Button_check_clicked()
{
    if (g_qround_bar || fpga_card_job() != 0)
        return;
    QRoundProgressBar::create_qround_bar(this);
    connect(this, &AdvancedOption::sig_qround_bar_update, g_qround_bar.data(), &QRoundProgressBar::para_sync);
    set_status(0);
    checked_ = false;
    if (!fpga_post_card_job(kJobCheck, 0)) {
        g_qround_bar->para_sync(100);
        return;
    }
    job_posted_ = true;
    posted_job_ = kJobCheck;
}

void AdvancedOption::on_Button_self_recovery_clicked()
{
    if (g_qround_bar || fpga_card_job() != 0 || result_list().isEmpty())
        return;
    QRoundProgressBar::create_qround_bar(this);
    connect(this, &AdvancedOption::sig_qround_bar_update, g_qround_bar.data(), &QRoundProgressBar::para_sync);
    if (!fpga_post_card_job(kJobRestore, kRestoreLoaderStep)) {
        g_qround_bar->para_sync(100);
        return;
    }
    job_posted_ = true;
    posted_job_ = kJobRestore;
}

// --- LED screen ----------------------------------------------------------------

void AdvancedOption::on_Button_led_reset_clicked()
{
    if (fpga_both_running()) {
        // No panel word changes here: the chip is told to re-initialise
        // its panel all the same once the screen is dark, and the FPGAs
        // are then reset, which brings the screen back.
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        g_set_led_para = 1;
        g_set_led_setup = 0;
        g_led_panel_reinit = 1;
        led_request_ = 1;
    } else {
        led_request_ = 2;
    }
    language_changed();
}

void AdvancedOption::wifi_show()
{
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    const bool off = store && store->block_byte(para::kWifiOff) == 1;
    Button_wifi->setIcon(QIcon(off ? ":/png/button_off.png" : ":/png/button_on.png"));
}

void AdvancedOption::on_Button_wifi_clicked()
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    {
        ParaWriteLock lock;
        lock.block()[para::kWifiOff] = store->ram_para[para::kWifiOff] == 1 ? 0 : 1;
        lock.raise(1);
    }
    wifi_show();
}

// --- factory --------------------------------------------------------------------

void AdvancedOption::factory_show()
{
    const unsigned char fonts = c331_manage::font_status.load();
    for (int i = 0; i < 4; ++i)
        label_font_state_[i]->setPixmap(QPixmap((fonts >> i) & 1 ? ":/png/osd_yes.bmp" : ":/png/osd_no.bmp"));
    label_ageing->setText(ui_text("老化记录：", "Ageing samples: ", "Записей старения: ", "Mẫu lão hóa: ") +
                          QString::number(factoryage_log_num));
    label_ageing_last->setText(factoryage_log.empty() ? QString() : QString::fromStdString(factoryage_log.back()));
    if (reset_armed_ && Utils::getTimeSpace(reset_armed_at_) >= kConfirmTicks)
        reset_armed_ = false;
    Button_reset_all->setText(reset_armed_ ? ui_text("再按一次确认", "Press again to confirm",
                                                     "Нажмите ещё раз для подтверждения", "Nhấn lần nữa để xác nhận")
                                           : ui_text("恢复出厂设置", "Factory reset", "Сброс к заводским", "Khôi phục cài đặt gốc"));
}

void AdvancedOption::on_Button_reset_all_clicked()
{
    if (!reset_armed_ || Utils::getTimeSpace(reset_armed_at_) >= kConfirmTicks) {
        reset_armed_ = true;
        reset_armed_at_ = G_timeTicks.load();
        factory_show();
        return;
    }
    reset_armed_ = false;
    // Every setting back to its default, the input EDIDs kept.
    const DefaultParaImage& image = defaultParaImage();
    {
        ParaWriteLock lock;
        for (int at = para::kPersistStart; at < para::kBlockSize; ++at) {
            if (at >= para::kEdid && at < para::kEdidEnd)
                continue;
            lock.block()[at] = image[at - kDefaultImageShift];
        }
        lock.raise(1);
    }
    factory_show();
}
