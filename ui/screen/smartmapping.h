// The receiving-card mapping wizard (page focus 24): cabinet size, port,
// rows, columns, route and offsets go into line_type, a scan file into
// g_kqfile_name, and the job code into g_send_para; the FPGA thread runs the
// job and reports its progress, shown on the round progress dial.
#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;
class QStackedWidget;
class QToolButton;
class My_lineEdit;

class Ui_SmartMapping {
public:
    QPushButton* Button_back = nullptr;
    QLabel* label_title = nullptr;
    QPushButton *Button_shortcut = nullptr, *Button_loadscan = nullptr, *Button_paraweld = nullptr,
                *Button_mapping = nullptr;
    QFrame* frame = nullptr;
    QStackedWidget* stackedWidget = nullptr;
    QWidget* page[8] = {};
    QLabel *label_step1 = nullptr, *label_boxwidth = nullptr, *label_boxheight = nullptr;
    My_lineEdit *lineEdit_X = nullptr, *lineEdit_Y = nullptr;
    QPushButton* Button_next = nullptr;
    QLabel* label_step2 = nullptr;
    QPushButton* Button_wlan[8] = {};   // Button_wlan1 .. Button_wlan8
    QPushButton *Button_front_2 = nullptr, *Button_next_2 = nullptr;
    QLabel *label_step3 = nullptr, *label_boxline = nullptr, *label_boxlcolumn = nullptr, *label_routeway = nullptr,
           *label_horizon = nullptr, *label_vert = nullptr;
    My_lineEdit *lineEdit_line = nullptr, *lineEdit_column = nullptr, *lineEdit_horzion = nullptr,
                *lineEdit_vert = nullptr;
    QPushButton *Button_route = nullptr, *Button_front_3 = nullptr, *Button_send = nullptr;
    QToolButton* Button_routes[16] = {};   // Button_route1 .. Button_route16
    QPushButton* Button_cancel = nullptr;
    QLabel* label_step1_5 = nullptr;
    QPushButton* Button_next_5 = nullptr;
    QLabel *label_step2_6 = nullptr, *label_step2_7 = nullptr;
    QPushButton *Button_front_6 = nullptr, *Button_load = nullptr;
    QLabel* label_step1_6 = nullptr;
    QPushButton* Button_confirm = nullptr;
    QLabel* label_step1_7 = nullptr;
    QPushButton* Button_mapping_state = nullptr;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

class SmartMapping : public QDialog {
    Q_OBJECT
public:
    explicit SmartMapping(QWidget* parent = nullptr);
    ~SmartMapping() override;

    void language_changed();
    void syncUpdate(int code);
    void button_select(QPushButton* button);
    void wlan_init(unsigned char which);
    void line_select(char route);
    void language_for_shortcutt_page0();
    void language_for_shortcutt_page1();
    void language_for_shortcutt_page2();
    void language_for_shortcutt_page3();
    void language_for_loadscan_page4();
    void language_for_loadscan_page5();
    void language_for_paraweld_page6();
    void language_for_mapping_onoff_page7();
    void get_file_list_smartpath();
    void get_file_list_usbpath();
    void scan_file_list();

    Ui_SmartMapping* ui = nullptr;
    QPushButton* menu_selected = nullptr;
    QPushButton* group_selected = nullptr;
    unsigned char port_group = 0;
    unsigned char chosen_tile = 0;
    QFrame* tile_frame = nullptr;
    QFrame* tiles[8] = {};
    int scan_files = 0;
    int file_list_shown = 0;
    QList<QString> file_list;
    unsigned char local_count = 0, total_count = 0, shown_count = 0;
    signed char file_page = 0;
    unsigned char last_file_page = 0;
    unsigned char chosen_slot = 0;
    QFrame* file_frame = nullptr;
    QLabel* file_labels[5] = {};
    QString row_paths[5];
    QPushButton *previous_button = nullptr, *next_button = nullptr;

    // Handed to the FPGA thread (g_smartmapping_progress): queues the value
    // into the GUI thread as sig_qround_bar_update of the open wizard.
    static void report_progress(int percent);
    // From any thread: the PC changed the device's scan files; the wizard,
    // when it is the page shown, closes through its Back (GUI thread).
    static void request_close();

signals:
    void sig_qround_bar_update(int value);

public slots:
    void on_Button_back_clicked();
    void on_Button_shortcut_clicked();
    void on_Button_loadscan_clicked();
    void on_Button_paraweld_clicked();
    void on_Button_mapping_clicked();
    void on_Button_next_clicked();
    void on_Button_next_2_clicked();
    void on_Button_front_2_clicked();
    void on_Button_front_3_clicked();
    void on_Button_route_clicked();
    void on_Button_cancel_clicked();
    // The 16 route buttons of page 3 and the 8 port-group buttons of
    // pages 1 and 4 (connected by name).
    void on_Button_route1_clicked() { route_chosen(1); }
    void on_Button_route2_clicked() { route_chosen(2); }
    void on_Button_route3_clicked() { route_chosen(3); }
    void on_Button_route4_clicked() { route_chosen(4); }
    void on_Button_route5_clicked() { route_chosen(5); }
    void on_Button_route6_clicked() { route_chosen(6); }
    void on_Button_route7_clicked() { route_chosen(7); }
    void on_Button_route8_clicked() { route_chosen(8); }
    void on_Button_route9_clicked() { route_chosen(9); }
    void on_Button_route10_clicked() { route_chosen(10); }
    void on_Button_route11_clicked() { route_chosen(11); }
    void on_Button_route12_clicked() { route_chosen(12); }
    void on_Button_route13_clicked() { route_chosen(13); }
    void on_Button_route14_clicked() { route_chosen(14); }
    void on_Button_route15_clicked() { route_chosen(15); }
    void on_Button_route16_clicked() { route_chosen(16); }
    void on_Button_wlan1_clicked() { group_select(0); }
    void on_Button_wlan2_clicked() { group_select(1); }
    void on_Button_wlan3_clicked() { group_select(2); }
    void on_Button_wlan4_clicked() { group_select(3); }
    void on_Button_wlan5_clicked() { group_select(4); }
    void on_Button_wlan6_clicked() { group_select(5); }
    void on_Button_wlan7_clicked() { group_select(6); }
    void on_Button_wlan8_clicked() { group_select(7); }
    void zdr_button_wlan_clicked();
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);
    void on_Button_send_clicked();
    void on_Button_confirm_clicked();
    void on_Button_mapping_state_clicked();
    void on_Button_next_5_clicked();
    void on_Button_front_6_clicked();
    void on_Button_load_clicked();
    void zdr_Button_previous_clicked();
    void zdr_Button_next_clicked();
    void zdr_button_file_clicked();

private:
    bool start_job();
    // The end of a job (progress 100): a job that did not do all of its
    // work says so; a file list asked for by the USB disk meanwhile is
    // built now.
    void job_ended();
    // A USB event came while the dial was up: the list is rebuilt, and the
    // choice cleared, only once the job has ended.
    bool usb_rebuild_pending = false;
    // The PC changed the scan files while the dial was up: the wizard
    // closes once the job has ended.
    bool close_pending = false;
    void group_select(int k);
    // Route k (1..16) chosen: shown on page 2.
    void route_chosen(int k);
    QString file_style(int index, bool chosen) const;
};

// The open mapping wizard, null while it is closed.
extern QPointer<SmartMapping> g_smartmapping;
