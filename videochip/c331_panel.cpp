// Output panel set-up: the LED screen and its two outputs turned into the
// chip's output channels, their timing and the first window preset.
#include "videochip/c331_manage.h"

int c331_manage::zdrApi_PnlInit2(int ledW, int ledH, int out1w, int out1h, int splice)
{
    // The panel set-up is not part of this build yet: the panel record
    // stays as it is.
    (void)ledW;
    (void)ledH;
    (void)out1w;
    (void)out1h;
    (void)splice;
    return 0;
}

void c331_manage::zdrApi_MultiWinInit()
{
    // The first preset is one window over the whole LED screen.
    ST_MWIN_PRESET& p = mwin_preset[0];
    p.wincnt = 1;
    p.pwin[0] = ST_RECT{0, 0, pnl.ledW, pnl.ledH};
}
