// The settings menu (page focus 5): opens the crop editor, window layout
// (behind its code when one is set), LED screen, network and USB, picture
// quality, test pattern, mapping wizard and advanced settings pages, and
// chooses the display language.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class Option : public QDialog {
    Q_OBJECT
public:
    explicit Option(QWidget* parent = nullptr);

    // Redraws the menu: the language it shows and the chosen language.
    void syncUpdate();
    // Sets the title and button pictures for g_language.
    void language_changed();

    // Closes the menu as its Back button does, in the GUI thread, when the
    // menu is open and in focus. Callable from any thread (the USB thread
    // closes it when a disk partition is ready).
    static void request_close();

    // Set by language_changed(): the menu's texts are in place.
    unsigned char text_ready = 0;

public slots:
    void on_Button_back_clicked();
    void on_input_cut_clicked();
    void on_image_layout_clicked();
    void on_output_set_clicked();
    void on_link_set_clicked();
    void on_image_quality_clicked();
    void on_test_chart_clicked();
    void on_smart_mapping_clicked();
    void on_Button_advanced_clicked();
    void zdr_button_language_clicked();
    // The keypad's result: the window layout code, while the menu asked.
    void confirmString(QString text);

private:
    // The code typed on the keypad opens the page: as typed, or for a code
    // of digits, as the same number (the keypad drops leading zeros).
    static bool code_matches(const QString& typed, const QString& code);
    void open_image_layout();
    void language_buttons_update();

    QLabel* label_title = nullptr;
    QPushButton* menu_[8] = {};
    QPushButton* language_[4] = {};
    // The menu asked the keypad for the window layout code; the code was
    // right.
    bool code_prompt_ = false;
    bool code_ok_ = false;
};
