// The user modes page (page focus 4): the 16 user-mode slots as a column of
// tiles, the summary and a preview of the selected slot's six windows and
// OSD text, and its Use (recall the slot into the parameter block) and
// Delete buttons.
#pragma once

#include "core/zdrrampara.h"

#include <QDialog>
#include <QFont>
#include <QPointer>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

// The form of the page: its widgets, built on the dialog by setupUi with
// the form's own (Chinese default) texts, which the page replaces; setupUi
// connects the dialog's on_ slots by name. The tile column, the in-use
// badge and the preview are made at run time by the page.
class Ui_CustomMode {
public:
    void setupUi(QDialog* dialog);

    QPushButton* Button_back = nullptr;
    QFrame* frame = nullptr;
    QPushButton* Button_delete = nullptr;
    QPushButton* Button_use = nullptr;
    QLabel* label = nullptr;
    QLineEdit* lineEdit = nullptr;
    QLabel* label_ID = nullptr;
    QLabel* label_name = nullptr;
    QLabel* label_LED = nullptr;
    QLabel* label_brightness = nullptr;
    QLabel* label_using = nullptr;
    QLabel* label_blank = nullptr;
    QLabel* label_title = nullptr;
};

class CustomMode : public QDialog, private Ui_CustomMode {
    Q_OBJECT
public:
    explicit CustomMode(QWidget* parent = nullptr);
    ~CustomMode() override;

    // Rebuilds the tile column.
    void init();
    // Fills the summary lines of the selected slot.
    void lcd_para_init();
    // Rebuilds the preview of the selected slot and decides which summary
    // lines stay visible.
    void image_para_init();
    // The colour of a layer badge.
    void color_fill(QLabel* label, char layer);
    void language_changed();
    // Relabels on a language change; rebuilds on a change of the mode in use,
    // and redraws the summary and preview on a change of the selected slot.
    void syncUpdate();

    // The preview of the selected slot (null while the slot is empty).
    QWidget* previewWidget() const { return preview; }

public slots:
    void on_Button_back_clicked();
    void on_Button_use_clicked();
    void on_Button_delete_clicked();
    void zdr_button_mode_clicked();

private:
    void highlight(QPushButton* pressed);

    QScrollArea* mode_scroll = nullptr;
    QWidget* mode_container = nullptr;
    QLabel* using_badge = nullptr;
    QWidget* preview = nullptr;
    QFont para_font;
    // The mode in use (block 866) and the selected slot (marker and data)
    // as the page last showed them: a refresh redraws when the store
    // differs from these, not from the file's copy (a store landing after
    // the refresh's copy reaches the file with that refresh, and is shown
    // by the next).
    unsigned shown_mode_ = 0;
    unsigned char shown_slot_[ZdrRamPara::kSlotSize] = {};
};

// The open user modes page, null while it is closed.
extern QPointer<CustomMode> g_custommode;
// The frame of each mode tile by slot, refilled by every CustomMode::init().
extern QFrame* g_frame[16];
// The action button (Use or Delete) drawn highlighted.
extern QPointer<QPushButton> g_button_focus;

// The preview's pieces, also used by its tests.
// The source line of a window: input name, "_Crop<k+1>" for crop record k,
// a blank and the on/off word of the language.
QString custommode_source_text(int input, bool isCrop, int cropRecord, bool on);
// The OSD sample text: at most the first three lines.
QString custommode_osd_sample(const QString& texts);
// A colour of the OSD file as six hexadecimal digits for a style sheet, or
// fallback when it does not hold one.
QString custommode_osd_color(const std::string& color, const char* fallback);
