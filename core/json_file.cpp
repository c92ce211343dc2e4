#include "core/json_file.h"

#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"

#include <QMutexLocker>
// The JSON reader of this Boost still includes <boost/bind.hpp>, whose
// placeholders _1, _2... in the global namespace are deprecated; keeping
// them, as Boost documents, silences its note (nothing here uses them).
#define BOOST_BIND_GLOBAL_PLACEHOLDERS
#include <boost/property_tree/json_parser.hpp>
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <fstream>
#include <sstream>

namespace pt = boost::property_tree;

namespace {

// The files nest three or four levels; the parser recurses once per level,
// so a file nested far deeper (from an upload) would end the process.
constexpr int kMaxJsonDepth = 64;

// The deepest nesting of objects and arrays in a JSON text, strings left out.
int json_depth(const std::string& text)
{
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

} // namespace

JsonRead read_json_file(const std::string& systemPath, const std::string& removeCommand,
                        const std::function<void(const pt::ptree&)>& take)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    std::ifstream in(platform::boardPath(systemPath), std::ios::binary);
    if (!in)
        return JsonRead::Missing;
    std::ostringstream whole;
    whole << in.rdbuf();
    in.close();
    const std::string text = whole.str();
    try {
        if (json_depth(text) > kMaxJsonDepth)
            throw std::runtime_error("nested too deep");
        std::istringstream parsed(text);
        pt::ptree tree;
        pt::read_json(parsed, tree);
        take(tree);
        return JsonRead::Taken;
    } catch (const std::exception& e) {
        if (traceOn())
            std::printf("json error: %s", e.what());
    }
    if (!removeCommand.empty())
        Utils::system_mutex(QString::fromStdString(removeCommand));
    return JsonRead::Failed;
}

namespace {

const pt::ptree& leaf(const pt::ptree& node, const std::string& key)
{
    const pt::ptree& child = node.get_child(key);
    if (!child.empty())
        throw pt::ptree_bad_data("member \"" + key + "\" is not a value", child.data());
    return child;
}

} // namespace

std::string json_text(const pt::ptree& node, const std::string& key)
{
    return leaf(node, key).data();
}

int json_int(const pt::ptree& node, const std::string& key)
{
    return leaf(node, key).get_value<int>();
}
