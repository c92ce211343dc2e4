// The window layout page (page focus 9), opened from the settings menu: a
// strip of six coloured window tiles, and for the chosen window its name,
// on/off state, source, rectangle on the LED screen, mirror mode and
// point-to-point mode. Every change goes into the window's layer record of
// the parameter block under the c331 manage mutex; the chip thread applies
// it and the refresh after its pass redraws the page. A refresh shows what
// is stored and stores nothing: only the operator's choice stores (the
// lists store on their activated signal, never when a refresh sets them).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class My_lineEdit;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

class Ui_ImageLayout {
public:
    QLabel* label_title;
    QFrame* line;
    QLabel *image_name, *image_state, *image_source, *label_backup;
    QLabel* label_X;
    My_lineEdit* lineEdit_X;
    QLabel* label_Y;
    My_lineEdit* lineEdit_Y;
    QLabel* label_W;
    My_lineEdit* lineEdit_W;
    QLabel* label_H;
    My_lineEdit* lineEdit_H;
    QLabel* label_mirror;
    QPushButton *Button_cancel, *Button_ok, *Button_back;
    QPushButton *mirror1, *mirror2, *mirror3, *mirror4;
    QPushButton* button_state;
    QComboBox* comboBox;
    QPushButton* Button_source_select;
    QLabel* label_P2P;
    QComboBox* comboBox_P2P;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

class ImageLayout : public QDialog {
    Q_OBJECT
public:
    explicit ImageLayout(QWidget* parent = nullptr);
    ~ImageLayout() override;

    void image_init();
    void TextCreate(char window, char unused = 0);
    void image_para_update();
    void mirror_select(int mode);
    void language_changed();
    void syncUpdate();

    // The window whose details are shown, 0..5.
    int current_window() const { return image_index; }
    // The name line of window i's tile.
    QString tile_name(int i) const;

public slots:
    void on_Button_back_clicked();
    void zdr_image_button_clicked();
    void on_button_state_clicked();
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);
    void on_mirror1_clicked();
    void on_mirror2_clicked();
    void on_mirror3_clicked();
    void on_mirror4_clicked();
    void on_comboBox_P2P_activated(int index);
    void on_comboBox_activated(int index);
    void on_Button_source_select_clicked();
    void on_Button_ok_clicked();
    void on_Button_cancel_clicked();

private:
    void mirror_set(int mode);
    // Stores the window's rectangle (X, Y, W, H); with a bound (the block
    // offset of the LED width or height), only while extent stays within
    // it, read in the hold that stores. False when refused.
    bool rect_store(const int rect[4], int boundOffset = -1, long long extent = 0);
    // The rectangle the fields hold.
    void fields_rect(int rect[4]) const;
    void focus_move(QPushButton* button);
    // A word of the chosen window's layer record in block.
    int layer_word(const unsigned char* block, int offset) const;

    Ui_ImageLayout* ui;
    unsigned char image_state_on = 1;
    unsigned char image_index = 0;
    QFrame* layer_strip_ = nullptr;
    QFrame* select_frame_ = nullptr;
    QLabel* image_label[6] = {};
    // Each tile's enable and input words as the strip shows them: a
    // refresh rebuilds the strip when the block differs from these, not
    // from the file's copy (a store landing after the strip's copy reaches
    // the file with that refresh, and is shown by the next).
    unsigned short strip_shown_[6][2] = {};
    QPushButton* focus_button = nullptr;
    QString text_;
};

// The open window layout page, null while it is closed.
extern QPointer<ImageLayout> g_imagelayout;
