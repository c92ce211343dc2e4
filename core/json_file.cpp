#include "core/json_file.h"

#include "core/global.h"
#include "core/utils.h"
#include "platform/platform.h"

#include <QMutexLocker>
#include <boost/property_tree/json_parser.hpp>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace pt = boost::property_tree;

JsonRead read_json_file(const std::string& systemPath, const std::string& removeCommand,
                        const std::function<void(const pt::ptree&)>& take)
{
    QMutexLocker lock(&Utils::_file_deal_mutex);
    std::ifstream in(platform::boardPath(systemPath), std::ios::binary);
    if (!in)
        return JsonRead::Missing;
    try {
        pt::ptree tree;
        pt::read_json(in, tree);
        in.close();
        take(tree);
        return JsonRead::Taken;
    } catch (const std::exception& e) {
        if (traceOn())
            std::printf("json error: %s", e.what());
    }
    in.close();
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
