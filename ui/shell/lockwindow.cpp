#include "ui/shell/lockwindow.h"

#include "core/zdrrampara.h"

#include <QLabel>

LockWindow::LockWindow(QWidget* parent)
    : QDialog(parent)
{
    setObjectName("LockWindow");
    setFixedSize(800, 480);
    setWindowFlags(Qt::FramelessWindowHint | Qt::Dialog);
    status_ = new QLabel(this);
    status_->setObjectName("label_status");
    status_->setAlignment(Qt::AlignCenter);
    status_->setGeometry(0, 0, 800, 480);
}

void LockWindow::syncUpdate()
{
    ZdrRamPara::pInstance()->ZdrLanguageChanged();
}
