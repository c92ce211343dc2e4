// The EDID settings page (page focus 8), opened from the input choice page:
// for each input the resolution and refresh rate its EDID announces, with
// width, height and a 30 or 60 Hz refresh rate to set. A stored record is
// written into the input's EDID memory by the chip and input managers.
#pragma once

#include <QDialog>
#include <QFont>
#include <QPointer>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;
class My_lineEdit;

// The form of the page: its widgets, built on the dialog by setupUi, which
// then sets the form's own texts (retranslateUi, the Chinese defaults the
// page replaces) and connects the dialog's slots by name.
class Ui_EDIDset {
public:
    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);

    QLabel* label_title = nullptr;
    QFrame* frame_add = nullptr;
    QLabel* label_edid_source = nullptr;
    QLabel* label_W = nullptr;
    QLabel* label_H = nullptr;
    QLabel* label_freq = nullptr;
    QLabel* label_rate = nullptr;
    QPushButton* Button_left = nullptr;
    QPushButton* Button_right = nullptr;
    My_lineEdit* lineEdit_W = nullptr;
    My_lineEdit* lineEdit_H = nullptr;
};

class EDIDset : public QDialog, private Ui_EDIDset {
    Q_OBJECT
public:
    explicit EDIDset(QWidget* parent = nullptr);
    ~EDIDset() override;

    void language_changed();
    void syncUpdate();
    void source_init();
    void input_init();

    unsigned char source_index = 2;
    unsigned char refresh_rate = 60;
    QString source_name = "HDMI1";
    QFont tile_font;

public slots:
    void on_Button_left_clicked();
    void on_Button_right_clicked();
    void zdr_button_input_clicked();
    void zdr_button_source_clicked();
    void zdr_button_cancel_clicked();
    void zdr_button_ok_clicked();
    void zdr_button_delete_clicked();
    void show_numberkeyboard_ui(QString data);
    void confirmString(QString data);
    void on_Button_back_clicked();

private:
    QString source_prefix() const;

    QFrame* select_frame_ = nullptr;
    QFrame* frame_source_ = nullptr;
    QPushButton* button_cancel_ = nullptr;
    QPushButton* button_ok_ = nullptr;
    QPushButton* button_delete_ = nullptr;
    // The open input's EDID record and signal record as the tile was last
    // drawn with them: a refresh redraws the tile when the block differs
    // from these, not from the file's copy (a store landing after the
    // refresh's copy reaches the file with that refresh, and is shown by
    // the next).
    unsigned char shown_edid_[6] = {};
    unsigned char shown_signal_[6] = {};
};

// The open EDID settings page, null while it is closed.
extern QPointer<EDIDset> g_edidset;
