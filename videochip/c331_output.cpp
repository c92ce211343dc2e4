// Overlay, layer blending and the output programming pass.
#include "videochip/c331_manage.h"

void c331_manage::set_output(int fd)
{
    // The output programming pass is not part of this build yet: the
    // windows' change marks stay set for it.
    (void)fd;
}

void c331_manage::update_overlay_info()
{
    // Not part of this build yet: the layer lists stay as they are.
}

void c331_manage::set_overlay(int fd)
{
    // Not part of this build yet: no layer list is written.
    (void)fd;
}

void c331_manage::reset_layer_coef(int fd, int mode)
{
    // Not part of this build yet: no blending coefficient is written.
    (void)fd;
    (void)mode;
}
