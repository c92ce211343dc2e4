// The one number keypad of the touch screen (g_numberkeyboard): a modal
// dialog over the right part of the screen that number fields open.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// What the pages take from the keypad's text. Both read a decimal number
// however many digits it has, so a number too large for an int is too large,
// never "no number" and never a wrapped value.
//
// keypad_number: a number from lo to hi, stored into *value. False for
// anything else (an empty field, other characters, a number out of range):
// the page then keeps what it had.
bool keypad_number(const QString& text, int lo, int hi, int* value = nullptr);
// keypad_held: a number held to lo..hi (below lo gives lo, above hi gives
// hi), stored into *value. False only for text that is no number.
bool keypad_held(const QString& text, int lo, int hi, int* value);

class NumberKeyboard : public QDialog {
    Q_OBJECT
public:
    explicit NumberKeyboard(QWidget* parent = nullptr);

    // Shows title (18-pixel font for a 4-character title, else 25), empties
    // the typed digits, shows text and relabels the keys for g_language. The
    // caller then runs the keypad with exec().
    void label_show(QString title, QString text);

    // The keypad's display.
    QString display_text() const;

signals:
    // OK: the display's text; the keypad then hides.
    void sendKeyBoardUIDataToLineEdit(QString text);

public slots:
    void zdr_button_digit_clicked();
    void on_Button_C_clicked();
    void on_Button_X_clicked();
    void on_Button_OK_clicked();
    void on_Button_close_clicked();

private:
    void language_changed();

    QLabel* label_title = nullptr;
    QLineEdit* lineEdit_display = nullptr;
    QPushButton* Button_OK = nullptr;
    // The digits typed since label_show.
    QString keyboard_str;
};
