// Whole-file writes that a power cut cannot tear: the new contents go to a
// temporary file beside the target, are flushed to the medium, and then
// replace the target in one rename. A reader sees the old file or the new
// one, never a mixture.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Replaces hostPath with the given bytes; false (and the old file intact)
// when anything fails. The temporary is hostPath + ".new", or tmpHostPath
// (on the same file system) for a file in a folder whose files are counted
// or listed, where a temporary must never appear.
bool writeFileAtomically(const std::string& hostPath, const unsigned char* data, size_t size,
                         const std::string& tmpHostPath = std::string());

// Removes hostPath so that a power cut after the return cannot bring it
// back; true when it is gone (or was not there).
bool removeFileDurably(const std::string& hostPath);

// Removes what writes cut short (a power cut) left behind: the temporaries
// of the whole-file writes of the parameter block, the user modes, the
// menus and names, the WiFi configuration and its restore mark, the
// uploads, and the settings files' lock and temporaries (QSettings). Run at
// start, before anything writes. The number of files removed.
int removeWriteLeftovers();

// Where uploads into a listed folder are written before their rename.
extern const char* const kUploadTemporary;

// Reads a whole file; false when it cannot be opened.
bool readWholeFile(const std::string& hostPath, std::vector<unsigned char>& out);
