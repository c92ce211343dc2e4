#include "ui/picture/inputchoose.h"
#include "ui/picture/inputcut.h"

#include "core/alias.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "ui/picture/edidset.h"
#include "ui/picture/imagelayout.h"
#include "ui/picture/picture_widgets.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_input.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "ui/shell/tip.h"
#include "videochip/c331_manage.h"

#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <cstring>

QPointer<InputChoose> g_inputchoose;

namespace {

const char* const kLayerColours[6] = {
    "background-color: #867AE9;font: 16px", "background-color: #005A8D;font: 16px",
    "background-color: #39A9CB;font: 16px", "background-color: #EBA83A;font: 16px",
    "background-color: #FF96AD;font: 16px", "background-color: #D5E5FF;font: 16px",
};
const char* const kTabObjects[6] = {"HDMI1", "HDMI2", "HDMI3", "HDMI4", "DVI", "EXT"};
const char* const kMenuStyle = "background-color: rgb(95, 100, 129); color: rgb(255, 255, 255);";
const char* const kWhite = "color: rgb(255, 255, 255);";
const char* const kGreenText = "color: rgb(81, 187, 40);";

ZdrRamPara* store()
{
    return ZdrRamPara::pInstance();
}

QFont points(int pt)
{
    return point_font(pt);
}

QLabel* label(QWidget* parent, const QString& name, int x, int y, int w, int h, const char* style)
{
    return point_label(parent, name, x, y, w, h, 0, style);
}

QPushButton* flatButton(QWidget* parent, const QString& name, int x, int y, int w, int h)
{
    QPushButton* b = new QPushButton(parent);
    b->setObjectName(name);
    b->setGeometry(x, y, w, h);
    b->setFlat(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QPushButton* iconButton(QWidget* parent, const char* picture, int x, int y)
{
    QPushButton* b = flatButton(parent, QString(), x, y, 50, 50);
    b->setIcon(QIcon(picture));
    b->setIconSize(QSize(50, 50));
    return b;
}

// The position of crop number n in the input's crop-number order (1 for the
// smallest), 0 when the input has no crop numbered n.
int crop_position(int input, int n)
{
    if (input < 0 || input >= 6 || n < 1 || n > 40)
        return 0;
    const unsigned char* map = g_cut_source_state + 5 * input;
    if (!(map[(n - 1) / 8] & (1 << ((n - 1) % 8))))
        return 0;
    int position = 0;
    for (int b = 0; b < n; ++b)
        if (map[b / 8] & (1 << (b % 8)))
            ++position;
    return position;
}

} // namespace

InputChoose::InputChoose(QWidget* parent) : QDialog(parent)
{
    setupUi(this);
    button_inputcut = new QPushButton(this);
    button_edid = new QPushButton(this);
    const char* texts[2] = {"输入截取", "设置EDID"};
    QPushButton* menu[2] = {button_inputcut, button_edid};
    for (int i = 0; i < 2; ++i) {
        menu[i]->setObjectName(i == 0 ? "button_inputcut" : "button_EDID");
        menu[i]->setStyleSheet(kMenuStyle);
        menu[i]->setFont(points(12));
        menu[i]->setText(QString::fromUtf8(texts[i]));
        menu[i]->setFocusPolicy(Qt::NoFocus);
        menu[i]->hide();
    }
    connect(button_inputcut, &QPushButton::clicked, this, &InputChoose::zdr_button_inputcut_clicked);
    connect(button_edid, &QPushButton::clicked, this, &InputChoose::zdr_button_EDID_clicked);

    // What the page draws below is at least as new as this copy.
    store()->snapshot_block(shown_);
    store()->ZdrCropSourceInit();
    crop_source_num_update();
    initMenu();
    image_select();
    language_changed();
}

InputChoose::~InputChoose() = default;

void Ui_InputChoose::setupUi(QDialog* dialog)
{
    picture_page_frame(dialog, "InputChoose");
    dialog->setFont(points(12));

    frame1 = new QFrame(dialog);
    frame1->setObjectName("frame1");
    frame1->setFrameShape(QFrame::StyledPanel);
    frame1->setFrameShadow(QFrame::Raised);
    frame1->setGeometry(20, 173, 120, 85);

    QPushButton* back = shell_back_button(dialog);
    back->setFont(points(20));
    back->setFlat(false);

    QFrame* line = new QFrame(dialog);
    line->setObjectName("line");
    line->setGeometry(0, 167, 800, 1);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setStyleSheet("background-color: rgb(133, 129, 153);");

    label_title = label(dialog, "label_title", 101, 15, 598, 42, kWhite);
    label_title->setFont(points(18));
    label_title->setAlignment(Qt::AlignCenter);

    for (int col = 0; col < 6; ++col) {
        const int in = kInputOrder[col];
        const QString tab = kTabObjects[col];
        const int x = 130 * col;
        tab_text_[in] = label(dialog, "label_" + tab + "_text", 31 + x, 178, col == 0 ? 65 : 66, 28,
                              col == 2 || col == 3 ? kGreenText : kWhite);
        tab_text_[in]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        const int iconX[6] = {28, 158, 290, 420, 550, 680};
        tab_icon_[in] = label(dialog, "label_" + tab, iconX[col], 206, 100, 32, "");
        tab_icon_[in]->setScaledContents(true);
    }
    hdmi20_[0] = label(dialog, "label_15", 430, 230, 81, 27, kGreenText);
    hdmi20_[1] = label(dialog, "label_12", 300, 230, 81, 27, kGreenText);
    for (QLabel* l : hdmi20_) {
        l->setAlignment(Qt::AlignCenter);
        l->hide();
    }
    for (int col = 0; col < 6; ++col) {
        const int in = kInputOrder[col];
        const QString tab = kTabObjects[col];
        tab_num_[in] = label(dialog, "label_" + tab + "_num", 97 + 130 * col, 178, 32, 28, "color: rgb(71, 119, 255);");
        QPushButton* b = flatButton(dialog, "Button_" + tab, 21 + 130 * col, 174, 118, 83);
        b->setStyleSheet("");
    }
    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_InputChoose::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle("Dialog");
    label_title->setText(QString::fromUtf8("信源切换"));
    for (int col = 0; col < 6; ++col) {
        const int in = kInputOrder[col];
        tab_text_[in]->setText(kTabObjects[col]);
        tab_icon_[in]->setText("TextLabel");
        tab_num_[in]->setText("(X)");
    }
    for (QLabel* l : hdmi20_)
        l->setText("HDMI2.0");
}

void InputChoose::language_changed()
{
    label_title->setText(ui_text("信源切换", "Source switch", "Переключение источника", "Chuyển đổi nguồn"));
    button_inputcut->setText(ui_text("输入截取", "Input intercept", "Источник", "Chặn nguồn vào"));
    button_edid->setText(ui_text("设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID"));
    const int lang = ui_language();
    const int x = lang == 0 ? 680 : lang == 1 ? 620 : 640;
    button_inputcut->setGeometry(x, 310, 780 - x, 60);
    button_edid->setGeometry(x, 370, 780 - x, 60);
}

void InputChoose::crop_source_num_update()
{
    for (int in = 0; in < 6; ++in)
        tab_num_[in]->setText(QString("(%1)").arg(store()->ZdrGetSourceNum(in, para::kCropCount) + 1));
    source_name_update();
    source_check_update();
}

void InputChoose::source_name_update()
{
    for (int in = 0; in < 6; ++in) {
        ALIAS_PARA alias;
        QLabel* l = tab_text_[in];
        if (get_json_alias_para(&alias, "source", in)) {
            const QString name = QString::fromStdString(alias.name);
            l->setText(QFontMetrics(l->font()).elidedText(name, Qt::ElideRight, 66, Qt::TextShowMnemonic));
        } else {
            l->setText(input_default_name(in));
        }
    }
}

void InputChoose::source_check_update()
{
    for (int in = 0; in < 6; ++in)
        tab_icon_[in]->setPixmap(QPixmap(input_picture(in, input_signal(in).present())));
}

void InputChoose::initMenu()
{
    dispose_frame(menu_frame_);
    for (QLabel*& l : layer_name_)
        l = nullptr;
    menu_frame_ = new QFrame(this);
    menu_frame_->setGeometry(0, 64, 800, 96);
    select_frame_ = new QFrame(menu_frame_);
    select_frame_->setObjectName("select_frame");
    select_frame_->setStyleSheet("border:2px solid rgb(255,171,84);");
    select_frame_->hide();
    // Other threads write the block: the tiles are drawn from a copy.
    unsigned char block[para::kBlockSize];
    store()->snapshot_block(block);
    int k = 0;
    for (int L = 0; L < 6; ++L) {
        if (L != 0 && block[para::layer(L) + para::kLayerEnable] != 1)
            continue;
        QLabel* tile = label(menu_frame_, QString("layer_%1").arg(L), 20 + 130 * k, 3, 120, 90, kLayerColours[L]);
        tile->setAlignment(Qt::AlignCenter);
        tile->setText(QString::number(L + 1));
        layer_name_[L] = label(tile, "layer_name", 0, 3, 100, 28, "");
        TextCreate(static_cast<char>(L), 0);
        label(tile, "layer_dot", 101, 8, 14, 14, "background-color:#00D65B;border:0px groove gray;border-radius:7px;");
        QPushButton* b = flatButton(menu_frame_, QString::number(L), 17 + 130 * k, 0, 126, 96);
        connect(b, &QPushButton::clicked, this, &InputChoose::zdr_image_button_clicked);
        if (L == image_index) {
            select_frame_->setGeometry(b->geometry());
            select_frame_->show();
        }
        ++k;
    }
    menu_frame_->show();
}

int InputChoose::layer_source(int layer, int* position, int* cropNumber)
{
    short isCrop = 0;
    char record = 0;
    *position = 0;
    *cropNumber = 0;
    int in;
    {
        // The layer's input word and the crop it names, from one copy (the
        // PC writes both).
        unsigned char block[para::kBlockSize];
        store()->snapshot_block(block);
        in = store()->ZdrGetImageSource(block, static_cast<unsigned char>(layer), &isCrop, &record, 0);
        const int k = static_cast<unsigned char>(record);
        if (isCrop && k < para::kCropCount)
            *cropNumber = ((le16(block, para::crop(k)) >> 8) & 0x7F) + 1;
    }
    if (*cropNumber)
        *position = crop_position(in, *cropNumber);
    return isCrop ? in | 0x100 : in;
}

void InputChoose::TextCreate(char layer, char)
{
    const int L = static_cast<unsigned char>(layer);
    if (L >= 6 || !layer_name_[L])
        return;
    int position = 0, number = 0;
    const int in = layer_source(L, &position, &number) & 0xFF;
    layer_name_[L]->setText(input_default_name(in));
}

void InputChoose::input_source_changed(char layer)
{
    const int L = static_cast<unsigned char>(layer);
    if (L >= 6 || !layer_name_[L])
        return;
    int position = 0, number = 0;
    const int src = layer_source(L, &position, &number);
    const int in = src & 0xFF;
    crop_name = input_default_name(in);
    // The crop's own number, as its tile names it.
    if (src & 0x100)
        crop_name += QString("_Crop%1").arg(number);
    layer_name_[L]->setText(crop_name);
}

void InputChoose::image_select()
{
    int position = 0, number = 0;
    const int in = layer_source(image_index, &position, &number) & 0xFF;
    switch (in) {
    case 0: on_Button_EXT_clicked(); break;
    case 1: on_Button_DVI_clicked(); break;
    case 2: on_Button_HDMI1_clicked(); break;
    case 3: on_Button_HDMI2_clicked(); break;
    case 4: on_Button_HDMI3_clicked(); break;
    case 5: on_Button_HDMI4_clicked(); break;
    default: break;
    }
}

void InputChoose::open_tab(int input, int frameX)
{
    page_index = 0;
    source_index = static_cast<unsigned char>(input);
    source_name = input_default_name(input);
    initSource();
    frame1->move(frameX, 173);
    frame1->setStyleSheet("#frame1{border-left:1px solid rgb(71, 119, 255);border-right:1px solid rgb(71, 119, 255);"
                          "border-top:1px solid rgb(71, 119, 255);}");
}

void InputChoose::on_Button_HDMI1_clicked() { open_tab(2, 20); }
void InputChoose::on_Button_HDMI2_clicked() { open_tab(3, 150); }
void InputChoose::on_Button_HDMI3_clicked() { open_tab(4, 280); }
void InputChoose::on_Button_HDMI4_clicked() { open_tab(5, 410); }
void InputChoose::on_Button_DVI_clicked() { open_tab(1, 540); }
void InputChoose::on_Button_EXT_clicked() { open_tab(0, 670); }

void InputChoose::initSource()
{
    ZdrRamPara* s = store();
    const int count = s->ZdrGetSourceNum(source_index, para::kCropCount) + 1;
    page_max = static_cast<unsigned char>((count + 5) / 6 - 1);
    int n = count - 6 * page_index;
    if (n > 6)
        n = 6;

    int usedPosition = 0, number = 0;
    const int usedInput = layer_source(image_index, &usedPosition, &number) & 0xFF;

    dispose_frame(source_frame_);
    source_frame_ = new QFrame(this);
    source_frame_->setObjectName("frame");
    source_frame_->setStyleSheet("#frame{border:1px solid rgb(71, 119, 255);}");
    source_frame_->setGeometry(20, 257, 770, 215);

    for (int i = 0; i < n; ++i) {
        const int p = 6 * page_index + i;
        const bool used = p == usedPosition && source_index == usedInput;
        QFrame* tile = new QFrame(source_frame_);
        tile->setObjectName("source_frame");
        tile->setGeometry(10 + 235 * (i % 3), 15 + 100 * (i / 3), 220, 90);
        tile->setStyleSheet(used ? "#source_frame{border:1px solid #00D65B;border-radius:5px;}"
                                 : "#source_frame{border:1px solid #CCCCCC;border-radius:5px;}");
        QLabel* state = label(tile, "source_state", 10, 10, 14, 14, "");
        state->setScaledContents(true);
        state->setPixmap(QPixmap(used ? ":/png/state_on.png" : ":/png/state_off.png"));
        QLabel* kind = label(tile, "source_kind", 29, 5, 63, 24, "");
        kind->setScaledContents(true);
        kind->setPixmap(QPixmap(source_index == 1 ? ":/png/DVI.png" : ":/png/HDMI.png"));
        QLabel* name = label(tile, "source_name", 10, 29, 172, 24, "color: rgb(255, 255, 255)");
        QFont f = name->font();
        f.setPixelSize(20);
        name->setFont(f);
        QLabel* size = label(tile, "source_size", 10, 57, 172, 24, "color: rgb(255, 255, 255);font: 20px");
        if (p == 0) {
            name->setText(source_name);
            size->setText(input_signal_text(input_signal(source_index)));
        } else {
            CROP_PARA crop{};
            int record = para::kCropCount;
            s->ZdrGetCropPara(source_index, p, &crop, &record);
            ALIAS_PARA alias;
            if (record >= para::kCropCount) {
                // The table changed and the crop map has not caught up yet;
                // the next refresh rebuilds the tiles.
                name->setText(source_name);
            } else if (get_json_alias_para(&alias, "crop", record)) {
                name->setText(QFontMetrics(name->font())
                                  .elidedText(QString::fromStdString(alias.name), Qt::ElideRight, name->width(),
                                              Qt::TextShowMnemonic));
                size->setText(QString("%1x%2").arg(crop.w).arg(crop.h));
            } else {
                crop_name = QString("_crop%1").arg(((crop.head >> 8) & 0x7F) + 1);
                name->setText(source_name + crop_name);
                size->setText(QString("%1x%2").arg(crop.w).arg(crop.h));
            }
        }
        if (used) {
            QLabel* badge = label(tile, "source_using", 164, 0, 56, 30,
                                  "background-color: #00D65B;color: rgb(255, 255, 255);font: 18px;border-radius:5px;");
            badge->setAlignment(Qt::AlignCenter);
            badge->setText(in_use_badge_text());
        }
        QPushButton* b = flatButton(tile, QString::number(i), 1, 1, 218, 88);
        connect(b, &QPushButton::clicked, this, &InputChoose::zdr_source_button_clicked);
    }
    QPushButton* menu = iconButton(source_frame_, ":/png/menu.png", 715, 10);
    menu->setObjectName("Button_menu");
    connect(menu, &QPushButton::clicked, this, &InputChoose::zdr_Button_menu_clicked);
    if (page_index != 0) {
        QPushButton* b = iconButton(source_frame_, ":/png/previous.png", 715, 95);
        b->setObjectName("Button_previous");
        connect(b, &QPushButton::clicked, this, &InputChoose::zdr_Button_previous_clicked);
    }
    if (page_index < page_max) {
        QPushButton* b = iconButton(source_frame_, ":/png/next.png", 715, 155);
        b->setObjectName("Button_next");
        connect(b, &QPushButton::clicked, this, &InputChoose::zdr_Button_next_clicked);
    }
    source_frame_->lower();
    source_frame_->show();
    button_inputcut->hide();
    button_edid->hide();
}

void InputChoose::zdr_image_button_clicked()
{
    const int L = shell_button_index(sender(), 6);
    if (L < 0)
        return;
    image_index = static_cast<unsigned char>(L);
    image_select();
    if (QWidget* b = qobject_cast<QWidget*>(sender())) {
        select_frame_->setGeometry(b->x(), 0, 126, 96);
        select_frame_->show();
    }
}

void InputChoose::zdr_source_button_clicked()
{
    const int i = shell_button_index(sender(), 6);
    if (i < 0)
        return;
    store()->ZdrSetImageSource(i + 6 * page_index, static_cast<char>(source_index), static_cast<char>(image_index));
    initSource();
    input_source_changed(static_cast<char>(image_index));
    if (g_tip)
        g_tip->tip_create(2);
}

void InputChoose::zdr_Button_menu_clicked()
{
    if (button_inputcut->isHidden()) {
        button_inputcut->show();
        button_edid->show();
        button_inputcut->raise();
        button_edid->raise();
    } else {
        button_inputcut->hide();
        button_edid->hide();
    }
}

void InputChoose::zdr_Button_previous_clicked()
{
    if (page_index > 0)
        --page_index;
    initSource();
}

void InputChoose::zdr_Button_next_clicked()
{
    if (page_index < page_max)
        ++page_index;
    initSource();
}

// The crop editor's Back refreshes this page while it is open.
static bool back_from_crop_editor()
{
    if (!g_inputchoose)
        return false;
    g_inputchoose->language_changed();
    g_inputchoose->initSource();
    g_inputchoose->crop_source_num_update();
    return true;
}

void InputChoose::zdr_button_inputcut_clicked()
{
    g_inputcut_back_to_choose = &back_from_crop_editor;
    shell_open_page(g_inputcut, kFocusInputCut);
}

void InputChoose::zdr_button_EDID_clicked()
{
    shell_open_page(g_edidset, kFocusEdid);
}

void InputChoose::on_Button_back_clicked()
{
    g_inputchoose = nullptr;
    // Opened from the window layout page: back to it, refreshed.
    if (g_imagelayout) {
        g_imagelayout->language_changed();
        g_imagelayout->image_para_update();
        g_imagelayout->image_init();
        shell_close_page(this, kFocusImageLayout);
        return;
    }
    if (g_mainwindow)
        g_mainwindow->language_changed();
    shell_close_page(this, kFocusHome);
}

void InputChoose::syncUpdate(int code)
{
    ZdrRamPara* s = store();
    // Other threads write the block (the PC, the input drivers): the changes
    // are found in a copy, against the copy the page last drew from. (Not
    // against the file's copy: a store landing after this copy reaches the
    // file with this refresh, and the next refresh would find nothing to
    // draw.)
    unsigned char block[para::kBlockSize];
    s->snapshot_block(block);
    const unsigned char* shown = shown_;
    if (s->ZdrLanguageChanged())
        language_changed();

    bool enableChanged = false, signalChanged = false;
    for (int L = 0; L < 6; ++L) {
        const int at = para::layer(L);
        if (le16(block, at + para::kLayerEnable) != le16(shown, at + para::kLayerEnable))
            enableChanged = true;
        if (le16(block, at + para::kLayerInput) != le16(shown, at + para::kLayerInput))
            input_source_changed(static_cast<char>(L));
        if (std::memcmp(block + para::inputSignal(L), shown + para::inputSignal(L), 6) != 0)
            signalChanged = true;
    }
    const int sel = para::layer(image_index) + para::kLayerInput;
    int current = 0;
    if (le16(block, sel) != le16(shown, sel))
        current = 1;
    else if (std::memcmp(block + para::inputSignal(source_index), shown + para::inputSignal(source_index), 6) != 0)
        current = 2;
    const bool cropChanged = std::memcmp(block + para::kCropTable, shown + para::kCropTable,
                                         para::kCropSize * para::kCropCount) != 0;
    // Everything that differs is drawn below, from this copy or a newer one.
    std::memcpy(shown_, block, sizeof shown_);

    if (enableChanged) {
        if (block[para::layer(image_index) + para::kLayerEnable] != 0) {
            initMenu();
            if (current == 1)
                image_select();
            else if (current == 2)
                initSource();
        } else {
            image_index = 0;
            image_select();
            initMenu();
        }
    } else if (current == 1) {
        image_select();
    } else if (current == 2) {
        initSource();
    }

    if (code == 103 || cropChanged) {
        s->ZdrCropSourceInit();
        initSource();
        crop_source_num_update();
        return;
    }
    if (signalChanged)
        source_check_update();
}
