// The network and USB update page (page focus 10): the fixed serial
// settings, the device's address, mask and gateway typed octet by octet on
// the number keypad, and the update files on the USB disk with the button
// that asks the FPGA thread for the USB upgrade. The page touches no field
// of the parameter block.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QComboBox;
class My_lineEdit;
class fpga_manage;

class Ui_LinkOption {
public:
    QLabel* label_title = nullptr;
    QPushButton* Button_back = nullptr;
    QPushButton* Button_com = nullptr;
    QPushButton* Button_wlan = nullptr;
    QStackedWidget* stackedWidget = nullptr;
    QWidget* page = nullptr;
    QLabel* label_baud = nullptr;
    QLabel* label_bit = nullptr;
    QLabel* label_stop = nullptr;
    QLabel* label_num_baud = nullptr;
    QLabel* label_num_bit = nullptr;
    QLabel* label_num_stop = nullptr;
    QWidget* page_2 = nullptr;
    QLabel* label_network = nullptr;
    QComboBox* comboBox2 = nullptr;
    QPushButton* Button_direct = nullptr;
    QLabel* label_direct = nullptr;
    QPushButton* Button_IP = nullptr;
    QLabel* label_IP = nullptr;
    QLabel* label_IpSet = nullptr;
    QLabel* label_netmask = nullptr;
    QLabel* label_gateway = nullptr;
    // Rows: address, mask, gateway; four octets each.
    My_lineEdit* octet[3][4] = {};
    QLabel* dot[3][3] = {};
    QPushButton* Button_net_cancel = nullptr;
    QPushButton* Button_net_apply = nullptr;
    QWidget* page_3 = nullptr;
    QLabel* label_log = nullptr;
    // The packages the last upgrade left out, beside the load button.
    QLabel* label_skipped = nullptr;
    QPushButton* Button_ok = nullptr;
    QPushButton* Button_usb = nullptr;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

class LinkOption : public QDialog {
    Q_OBJECT
public:
    explicit LinkOption(QWidget* parent = nullptr);
    ~LinkOption() override;

    void language_changed();
    void get_file_list_smartpath();
    void rcv_self_recovery_file_list();
    void menulist_button_ok_page();
    void syncUpdate(int code);
    // What the last upgrade left in the flash of each FPGA it tried, in the
    // page's language ("" when it tried none).
    static QString upgrade_flash_text(const fpga_manage* fpga);
    // The packages the last upgrade left out, named as far as the room
    // beside the load button holds them (all in its tool tip and the log).
    void show_skipped(const QStringList& names);
    // Fills the address fields with the device's address, mask and gateway
    // and remembers them as shown.
    void fill_addresses();
    // The device's address, mask or gateway differ from what the fields
    // were filled with (the PC set them while the page was open).
    bool addresses_changed() const;
    // Tests: run by Apply after its look at the device's addresses, before
    // the store.
    static std::function<void()> apply_looked_hook;

    Ui_LinkOption* ui = nullptr;
    QString shown_addresses[3];
    QPushButton* current_tab = nullptr;
    QString lineedit_name;
    QFrame* frame_file = nullptr;
    signed char list_page = 0;
    unsigned char upgrade_started = 0;
    QStringList update_files;
    unsigned char zdr_count = 0;
    unsigned char last_list_page = 0;
    QPushButton* previous_button = nullptr;
    QPushButton* next_button = nullptr;
    // A mark per package listed (at most fpga_manage::kUsbMaxPackages).
    unsigned char row_marks[100] = {};
    unsigned int listed_count = 0;

    static constexpr unsigned int kRows = 5;

public slots:
    void on_Button_com_clicked();
    void on_Button_wlan_clicked();
    void on_Button_usb_clicked();
    void on_Button_direct_clicked();
    void on_Button_IP_clicked();
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);
    void on_Button_net_apply_clicked();
    void on_Button_net_cancel_clicked();
    void on_Button_ok_clicked();
    void on_Button_back_clicked();

private:
    void select_tab(QPushButton* button, int page);
    QString address_text(int row) const;
};

// The open network and USB page, null while it is closed.
extern QPointer<LinkOption> g_linkoption;
