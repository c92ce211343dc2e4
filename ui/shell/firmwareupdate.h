// The update busy screen: shown over everything while the USB upgrade
// installs a package, with a turning wheel that the tick advances.
#pragma once

#include <QDialog>

class QLabel;

class FirmwareUpdate : public QDialog {
    Q_OBJECT
public:
    // The wheel moves one step every this many ticks.
    static constexpr unsigned int kStepTicks = 10;
    static constexpr int kSteps = 12;

    explicit FirmwareUpdate(QWidget* parent = nullptr);

    void language_changed();
    // Tick: moves the wheel once kStepTicks ticks have passed.
    void animation_step();
    int frame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* label_title = nullptr;
    QLabel* label_note = nullptr;
    int frame_ = 0;
    unsigned int step_at_ = 0;
};
