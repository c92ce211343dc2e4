// The input choice page (page focus 3): which input or crop each window
// (layer) of the LED screen shows. A strip of layer tiles at the top, six
// input tabs, and the open tab's source tiles (the input itself and its
// crops, six to a page); touching a source tile assigns it to the selected
// layer at once. Its menu opens the crop editor and the EDID settings.
#pragma once

#include "core/para_layout.h"

#include <QDialog>
#include <QPointer>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;

// The form of the page: its widgets, built on the dialog by setupUi, which
// then sets the form's own texts (retranslateUi, the Chinese defaults the
// page replaces) and connects the dialog's slots by name. Indexed by input
// number.
class Ui_InputChoose {
public:
    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);

    QLabel* label_title = nullptr;
    QFrame* frame1 = nullptr;
    QLabel* tab_text_[6] = {};
    QLabel* tab_num_[6] = {};
    QLabel* tab_icon_[6] = {};
    QLabel* hdmi20_[2] = {};      // label_15, label_12
};

class InputChoose : public QDialog, private Ui_InputChoose {
    Q_OBJECT
public:
    explicit InputChoose(QWidget* parent = nullptr);
    ~InputChoose() override;

    void language_changed();
    // Rebuilds the source tiles of the open tab and page.
    void initSource();
    // Refreshes the crop counts, names and signal icons of the six tabs.
    void crop_source_num_update();
    // Redraws what differs between the parameter block and the copy the page
    // last drew from.
    void syncUpdate(int code);

    unsigned char image_index = 0;   // selected layer 0..5
    unsigned char source_index = 0;  // input number of the open tab
    unsigned char page_index = 0;    // page of source tiles shown
    unsigned char page_max = 0;      // last page
    QString source_name;
    QString crop_name;

public slots:
    void on_Button_HDMI1_clicked();
    void on_Button_HDMI2_clicked();
    void on_Button_HDMI3_clicked();
    void on_Button_HDMI4_clicked();
    void on_Button_DVI_clicked();
    void on_Button_EXT_clicked();
    void on_Button_back_clicked();

    void zdr_image_button_clicked();
    void zdr_source_button_clicked();
    void zdr_Button_menu_clicked();
    void zdr_Button_previous_clicked();
    void zdr_Button_next_clicked();
    void zdr_button_inputcut_clicked();
    void zdr_button_EDID_clicked();

private:
    void source_name_update();
    void source_check_update();
    void initMenu();
    void TextCreate(char layer, char);
    void input_source_changed(char layer);
    void image_select();
    void open_tab(int input, int frameX);
    // The selected layer's source: its input, and for a crop its position
    // in the input's crop-number order (0 for the plain input).
    int layer_source(int layer, int* position, int* cropNumber);

    QPushButton* button_inputcut = nullptr;
    QPushButton* button_edid = nullptr;
    QFrame* menu_frame_ = nullptr;
    QFrame* select_frame_ = nullptr;
    QLabel* layer_name_[6] = {};
    QFrame* source_frame_ = nullptr;
    // The block as the page last drew it (its enable and input words, the
    // signal records, the crop table): a refresh redraws what differs from
    // this, not from the file's copy (a store landing after the refresh's
    // copy reaches the file with that refresh, and is shown by the next).
    unsigned char shown_[para::kBlockSize] = {};
};

// The open input choice page, null while it is closed.
extern QPointer<InputChoose> g_inputchoose;
