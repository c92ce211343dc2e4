#include "ui/shell/lockwindow.h"

#include "core/alias.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_input.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"

#include <QApplication>
#include <QDateTime>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QTimer>

LockWindow::LockWindow(QWidget* parent)
    : QDialog(parent)
{
    shell_page_frame(this, "LockWindow");
    // While it is up, touches reach nothing below it.
    setWindowModality(Qt::ApplicationModal);

    QLabel* logo = shell_label(this, "label_logo", 20, 24, 360, 60, 12);
    logo->setPixmap(QPixmap(":/png/logo.png"));
    label_time = shell_label(this, "label_time", 440, 8, 340, 60, 48);
    label_time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_date = shell_label(this, "label_date", 440, 66, 340, 28, 18, "color:#8A8FA8;");
    label_date->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    for (int k = 0; k < 6; ++k) {
        const int input = kInputOrder[k];
        QFrame* tile = new QFrame(this);
        tile->setObjectName("source_frame");
        tile->setGeometry(20 + 260 * (k % 3), 110 + 125 * (k / 3), 240, 110);
        tile->setStyleSheet("QFrame#source_frame{" + QString(kTileStyle) + "}");
        source_picture_[input] = shell_label(tile, "label_picture", 12, 14, 63, 24, 12, "background:transparent;border:none;");
        source_picture_[input]->setScaledContents(true);
        source_label_[input] = shell_label(tile, "label_name", 86, 10, 144, 32, 22, "background:transparent;border:none;");
        source_state_[input] = shell_label(tile, "label_state", 12, 58, 218, 36, 20, "background:transparent;border:none;");
    }

    label_mode = shell_label(this, "label_mode", 20, 370, 380, 36, 20);
    label_led = shell_label(this, "label_led", 420, 370, 360, 36, 20);
    label_led->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label_hint = shell_label(this, "label_hint", 20, 420, 760, 40, 20, "color:#4777FF;");
    label_hint->setAlignment(Qt::AlignCenter);

    clock_ = new QTimer(this);
    connect(clock_, &QTimer::timeout, this, [this] {
        if (isVisible())
            clock_update();
    });
    clock_->start(1000);

    image_init();
    language_changed();
}

QString LockWindow::source_name(int input) const
{
    return input >= 0 && input < 6 ? source_name_[input] : QString();
}

void LockWindow::image_init()
{
    // A name the operator gave an input in the alias file takes the place
    // of the input's own name.
    for (int input = 0; input < 6; ++input) {
        ALIAS_PARA alias;
        source_name_[input] = get_json_alias_para(&alias, "source", input) ? QString::fromStdString(alias.name)
                                                                            : input_default_name(input);
        // A long name is cut at the tile's edge with an ellipsis.
        QLabel* label = source_label_[input];
        label->setText(label->fontMetrics().elidedText(source_name_[input], Qt::ElideRight, label->width()));
    }
}

void LockWindow::language_changed()
{
    label_hint->setText(ui_text("触摸屏幕解锁", "Touch the screen to unlock", "Коснитесь экрана, чтобы разблокировать",
                                "Chạm vào màn hình để mở khóa"));
    para_init();
}

void LockWindow::para_init()
{
    clock_update();
    for (int input = 0; input < 6; ++input) {
        const InputSignal s = input_signal(input);
        source_picture_[input]->setPixmap(QPixmap(input_picture(input, s.present())));
        source_state_[input]->setText(input_signal_text(s));
        source_state_[input]->setStyleSheet(QString("background:transparent;border:none;color:") +
                                            (s.present() ? "#00D65B;" : "#8A8FA8;"));
    }
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store)
        return;
    const int mode = store->ZdrGetCurrentModeIndex();
    const QString prefix = ui_text("当前模式：", "User mode: ", "Режим: ", "Chế độ: ");
    label_mode->setText(prefix + (mode ? QString("%1").arg(mode, 2, 10, QChar('0'))
                                       : ui_text("无", "none", "нет", "không")));
    // Width and height from one store (the PC writes both).
    unsigned char size[4];
    store->block_bytes(para::kLedWidth, size, sizeof(size));
    label_led->setText(ui_text("LED屏：", "LED screen: ", "LED-экран: ", "Màn hình LED: ") +
                       QString("%1 x %2").arg(le16(size, 0)).arg(le16(size, 2)));
}

void LockWindow::clock_update()
{
    const QDateTime now = QDateTime::currentDateTime();
    label_time->setText(now.toString("hh:mm"));
    label_date->setText(now.toString("yyyy-MM-dd"));
}

void LockWindow::syncUpdate()
{
    if (ZdrRamPara::pInstance()->ZdrLanguageChanged())
        language_changed();
    else
        para_init();
}

void LockWindow::lock()
{
    const int focus = g_page_focus.load();
    if (focus != kFocusIdle)
        focus_below_ = focus;
    g_page_focus = kFocusIdle;
    para_init();
    show();
    raise();
    activateWindow();
}

void LockWindow::unlock()
{
    hide();
    g_page_focus = focus_below_;
    // The page below takes the touches again.
    if (QWidget* below = QApplication::activeModalWidget())
        below->activateWindow();
    else if (g_mainwindow)
        g_mainwindow->activateWindow();
    // What changed while the screen was up was shown here, not on the home
    // page below.
    if (focus_below_ == kFocusHome && g_mainwindow)
        g_mainwindow->language_changed();
}

void LockWindow::mousePressEvent(QMouseEvent* event)
{
    QDialog::mousePressEvent(event);
    unlock();
}
