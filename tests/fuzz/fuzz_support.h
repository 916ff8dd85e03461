// Shared pieces of the fuzz targets: a private scratch directory per process and the
// input written there as a file, for readers that take a file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/types.h"

namespace pelvar::fuzz {

// A directory of this process (on a memory file system where there is one), removed
// with everything in it when the process ends.
const std::string& ScratchDir();

// Writes the input to ScratchDir()/name through a new file renamed over the old one, so
// that readers which cache by file identity see a new file every time. Gives the name
// as the project's file functions take it (Windows-1250; the scratch path is ASCII).
AnsiString WriteInput(const std::string& name, const uint8_t* data, size_t size);

// Empties a directory below ScratchDir() (made when missing) and gives its name.
AnsiString FreshDir(const std::string& name);

}  // namespace pelvar::fuzz
