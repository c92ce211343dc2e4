#include "ui/shell/numberkeyboard.h"

#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
const char* const kKeyStyle =
    "QPushButton{background-color:#212435;color:#FFFFFF;border:1px solid #3A3F5C;border-radius:8px;}"
    "QPushButton:pressed{background-color:#4777FF;}";

// The text's decimal number: +1 or -1 in *sign, the value in *magnitude,
// held at a bound above any int when it has more digits than fit.
bool decimal_of(const QString& text, int* sign, long long* magnitude)
{
    const QString t = text.trimmed();
    int i = 0;
    *sign = 1;
    if (i < t.size() && (t[i] == '-' || t[i] == '+'))
        *sign = t[i++] == '-' ? -1 : 1;
    if (i == t.size())
        return false;
    const long long kBeyond = 1LL << 40;
    long long m = 0;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c < '0' || c > '9')
            return false;
        m = m * 10 + (c.unicode() - '0');
        if (m > kBeyond)
            m = kBeyond;
    }
    *magnitude = m;
    return true;
}

} // namespace

bool keypad_number(const QString& text, int lo, int hi, int* value)
{
    int sign = 1;
    long long m = 0;
    if (!decimal_of(text, &sign, &m))
        return false;
    const long long v = sign * m;
    if (v < lo || v > hi)
        return false;
    if (value)
        *value = static_cast<int>(v);
    return true;
}

bool keypad_held(const QString& text, int lo, int hi, int* value)
{
    int sign = 1;
    long long m = 0;
    if (!decimal_of(text, &sign, &m))
        return false;
    const long long v = sign * m;
    *value = v < lo ? lo : v > hi ? hi : static_cast<int>(v);
    return true;
}

NumberKeyboard::NumberKeyboard(QWidget* parent)
    : QDialog(parent)
{
    setObjectName("NumberKeyboard");
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(380, 480);
    setStyleSheet("QDialog{background-color:#181A28;border:1px solid #4777FF;} QLabel{color:#FFFFFF;}");

    label_title = shell_label(this, "label_title", 10, 5, 300, 50, 25);
    QPushButton* close = shell_button(this, "Button_close", 320, 5, 50, 50, kKeyStyle);
    close->setText(QString::fromUtf8("×"));
    QFont closeFont = close->font();
    closeFont.setPixelSize(32);
    close->setFont(closeFont);

    lineEdit_display = new QLineEdit(this);
    lineEdit_display->setObjectName("lineEdit_display");
    lineEdit_display->setGeometry(10, 65, 360, 60);
    lineEdit_display->setReadOnly(true);
    lineEdit_display->setFocusPolicy(Qt::NoFocus);
    lineEdit_display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_display->setStyleSheet("background-color:#10101C;color:#FFFFFF;border:1px solid #3A3F5C;");
    QFont f = lineEdit_display->font();
    f.setPixelSize(30);
    lineEdit_display->setFont(f);

    // Keys: 1 2 3 / 4 5 6 / 7 8 9 / C 0 X, then OK across the bottom.
    const char* const keys[12] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "C", "0", "X"};
    for (int i = 0; i < 12; ++i) {
        const int x = 10 + 122 * (i % 3);
        const int y = 135 + 70 * (i / 3);
        const QString key = keys[i];
        const bool digit = key[0].isDigit();
        // Digit keys carry their digit as object name and share one slot.
        const QByteArray name = digit ? key.toLatin1() : ("Button_" + key).toLatin1();
        QPushButton* button = shell_button(this, name.constData(), x, y, 114, 62, kKeyStyle);
        button->setText(key);
        if (digit)
            connect(button, &QPushButton::clicked, this, &NumberKeyboard::zdr_button_digit_clicked);
    }
    Button_OK = shell_button(this, "Button_OK", 10, 415, 360, 58);
    language_changed();
    QMetaObject::connectSlotsByName(this);
}

void NumberKeyboard::language_changed()
{
    Button_OK->setText(ui_text("确定", "OK", "ОК", "Đồng ý"));
}

void NumberKeyboard::label_show(QString title, QString text)
{
    QFont f = label_title->font();
    f.setPixelSize(title.length() == 4 ? 18 : 25);
    label_title->setFont(f);
    label_title->setText(title);
    keyboard_str.clear();
    lineEdit_display->setText(text);
    language_changed();
}

QString NumberKeyboard::display_text() const
{
    return lineEdit_display->text();
}

void NumberKeyboard::zdr_button_digit_clicked()
{
    QObject* key = sender();
    if (!key)
        return;
    // A leading 0 is not kept.
    if (keyboard_str == "0")
        keyboard_str.clear();
    keyboard_str += key->objectName();
    lineEdit_display->setText(keyboard_str);
}

void NumberKeyboard::on_Button_C_clicked()
{
    keyboard_str = "0";
    lineEdit_display->setText(keyboard_str);
}

void NumberKeyboard::on_Button_X_clicked()
{
    keyboard_str = lineEdit_display->text();
    keyboard_str.chop(1);
    lineEdit_display->setText(keyboard_str);
}

void NumberKeyboard::on_Button_OK_clicked()
{
    emit sendKeyBoardUIDataToLineEdit(lineEdit_display->text());
    accept();
}

void NumberKeyboard::on_Button_close_clicked()
{
    reject();
}
