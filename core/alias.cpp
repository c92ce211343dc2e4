#include "core/alias.h"

#include "core/atomic_file.h"
#include "core/json_file.h"
#include "core/utils.h"
#include "platform/platform.h"

#include <QMutexLocker>
// The JSON reader of this Boost still includes <boost/bind.hpp>, whose
// placeholders _1, _2... in the global namespace are deprecated; keeping
// them, as Boost documents, silences its note (nothing here uses them).
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>
#include <cstdio>
#include <sstream>
#include <vector>

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

namespace {

const char* const kKinds[4] = {"source", "usermode", "win", "crop"};

pt::ptree entry(const std::string& id, const std::string& name)
{
    pt::ptree e;
    e.put("id", id);
    e.put("valid", "off");
    e.put("name", name);
    return e;
}

} // namespace

int Json_create(const std::string& systemPath)
{
    struct Sample {
        const char* kind;
        std::vector<std::pair<std::string, std::string>> entries;
    };
    const Sample samples[4] = {
        {"source", {{"0", "EXT"}, {"2", "HDMI1"}, {"3", "HDMI2"}}},
        {"usermode", {{"1", "User Mode 1"}, {"2", "User Mode 2"}, {"3", "User Mode 3"}}},
        {"win", {{"1", "Window 1"}, {"2", "Window 2"}}},
        {"crop", {{"1", "Crop 1"}, {"2", "Crop 2"}, {"3", "Crop 3"}}},
    };
    pt::ptree root;
    root.put("filename", systemPath);
    pt::ptree namelist;
    for (const Sample& s : samples) {
        pt::ptree list;
        for (const auto& e : s.entries)
            list.push_back(std::make_pair("", entry(e.first, e.second)));
        namelist.add_child(s.kind, list);
    }
    root.add_child("namelist", namelist);
    std::ostringstream out;
    pt::write_json(out, root);
    const std::string text = out.str();
    bool ok;
    {
        QMutexLocker lock(&Utils::_file_deal_mutex);
        ok = writeFileAtomically(platform::boardPath(systemPath),
                                 reinterpret_cast<const unsigned char*>(text.data()), text.size());
    }
    std::printf(ok ? "\n create Json OK !!!" : "\n open filed !!!");
    return ok ? 0 : -1;
}

void Json_analysis(const std::string& systemPath)
{
    static const char* const kTitles[4] = {"\n json source :", "\n json usermode :", "\n json window :",
                                           "\n json crop :"};
    const JsonRead read = read_json_file(systemPath, systemPath == kAliasFile ? kAliasRemove : "",
                                         [&](const pt::ptree& root) {
        const pt::ptree& namelist = root.get_child("namelist");
        for (int k = 0; k < 4; ++k) {
            const auto list = namelist.find(kKinds[k]);
            if (list == namelist.not_found())
                continue;
            for (const auto& element : list->second) {
                const pt::ptree& e = element.second;
                std::printf("%s id: %d    valid: %s    name: %s", kTitles[k], json_int(e, "id"),
                            json_text(e, "valid").c_str(), json_text(e, "name").c_str());
            }
        }
    });
    if (read == JsonRead::Missing)
        std::printf("\n open filed !!!");
    std::printf("\n read Json over !!!");
}
