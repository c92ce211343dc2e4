#include "ui/shell/tip.h"

#include "core/global.h"
#include "core/utils.h"
#include "ui/shell/shell_lang.h"

#include <QLabel>
#include <QPixmap>

TIP::TIP(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName("TIP");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet("QWidget#TIP{background-color:#212435;border:2px solid #4777FF;border-radius:12px;}"
                  "QLabel{color:#FFFFFF;}");
}

QString TIP::text() const
{
    const QLabel* label = content_ ? qobject_cast<const QLabel*>(content_) : nullptr;
    return label ? label->text() : QString();
}

void TIP::tip_create(int type)
{
    delete content_;
    content_ = nullptr;
    type_ = 0;

    QString message;
    switch (type) {
    case 1:
        break;
    case 3:
        message = ui_text("U盘已连接，请稍候...", "USB driver is connected,please wait...",
                          "USB-накопитель подключён, подождите...", "Đã kết nối USB, vui lòng chờ...");
        break;
    case 4:
        message = ui_text("U盘已拔出。", "USB drive is unplugged.", "USB-накопитель отключён.", "Đã rút ổ USB.");
        break;
    case 5:
        message = ui_text("正在读取数据，请稍候", "Reading the data,pls wait", "Чтение данных, подождите",
                          "Đang đọc dữ liệu, vui lòng chờ");
        break;
    case kLoadIncomplete:
        message = ui_text("扫描文件未能完整加载", "The scan file was not loaded completely",
                          "Файл сканирования загружен не полностью", "Tệp quét chưa được tải đầy đủ");
        break;
    default:
        // Nothing to show: an old tip must not stay up without its content.
        hide();
        return;
    }

    QLabel* label = new QLabel(this);
    label->setObjectName("label_tip");
    label->setAlignment(Qt::AlignCenter);
    if (type == 1) {
        setGeometry(300, 140, 200, 200);
        label->setGeometry(10, 10, 180, 180);
        label->setPixmap(QPixmap(":/png/check_180.png"));
    } else {
        setGeometry(150, 190, 500, 100);
        label->setGeometry(10, 10, 480, 80);
        label->setWordWrap(true);
        QFont f = label->font();
        f.setPixelSize(24);
        label->setFont(f);
        label->setText(message);
    }
    // The tip may be up already: a new child is not shown with it.
    label->show();
    content_ = label;
    type_ = type;
    shown_at_ = G_timeTicks.load();
    show();
    raise();
}

void TIP::tip_timeout()
{
    if (isVisible() && Utils::getTimeSpace(shown_at_) >= kShowTicks)
        hide();
}
