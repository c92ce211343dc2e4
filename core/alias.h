// User-given names of the inputs, user modes, windows and crops: the file
// /data/configs/alias.json uploaded by the PC software.
#pragma once

#include <string>

// One name entry.
struct ALIAS_PARA {
    int id = 0;
    std::string valid;   // "off" switches the name off
    std::string name;    // UTF-8
};

// Looks up the entry of kind ("source", "usermode", "win", "crop") with the
// given id. 1 when found with its name on and not empty, else 0. The record
// is filled whenever a matching entry is found. A file that cannot be read
// as a name list is deleted.
int get_json_alias_para(ALIAS_PARA* alias, std::string kind, int id);
