// Small file-system helpers of the simulated board for paths on the host
// (under the board root).
#pragma once

#include <string>

namespace sim {
namespace hostfs {

// realpath(); false when the path cannot be resolved.
bool realPath(const std::string& path, std::string& out);
// Whether path equals folder or lies below it (both resolved already).
bool within(const std::string& folder, const std::string& path);
std::string dirName(const std::string& path);
std::string baseName(const std::string& path);
// Whether the nearest existing ancestor of path (path itself included)
// resolves inside rootReal. A dangling link on the way counts as outside.
bool resolvesInside(const std::string& rootReal, const std::string& path);
// Creates a folder and its missing parents, none of which may resolve
// outside rootReal. True when the folder exists afterwards.
bool makeDirs(const std::string& rootReal, const std::string& path);

} // namespace hostfs
} // namespace sim
