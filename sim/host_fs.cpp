#include "sim/host_fs.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {
namespace hostfs {

bool realPath(const std::string& path, std::string& out)
{
    char* r = ::realpath(path.c_str(), nullptr);
    if (!r)
        return false;
    out = r;
    std::free(r);
    return true;
}

bool within(const std::string& folder, const std::string& path)
{
    if (folder == "/")
        return !path.empty() && path[0] == '/';
    return path == folder
        || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0
            && path[folder.size()] == '/');
}

std::string dirName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const size_t slash = p.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return p.substr(0, slash);
}

std::string baseName(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool resolvesInside(const std::string& rootReal, const std::string& path)
{
    std::string p = path;
    for (;;) {
        struct stat st;
        if (::lstat(p.c_str(), &st) == 0) {
            std::string r;
            if (!realPath(p, r))
                return false;   // dangling or looping link
            return within(rootReal, r);
        }
        const std::string parent = dirName(p);
        if (parent == p)
            return false;
        p = parent;
    }
}

bool makeDirs(const std::string& rootReal, const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        std::string r;
        return S_ISDIR(st.st_mode) && realPath(path, r) && within(rootReal, r);
    }
    const std::string parent = dirName(path);
    if (parent == path || !makeDirs(rootReal, parent))
        return false;
    std::string parentReal;
    if (!realPath(parent, parentReal) || !within(rootReal, parentReal))
        return false;
    if (::mkdir(path.c_str(), 0755) < 0 && errno != EEXIST)
        return false;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace hostfs
} // namespace sim
