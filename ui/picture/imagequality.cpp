#include "ui/picture/imagequality.h"

#include "core/config_engine.h"
#include "core/global.h"
#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "ui/picture/page_text.h"
#include "ui/picture/picture_widgets.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "videochip/c331_manage.h"

#include <QComboBox>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>

#include <cstring>

QPointer<ImageQuality> g_imagequality;

namespace {

// The default parameter image starts at block offset 766.
constexpr int kDefaultListBase = 766;
constexpr int kPictureBytes = para::kPictureEnd - para::kBrightness;
static_assert(kPictureBytes == 16, "the page keeps the picture controls it shows");

// This page's own tab styles.
const char* const kTabOn = "background-color:#4777FF;color:#FFFFFF;border:none";
const char* const kTabOff = "background-color:#10101C;color:#FFFFFF";
const char* const kWhite = "color: rgb(255, 255, 255);";
const char* const kBoxStyle = "border:1px solid rgb(255, 255, 255);\ncolor: rgb(255, 255, 255);";
const char* const kSliderStyle = "QSlider::handle:horizontal {\n"
                                 "width: 32px;\n"
                                 "background-color: rgb(255, 255, 255);\n"
                                 "margin: -14px 0px -14px 0px;\n"
                                 "border-radius: 16px;\n"
                                 "}\n"
                                 "QSlider::groove:horizontal {\n"
                                 "height: 4px;\n"
                                 "background-color: rgb(204, 204, 204);\n"
                                 "}\n"
                                 "QSlider::sub-page:horizontal{\n"
                                 "background-color: rgb(71, 119, 255);\n"
                                 "}\n"
                                 "QSlider::add-page:horizontal{\n"
                                 "background-color: rgb(204, 204, 204);\n"
                                 "}";

QLabel* textLabel(QWidget* parent, const char* name, int x, int y, int w, int h, const char* style)
{
    QLabel* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(x, y, w, h);
    label->setFont(page_font(14));
    label->setStyleSheet(style);
    return label;
}

QPushButton* pushButton(QWidget* parent, const char* name, int x, int y, int w, int h, int pointSize,
                        const char* style)
{
    QPushButton* button = new QPushButton(parent);
    button->setObjectName(name);
    button->setGeometry(x, y, w, h);
    button->setFont(page_font(pointSize));
    button->setStyleSheet(style);
    return button;
}

// One value row: name label, slider, "+", value box, "-"; the slider's
// centre line is 16 pixels below y.
struct Row {
    QLabel* name;
    QSlider* slider;
    QPushButton* add;
    QLabel* box;
    QPushButton* reduce;
};

Row valueRow(QWidget* page, int nameX, int nameWidth, int y, int maximum, const char* nameLabel,
             const char* slider, const char* box, const char* add, const char* reduce)
{
    Row row;
    row.name = textLabel(page, nameLabel, nameX, y + 2, nameWidth, 28, kWhite);
    row.slider = new QSlider(Qt::Horizontal, page);
    row.slider->setObjectName(slider);
    row.slider->setGeometry(170, y, 240, 32);
    row.slider->setRange(0, maximum);
    row.slider->setStyleSheet(kSliderStyle);
    row.add = pushButton(page, add, 430, y - 6, 44, 44, 30, kBoxStyle);
    row.box = textLabel(page, box, 474, y - 6, 72, 44, kBoxStyle);
    row.box->setAlignment(Qt::AlignCenter);
    row.reduce = pushButton(page, reduce, 546, y - 6, 44, 44, 30, kBoxStyle);
    row.add->setAutoRepeat(true);
    row.reduce->setAutoRepeat(true);
    return row;
}

int stored(int offset)
{
    return static_cast<short>(ZdrRamPara::pInstance()->block_word(offset));
}

int stored(const unsigned char* block, int offset)
{
    return static_cast<short>(le16(block, offset));
}

} // namespace

// --- the form ------------------------------------------------------------

void Ui_ImageQuality::setupUi(QDialog* dialog)
{
    picture_page_frame(dialog, "ImageQuality");

    Button_back = pushButton(dialog, "Button_back", 11, 11, 50, 50, 9, "");
    Button_back->setFocusPolicy(Qt::NoFocus);
    label_title = new QLabel(dialog);
    label_title->setObjectName("label_title");
    label_title->setGeometry(307, 15, 186, 42);
    label_title->setFont(page_font(18));
    label_title->setStyleSheet(kWhite);
    label_title->setAlignment(Qt::AlignCenter);
    Button_quality = pushButton(dialog, "Button_quality", 20, 78, 140, 60, 14, kWhite);
    Button_temperature = pushButton(dialog, "Button_temperature", 20, 140, 140, 60, 14, kWhite);

    stackedWidget = new QStackedWidget(dialog);
    stackedWidget->setObjectName("stackedWidget");
    stackedWidget->setGeometry(170, 68, 610, 400);
    QFont areaFont("Ubuntu");
    areaFont.setPointSize(12);
    areaFont.setKerning(true);
    stackedWidget->setFont(areaFont);
    stackedWidget->setStyleSheet("#stackedWidget{\nborder:1px solid rgb(133, 129, 153);\n}");
    page = new QWidget();
    page->setObjectName("page");
    page_2 = new QWidget();
    page_2->setObjectName("page_2");

    Row r = valueRow(page, 10, 120, 40, 100, "label_name_bright", "horizontalSlider_bright", "label_bright",
                     "Button_bright_add", "Button_bright_reduce");
    label_name_bright = r.name, horizontalSlider_bright = r.slider, label_bright = r.box;
    Button_bright_add = r.add, Button_bright_reduce = r.reduce;
    r = valueRow(page, 10, 120, 110, 10, "label_name_sharp", "horizontalSlider_sharpness", "label_sharpness",
                 "Button_sharpness_add", "Button_sharpness_reduce");
    label_name_sharp = r.name, horizontalSlider_sharpness = r.slider, label_sharpness = r.box;
    Button_sharpness_add = r.add, Button_sharpness_reduce = r.reduce;
    r = valueRow(page, 10, 120, 180, 100, "label_name_contrast", "horizontalSlider_contrast", "label_contrast",
                 "Button_contrast_add", "Button_contrast_reduce");
    label_name_contrast = r.name, horizontalSlider_contrast = r.slider, label_contrast = r.box;
    Button_contrast_add = r.add, Button_contrast_reduce = r.reduce;
    r = valueRow(page, 10, 150, 250, 100, "label_name_saturation", "horizontalSlider_saturation",
                 "label_saturation", "Button_saturation_add", "Button_saturation_reduce");
    label_name_saturation = r.name, horizontalSlider_saturation = r.slider, label_saturation = r.box;
    Button_saturation_add = r.add, Button_saturation_reduce = r.reduce;
    Button_reset = pushButton(page, "Button_reset", 410, 330, 180, 60, 20,
                              "border:1px solid rgb(255, 255, 255);\ncolor: rgb(255, 255, 255);\n"
                              "border-radius: 10px;");

    label_type = textLabel(page_2, "label_type", 20, 41, 200, 28, kWhite);
    comboBox = new QComboBox(page_2);
    comboBox->setObjectName("comboBox");
    comboBox->setGeometry(236, 30, 354, 50);
    comboBox->setFont(page_font(14));
    comboBox->setStyleSheet("QComboBox { color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255); }\n"
                            "QComboBox QAbstractItemView::item { color: rgb(255, 255, 255); min-height: 40px; "
                            "min-width: 60px; }");
    for (int i = 0; i < 4; ++i)
        comboBox->addItem(QString());
    r = valueRow(page_2, 20, 120, 110, 128, "label_name_red", "horizontalSlider_red", "label_red",
                 "Button_red_add", "Button_red_reduce");
    label_name_red = r.name, horizontalSlider_red = r.slider, label_red = r.box;
    Button_red_add = r.add, Button_red_reduce = r.reduce;
    r = valueRow(page_2, 20, 120, 180, 128, "label_name_green", "horizontalSlider_green", "label_green",
                 "Button_green_add", "Button_green_reduce");
    label_name_green = r.name, horizontalSlider_green = r.slider, label_green = r.box;
    Button_green_add = r.add, Button_green_reduce = r.reduce;
    r = valueRow(page_2, 20, 120, 250, 128, "label_name_blue", "horizontalSlider_blue", "label_blue",
                 "Button_blue_add", "Button_blue_reduce");
    label_name_blue = r.name, horizontalSlider_blue = r.slider, label_blue = r.box;
    Button_blue_add = r.add, Button_blue_reduce = r.reduce;

    stackedWidget->addWidget(page);
    stackedWidget->addWidget(page_2);
    retranslateUi(dialog);
    stackedWidget->setCurrentIndex(1);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_ImageQuality::retranslateUi(QDialog* dialog)
{
    dialog->setWindowTitle("Dialog");
    label_title->setText(QString::fromUtf8("图像效果"));
    Button_quality->setText(QString::fromUtf8("画质"));
    Button_temperature->setText(QString::fromUtf8("色温"));
    label_name_bright->setText(QString::fromUtf8("亮度"));
    label_name_sharp->setText(QString::fromUtf8("锐度"));
    label_name_contrast->setText(QString::fromUtf8("对比度"));
    label_name_saturation->setText(QString::fromUtf8("饱和度"));
    Button_reset->setText(QString::fromUtf8("恢复默认"));
    label_type->setText(QString::fromUtf8("色温类型"));
    label_name_red->setText(QString::fromUtf8("红色"));
    label_name_green->setText(QString::fromUtf8("绿色"));
    label_name_blue->setText(QString::fromUtf8("蓝色"));
    for (QPushButton* add : {Button_bright_add, Button_sharpness_add, Button_contrast_add, Button_saturation_add,
                             Button_red_add, Button_green_add, Button_blue_add})
        add->setText("+");
    for (QPushButton* reduce : {Button_bright_reduce, Button_sharpness_reduce, Button_contrast_reduce,
                                Button_saturation_reduce, Button_red_reduce, Button_green_reduce,
                                Button_blue_reduce})
        reduce->setText("-");
    for (QLabel* box : {label_bright, label_sharpness, label_contrast, label_saturation, label_red, label_green,
                        label_blue})
        box->setText("XXX");
}

// --- the page ------------------------------------------------------------

ImageQuality::ImageQuality(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_ImageQuality)
{
    ui->setupUi(this);
    shell_back_look(ui->Button_back);
    ui->stackedWidget->setCurrentIndex(0);
    tab_current_ = ui->Button_quality;
    tab_current_->setStyleSheet(kTabOn);
    ui->comboBox->setView(new QListView());
    language_changed();
    para_init();
}

ImageQuality::~ImageQuality()
{
    delete ui;
}

void ImageQuality::para_init()
{
    const struct {
        QLabel* box;
        QSlider* slider;
        int offset;
    } tab0[4] = {{ui->label_bright, ui->horizontalSlider_bright, para::kBrightness},
                 {ui->label_sharpness, ui->horizontalSlider_sharpness, para::kSharpness},
                 {ui->label_contrast, ui->horizontalSlider_contrast, para::kContrast},
                 {ui->label_saturation, ui->horizontalSlider_saturation, para::kSaturation}},
      tab1[3] = {{ui->label_red, ui->horizontalSlider_red, para::kRedGain},
                 {ui->label_green, ui->horizontalSlider_green, para::kGreenGain},
                 {ui->label_blue, ui->horizontalSlider_blue, para::kBlueGain}};
    // The picture settings are stored together (a reset, the PC): shown
    // from one copy.
    unsigned char block[para::kBlockSize];
    ZdrRamPara::pInstance()->snapshot_block(block);
    std::memcpy(shown_, block + para::kBrightness, kPictureBytes);
    for (const auto& f : tab0) {
        value_show(f.box, stored(block, f.offset));
        f.slider->setValue(stored(block, f.offset));
    }
    ui->comboBox->setCurrentIndex(stored(block, para::kColorTempType));
    for (const auto& f : tab1) {
        value_show(f.box, stored(block, f.offset));
        f.slider->setValue(stored(block, f.offset));
    }
}

void ImageQuality::language_changed()
{
    ui->label_title->setText(ui_text("图像效果", "Image quality", "Изображение", "Chất lượng hình ảnh"));
    ui->Button_quality->setText(ui_text("画质", "Quality", "Качество", "Chất lượng"));
    ui->Button_temperature->setText(ui_text("色温", "Temperature", "Оттенок", "Độ màu"));
    ui->label_name_bright->setText(ui_text("亮度", "Brightness", "Яркость", "Độ cao"));
    ui->label_name_sharp->setText(ui_text("锐度", "Sharpness", "Резкость", "Độ sắc nét"));
    ui->label_name_contrast->setText(ui_text("对比度", "Contrast", "Контраст", "Độ tương phản"));
    ui->label_name_saturation->setText(ui_text("饱和度", "Saturation", "Насыщенность", "Độ bão hòa"));
    ui->Button_reset->setText(ui_text("画质复位", "Reset", "Сбросить", "Đặt lại chất lượng hình ảnh"));
    ui->label_type->setText(ui_text("色温类型", "temperature type", "Выбор цвета", "Lựa chọn độ màu"));
    ui->label_name_red->setText(ui_text("红色", "Red", "Красный", "Màu đỏ"));
    ui->label_name_green->setText(ui_text("绿色", "Green", "Зеленый", "Màu xanh lá cây"));
    ui->label_name_blue->setText(ui_text("蓝色", "Blue", "Синий", "Màu xanh da trời"));
    ui->comboBox->setCurrentIndex(stored(para::kColorTempType));
    combox_language_change();
}

void ImageQuality::combox_language_change()
{
    const int index = ui->comboBox->currentIndex();
    ui->comboBox->clear();
    ui->comboBox->addItem(ui_text("自定义", "custom", "Свой", "Tùy chỉnh"));
    ui->comboBox->addItem(ui_text("偏暖", "warm", "Теплый", "Màu ấm"));
    ui->comboBox->addItem(ui_text("自然", "nature", "Природный", "Tự nhiên"));
    ui->comboBox->addItem(ui_text("偏冷", "cool", "Холодный", "Lạnh hơn"));
    ui->comboBox->setCurrentIndex(index);
}

void ImageQuality::syncUpdate()
{
    ZdrRamPara* store = ZdrRamPara::pInstance();
    if (store->ZdrLanguageChanged())
        language_changed();
    // Other threads write the block: the change is found in a copy, against
    // what the page shows.
    unsigned char picture[kPictureBytes];
    store->block_bytes(para::kBrightness, picture, kPictureBytes);
    if (std::memcmp(picture, shown_, kPictureBytes) != 0)
        para_init();
}

void ImageQuality::store_field(int offset, int value)
{
    ParaWriteLock lock;
    if (offset == para::kBrightness)
        lock.set_brightness(static_cast<unsigned short>(value));   // an act whatever the word held
    else
        setLe16(lock.block(), offset, static_cast<unsigned short>(value));
    lock.raise(1);
}

void ImageQuality::value_show(QLabel* box, int value)
{
    value_text_ = QString::asprintf("%d", value);
    box->setText(value_text_);
}

void ImageQuality::step(QLabel* box, QSlider* slider, int offset, int delta, int maximum)
{
    int value = page_short(box->text()) + delta;
    if (delta > 0 && value > maximum)
        value = maximum;
    if (delta < 0 && value < 0)
        value = 0;
    value_show(box, value);
    slider->setValue(value);
    store_field(offset, slider->value());
}

// --- tabs ------------------------------------------------------------------

void ImageQuality::on_Button_quality_clicked()
{
    ui->stackedWidget->setCurrentIndex(0);
    tab_current_->setStyleSheet(kTabOff);
    tab_current_ = ui->Button_quality;
    tab_current_->setStyleSheet(kTabOn);
}

void ImageQuality::on_Button_temperature_clicked()
{
    ui->stackedWidget->setCurrentIndex(1);
    tab_current_->setStyleSheet(kTabOff);
    tab_current_ = ui->Button_temperature;
    tab_current_->setStyleSheet(kTabOn);
}

// --- sliders ---------------------------------------------------------------

void ImageQuality::on_horizontalSlider_bright_valueChanged(int value) { value_show(ui->label_bright, value); }
void ImageQuality::on_horizontalSlider_sharpness_valueChanged(int value) { value_show(ui->label_sharpness, value); }
void ImageQuality::on_horizontalSlider_contrast_valueChanged(int value) { value_show(ui->label_contrast, value); }
void ImageQuality::on_horizontalSlider_saturation_valueChanged(int value)
{
    value_show(ui->label_saturation, value);
}
void ImageQuality::on_horizontalSlider_red_valueChanged(int value) { value_show(ui->label_red, value); }
void ImageQuality::on_horizontalSlider_green_valueChanged(int value) { value_show(ui->label_green, value); }
void ImageQuality::on_horizontalSlider_blue_valueChanged(int value) { value_show(ui->label_blue, value); }

void ImageQuality::on_horizontalSlider_bright_sliderReleased()
{
    store_field(para::kBrightness, ui->horizontalSlider_bright->value());
}
void ImageQuality::on_horizontalSlider_sharpness_sliderReleased()
{
    store_field(para::kSharpness, ui->horizontalSlider_sharpness->value());
}
void ImageQuality::on_horizontalSlider_contrast_sliderReleased()
{
    store_field(para::kContrast, ui->horizontalSlider_contrast->value());
}
void ImageQuality::on_horizontalSlider_saturation_sliderReleased()
{
    store_field(para::kSaturation, ui->horizontalSlider_saturation->value());
}
void ImageQuality::on_horizontalSlider_red_sliderReleased()
{
    store_field(para::kRedGain, ui->horizontalSlider_red->value());
}
void ImageQuality::on_horizontalSlider_green_sliderReleased()
{
    store_field(para::kGreenGain, ui->horizontalSlider_green->value());
}
void ImageQuality::on_horizontalSlider_blue_sliderReleased()
{
    store_field(para::kBlueGain, ui->horizontalSlider_blue->value());
}

void ImageQuality::on_comboBox_activated(int index)
{
    if (index < 0 || index > 3)
        return;
    // The operator's pick is an act whatever the block holds (a PC's RAM
    // write of this very type may wait there for its flag): it is stored
    // and a pass is asked for; the pass applies what differs from what the
    // chip shows.
    ParaWriteLock lock;
    setLe16(lock.block(), para::kColorTempType, static_cast<uint16_t>(index));
    lock.raise(1);
}

// --- step buttons ----------------------------------------------------------

void ImageQuality::on_Button_bright_add_clicked()
{
    step(ui->label_bright, ui->horizontalSlider_bright, para::kBrightness, 1, 100);
}
void ImageQuality::on_Button_bright_reduce_clicked()
{
    step(ui->label_bright, ui->horizontalSlider_bright, para::kBrightness, -1, 100);
}
void ImageQuality::on_Button_sharpness_add_clicked()
{
    step(ui->label_sharpness, ui->horizontalSlider_sharpness, para::kSharpness, 1, 10);
}
void ImageQuality::on_Button_sharpness_reduce_clicked()
{
    step(ui->label_sharpness, ui->horizontalSlider_sharpness, para::kSharpness, -1, 10);
}
void ImageQuality::on_Button_contrast_add_clicked()
{
    step(ui->label_contrast, ui->horizontalSlider_contrast, para::kContrast, 1, 100);
}
void ImageQuality::on_Button_contrast_reduce_clicked()
{
    step(ui->label_contrast, ui->horizontalSlider_contrast, para::kContrast, -1, 100);
}
void ImageQuality::on_Button_saturation_add_clicked()
{
    step(ui->label_saturation, ui->horizontalSlider_saturation, para::kSaturation, 1, 100);
}
void ImageQuality::on_Button_saturation_reduce_clicked()
{
    step(ui->label_saturation, ui->horizontalSlider_saturation, para::kSaturation, -1, 100);
}
void ImageQuality::on_Button_red_add_clicked()
{
    step(ui->label_red, ui->horizontalSlider_red, para::kRedGain, 1, 128);
}
void ImageQuality::on_Button_red_reduce_clicked()
{
    step(ui->label_red, ui->horizontalSlider_red, para::kRedGain, -1, 128);
}
void ImageQuality::on_Button_green_add_clicked()
{
    step(ui->label_green, ui->horizontalSlider_green, para::kGreenGain, 1, 128);
}
void ImageQuality::on_Button_green_reduce_clicked()
{
    step(ui->label_green, ui->horizontalSlider_green, para::kGreenGain, -1, 128);
}
void ImageQuality::on_Button_blue_add_clicked()
{
    step(ui->label_blue, ui->horizontalSlider_blue, para::kBlueGain, 1, 128);
}
void ImageQuality::on_Button_blue_reduce_clicked()
{
    step(ui->label_blue, ui->horizontalSlider_blue, para::kBlueGain, -1, 128);
}

void ImageQuality::on_Button_reset_clicked()
{
    // The widgets follow at the refresh after the chip's pass.
    ParaWriteLock lock;
    std::memcpy(lock.block() + para::kBrightness,
                ConfigEngine::default_para_ramlist + (para::kBrightness - kDefaultListBase), kPictureBytes);
    lock.set_brightness(le16(lock.block(), para::kBrightness));
    lock.raise(1);
}

void ImageQuality::on_Button_back_clicked()
{
    g_imagequality = nullptr;
    if (g_option)
        g_option->language_changed();
    shell_close_page(this, kFocusOption);
}
