#include "ui/picture/edidset.h"

#include "avchips/velmosource.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "ui/picture/inputchoose.h"
#include "ui/picture/picture_widgets.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_input.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"

#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <cstring>

QPointer<EDIDset> g_edidset;

namespace {

const char* const kWhite = "color: rgb(255, 255, 255);";
const char* const kFieldStyle =
    "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255, 255, 255);";

QFont points(int pt)
{
    return point_font(pt);
}

QLabel* label(QWidget* parent, const char* name, int x, int y, int w, int h, int pt, const char* style)
{
    return point_label(parent, name, x, y, w, h, pt, style);
}

ZdrRamPara* store()
{
    return ZdrRamPara::pInstance();
}

} // namespace


EDIDset::EDIDset(QWidget* parent) : QDialog(parent)
{
    setupUi(this);
    select_frame_ = new QFrame(this);
    select_frame_->setObjectName("select_frame");
    select_frame_->setGeometry(20, 68, 120, 85);
    select_frame_->setStyleSheet("border:1px solid;border-left-color:rgb(71, 119, 255);"
                                 "border-right-color:rgb(71, 119, 255);border-top-color:rgb(71, 119, 255);");
    select_frame_->lower();
    input_init();
    source_init();
    frame_add->hide();

    tile_font = points(12);
    const char* names[3] = {"button_cancel", "button_ok", "button_delete"};
    QPushButton** buttons[3] = {&button_cancel_, &button_ok_, &button_delete_};
    for (int i = 0; i < 3; ++i) {
        QPushButton* b = new QPushButton(this);
        b->setObjectName(names[i]);
        b->setFont(tile_font);
        b->setStyleSheet("color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);font:20px");
        b->hide();
        *buttons[i] = b;
    }
    connect(button_cancel_, &QPushButton::clicked, this, &EDIDset::zdr_button_cancel_clicked);
    connect(button_ok_, &QPushButton::clicked, this, &EDIDset::zdr_button_ok_clicked);
    connect(button_delete_, &QPushButton::clicked, this, &EDIDset::zdr_button_delete_clicked);
    connect(lineEdit_W, &My_lineEdit::send_show, this, &EDIDset::show_numberkeyboard_ui);
    connect(lineEdit_H, &My_lineEdit::send_show, this, &EDIDset::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &EDIDset::confirmString);
    language_changed();
}

EDIDset::~EDIDset() = default;

void Ui_EDIDset::setupUi(QDialog* dialog)
{
    picture_page_frame(dialog, "EDIDset");

    QPushButton* back = shell_back_button(dialog);
    back->setFocusPolicy(Qt::StrongFocus);
    label_title = label(dialog, "label_title", 101, 15, 598, 42, 18, kWhite);
    label_title->setAlignment(Qt::AlignCenter);

    const char* tabs[6] = {"label_3", "label_4", "label_5", "label_6", "label_7", "label_8"};
    const char* icons[6] = {"label_HDMI1", "label_HDMI2", "label_HDMI3", "label_HDMI4", "label_DVI", "label_EXT"};
    for (int b = 0; b < 6; ++b) {
        const int w = b < 4 ? 89 : 64;
        QLabel* tab = label(dialog, tabs[b], 20 + 130 * b + (120 - w) / 2, 73, w, 28, 13, kWhite);
        tab->setAlignment(Qt::AlignCenter);
        tab->setText(input_default_name(kInputOrder[b]));
        QLabel* icon = label(dialog, icons[b], 30 + 130 * b, 101, 100, 32, 12, "");
        icon->setScaledContents(true);
        icon->setPixmap(QPixmap(input_picture(kInputOrder[b], false)));
    }

    frame_add = new QFrame(dialog);
    frame_add->setObjectName("frame_add");
    frame_add->setGeometry(21, 260, 768, 130);
    frame_add->setFrameShape(QFrame::StyledPanel);
    frame_add->setFrameShadow(QFrame::Raised);
    label_edid_source = label(frame_add, "label_edid_source", 10, 30, 200, 28, 15, kWhite);
    label_W = label(frame_add, "label_W", 10, 83, 58, 28, 13, kWhite);
    label_H = label(frame_add, "label_H", 180, 83, 58, 28, 13, kWhite);
    label_W->setAlignment(Qt::AlignCenter);
    label_H->setAlignment(Qt::AlignCenter);
    My_lineEdit** fields[2] = {&lineEdit_W, &lineEdit_H};
    const char* fieldNames[2] = {"lineEdit_W", "lineEdit_H"};
    for (int i = 0; i < 2; ++i) {
        My_lineEdit* e = new My_lineEdit(frame_add);
        e->setObjectName(fieldNames[i]);
        e->setGeometry(70 + 170 * i, 72, 100, 50);
        e->setFont(points(15));
        e->setStyleSheet(kFieldStyle);
        e->setAlignment(Qt::AlignCenter);
        *fields[i] = e;
    }
    label_freq = label(frame_add, "label_freq", 360, 83, 130, 28, 13, kWhite);
    label_freq->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont arrow = points(25);
    arrow.setBold(false);
    Button_left = new QPushButton("<", frame_add);
    Button_left->setObjectName("Button_left");
    Button_right = new QPushButton(">", frame_add);
    Button_right->setObjectName("Button_right");
    for (QPushButton* b : {Button_left, Button_right}) {
        b->setFont(arrow);
        b->setStyleSheet(kFieldStyle);
    }
    label_rate = label(frame_add, "label_rate", 544, 72, 92, 50, 15, kFieldStyle);
    label_rate->setAlignment(Qt::AlignCenter);
    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_EDIDset::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle("Dialog");
    label_title->setText(QString::fromUtf8("设置EDID"));
    label_edid_source->setText(QString::fromUtf8("EDID信源: HDMI1"));
    label_W->setText(QString::fromUtf8("宽"));
    label_H->setText(QString::fromUtf8("高"));
    label_freq->setText(QString::fromUtf8("刷新率"));
    lineEdit_W->setText("1920");
    lineEdit_H->setText("1080");
    label_rate->setText("60");
}

void EDIDset::input_init()
{
    for (int b = 0; b < 6; ++b) {
        QPushButton* button = new QPushButton(this);
        button->setObjectName(QString::number(b));
        button->setGeometry(21 + 130 * b, 69, 118, 83);
        button->setFlat(true);
        connect(button, &QPushButton::clicked, this, &EDIDset::zdr_button_input_clicked);
    }
}

QString EDIDset::source_prefix() const
{
    return ui_text("EDID信源:", "EDID source:", "Источник EDID:", "Tín hiệu EDID:");
}

void EDIDset::language_changed()
{
    label_title->setText(ui_text("设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID"));
    label_edid_source->setText(source_prefix() + source_name);
    label_W->setText(ui_text("宽", "W", "Ширина", "Rộng"));
    label_H->setText(ui_text("高", "H", "Высота", "Cao"));
    label_freq->setText(ui_text("刷新率", "Refresh rate", "Частота", "Tần số"));
    button_cancel_->setText(ui_text("取消", "Cancle", "Отмена", "Hủy bỏ"));
    button_ok_->setText(ui_text("保存", "SAVE", "Сохранить", "lưu"));
    button_delete_->setText(ui_text("删除", "Delete", "Удалить", "Xoá bỏ"));
    const int lang = ui_language();
    const int shift = lang == 0 ? 0 : 60;
    label_freq->setGeometry(360, 83, lang == 0 ? 70 : 130, 28);
    Button_left->setGeometry(440 + shift, 72, 44, 50);
    label_rate->setGeometry(484 + shift, 72, lang == 3 ? 72 : 92, 50);
    Button_right->setGeometry(lang == 3 ? 616 : 576 + shift, 72, 44, 50);
}

void EDIDset::source_init()
{
    dispose_frame(frame_source_);
    frame_source_ = new QFrame(this);
    frame_source_->setObjectName("frame_source");
    frame_source_->setGeometry(20, 152, 770, 240);
    frame_source_->setStyleSheet("#frame_source{border:1px solid rgb(71, 119, 255);}");
    frame_source_->lower();

    QFrame* tile = new QFrame(frame_source_);
    tile->setObjectName("source_tile");
    tile->setGeometry(10, 15, 220, 90);
    tile->setStyleSheet("background-color: #212435;border:1px solid #CCCCCC;");
    QLabel* dot = new QLabel(frame_source_);
    dot->setGeometry(20, 25, 14, 14);
    dot->setStyleSheet("background-color:#00D65B;border:0px groove gray;border-radius:7px;");
    QLabel* kind = new QLabel(frame_source_);
    kind->setGeometry(39, 20, 63, 24);
    kind->setScaledContents(true);
    kind->setStyleSheet("background-color: #212435;");
    kind->setPixmap(QPixmap(source_index == 1 ? ":/png/DVI.png" : ":/png/HDMI.png"));
    QLabel* name = new QLabel(source_name, frame_source_);
    name->setObjectName("source_name");
    QLabel* size = new QLabel(frame_source_);
    size->setObjectName("source_size");
    name->setGeometry(20, 44, 172, 28);
    size->setGeometry(20, 72, 172, 28);
    for (QLabel* l : {name, size}) {
        l->setFont(tile_font);
        l->setStyleSheet("background-color:#212435;color:#FFFFFF");
    }
    unsigned char block[para::kBlockSize];
    store()->snapshot_block(block);   // the PC writes the EDID records too
    const int at = para::edid(source_index);
    std::memcpy(shown_edid_, block + at, sizeof shown_edid_);
    std::memcpy(shown_signal_, block + para::inputSignal(source_index), sizeof shown_signal_);
    size->setText(QString("%1x%2@%3Hz")
                      .arg(static_cast<int16_t>(le16(block, at)))
                      .arg(static_cast<int16_t>(le16(block, at + 2)))
                      .arg(static_cast<int16_t>(le16(block, at + 4))));
    QPushButton* over = new QPushButton(frame_source_);
    over->setGeometry(11, 16, 218, 88);
    over->setFlat(true);
    connect(over, &QPushButton::clicked, this, &EDIDset::zdr_button_source_clicked);
    frame_source_->show();
}

void EDIDset::zdr_button_input_clicked()
{
    const int b = shell_button_index(sender(), 6);
    if (b < 0)
        return;
    source_index = static_cast<unsigned char>(kInputOrder[b]);
    source_name = input_default_name(source_index);
    select_frame_->setGeometry(20 + 130 * b, 68, 120, 85);
    source_init();
    zdr_button_cancel_clicked();
}

void EDIDset::zdr_button_source_clicked()
{
    label_edid_source->setText(source_prefix() + source_name);
    unsigned char block[para::kBlockSize];
    store()->snapshot_block(block);
    const int at = para::edid(source_index);
    lineEdit_W->setText(QString::number(le16(block, at)));
    lineEdit_H->setText(QString::number(le16(block, at + 2)));
    // The arrows step from the rate the record holds: 30 goes to 60, any
    // other rate to 30.
    refresh_rate = le16(block, at + 4) == 30 ? 30 : 60;
    label_rate->setText(QString::number(le16(block, at + 4)));
    button_delete_->setGeometry(80, 406, 180, 60);
    button_cancel_->setGeometry(310, 406, 180, 60);
    button_ok_->setGeometry(540, 406, 180, 60);
    frame_add->show();
    frame_add->raise();
    for (QPushButton* b : {button_cancel_, button_ok_, button_delete_})
        b->show();
}

void EDIDset::on_Button_left_clicked()
{
    refresh_rate = refresh_rate == 30 ? 60 : 30;
    label_rate->setText(QString::number(refresh_rate));
}

void EDIDset::on_Button_right_clicked()
{
    on_Button_left_clicked();
}

void EDIDset::zdr_button_ok_clicked()
{
    // Only a size an EDID can carry is stored; otherwise the editor stays
    // open and the record as it was.
    int width = 0, height = 0, rate = 0;
    if (!keypad_number(lineEdit_W->text(), velmosource::kEdidMinSize, velmosource::kEdidMaxSize, &width) ||
        !keypad_number(lineEdit_H->text(), velmosource::kEdidMinSize, velmosource::kEdidMaxSize, &height) ||
        !keypad_number(label_rate->text(), -32768, 32767, &rate) ||
        !velmosource::edid_timing_fits(width, height, rate))
        return;
    store()->ZdrSetEDIDPara(source_index, static_cast<short>(width), static_cast<short>(height),
                            static_cast<short>(rate));
    source_init();
    zdr_button_cancel_clicked();
}

void EDIDset::zdr_button_cancel_clicked()
{
    frame_add->hide();
    for (QPushButton* b : {button_cancel_, button_ok_, button_delete_})
        b->hide();
}

void EDIDset::zdr_button_delete_clicked()
{
    zdr_button_cancel_clicked();
}

void EDIDset::show_numberkeyboard_ui(QString data)
{
    My_lineEdit* field = qobject_cast<My_lineEdit*>(sender());
    if (!field || !g_numberkeyboard)
        return;
    g_lineedit = field;
    const bool zh = ui_language() == 0;
    const QString title = field == lineEdit_W ? (zh ? QString::fromUtf8("宽") : QString("W"))
                                              : (zh ? QString::fromUtf8("高") : QString("H"));
    g_numberkeyboard->label_show(title, data);
    g_numberkeyboard->exec();
}

void EDIDset::confirmString(QString data)
{
    // Only the results for this page's own fields.
    // A size no EDID can carry is refused: the field keeps its value.
    if (g_lineedit && (g_lineedit == lineEdit_W || g_lineedit == lineEdit_H) &&
        keypad_number(data, velmosource::kEdidMinSize, velmosource::kEdidMaxSize))
        g_lineedit->setText(data);
}

void EDIDset::on_Button_back_clicked()
{
    g_edidset = nullptr;
    const int below = g_inputchoose ? kFocusInputChoose : kFocusHome;
    shell_close_page(this, below);
    if (g_inputchoose) {
        g_inputchoose->language_changed();
        g_inputchoose->initSource();
    }
}

void EDIDset::syncUpdate()
{
    ZdrRamPara* s = store();
    if (s->ZdrLanguageChanged())
        language_changed();
    // The PC writes the EDID records and the receiver drivers the input's
    // signal record: the tile is drawn again when either differs from what
    // it was drawn with. An open edit frame keeps what the operator typed.
    unsigned char block[para::kBlockSize];
    s->snapshot_block(block);
    if (std::memcmp(block + para::edid(source_index), shown_edid_, sizeof shown_edid_) != 0 ||
        std::memcmp(block + para::inputSignal(source_index), shown_signal_, sizeof shown_signal_) != 0)
        source_init();
}
