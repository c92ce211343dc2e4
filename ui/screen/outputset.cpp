#include "ui/screen/outputset.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/utils.h"
#include "core/zdrrampara.h"
#include "sendcard/fpga_manage.h"
#include "ui/screen/screen_form.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "videochip/c331_manage.h"

#include <QComboBox>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QListView>
#include <QMutexLocker>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>

QPointer<OutputSet> g_outputset;
QPointer<QPushButton> g_set_focus;
QPointer<QPushButton> g_apply_focus1;
QPointer<QPushButton> g_apply_focus2;
QPointer<QPushButton> g_wlan_focus;
QPointer<QFrame> g_wlan_frame[8];

namespace {

const char* const kWhite = "color: rgb(255, 255, 255);";
const char* const kStyleF = "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);\nborder:1px solid rgb(255, 255, 255);";
const char* const kStyleB = "QPushButton {color: rgb(255, 255, 255);}\nQPushButton {border:1px solid rgb(255, 255, 255);}";
const char* const kTabOn = "background-color: #4777FF;color: #FFFFFF;border:none";
const char* const kTabOff = "color: #FFFFFF";
const char* const kPairOn = "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
const char* const kPairOff = "color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
const char* const kTileOn = "background-color: #212435;border:1px solid #00D65B;";
const char* const kTileOff = "background-color: #212435;border:1px solid #FFFFFF;";
constexpr int kMaxOut = 8188;

template <typename W>
void highlight(QPointer<W>& global, W* widget, const char* on, const char* off)
{
    if (global)
        global->setStyleSheet(off);
    global = widget;
    if (widget)
        widget->setStyleSheet(on);
}

My_lineEdit* number_field(QWidget* parent, const char* name, int x, int y, int w, int h, int points, const char* style)
{
    My_lineEdit* field = form_widget<My_lineEdit>(parent, name, x, y, w, h, points, style);
    field->setAlignment(Qt::AlignCenter);
    return field;
}

// A field's number; no number counts as 0.
int field_value(const My_lineEdit* field)
{
    bool ok = false;
    const int v = field->text().toInt(&ok, 10);
    return ok ? v : 0;
}

// A field as a signed 16-bit number; anything else counts as 0.
int16_t field_le16(const My_lineEdit* field)
{
    const int v = field_value(field);
    return v >= -32768 && v <= 32767 ? static_cast<int16_t>(v) : 0;
}

// Half a width or height as the outputs split it: plus 2 when odd.
int half_of(int n)
{
    return n / 2 + (n % 2 ? 2 : 0);
}

int round_up(int v, int step)
{
    return (v + step - 1) / step * step;
}

// What is left of the screen width for OUT2 beside OUT1; never below 0 (an
// OUT1 as wide as the screen leaves OUT2 nothing).
int width_left(int w, int out1)
{
    return w > out1 ? w - out1 : 0;
}

} // namespace

void Ui_OutputSet::setupUi(QDialog* dialog)
{
    form_dialog(dialog, "OutputSet");

    Button_back = form_widget<QPushButton>(dialog, "Button_back", 10, 10, 50, 50, 20, kWhite);
    Button_back->setFocusPolicy(Qt::NoFocus);
    Button_back->setFlat(true);
    label_title = form_widget<QLabel>(dialog, "label_title", 199, 14, 402, 42, 18, kWhite);
    label_title->setAlignment(Qt::AlignCenter);
    Button_ledset = form_widget<QPushButton>(dialog, "Button_ledset", 20, 80, 140, 60, 0, "QPushButton {color: rgb(255, 255, 255);}");
    Button_lanset = form_widget<QPushButton>(dialog, "Button_lanset", 20, 150, 140, 60, 0, "QPushButton {color: rgb(255, 255, 255);}");
    Button_ledset->setFocusPolicy(Qt::NoFocus);
    Button_lanset->setFocusPolicy(Qt::NoFocus);

    stackedWidget = form_widget<QStackedWidget>(dialog, "stackedWidget", 180, 70, 610, 400, 8,
                                                "#stackedWidget{border:1px solid rgb(133, 129, 153);}");
    page = new QWidget();
    page->setObjectName("page");
    page_2 = new QWidget();
    page_2->setObjectName("page_2");
    stackedWidget->addWidget(page);
    stackedWidget->addWidget(page_2);

    // Page 0.
    label_s1 = form_widget<QLabel>(page, "label_s1", 20, 8, 400, 30, 13, kWhite);
    label_width = form_widget<QLabel>(page, "label_width", 20, 45, 70, 41, 15, kWhite);
    lineEdit_width = number_field(page, "lineEdit_width", 95, 45, 100, 41, 15, kStyleF);
    label_height = form_widget<QLabel>(page, "label_height", 220, 45, 70, 41, 15, kWhite);
    lineEdit_height = number_field(page, "lineEdit_height", 295, 45, 100, 41, 15, kStyleF);
    label_warning = form_widget<QLabel>(page, "label_warning", 20, 95, 24, 24);
    label_tip = form_widget<QLabel>(page, "label_tip", 50, 92, 530, 30, 12, "color: rgb(255, 171, 84);");
    label_s2 = form_widget<QLabel>(page, "label_s2", 20, 125, 300, 30, 13, kWhite);
    comboBox = form_widget<QComboBox>(page, "comboBox", 20, 155, 200, 40, 15,
                                      "QComboBox { color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255); }\n"
                                      "QComboBox QAbstractItemView::item { color: rgb(255, 255, 255); min-height: 40px; "
                                      "min-width: 60px; }");
    for (const char* item : {"水平拼接", "垂直拼接", "复制模式"})
        comboBox->addItem(QString::fromUtf8(item));
    out_label = form_widget<QLabel>(page, "out_label", 388, 155, 100, 40, 0, "border:1px solid rgb(255, 255, 255);");
    label_OUT1 = form_widget<QLabel>(page, "label_OUT1", 40, 212, 100, 22, 12, kWhite);
    label_OUT2 = form_widget<QLabel>(page, "label_OUT2", 320, 212, 100, 22, 12, kWhite);
    frame_OUT1 = form_widget<QFrame>(page, "frame_OUT1", 40, 236, 240, 115, 0,
                                     "#frame_OUT1{border:1px solid rgb(255, 255, 255);\nborder-radius:6px;}");
    frame_OUT2 = form_widget<QFrame>(page, "frame_OUT2", 320, 236, 240, 115, 0,
                                     "#frame_OUT2{border:1px solid rgb(255, 255, 255);\nborder-radius:6px;}");
    for (QFrame* f : {frame_OUT1, frame_OUT2}) {
        f->setFrameShape(QFrame::StyledPanel);
        f->setFrameShadow(QFrame::Raised);
    }
    label_out1_width = form_widget<QLabel>(frame_OUT1, "label_out1_width", 10, 12, 110, 33, 15, kWhite);
    lineEdit_out1_width = number_field(frame_OUT1, "lineEdit_out1_width", 125, 12, 100, 33, 0, kStyleF);
    label_out1_height = form_widget<QLabel>(frame_OUT1, "label_out1_height", 10, 65, 110, 33, 15, kWhite);
    lineEdit_out1_height = number_field(frame_OUT1, "lineEdit_out1_height", 125, 65, 100, 33, 0, kStyleF);
    label_out2_width = form_widget<QLabel>(frame_OUT2, "label_out2_width", 10, 12, 110, 33, 15, kWhite);
    lineEdit_out2_width = number_field(frame_OUT2, "lineEdit_out2_width", 125, 12, 100, 33, 0, kStyleF);
    label_out2_height = form_widget<QLabel>(frame_OUT2, "label_out2_height", 10, 65, 110, 33, 15, kWhite);
    lineEdit_out2_height = number_field(frame_OUT2, "lineEdit_out2_height", 125, 65, 100, 33, 0, kStyleF);
    Button_cancel1 = form_widget<QPushButton>(page, "Button_cancel1", 165, 355, 120, 40, 16, kStyleB);
    Button_apply1 = form_widget<QPushButton>(page, "Button_apply1", 325, 355, 120, 40, 16, kStyleB);

    // Page 1.
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "Button_wlan" + QByteArray::number(i + 1);
        Button_wlan[i] = form_widget<QPushButton>(page_2, name.constData(), 20 + 145 * i, 12, 130, 50, 14,
                                                  "color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);");
    }
    line = form_widget<QFrame>(page_2, "line", 1, 70, 608, 3, 0, "border:1px solid rgb(133, 129, 153);");
    line_2 = form_widget<QFrame>(page_2, "line_2", 1, 242, 608, 3, 0, "border:1px solid rgb(133, 129, 153);");
    for (QFrame* f : {line, line_2}) {
        f->setFrameShape(QFrame::HLine);
        f->setFrameShadow(QFrame::Sunken);
    }
    QLabel** labels[4] = {&label_X, &label_Y, &label_W, &label_H};
    My_lineEdit** fields[4] = {&lineEdit_X, &lineEdit_Y, &lineEdit_W, &lineEdit_H};
    const char* const labelNames[4] = {"label_X", "label_Y", "label_W", "label_H"};
    const char* const fieldNames[4] = {"lineEdit_X", "lineEdit_Y", "lineEdit_W", "lineEdit_H"};
    for (int i = 0; i < 4; ++i) {
        *labels[i] = form_widget<QLabel>(page_2, labelNames[i], 2 + 150 * i, 260, 66, 50, 14, kWhite);
        *fields[i] = number_field(page_2, fieldNames[i], 68 + 150 * i, 260, 80, 50, 0,
                                  "color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);");
    }
    Button_cancel2 = form_widget<QPushButton>(page_2, "Button_cancel2", 100, 330, 180, 60, 0, kStyleB);
    Button_apply2 = form_widget<QPushButton>(page_2, "Button_apply2", 330, 330, 180, 60, 0, kStyleB);

    retranslateUi(dialog);
    stackedWidget->setCurrentIndex(0);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_OutputSet::retranslateUi(QDialog*)
{
    lineEdit_width->setText("1920");
    lineEdit_height->setText("1080");
    lineEdit_X->setText("9999");
    lineEdit_Y->setText("9999");
    label_OUT1->setText("OUT1");
    label_OUT2->setText("OUT2");
    label_X->setText("X");
    label_Y->setText("Y");
}

OutputSet::OutputSet(QWidget* parent)
    : QDialog(parent)
{
    wlan_font.setPointSize(12);
    ui = new Ui_OutputSet;
    ui->setupUi(this);

    wlan_init();
    para_init();
    wlan_para_get(0);

    shell_back_look(ui->Button_back);
    ui->label_warning->setPixmap(QPixmap(":/png/warning.png").scaled(ui->label_warning->size()));

    g_set_focus = g_apply_focus1 = g_apply_focus2 = g_wlan_focus = nullptr;
    highlight(g_set_focus, ui->Button_ledset, kTabOn, kTabOff);
    highlight(g_apply_focus1, ui->Button_cancel1, kPairOn, kPairOff);
    highlight(g_apply_focus2, ui->Button_cancel2, kPairOn, kPairOff);
    highlight(g_wlan_focus, ui->Button_wlan[0], kPairOn, kPairOff);
    ui->stackedWidget->setCurrentIndex(0);

    for (My_lineEdit* f : {ui->lineEdit_width, ui->lineEdit_height, ui->lineEdit_out1_width, ui->lineEdit_out1_height})
        connect(f, &My_lineEdit::send_show, this, &OutputSet::show_numberkeyboard_ui);
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->lineEdit_out2_width, ui->lineEdit_out2_height, ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W,
             ui->lineEdit_H, ui->lineEdit_width, ui->lineEdit_height, ui->label_out1_width, ui->label_out1_height,
             ui->label_out2_width, ui->label_out2_height})
        w->setEnabled(false);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &OutputSet::confirmString);

    language_changed();
    ui->comboBox->setView(new QListView());
    ui->Button_apply2->hide();
    ui->Button_cancel2->hide();
}

OutputSet::~OutputSet()
{
    delete ui;
}

void OutputSet::para_init()
{
    // Other threads write the block: the page shows a copy.
    unsigned char block[para::kBlockSize];
    ZdrRamPara::pInstance()->snapshot_block(block);
    ui->lineEdit_width->setText(QString::number(static_cast<int16_t>(le16(block, para::kLedWidth))));
    ui->lineEdit_height->setText(QString::number(le16(block, para::kLedHeight)));
    const unsigned mode = le16(block, para::kSpliceMode);
    const int index = mode == 2 ? 1 : mode == 3 ? 0 : 2;
    ui->comboBox->setCurrentIndex(index);
    splice_type = mode == 2 ? 2 : mode == 3 ? 3 : 4;
    out_label_changed();
    ui->lineEdit_out1_width->setText(QString::number(le16(block, para::kOut1 + 4)));
    ui->lineEdit_out1_height->setText(QString::number(le16(block, para::kOut1 + 6)));
    ui->lineEdit_out2_width->setText(QString::number(le16(block, para::kOut2 + 4)));
    ui->lineEdit_out2_height->setText(QString::number(le16(block, para::kOut2 + 6)));
}

void OutputSet::syncUpdate()
{
    if (ZdrRamPara::pInstance()->ZdrLanguageChanged())
        language_changed();
    para_init();
}

void OutputSet::language_changed()
{
    ui->label_title->setText(ui_text("输出设置", "Output Seeting", "Выход", "Thông số đầu ra"));
    ui->Button_ledset->setText(ui_text("LED设置", "LED Setting", "Настройки LED", "Cài đặt LED"));
    ui->Button_lanset->setText(ui_text("网口输出", "Port output", "Настройка LAN", "Cài đặt\ncổng MẠNG"));
    ui->label_s1->setText(ui_text("1.设置LED屏宽高", "1.Set LED W&H", "1.Разрешение LED шир и выс", "1.Cài đặt thông số led"));
    ui->label_s2->setText(ui_text("2.选择拼接方式", "2.Splice", "2.Сплайсер", "2.Ghép nối"));
    const QString w = ui_text("宽", "W", "Ширина", "Rộng");
    const QString h = ui_text("高", "H", "Высота", "Cao");
    for (QLabel* l : {ui->label_width, ui->label_out1_width, ui->label_out2_width, ui->label_W})
        l->setText(w);
    for (QLabel* l : {ui->label_height, ui->label_out1_height, ui->label_out2_height, ui->label_H})
        l->setText(h);
    ui->label_tip->setText(ui_text("可设LED屏最大点数:%1(宽),%2(高)", "LED max:%1(w),%2(h)",
                                   "Ширина:%1(px)Высота:%2(px)", "Điểm ảnh lớn nhất:%1(ngang),%2(dọc)")
                               .arg(16376)
                               .arg(16376));
    const QString cancel = ui_text("取消", "Cancle", "Отмена", "Hủy bỏ");
    const QString apply = ui_text("应用", "Apply", "OK", "Đồng ý");
    ui->Button_cancel1->setText(cancel);
    ui->Button_cancel2->setText(cancel);
    ui->Button_apply1->setText(apply);
    ui->Button_apply2->setText(apply);
    const QString group = ui_text("网口%1~%2", "LED%1~%2", "LED%1~%2", "LED%1~%2");
    for (int i = 0; i < 4; ++i)
        ui->Button_wlan[i]->setText(group.arg(8 * i + 1).arg(8 * i + 8));
    combox_language_change();
}

void OutputSet::combox_language_change()
{
    const int index = ui->comboBox->currentIndex();
    ui->comboBox->clear();
    ui->comboBox->insertItem(0, ui_text("水平拼接", "horizontal", "Горизонтально", "Chiều ngang"));
    ui->comboBox->insertItem(1, ui_text("垂直拼接", "VerticalS", "Вертикально", "Chiều cao"));
    ui->comboBox->insertItem(2, ui_text("复制模式", "copy", "Дублирование", "Sao chép"));
    ui->comboBox->setCurrentIndex(index);
}

void OutputSet::out_label_changed()
{
    struct Place {
        const char* picture;
        int x, y, w, h;
    };
    static const Place kPlaces[3] = {{":/png/out_horizontal.png", 348, 155, 180, 40},
                                     {":/png/out_vertical.png", 430, 130, 100, 80},
                                     {":/png/out_copy.png", 388, 155, 100, 40}};
    const int index = ui->comboBox->currentIndex();
    if (index < 0 || index > 2)
        return;
    const Place& p = kPlaces[index];
    ui->out_label->setGeometry(p.x, p.y, p.w, p.h);
    ui->out_label->setPixmap(QPixmap(p.picture).scaled(p.w, p.h));
}

void OutputSet::on_comboBox_currentIndexChanged(int index)
{
    int w = field_value(ui->lineEdit_width);
    const int h = field_value(ui->lineEdit_height);
    switch (index) {
    case 0: {
        splice_type = 3;
        const int a = round_up(half_of(w), 8);
        ui->lineEdit_out1_width->setText(QString::number(a));
        ui->lineEdit_out2_width->setText(QString::number(width_left(w, a)));
        ui->lineEdit_out1_height->setText(QString::number(h));
        ui->lineEdit_out2_height->setText(QString::number(h));
        break;
    }
    case 1: {
        splice_type = 2;
        const int b = h / 2 + (h % 2 ? 0 : 2);
        ui->lineEdit_out1_width->setText(QString::number(w));
        ui->lineEdit_out2_width->setText(QString::number(w));
        ui->lineEdit_out1_height->setText(QString::number(b));
        ui->lineEdit_out2_height->setText(QString::number(h - b));
        break;
    }
    case 2:
        splice_type = 4;
        if (w > kMaxOut) {
            w = kMaxOut;
            ui->lineEdit_width->setText(QString::number(w));
        }
        ui->lineEdit_out1_width->setText(QString::number(w));
        ui->lineEdit_out2_width->setText(QString::number(w));
        ui->lineEdit_out1_height->setText(QString::number(h));
        ui->lineEdit_out2_height->setText(QString::number(h));
        break;
    default:
        break;
    }
    out_label_changed();
}

void OutputSet::show_numberkeyboard_ui(QString text)
{
    My_lineEdit* field = qobject_cast<My_lineEdit*>(sender());
    if (!field || !g_numberkeyboard)
        return;
    g_lineedit = field;
    lineedit_name = field->objectName();
    const char* title = field == ui->lineEdit_out1_height || field == ui->lineEdit_height ? "高" : "宽";
    g_numberkeyboard->label_show(QString::fromUtf8(title), text);
    g_numberkeyboard->exec();
}

void OutputSet::confirmString(QString text)
{
    // Only results for this page's own fields.
    if (!g_lineedit || g_lineedit->window() != this)
        return;
    // A number of any length: one above the largest output is as much too
    // large as 9000 (held below), one beyond the 16-bit field is held to
    // its largest; no number at all leaves the fields alone.
    int v = 0;
    const bool out1 = lineedit_name == "lineEdit_out1_width" || lineedit_name == "lineEdit_out1_height";
    if (!keypad_held(text, 0, out1 ? kMaxOut + 1 : 32767, &v))
        return;
    const int w = field_value(ui->lineEdit_width);
    const int h = field_value(ui->lineEdit_height);
    // What is left of a screen wider than one output beside an OUT1 of r.
    auto wide_left = [w](int r) { return w % 32 ? w + 32 - r : w - r; };
    if (lineedit_name == "lineEdit_out1_width") {
        // Side by side, OUT1 is never wider than a screen of at most 8188:
        // the output would show more than the screen has and OUT2 would be
        // left a negative width. Stacked or copied, both outputs take the
        // width typed.
        auto within = [w, this](int out) { return splice_type == 3 && w > 0 && out > w ? w : out; };
        int out1 = v;
        int out2 = 0;
        if (v > kMaxOut) {
            splice_type = 3;
            out1 = w > kMaxOut ? 8192 : within(kMaxOut);
            out2 = w > kMaxOut ? wide_left(out1) : width_left(w, out1);
        } else if (w > kMaxOut) {
            out1 = round_up(v, 32);
            out2 = splice_type == 3 ? wide_left(out1) : out1;
        } else {
            out1 = within(v);
            out2 = splice_type == 3 ? width_left(w, out1) : out1;
        }
        ui->lineEdit_out1_width->setText(QString::number(out1));
        ui->lineEdit_out2_width->setText(QString::number(out2));
    } else if (lineedit_name == "lineEdit_out1_height") {
        if (v > kMaxOut)
            v = kMaxOut;
        // Stacked, OUT1 is never taller than the screen: OUT2 below it
        // would be left a negative height.
        if (splice_type == 2 && h > 0 && v > h)
            v = h;
        ui->lineEdit_out1_height->setText(QString::number(v));
        ui->lineEdit_out2_height->setText(QString::number(splice_type == 2 ? h - v : v));
    } else {
        g_lineedit->setText(QString::number(v));
    }
}

void OutputSet::on_Button_apply1_clicked()
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    const int16_t w = field_le16(ui->lineEdit_width);
    const int16_t h = field_le16(ui->lineEdit_height);
    const int16_t out1w = field_le16(ui->lineEdit_out1_width);
    const int16_t out1h = field_le16(ui->lineEdit_out1_height);
    const int16_t out2h = field_le16(ui->lineEdit_out2_height);
    {
        C331ParaLock lock;
        bool changed = false;
        {
            ParaWriteLock bytes;
            unsigned char* block = bytes.block();
            setLe16(block, para::kLedWidth, static_cast<uint16_t>(w));
            setLe16(block, para::kLedHeight, static_cast<uint16_t>(h));
            setLe16(block, para::kSpliceMode, splice_type);
            if (splice_type == 3) {
                setLe16(block, para::kOut1 + 6, static_cast<uint16_t>(out1h));
                setLe16(block, para::kOut2 + 6, static_cast<uint16_t>(out1h));
                setLe16(block, para::kOut1 + 4, static_cast<uint16_t>(out1w));
                setLe16(block, para::kOut2 + 4, static_cast<uint16_t>(width_left(w, out1w)));
                setLe16(block, para::kOut2, static_cast<uint16_t>(out1w));
                setLe16(block, para::kOut2 + 2, 0);
            } else if (splice_type == 2) {
                setLe16(block, para::kOut1 + 4, static_cast<uint16_t>(out1w));
                setLe16(block, para::kOut2 + 4, static_cast<uint16_t>(out1w));
                setLe16(block, para::kOut1 + 6, static_cast<uint16_t>(out1h));
                setLe16(block, para::kOut2 + 2, static_cast<uint16_t>(out1h));
                setLe16(block, para::kOut2 + 6, static_cast<uint16_t>(out2h));
                setLe16(block, para::kOut2, 0);
            } else {
                setLe16(block, para::kOut1 + 4, static_cast<uint16_t>(w));
                setLe16(block, para::kOut2 + 4, static_cast<uint16_t>(w));
                setLe16(block, para::kOut1 + 6, static_cast<uint16_t>(h));
                setLe16(block, para::kOut2 + 6, static_cast<uint16_t>(h));
                setLe16(block, para::kOut2, 0);
                setLe16(block, para::kOut2 + 2, 0);
            }
            const unsigned char* shadow = store->ram_para_shadow;
            for (int off : {para::kLedWidth, para::kLedHeight, para::kSpliceMode})
                changed = changed || le16(block, off) != le16(shadow, off);
            if (changed) {
                // A new screen starts with one full-screen window.
                setLe16(block, para::layer(0) + para::kLayerX, 0);
                setLe16(block, para::layer(0) + para::kLayerY, 0);
                setLe16(block, para::layer(0) + para::kLayerW, static_cast<uint16_t>(w));
                setLe16(block, para::layer(0) + para::kLayerH, static_cast<uint16_t>(h));
                for (int l = 1; l < 6; ++l)
                    setLe16(block, para::layer(l) + para::kLayerEnable, 0);
            }
            bytes.raise(1);
        }
        if (changed && fpga_both_running()) {
            QMutexLocker led(&Utils::_led_para_init_mutex);
            g_set_led_para = 1;
            g_set_led_setup = 0;
        }
    }
    highlight(g_apply_focus1, ui->Button_apply1, kPairOn, kPairOff);
}

void OutputSet::on_Button_cancel1_clicked()
{
    highlight(g_apply_focus1, ui->Button_cancel1, kPairOn, kPairOff);
}

void OutputSet::on_Button_apply2_clicked()
{
    highlight(g_apply_focus2, ui->Button_apply2, kPairOn, kPairOff);
}

void OutputSet::on_Button_cancel2_clicked()
{
    highlight(g_apply_focus2, ui->Button_cancel2, kPairOn, kPairOff);
}

void OutputSet::on_Button_ledset_clicked()
{
    highlight(g_set_focus, ui->Button_ledset, kTabOn, kTabOff);
    ui->stackedWidget->setCurrentIndex(0);
}

void OutputSet::on_Button_lanset_clicked()
{
    highlight(g_set_focus, ui->Button_lanset, kTabOn, kTabOff);
    ui->stackedWidget->setCurrentIndex(1);
}

void OutputSet::wlan_group_chosen(int group)
{
    highlight(g_wlan_focus, ui->Button_wlan[group], kPairOn, kPairOff);
    wlan_group = static_cast<unsigned char>(group);
    wlan_index = 0;
    wlan_init();
    wlan_para_get(static_cast<unsigned short>(wlan_group * 8));
}

void OutputSet::on_Button_wlan1_clicked() { wlan_group_chosen(0); }
void OutputSet::on_Button_wlan2_clicked() { wlan_group_chosen(1); }
void OutputSet::on_Button_wlan3_clicked() { wlan_group_chosen(2); }
void OutputSet::on_Button_wlan4_clicked() { wlan_group_chosen(3); }

void OutputSet::wlan_init()
{
    delete tiles_;
    tiles_ = new QFrame(ui->page_2);
    tiles_->setGeometry(1, 75, 608, 165);
    const QPixmap icon = QPixmap(":/png/offline.png").scaled(32, 28);
    for (int i = 0; i < 8; ++i) {
        const int x = 20 + 150 * (i % 4);
        const int y = 8 + 75 * (i / 4);
        QFrame* tile = new QFrame(tiles_);
        tile->setGeometry(x, y, 130, 60);
        tile->setStyleSheet(i == wlan_index ? kTileOn : kTileOff);
        g_wlan_frame[i] = tile;
        QLabel* picture = new QLabel(tile);
        picture->setGeometry(8, 16, 32, 28);
        picture->setStyleSheet("background: transparent;border:none;");
        picture->setPixmap(icon);
        const int number = wlan_group * 8 + i + 1;
        wlan_text = (ui_language() == 0 ? QString::fromUtf8("网口LED%1") : QString("LED%1")).arg(number);
        QLabel* text = new QLabel(tile);
        text->setGeometry(42, 5, 84, 50);
        text->setAlignment(Qt::AlignCenter);
        text->setFont(wlan_font);
        text->setStyleSheet("background-color: #212435;color: #FFFFFF;border:none;");
        text->setText(wlan_text);
        QPushButton* button = new QPushButton(tile);
        button->setGeometry(0, 0, 130, 60);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        // The tile's style reaches its children; the button stays see-through.
        button->setStyleSheet("background: transparent;border:none;");
        button->setObjectName(QString::number(i));
        connect(button, &QPushButton::clicked, this, &OutputSet::zdr_button_wlan_clicked);
        last_tile_ = tile;
        last_icon_ = picture;
        last_text_ = text;
        last_button_ = button;
    }
    tiles_->show();
}

void OutputSet::zdr_button_wlan_clicked()
{
    const int i = shell_button_index(sender(), 8);
    if (i < 0)
        return;
    if (g_wlan_frame[wlan_index])
        g_wlan_frame[wlan_index]->setStyleSheet(kTileOff);
    wlan_index = static_cast<unsigned char>(i);
    wlan_para_get(static_cast<unsigned short>(wlan_group * 8 + wlan_index));
    if (g_wlan_frame[wlan_index])
        g_wlan_frame[wlan_index]->setStyleSheet(kTileOn);
}

void OutputSet::wlan_para_get(unsigned short port)
{
    unsigned char fpga = 0;
    unsigned char fpgaPort = 0;
    if (port < 32) {
        fpga = port < 16 ? 0 : 1;
        fpgaPort = static_cast<unsigned char>(port % 16);
    }
    unsigned short addr[4] = {};
    fpga_manage::get_eth_param_addr(fpgaPort, &addr[0], &addr[1], &addr[2], &addr[3]);
    fpga_manage* m = fpga_manage::p_fpga_manage;
    const unsigned char* image = m ? m->MCU_RAM_PARA_func[fpga] : nullptr;
    My_lineEdit* const fields[4] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H};
    for (int k = 0; k < 4; ++k)
        fields[k]->setText(QString::number(image ? le16(image, addr[k]) : 0));
}

void OutputSet::on_Button_back_clicked()
{
    g_outputset = nullptr;
    if (g_option)
        g_option->language_changed();
    shell_close_page(this, kFocusOption);
}
