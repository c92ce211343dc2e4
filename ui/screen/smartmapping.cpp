#include "ui/screen/smartmapping.h"

#include "core/global.h"
#include "core/gui_post.h"
#include "core/zdrrampara.h"
#include "platform/board_root.h"
#include "sendcard/fpga_manage.h"
#include "sendcard/rcv_recovery_file.h"
#include "ui/screen/screen_form.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/tip.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextCodec>
#include <QToolButton>
#include <cstdio>

QPointer<SmartMapping> g_smartmapping;

namespace {

const char* const kWhite = "color: rgb(255, 255, 255);";
const char* const kField = "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);";
const char* const kPageButton = "color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);";
const char* const kMenuOn = "background-color:#4777FF;color:#FFFFFF;border:none";
const char* const kMenuOff = "background-color:#10101C;color:#FFFFFF";
const char* const kGroupOff = "color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
const char* const kGroupOn = "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
const char* const kTileOn = "background-color: #212435;border:1px solid #00D65B;";
const char* const kTileOff = "background-color: #212435;border:1px solid #FFFFFF;";
const char* const kLoadGrey = "background-color: gray;border:2px;color: #FFFFFF";
const char* const kLoadOn = "background-color: rgb(71, 119, 255);color: #FFFFFF;border:none";
const char* const kLoadOff = "background-color:#10101C;color: #FFFFFF";

std::atomic<bool> g_wizard_open{false};

QLabel* step_label(QWidget* page, const char* name, int y)
{
    QLabel* l = form_widget<QLabel>(page, name, 10, y, 380, 40, 13, kWhite);
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

My_lineEdit* field(QWidget* page, const char* name, int y, const char* text)
{
    My_lineEdit* e = form_widget<My_lineEdit>(page, name, 398, y, 200, 40, 14, kField);
    e->setAlignment(Qt::AlignCenter);
    e->setText(text);
    return e;
}

QPushButton* page_button(QWidget* page, const char* name, int x, int y, int w = 180, int h = 50, int points = 15)
{
    QPushButton* b = form_widget<QPushButton>(page, name, x, y, w, h, points, kPageButton);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

// The largest number a field of the wizard's record carries: rows and
// columns are one byte each, sizes and offsets 16 bits.
int field_max(const QString& name)
{
    return name == "lineEdit_line" || name == "lineEdit_column" ? 255 : 65535;
}

// A field's number held to what its part of the record carries (a number
// beyond it is held to the largest, never wrapped); text that is not a
// number stores 0.
int typed(const My_lineEdit* e)
{
    int v = 0;
    return keypad_held(e->text(), 0, field_max(e->objectName()), &v) ? v : 0;
}

bool is_scan_file(const QFileInfo& f)
{
    return f.isFile() && !f.isSymLink() && !f.isHidden() && f.suffix() == "kqfile";
}

// The scan files of a folder, in directory order (a missing folder is empty).
QStringList scan_files_of(const QString& systemDir)
{
    QStringList out;
    QDir dir(platform::boardPath(systemDir));
    if (!dir.exists())
        return out;
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& f : entries)
        if (is_scan_file(f))
            out << QDir(systemDir).filePath(f.fileName());
    return out;
}

} // namespace

void Ui_SmartMapping::setupUi(QDialog* dialog)
{
    form_dialog(dialog, "SmartMapping");
    Button_back = form_widget<QPushButton>(dialog, "Button_back", 10, 10, 50, 50);
    Button_back->setFocusPolicy(Qt::NoFocus);
    Button_back->setFlat(true);
    label_title = form_widget<QLabel>(dialog, "label_title", 150, 10, 500, 42, 18, kWhite);
    label_title->setAlignment(Qt::AlignCenter);
    const char* const menuStyle =
        "QPushButton::checked{background-color: rgb(71, 119, 255);}\nQPushButton {color: rgb(255, 255, 255);}";
    QPushButton** menu[4] = {&Button_shortcut, &Button_loadscan, &Button_paraweld, &Button_mapping};
    const char* const menuNames[4] = {"Button_shortcut", "Button_loadscan", "Button_paraweld", "Button_mapping"};
    for (int i = 0; i < 4; ++i) {
        *menu[i] = form_widget<QPushButton>(dialog, menuNames[i], 20, 78 + 74 * i, 140, 60, 13, menuStyle);
        (*menu[i])->setFocusPolicy(Qt::NoFocus);
    }
    frame = form_widget<QFrame>(dialog, "frame", 170, 68, 610, 400, 0, "border:1px solid rgb(133, 129, 153);");
    frame->setFrameShape(QFrame::StyledPanel);
    stackedWidget = form_widget<QStackedWidget>(dialog, "stackedWidget", 171, 69, 608, 398);
    const char* const pageNames[8] = {"page", "page_2", "page_3", "page_4", "page_5", "page_6", "page_7", "page_8"};
    for (int i = 0; i < 8; ++i) {
        page[i] = new QWidget();
        page[i]->setObjectName(pageNames[i]);
        stackedWidget->addWidget(page[i]);
    }
    // page 0: cabinet size
    label_step1 = step_label(page[0], "label_step1", 10);
    label_boxwidth = step_label(page[0], "label_boxwidth", 65);
    label_boxheight = step_label(page[0], "label_boxheight", 120);
    lineEdit_X = field(page[0], "lineEdit_X", 65, "128");
    lineEdit_Y = field(page[0], "lineEdit_Y", 120, "96");
    Button_next = page_button(page[0], "Button_next", 418, 340);
    // pages 1 and 4: port groups
    label_step2 = step_label(page[1], "label_step2", 0);
    label_step1_5 = step_label(page[4], "label_step1_5", 0);
    for (int i = 0; i < 8; ++i) {
        const QByteArray name = "Button_wlan" + QByteArray::number(i + 1);
        Button_wlan[i] = page_button(page[i < 4 ? 1 : 4], name.constData(), 10 + 150 * (i % 4), 50, 130, 50, 14);
    }
    QFrame* l2 = form_widget<QFrame>(page[1], "line_2", 0, 120, 608, 3);
    l2->setFrameShape(QFrame::HLine);
    QFrame* l1 = form_widget<QFrame>(page[4], "line", 0, 120, 608, 3);
    l1->setFrameShape(QFrame::HLine);
    Button_front_2 = page_button(page[1], "Button_front_2", 223, 340);
    Button_next_2 = page_button(page[1], "Button_next_2", 418, 340);
    Button_next_5 = page_button(page[4], "Button_next_5", 420, 340);
    // page 2: screen parameters
    label_step3 = step_label(page[2], "label_step3", 10);
    label_boxline = step_label(page[2], "label_boxline", 60);
    label_boxlcolumn = step_label(page[2], "label_boxlcolumn", 115);
    label_routeway = step_label(page[2], "label_routeway", 170);
    label_horizon = step_label(page[2], "label_horizon", 225);
    label_vert = step_label(page[2], "label_vert", 280);
    lineEdit_line = field(page[2], "lineEdit_line", 60, "1");
    lineEdit_column = field(page[2], "lineEdit_column", 115, "1");
    Button_route = page_button(page[2], "Button_route", 398, 170, 200, 40);
    lineEdit_horzion = field(page[2], "lineEdit_horzion", 225, "0");
    lineEdit_vert = field(page[2], "lineEdit_vert", 280, "0");
    Button_front_3 = page_button(page[2], "Button_front_3", 223, 340);
    Button_send = page_button(page[2], "Button_send", 418, 340);
    // page 3: routes
    for (int i = 0; i < 16; ++i) {
        const QByteArray name = "Button_route" + QByteArray::number(i + 1);
        Button_routes[i] =
            form_widget<QToolButton>(page[3], name.constData(), 10 + 120 * (i % 5), 20 + 95 * (i / 5), 80, 80, 9, kWhite);
        Button_routes[i]->setFocusPolicy(Qt::NoFocus);
        Button_routes[i]->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        Button_routes[i]->setIcon(QIcon(QString(":/png/line%1.png").arg(i + 1)));
        Button_routes[i]->setIconSize(QSize(48, 48));
    }
    Button_cancel = page_button(page[3], "Button_cancel", 410, 330);
    // page 5: scan files
    label_step2_6 = step_label(page[5], "label_step2_6", 0);
    label_step2_7 = form_widget<QLabel>(page[5], "label_step2_7", 10, 50, 590, 40, 13, kWhite);
    Button_front_6 = page_button(page[5], "Button_front_6", 220, 340);
    Button_load = page_button(page[5], "Button_load", 410, 340);
    // page 6: curing; page 7: mapping switch
    label_step1_6 = step_label(page[6], "label_step1_6", 10);
    Button_confirm = page_button(page[6], "Button_confirm", 410, 340);
    label_step1_7 = step_label(page[7], "label_step1_7", 10);
    Button_mapping_state = form_widget<QPushButton>(page[7], "Button_mapping_state", 490, 10, 70, 32);
    Button_mapping_state->setFocusPolicy(Qt::NoFocus);
    Button_mapping_state->setFlat(true);
    retranslateUi(dialog);
    stackedWidget->setCurrentIndex(5);
}

void Ui_SmartMapping::retranslateUi(QDialog*)
{
    Button_mapping->setText("Mapping");
    label_step2_7->setText(QString::fromUtf8("检测到以下屏参文件:"));
    for (int i = 0; i < 8; ++i)
        Button_wlan[i]->setText(QString::fromUtf8("网口%1~%2").arg(8 * (i % 4) + 1).arg(8 * (i % 4) + 8));
}

SmartMapping::SmartMapping(QWidget* parent)
    : QDialog(parent)
{
    ui = new Ui_SmartMapping;
    ui->setupUi(this);
    shell_back_look(ui->Button_back);
    ui->stackedWidget->setCurrentIndex(0);
    menu_selected = ui->Button_shortcut;
    menu_selected->setStyleSheet(kMenuOn);
    group_selected = ui->Button_wlan[0];
    line_type.port = 0;
    language_changed();
    line_select(1);
    file_list_shown = 0;
    for (My_lineEdit* e : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_line, ui->lineEdit_column,
                           ui->lineEdit_horzion, ui->lineEdit_vert})
        connect(e, &My_lineEdit::send_show, this, &SmartMapping::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &SmartMapping::confirmString);
    QMetaObject::connectSlotsByName(this);
    g_wizard_open = true;
    g_smartmapping_progress = &SmartMapping::report_progress;
}

SmartMapping::~SmartMapping()
{
    g_smartmapping_progress = nullptr;
    g_wizard_open = false;
    delete ui;
}

void SmartMapping::report_progress(int percent)
{
    if (!g_wizard_open.load() || !qApp)
        return;
    gui_post([percent] {
        if (!g_smartmapping)
            return;
        emit g_smartmapping->sig_qround_bar_update(percent);
        if (percent > 99)
            g_smartmapping->job_ended();
    });
}

void SmartMapping::request_close()
{
    gui_post([] {
        if (g_page_focus.load() != kFocusSmartMapping || !g_smartmapping)
            return;
        // Back is refused while a job's dial is up: the wizard closes when
        // the job has ended.
        if (g_qround_bar)
            g_smartmapping->close_pending = true;
        else
            g_smartmapping->on_Button_back_clicked();
    });
}

void SmartMapping::job_ended()
{
    if (fpga_card_job_failed() && g_tip)
        g_tip->tip_create(TIP::kLoadIncomplete);
    if (close_pending) {
        close_pending = false;
        usb_rebuild_pending = false;
        // The dial has just closed on the value 100.
        if (g_page_focus.load() == kFocusSmartMapping && !g_qround_bar) {
            on_Button_back_clicked();
            return;
        }
    }
    if (usb_rebuild_pending) {
        usb_rebuild_pending = false;
        on_Button_next_5_clicked();
    }
}

void SmartMapping::button_select(QPushButton* button)
{
    if (menu_selected)
        menu_selected->setStyleSheet(kMenuOff);
    button->setStyleSheet(kMenuOn);
    menu_selected = button;
}

void SmartMapping::on_Button_shortcut_clicked()
{
    if (g_qround_bar)
        return;
    button_select(ui->Button_shortcut);
    ui->stackedWidget->setCurrentIndex(0);
    file_list_shown = 0;
    language_for_shortcutt_page0();
}

void SmartMapping::on_Button_loadscan_clicked()
{
    if (g_qround_bar || scan_files == 0)
        return;
    button_select(ui->Button_loadscan);
    ui->stackedWidget->setCurrentIndex(4);
    on_Button_wlan5_clicked();
    language_for_loadscan_page4();
    file_list_shown = 0;
}

void SmartMapping::on_Button_paraweld_clicked()
{
    if (g_qround_bar)
        return;
    button_select(ui->Button_paraweld);
    ui->stackedWidget->setCurrentIndex(6);
    language_for_paraweld_page6();
    file_list_shown = 0;
}

namespace {

// Mapping is on when bit 7 of register 0 is set in both FPGAs' images.
bool mapping_on(fpga_manage* f)
{
    f->read_from_register(0, 0);
    f->read_from_register(0, 1);
    FpgaMutexHold hold(f->fpga_reg_mutex);
    return (f->MCU_REG_func[0][0] & 0x80) && (f->MCU_REG_func[1][0] & 0x80);
}

} // namespace

void SmartMapping::on_Button_mapping_clicked()
{
    if (g_qround_bar)
        return;
    button_select(ui->Button_mapping);
    fpga_manage* f = fpga_manage::pInstance();
    const bool on = f && mapping_on(f);
    ui->Button_mapping_state->setIcon(QIcon(on ? ":/png/button_on.png" : ":/png/button_off.png"));
    ui->Button_mapping_state->setIconSize(QSize(70, 32));
    ui->stackedWidget->setCurrentIndex(7);
    file_list_shown = 0;
    language_for_mapping_onoff_page7();
}

void SmartMapping::on_Button_next_clicked()
{
    line_type.width = static_cast<unsigned short>(typed(ui->lineEdit_X));
    line_type.height = static_cast<unsigned short>(typed(ui->lineEdit_Y));
    on_Button_wlan1_clicked();
    language_for_shortcutt_page1();
    ui->stackedWidget->setCurrentIndex(1);
}

void SmartMapping::on_Button_front_2_clicked() { ui->stackedWidget->setCurrentIndex(0); }

void SmartMapping::on_Button_next_2_clicked()
{
    ui->stackedWidget->setCurrentIndex(2);
    language_for_shortcutt_page2();
}

void SmartMapping::on_Button_route_clicked()
{
    ui->stackedWidget->setCurrentIndex(3);
    language_for_shortcutt_page3();
}

void SmartMapping::on_Button_front_3_clicked()
{
    if (g_qround_bar)
        return;
    ui->stackedWidget->setCurrentIndex(1);
}

void SmartMapping::on_Button_cancel_clicked() { ui->stackedWidget->setCurrentIndex(2); }

void SmartMapping::route_chosen(int k)
{
    line_select(static_cast<char>(k));
    ui->stackedWidget->setCurrentIndex(2);
}

// Group button i (0..3 on page 1, 4..7 on page 4).
void SmartMapping::group_select(int i)
{
    if (group_selected)
        group_selected->setStyleSheet(kGroupOff);
    group_selected = ui->Button_wlan[i];
    group_selected->setStyleSheet(kGroupOn);
    port_group = static_cast<unsigned char>(i % 4);
    chosen_tile = 0;
    wlan_init(i < 4 ? 0 : 1);
}

void SmartMapping::wlan_init(unsigned char which)
{
    delete tile_frame;
    tile_frame = new QFrame(ui->page[which == 0 ? 1 : 4]);
    tile_frame->setGeometry(1, 135, 608, 165);
    for (int i = 0; i < 8; ++i) {
        const int cx = 150 * (i % 4), cy = 75 * (i / 4);
        const int port = port_group * 8 + i;
        tiles[i] = form_widget<QFrame>(tile_frame, "tile", cx + 9, cy + 14, 130, 60, 0,
                                       port == line_type.port ? kTileOn : kTileOff);
        QLabel* icon = form_widget<QLabel>(tile_frame, "icon", cx + 59, cy + 17, 32, 28);
        icon->setPixmap(QPixmap(":/png/offline.png").scaled(icon->size()));
        QLabel* name = form_widget<QLabel>(tile_frame, "name", cx + 29, cy + 45, 91, 28, 12,
                                           "background-color: #212435;color: #FFFFFF");
        name->setAlignment(Qt::AlignCenter);
        name->setText((g_language == 0 ? QString::fromUtf8("网口LED%1") : QString("LED%1")).arg(port + 1));
        QPushButton* b = form_widget<QPushButton>(tile_frame, "", cx + 10, cy + 15, 128, 58);
        b->setObjectName(QString::number(i));
        b->setFlat(true);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QPushButton::clicked, this, &SmartMapping::zdr_button_wlan_clicked);
    }
    tile_frame->show();
}

void SmartMapping::zdr_button_wlan_clicked()
{
    const int i = shell_button_index(sender(), 8);
    if (i < 0 || !tile_frame)
        return;
    if (line_type.port / 8 == port_group)
        tiles[line_type.port % 8]->setStyleSheet(kTileOff);
    chosen_tile = static_cast<unsigned char>(i);
    line_type.port = static_cast<unsigned char>(port_group * 8 + i);
    tiles[i]->setStyleSheet(kTileOn);
}

void SmartMapping::line_select(char route)
{
    if (route < 1 || route > 16)
        return;
    ui->Button_route->setIcon(QIcon(QString(":/png/line%1.png").arg(int(route))));
    ui->Button_route->setIconSize(QSize(30, 30));
    ui->Button_route->setText(ui_text("走线%1", "Routing %1", "След%1", "Dấu vết%1").arg(int(route)));
    line_type.route = static_cast<unsigned char>(route);
}

void SmartMapping::show_numberkeyboard_ui(QString text)
{
    My_lineEdit* e = qobject_cast<My_lineEdit*>(sender());
    if (!e || !g_numberkeyboard)
        return;
    g_lineedit = e;
    const QString n = e->objectName();
    QString title;
    if (n == "lineEdit_X")
        title = ui_text("箱体宽度", "width", "width", "width");
    else if (n == "lineEdit_Y")
        title = ui_text("箱体高度", "height", "height", "height");
    else if (n == "lineEdit_line")
        title = ui_text("箱体行数", "rows", "rows", "rows");
    else if (n == "lineEdit_column")
        title = ui_text("箱体列数", "lines", "lines", "lines");
    else if (n == "lineEdit_horzion")
        title = ui_text("水平偏移", "Horizontal", "Horizontal", "Horizontal");
    else
        title = ui_text("垂直偏移", "Vertical", "Vertical", "Vertical");
    g_numberkeyboard->label_show(title, text);
    g_numberkeyboard->exec();
}

void SmartMapping::confirmString(QString text)
{
    if (!g_lineedit || g_lineedit->window() != this)
        return;
    // The field shows what the record will carry; no number leaves it.
    int v = 0;
    if (keypad_held(text, 0, field_max(g_lineedit->objectName()), &v))
        g_lineedit->setText(QString::number(v));
}

// The common start of every job: refused while the dial is up; else the
// dial appears and follows the wizard's progress signal.
bool SmartMapping::start_job()
{
    if (g_qround_bar)
        return false;
    QRoundProgressBar::create_qround_bar(this);
    if (g_qround_bar)
        connect(this, &SmartMapping::sig_qround_bar_update, g_qround_bar.data(), &QRoundProgressBar::para_sync);
    return true;
}

void SmartMapping::on_Button_send_clicked()
{
    if (!start_job())
        return;
    line_type.rows = static_cast<unsigned char>(typed(ui->lineEdit_line));
    line_type.columns = static_cast<unsigned char>(typed(ui->lineEdit_column));
    line_type.x_offset = static_cast<unsigned short>(typed(ui->lineEdit_horzion));
    line_type.y_offset = static_cast<unsigned short>(typed(ui->lineEdit_vert));
    g_send_para.post(1);
}

void SmartMapping::on_Button_confirm_clicked()
{
    if (start_job())
        g_send_para.post(3);
}

void SmartMapping::on_Button_mapping_state_clicked()
{
    if (!start_job())
        return;
    fpga_manage* f = fpga_manage::pInstance();
    const bool on = f && mapping_on(f);
    if (f)
        for (unsigned char fpga = 0; fpga < 2; ++fpga)
            f->write_to_register(0, 0x80, on ? 0x00 : 0x80, fpga);
    ui->Button_mapping_state->setIcon(QIcon(on ? ":/png/button_off.png" : ":/png/button_on.png"));
    ui->Button_mapping_state->setIconSize(QSize(70, 32));
    g_send_para.value = on ? 0 : 9;
    g_send_para.post(4);
}

void SmartMapping::on_Button_back_clicked()
{
    if (g_qround_bar)
        return;
    g_smartmapping_progress = nullptr;
    g_wizard_open = false;
    g_smartmapping = nullptr;
    if (g_option)
        g_option->language_changed();
    shell_close_page(this, kFocusOption);
}

void SmartMapping::syncUpdate(int code)
{
    if (code == 100) {
        if (traceOn())
            std::printf("\n yes ,got the usb in");
        return;
    }
    if (code == 101 || code == 102) {
        if (code == 101 && traceOn())
            std::printf("\n yes ,got the usb out");
        if (code == 101 && file_list_shown != 1)
            return;
        // The file a running load was given stays chosen until it ends.
        if (g_qround_bar)
            usb_rebuild_pending = true;
        else
            on_Button_next_5_clicked();
        return;
    }
    if (ZdrRamPara::pInstance()->ZdrLanguageChanged() == 1)
        language_changed();
}

void SmartMapping::language_changed()
{
    const int page = ui->stackedWidget->currentIndex();
    if (menu_selected == ui->Button_shortcut) {
        if (page == 1) {
            language_for_shortcutt_page1();
            wlan_init(0);
        } else if (page == 2) {
            language_for_shortcutt_page2();
        } else if (page == 3) {
            language_for_shortcutt_page3();
            line_select(static_cast<char>(line_type.route));
        } else {
            language_for_shortcutt_page0();
        }
    } else if (menu_selected == ui->Button_loadscan) {
        if (page == 4) {
            wlan_init(1);
            language_for_loadscan_page4();
        } else if (page == 5) {
            language_for_loadscan_page5();
        }
    } else if (menu_selected == ui->Button_paraweld) {
        language_for_paraweld_page6();
    }
    fpga_manage* f = fpga_manage::pInstance();
    if (f && f->rcv_recovery) {
        if (f->rcv_recovery->get_dir_file("/data/smartmapping") == 0)
            scan_files = f->rcv_recovery->smart_files().size();
    }
    if (scan_files == 0) {
        get_file_list_usbpath();
        scan_files = total_count;
    }
    ui->label_title->setText(ui_text("智能调屏", "Smart debugging screen", "Умная регулировка экрана",
                                     "Điều chỉnh màn hình thông minh"));
    ui->Button_shortcut->setText(
        ui_text("快捷点屏", "Debugging\nscreen", "Быстрое\nкасание экрана", "Chạm vào màn\nhình nhanh"));
    ui->Button_loadscan->setText(ui_text("加载扫描", "Load scan", "Загрузить\nсканирование", "Cài đặt quét"));
    ui->Button_paraweld->setText(ui_text("参数固化", "Curing\nparameter", "Фиксация\nпараметров", "Lưu thông số"));
    if (scan_files == 0)
        ui->Button_loadscan->setStyleSheet(kLoadGrey);
    else
        ui->Button_loadscan->setStyleSheet(menu_selected == ui->Button_loadscan ? kLoadOn : kLoadOff);
    language_for_mapping_onoff_page7();
}

void SmartMapping::language_for_shortcutt_page0()
{
    ui->label_step1->setText(ui_text("步骤1箱体设置", "Step 1 Cabinet setup", "Шаг 1. Настройка кабинета",
                                     "Bước 1: Thiết lập cabin"));
    ui->label_boxwidth->setText(ui_text("箱体宽度", "Cabinet width", "Ширина кабинета", "Chiều rộng cabin"));
    ui->label_boxheight->setText(ui_text("箱体高度", "Cabinet height", "Высота кабинета", "Chiều cao cabin"));
    ui->Button_next->setText(ui_text("下一步", "Next", "Следующий шаг", "Bước tiếp theo"));
}

namespace {
void group_texts(QPushButton* const* buttons)
{
    for (int i = 0; i < 4; ++i)
        buttons[i]->setText(ui_text("网口%1~%2", "LED%1~%2", "LED%1~%2", "LED%1~%2").arg(8 * i + 1).arg(8 * i + 8));
}
QString previous_text() { return ui_text("上一步", "Previous", "Предыдущий\nшаг", "Thao tác\nphía trước"); }
QString next_text() { return ui_text("下一步", "Next", "Следующий шаг", "Bước tiếp theo"); }
} // namespace

void SmartMapping::language_for_shortcutt_page1()
{
    ui->label_step2->setText(
        ui_text("步骤2选择网口", "Step 2 Select port", "Шаг 2. Выберите сетевой порт", "Bước 2 :Chọn cổng mạng"));
    group_texts(ui->Button_wlan);
    ui->Button_front_2->setText(previous_text());
    ui->Button_next_2->setText(next_text());
}

void SmartMapping::language_for_shortcutt_page2()
{
    ui->label_step3->setText(ui_text("步骤3屏参设置", "Step 3 Screen parameter setting",
                                     "Шаг 3.Настройка параметров экрана", "Bước 3:Cài đặt thông số màn hình"));
    ui->label_boxline->setText(
        ui_text("箱体行数", "Number of Cabinet in rows", "Кол-во рядов", "Số lượng hàng tủ"));
    ui->label_boxlcolumn->setText(
        ui_text("箱体列数", "Number of Cabinet in lines", "Кол-во столбцов", "Số lượng cột tủ"));
    ui->label_routeway->setText(ui_text("屏体走线方式", "Screen alignment mode", "Тип подключения кабинетов",
                                        "Chế độ căn chỉnh màn hình"));
    ui->label_horizon->setText(
        ui_text("水平偏移", "Horizontal offset", "Горизонтальное смещение", "Bù đắp theo chiều ngang"));
    ui->label_vert->setText(ui_text("垂直偏移", "Vertical offset", "Вертикальное смещение", "Bù đắp theo chiều dọc"));
    ui->Button_send->setText(ui_text("发送", "Send", "Отправить", "Gửi"));
    ui->Button_front_3->setText(previous_text());
    line_select(static_cast<char>(line_type.route));
}

void SmartMapping::language_for_shortcutt_page3()
{
    for (int i = 0; i < 16; ++i)
        ui->Button_routes[i]->setText(ui_text("走线%1", "Routing %1", "След%1", "Dấu vết%1").arg(i + 1));
    ui->Button_cancel->setText(ui_text("取消", "Cancle", "Отмена", "Hủy bỏ"));
}

void SmartMapping::language_for_loadscan_page4()
{
    ui->label_step1_5->setText(ui_text("步骤1选择网口", "Step 1 Select network port", "Шаг 1. Выбор LAN-порта",
                                       "Bước 1 Chọn cổng mạng"));
    group_texts(ui->Button_wlan + 4);
    ui->Button_next_5->setText(next_text());
}

void SmartMapping::language_for_loadscan_page5()
{
    ui->label_step2_6->setText(ui_text("步骤2加载扫描参数", "Step 2 Upload scan parameters",
                                       "Шаг 2.Настройка сканирования", "Bước 2Tải thông số quét"));
    ui->label_step2_7->setText(ui_text("检测到以下屏参文件", "Detected the following screen parameter files",
                                       "Были обнаружены следующие файлы параметров экрана",
                                       "Các tập tin tham số màn hình sau đã được phát hiện"));
    ui->Button_front_6->setText(previous_text());
    ui->Button_load->setText(ui_text("加载", "Load", "Загрузка", "Tải về"));
}

void SmartMapping::language_for_paraweld_page6()
{
    ui->label_step1_6->setText(
        ui_text("参数固化操作", "Parameter curing operation", "Операция отверждения параметров", "Lưu thông số"));
    ui->Button_confirm->setText(ui_text("确定", "OK", "OK", "Đồng ý"));
}

void SmartMapping::language_for_mapping_onoff_page7()
{
    ui->label_step1_7->setText(
        ui_text("Mapping开关", "Mapping switch", "Переключатель сопоставления", "Bật mapping"));
}

// --- scan files ---------------------------------------------------------------

void SmartMapping::get_file_list_smartpath()
{
    const QStringList found = scan_files_of("/data/smartmapping");
    for (const QString& p : found) {
        file_list << p;
        if (traceOn())
            std::printf("\n %s", p.toUtf8().constData());
    }
    local_count = static_cast<unsigned char>(qMin(found.size(), 100));
}

void SmartMapping::get_file_list_usbpath()
{
    const QStringList found = scan_files_of("/mnt/usb1/");
    int at = qMin<int>(local_count, file_list.size());
    for (const QString& p : found)
        file_list.insert(at++, p);
    total_count = static_cast<unsigned char>(qMin(local_count + found.size(), 100));
}

void SmartMapping::on_Button_next_5_clicked()
{
    shown_count = 0;
    file_list.clear();
    get_file_list_smartpath();
    get_file_list_usbpath();
    shown_count = total_count;
    file_page = 0;
    last_file_page = static_cast<unsigned char>(total_count / 5 - (total_count % 5 == 0 ? 1 : 0));
    file_list_shown = 1;
    scan_file_list();
    language_for_loadscan_page5();
}

QString SmartMapping::file_style(int index, bool chosen) const
{
    const bool usb = index >= local_count;
    if (chosen)
        return usb ? "background-color:#4777FF;color: #00FF00;" : "background-color:#4777FF;color: #FFFFFF";
    return usb ? "background-color: rgb(33, 36, 53);color: #00FF00" : "background-color: rgb(33, 36, 53);color: #FFFFFF";
}

void SmartMapping::scan_file_list()
{
    // An arrow of the old frame may be delivering the click that led here.
    dispose_frame(file_frame);
    previous_button = next_button = nullptr;
    for (QLabel*& l : file_labels)
        l = nullptr;
    chosen_slot = 0;
    g_kqfile_name.clear();
    file_frame = form_widget<QFrame>(ui->page[5], "frame_file", 10, 90, 580, 240, 15,
                                     "#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}");
    if (shown_count == 0) {
        QLabel* l = form_widget<QLabel>(file_frame, "", 5, 5, 570, 40, 0, "background-color: rgb(33, 36, 53);color: #FFFFFF");
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        l->setText(ui_text("无加载文件!", "No loaded file!", "Нет файлов для загрузки!", "Không có tập tin để tải!"));
    } else {
        const int first = 5 * file_page;
        const int end = qMin<int>(first + 5, qMin<int>(shown_count, file_list.size()));
        for (int i = first; i < end; ++i) {
            const int r = i - first;
            const QStringList parts = file_list[i].split('/');
            if (parts.size() < 4)
                continue;
            QString name = parts[3];
            name.remove('\n');
            name = QTextCodec::codecForLocale()->toUnicode(name.toUtf8());
            QLabel* l = form_widget<QLabel>(file_frame, "", 5, 5 + 45 * r, 520, 40);
            l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            l->setText(name);
            file_labels[r] = l;
            row_paths[r] = file_list[i];
            QPushButton* b = form_widget<QPushButton>(file_frame, "", 5, 5 + 45 * r, 520, 40);
            b->setObjectName(QString::number(r));
            b->setFlat(true);
            b->setFocusPolicy(Qt::NoFocus);
            connect(b, &QPushButton::clicked, this, &SmartMapping::zdr_button_file_clicked);
            l->setStyleSheet(file_style(i, i == chosen_slot));
            if (i == chosen_slot)
                g_kqfile_name = file_list[i];
        }
        if (file_page >= 1) {
            previous_button = form_widget<QPushButton>(file_frame, "", 530, 5, 50, 50, 0, "background-color: rgb(33, 36, 53);");
            previous_button->setIcon(QIcon(":/png/previous.png"));
            previous_button->setIconSize(QSize(50, 50));
            connect(previous_button, &QPushButton::clicked, this, &SmartMapping::zdr_Button_previous_clicked);
        }
        if (file_page < last_file_page) {
            next_button = form_widget<QPushButton>(file_frame, "", 530, 185, 50, 50, 0, "background-color: rgb(33, 36, 53);");
            next_button->setIcon(QIcon(":/png/next.png"));
            next_button->setIconSize(QSize(50, 50));
            connect(next_button, &QPushButton::clicked, this, &SmartMapping::zdr_Button_next_clicked);
        }
    }
    file_frame->show();
    ui->stackedWidget->setCurrentIndex(5);
}

void SmartMapping::zdr_button_file_clicked()
{
    if (g_qround_bar)
        return;
    const int r = shell_button_index(sender(), 5);
    if (r < 0 || !file_labels[r])
        return;
    if (file_labels[chosen_slot])
        file_labels[chosen_slot]->setStyleSheet(file_style(5 * file_page + chosen_slot, false));
    chosen_slot = static_cast<unsigned char>(r);
    g_kqfile_name = row_paths[r];
    if (traceOn())
        std::printf("\n %s", g_kqfile_name.toUtf8().constData());
    file_labels[r]->setStyleSheet(file_style(5 * file_page + r, true));
}

void SmartMapping::zdr_Button_previous_clicked()
{
    if (g_qround_bar)
        return;
    if (file_page > 0)
        --file_page;
    scan_file_list();
    if (traceOn())
        std::printf("\n zdr_Button_previous_clicked  current_page = %d\n", file_page);
}

void SmartMapping::zdr_Button_next_clicked()
{
    if (g_qround_bar)
        return;
    if (++file_page > last_file_page)
        file_page = 0;
    scan_file_list();
    if (traceOn())
        std::printf("\n zdr_Button_next_clicked  current_page = %d\n", file_page);
}

void SmartMapping::on_Button_front_6_clicked()
{
    if (g_qround_bar)
        return;
    ui->stackedWidget->setCurrentIndex(4);
}

void SmartMapping::on_Button_load_clicked()
{
    if (g_kqfile_name.isEmpty() || g_qround_bar || scan_files == 0)
        return;
    if (start_job() && !fpga_post_load_job(g_kqfile_name) && g_qround_bar)
        g_qround_bar->para_sync(100);
}
