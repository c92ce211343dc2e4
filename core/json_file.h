// The JSON files the PC software uploads (alias names, OSD menus): one
// guarded read for every reader, and the checked member access they share.
//
// Exceptions of the property tree never leave these readers: a file that
// does not parse, a required member that is missing or a value of the wrong
// kind is traced as "json error: %s" and the offending file is deleted by
// the readers that own it.
#pragma once

#include <boost/property_tree/ptree.hpp>
#include <functional>
#include <string>

enum class JsonRead {
    Missing,   // the file could not be opened
    Taken,     // parsed and handed over without error
    Failed,    // parse error or bad content (the remove command was run)
};

// Reads the file at systemPath (through the board root) and hands its tree
// to take, all under Utils::_file_deal_mutex, so that an upload of the PC
// is never read half-written nor deleted after it replaced a bad file.
// Whatever take throws counts as bad content; removeCommand, when not
// empty, is then run through Utils::system_mutex.
JsonRead read_json_file(const std::string& systemPath, const std::string& removeCommand,
                        const std::function<void(const boost::property_tree::ptree&)>& take);

// A required member holding a text (not an object nor an array).
std::string json_text(const boost::property_tree::ptree& node, const std::string& key);
// A required member holding an integer, written as a number or as a string
// of digits.
int json_int(const boost::property_tree::ptree& node, const std::string& key);
