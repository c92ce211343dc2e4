// The test pattern page (page focus 16): eight pictures of the video chip's
// built-in patterns; pressing one shows that pattern on the whole LED
// screen, the close button switches the pattern off. The page writes only
// the test pattern byte of the parameter block.
#pragma once

#include <QDialog>
#include <QPointer>

class QFrame;
class QLabel;
class QPushButton;

class Ui_test_chart {
public:
    QLabel* label_title = nullptr;
    QPushButton* Button_back = nullptr;
    QFrame* frame = nullptr;
    // Pictures and captions of the patterns 1..8.
    QLabel* label_test[8] = {};
    QLabel* label_red = nullptr;
    QLabel* label_green = nullptr;
    QLabel* label_blue = nullptr;
    QLabel* label_white = nullptr;
    QLabel* label_black = nullptr;
    QLabel* label_colour = nullptr;
    QLabel* label_hline = nullptr;
    QLabel* label_wline = nullptr;
    QPushButton* Button_closetest = nullptr;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
    QLabel* caption(int i) const;
};

class test_chart : public QDialog {
    Q_OBJECT
public:
    explicit test_chart(QWidget* parent = nullptr);
    ~test_chart() override;

    void testimage_button_init();
    // Shows the eight pictures, each scaled to its label.
    void para_init();
    void language_changed();

    Ui_test_chart* ui = nullptr;
    // The pattern button selected (0..7), or kNone.
    static constexpr unsigned char kNone = 102;
    unsigned char test_index = kNone;

public slots:
    void zdr_image_button_clicked();
    void on_Button_back_clicked();
    void on_Button_closetest_clicked();

private:
    QPushButton* last_button_ = nullptr;
};

// The open test pattern page, null while it is closed.
extern QPointer<test_chart> g_test_chart;
