// Building blocks of the screen pages' forms: a widget with its object
// name, geometry, point size and style, and the 800 x 480 dialog itself.
#pragma once

#include "ui/shell/shell_style.h"

#include <QDialog>
#include <QFont>
#include <QWidget>

template <typename W>
W* form_widget(QWidget* parent, const char* name, int x, int y, int w, int h, int points = 0,
               const char* style = nullptr)
{
    W* widget = new W(parent);
    widget->setObjectName(name);
    widget->setGeometry(x, y, w, h);
    if (points) {
        QFont f = widget->font();
        f.setPointSize(points);
        widget->setFont(f);
    }
    if (style)
        widget->setStyleSheet(style);
    return widget;
}

// The page's dialog on the dark form background.
inline void form_dialog(QDialog* dialog, const char* name)
{
    shell_page_frame(dialog, name);
    dialog->setStyleSheet("background-color: rgb(16, 16, 28);");
    dialog->setWindowTitle("Dialog");
}
