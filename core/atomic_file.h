// Whole-file writes that a power cut cannot tear: the new contents go to a
// temporary file beside the target, are flushed to the medium, and then
// replace the target in one rename. A reader sees the old file or the new
// one, never a mixture.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Replaces hostPath with the given bytes; false (and the old file intact)
// when anything fails.
bool writeFileAtomically(const std::string& hostPath, const unsigned char* data, size_t size);

// Reads a whole file; false when it cannot be opened.
bool readWholeFile(const std::string& hostPath, std::vector<unsigned char>& out);
