// The most bytes one capture's image may take. Tests lower it to see a capture that memory cuts
// short without exhausting the machine; the program never sets it.
#pragma once

#include <cstddef>

void SetCaptureMemoryLimit(std::size_t bytes);
