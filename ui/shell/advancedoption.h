// The advanced settings page (page focus 12), opened from the settings menu:
// - receiving-card recovery: checks the cards against the stored packed
//   parameter file (job 5) and restores the card the check found (job 6),
//   with the progress dial, the result list and its status;
// - LED screen: asks for a re-initialisation of the LED panel and switches
//   the WiFi access point;
// - factory: the OSD fonts found in the chip's flash, the factory-ageing
//   log, and the reset of the settings to their defaults.
//
// The check and restore run on the FPGA thread. It never touches this page
// (which the GUI may delete at any time): it uses the static operations
// below, which keep the result in storage of their own and reach the page
// through queued calls into the GUI thread.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

class AdvancedOption : public QDialog {
    Q_OBJECT
public:
    // The factory reset waits this many ticks for its confirming press.
    static constexpr unsigned int kConfirmTicks = 500;

    explicit AdvancedOption(QWidget* parent = nullptr);
    ~AdvancedOption() override;

    // Redraws the page; on para sync 99, or while the card reply names a
    // card, rebuilds the result list when the recovery page is showing.
    void syncUpdate(int code);
    void language_changed();

    // The tab on screen: 0 recovery, 1 LED screen, 2 factory.
    int current_tab() const;
    // The lines the result list shows.
    QStringList shown_results() const;

    // --- for the FPGA thread (any thread) --------------------------------
    // True while the page is open.
    static bool page_open();
    // A job's progress in percent, delivered to the open page's
    // sig_qround_bar_update in the GUI thread; nothing while it is closed.
    static void report_progress(int percent);
    // The recovery status: 1 = the result list names a card to restore.
    static int recovery_status();
    static QList<QString> result_list();
    // End of a check that found a card: when the page is open, the list
    // becomes this one line and the status 1. False when the page is closed.
    static bool check_found(const QString& line);
    // End of a restore: when the page is open and its status is set, the
    // list is emptied and the status becomes 0; true then (the caller posts
    // para sync 99).
    static bool restore_finished();
    // A result line: screen index + 1, port (net_ledx) + 1, card reply + 1
    // and the cards on that net, each at least two digits, joined by "/".
    static QString result_line(int screenIndex, int netLedx, int cardReply, int netRcvNum);

signals:
    // Progress of jobs 5 and 6 in percent, shown by the progress dial.
    void sig_qround_bar_update(int value);

public slots:
    void on_Button_back_clicked();
    void on_Button_recovery_clicked();
    void on_Button_led_clicked();
    void on_Button_factory_clicked();
    void on_Button_check_clicked();
    void on_Button_self_recovery_clicked();
    void on_Button_led_reset_clicked();
    void on_Button_wifi_clicked();
    void on_Button_reset_all_clicked();
    void zdr_job_progress(int value);

private:
    void tab_select(QPushButton* tab, int page);
    void result_list_show();
    void wifi_show();
    void factory_show();
    void set_status(int status);

    QLabel* label_title = nullptr;
    QPushButton* Button_recovery = nullptr;
    QPushButton* Button_led = nullptr;
    QPushButton* Button_factory = nullptr;
    QPushButton* current_tab_ = nullptr;
    QStackedWidget* stackedWidget = nullptr;
    // Recovery.
    QPushButton* Button_check = nullptr;
    QPushButton* Button_self_recovery = nullptr;
    QLabel* label_status = nullptr;
    QLabel* label_list_head = nullptr;
    QListWidget* listWidget_result = nullptr;
    // LED screen.
    QLabel* label_led_info = nullptr;
    QPushButton* Button_led_reset = nullptr;
    QLabel* label_led_state = nullptr;
    QLabel* label_wifi = nullptr;
    QPushButton* Button_wifi = nullptr;
    // Factory.
    QLabel* label_fonts = nullptr;
    QLabel* label_font_[4] = {};
    QLabel* label_font_state_[4] = {};
    QLabel* label_ageing = nullptr;
    QLabel* label_ageing_last = nullptr;
    QPushButton* Button_reset_all = nullptr;

    // What the LED state label says: 0 nothing, 1 requested, 2 refused.
    int led_request_ = 0;
    // A job posted from this page has not been seen to end yet; a check
    // has ended on this page.
    bool job_posted_ = false;
    bool checked_ = false;
    // The job that ended without doing all of its work (5 check, 6
    // restore), 0 when the last one did.
    unsigned char failed_job_ = 0;
    unsigned char posted_job_ = 0;
    // The first press of the factory reset and its tick (0 = none).
    bool reset_armed_ = false;
    unsigned int reset_armed_at_ = 0;
};
