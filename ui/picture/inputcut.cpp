#include "ui/picture/inputcut.h"

#include "core/alias.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "ui/picture/picture_widgets.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_input.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "videochip/c331_manage.h"

#include <QFontMetrics>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <cstring>

QPointer<InputCut> g_inputcut;
bool (*g_inputcut_back_to_choose)() = nullptr;

namespace {

const char* const kWhite13 = "color: rgb(255, 255, 255);";
const char* const kFieldStyle =
    "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255, 255, 255);";
const char* const kActionButtonStyle = "color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);font:20px";
const char* const kTileText = "background-color:#212435;color:#FFFFFF";

// Input button b: input number, fixed name, form picture.
struct InputTab {
    int input;
    const char* name;
    const char* tab;
    const char* count;
    const char* picture;
    const char* png;
};
const InputTab kTabs[6] = {
    {2, "HDMI1", "label_3", "HDMI1_num", "label_HDMI1", ":/png/HDMI13.png"},
    {3, "HDMI2", "label_4", "HDMI2_num", "label_HDMI2", ":/png/HDMI13.png"},
    {4, "HDMI3", "label_5", "HDMI3_num", "label_HDMI3", ":/png/HDMI20.png"},
    {5, "HDMI4", "label_6", "HDMI4_num", "label_HDMI4", ":/png/HDMI20.png"},
    {1, "DVI", "label_7", "DVI_num", "label_DVI", ":/png/DVI.png"},
    {0, "EXT", "label_8", "EXT_num", "label_EXT", ":/png/HDMI.png"},
};

QLabel* pointLabel(QWidget* parent, const char* name, int x, int y, int w, int h, int points, const char* style)
{
    QLabel* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(x, y, w, h);
    QFont font;
    font.setPointSize(points);
    label->setFont(font);
    label->setStyleSheet(style);
    return label;
}

QPushButton* iconButton(QWidget* parent, const char* png, int x, int y)
{
    QPushButton* b = new QPushButton(parent);
    b->setGeometry(x, y, 50, 50);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFlat(true);
    b->setIcon(QIcon(png));
    b->setIconSize(QSize(50, 50));
    return b;
}

// A crop field holds a signed 16-bit number.
constexpr int kFieldMin = -32768;
constexpr int kFieldMax = 32767;

bool fieldValue(const QLineEdit* field, int* value)
{
    return keypad_number(field->text(), kFieldMin, kFieldMax, value);
}

} // namespace

// --- the form ---------------------------------------------------------------

void Ui_InputCut::setupUi(QDialog* dialog)
{
    shell_page_frame(dialog, "InputCut");
    dialog->setStyleSheet("background-color: rgb(16, 16, 28);");
    Button_back = new QPushButton(dialog);
    Button_back->setObjectName("Button_back");
    Button_back->setGeometry(11, 11, 50, 50);
    Button_back->setFocusPolicy(Qt::NoFocus);
    Button_back->setFlat(true);
    label_title = pointLabel(dialog, "label_title", 200, 11, 400, 50, 18, kWhite13);
    label_title->setAlignment(Qt::AlignCenter);
    for (int i = 0; i < 6; ++i) {
        const int x = 30 + 130 * i;
        const int w = i < 4 ? 57 : 32;
        tab[i] = pointLabel(dialog, kTabs[i].tab, x, 73, w, 27, 13, kWhite13);
        if (i < 4)
            tab[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        count[i] = pointLabel(dialog, kTabs[i].count, x + w + 4, 73, 50, 27, 13, "color: rgb(71, 119, 255);");
        picture[i] = pointLabel(dialog, kTabs[i].picture, x, 106, 100, 32, 13, "");
    }
    frame_add = new QFrame(dialog);
    frame_add->setObjectName("frame_add");
    frame_add->setGeometry(21, 260, 768, 130);
    frame_add->setFrameShape(QFrame::StyledPanel);
    frame_add->setFrameShadow(QFrame::Raised);
    label_change_source = pointLabel(frame_add, "label_change_source", 10, 30, 280, 28, 13, kWhite13);
    // The row of captions and fields: the fields keep their size; the
    // captions take the rest of the row, the one-letter X and Y little and
    // W and H (a word in some languages) the most, so that every caption
    // stands in the form's font.
    label_crop = pointLabel(frame_add, "label_crop", 10, 82, 96, 30, 13, kWhite13);
    QLabel** captions[4] = {&label_X, &label_Y, &label_W, &label_H};
    My_lineEdit** fields[4] = {&lineEdit_X, &lineEdit_Y, &lineEdit_W, &lineEdit_H};
    const char* const captionNames[4] = {"label_X", "label_Y", "label_W", "label_H"};
    const char* const fieldNames[4] = {"lineEdit_X", "lineEdit_Y", "lineEdit_W", "lineEdit_H"};
    const int captionWidth[4] = {30, 30, 84, 84};
    int x = 110;
    for (int i = 0; i < 4; ++i) {
        *captions[i] = pointLabel(frame_add, captionNames[i], x, 82, captionWidth[i], 30, 13, kWhite13);
        (*captions[i])->setAlignment(Qt::AlignCenter);
        x += captionWidth[i] + 2;
        My_lineEdit* field = new My_lineEdit(frame_add);
        field->setObjectName(fieldNames[i]);
        field->setGeometry(x, 72, 100, 50);
        x += 100 + 6;
        QFont font;
        font.setPointSize(13);
        field->setFont(font);
        field->setStyleSheet(kFieldStyle);
        field->setAlignment(Qt::AlignCenter);
        *fields[i] = field;
    }
    retranslateUi(dialog);
}

void Ui_InputCut::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle("Dialog");
    for (int i = 0; i < 6; ++i) {
        tab[i]->setText(kTabs[i].name);
        count[i]->setText("(X)");
    }
    label_change_source->setText("HDMI-Crop-3");
    for (My_lineEdit* field : {lineEdit_X, lineEdit_Y, lineEdit_W, lineEdit_H})
        field->setText("9999");
    label_X->setText("X");
    label_Y->setText("Y");
    label_title->setText("输入截取");
    label_crop->setText("截取:");
    label_W->setText("宽");
    label_H->setText("高");
}

// --- construction -----------------------------------------------------------

InputCut::InputCut(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_InputCut)
{
    ui->setupUi(this);
    source_index = 2;
    page_index = page_max = 0;
    tile_font.setPointSize(12);

    shell_back_look(ui->Button_back);
    for (int i = 0; i < 6; ++i)
        ui->picture[i]->setPixmap(QPixmap(kTabs[i].png).scaled(ui->picture[i]->size()));

    select_frame_ = new QFrame(this);
    select_frame_->setGeometry(20, 68, 120, 85);
    select_frame_->setStyleSheet("border:1px solid;border-left-color:rgb(71, 119, 255);"
                                 "                                     border-right-color:rgb(71, 119, 255);"
                                 "                                     border-top-color:rgb(71, 119, 255);");
    select_frame_->lower();

    // What the page draws below is at least as new as this copy.
    ZdrRamPara::pInstance()->block_bytes(para::kCropTable, shown_crops_, sizeof shown_crops_);
    crop_source_num_update();
    source_name = "HDMI1";
    ZdrRamPara::pInstance()->ZdrCropSourceInit();
    input_init();
    source_init();
    ui->frame_add->hide();

    QPushButton** actions[3] = {&cancel_, &ok_, &delete_};
    const char* const names[3] = {"Button_cancel", "Button_ok", "Button_delete"};
    for (int i = 0; i < 3; ++i) {
        QPushButton* b = new QPushButton(this);
        b->setObjectName(names[i]);
        b->setFont(tile_font);
        b->setStyleSheet(kActionButtonStyle);
        b->setFocusPolicy(Qt::NoFocus);
        b->hide();
        *actions[i] = b;
    }
    connect(cancel_, &QPushButton::clicked, this, &InputCut::zdr_button_cancel_clicked);
    connect(ok_, &QPushButton::clicked, this, &InputCut::zdr_button_ok_clicked);
    connect(delete_, &QPushButton::clicked, this, &InputCut::zdr_button_delete_clicked);

    for (My_lineEdit* field : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H})
        connect(field, &My_lineEdit::send_show, this, &InputCut::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &InputCut::confirmString);

    language_changed();
    QMetaObject::connectSlotsByName(this);
}

InputCut::~InputCut()
{
    delete ui;
}

void InputCut::language_changed()
{
    ui->label_title->setText(ui_text("输入截取", "Input intercept", "Источник", "Chặn nguồn vào"));
    ui->label_crop->setText(ui_text("截取:", "Crop:", "Обрезать:", "Cắt:"));
    ui->label_W->setText(ui_text("宽", "W", "Ширина", "Rộng"));
    ui->label_H->setText(ui_text("高", "H", "Высота", "Cao"));
    cancel_->setText(ui_text("取消", "Cancle", "Отмена", "Hủy bỏ"));
    ok_->setText(ui_text("确定", "OK", "OK", "Đồng ý"));
    delete_->setText(ui_text("删除", "Delete", "Удалить", "Xoá bỏ"));
    edit_line_update();
    source_init();
}

void InputCut::edit_line_update()
{
    ui->label_change_source->setText(ui_text("名称:", "Name:", "Название:", "Tên:") + source_name + crop_name);
}

// --- inputs and tiles -------------------------------------------------------

void InputCut::input_init()
{
    for (int i = 0; i < 6; ++i) {
        QPushButton* b = new QPushButton(this);
        b->setObjectName(QString::number(i));
        b->setFlat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setGeometry(21 + 130 * i, 69, 118, 83);
        connect(b, &QPushButton::clicked, this, &InputCut::zdr_button_input_clicked);
    }
}

void InputCut::crop_source_num_update()
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    for (int i = 0; i < 6; ++i)
        ui->count[i]->setText(QString::asprintf("(%d)", store->ZdrGetSourceNum(kTabs[i].input, para::kCropCount) + 1));
}

void InputCut::source_init()
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    const int n = store->ZdrGetSourceNum(source_index, para::kCropCount) + 1;
    page_max = static_cast<unsigned char>(n / 6 - (n % 6 == 0 ? 1 : 0));
    const int rest = n - 6 * page_index;
    const int shown = rest >= 6 ? 6 : (rest > 0 ? rest : 0);
    // The input's own tile shows its signal record as read here.
    store->block_bytes(para::inputSignal(source_index), shown_signal_, sizeof shown_signal_);
    InputSignal signal;
    signal.width = le16(shown_signal_, 0);
    signal.height = le16(shown_signal_, 2);
    signal.refresh = le16(shown_signal_, 4);

    // The page arrows and tiles live in this frame: the click being
    // delivered may be one of theirs.
    dispose_frame(frame_source_);
    frame_source_ = new QFrame(this);
    frame_source_->setObjectName("frame_source");
    frame_source_->setGeometry(20, 152, 770, 240);
    frame_source_->setStyleSheet("#frame_source{border:1px solid rgb(71, 119, 255);}");
    frame_source_->lower();

    for (int k = 0; k < shown; ++k) {
        const int X = 240 * (k % 3);
        const int Y = 110 * (k / 3);
        QFrame* tile = new QFrame(frame_source_);
        tile->setGeometry(X + 10, Y + 15, 220, 90);
        tile->setStyleSheet("background-color: #212435;border:1px solid #CCCCCC;");
        QLabel* marker = new QLabel(frame_source_);
        marker->setGeometry(X + 20, Y + 25, 14, 14);
        marker->setStyleSheet("background-color:#00D65B;border:0px groove gray;border-radius:7px;");
        QLabel* picture = new QLabel(frame_source_);
        picture->setGeometry(X + 39, Y + 20, 63, 24);
        picture->setPixmap(QPixmap(source_index == 1 ? ":/png/DVI.png" : ":/png/HDMI.png").scaled(63, 24));
        picture->setStyleSheet("background-color: #212435;");
        QLabel* name = new QLabel(frame_source_);
        name->setObjectName(QString("name_%1").arg(k));
        name->setGeometry(X + 20, Y + 44, 172, 28);
        QLabel* size = new QLabel(frame_source_);
        size->setObjectName(QString("size_%1").arg(k));
        size->setGeometry(X + 20, Y + 72, 172, 28);
        for (QLabel* l : {name, size}) {
            l->setFont(tile_font);
            l->setStyleSheet(kTileText);
        }

        if (page_index == 0 && k == 0) {
            name->setText(source_name);
            size->setText(input_signal_text(signal));
        } else {
            CROP_PARA crop{};
            int record = para::kCropCount;
            store->ZdrGetCropPara(source_index, 6 * page_index + k, &crop, &record);
            ALIAS_PARA alias;
            if (record < para::kCropCount && get_json_alias_para(&alias, "crop", record)) {
                name->setText(QFontMetrics(tile_font).elidedText(QString::fromStdString(alias.name), Qt::ElideRight, 172));
            } else {
                crop_name = QString::asprintf("_crop%d", ((crop.head >> 8) & 0x7F) + 1);
                name->setText(source_name + crop_name);
            }
            size->setText(QString::asprintf("%dx%d", crop.w, crop.h));
        }

        QPushButton* b = new QPushButton(frame_source_);
        b->setObjectName(QString::number(k));
        b->setFlat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setGeometry(X + 11, Y + 16, 218, 88);
        connect(b, &QPushButton::clicked, this, &InputCut::zdr_button_source_clicked);
    }

    add_button_ = iconButton(frame_source_, ":/png/add.png", 715, 10);
    add_button_->setObjectName("Button_add");
    connect(add_button_, &QPushButton::clicked, this, &InputCut::zdr_button_add_clicked);
    if (page_index > 0) {
        QPushButton* previous = iconButton(frame_source_, ":/png/previous.png", 715, 110);
        previous->setObjectName("Button_previous");
        connect(previous, &QPushButton::clicked, this, &InputCut::zdr_Button_previous_clicked);
    }
    if (page_index < page_max) {
        QPushButton* next = iconButton(frame_source_, ":/png/next.png", 715, 175);
        next->setObjectName("Button_next");
        connect(next, &QPushButton::clicked, this, &InputCut::zdr_Button_next_clicked);
    }
    frame_source_->show();
}

// --- slots ------------------------------------------------------------------

void InputCut::zdr_button_input_clicked()
{
    const int b = shell_button_index(sender(), 6);
    if (b < 0)
        return;
    page_index = 0;
    source_index = static_cast<unsigned char>(kTabs[b].input);
    source_name = kTabs[b].name;
    select_frame_->setGeometry(20 + 130 * b, 68, 120, 85);
    source_init();
    para_changed_over();
}

void InputCut::zdr_button_source_clicked()
{
    crop_adding = 0;
    const int k = shell_button_index(sender(), 6);
    if (k < 0)
        return;
    crop_index = static_cast<unsigned char>(6 * page_index + k);
    if (crop_index == 0) {
        para_changed_over();
        return;
    }
    add_button_->hide();
    crop_name = QString::asprintf("-Crop-%d", crop_index);
    edit_line_update();
    CROP_PARA crop{};
    int record = para::kCropCount;
    ZdrRamPara::pInstance()->ZdrGetCropPara(source_index, crop_index, &crop, &record);
    edited_record_ = record;
    edited_head_ = static_cast<unsigned>(crop.head);
    edit_line_open(crop.x, crop.y, crop.w, crop.h, true);
}

void InputCut::zdr_button_add_clicked()
{
    crop_adding = 1;
    add_button_->hide();
    crop_name = QString::asprintf("-Crop-%d", ZdrRamPara::pInstance()->ZdrGetSourceNum(source_index, para::kCropCount) + 1);
    edit_line_update();
    edit_line_open(0, 0, 1920, 1080, false);
}

void InputCut::edit_line_open(int x, int y, int w, int h, bool existing)
{
    ui->lineEdit_X->setText(QString::number(x));
    ui->lineEdit_Y->setText(QString::number(y));
    ui->lineEdit_W->setText(QString::number(w));
    ui->lineEdit_H->setText(QString::number(h));
    // Editing: Delete, Cancel, OK; adding: Cancel and OK only.
    if (existing) {
        delete_->setGeometry(80, 406, 180, 60);
        cancel_->setGeometry(310, 406, 180, 60);
        ok_->setGeometry(540, 406, 180, 60);
    } else {
        cancel_->setGeometry(195, 406, 180, 60);
        ok_->setGeometry(425, 406, 180, 60);
    }
    ui->frame_add->show();
    ui->frame_add->raise();
    cancel_->show();
    ok_->show();
    delete_->setVisible(existing);
}

void InputCut::zdr_Button_previous_clicked()
{
    if (page_index > 0)
        --page_index;
    source_init();
}

void InputCut::zdr_Button_next_clicked()
{
    if (page_index < page_max)
        ++page_index;
    source_init();
}

void InputCut::zdr_button_cancel_clicked()
{
    para_changed_over();
}

bool InputCut::edited_crop_still_there() const
{
    // The table may have changed since the tile was touched (the PC adds and
    // deletes crops); the position then names another crop, or none.
    CROP_PARA crop{};
    int record = para::kCropCount;
    ZdrRamPara::pInstance()->ZdrGetCropPara(source_index, crop_index, &crop, &record);
    return record < para::kCropCount && record == edited_record_ && static_cast<unsigned>(crop.head) == edited_head_;
}

void InputCut::zdr_button_ok_clicked()
{
    CROP_PARA crop{};
    crop.head = source_index;
    // A field that holds no number that fits stores nothing: the editor
    // stays open with what was typed.
    if (!fieldValue(ui->lineEdit_X, &crop.x) || !fieldValue(ui->lineEdit_Y, &crop.y) ||
        !fieldValue(ui->lineEdit_W, &crop.w) || !fieldValue(ui->lineEdit_H, &crop.h))
        return;
    ZdrRamPara* store = ZdrRamPara::pInstance();
    if (crop_adding)
        store->ZdrAddNewCrop(source_index, &crop);
    else
        edited_crop_store([&] {
            store->ZdrSetCropPara(static_cast<char>(source_index), static_cast<char>(crop_index), &crop);
        });
    crops_changed();
}

void InputCut::zdr_button_delete_clicked()
{
    edited_crop_store([this] {
        ZdrRamPara::pInstance()->ZdrDeleteCrop(static_cast<char>(source_index), static_cast<char>(crop_index));
    });
    crops_changed();
}

void InputCut::edited_crop_store(const std::function<void()>& store)
{
    // The crop checked is the one stored: one hold of the manage mutex.
    C331ParaLock lock;
    if (edited_crop_still_there())
        store();
}

void InputCut::crops_changed()
{
    ZdrRamPara::pInstance()->ZdrCropSourceInit();
    crop_source_num_update();
    source_init();
    para_changed_over();
}

void InputCut::para_changed_over()
{
    ui->frame_add->hide();
    cancel_->hide();
    ok_->hide();
    delete_->hide();
    if (add_button_)
        add_button_->show();
}

void InputCut::show_numberkeyboard_ui(QString data)
{
    My_lineEdit* field = qobject_cast<My_lineEdit*>(sender());
    if (!field || !g_numberkeyboard)
        return;
    g_lineedit = field;
    QString title;
    if (field == ui->lineEdit_X)
        title = "X";
    else if (field == ui->lineEdit_Y)
        title = "Y";
    else if (field == ui->lineEdit_W)
        title = ui_language() == 0 ? "宽" : "W";
    else
        title = ui_language() == 0 ? "高" : "H";
    g_numberkeyboard->label_show(title, data);
    g_numberkeyboard->exec();
}

void InputCut::confirmString(QString data)
{
    My_lineEdit* field = g_lineedit;
    // The keypad's result reaches every open page; only our own fields take it.
    // A result that is not a number that fits is refused: the field keeps
    // its value.
    if (field && (field == ui->lineEdit_X || field == ui->lineEdit_Y || field == ui->lineEdit_W || field == ui->lineEdit_H) &&
        keypad_number(data, kFieldMin, kFieldMax))
        field->setText(data);
}

void InputCut::on_Button_back_clicked()
{
    g_inputcut = nullptr;
    if (g_inputcut_back_to_choose && g_inputcut_back_to_choose()) {
        shell_close_page(this, kFocusInputChoose);
        return;
    }
    if (g_option)
        g_option->language_changed();
    shell_close_page(this, kFocusOption);
}

void InputCut::syncUpdate(int code)
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    if (store->ZdrLanguageChanged())
        language_changed();
    // The PC writes the crop table too: the change is found in a copy,
    // against the table the tiles show.
    unsigned char crops[sizeof shown_crops_];
    store->block_bytes(para::kCropTable, crops, sizeof crops);
    const bool cropsDiffer = std::memcmp(crops, shown_crops_, sizeof crops) != 0;
    if (code == 103 || cropsDiffer) {
        std::memcpy(shown_crops_, crops, sizeof crops);
        store->ZdrCropSourceInit();
        crop_source_num_update();
        source_init();
        return;
    }
    // The input drivers write the open input's signal record, which its own
    // tile shows.
    unsigned char signal[sizeof shown_signal_];
    store->block_bytes(para::inputSignal(source_index), signal, sizeof signal);
    if (std::memcmp(signal, shown_signal_, sizeof signal) != 0)
        source_init();
}
