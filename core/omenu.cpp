#include "core/omenu.h"

OSD_LIST g_osd_list;

void get_json_omenu_para(char* path, OSD_LIST* list)
{
    // The menu reader is not part of this build yet: the list keeps what it
    // holds.
    (void)path;
    (void)list;
}

void set_OSD_para(OMENU_PARA* para)
{
    // Applying a menu to the OSD is not part of this build yet.
    (void)para;
}
