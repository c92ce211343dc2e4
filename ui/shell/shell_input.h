// The six video inputs as the shell pages show them.
#pragma once

#include <QString>

struct InputSignal {
    int width = 0;
    int height = 0;
    int refresh = 0;
    // All three non-zero.
    bool present() const { return width != 0 && height != 0 && refresh != 0; }
};

// The inputs in the order the pages list them: HDMI1, HDMI2, HDMI3, HDMI4,
// DVI, EXT.
extern const int kInputOrder[6];

// The input's own name: EXT, DVI, HDMI1 .. HDMI4.
QString input_default_name(int input);
// The input's connector picture, green while it has a signal.
QString input_picture(int input, bool signal);
// The input's signal record of the parameter block.
InputSignal input_signal(int input);
// "1920x1080@60Hz", or "no signal" in the current language.
QString input_signal_text(const InputSignal& s);
