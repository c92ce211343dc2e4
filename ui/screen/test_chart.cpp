#include "ui/screen/test_chart.h"

#include "core/global.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "ui/screen/screen_form.h"
#include "ui/shell/option.h"
#include "ui/shell/shell_global.h"
#include "ui/shell/shell_lang.h"
#include "ui/shell/shell_style.h"
#include "videochip/c331_manage.h"

#include <QFont>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>

QPointer<test_chart> g_test_chart;

namespace {

const char* const kPicturePlain = "border:1px solid rgb(255, 255, 255);";
const char* const kPictureSelected = "border:5px solid rgb(255,171,84);";
const char* const kWhite = "color: rgb(255, 255, 255);";

// Stores the pattern number and hands it to the chip thread.
void store_pattern(unsigned char pattern)
{
    ParaWriteLock lock;
    lock.block()[para::kTestPattern] = pattern;
    lock.raise(1);
}

} // namespace

QLabel* Ui_test_chart::caption(int i) const
{
    QLabel* const captions[8] = {label_red, label_green, label_blue, label_white,
                                 label_black, label_colour, label_hline, label_wline};
    return i >= 0 && i < 8 ? captions[i] : nullptr;
}

void Ui_test_chart::setupUi(QDialog* dialog)
{
    form_dialog(dialog, "test_chart");

    label_title = form_widget<QLabel>(dialog, "label_title", 285, 10, 230, 42, 18, kWhite);
    label_title->setAlignment(Qt::AlignCenter);
    Button_back = new QPushButton(dialog);
    Button_back->setObjectName("Button_back");
    Button_back->setGeometry(10, 10, 50, 50);
    Button_back->setFocusPolicy(Qt::NoFocus);
    Button_back->setFlat(true);

    frame = new QFrame(dialog);
    frame->setObjectName("frame");
    frame->setGeometry(210, 70, 580, 400);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Raised);
    frame->setStyleSheet("#frame{border:1px solid rgb(133, 129, 153);}");

    static const char* const kCaptionNames[8] = {"label_red",   "label_green",  "label_blue",  "label_white",
                                                 "label_black", "label_colour", "label_hline", "label_wline"};
    QLabel** captions[8] = {&label_red,   &label_green,  &label_blue,  &label_white,
                            &label_black, &label_colour, &label_hline, &label_wline};
    for (int i = 0; i < 8; ++i) {
        const int x = 15 + 140 * (i % 4);
        const int y = 20 + 160 * (i / 4);
        const QByteArray name = "label_test" + QByteArray::number(i + 1);
        label_test[i] = form_widget<QLabel>(frame, name.constData(), x, y, 100, 100, 9, kPicturePlain);
        *captions[i] = form_widget<QLabel>(frame, kCaptionNames[i], x - 10, y + 110, 120, 24, 12, kWhite);
        (*captions[i])->setAlignment(Qt::AlignCenter);
    }

    Button_closetest = new QPushButton(frame);
    Button_closetest->setObjectName("Button_closetest");
    Button_closetest->setGeometry(320, 330, 180, 60);
    QFont f = Button_closetest->font();
    f.setPointSize(14);
    Button_closetest->setFont(f);
    Button_closetest->setFocusPolicy(Qt::NoFocus);
    Button_closetest->setStyleSheet("color: rgb(255, 255, 255);\nbackground-color: rgb(71, 119, 255);border:none;");

    retranslateUi(dialog);
}

void Ui_test_chart::retranslateUi(QDialog*)
{
    label_title->setText(QString::fromUtf8("测试图"));
    // The form's own captions of patterns 7 and 8.
    static const char* const kTexts[8] = {"红色", "绿色", "蓝色", "白色", "黑色", "色带", "竖线", "横线"};
    for (int i = 0; i < 8; ++i)
        caption(i)->setText(QString::fromUtf8(kTexts[i]));
    Button_closetest->setText(QString::fromUtf8("关闭测试图"));
}

test_chart::test_chart(QWidget* parent)
    : QDialog(parent)
{
    ui = new Ui_test_chart;
    ui->setupUi(this);
    shell_back_look(ui->Button_back);
    testimage_button_init();
    para_init();
    language_changed();
    QMetaObject::connectSlotsByName(this);
}

test_chart::~test_chart()
{
    delete ui;
}

void test_chart::testimage_button_init()
{
    for (int i = 0; i < 8; ++i) {
        QPushButton* button = new QPushButton(ui->frame);
        button->setGeometry(40 + 140 * (i % 4), 20 + 160 * (i / 4), 100, 100);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setObjectName(QString::number(i));
        connect(button, &QPushButton::clicked, this, &test_chart::zdr_image_button_clicked);
        last_button_ = button;
    }
}

void test_chart::para_init()
{
    for (int i = 0; i < 8; ++i) {
        QLabel* label = ui->label_test[i];
        const QPixmap picture(QString(":/png/img_test%1.png").arg(i + 1));
        label->setPixmap(picture.scaled(label->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
}

void test_chart::language_changed()
{
    ui->label_title->setText(ui_text("测试图", "Test pattern", "Тестовый\nобразец", "Biểu đồ\nkiểm tra"));
    // The chip draws vertical lines for pattern 7 and horizontal lines for
    // pattern 8, as the pictures show; the captions name the same direction.
    static const char* const kZh[8] = {"红色", "绿色", "蓝色", "白色", "黑色", "色带", "竖线", "横线"};
    static const char* const kEn[8] = {"Red",   "Green",      "Blue",          "White",
                                       "Black", "Colour bar", "Vertical line", "Horizontal line"};
    for (int i = 0; i < 8; ++i) {
        const QByteArray ru = QString::fromUtf8("Тест %1").arg(i + 1).toUtf8();
        const QByteArray vi = QString::fromUtf8("Kiểm tra %1").arg(i + 1).toUtf8();
        ui->caption(i)->setText(ui_text(kZh[i], kEn[i], ru.constData(), vi.constData()));
    }
    ui->Button_closetest->setText(ui_text("关闭测试图", "Close", "Закрыть", "Đóng"));
}

void test_chart::zdr_image_button_clicked()
{
    const int i = shell_button_index(sender(), 8);
    if (i < 0)
        return;
    if (traceOn())
        std::printf("\n\n index = %d \n\n", i);
    if (i != test_index) {
        if (test_index < 8)
            ui->label_test[test_index]->setStyleSheet(kPicturePlain);
        test_index = static_cast<unsigned char>(i);
        ui->label_test[i]->setStyleSheet(kPictureSelected);
    }
    store_pattern(static_cast<unsigned char>(i + 1));
}

void test_chart::on_Button_closetest_clicked()
{
    if (test_index < 8)
        ui->label_test[test_index]->setStyleSheet(kPicturePlain);
    test_index = kNone;
    store_pattern(0);
}

void test_chart::on_Button_back_clicked()
{
    g_test_chart = nullptr;
    if (g_option)
        g_option->language_changed();
    shell_close_page(this, kFocusOption);
}
