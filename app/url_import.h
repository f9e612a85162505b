#pragma once

#include <cstddef>

// The most bytes an imported list may take in memory. The product never sets it; a test build of
// the program lowers it to see a file too large for memory without needing one.
extern std::size_t g_importMemoryLimit;
