#include "ui/shell/machinestate.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "link/link_global.h"
#include "sendcard/fpga_manage.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_input.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"

#include <QLabel>
#include <QPixmap>

MachineState::MachineState(QWidget* parent)
    : QDialog(parent)
{
    shell_page_frame(this, "MachineState");
    shell_back_button(this);
    label_title = shell_title(this);

    label_info = shell_label(this, "label_info", 20, 72, 370, 240, 17, kTileStyle);
    label_info->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label_info->setMargin(10);
    label_info->setTextFormat(Qt::RichText);

    label_inputs_title = shell_label(this, "label_inputs_title", 410, 72, 370, 28, 18, "color:#8A8FA8;");
    for (int k = 0; k < 6; ++k) {
        const int input = kInputOrder[k];
        source_name_[input] = shell_label(this, "label_source_name", 410, 104 + 35 * k, 110, 32, 18);
        source_name_[input]->setText(input_default_name(input));
        source_state_[input] = shell_label(this, "label_source_state", 520, 104 + 35 * k, 260, 32, 18);
    }

    label_ports_title = shell_label(this, "label_ports_title", 20, 322, 760, 28, 18, "color:#8A8FA8;");
    for (int port = 0; port < 32; ++port) {
        const int x = 20 + 47 * (port % 16);
        const int y = 354 + 62 * (port / 16);
        port_icon_[port] = shell_label(this, "label_port", x + 6, y, 32, 28, 12);
        port_icon_[port]->setScaledContents(true);
        QLabel* number = shell_label(this, "label_port_number", x, y + 30, 44, 22, 13);
        number->setAlignment(Qt::AlignCenter);
        number->setText(QString::number(port + 1));
    }
    initWlan();
    language_changed();
    QMetaObject::connectSlotsByName(this);
}

void MachineState::language_changed()
{
    label_title->setText(ui_text("设备状态", "Device status", "Состояние устройства", "Trạng thái thiết bị"));
    label_inputs_title->setText(ui_text("输入信号", "Input signals", "Входные сигналы", "Tín hiệu vào"));
    label_ports_title->setText(ui_text("输出网口", "Output ports", "Выходные порты", "Cổng ra"));
    para_init();
}

void MachineState::para_init()
{
    // A table of name and value; the long device id on a row of its own.
    auto row = [](const QString& name, const QString& value) {
        return "<tr><td style=\"color:#8A8FA8;\">" + name.toHtmlEscaped() + "</td><td>" + value.toHtmlEscaped() +
               "</td></tr>";
    };
    QString html = "<table cellspacing=\"3\">";
    html += "<tr><td colspan=\"2\" style=\"color:#8A8FA8;\">" +
            ui_text("设备编号", "Device ID", "ID устройства", "Mã thiết bị").toHtmlEscaped() + "</td></tr>";
    // 32 hexadecimal digits: a size at which even an id of digits only
    // fits the tile.
    html += "<tr><td colspan=\"2\" style=\"font-size:15px;\">" +
            QString::fromLatin1(g_pid, static_cast<int>(qstrnlen(g_pid, sizeof(g_pid)))).toHtmlEscaped() + "</td></tr>";
    const Utils::NetworkSettings net = Utils::network_settings();
    html += row(ui_text("IP地址", "IP address", "IP-адрес", "Địa chỉ IP"), net.ip);
    html += row(ui_text("子网掩码", "Subnet mask", "Маска подсети", "Mặt nạ mạng"), net.mask);
    html += row(ui_text("网关", "Gateway", "Шлюз", "Cổng mặc định"), net.gateway);
    html += row(ui_text("MAC地址", "MAC address", "MAC-адрес", "Địa chỉ MAC"), net.mac);
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (store) {
        // Width and height from one store (the PC writes both).
        unsigned char size[4];
        store->block_bytes(para::kLedWidth, size, sizeof(size));
        html += row(ui_text("LED屏", "LED screen", "LED-экран", "Màn hình LED"),
                    QString("%1 x %2").arg(le16(size, 0)).arg(le16(size, 2)));
    }
    html += "</table>";
    label_info->setText(html);

    for (int input = 0; input < 6; ++input) {
        const InputSignal s = input_signal(input);
        source_state_[input]->setText(input_signal_text(s));
        source_state_[input]->setStyleSheet(s.present() ? "color:#00D65B;" : "color:#8A8FA8;");
    }
}

void MachineState::initWlan()
{
    // Ports 1 to 16 are FPGA 0's (low 16 bits), 17 to 32 FPGA 1's.
    // Unlike the block, which pages read without waiting for a change pass,
    // the link bits are read from the FPGAs over SPI in this thread: the read
    // waits for the bus, which a change pass holds one SPI message at a time
    // (microseconds on the device; on the simulated board a c331-hold holds
    // this page for as long as it lasts).
    wlan_state_ = fpga_wlan_state();
    for (int port = 0; port < 32; ++port) {
        const bool linked = (wlan_state_ >> port) & 1u;
        port_icon_[port]->setPixmap(QPixmap(linked ? ":/png/online.png" : ":/png/offline.png"));
    }
}

void MachineState::syncUpdate(int code)
{
    if (code == 11)
        initWlan();
    if (ZdrRamPara::pInstance()->ZdrLanguageChanged())
        language_changed();
    else
        para_init();
}

void MachineState::on_Button_back_clicked()
{
    g_machinestate = nullptr;
    if (g_mainwindow)
        g_mainwindow->language_changed();
    shell_close_page(this, kFocusHome);
}
