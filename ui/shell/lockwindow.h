// The idle status screen, shown on top of every page while the device is
// left alone: the clock, the six inputs with their signals, the user mode
// in use and the LED screen size. A touch takes it away.
#pragma once

#include <QDialog>

class QLabel;
class QTimer;

class LockWindow : public QDialog {
    Q_OBJECT
public:
    explicit LockWindow(QWidget* parent = nullptr);

    // Redraws the idle status screen from the block.
    void syncUpdate();
    // Labels the input tiles with the inputs' names.
    void image_init();
    void language_changed();

    // Shows the screen over whatever page is open (page focus 0); the page
    // below gets the focus back when the screen is touched.
    void lock();
    // Takes the screen away and gives the focus back to the page below.
    void unlock();
    // The input name shown on a tile (0 EXT .. 5 HDMI4).
    QString source_name(int input) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void para_init();
    void clock_update();

    QLabel* label_time = nullptr;
    QLabel* label_date = nullptr;
    QLabel* label_mode = nullptr;
    QLabel* label_led = nullptr;
    QLabel* label_hint = nullptr;
    // Per input number: picture, name and signal labels.
    QLabel* source_picture_[6] = {};
    QLabel* source_label_[6] = {};
    QLabel* source_state_[6] = {};
    QString source_name_[6];
    QTimer* clock_ = nullptr;
    // The focus of the page the screen covers.
    int focus_below_ = 1;
};
