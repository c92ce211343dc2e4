#include "ui/shell/shell_style.h"

#include "ui/shell/shell_global.h"

#include <QDialog>
#include <QFont>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

const char* const kPageStyle = "QDialog{background-color:#10101C;} QLabel{color:#FFFFFF;}";
const char* const kTabSelected = "background-color:#4777FF;color:#FFFFFF;border:none;";
const char* const kTabPlain = "background-color:#10101C;color:#FFFFFF;border:1px solid #3A3F5C;";
const char* const kTileStyle = "background-color: #212435;border:1px solid #3A3F5C;border-radius:8px;";
const char* const kActionStyle =
    "QPushButton{background-color:#4777FF;color:#FFFFFF;border-radius:8px;}"
    "QPushButton:disabled{background-color:#3A3F5C;color:#8A8FA8;}"
    "QPushButton:pressed{background-color:#2F5BD9;}";

void shell_page_frame(QDialog* dialog, const char* objectName)
{
    dialog->setObjectName(objectName);
    dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    dialog->setFixedSize(800, 480);
    dialog->move(0, 0);
    dialog->setStyleSheet(kPageStyle);
}

QPushButton* shell_back_button(QWidget* parent)
{
    QPushButton* back = new QPushButton(parent);
    back->setObjectName("Button_back");
    back->setGeometry(11, 11, 50, 50);
    shell_back_look(back);
    return back;
}

void shell_back_look(QPushButton* back)
{
    back->setFocusPolicy(Qt::NoFocus);
    back->setFlat(true);
    back->setText(QString());
    back->setStyleSheet("QPushButton{border:none;background-color:transparent;}");
    back->setIcon(QIcon(":/png/back.png"));
    back->setIconSize(QSize(32, 32));
}

QLabel* shell_title(QWidget* parent)
{
    QLabel* title = shell_label(parent, "label_title", 80, 11, 640, 50, 24);
    title->setAlignment(Qt::AlignCenter);
    return title;
}

QLabel* shell_label(QWidget* parent, const char* objectName, int x, int y, int w, int h, int pixels,
                    const QString& style)
{
    QLabel* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setGeometry(x, y, w, h);
    QFont f = label->font();
    f.setPixelSize(pixels);
    label->setFont(f);
    if (!style.isEmpty())
        label->setStyleSheet(style);
    return label;
}

QPushButton* shell_button(QWidget* parent, const char* objectName, int x, int y, int w, int h, const char* style)
{
    QPushButton* button = new QPushButton(parent);
    button->setObjectName(objectName);
    button->setGeometry(x, y, w, h);
    button->setFocusPolicy(Qt::NoFocus);
    if (style)
        button->setStyleSheet(style);
    QFont f = button->font();
    f.setPixelSize(20);
    button->setFont(f);
    return button;
}

void shell_close_page(QDialog* page, int focusBelow)
{
    g_page_focus = focusBelow;
    page->done(0);
    page->deleteLater();
}

void dispose_frame(QFrame*& frame)
{
    if (!frame)
        return;
    frame->hide();
    frame->setParent(nullptr);
    frame->deleteLater();
    frame = nullptr;
}

int shell_button_index(const QObject* button, int count)
{
    if (!button)
        return -1;
    bool ok = false;
    const int index = button->objectName().toInt(&ok);
    return ok && index >= 0 && index < count ? index : -1;
}
