// Board root: every absolute path the program uses (/data, /mnt/usb1, /etc,
// /dev, /proc) goes through boardPath(). On the device the root is "/", on a
// PC it is a working folder that holds the simulated board's file system.
#pragma once

#include <QString>
#include <string>

namespace platform {

// Sets the board root. An empty string or "/" means the real root.
void setBoardRoot(const std::string& root);
std::string boardRoot();
bool boardRootIsSystemRoot();

// Maps an absolute system path ("/data/x") to the path under the board root.
// A relative path is taken as relative to "/".
std::string boardPath(const std::string& systemPath);
QString boardPath(const QString& systemPath);
std::string boardPath(const char* systemPath);

// Normalises a system path ("/a/./b/../c" -> "/a/c"); false when it would
// climb above "/".
bool normaliseSystemPath(const std::string& systemPath, std::string& out);

} // namespace platform
