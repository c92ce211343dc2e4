#include "ui/shell/lcd_touch.h"

lcd_touch* lcd_touch::p_lcd_touch = nullptr;

lcd_touch::lcd_touch() = default;

lcd_touch* lcd_touch::pInstance()
{
    if (!p_lcd_touch)
        p_lcd_touch = new lcd_touch();
    return p_lcd_touch;
}
