// Input port monitoring: the receivers' timing records, the chip's own
// measurement of each used port and the assignment of inputs to windows.
#include "videochip/c331_manage.h"

void c331_manage::load_hdmi()
{
    // Not part of this build yet: the port information stays as it is.
}

void c331_manage::check_port_valid(int fd)
{
    // Not part of this build yet: no port is checked.
    (void)fd;
}

void c331_manage::check_input_port(int fd)
{
    // Not part of this build yet: no port is measured.
    (void)fd;
}

void c331_manage::c331_SetInputsource(int win, int input)
{
    // Not part of this build yet: the window keeps its input.
    (void)win;
    (void)input;
}
