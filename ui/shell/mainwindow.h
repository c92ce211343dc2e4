// The home page and the 10 ms tick of the whole program.
#pragma once

#include <QMainWindow>

class QLabel;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);

    // While set, the next refresh of the home page shows tip 1.
    unsigned char tip_flag = 0;

    // Redraws the home page where the block differs from the shadow copy.
    void syncUpdate();
    // Writes user-mode slot (0 to 15) to /data/modes/custom_mode<slot + 1>.
    // op 0 first takes the block's user-mode area into the slot (a save);
    // op 1 writes the slot as it is. Both mark the slot saved.
    void mode_file_write(int slot, int op);

public slots:
    // Slot of the 10 ms timer: advances G_timeTicks first, then runs the
    // tick's timed work.
    void slot_update_timer_ticks();

private:
    void reboot_check();

    QLabel* title_ = nullptr;
};
