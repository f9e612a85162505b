// The text parts of storing a snapshot: the capture time and the file name built from the
// ticked naming options.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string_view>

#include "base/text.h"

// A local date and time to the second: month 1 to 12, day 1 to 31, hour 0 to 23.
struct CaptureMoment {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "%d年%d月%d日" followed by "%d时%d分%d秒", "%d时%d分" or "%d时", the first of these whose
// last field is not 0, or by nothing at midnight.
Text FormatCaptureTime(const CaptureMoment& moment);

// Removed, in this order, from the name whenever the page title is part of it.
extern const std::array<Text, 10> NameRemovalChars;

// Which naming options are ticked.
struct SnapshotNameOptions {
    bool sequenceNumber = false;
    bool md5Digest = false;
    bool pageTitle = false;
    bool captureTime = false;
};

// The file name without ".jpg": sequence number, digest of the whole image, title and capture
// time, each ticked part followed by "_", the last "_" dropped. getTitle is called only when the
// title is ticked; the title's cleaning covers everything before the time part.
Text BuildSnapshotName(int sequenceNumber, const ByteBuffer& image, const SnapshotNameOptions& options,
                       const std::function<Text()>& getTitle, const Text& captureTime);

// What the file system takes for the stored file, and how a GBK text measures there. A name is
// measured with its ".jpg"; the path is the save folder followed by the name.
struct NameFit {
    std::size_t folderUnits = 0;      // UTF-16 units of the save folder as the full path starts
    std::size_t nameUnits = 255;      // largest name in UTF-16 units
    std::size_t pathUnits = 259;      // largest whole path in UTF-16 units (MAX_PATH less its NUL)
    std::size_t nameUtf8Bytes = 0;    // largest name in UTF-8 bytes on the host; 0 = no such limit
    // Both measures must add up character by character, as a stateless code page does.
    std::function<std::size_t(std::string_view gbk)> utf16Units;
    std::function<std::size_t(std::string_view gbk)> utf8Bytes;
};

// As above, with the title cut at a character boundary, as little as needed, when the whole name
// would not fit; the sequence number, digest, time and ".jpg" are kept. A name that fits comes out
// byte for byte as it would without the fit; a name too long even without a title is left whole.
Text BuildSnapshotName(int sequenceNumber, const ByteBuffer& image, const SnapshotNameOptions& options,
                       const std::function<Text()>& getTitle, const Text& captureTime, const NameFit& fit);
