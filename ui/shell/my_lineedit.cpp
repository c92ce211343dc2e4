#include "ui/shell/my_lineedit.h"

#include <QPointer>

My_lineEdit::My_lineEdit(QWidget* parent)
    : QLineEdit(parent)
{
}

void My_lineEdit::mousePressEvent(QMouseEvent* event)
{
    // The page runs the keypad modally from send_show; the field may be gone
    // when it returns.
    QPointer<My_lineEdit> self(this);
    if (isEnabled())
        emit send_show(text());
    if (self)
        QLineEdit::mousePressEvent(event);
}
