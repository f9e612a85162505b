#pragma once

#include "base/text.h"

// Writes the image to "Temp.jpg" in the save folder, then renames it to the name the ticked
// options build, plus ".jpg". An existing file of that name is never replaced.
void StoreSnapshot(int sequenceNumber, const ByteBuffer& image, const Text& captureTime);

// Creates or empties the file and writes every byte; true only when all of it reached the file
// and it closed without error.
bool WriteWholeFile(const Text& path, const ByteBuffer& bytes);
