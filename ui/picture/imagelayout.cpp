#include "ui/picture/imagelayout.h"
#include "ui/picture/inputchoose.h"

#include "core/alias.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "ui/picture/page_text.h"
#include "ui/picture/picture_widgets.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "videochip/c331_manage.h"

#include <QComboBox>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <algorithm>

QPointer<ImageLayout> g_imagelayout;

namespace {

const char* const kWhite = "color: rgb(255, 255, 255);";
const char* const kFieldStyle = "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);";
const char* const kHiddenButtonStyle = "color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);";
const char* const kComboStyle =
    "QComboBox { color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255); }\n"
    "QComboBox QAbstractItemView::item { color: rgb(255, 255, 255); min-height: 35px; min-width: 60px; }";
const char* const kTileColours[6] = {"#867AE9", "#005A8D", "#39A9CB", "#EBA83A", "#FF96AD", "#D5E5FF"};
const char* const kInputNames[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};

QLabel* label(QWidget* parent, const char* name, int x, int y, int w, int h,
              Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    QLabel* l = new QLabel(parent);
    l->setObjectName(name);
    l->setGeometry(x, y, w, h);
    l->setFont(page_font(14));
    l->setStyleSheet(kWhite);
    l->setAlignment(align);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    QPushButton* b = new QPushButton(parent);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

My_lineEdit* field(QWidget* parent, const char* name, int x)
{
    My_lineEdit* f = new My_lineEdit(parent);
    f->setObjectName(name);
    f->setGeometry(x, 320, 100, 40);
    f->setFont(page_font(14));
    f->setStyleSheet(kFieldStyle);
    f->setAlignment(Qt::AlignCenter);
    return f;
}

QComboBox* combo(QWidget* parent, const char* name, int x, int y, int w)
{
    QComboBox* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setGeometry(x, y, w, 40);
    c->setFont(page_font(14));
    c->setStyleSheet(kComboStyle);
    return c;
}

QString offWord()
{
    return ui_text("未开启", "Close", "Откл", "Đóng");
}

} // namespace

// --- the form ------------------------------------------------------------

void Ui_ImageLayout::setupUi(QDialog* dialog)
{
    picture_page_frame(dialog, "ImageLayout");
    dialog->setFont(page_font(12));

    label_title = label(dialog, "label_title", 200, 15, 400, 42, Qt::AlignCenter);
    label_title->setFont(page_font(18));
    line = new QFrame(dialog);
    line->setObjectName("line");
    line->setGeometry(0, 161, 800, 3);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setStyleSheet("border:1px solid rgb(133, 129, 153);");
    image_name = label(dialog, "image_name", 20, 174, 180, 50);
    image_state = label(dialog, "image_state", 20, 223, 155, 42);
    image_source = label(dialog, "image_source", 270, 174, 220, 50);
    label_backup = label(dialog, "label_backup", 511, 223, 110, 42, Qt::AlignRight | Qt::AlignVCenter);
    label_X = label(dialog, "label_X", 3, 320, 45, 40, Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_X = field(dialog, "lineEdit_X", 53);
    label_Y = label(dialog, "label_Y", 166, 320, 75, 40, Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_Y = field(dialog, "lineEdit_Y", 246);
    label_W = label(dialog, "label_W", 356, 320, 85, 40, Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_W = field(dialog, "lineEdit_W", 446);
    label_H = label(dialog, "label_H", 556, 320, 85, 40, Qt::AlignRight | Qt::AlignVCenter);
    lineEdit_H = field(dialog, "lineEdit_H", 646);
    label_mirror = label(dialog, "label_mirror", 20, 370, 125, 48);
    Button_cancel = button(dialog, "Button_cancel", 195, 426, 120, 45);
    Button_ok = button(dialog, "Button_ok", 425, 426, 120, 45);
    for (QPushButton* b : {Button_cancel, Button_ok}) {
        b->setFont(page_font(15));
        b->setStyleSheet(kHiddenButtonStyle);
    }
    Button_back = button(dialog, "Button_back", 11, 11, 50, 50);
    mirror1 = button(dialog, "mirror1", 150, 370, 48, 48);
    mirror2 = button(dialog, "mirror2", 228, 370, 48, 48);
    mirror3 = button(dialog, "mirror3", 306, 370, 48, 48);
    mirror4 = button(dialog, "mirror4", 384, 370, 48, 48);
    button_state = button(dialog, "button_state", 195, 228, 70, 32);
    comboBox = combo(dialog, "comboBox", 626, 223, 150);
    for (const char* item : {"无", "HDMI1", "HDMI2", "HDMI3", "HDMI4", "DVI", "EXT"})
        comboBox->addItem(QString::fromUtf8(item));
    Button_source_select = button(dialog, "Button_source_select", 490, 174, 50, 50);
    label_P2P = label(dialog, "label_P2P", 20, 265, 230, 40);
    comboBox_P2P = combo(dialog, "comboBox_P2P", 260, 265, 165);
    for (QPushButton* b : {mirror1, mirror2, mirror3, mirror4, button_state, Button_source_select, Button_back})
        b->setFlat(true);

    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_ImageLayout::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle("Dialog");
    label_title->setText(QString::fromUtf8("画面布局"));
    image_name->setText("XX");
    image_state->setText("XX");
    image_source->setText("XXX");
    label_X->setText("X");
    label_Y->setText("Y");
    label_W->setText(QString::fromUtf8("宽"));
    label_H->setText(QString::fromUtf8("高"));
    lineEdit_X->setText("9999");
    lineEdit_Y->setText("9999");
    lineEdit_W->setText("1920");
    lineEdit_H->setText("1080");
    label_mirror->setText(QString::fromUtf8("镜像"));
    label_P2P->setText(QString::fromUtf8("点对点"));
    Button_cancel->setText(QString::fromUtf8("取消"));
    Button_ok->setText(QString::fromUtf8("确定"));
}

// --- the page ------------------------------------------------------------

ImageLayout::ImageLayout(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_ImageLayout)
{
    ui->setupUi(this);
    ui->label_backup->hide();
    ui->comboBox->hide();
    shell_back_look(ui->Button_back);
    for (QPushButton* m : {ui->mirror1, ui->mirror2, ui->mirror3, ui->mirror4})
        m->setIconSize(QSize(48, 48));
    ui->button_state->setIconSize(QSize(70, 32));
    ui->Button_source_select->setIcon(QIcon(":/png/page_change.png"));
    ui->Button_source_select->setIconSize(QSize(32, 32));
    focus_button = ui->Button_cancel;
    focus_button->setStyleSheet("background-color: #4777FF;color: #FFFFFF;border:none");
    ui->comboBox->setView(new QListView());
    ui->comboBox_P2P->setView(new QListView());
    ui->comboBox_P2P->addItem(ui_text("点对点关闭", "OFF", "Откл", "Đóng"));
    ui->comboBox_P2P->addItem(ui_text("点对点开启", "ON", "Вкл", "Mở"));
    ui->comboBox_P2P->addItem(ui_text("HD3,HD4水平拼接", "HD3,HD4 Hor", "Гор HD3,HD4", "Nối ngang HD3,HD4"));
    ui->comboBox_P2P->addItem(ui_text("HD3,HD4垂直拼接", "HD3,HD4 Ver", "Вер HD3,HD4", "Ghép dọc HD3,HD4"));
    image_init();
    image_para_update();
    for (My_lineEdit* f : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H})
        connect(f, &My_lineEdit::send_show, this, &ImageLayout::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &ImageLayout::confirmString);
    ui->Button_cancel->hide();
    ui->Button_ok->hide();
    language_changed();
}

ImageLayout::~ImageLayout()
{
    delete ui;
}

int ImageLayout::layer_word(const unsigned char* block, int offset) const
{
    return le16(block, para::layer(image_index) + offset);
}

QString ImageLayout::tile_name(int i) const
{
    return i >= 0 && i < 6 && image_label[i] ? image_label[i]->text() : QString();
}

void ImageLayout::image_init()
{
    delete layer_strip_;
    // Other threads write the block: the strip is drawn from a copy.
    unsigned char block[para::kBlockSize];
    ZdrRamPara::pInstance()->snapshot_block(block);
    for (int i = 0; i < 6; ++i) {
        strip_shown_[i][0] = le16(block, para::layer(i) + para::kLayerEnable);
        strip_shown_[i][1] = le16(block, para::layer(i) + para::kLayerInput);
    }
    layer_strip_ = new QFrame(this);
    layer_strip_->setGeometry(0, 65, 800, 95);
    select_frame_ = new QFrame(layer_strip_);
    select_frame_->setGeometry(17, 0, 126, 96);
    select_frame_->setStyleSheet("border:2px solid rgb(255,171,84);");
    for (int i = 0; i < 6; ++i) {
        QLabel* tile = new QLabel(layer_strip_);
        tile->setGeometry(20 + 130 * i, 3, 120, 90);
        text_ = QString::asprintf("%d", i + 1);
        tile->setText(text_);
        tile->setAlignment(Qt::AlignCenter);
        tile->setStyleSheet(QString("background-color: %1;font: 16px").arg(kTileColours[i]));
        image_label[i] = new QLabel(tile);
        image_label[i]->setGeometry(0, 3, 100, 28);
        if (i == 0 || le16(block, para::layer(i) + para::kLayerEnable) == 1)
            TextCreate(static_cast<char>(i));
        else
            image_label[i]->setText(offWord());
        QLabel* dot = new QLabel(tile);
        dot->setGeometry(101, 8, 14, 14);
        dot->setStyleSheet("background-color:#00D65B;border:0px groove gray;border-radius:7px;");
        QPushButton* b = new QPushButton(layer_strip_);
        b->setGeometry(tile->geometry());
        b->setFlat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setObjectName(QString::number(i));
        connect(b, &QPushButton::clicked, this, &ImageLayout::zdr_image_button_clicked);
    }
    layer_strip_->show();
}

namespace {

// The name of the input a window shows (for a crop, the crop's input),
// from a copy of the block: the layer's input word and the crop it names
// come from one store (the PC writes both).
QString sourceName(const unsigned char* block, int window)
{
    int input = -1;
    const unsigned word = le16(block, para::layer(window) + para::kLayerInput);
    // A crop index beyond the crop table names nothing.
    if (!(word & para::kLayerInputIsCrop) || (word & 0xFF) < static_cast<unsigned>(para::kCropCount)) {
        short isCrop = 0;
        char cropIndex = 0;
        input = ZdrRamPara::pInstance()->ZdrGetImageSource(block, static_cast<unsigned char>(window), &isCrop,
                                                           &cropIndex, 0);
    }
    return input >= 0 && input < 6 ? QString(kInputNames[input]) : QString();
}

} // namespace

void ImageLayout::TextCreate(char window, char)
{
    if (window < 0 || window > 5 || !image_label[static_cast<int>(window)])
        return;
    unsigned char block[para::kBlockSize];
    ZdrRamPara::pInstance()->snapshot_block(block);
    strip_shown_[static_cast<int>(window)][1] = le16(block, para::layer(window) + para::kLayerInput);
    text_ = sourceName(block, window);
    image_label[static_cast<int>(window)]->setText(text_);
}

void ImageLayout::zdr_image_button_clicked()
{
    const int index = shell_button_index(sender(), 6);
    if (index < 0)
        return;
    image_index = static_cast<unsigned char>(index);
    image_para_update();
    const QWidget* b = qobject_cast<QWidget*>(sender());
    select_frame_->setGeometry(b->x() - 3, 0, 126, 96);
}

void ImageLayout::image_para_update()
{
    // Other threads store whole records (a PC its window's rectangle): the
    // page shows each from one copy, so that a store landing between two
    // widget calls is never shown half. Setting the widgets stores nothing
    // (the lists store only an operator's pick): a PC's store landing after
    // the copy stands, and the refresh its flag brings shows it.
    unsigned char block[para::kBlockSize];
    ZdrRamPara::pInstance()->snapshot_block(block);
    const int L = image_index;
    const QString prefix = ui_text("画面状态:", "Image state:", "Состояние:", "Trạng thái:");
    if (L == 0 || layer_word(block, para::kLayerEnable) != 0) {
        ui->image_state->setText(prefix + ui_text("开启", "ON", "Вкл", "Mở"));
        ui->button_state->setIcon(QIcon(":/png/button_on.png"));
        image_state_on = 1;
    } else {
        ui->image_state->setText(prefix + ui_text("关闭", "OFF", "Откл", "Đóng"));
        ui->button_state->setIcon(QIcon(":/png/button_off.png"));
        image_state_on = 0;
    }
    ui->button_state->setVisible(L != 0);

    const QString namePrefix = ui_text("名称:", "Name:", "Название:", "Tên:");
    ALIAS_PARA alias;
    if (get_json_alias_para(&alias, "win", L)) {
        const QFontMetrics metrics(ui->image_name->font());
        ui->image_name->setText(namePrefix +
                                metrics.elidedText(QString::fromStdString(alias.name), Qt::ElideRight, 60));
    } else {
        const QString name = ui_text("画面%1", "image%1", "Канал%1", "Hình ảnh%1").arg(L + 1);
        ui->image_name->setText(namePrefix + name);
    }
    ui->image_source->setText(ui_text("信源:", "Source:", "Источник:", "Nguồn tín hiệu:") + sourceName(block, L));
    ui->comboBox->setCurrentIndex(layer_word(block, 6));
    ui->lineEdit_X->setText(QString::asprintf("%d", layer_word(block, para::kLayerX)));
    ui->lineEdit_Y->setText(QString::asprintf("%d", layer_word(block, para::kLayerY)));
    ui->lineEdit_W->setText(QString::asprintf("%d", layer_word(block, para::kLayerW)));
    ui->lineEdit_H->setText(QString::asprintf("%d", layer_word(block, para::kLayerH)));
    mirror_select(layer_word(block, para::kLayerMirror));
    if (!(layer_word(block, para::kLayerOutput) & 0x100)) {
        ui->comboBox_P2P->setCurrentIndex(0);
    } else {
        switch (layer_word(block, para::kLayerP2P)) {
        case 0: ui->comboBox_P2P->setCurrentIndex(1); break;
        case 8: ui->comboBox_P2P->setCurrentIndex(2); break;
        case 9: ui->comboBox_P2P->setCurrentIndex(3); break;
        default: break;
        }
    }
}

void ImageLayout::on_button_state_clicked()
{
    const int L = image_index;
    const QString prefix = ui_text("画面状态:", "Image state:", "Состояние:", "Trạng thái:");
    const unsigned char on = image_state_on ? 0 : 1;
    ui->image_state->setText(prefix + (on ? ui_text("开启", "ON", "Вкл", "Mở") : ui_text("关闭", "OFF", "Откл", "Đóng")));
    ui->button_state->setIcon(QIcon(on ? ":/png/button_on.png" : ":/png/button_off.png"));
    image_state_on = on;
    {
        ParaWriteLock lock;
        lock.block()[para::layer(L) + para::kLayerEnable] = on;
        lock.raise(1);
    }
    if (on)
        TextCreate(static_cast<char>(L));
    else if (image_label[L])
        image_label[L]->setText(offWord());
}

void ImageLayout::show_numberkeyboard_ui(QString)
{
    My_lineEdit* f = qobject_cast<My_lineEdit*>(sender());
    if (!f || !g_numberkeyboard)
        return;
    g_lineedit = f;
    const QString name = f->objectName();
    const char* title = name == "lineEdit_X" ? "X" : name == "lineEdit_Y" ? "Y" : name == "lineEdit_W" ? "W" : "H";
    g_numberkeyboard->label_show(title, f->text());
    g_numberkeyboard->exec();
}

void ImageLayout::fields_rect(int rect[4]) const
{
    const My_lineEdit* const fields[4] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H};
    for (int k = 0; k < 4; ++k)
        rect[k] = page_short(fields[k]->text());
}

void ImageLayout::confirmString(QString text)
{
    My_lineEdit* const fields[4] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H};
    const int f = static_cast<int>(std::find(fields, fields + 4, g_lineedit.data()) - fields);
    if (f == 4)
        return;
    // X pairs with W within the LED width, Y with H within its height.
    const int partner = f ^ 2;
    const int boundOffset = f % 2 == 0 ? para::kLedWidth : para::kLedHeight;
    // Only a number the 16-bit field can hold is taken; the partner's
    // negative or the sum's wrap would otherwise let a window out of the
    // screen.
    bool ok = false;
    const long long value = text.toLongLong(&ok, 10);
    const long long other = page_short(fields[partner]->text());
    if (!ok || value < 0 || other < 0)
        return;
    int rect[4];
    fields_rect(rect);
    rect[f] = page_short(text);
    if (rect_store(rect, boundOffset, value + other))
        fields[f]->setText(text);
}

bool ImageLayout::rect_store(const int rect[4], int boundOffset, long long extent)
{
    static const int kRectWords[4] = {para::kLayerX, para::kLayerY, para::kLayerW, para::kLayerH};
    // The bound is read in the hold that stores: an LED size the PC stores
    // after a look outside it would leave the window beyond the screen.
    ParaWriteLock lock;
    if (boundOffset >= 0 && extent > le16(lock.block(), boundOffset))
        return false;
    unsigned char* record = lock.block() + para::layer(image_index);
    for (int k = 0; k < 4; ++k)
        setLe16(record, kRectWords[k], static_cast<uint16_t>(rect[k]));
    lock.raise(1);
    return true;
}

void ImageLayout::mirror_select(int mode)
{
    if (mode < 0 || mode > 3)
        return;
    QPushButton* buttons[4] = {ui->mirror1, ui->mirror2, ui->mirror3, ui->mirror4};
    for (int m = 0; m < 4; ++m)
        buttons[m]->setIcon(QIcon(QString(":/png/mirror%1_%2.png").arg(m + 1).arg(m == mode ? "on" : "off")));
}

void ImageLayout::mirror_set(int mode)
{
    const int at = para::layer(image_index) + para::kLayerMirror;
    {
        // An act whatever the block holds (a PC's RAM write of this very
        // mode may wait there for its flag): stored, and a pass asked for.
        ParaWriteLock lock;
        lock.block()[at] = static_cast<unsigned char>(mode);
        lock.raise(1);
    }
    mirror_select(mode);
}

void ImageLayout::on_mirror1_clicked() { mirror_set(0); }
void ImageLayout::on_mirror2_clicked() { mirror_set(1); }
void ImageLayout::on_mirror3_clicked() { mirror_set(2); }
void ImageLayout::on_mirror4_clicked() { mirror_set(3); }

void ImageLayout::on_comboBox_P2P_activated(int index)
{
    if (index < 0 || index > 3)
        return;
    // The output word and the mode are read and stored under one hold: the
    // stored pair is the one read, with this change. An act whatever the
    // block holds (a PC's RAM write of this very choice may wait there for
    // its flag): stored, and a pass asked for.
    ParaWriteLock lock;
    unsigned char* record = lock.block() + para::layer(image_index);
    const unsigned output = le16(record, para::kLayerOutput);
    const unsigned mode = le16(record, para::kLayerP2P);
    const unsigned modes[4] = {mode, 0, 8, 9};
    const unsigned newOutput = index == 0 ? (output & ~0x100u) : (output | 0x100u);
    const unsigned newMode = modes[index];
    setLe16(record, para::kLayerOutput, static_cast<uint16_t>(newOutput));
    setLe16(record, para::kLayerP2P, static_cast<uint16_t>(newMode));
    lock.raise(1);
}

void ImageLayout::on_comboBox_activated(int index)
{
    if (index < 0 || index > 6)
        return;
    // Stored under the manage mutex like every other write of the block;
    // the chip does not act on it, so no pass is asked for.
    ParaWriteLock lock;
    lock.block()[para::layer(image_index) + 6] = static_cast<unsigned char>(index);
}

void ImageLayout::on_Button_source_select_clicked()
{
    // The input choice page; its Back refreshes this page.
    shell_open_page(g_inputchoose, kFocusInputChoose);
}

void ImageLayout::focus_move(QPushButton* b)
{
    focus_button->setStyleSheet("color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);");
    b->setStyleSheet("background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);");
    focus_button = b;
}

void ImageLayout::on_Button_ok_clicked()
{
    focus_move(ui->Button_ok);
    int rect[4];
    fields_rect(rect);
    rect_store(rect);
}

void ImageLayout::on_Button_cancel_clicked()
{
    focus_move(ui->Button_cancel);
}

void ImageLayout::language_changed()
{
    ui->label_title->setText(ui_text("画面布局", "Screen layout", "Расположение", "Bố cục màn hình"));
    ui->label_P2P->setText(ui_text("点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm"));
    ui->label_W->setText(ui_text("宽", "W", "Ширина", "Rộng"));
    ui->label_H->setText(ui_text("高", "H", "Высота", "Cao"));
    ui->label_mirror->setText(ui_text("镜像", "mirror", "Отражение", "Ảnh phản chiếu"));
    ui->Button_cancel->setText(ui_text("取消", "Cancle", "Отмена", "Hủy bỏ"));
    ui->Button_ok->setText(ui_text("确定", "OK", "OK", "Đồng ý"));
}

void ImageLayout::syncUpdate()
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    if (store->ZdrLanguageChanged())
        language_changed();
    // Other threads write the block: the changes are found in a copy,
    // against what the strip shows.
    unsigned char block[para::kBlockSize];
    store->snapshot_block(block);
    for (int L = 0; L < 6; ++L) {
        const int base = para::layer(L);
        if (le16(block, base + para::kLayerEnable) != strip_shown_[L][0] ||
            le16(block, base + para::kLayerInput) != strip_shown_[L][1]) {
            image_init();
            break;
        }
    }
    image_para_update();
}

void ImageLayout::on_Button_back_clicked()
{
    g_imagelayout = nullptr;
    if (g_option)
        g_option->language_changed();
    shell_close_page(this, kFocusOption);
}
