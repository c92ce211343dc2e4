#include "ui/picture/custommode.h"
#include "ui/picture/picture_widgets.h"

#include "core/alias.h"
#include "core/le_bytes.h"
#include "core/omenu.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "videochip/c331_manage.h"

#include <QFontMetrics>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <cstdio>
#include <cstring>

QPointer<CustomMode> g_custommode;
QFrame* g_frame[16] = {};
QPointer<QPushButton> g_button_focus;

namespace {

const char* const kTilePlain = "background-color: #212435;border:1px solid #FFFFFF;border-radius:5px;";
const char* const kTileInUse = "background-color: #212435;border:1px solid #00D65B;border-radius:5px;";
const char* const kTileSelected = "background-color: #212435;border:2px solid #00D65B;border-radius:5px;";
const char* const kActionPlain = "background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
const char* const kActionFocus = "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
const char* const kFormButton = "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255, 255, 255);";
const char* const kWhite = "color: rgb(255, 255, 255);";
const char* const kRowStyle = "background-color: #10101C;color: #FFFFFF;";

// Slot data offset of a block field.
constexpr int slotOffset(int blockOffset) { return blockOffset - para::kModeStart; }

ZdrRamPara* store() { return ZdrRamPara::pInstance(); }

// A copy of a slot (the PC writes the slots too); its data starts after
// the 2-byte marker.
struct SlotCopy {
    explicit SlotCopy(int slot) { store()->snapshot_slot(slot, bytes); }
    const unsigned char* data() const { return bytes + 2; }
    unsigned char bytes[ZdrRamPara::kSlotSize];
};

int modeInUse() { return store()->ZdrGetCurrentModeIndex(); }

// A form widget: object name, place, font in points and style sheet.
template <typename W>
W* formWidget(QWidget* parent, const char* name, int x, int y, int w, int h, int points, const char* style)
{
    W* widget = new W(parent);
    widget->setObjectName(name);
    widget->setGeometry(x, y, w, h);
    QFont f = widget->font();
    f.setPointSize(points);
    widget->setFont(f);
    widget->setStyleSheet(style);
    return widget;
}

QLabel* formLabel(QWidget* parent, const char* name, int x, int y, int w, int h, int points,
                  const char* style = kWhite)
{
    return formWidget<QLabel>(parent, name, x, y, w, h, points, style);
}

QPushButton* formButton(QWidget* parent, const char* name, int x, int y, int w, int h, int points,
                        const char* style)
{
    return formWidget<QPushButton>(parent, name, x, y, w, h, points, style);
}

QString aliasName(int slot, bool* found)
{
    ALIAS_PARA alias;
    *found = get_json_alias_para(&alias, "usermode", slot) != 0;
    return *found ? QString::fromStdString(alias.name) : QString();
}

QString inUseText() { return ui_text("使用中", "Using", "Использовать", "sử dụng"); }

bool isHex6(const QString& s)
{
    if (s.size() != 6)
        return false;
    for (const QChar c : s)
        if (!isxdigit(c.toLatin1()))
            return false;
    return true;
}

} // namespace

QString custommode_source_text(int input, bool isCrop, int cropRecord, bool on)
{
    static const char* const names[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};
    // An input number without a name (a slot written by other software)
    // shows the number itself.
    QString text = input >= 0 && input < 6 ? QString(names[input]) : QString("IN%1").arg(input);
    if (isCrop)
        text += QString("_Crop%1").arg(cropRecord + 1);
    text += " ";
    text += on ? ui_text("开启", "ON", "Вкл", "Mở") : ui_text("关闭", "OFF", "Откл", "đóng");
    return text;
}

QString custommode_osd_sample(const QString& texts)
{
    const QStringList parts = texts.split("\n");
    if (parts.size() > 3)
        return parts.mid(0, 3).join("\n");
    return texts;
}

QString custommode_osd_color(const std::string& color, const char* fallback)
{
    // The colours are written with a two-character prefix ("0x").
    const QString text = QString::fromStdString(color);
    const QString digits = text.mid(2);
    if (isHex6(digits))
        return digits;
    // A colour written without its prefix, or none at all (no OSD file):
    // a broken style sheet would leave the label unstyled.
    if (isHex6(text))
        return text;
    return fallback;
}

void Ui_CustomMode::setupUi(QDialog* dialog)
{
    dialog->setObjectName("CustomMode");
    dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    dialog->setFixedSize(800, 480);
    dialog->move(0, 0);
    QFont pageFont = dialog->font();
    pageFont.setPointSize(30);
    dialog->setFont(pageFont);
    dialog->setStyleSheet("background-color: rgb(16, 16, 28);");
    dialog->setWindowTitle("Dialog");

    Button_back = formButton(dialog, "Button_back", 11, 11, 50, 50, 20, kWhite);
    Button_back->setFocusPolicy(Qt::NoFocus);
    frame = new QFrame(dialog);
    frame->setObjectName("frame");
    frame->setGeometry(196, 68, 590, 410);
    frame->setStyleSheet("#frame{border:1px solid rgb(133, 129, 153);}");
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Raised);
    Button_delete = formButton(frame, "Button_delete", 310, 370, 120, 30, 12, kFormButton);
    Button_use = formButton(frame, "Button_use", 450, 370, 120, 30, 12, kFormButton);
    label = formLabel(frame, "label", 10, 10, 150, 100, 12, "background-color: rgb(212, 252, 121);");
    lineEdit = new QLineEdit(frame);
    lineEdit->setObjectName("lineEdit");
    lineEdit->setGeometry(0, 118, 590, 1);
    lineEdit->setStyleSheet("border:1px solid rgb(133, 129, 153);");
    label_ID = formLabel(frame, "label_ID", 170, 10, 54, 26, 12);
    label_name = formLabel(frame, "label_name", 170, 36, 171, 26, 12);
    label_LED = formLabel(frame, "label_LED", 170, 62, 191, 26, 12);
    label_brightness = formLabel(frame, "label_brightness", 170, 88, 400, 26, 12);
    label_using = formLabel(frame, "label_using", 225, 10, 88, 28, 12,
                            "background-color: rgb(0, 214, 91);\ncolor: rgb(255, 255, 255);\n"
                            "border:0px groove gray;\nborder-radius:14px;");
    QFont bold = label_using->font();
    bold.setWeight(75);
    label_using->setFont(bold);
    label_using->setAlignment(Qt::AlignCenter);
    label_blank = formLabel(frame, "label_blank", 30, 150, 180, 26, 14);
    label_title = formLabel(dialog, "label_title", 124, 15, 552, 42, 18);
    label_title->setAlignment(Qt::AlignCenter);
    Button_delete->setText("删除");
    Button_use->setText("调用");
    label_ID->setText("ID:1");
    label_name->setText("名称：VELMO");
    label_LED->setText("LED参数：1920x1080");
    label_brightness->setText("亮度:XXX  ");
    label_using->setText("使用中");
    label_blank->setText("未保存用户模式数据");
    label_title->setText("用户模式");
    frame->raise();
    Button_back->raise();
    label_title->raise();

    QMetaObject::connectSlotsByName(dialog);
}

CustomMode::CustomMode(QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    shell_back_look(Button_back);
    label_blank->hide();

    // What the page draws below is at least as new as this word.
    shown_mode_ = store()->block_word(para::kCurrentMode);
    const int inUse = modeInUse();
    g_mode_select = static_cast<unsigned char>(inUse > 0 ? inUse - 1 : 0);
    init();
    lcd_para_init();
    image_para_init();
    label_ID->setText(QString::asprintf("ID:%d", g_mode_select + 1));
    g_button_focus = Button_use;
    Button_use->setStyleSheet(kActionFocus);
    language_changed();
}

CustomMode::~CustomMode()
{
    for (QFrame*& f : g_frame)
        f = nullptr;
}

void CustomMode::init()
{
    if (mode_scroll) {
        delete mode_scroll;
        mode_scroll = nullptr;
        mode_container = nullptr;
        using_badge = nullptr;
    }
    mode_scroll = new QScrollArea(this);
    mode_scroll->setObjectName("mode_scroll");
    mode_scroll->setGeometry(2, 66, 190, 414);
    mode_scroll->setWidgetResizable(true);
    mode_scroll->verticalScrollBar()->setStyleSheet(
        "QScrollBar:vertical{width:32px;background:#10101C;padding-top:0px;padding-bottom:0px;}"
        "QScrollBar::handle:vertical{width:32px;background-color:#D5D5D5;border-radius:14px;}"
        "QScrollBar::add-page:vertical {background:#10101C;}QScrollBar::sub-page:vertical {background:#10101C;}");

    mode_container = new QWidget();
    mode_container->setObjectName("mode_container");
    mode_container->setGeometry(0, 0, 157, 1440);
    mode_container->setMinimumSize(100, 1440);
    using_badge = new QLabel(mode_container);
    using_badge->setObjectName("using_badge");
    using_badge->hide();
    para_font = font();
    para_font.setPointSize(10);
    QFont nameFont = font();
    nameFont.setPixelSize(20);

    const int inUse = modeInUse();
    for (int i = 0; i < ZdrRamPara::kSlotCount; ++i) {
        const int y = 2 + 90 * i;
        QFrame* tile = new QFrame(mode_container);
        tile->setGeometry(2, y, 150, 80);
        tile->setStyleSheet(inUse == i + 1 ? kTileInUse : kTilePlain);
        g_frame[i] = tile;

        QLabel* number = new QLabel(mode_container);
        number->setObjectName("mode_number");
        number->setGeometry(3, y + 1, 24, 24);
        number->setText(QString::number(i + 1));
        number->setAlignment(Qt::AlignCenter);
        number->setStyleSheet("background-color: #4777FF; color: #FFFFFF;border-radius:5px;");

        QLabel* name = new QLabel(mode_container);
        name->setObjectName("mode_name");
        name->setGeometry(27, y + 29, 100, 28);
        name->setAlignment(Qt::AlignCenter);
        name->setFont(nameFont);
        name->setStyleSheet("background-color: #212435;color: #FFFFFF");
        bool named = false;
        const QString alias = aliasName(i, &named);
        if (named)
            name->setText(QFontMetrics(name->font()).elidedText(alias, Qt::ElideRight, name->width(),
                                                                 Qt::TextShowMnemonic));
        else
            name->setText(ui_text("用户模式%1", "MODE %1", "Слот %1", "Chế độ %1").arg(i + 1));

        QPushButton* button = new QPushButton(mode_container);
        button->setObjectName(QString::number(i));
        button->setGeometry(3, y + 1, 148, 78);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this, &CustomMode::zdr_button_mode_clicked);

        if (inUse == i + 1) {
            using_badge->setText(in_use_badge_text());
            using_badge->setStyleSheet("background-color: #00D65B;color: rgb(255, 255, 255);font: 18px;border-radius:5px;");
            using_badge->setAlignment(Qt::AlignCenter);
            using_badge->setGeometry(96, y, 56, 30);
            using_badge->show();
        }
    }
    using_badge->raise();
    mode_scroll->setWidget(mode_container);
    mode_scroll->show();
}

void CustomMode::zdr_button_mode_clicked()
{
    const int slot = shell_button_index(sender(), ZdrRamPara::kSlotCount);
    if (slot < 0)
        return;
    if (QFrame* old = g_frame[g_mode_select % ZdrRamPara::kSlotCount])
        old->setStyleSheet(kTilePlain);
    g_mode_select = static_cast<unsigned char>(slot);
    label_ID->setText(QString::asprintf("ID:%d", slot + 1));
    if (g_frame[slot])
        g_frame[slot]->setStyleSheet(kTileSelected);
    lcd_para_init();
    image_para_init();
}

void CustomMode::lcd_para_init()
{
    const SlotCopy copy(g_mode_select % ZdrRamPara::kSlotCount);
    std::memcpy(shown_slot_, copy.bytes, sizeof shown_slot_);
    const unsigned char* data = copy.data();
    bool named = false;
    const QString alias = aliasName(g_mode_select, &named);
    if (named)
        label_name->setText(QFontMetrics(label_name->font())
                                .elidedText(ui_text("名称:", "Name:", "Название:", "Tên:") + alias, Qt::ElideRight,
                                            171, Qt::TextShowMnemonic));
    else
        label_name->setText(ui_text("名称:用户模式%1", "Name:Mode%1", "Название:Слот%1", "Tên:Chế độ%1")
                                .arg(g_mode_select + 1));

    const int width = static_cast<int16_t>(le16(data, slotOffset(para::kLedWidth)));
    const int height = static_cast<int16_t>(le16(data, slotOffset(para::kLedHeight)));
    label_LED->setText(ui_text("LED参数:%1x%2", "LED size:%1x%2", "Размер LED:%1x%2", "Kích thước LED:%1x%2")
                           .arg(width)
                           .arg(height));

    const int bri = static_cast<int16_t>(le16(data, slotOffset(para::kBrightness)));
    const int ctrst = static_cast<int16_t>(le16(data, slotOffset(para::kContrast)));
    // The audio window names one of the layer records; a value beyond them
    // (a slot written by other software) reads as volume off.
    const int audio = data[slotOffset(para::kAudioWindow)];
    const bool volumeOn =
        audio < para::kLayerCount &&
        (le16(data, slotOffset(para::layer(audio) + para::kLayerAudioLevel)) & 0x8000) != 0;
    const QString text = volumeOn ? ui_text("亮度:%1 对比度:%2 音量:开启", "Bri:%1 CTRST:%2 Volume:ON",
                                            "Яркость:%1 Контраст:%2 Громкость:Вкл", "Độ sáng:%1 Tương phản:%2 Âm:Mở")
                                  : ui_text("亮度:%1 对比度:%2 音量:关闭", "Bri:%1 CTRST:%2 Volume:OFF",
                                            "Яркость:%1 Контраст:%2 Громкость:Откл", "Độ sáng:%1 Tương phản:%2 Âm:đóng");
    label_brightness->setText(text.arg(bri).arg(ctrst));
    label_using->setVisible(modeInUse() == g_mode_select + 1);
}

void CustomMode::color_fill(QLabel* target, char layer)
{
    static const char* const colours[6] = {"#D5E5FF", "#D4FC79", "#FC9D79", "#7E9AC9", "#32CC4C", "#4777FF"};
    const int l = static_cast<unsigned char>(layer);
    target->setStyleSheet(QString("background-color: %1;").arg(l < 6 ? colours[l] : "#CCCCCC"));
}

void CustomMode::image_para_init()
{
    delete preview;
    preview = nullptr;
    const int slot = g_mode_select % ZdrRamPara::kSlotCount;
    if (!store()->ZdrUserModeSaved(slot)) {
        label_LED->hide();
        label_brightness->hide();
        label_blank->show();
        return;
    }
    label_LED->show();
    label_brightness->show();
    label_blank->hide();
    preview = new QWidget(frame);
    preview->setObjectName("preview");
    preview->setGeometry(2, 120, 587, 244);
    preview->setMinimumSize(100, 244);

    const SlotCopy copy(slot);
    const unsigned char* data = copy.data();
    for (int l = 0; l < 6; ++l) {
        const int c = l / 3;
        const int r = l % 3;
        QLabel* badge = new QLabel(preview);
        badge->setObjectName("layer_number");
        badge->setGeometry(c ? 300 : 10, 6 + 48 * r, 45, 45);
        badge->setText(QString::number(l + 1));
        badge->setAlignment(Qt::AlignCenter);
        badge->setFont(para_font);
        color_fill(badge, static_cast<char>(l));

        short isCrop = 0;
        char cropRecord = 0;
        const int input = store()->ZdrGetImageSource(data, static_cast<unsigned char>(l), &isCrop, &cropRecord, 1);
        const int at = para::layer(l) - para::kModeStart;
        QLabel* source = new QLabel(preview);
        source->setObjectName("layer_source");
        source->setGeometry(c ? 355 : 65, 6 + 45 * r, 100, 20);
        source->setFont(para_font);
        source->setStyleSheet(kRowStyle);
        source->setText(custommode_source_text(input, isCrop != 0, static_cast<unsigned char>(cropRecord),
                                               le16(data, at + para::kLayerEnable) != 0));

        QLabel* rect = new QLabel(preview);
        rect->setObjectName("layer_rect");
        rect->setGeometry(c ? 355 : 65, 30 + 45 * r, c ? 470 : 200, 20);
        rect->setFont(para_font);
        rect->setStyleSheet(kRowStyle);
        rect->setText(QString("[%1,%2]%3x%4")
                          .arg(le16(data, at + para::kLayerX))
                          .arg(le16(data, at + para::kLayerY))
                          .arg(le16(data, at + para::kLayerW))
                          .arg(le16(data, at + para::kLayerH)));
    }

    if (le16(data, para::kOsdOn - para::kModeStart) != 0) {
        char path[32];
        std::snprintf(path, sizeof(path), "/data/modes/MO%02x.json", slot + 1);
        OSD_LIST list;
        get_json_omenu_para(path, &list);
        const OMENU_PARA& osd = list.menu[0];
        QFont small = font();
        small.setPixelSize(12);

        QLabel* sample = new QLabel(preview);
        sample->setObjectName("osd_sample");
        sample->setGeometry(10, 150, 570, 56);
        sample->setFont(small);
        sample->setFrameShape(QFrame::NoFrame);
        sample->setStyleSheet("background-color:#" + custommode_osd_color(osd.backpara_color, "000000") +
                              ";color:#" + custommode_osd_color(osd.font_color, "FFFFFF") + ";");
        sample->setText(custommode_osd_sample(QString::fromStdString(osd.texts)));

        QLabel* params = new QLabel(preview);
        params->setObjectName("osd_para");
        params->setGeometry(10, 207, 570, 40);
        params->setFont(small);
        params->setFrameShape(QFrame::NoFrame);
        params->setStyleSheet(kRowStyle);
        auto u = [](int v) { return QString::number(static_cast<unsigned int>(v)); };
        const bool zh = ui_language() == 0;
        QString effect;
        switch (osd.effect) {
        case 2: effect = zh ? "特技:上移" : "effect:move up"; break;
        case 3: effect = zh ? "特技:下移" : "effect:move down"; break;
        case 4: effect = zh ? "特技:左移" : "effect:move left"; break;
        case 5: effect = zh ? "特技:右移" : "effect:move right"; break;
        default: effect = zh ? "特技:静止" : "effect:static"; break;
        }
        QString text = "osd [x:" + u(osd.pos_x) + ",y:" + u(osd.pos_y) + ",w:" + u(osd.pos_w) + ",h:" + u(osd.pos_h) +
                       "] " + (zh ? "字体大小:" : "font size:") + u(osd.fontw) + "*" + u(osd.fonth) + "\n" +
                       (zh ? "字-行间距 [h:" : "space [h:") + u(osd.wordspace) + ",v:" + u(osd.verticalspace) + "] " +
                       (zh ? "字幕坐标[x:" : "char[x:") + u(osd.startx) + ",y:" + u(osd.starty) + "] " +
                       (zh ? "速度:" : "speed:") + u(osd.speed) + "," + effect;
        params->setText(text);
    }
    preview->show();
}

void CustomMode::highlight(QPushButton* pressed)
{
    if (g_button_focus)
        g_button_focus->setStyleSheet(kActionPlain);
    g_button_focus = pressed;
    pressed->setStyleSheet(kActionFocus);
}

void CustomMode::on_Button_use_clicked()
{
    highlight(Button_use);
    store()->ZdrUserModeLoad(g_mode_select % ZdrRamPara::kSlotCount);
}

void CustomMode::on_Button_delete_clicked()
{
    highlight(Button_delete);
    if (store()->mode_file_deal(g_mode_select % ZdrRamPara::kSlotCount, ZdrRamPara::kModeFileDelete) < 0)
        return;
    lcd_para_init();
    image_para_init();
}

void CustomMode::language_changed()
{
    label_title->setText(ui_text("用户模式", "User mode", "Слот", "Chế độ người dùng"));
    Button_delete->setText(ui_text("删除", "Delete", "Удалить", "Xoá bỏ"));
    Button_use->setText(ui_text("调用", "Invoke", "Вызвать", "Dùng"));
    label_using->setText(inUseText());
}

void CustomMode::syncUpdate()
{
    ZdrRamPara* s = store();
    if (s->ZdrLanguageChanged())
        language_changed();
    // Compared with what the page shows, not with the file's copy.
    const unsigned mode = s->block_word(para::kCurrentMode);
    if (mode != shown_mode_) {
        shown_mode_ = mode;
        init();
        lcd_para_init();
        image_para_init();
        return;
    }
    // The PC saves into and empties the slots too.
    const SlotCopy selected(g_mode_select % ZdrRamPara::kSlotCount);
    if (std::memcmp(selected.bytes, shown_slot_, sizeof shown_slot_) != 0) {
        lcd_para_init();
        image_para_init();
    }
}

void CustomMode::on_Button_back_clicked()
{
    g_custommode = nullptr;
    if (g_mainwindow)
        g_mainwindow->language_changed();
    shell_close_page(this, kFocusHome);
}
