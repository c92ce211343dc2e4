// The one tip pop-up of the touch screen (g_tip): a short confirmation or
// message shown over whatever page is open, hidden again by the tick.
#pragma once

#include <QWidget>

class TIP : public QWidget {
    Q_OBJECT
public:
    // A tip stays this many ticks on screen.
    static constexpr unsigned int kShowTicks = 300;
    // The tip of a scan-file load that did not load the whole file.
    static constexpr int kLoadIncomplete = 6;

    explicit TIP(QWidget* parent = nullptr);

    // Deletes the content of the tip built last, then builds and shows tip
    // type: 1 a check mark, 3 "USB drive connected", 4 "USB drive unplugged",
    // 5 "reading data", 6 "load not completed", in the current language.
    // Any other type shows nothing (the tip is hidden).
    void tip_create(int type);
    // Tick: hides the tip once it has been shown kShowTicks ticks.
    void tip_timeout();

    // The tip type on screen, 0 when the tip is hidden.
    int shown_type() const { return isVisible() ? type_ : 0; }
    // The text of the tip built last ("" for the check mark).
    QString text() const;

private:
    QWidget* content_ = nullptr;
    int type_ = 0;
    unsigned int shown_at_ = 0;
};
