#include "ui/shell/QRoundProgressBar.h"

#include "ui/shell/shell_global.h"

#include <QDialog>
#include <QPainter>

QRoundProgressBar::QRoundProgressBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("QRoundProgressBar");
    setAttribute(Qt::WA_TranslucentBackground);
}

void QRoundProgressBar::create_qround_bar(QDialog* parent)
{
    if (g_qround_bar)
        return;
    QRoundProgressBar* bar = new QRoundProgressBar(parent);
    bar->setGeometry(300, 140, 200, 200);
    bar->value_ = 0;
    bar->show();
    bar->raise();
    g_qround_bar = bar;
}

void QRoundProgressBar::para_sync(int value)
{
    if (value >= 100) {
        if (g_qround_bar) {
            QRoundProgressBar* bar = g_qround_bar;
            g_qround_bar = nullptr;
            bar->hide();
            bar->deleteLater();
        }
        return;
    }
    value_ = value < 0 ? 0 : value;
    update();
}

void QRoundProgressBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF outer = QRectF(rect()).adjusted(4, 4, -4, -4);
    p.setPen(Qt::NoPen);
    // An opaque disc: the page's texts must not show through the value.
    p.setBrush(QColor(16, 16, 28));
    p.drawEllipse(outer);

    const qreal ring = 16;
    const QRectF arc = outer.adjusted(ring, ring, -ring, -ring);
    QPen track(QColor("#3A3F5C"), ring);
    p.setPen(track);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(arc);
    QPen done(QColor("#4777FF"), ring);
    done.setCapStyle(Qt::RoundCap);
    p.setPen(done);
    // From twelve o'clock, clockwise.
    p.drawArc(arc, 90 * 16, -value_ * 360 * 16 / 100);

    p.setPen(QColor("#FFFFFF"));
    QFont f = font();
    f.setPixelSize(40);
    f.setBold(true);
    p.setFont(f);
    p.drawText(outer, Qt::AlignCenter, QString::number(value_) + "%");
}
