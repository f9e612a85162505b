// Pages that push the program past the platform's limits, through the window: a title too long for
// any file name, a page past the BMP format's size, a page whose size query fails, a page memory
// cannot hold whole. Each is stored as a valid BMP under a name ending in ".jpg", and the list's
// other pages come out as they always do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "tests/main_job/gui_session.h"
#include "tests/test_engine/test_pattern.h"

namespace main_job {
namespace {

std::string Narrow(const std::wstring& text) { return driver::ToUtf8(text); }

std::uint32_t U32(const std::uint8_t* b, size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b + at, 4);
    return v;
}

// A stored file seen through a mapping: a 2 GB capture is read from the cache, never copied.
class MappedFile {
public:
    explicit MappedFile(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)) {
        LARGE_INTEGER size{};
        if (!file_ || !GetFileSizeEx(file_, &size) || size.QuadPart == 0) return;
        mapping_.Reset(CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (mapping_) view_ = static_cast<const std::uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0));
        if (view_) size_ = static_cast<std::size_t>(size.QuadPart);
    }
    ~MappedFile() {
        if (view_) UnmapViewOfFile(view_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    const std::uint8_t* data() const { return view_; }
    std::size_t size() const { return size_; }

private:
    ScopedHandle file_;
    ScopedHandle mapping_;
    const std::uint8_t* view_ = nullptr;
    std::size_t size_ = 0;
};

std::wstring Repeat(const std::wstring& piece, int times) {
    std::wstring out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// The stored file for this sequence number: the one name that starts with it.
std::wstring FileFor(const std::vector<std::wstring>& names, int n) {
    const std::wstring prefix = std::to_wstring(n) + L"_";
    for (const std::wstring& name : names)
        if (name.rfind(prefix, 0) == 0) return name;
    return std::wstring();
}

// A stored capture of the top rows of a width-pixel page at address: headers that agree with the
// length, at least minRows rows, every sampled row exactly the engine's.
void ExpectTopRows(const MappedFile& image, std::wstring_view address, int width, int minRows, int maxRows) {
    ASSERT_GE(image.size(), 54u);
    const std::uint8_t* bytes = image.data();
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    const std::int32_t rows = -static_cast<std::int32_t>(U32(bytes, 22));
    EXPECT_GE(rows, minRows);
    EXPECT_LE(rows, maxRows);
    const std::size_t pixelBytes = static_cast<std::size_t>(rows) * static_cast<std::size_t>(width) * 4;
    ASSERT_EQ(image.size(), pixelBytes + 54);
    EXPECT_EQ(U32(bytes, 2), pixelBytes + 54);
    EXPECT_EQ(U32(bytes, 10), 54u);
    EXPECT_EQ(static_cast<std::int32_t>(U32(bytes, 18)), width);
    EXPECT_EQ(U32(bytes, 28) & 0xFFFF, 32u);
    EXPECT_EQ(U32(bytes, 34), pixelBytes);
    const std::uint8_t tag = test_engine::AddressTag(address);
    std::size_t wrongRows = 0;
    for (int y = 0; y < rows; y = y + 1 == rows ? rows : std::min(y + 251, rows - 1)) {
        const std::uint8_t* row = bytes + 54 + static_cast<std::size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            std::uint32_t p;
            std::memcpy(&p, row + static_cast<std::size_t>(x) * 4, 4);
            if (p != test_engine::GradientPixel(tag, x, y)) {
                ++wrongRows;
                break;
            }
        }
    }
    EXPECT_EQ(wrongRows, 0u);
}

class HostilePagesTest : public GuiTest {
protected:
    // A page past the format's limit takes seconds to paint, digest and write: a longer guard.
    std::wstring RunList(const std::wstring& program, const std::string& script, const std::wstring& list) {
        EXPECT_NO_FATAL_FAILURE(Launch(program, script));
        std::wstring folder = scratch_ + L"\\shots";
        CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_NO_FATAL_FAILURE(SetSaveFolder(folder + L"\\"));
        EXPECT_NO_FATAL_FAILURE(SetOptions(true, true, true, false));
        EXPECT_NO_FATAL_FAILURE(RunBatch(list, 900000));
        return folder;
    }
};

TEST_F(HostilePagesTest, ALongTitleAPageTooTallAndAFailedSizeQueryAreEachStoredAsAValidBmp) {
    // 400 characters of 中 and a few that the cleaning removes.
    const std::wstring title = Repeat(L"中", 200) + L" /:? " + Repeat(L"中", 200);
    const std::string script = "page http://before.test/\nsize 320 200\n"
                               "page http://title.test/\nsize 100 50\ntitle " + Narrow(title) + "\n"
                               "page http://tall.test/\nsize 800 900000\n"
                               "page http://nosize.test/\nsize -1 -1\n"
                               "page http://zero.test/\nsize 0 0\n"
                               "page http://after.test/\nsize 200 100\n";
    const std::wstring shots = RunList(kQuickWaitProgram, script,
                                       L"http://before.test/\r\nhttp://title.test/\r\nhttp://tall.test/\r\n"
                                       L"http://nosize.test/\r\nhttp://zero.test/\r\nhttp://after.test/\r\n");
    const std::vector<std::wstring> names = FilesIn(shots);
    ASSERT_EQ(names.size(), 6u) << "a snapshot was lost (or Temp.jpg was left)";
    for (const std::wstring& name : names) {
        SCOPED_TRACE(Narrow(name));
        EXPECT_GE(name.size(), 4u);
        EXPECT_EQ(name.substr(name.size() - 4), L".jpg");
        EXPECT_NE(name, L"Temp.jpg");
    }

    // The pages around the hostile ones: exactly what they always give.
    const std::map<int, Bytes> ordinary = {{1, ExpectedImage(L"http://before.test/", 320, 200)},
                                           {6, ExpectedImage(L"http://after.test/", 200, 100)}};
    for (const auto& [n, expected] : ordinary) {
        SCOPED_TRACE(n);
        EXPECT_EQ(FileFor(names, n), std::to_wstring(n) + L"_" + Md5Hex(expected) + L"_.jpg");
        EXPECT_EQ(ReadBytes(shots + L"\\" + FileFor(names, n)), std::optional<Bytes>(expected));
    }

    // The title is cut to what the host's 255 bytes of UTF-8 leave beside "2_", the digest, "_"
    // and ".jpg" (216 bytes, 72 characters of three bytes each), or to what MAX_PATH leaves
    // after this test's long folder, whichever is less. The image is whole.
    wchar_t full[1024];
    const int folderUnits = static_cast<int>(GetFullPathNameW((shots + L"\\").c_str(), 1024, full, nullptr));
    const int kept = std::min(72, (MAX_PATH - 1) - folderUnits - 35 - 4);
    ASSERT_GT(kept, 0) << "the test's folder leaves no room for a title";
    const Bytes titled = ExpectedImage(L"http://title.test/", 100, 50);
    EXPECT_EQ(FileFor(names, 2), L"2_" + Md5Hex(titled) + L"_" + Repeat(L"中", kept) + L".jpg");
    EXPECT_LE(folderUnits + static_cast<int>(FileFor(names, 2).size()), MAX_PATH - 1);
    EXPECT_EQ(ReadBytes(shots + L"\\" + FileFor(names, 2)), std::optional<Bytes>(titled));

    // 800 x 900,000 is past the format's 2,147,483,647 bytes: the top 671,088 rows, exact.
    {
        const std::wstring name = FileFor(names, 3);
        MappedFile tall(shots + L"\\" + name);
        ASSERT_NE(tall.data(), nullptr);
        ExpectTopRows(tall, L"http://tall.test/", 800, 671088, 671088);
        EXPECT_EQ(name, L"3_" + Md5Hex(tall.data(), tall.size()) + L"_.jpg");
    }

    // A failed size query (answered -1 or 0): the bare headers of an empty image, never 0 bytes.
    const Bytes empty = ExpectedImage(L"", 0, 0);
    for (int n : {4, 5}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(FileFor(names, n), std::to_wstring(n) + L"_" + Md5Hex(empty) + L"_.jpg");
        EXPECT_EQ(ReadBytes(shots + L"\\" + FileFor(names, n)), std::optional<Bytes>(empty));
    }
    // Nothing was resized to or painted at no size.
    for (const test_engine::Call& call : Calls()) {
        if (call.entry != "wkeResize" || call.args.size() != 3) continue;
        EXPECT_NE(call.args[1], "0") << call.text;
        EXPECT_NE(call.args[2], "0") << call.text;
        EXPECT_NE(call.args[1], "-1") << call.text;
    }
}

// The build short of memory lets a capture take 64 MiB: an 800 x 30,000 page (96 MB) is stored as
// its top rows, as many as fit, and the next page is whole.
TEST_F(HostilePagesTest, APageMemoryCannotHoldWholeIsStoredAsItsTopRows) {
    const std::wstring shots = RunList(kLowMemoryProgram,
                                       "page http://big.test/\nsize 800 30000\n"
                                       "page http://small.test/\nsize 300 200\n",
                                       L"http://big.test/\r\nhttp://small.test/\r\n");
    const std::vector<std::wstring> names = FilesIn(shots);
    ASSERT_EQ(names.size(), 2u);
    const int fit = static_cast<int>(((std::size_t{64} << 20) - 54) / 3200);
    MappedFile big(shots + L"\\" + FileFor(names, 1));
    ASSERT_NE(big.data(), nullptr);
    EXPECT_EQ(FileFor(names, 1), L"1_" + Md5Hex(big.data(), big.size()) + L"_.jpg");
    ExpectTopRows(big, L"http://big.test/", 800, fit * 7 / 8, fit);
    const Bytes small = ExpectedImage(L"http://small.test/", 300, 200);
    EXPECT_EQ(FileFor(names, 2), L"2_" + Md5Hex(small) + L"_.jpg");
    EXPECT_EQ(ReadBytes(shots + L"\\" + FileFor(names, 2)), std::optional<Bytes>(small));
}

}  // namespace
}  // namespace main_job
