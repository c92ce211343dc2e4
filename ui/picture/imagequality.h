// The picture quality page (page focus 11), opened from the settings menu.
// Tab 0 edits brightness, sharpness, contrast and saturation and resets the
// picture to its defaults; tab 1 edits the colour-temperature type and the
// red, green and blue gains. Each change goes into the picture controls of
// the parameter block under the c331 manage mutex; the chip thread applies
// it and the refresh after its pass redraws the page. A refresh shows what
// is stored and stores nothing: only the operator's choice stores (a
// slider's release, a button's press, the type list's activated signal;
// never a refresh setting a widget).
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QStackedWidget;
class QWidget;

// The form of the page: the widgets, built in code.
class Ui_ImageQuality {
public:
    QPushButton* Button_back;
    QLabel* label_title;
    QPushButton* Button_quality;
    QPushButton* Button_temperature;
    QStackedWidget* stackedWidget;
    QWidget* page;
    QWidget* page_2;
    QLabel *label_name_bright, *label_name_sharp, *label_name_contrast, *label_name_saturation;
    QLabel *label_name_red, *label_name_green, *label_name_blue;
    QSlider *horizontalSlider_bright, *horizontalSlider_sharpness, *horizontalSlider_contrast,
        *horizontalSlider_saturation, *horizontalSlider_red, *horizontalSlider_green, *horizontalSlider_blue;
    QLabel *label_bright, *label_sharpness, *label_contrast, *label_saturation, *label_red, *label_green,
        *label_blue;
    QPushButton *Button_bright_add, *Button_bright_reduce, *Button_sharpness_add, *Button_sharpness_reduce,
        *Button_contrast_add, *Button_contrast_reduce, *Button_saturation_add, *Button_saturation_reduce,
        *Button_red_add, *Button_red_reduce, *Button_green_add, *Button_green_reduce, *Button_blue_add,
        *Button_blue_reduce;
    QPushButton* Button_reset;
    QLabel* label_type;
    QComboBox* comboBox;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

class ImageQuality : public QDialog {
    Q_OBJECT
public:
    explicit ImageQuality(QWidget* parent = nullptr);
    ~ImageQuality() override;

    void para_init();
    void language_changed();
    void combox_language_change();
    void syncUpdate();

public slots:
    void on_Button_quality_clicked();
    void on_Button_temperature_clicked();
    void on_horizontalSlider_bright_valueChanged(int value);
    void on_horizontalSlider_sharpness_valueChanged(int value);
    void on_horizontalSlider_contrast_valueChanged(int value);
    void on_horizontalSlider_saturation_valueChanged(int value);
    void on_horizontalSlider_red_valueChanged(int value);
    void on_horizontalSlider_green_valueChanged(int value);
    void on_horizontalSlider_blue_valueChanged(int value);
    void on_horizontalSlider_bright_sliderReleased();
    void on_horizontalSlider_sharpness_sliderReleased();
    void on_horizontalSlider_contrast_sliderReleased();
    void on_horizontalSlider_saturation_sliderReleased();
    void on_comboBox_activated(int index);
    void on_horizontalSlider_red_sliderReleased();
    void on_horizontalSlider_green_sliderReleased();
    void on_horizontalSlider_blue_sliderReleased();
    void on_Button_bright_add_clicked();
    void on_Button_bright_reduce_clicked();
    void on_Button_sharpness_add_clicked();
    void on_Button_sharpness_reduce_clicked();
    void on_Button_contrast_add_clicked();
    void on_Button_contrast_reduce_clicked();
    void on_Button_saturation_add_clicked();
    void on_Button_saturation_reduce_clicked();
    void on_Button_reset_clicked();
    void on_Button_red_add_clicked();
    void on_Button_red_reduce_clicked();
    void on_Button_green_add_clicked();
    void on_Button_green_reduce_clicked();
    void on_Button_blue_add_clicked();
    void on_Button_blue_reduce_clicked();
    void on_Button_back_clicked();

private:
    void value_show(QLabel* box, int value);
    void step(QLabel* box, QSlider* slider, int offset, int delta, int maximum);
    static void store_field(int offset, int value);

    Ui_ImageQuality* ui;
    QPushButton* tab_current_ = nullptr;
    QString value_text_;
    // The picture controls (block 2176 to 2191) as the page last showed
    // them: a refresh redraws when the block differs from these, not from
    // the file's copy (a store landing after the page's copy reaches the
    // file with that refresh, and is shown by the next).
    unsigned char shown_[16] = {};
};

// The open picture quality page, null while it is closed.
extern QPointer<ImageQuality> g_imagequality;
