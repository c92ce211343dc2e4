// Input crops, the sharpness enhancer and the end of the forced background
// colour.
#include "videochip/c331_manage.h"

void c331_manage::c331_SetSharpness(int sharpness)
{
    // The sharpness enhancer is not programmed in this build yet.
    (void)sharpness;
}

void c331_manage::c331_SetCrop(char win, char enable, ST_RECT* rect)
{
    // Crops are not programmed in this build yet: the window's crop
    // offsets stay as they are.
    (void)win;
    (void)enable;
    (void)rect;
}

void c331_manage::zdrApi_forceColorDisable(int fd)
{
    // Not part of this build yet: the forced colour stays until it is.
    (void)fd;
}
