// The home page and the 10 ms tick of the whole program.
//
// The home page opens the input choice, the user modes, the settings menu
// and the device status; it shows the LED screen size, brightness, user mode
// and address of the device, toggles the panel lock and carries the
// user-mode panel, through which a saved mode is loaded or the current
// settings are saved as a mode.
#pragma once

#include <QMainWindow>

class QFrame;
class QLabel;
class QPushButton;
class FirmwareUpdate;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // A mode load or save keeps the openers busy until the home page's next
    // refresh, at most this many ticks.
    static constexpr unsigned int kBusyTicks = 500;
    // The factory-ageing sample is taken every this many ticks, and the log
    // keeps this many of them.
    static constexpr unsigned int kAgeingTicks = 18000;
    static constexpr size_t kAgeingLines = 1440;
    // A reboot runs this many ticks after it was requested, so that replies
    // and the last writes get out first.
    static constexpr unsigned int kRebootDelayTicks = 300;

    explicit MainWindow(QWidget* parent = nullptr);
    // The program never ends its home page; tests do, and with it the
    // keypad, the tip and the update screen it made.
    ~MainWindow() override;

    // While set, the next refresh of the home page shows tip 1.
    unsigned char tip_flag = 0;
    // While 1 (a mode load or save is on its way) the openers do nothing.
    unsigned char busy = 0;

    // Redraws the home page where the block differs from the shadow copy.
    void syncUpdate();
    // Re-sets the texts and button pictures for g_language and redraws the
    // parameter display and the address.
    void language_changed();

    // The user-mode panel.
    void mode_window_open();
    void mode_window_close();
    bool mode_window_shown() const;

    // True while the update busy screen is shown.
    bool update_screen_up() const;
    // One factory-ageing sample into factoryage_log.
    void factoryage_sample();

public slots:
    // Slot of the GUI thread's 10 ms timer (named for the timer's ticks;
    // it counts nothing): runs the update-screen animation, the tip
    // time-out, a requested reboot, the factory-ageing sample and the
    // touch idle time-outs, in this order, each judged by G_timeTicks,
    // which the tick thread counts (Utils::start_tick_thread). The timer
    // fires late while the GUI thread is busy; the ticks do not.
    void slot_update_timer_ticks();

    // The update busy screen of the USB upgrade: shown (made once) and
    // closed. Callable from any thread; the work is done in the GUI thread.
    void update_start();
    void update_over();

    // Openers and buttons of the home page.
    void on_inputchoose_clicked();
    void on_custommode_clicked();
    void on_Button_setting_clicked();
    void on_Button_state_clicked();
    void on_Button_lock_clicked();
    void on_Button_mode_clicked();
    void zdr_button_mode_clicked();
    void on_Button_mode_load_clicked();
    void on_Button_mode_save_clicked();
    void on_Button_mode_close_clicked();

private:
    void reboot_check();
    void para_display();
    void mode_panel_update();
    // False (and nothing is opened) while busy or the panel is locked.
    bool may_open();
    bool panel_locked() const;
    bool is_busy();
    void set_busy();

    QLabel* label_title = nullptr;
    QLabel* label_ip = nullptr;
    QLabel* label_led = nullptr;
    QLabel* label_brightness = nullptr;
    QLabel* label_mode = nullptr;
    QPushButton* Button_lock = nullptr;
    QPushButton* Button_mode = nullptr;
    QPushButton* tile_[4] = {};
    QFrame* mode_window = nullptr;
    QPushButton* mode_button_[16] = {};
    QPushButton* Button_mode_load = nullptr;
    QPushButton* Button_mode_save = nullptr;
    QPushButton* Button_mode_close = nullptr;
    QLabel* label_mode_select = nullptr;
    FirmwareUpdate* update_window_ = nullptr;
    unsigned int busy_at_ = 0;
    unsigned int ageing_at_ = 0;
};
