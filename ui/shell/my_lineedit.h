// A number field: a line edit that opens the shared number keypad when it
// is touched.
#pragma once

#include <QLineEdit>

class My_lineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit My_lineEdit(QWidget* parent = nullptr);

signals:
    // A press on the (enabled) field, with its current text.
    void send_show(QString text);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
