// Touch idle handling: touch events from the screen, the idle time-outs back
// to the home page and to the idle status screen.
#pragma once

class lcd_touch {
public:
    static lcd_touch* pInstance();
    static lcd_touch* p_lcd_touch;

private:
    lcd_touch();
};
