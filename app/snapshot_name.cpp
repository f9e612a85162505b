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

Text BuildSnapshotName(int sequenceNumber, const ByteBuffer& image, const SnapshotNameOptions& options,
                       const std::function<Text()>& getTitle, const Text& captureTime) {
    Text name;
    if (options.sequenceNumber) name = std::to_string(sequenceNumber) + "_";
    if (options.md5Digest) name += Md5Hex(image) + "_";
    if (options.pageTitle) {
        name += (getTitle ? getTitle() : Text()) + "_";
        for (const Text& removed : NameRemovalChars) name = RemoveSpaces(ReplaceAll(name, removed, Text()));
    }
    if (options.captureTime) name += captureTime + "_";
    if (!name.empty()) name.pop_back();
    return name;
}
