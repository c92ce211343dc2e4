// The OSD menu file (/data/configs/omenu.json and the user modes' copies):
// its in-memory records, the reader and the application to the chip's OSD.
#pragma once

#include <string>
#include <vector>

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

// Reads a menu file into the list. A file that cannot be read as a menu
// deletes /data/configs/omenu.json and leaves the menu count at 0.
void get_json_omenu_para(char* path, OSD_LIST* list);
// Applies one entry to the chip's OSD (nothing when its menu count is 0).
void set_OSD_para(OMENU_PARA* para);

// ---- the pieces of set_OSD_para ------------------------------------------

// The most lines and characters a line the OSD text takes.
constexpr int kOsdTextLines = 64;
constexpr int kOsdLineChars = 128;

// One OSD setting in the order it is made: an OSD item and its value, or
// the text (item kOsdTextStep).
struct OsdStep {
    int item;
    int value;
};
constexpr int kOsdTextStep = -1;

// The settings an entry makes, after the text-mode defaults.
std::vector<OsdStep> osd_menu_steps(const OMENU_PARA& para);
// Splits the text at every line feed (empty lines kept) into at most 64
// lines of at most 128 characters; lengths receives the characters stored
// per line. The number of lines.
int osd_text_lines(const std::string& texts, int* lengths, wchar_t (*lines)[kOsdLineChars]);
// A colour written RRGGBB in hexadecimal as the chip takes it, BBGGRR; 0
// when the text does not begin with a hexadecimal digit.
int osd_color(const std::string& rrggbb);
