#include "core/alias.h"

#include "core/json_file.h"

namespace pt = boost::property_tree;

namespace {
const char kAliasFile[] = "/data/configs/alias.json";
const char kAliasRemove[] = "rm -rf /data/configs/alias.json";
} // namespace

int get_json_alias_para(ALIAS_PARA* alias, std::string kind, int id)
{
    int result = 0;
    read_json_file(kAliasFile, kAliasRemove, [&](const pt::ptree& root) {
        const pt::ptree& namelist = root.get_child("namelist");
        // The first list of that kind holds the names.
        const auto list = namelist.find(kind);
        if (list == namelist.not_found())
            return;
        for (const auto& element : list->second) {
            const pt::ptree& entry = element.second;
            if (json_int(entry, "id") != id)
                continue;
            const std::string valid = json_text(entry, "valid");
            const std::string name = json_text(entry, "name");
            if (alias) {
                alias->id = id;
                alias->valid = valid;
                alias->name = name;
            }
            result = valid != "off" && !name.empty() ? 1 : 0;
            return;
        }
    });
    return result;
}
