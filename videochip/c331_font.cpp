// The OSD fonts in the chip's serial flash and their copy into chip memory.
#include "videochip/c331_manage.h"

void c331_manage::read_c331_font(int fd)
{
    // Not part of this build yet: font_status keeps its value.
    (void)fd;
}

void c331_manage::update_font(int fd)
{
    // Not part of this build yet: no font is copied.
    (void)fd;
}
