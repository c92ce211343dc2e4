#include "platform/board_root.h"

#include <mutex>
#include <vector>

namespace platform {
namespace {

std::mutex g_rootMutex;
std::string& rootStorage()
{
    static std::string root = "/";
    return root;
}

} // namespace

void setBoardRoot(const std::string& root)
{
    std::lock_guard<std::mutex> lock(g_rootMutex);
    std::string r = root.empty() ? std::string("/") : root;
    while (r.size() > 1 && r.back() == '/')
        r.pop_back();
    rootStorage() = r;
}

std::string boardRoot()
{
    std::lock_guard<std::mutex> lock(g_rootMutex);
    return rootStorage();
}

bool boardRootIsSystemRoot()
{
    return boardRoot() == "/";
}

static bool normalise(const std::string& systemPath, std::string& out, bool clampAtRoot)
{
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= systemPath.size()) {
        size_t j = systemPath.find('/', i);
        if (j == std::string::npos)
            j = systemPath.size();
        std::string part = systemPath.substr(i, j - i);
        if (part == "..") {
            if (parts.empty()) {
                if (!clampAtRoot)
                    return false;
            } else {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    out.clear();
    for (const auto& p : parts)
        out += "/" + p;
    if (out.empty())
        out = "/";
    return true;
}

bool normaliseSystemPath(const std::string& systemPath, std::string& out)
{
    return normalise(systemPath, out, false);
}

std::string boardPath(const std::string& systemPath)
{
    const std::string root = boardRoot();
    // As on the real file system, ".." at "/" stays at "/": nothing reaches
    // outside the board root. A trailing "/" is kept.
    std::string p;
    normalise(systemPath, p, true);
    if (systemPath.size() > 1 && systemPath.back() == '/' && p != "/")
        p += "/";
    if (root == "/")
        return p;
    return p == "/" ? root + "/" : root + p;
}

std::string boardPath(const char* systemPath)
{
    return boardPath(std::string(systemPath ? systemPath : ""));
}

QString boardPath(const QString& systemPath)
{
    return QString::fromStdString(boardPath(systemPath.toStdString()));
}

} // namespace platform
