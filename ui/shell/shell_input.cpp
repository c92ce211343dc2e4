#include "ui/shell/shell_input.h"

#include "core/le_bytes.h"
#include "core/para_layout.h"
#include "core/zdrrampara.h"
#include "ui/shell/shell_lang.h"

#include <pthread.h>

const int kInputOrder[6] = {2, 3, 4, 5, 1, 0};

QString input_default_name(int input)
{
    static const char* const names[6] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};
    return input >= 0 && input < 6 ? QString(names[input]) : QString();
}

QString input_picture(int input, bool signal)
{
    switch (input) {
    case 0: return signal ? ":/png/extlv.png" : ":/png/HDMI.png";
    case 1: return signal ? ":/png/dvilv.png" : ":/png/DVI.png";
    case 2:
    case 3: return signal ? ":/png/HDMI13_lv.png" : ":/png/HDMI13.png";
    default: return signal ? ":/png/HDMI20_lv.png" : ":/png/HDMI20.png";
    }
}

InputSignal input_signal(int input)
{
    InputSignal s;
    ZdrRamPara* store = ZdrRamPara::p_zdrrampara_config;
    if (!store || input < 0 || input >= para::kInputCount)
        return s;
    // The receiver drivers write the record while it is read: one copy.
    unsigned char rec[6];
    store->block_bytes(para::inputSignal(input), rec, sizeof(rec));
    s.width = le16(rec, 0);
    s.height = le16(rec, 2);
    s.refresh = le16(rec, 4);
    return s;
}

QString input_signal_text(const InputSignal& s)
{
    if (!s.present())
        return ui_text("无信号", "No signal", "Нет сигнала", "Không có tín hiệu");
    return QString("%1x%2@%3Hz").arg(s.width).arg(s.height).arg(s.refresh);
}
