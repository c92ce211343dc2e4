// The LED screen and output page (page focus 6): shows the LED screen size,
// chooses the splicing of the picture over OUT1 and OUT2 (horizontal,
// vertical or copy) with OUT1's size, and stores the result into the output
// area of the parameter block; a second tab shows the screen area each of
// the sending card's 32 output ports drives.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPointer>
#include <QString>

class My_lineEdit;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QStackedWidget;
class QWidget;

class Ui_OutputSet {
public:
    QPushButton* Button_back = nullptr;
    QLabel* label_title = nullptr;
    QPushButton* Button_ledset = nullptr;
    QPushButton* Button_lanset = nullptr;
    QStackedWidget* stackedWidget = nullptr;
    QWidget* page = nullptr;
    QWidget* page_2 = nullptr;
    // Page 0: LED settings.
    QLabel* label_s1 = nullptr;
    QLabel* label_width = nullptr;
    QLabel* label_height = nullptr;
    My_lineEdit* lineEdit_width = nullptr;
    My_lineEdit* lineEdit_height = nullptr;
    QLabel* label_warning = nullptr;
    QLabel* label_tip = nullptr;
    QLabel* label_s2 = nullptr;
    QComboBox* comboBox = nullptr;
    QLabel* out_label = nullptr;
    QLabel* label_OUT1 = nullptr;
    QLabel* label_OUT2 = nullptr;
    QFrame* frame_OUT1 = nullptr;
    QFrame* frame_OUT2 = nullptr;
    QLabel* label_out1_width = nullptr;
    QLabel* label_out1_height = nullptr;
    QLabel* label_out2_width = nullptr;
    QLabel* label_out2_height = nullptr;
    My_lineEdit* lineEdit_out1_width = nullptr;
    My_lineEdit* lineEdit_out1_height = nullptr;
    My_lineEdit* lineEdit_out2_width = nullptr;
    My_lineEdit* lineEdit_out2_height = nullptr;
    QPushButton* Button_cancel1 = nullptr;
    QPushButton* Button_apply1 = nullptr;
    // Page 1: port output.
    QPushButton* Button_wlan[4] = {};
    QFrame* line = nullptr;
    QFrame* line_2 = nullptr;
    QLabel* label_X = nullptr;
    QLabel* label_Y = nullptr;
    QLabel* label_W = nullptr;
    QLabel* label_H = nullptr;
    My_lineEdit* lineEdit_X = nullptr;
    My_lineEdit* lineEdit_Y = nullptr;
    My_lineEdit* lineEdit_W = nullptr;
    My_lineEdit* lineEdit_H = nullptr;
    QPushButton* Button_cancel2 = nullptr;
    QPushButton* Button_apply2 = nullptr;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

class OutputSet : public QDialog {
    Q_OBJECT
public:
    explicit OutputSet(QWidget* parent = nullptr);
    ~OutputSet() override;

    // Fills the LED tab from the parameter block.
    void para_init();
    // Follows the language, then shows the stored values again.
    void syncUpdate();
    void language_changed();
    void combox_language_change();
    // The splice picture for the combo's current mode.
    void out_label_changed();
    // Builds the eight port tiles of the current group.
    void wlan_init();
    // Shows the area of port 0..31 (16..31 are the second FPGA's).
    void wlan_para_get(unsigned short port);

    Ui_OutputSet* ui = nullptr;
    QString wlan_text;
    QFont wlan_font;
    QString lineedit_name;
    unsigned char wlan_group = 0;
    // 3 horizontal, 2 vertical, 4 copy.
    unsigned char splice_type = 0;
    unsigned char wlan_index = 0;

public slots:
    void on_Button_ledset_clicked();
    void on_Button_lanset_clicked();
    void on_Button_apply2_clicked();
    void on_Button_cancel2_clicked();
    void on_Button_apply1_clicked();
    void on_Button_cancel1_clicked();
    void on_Button_wlan1_clicked();
    void on_Button_wlan2_clicked();
    void on_Button_wlan3_clicked();
    void on_Button_wlan4_clicked();
    void on_comboBox_currentIndexChanged(int index);
    void zdr_button_wlan_clicked();
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);
    void on_Button_back_clicked();

private:
    void wlan_group_chosen(int group);
    QFrame* tiles_ = nullptr;
    QFrame* last_tile_ = nullptr;
    QLabel* last_icon_ = nullptr;
    QLabel* last_text_ = nullptr;
    QPushButton* last_button_ = nullptr;
};

// The open LED screen and output page, null while it is closed.
extern QPointer<OutputSet> g_outputset;
// The page's highlighted widgets: tab, Apply/Cancel of each tab, port group
// and the tile frames of the group shown.
extern QPointer<QPushButton> g_set_focus;
extern QPointer<QPushButton> g_apply_focus1;
extern QPointer<QPushButton> g_apply_focus2;
extern QPointer<QPushButton> g_wlan_focus;
extern QPointer<QFrame> g_wlan_frame[8];
