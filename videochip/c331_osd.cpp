// The OSD text layer.
#include "videochip/c331_manage.h"

int c331_manage::zdrApi_OsdSet(int type, int value)
{
    // No OSD item is known in this build yet.
    (void)type;
    (void)value;
    return 0;
}

int c331_manage::zdrApi_OsdSetUnicode(int count, int* lengths, wchar_t (*lines)[128])
{
    // No OSD text store in this build yet.
    (void)count;
    (void)lengths;
    (void)lines;
    return 0;
}

void c331_manage::update_osd(int fd)
{
    // Not part of this build yet: nothing is drawn.
    (void)fd;
}

void c331_manage::set_osd(int fd, int on)
{
    // Not part of this build yet: no OSD window is programmed.
    (void)fd;
    (void)on;
}

void c331_manage::set_scroll(int fd)
{
    // Not part of this build yet: no scrolling is programmed.
    (void)fd;
}

void c331_manage::load_char()
{
    // The text-mode defaults are not part of this build yet; the fonts'
    // flash table is.
    load_font_table();
}
