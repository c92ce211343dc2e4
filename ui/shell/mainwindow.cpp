#include "ui/shell/mainwindow.h"

#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "ui/shell/shell_global.h"

#include <QLabel>
#include <QMutexLocker>
#include <cstdio>
#include <cstring>

namespace {
// A reboot runs this many ticks after it was requested, so that replies and
// the last writes get out first.
constexpr unsigned int kRebootDelayTicks = 300;
} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName("MainWindow");
    setFixedSize(800, 480);
    setWindowFlags(Qt::FramelessWindowHint);
    title_ = new QLabel(this);
    title_->setObjectName("label_title");
    title_->setAlignment(Qt::AlignCenter);
    title_->setGeometry(0, 0, 800, 480);
    title_->setText("K47");
}

void MainWindow::slot_update_timer_ticks()
{
    G_timeTicks.fetch_add(1);
    reboot_check();
}

void MainWindow::reboot_check()
{
    if (g_app_reset_flag.load() == 0)
        return;
    if (Utils::getTimeSpace(G_reboot_tickTicks.load()) < kRebootDelayTicks)
        return;
    g_app_reset_flag = 0;
    writeLogMsg(INFO, "reboot requested");
    Utils::system_mutex("reboot");
}

void MainWindow::syncUpdate()
{
    ZdrRamPara::pInstance()->ZdrLanguageChanged();
}

void MainWindow::mode_file_write(int slot, int op)
{
    if (slot < 0 || slot >= ZdrRamPara::kSlotCount)
        return;
    ZdrRamPara* store = ZdrRamPara::pInstance();
    unsigned char* s = store->mode_user_para[slot];
    if (op == 0)
        std::memcpy(s + 2, store->ram_para + para::kModeStart, para::kModeSize);
    s[0] = 0xAA;
    s[1] = 0xAA;
    bool written;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        written = store->write_mode_file(slot);
    }
    if (!written)
        return;
    // A mode saved with the OSD on keeps a copy of the OSD menu beside it.
    if (op == 0 && le16(store->ram_para, para::kOsdOn) == 1) {
        char menu[64];
        std::snprintf(menu, sizeof(menu), "/data/modes/MO%02x.json", slot + 1);
        Utils::system_mutex(QString("cp  /data/configs/omenu.json ") + menu);
    }
    Utils::system_mutex("sync");
}
