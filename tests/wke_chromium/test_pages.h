// Pages and waiting helpers shared by the browser tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace wketest {

// A page of `height` rows, `width` wide, whose row y has the colour
// R = y & 255, G = (y >> 8) & 255, B = 7 + 60 * (y >> 16): every row differs from every other,
// so a repeated, shifted or missing row shows.
std::string BandPage(int width, int height);
// Checks a B,G,R,A frame of the band page; reports the first wrong pixel in `where`.
bool BandFrameMatches(const uint8_t* bits, int width, int height, size_t pitch, std::string& where);

// Writes a file under the temporary folder; returns its Windows path.
std::wstring WriteTempFile(const std::wstring& name, const std::string& bytes);

// Runs the thread's messages until `done` answers true or `timeoutMs` passes (a guard against hangs).
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

}  // namespace wketest
