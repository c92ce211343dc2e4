#include "ui/screen/linkoption.h"

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "link/link_global.h"
#include "platform/board_root.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "sendcard/fpga_manage.h"
#include "ui/screen/screen_form.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <thread>

QPointer<LinkOption> g_linkoption;
std::function<void()> LinkOption::apply_looked_hook;

namespace {

const char* const kWhite = "color: rgb(255, 255, 255);";
const char* const kBoxed = "color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);";
const char* const kOctetFirst = "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\n"
                                "border-top:1px solid rgb(255, 255, 255);\n"
                                "border-bottom:1px solid rgb(255, 255, 255);\n"
                                "border-left:1px solid rgb(255, 255, 255);";
const char* const kOctetMiddle = "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\n"
                                 "border-top:1px solid rgb(255, 255, 255);\n"
                                 "border-bottom:1px solid rgb(255, 255, 255);";
const char* const kOctetLast = "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\n"
                               "border-top:1px solid rgb(255, 255, 255);\n"
                               "border-bottom:1px solid rgb(255, 255, 255);\n"
                               "border-right:1px solid rgb(255, 255, 255);";
const char* const kRowPlain = "background-color: rgb(33, 36, 53);color: #FFFFFF";
const char* const kRowMarked = "background-color:#4777FF;color: #FFFFFF;";

const char* const kRowPrefix[3] = {"lineEditIp", "lineEditMask", "lineEditGate"};
const char* const kDotPrefix[3] = {"labelIpDot", "labelMaskDot", "labelGateDot"};

void icon32(QPushButton* button, const char* png)
{
    button->setIcon(QIcon(png));
    button->setIconSize(QSize(32, 32));
}

// Finds the row (0 address, 1 mask, 2 gateway) and octet of a field name.
bool octet_of(const QString& name, int& row, int& index)
{
    for (int r = 0; r < 3; ++r) {
        const QString prefix = QString::fromLatin1(kRowPrefix[r]);
        if (name.size() == prefix.size() + 1 && name.startsWith(prefix)) {
            const int i = name.at(prefix.size()).digitValue() - 1;
            if (i >= 0 && i < 4) {
                row = r;
                index = i;
                return true;
            }
        }
    }
    return false;
}

} // namespace

void Ui_LinkOption::setupUi(QDialog* dialog)
{
    form_dialog(dialog, "LinkOption");
    QFont f = dialog->font();
    f.setPointSize(15);
    dialog->setFont(f);

    label_title = form_widget<QLabel>(dialog, "label_title", 135, 15, 524, 42, 18, kWhite);
    label_title->setAlignment(Qt::AlignCenter);
    Button_back = form_widget<QPushButton>(dialog, "Button_back", 11, 11, 50, 50);
    Button_back->setFocusPolicy(Qt::NoFocus);
    Button_back->setFlat(true);
    Button_com = form_widget<QPushButton>(dialog, "Button_com", 20, 78, 155, 60, 14, kWhite);
    Button_com->setFocusPolicy(Qt::NoFocus);
    Button_wlan = form_widget<QPushButton>(dialog, "Button_wlan", 20, 140, 155, 60, 14, kWhite);
    Button_wlan->setFocusPolicy(Qt::NoFocus);

    stackedWidget = form_widget<QStackedWidget>(dialog, "stackedWidget", 190, 68, 610, 400, 12,
                                                "#stackedWidget{border:1px solid rgb(133, 129, 153);}");

    // Serial port.
    page = new QWidget();
    page->setObjectName("page");
    label_baud = form_widget<QLabel>(page, "label_baud", 10, 101, 300, 28, 14, kWhite);
    label_bit = form_widget<QLabel>(page, "label_bit", 10, 171, 300, 28, 14, kWhite);
    label_stop = form_widget<QLabel>(page, "label_stop", 10, 241, 300, 28, 14, kWhite);
    label_num_baud = form_widget<QLabel>(page, "label_num_baud", 360, 90, 230, 50, 15, kBoxed);
    label_num_bit = form_widget<QLabel>(page, "label_num_bit", 360, 160, 230, 50, 15, kBoxed);
    label_num_stop = form_widget<QLabel>(page, "label_num_stop", 360, 230, 230, 50, 15, kBoxed);
    stackedWidget->addWidget(page);

    // Network.
    page_2 = new QWidget();
    page_2->setObjectName("page_2");
    label_network = form_widget<QLabel>(page_2, "label_network", 15, 20, 170, 30, 14, kWhite);
    comboBox2 = form_widget<QComboBox>(page_2, "comboBox2", 190, 20, 400, 30, 0,
                                       "QComboBox { color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255); }\n"
                                       "QComboBox QAbstractItemView::item { color: rgb(255, 255, 255); "
                                       "min-height: 40px; min-width: 60px; }");
    Button_direct = form_widget<QPushButton>(page_2, "Button_direct", 71, 70, 50, 50);
    Button_direct->setFocusPolicy(Qt::NoFocus);
    Button_direct->setFlat(true);
    label_direct = form_widget<QLabel>(page_2, "label_direct", 122, 80, 195, 30, 14, kWhite);
    Button_IP = form_widget<QPushButton>(page_2, "Button_IP", 323, 70, 50, 50);
    Button_IP->setFlat(true);
    label_IP = form_widget<QLabel>(page_2, "label_IP", 374, 80, 230, 30, 14, kWhite);
    static const char* const kRowLabels[3] = {"label_IpSet", "label_netmask", "label_gateway"};
    static const int kRowLabelX[3] = {19, 17, 17};
    static const int kRowLabelY[3] = {140, 210, 272};
    static const int kRowY[3] = {130, 195, 260};
    QLabel** rowLabels[3] = {&label_IpSet, &label_netmask, &label_gateway};
    for (int r = 0; r < 3; ++r) {
        *rowLabels[r] = form_widget<QLabel>(page_2, kRowLabels[r], kRowLabelX[r], kRowLabelY[r], 130, 30, 13, kWhite);
        (*rowLabels[r])->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        for (int i = 0; i < 4; ++i) {
            const QByteArray name = kRowPrefix[r] + QByteArray::number(i + 1);
            const char* style = i == 0 ? kOctetFirst : i == 3 ? kOctetLast : kOctetMiddle;
            octet[r][i] = form_widget<My_lineEdit>(page_2, name.constData(), 150 + 88 * i, kRowY[r], 70, 50, 14, style);
            octet[r][i]->setAlignment(Qt::AlignCenter);
        }
        for (int i = 0; i < 3; ++i) {
            const QByteArray name = kDotPrefix[r] + QByteArray::number(i + 1);
            const int w = (r == 2 && i == 0) ? 21 : 18;
            dot[r][i] = form_widget<QLabel>(page_2, name.constData(), 220 + 88 * i, kRowY[r], w, 50,
                                            (r == 1 && i == 2) ? 11 : 0, kOctetMiddle);
            dot[r][i]->setAlignment(Qt::AlignCenter);
            dot[r][i]->setText(".");
        }
    }
    dot[1][2]->setFrameShadow(QFrame::Plain);
    Button_net_cancel = form_widget<QPushButton>(page_2, "Button_net_cancel", 210, 330, 180, 60, 15, kBoxed);
    Button_net_apply = form_widget<QPushButton>(page_2, "Button_net_apply", 410, 330, 180, 60, 15, kBoxed);
    stackedWidget->addWidget(page_2);

    // USB update.
    page_3 = new QWidget();
    page_3->setObjectName("page_3");
    // Three lines: the end of the upgrade, what the flashes hold after a
    // failure, the start and end times.
    label_log = form_widget<QLabel>(page_3, "label_log", 10, 4, 550, 82, 14, kWhite);
    label_log->setAlignment(Qt::AlignCenter);
    label_skipped = form_widget<QLabel>(page_3, "label_skipped", 10, 333, 390, 64, 11, "color: rgb(224, 64, 64);");
    label_skipped->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label_skipped->setTextFormat(Qt::PlainText);
    Button_ok = form_widget<QPushButton>(page_3, "Button_ok", 410, 340, 180, 50, 15, kBoxed);
    Button_ok->setFocusPolicy(Qt::NoFocus);
    stackedWidget->addWidget(page_3);

    Button_usb = form_widget<QPushButton>(dialog, "Button_usb", 20, 202, 155, 60, 14, kWhite);
    Button_usb->setFocusPolicy(Qt::NoFocus);

    retranslateUi(dialog);
    stackedWidget->setCurrentIndex(2);
}

void Ui_LinkOption::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle("Dialog");
    label_title->setText(QString::fromUtf8("通讯设置"));
    Button_com->setText(QString::fromUtf8("串口连接"));
    Button_wlan->setText(QString::fromUtf8("网口连接"));
    Button_usb->setText("USB grade");
    label_baud->setText(QString::fromUtf8("波特率"));
    label_bit->setText(QString::fromUtf8("数据位"));
    label_stop->setText(QString::fromUtf8("停止位"));
    label_num_baud->setText("115200");
    label_num_bit->setText("8");
    label_num_stop->setText("1");
    label_network->setText(QString::fromUtf8("网卡"));
    label_direct->setText(QString::fromUtf8("单机直连"));
    label_IP->setText(QString::fromUtf8("固定IP模式"));
    label_IpSet->setText(QString::fromUtf8("IP地址"));
    label_netmask->setText(QString::fromUtf8("子网掩码"));
    label_gateway->setText(QString::fromUtf8("默认网关"));
    static const char* const kDefaults[3][4] = {
        {"192", "168", "1", "199"}, {"255", "255", "255", "0"}, {"192", "168", "1", "1"}};
    for (int r = 0; r < 3; ++r)
        for (int i = 0; i < 4; ++i)
            octet[r][i]->setText(kDefaults[r][i]);
    Button_net_cancel->setText(QString::fromUtf8("取消"));
    Button_net_apply->setText(QString::fromUtf8("应用"));
    Button_ok->setText(QString::fromUtf8("加载"));
}

LinkOption::LinkOption(QWidget* parent)
    : QDialog(parent)
{
    ui = new Ui_LinkOption;
    ui->setupUi(this);
    ui->stackedWidget->setCurrentIndex(0);
    shell_back_look(ui->Button_back);
    current_tab = ui->Button_com;
    ui->Button_wlan->setStyleSheet(kTabPlain);
    ui->Button_usb->setStyleSheet(kTabPlain);
    current_tab->setStyleSheet(kTabSelected);
    icon32(ui->Button_direct, ":/png/checked.png");
    icon32(ui->Button_IP, ":/png/unchecked.png");
    language_changed();

    fill_addresses();
    for (int r = 0; r < 3; ++r)
        for (int i = 0; i < 4; ++i)
            connect(ui->octet[r][i], &My_lineEdit::send_show, this, &LinkOption::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &LinkOption::confirmString);
    QMetaObject::connectSlotsByName(this);
}

LinkOption::~LinkOption()
{
    delete ui;
}

void LinkOption::language_changed()
{
    ui->label_title->setText(ui_text("通讯设置", "Communication", "Подключение", "Cài đặt giao tiếp"));
    ui->Button_com->setText(ui_text("串口连接", "Serial port", "COM-порт", "Cài đặt cổng\n nối tiếp"));
    ui->Button_wlan->setText(ui_text("网口设置", "Net connect", "Сетевое по\nдключение", "Cài đặt\ncổng mạng"));
    ui->Button_usb->setText(ui_text("USB升级", "USB UPDATE", "Обновление\nчерез USB", "Sử dụng ổ USB\nđể cập nhập"));
    ui->label_baud->setText(ui_text("波特率", "Baud rate", "Скорость передачи", "Tốc độ truyền"));
    ui->label_bit->setText(ui_text("数据位", "Data bits", "Биты данных", "Bit dữ liệ"));
    ui->label_stop->setText(ui_text("停止位", "Stop bit", "Бит остановки", "Dừng bit"));
    ui->label_network->setText(ui_text("网卡", "Network", "Сетевая карта", "Thẻ kết nối"));
    ui->label_direct->setText(ui_text("单机直连", "Direct link", "Прямое подключение", "Kết nối trực tiếp độc lập"));
    ui->label_IP->setText(ui_text("固定IP", "Fixed IP mode", "Фиксированный IP-адрес", "Dự phòng nóng"));
    ui->label_IpSet->setText(ui_text("IP地址", "IP", "IP-адрес", "Địa chỉ IP"));
    ui->label_netmask->setText(ui_text("子网掩码", "Mask", "Маска", "Cài đặt mặt lạ con"));
    ui->label_gateway->setText(ui_text("默认网关", "Gate", "Шлюз", "Cổng vào"));
    ui->Button_net_cancel->setText(ui_text("取消", "Cancle", "Отмена", "Hủy bỏ"));
    ui->Button_net_apply->setText(ui_text("应用", "Apply", "OK", "Đồng ý"));
    ui->Button_ok->setText(ui_text("确定", "OK", "OK", "Đồng ý"));
}

void LinkOption::select_tab(QPushButton* button, int index)
{
    ui->stackedWidget->setCurrentIndex(index);
    current_tab->setStyleSheet(kTabPlain);
    current_tab = button;
    current_tab->setStyleSheet(kTabSelected);
}

void LinkOption::on_Button_com_clicked()
{
    select_tab(ui->Button_com, 0);
}

void LinkOption::on_Button_wlan_clicked()
{
    select_tab(ui->Button_wlan, 1);
}

void LinkOption::on_Button_usb_clicked()
{
    select_tab(ui->Button_usb, 2);
    get_file_list_smartpath();
    rcv_self_recovery_file_list();
    // A flash left without a whole bitstream (a write cut short, found at
    // start) is said until an upgrade has ended on this page.
    const fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (ui->label_log->text().isEmpty() && fpga &&
        (fpga->upgrade_flash[0].load() == fpga_manage::kFlashBlank ||
         fpga->upgrade_flash[1].load() == fpga_manage::kFlashBlank))
        ui->label_log->setText("<font style = 'font-size:14px' color = #E04040 >" + upgrade_flash_text(fpga) +
                               "</font>");
}

void LinkOption::on_Button_direct_clicked()
{
    icon32(ui->Button_direct, ":/png/checked.png");
    icon32(ui->Button_IP, ":/png/unchecked.png");
}

void LinkOption::on_Button_IP_clicked()
{
    icon32(ui->Button_direct, ":/png/unchecked.png");
    icon32(ui->Button_IP, ":/png/checked.png");
}

void LinkOption::show_numberkeyboard_ui(QString)
{
    My_lineEdit* field = qobject_cast<My_lineEdit*>(sender());
    if (!field || !g_numberkeyboard)
        return;
    g_lineedit = field;
    lineedit_name = field->objectName();
    int row = 0;
    int index = 0;
    octet_of(lineedit_name, row, index);
    static const char* const kZh[3] = {"IP", "掩码", "网关"};
    static const char* const kOther[3] = {"IP", "mask", "gateway"};
    const QString title = QString::fromUtf8(g_language == 0 ? kZh[row] : kOther[row]);
    g_numberkeyboard->label_show(title, field->text());
    g_numberkeyboard->exec();
}

void LinkOption::confirmString(QString text)
{
    int row = 0;
    int index = 0;
    // Only results for this page's own fields.
    if (!g_lineedit || g_lineedit->window() != this || !octet_of(lineedit_name, row, index))
        return;
    // An empty entry would leave an octet out of the address Apply writes;
    // a number beyond 255 is no octet.
    int value = 0;
    if (!keypad_number(text, 0, 255, &value))
        return;
    // The number as the network tools read it: "010" would be octal 8.
    const QString octet = QString::number(value);
    g_lineedit->setText(octet);
    if (row == 0 && index < 3)
        ui->octet[2][index]->setText(octet);
}

QString LinkOption::address_text(int row) const
{
    QStringList parts;
    for (int i = 0; i < 4; ++i)
        parts << ui->octet[row][i]->text();
    return parts.join('.');
}

namespace {

const ConfigItem::ConfigName kAddressItems[3] = {ConfigItem::IPAddress, ConfigItem::SubNetMask, ConfigItem::GateWay};

} // namespace

void LinkOption::fill_addresses()
{
    ConfigEngine* config = ConfigEngine::pInstance();
    for (int r = 0; r < 3; ++r) {
        shown_addresses[r] = config->read_config_variant(kAddressItems[r]).toString();
        const QStringList parts = shown_addresses[r].split('.');
        for (int i = 0; i < 4; ++i)
            ui->octet[r][i]->setText(i < parts.size() ? parts.at(i) : QString());
    }
}

bool LinkOption::addresses_changed() const
{
    ConfigEngine* config = ConfigEngine::pInstance();
    for (int r = 0; r < 3; ++r)
        if (config->read_config_variant(kAddressItems[r]).toString() != shown_addresses[r])
            return true;
    return false;
}

void LinkOption::on_Button_net_apply_clicked()
{
    ui->Button_net_cancel->setStyleSheet(kTabPlain);
    ui->Button_net_apply->setStyleSheet(kTabSelected);
    // The PC moved the device while the page was open: the fields were
    // typed over an address the device no longer has. Show the new one and
    // store nothing, so that the PC's setting is not undone unseen.
    const auto changedMeanwhile = [this] {
        writeLogMsg(INFO, "LinkOption apply: the address changed meanwhile, fields refreshed, nothing stored");
        fill_addresses();
    };
    if (addresses_changed()) {
        changedMeanwhile();
        return;
    }
    const QString ip = address_text(0);
    const QString mask = address_text(1);
    const QString gateway = address_text(2);
    if (ip == shown_addresses[0] && mask == shown_addresses[1] && gateway == shown_addresses[2])
        return;
    writeLogMsg(DEBUG, "LinkOption apply: ip " + ip.toStdString() + " mask " + mask.toStdString() + " gateway "
                           + gateway.toStdString());
    // A field left empty (an address read with fewer than four parts) would
    // store an address the device could never be reached at again.
    if (!Utils::isDottedQuad(ip) || !Utils::isDottedQuad(mask) || !Utils::isDottedQuad(gateway)) {
        writeLogMsg(ERROR, "LinkOption apply: incomplete address, settings kept");
        return;
    }
    if (apply_looked_hook)
        apply_looked_hook();
    // Looked at again in the hold that stores: a PC's set-network that
    // landed after the look above is kept.
    ConfigEngine* config = ConfigEngine::pInstance();
    if (!config->write_config_variants_if(
            {{ConfigItem::IPAddress, shown_addresses[0]},
             {ConfigItem::SubNetMask, shown_addresses[1]},
             {ConfigItem::GateWay, shown_addresses[2]}},
            {{ConfigItem::IPAddress, ip}, {ConfigItem::SubNetMask, mask}, {ConfigItem::GateWay, gateway}})) {
        changedMeanwhile();
        return;
    }
    // What was stored is what the fields show: a PC's setting that lands
    // from here on differs from it and is shown by the next refresh.
    shown_addresses[0] = ip;
    shown_addresses[1] = mask;
    shown_addresses[2] = gateway;
    // The settings reach the disk before the interface changes.
    platform::shell().run("sync");
    std::this_thread::sleep_for(std::chrono::microseconds(100));
    Utils::initIPAddress();
    ZdrRamPara::pInstance()->test_signal(1);
}

void LinkOption::on_Button_net_cancel_clicked()
{
    ui->Button_net_apply->setStyleSheet(kTabPlain);
    ui->Button_net_cancel->setStyleSheet(kTabSelected);
}

static_assert(sizeof(LinkOption::row_marks) >= fpga_manage::kUsbMaxPackages, "a mark per package listed");

void LinkOption::get_file_list_smartpath()
{
    std::fill(std::begin(row_marks), std::end(row_marks), 0);
    list_page = 0;
    zdr_count = 0;
    // The very list the upgrade installs.
    update_files = fpga_manage::usb_upgrade_packages();
    for (int i = 0; i < update_files.size(); ++i) {
        const QString& file = update_files.at(i);
        if (QFileInfo(file).suffix() == "ZDR") {
            if (zdr_count == 0)
                row_marks[i] = 1;
            ++zdr_count;
        } else {
            row_marks[i] = 1;
        }
        writeLogMsg(DEBUG, "USB update file: " + file.toStdString());
    }
    listed_count = static_cast<unsigned int>(update_files.size());
}

void LinkOption::rcv_self_recovery_file_list()
{
    delete frame_file;
    previous_button = nullptr;
    next_button = nullptr;
    frame_file = form_widget<QFrame>(ui->page_3, "frame_file", 10, 90, 580, 240, 15,
                                     "#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}");
    if (listed_count == 0) {
        QLabel* label = form_widget<QLabel>(frame_file, "label_nofile", 5, 5, 570, 40, 15, kRowPlain);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setText(ui_text("无加载文件!", "No loaded file!", "Нет файлов для загрузки!", "Không có tập tin để tải!"));
    } else {
        const unsigned int first = static_cast<unsigned int>(list_page) * kRows;
        const unsigned int rows = listed_count >= first + kRows ? kRows : listed_count % kRows;
        for (unsigned int r = 0; r < rows; ++r) {
            const unsigned int i = first + r;
            const int y = static_cast<int>(5 + 45 * r);
            const QByteArray labelName = "label_file" + QByteArray::number(r);
            QLabel* label = form_widget<QLabel>(frame_file, labelName.constData(), 5, y, 520, 40, 15,
                                                row_marks[i] ? kRowMarked : kRowPlain);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            label->setText(QString("<font color = #FFFFFF >%1</font>").arg(QFileInfo(update_files.at(i)).fileName()));
            const QByteArray buttonName = QByteArray::number(r);
            QPushButton* button = form_widget<QPushButton>(frame_file, buttonName.constData(), 5, y, 520, 40);
            button->setFlat(true);
            button->setFocusPolicy(Qt::NoFocus);
        }
        // The arrows of a list longer than one page of rows.
        if (list_page > 0) {
            previous_button = form_widget<QPushButton>(frame_file, "Button_previous", 530, 5, 50, 50, 0,
                                                       "background-color: rgb(33, 36, 53);");
            previous_button->setFocusPolicy(Qt::NoFocus);
            previous_button->setIcon(QIcon(":/png/previous.png"));
            previous_button->setIconSize(QSize(50, 50));
        }
        if (list_page < last_list_page) {
            next_button = form_widget<QPushButton>(frame_file, "Button_next", 530, 185, 50, 50, 0,
                                                   "background-color: rgb(33, 36, 53);");
            next_button->setFocusPolicy(Qt::NoFocus);
            next_button->setIcon(QIcon(":/png/next.png"));
            next_button->setIconSize(QSize(50, 50));
        }
    }
    frame_file->show();
}

void LinkOption::on_Button_ok_clicked()
{
    if (!upgrade_started)
        menulist_button_ok_page();
}

void LinkOption::menulist_button_ok_page()
{
    if (upgrade_started)
        return;
    upgrade_started = 1;
    if (traceOn())
        std::printf("\nmenulist_button_ok_page 00 in  file_downing = %#x\n", 1u);
    // Refused while an upgrade asked for earlier still runs.
    fpga_start_usb_upgrade();
}

QString LinkOption::upgrade_flash_text(const fpga_manage* fpga)
{
    QStringList parts;
    for (int f = 0; fpga && f < 2; ++f) {
        switch (fpga->upgrade_flash[f].load()) {
        case fpga_manage::kFlashOldKept:
            parts << ui_text("FPGA %1：保留旧版本", "FPGA %1: old version kept", "FPGA %1: старая версия",
                             "FPGA %1: giữ bản cũ")
                         .arg(f);
            break;
        case fpga_manage::kFlashNewWritten:
            parts << ui_text("FPGA %1：新版本", "FPGA %1: new version", "FPGA %1: новая версия", "FPGA %1: bản mới")
                         .arg(f);
            break;
        case fpga_manage::kFlashBlank:
            parts << ui_text("FPGA %1：闪存已空，请重新升级", "FPGA %1: flash blank, upgrade again",
                             "FPGA %1: флеш пуста, обновите снова", "FPGA %1: flash trống, hãy nâng cấp lại")
                         .arg(f);
            break;
        default:
            break;
        }
    }
    return parts.join("; ").toHtmlEscaped();
}

void LinkOption::show_skipped(const QStringList& names)
{
    QLabel* label = ui->label_skipped;
    if (names.isEmpty()) {
        label->clear();
        label->setToolTip(QString());
        return;
    }
    const QString head = ui_text("未安装（超过 %1 个升级包）：", "Not installed (over %1 packages): ",
                                 "Не установлены (более %1 пакетов): ", "Chưa cài (quá %1 gói): ")
                             .arg(fpga_manage::kUsbMaxPackages);
    // Laid out here in the label's three lines, the head on the first and
    // the names after it, none broken; names that do not fit make way for
    // an ellipsis.
    const QFontMetrics metrics(label->font());
    const int room = label->width() - 4;
    const auto fits = [&](const QString& line) { return metrics.horizontalAdvance(line) <= room; };
    QStringList lines{metrics.elidedText(head.trimmed(), Qt::ElideRight, room)};
    bool cut = false;
    for (int i = 0; i < names.size() && !cut; ++i) {
        const QString piece =
            metrics.elidedText(names[i], Qt::ElideMiddle, room - metrics.horizontalAdvance(", ...")) +
            (i + 1 < names.size() ? "," : "");
        if (fits(lines.last() + " " + piece))
            lines.last() += " " + piece;
        else if (lines.size() < 3)
            lines << piece;
        else
            cut = true;
    }
    if (cut) {
        while (!fits(lines.last() + " ...") && lines.last().contains(' '))
            lines.last().truncate(lines.last().lastIndexOf(' '));
        lines.last() += " ...";
    }
    label->setText(lines.join('\n'));
    label->setToolTip(head + names.join(", "));
}

void LinkOption::syncUpdate(int code)
{
    if (ZdrRamPara::pInstance()->ZdrLanguageChanged())
        language_changed();
    if (addresses_changed())
        fill_addresses();
    switch (code) {
    case 101:
        get_file_list_smartpath();
        rcv_self_recovery_file_list();
        upgrade_started = 0;
        break;
    case 102:
        get_file_list_smartpath();
        rcv_self_recovery_file_list();
        break;
    case 104:
        if (current_tab == ui->Button_usb) {
            fpga_manage* fpga = fpga_manage::p_fpga_manage;
            const QString times = fpga ? fpga->upgrade_time_text : QString();
            // A package refused or a part not written is said beside the
            // end, not passed off as done (the reasons are in the engine log).
            QString end = "downing over";
            const unsigned failed = fpga ? fpga->upgrade_errors.load() : 0;
            if (failed)
                end += QString("&nbsp;&nbsp;<font color = #E04040 >%1</font>")
                           .arg(ui_text("未完成：%1 项失败", "Not completed: %1 failed", "Не завершено: ошибок %1",
                                        "Chưa hoàn tất: %1 lỗi")
                                    .arg(failed)
                                    .toHtmlEscaped());
            // After a failure, or with a flash left blank, what each FPGA
            // is left with.
            const bool blank = fpga && (fpga->upgrade_flash[0].load() == fpga_manage::kFlashBlank ||
                                        fpga->upgrade_flash[1].load() == fpga_manage::kFlashBlank);
            const QString flashes = failed || blank ? upgrade_flash_text(fpga) : QString();
            if (!flashes.isEmpty())
                end += "<br><font style = 'font-size:14px' color = #E04040 >" + flashes + "</font>";
            ui->label_log->setText(
                QString("<font style = 'font-size:20px' color = #51BB28 >%1</font>").arg(end + "<br>" + times));
            show_skipped(fpga ? fpga->usb_skipped : QStringList());
        }
        break;
    default:
        break;
    }
}

void LinkOption::on_Button_back_clicked()
{
    g_linkoption = nullptr;
    shell_close_page(this, kFocusOption);
}
