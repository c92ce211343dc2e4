// The idle status screen, shown on top of the home page while the device is
// left alone.
#pragma once

#include <QDialog>

class QLabel;

class LockWindow : public QDialog {
    Q_OBJECT
public:
    explicit LockWindow(QWidget* parent = nullptr);

    // Redraws the idle status screen from the block.
    void syncUpdate();

private:
    QLabel* status_ = nullptr;
};
