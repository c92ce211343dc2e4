// The device status page (page focus 2): the device's identity and address,
// the LED screen size, the six inputs with their signals and the link state
// of the sending card's 32 output ports.
#pragma once

#include <QDialog>

class QLabel;

class MachineState : public QDialog {
    Q_OBJECT
public:
    explicit MachineState(QWidget* parent = nullptr);

    // Redraws the page; code 11 (output-port link state changed) also
    // re-reads the ports' link state.
    void syncUpdate(int code);
    void language_changed();
    // Shows the output ports' link state read from the FPGA manager.
    void initWlan();
    // The link state last shown (bit n: port n + 1 linked).
    unsigned int wlan_state() const { return wlan_state_; }

public slots:
    void on_Button_back_clicked();

private:
    void para_init();

    QLabel* label_title = nullptr;
    QLabel* label_info = nullptr;
    QLabel* label_inputs_title = nullptr;
    QLabel* label_ports_title = nullptr;
    QLabel* source_name_[6] = {};
    QLabel* source_state_[6] = {};
    QLabel* port_icon_[32] = {};
    unsigned int wlan_state_ = 0;
};
