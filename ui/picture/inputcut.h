// The crop editor (page focus 7): per input, the input itself and its crops
// as tiles, six to a page; a crop can be added, changed and deleted. Every
// change goes through the crop operations of the parameter store.
#pragma once

#include "core/para_layout.h"

#include <QDialog>
#include <QFont>
#include <QPointer>
#include <QString>
#include <functional>

class QFrame;
class QLabel;
class QPushButton;
class My_lineEdit;

// The form of the page (made in code).
struct Ui_InputCut {
    QLabel* label_title = nullptr;
    QPushButton* Button_back = nullptr;
    QLabel* tab[6] = {};      // label_3 .. label_8
    QLabel* count[6] = {};    // HDMI1_num .. EXT_num
    QLabel* picture[6] = {};  // label_HDMI1 .. label_EXT
    QFrame* frame_add = nullptr;
    QLabel* label_change_source = nullptr;
    QLabel* label_crop = nullptr;
    QLabel* label_X = nullptr;
    QLabel* label_Y = nullptr;
    QLabel* label_W = nullptr;
    QLabel* label_H = nullptr;
    My_lineEdit* lineEdit_X = nullptr;
    My_lineEdit* lineEdit_Y = nullptr;
    My_lineEdit* lineEdit_W = nullptr;
    My_lineEdit* lineEdit_H = nullptr;

    // Builds the widgets, then sets the form's own texts (the Chinese
    // defaults the page replaces).
    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

class InputCut : public QDialog {
    Q_OBJECT
public:
    explicit InputCut(QWidget* parent = nullptr);
    ~InputCut() override;

    void language_changed();
    void syncUpdate(int code);
    void source_init();
    void input_init();
    void crop_source_num_update();
    void para_changed_over();

    // Page state, readable by tests.
    unsigned char source_index = 2;
    unsigned char page_index = 0;
    unsigned char page_max = 0;
    unsigned char crop_index = 0;
    unsigned char crop_adding = 0;
    QString source_name;
    QString crop_name;
    QFont tile_font;

    Ui_InputCut* ui = nullptr;

public slots:
    void zdr_button_input_clicked();
    void zdr_button_source_clicked();
    void zdr_button_add_clicked();
    void zdr_Button_previous_clicked();
    void zdr_Button_next_clicked();
    void zdr_button_cancel_clicked();
    void zdr_button_ok_clicked();
    void zdr_button_delete_clicked();
    void show_numberkeyboard_ui(QString data);
    void confirmString(QString data);
    void on_Button_back_clicked();

private:
    void edit_line_update();
    // Shows frame_add with the values and the action buttons.
    void edit_line_open(int x, int y, int w, int h, bool existing);
    void crops_changed();
    // The record and head of the crop being edited, taken when its tile was
    // touched: OK and Delete act only while that crop is still at crop_index.
    bool edited_crop_still_there() const;
    // Runs store (a store of the crop being edited) only while that crop
    // is still there, looked at in the same hold of the manage mutex.
    void edited_crop_store(const std::function<void()>& store);

    QFrame* select_frame_ = nullptr;
    QFrame* frame_source_ = nullptr;
    QPushButton* add_button_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* delete_ = nullptr;
    int edited_record_ = -1;
    unsigned edited_head_ = 0;
    // The crop table as the tiles and counts last showed it: a refresh
    // redraws when the block differs from this, not from the file's copy (a
    // store landing after the refresh's copy reaches the file with that
    // refresh, and is shown by the next).
    unsigned char shown_crops_[para::kCropSize * para::kCropCount] = {};
    // The open input's signal record as its tile last showed it.
    unsigned char shown_signal_[6] = {};
};

// The open crop editor, null while it is closed.
extern QPointer<InputCut> g_inputcut;

// Set by the input choice page while it is open: Back of the crop editor
// then returns to it (relabel, focus 3, tiles and counts redrawn) and the
// hook returns true. Unset or returning false, Back returns to the
// settings menu.
extern bool (*g_inputcut_back_to_choose)();
