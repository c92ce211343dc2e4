// The OSD menu file (/data/configs/omenu.json and the user modes' copies):
// its in-memory records, the reader and the application to the chip's OSD.
#pragma once

#include <string>

// One menu entry as the chip side sees it.
struct OMENU_PARA {
    int osdcount = 0;
    int oactcount = 0;
    int type = 0;               // 0 text menu, 1 bitmap menu
    std::string status;         // "on" shows the OSD
    int pos_x = 0;
    int pos_y = 0;
    int pos_w = 0;
    int pos_h = 0;
    int effect = 0;
    int speed = 0;
    int staytime = 0;
    std::string backpara_enable;
    std::string backpara_color;
    std::string backpara_layer;
    int startx = 0;
    int starty = 0;
    int fontw = 0;
    int fonth = 0;
    int wordspace = 0;
    int verticalspace = 0;
    std::string font_color;
    std::string texts;
    int start = 0;
    int end = 0;
};

// The first three entries of a menu.
struct OSD_LIST {
    OMENU_PARA menu[3];
};

// The current menu (read by the chip thread only).
extern OSD_LIST g_osd_list;

// Reads a menu file into the list.
void get_json_omenu_para(char* path, OSD_LIST* list);
// Applies one entry to the chip's OSD.
void set_OSD_para(OMENU_PARA* para);
