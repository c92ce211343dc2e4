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

// A sample name list written to systemPath (every entry switched off):
// sources 0, 2, 3, three user modes, two windows and three crops. 0 when
// written. Nothing calls it.
int Json_create(const std::string& systemPath);
// Prints every entry of the four kinds in the name list at systemPath; a
// list that cannot be read is handled as the reader does. Nothing calls it.
void Json_analysis(const std::string& systemPath);
