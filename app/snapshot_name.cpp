#include "app/snapshot_name.h"

#include <string>

#include "app/md5.h"
#include "app/text_ops.h"

Text FormatCaptureTime(const CaptureMoment& moment) {
    using std::to_string;
    Text text = to_string(moment.year) + "年" + to_string(moment.month) + "月" + to_string(moment.day) + "日";
    if (moment.second != 0) {
        text += to_string(moment.hour) + "时" + to_string(moment.minute) + "分" + to_string(moment.second) + "秒";
    } else if (moment.minute != 0) {
        text += to_string(moment.hour) + "时" + to_string(moment.minute) + "分";
    } else if (moment.hour != 0) {
        text += to_string(moment.hour) + "时";
    }
    return text;
}

const std::array<Text, 10> NameRemovalChars = {"/", "\\", "|", "*", "?", ":", ",", "<", ">", "\""};

namespace {

constexpr std::string_view kExtension = ".jpg";

std::size_t CharacterLength(const Text& text, std::size_t at) {
    return IsLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

// The name before its last "_" is dropped: head (sequence number and digest), the title's
// characters, the title's separator, tail (the time and its separator). Only the title is ever cut.
struct NameParts {
    Text head;
    Text title;
    Text separator;
    Text tail;

    Text Joined(std::size_t titleBytes) const {
        Text name = head + title.substr(0, titleBytes) + separator + tail;
        if (!name.empty()) name.pop_back();
        return name;
    }
};

NameParts BuildParts(int sequenceNumber, const ByteBuffer& image, const SnapshotNameOptions& options,
                     const std::function<Text()>& getTitle, const Text& captureTime) {
    NameParts parts;
    if (options.sequenceNumber) parts.head = std::to_string(sequenceNumber) + "_";
    if (options.md5Digest) parts.head += Md5Hex(image) + "_";
    if (options.pageTitle) {
        // The head is ASCII without any removed character, so cleaning the title with its "_" on
        // its own gives what cleaning the whole name gives.
        Text title = (getTitle ? getTitle() : Text()) + "_";
        for (const Text& removed : NameRemovalChars) title = RemoveSpaces(ReplaceAll(title, removed, Text()));
        std::size_t last = 0;
        for (std::size_t i = 0; i < title.size(); i += CharacterLength(title, i)) last = i;
        parts.title = title.substr(0, last);
        parts.separator = title.substr(last);
    }
    if (options.captureTime) parts.tail = captureTime + "_";
    return parts;
}

bool Fits(const NameFit& fit, std::size_t units, std::size_t utf8Bytes) {
    return units <= fit.nameUnits && fit.folderUnits + units <= fit.pathUnits &&
           (fit.nameUtf8Bytes == 0 || utf8Bytes <= fit.nameUtf8Bytes);
}

}  // namespace

Text BuildSnapshotName(int sequenceNumber, const ByteBuffer& image, const SnapshotNameOptions& options,
                       const std::function<Text()>& getTitle, const Text& captureTime) {
    return BuildParts(sequenceNumber, image, options, getTitle, captureTime).Joined(Text::npos);
}

Text BuildSnapshotName(int sequenceNumber, const ByteBuffer& image, const SnapshotNameOptions& options,
                       const std::function<Text()>& getTitle, const Text& captureTime, const NameFit& fit) {
    const NameParts parts = BuildParts(sequenceNumber, image, options, getTitle, captureTime);
    const Text whole = parts.Joined(Text::npos);
    auto units = [&](std::string_view text) { return fit.utf16Units ? fit.utf16Units(text) : text.size(); };
    auto bytes = [&](std::string_view text) { return fit.utf8Bytes ? fit.utf8Bytes(text) : text.size(); };
    const std::string_view extension = kExtension;
    if (Fits(fit, units(whole) + units(extension), bytes(whole) + bytes(extension))) return whole;

    const Text bare = parts.Joined(0);
    std::size_t nameUnits = units(bare) + units(extension);
    std::size_t nameBytes = bytes(bare) + bytes(extension);
    if (!Fits(fit, nameUnits, nameBytes)) return whole;
    std::size_t kept = 0;
    while (kept < parts.title.size()) {
        const std::size_t length = CharacterLength(parts.title, kept);
        const std::string_view character(parts.title.data() + kept, length);
        const std::size_t moreUnits = nameUnits + units(character);
        const std::size_t moreBytes = nameBytes + bytes(character);
        if (!Fits(fit, moreUnits, moreBytes)) break;
        nameUnits = moreUnits;
        nameBytes = moreBytes;
        kept += length;
    }
    return parts.Joined(kept);
}
