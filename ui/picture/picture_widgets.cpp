#include "ui/picture/picture_widgets.h"

#include "ui/shell/shell_lang.h"

#include <QLabel>

QFont point_font(int points)
{
    QFont f;
    f.setPointSize(points);
    return f;
}

QLabel* point_label(QWidget* parent, const QString& name, int x, int y, int w, int h, int points, const char* style)
{
    QLabel* l = new QLabel(parent);
    l->setObjectName(name);
    l->setGeometry(x, y, w, h);
    if (points > 0)
        l->setFont(point_font(points));
    l->setStyleSheet(style);
    return l;
}

void picture_page_frame(QWidget* page, const char* objectName)
{
    page->setObjectName(objectName);
    page->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    page->setFixedSize(800, 480);
    page->move(0, 0);
    page->setStyleSheet("background-color: rgb(16, 16, 28);");
    page->setWindowTitle("Dialog");
}

QString in_use_badge_text()
{
    return ui_text("使用中", "Using", "Исполь\u00ADзовать", "sử dụng");
}
