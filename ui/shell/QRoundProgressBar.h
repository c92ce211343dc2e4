// The round progress dial shown while a job for the receiving cards runs
// (g_qround_bar). The jobs report their progress in percent through the
// posting page's sig_qround_bar_update(int), connected to para_sync.
#pragma once

#include <QWidget>

class QDialog;

class QRoundProgressBar : public QWidget {
    Q_OBJECT
public:
    explicit QRoundProgressBar(QWidget* parent = nullptr);

    // When no dial is up: makes one on parent at (300, 140), 200 x 200,
    // value 0, shows it and remembers it in g_qround_bar. Otherwise nothing.
    static void create_qround_bar(QDialog* parent);

    int value() const { return value_; }

public slots:
    // A value of 100 or more closes the dial in g_qround_bar and forgets it;
    // any other value is shown.
    void para_sync(int value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int value_ = 0;
};
