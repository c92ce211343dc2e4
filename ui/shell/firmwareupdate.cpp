#include "ui/shell/firmwareupdate.h"

#include "core/global.h"
#include "core/utils.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"

#include <QLabel>
#include <QPainter>
#include <QtMath>

FirmwareUpdate::FirmwareUpdate(QWidget* parent)
    : QDialog(parent)
{
    shell_page_frame(this, "FirmwareUpdate");
    // Nothing else may be touched while the package is installed.
    setWindowModality(Qt::ApplicationModal);
    label_title = shell_label(this, "label_title", 40, 300, 720, 50, 28);
    label_title->setAlignment(Qt::AlignCenter);
    label_note = shell_label(this, "label_note", 40, 360, 720, 40, 20, "color:#8A8FA8;");
    label_note->setAlignment(Qt::AlignCenter);
    step_at_ = G_timeTicks.load();
    language_changed();
}

void FirmwareUpdate::language_changed()
{
    label_title->setText(ui_text("正在升级...", "Updating...", "Идёт обновление...", "Đang cập nhật..."));
    label_note->setText(ui_text("请勿断电或拔出U盘", "Do not switch off the power or remove the USB drive",
                                "Не выключайте питание и не извлекайте USB-накопитель",
                                "Không tắt nguồn hoặc rút ổ USB"));
}

void FirmwareUpdate::animation_step()
{
    if (Utils::getTimeSpace(step_at_) < kStepTicks)
        return;
    step_at_ = G_timeTicks.load();
    frame_ = (frame_ + 1) % kSteps;
    update();
}

void FirmwareUpdate::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(400, 180);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < kSteps; ++i) {
        // The dot of the current frame is brightest; the ones behind it fade.
        const int age = (frame_ - i + kSteps) % kSteps;
        QColor c("#4777FF");
        c.setAlpha(255 - age * 18);
        p.setBrush(c);
        const qreal a = 2 * M_PI * i / kSteps - M_PI / 2;
        p.drawEllipse(centre + QPointF(70 * std::cos(a), 70 * std::sin(a)), 11, 11);
    }
}
