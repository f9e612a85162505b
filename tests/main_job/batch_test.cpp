// The batch through the window: a copy of the program beside this test, driven with the test engine
// as wke.dll. Most batches run in the build whose wait step is 20 ms (quorlane_quickwait.exe); the
// status, Stop and closing tests keep the product's one-second step.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "tests/main_job/gui_session.h"

namespace main_job {
namespace {

using driver::MessageBoxInfo;

std::wstring Name(int n, const Bytes& image) { return std::to_wstring(n) + L"_" + Md5Hex(image) + L".jpg"; }

std::string Narrow(const std::wstring& text) { return driver::ToUtf8(text); }

// Compares a stored file with what it must hold, without printing megabytes on a mismatch.
void ExpectFile(const std::wstring& path, const Bytes& expected) {
    std::optional<Bytes> stored = ReadBytes(path);
    ASSERT_TRUE(stored) << Narrow(path) << " is missing";
    if (*stored == expected) return;
    size_t at = 0;
    while (at < stored->size() && at < expected.size() && (*stored)[at] == expected[at]) ++at;
    ADD_FAILURE() << Narrow(path) << ": " << stored->size() << " bytes, expected " << expected.size()
                  << "; first difference at byte " << at;
}

// The folder holds exactly these files with exactly these bytes.
void ExpectFolder(const std::wstring& folder, const std::map<std::wstring, Bytes>& expected) {
    std::vector<std::wstring> names;
    for (const auto& [name, bytes] : expected) names.push_back(name);
    std::vector<std::wstring> found = FilesIn(folder);
    ASSERT_EQ(found, names) << "in " << Narrow(folder);
    for (const auto& [name, bytes] : expected) {
        SCOPED_TRACE(Narrow(name));
        ExpectFile(folder + L"\\" + name, bytes);
    }
}

class BatchTest : public GuiTest {
protected:
    // A folder for the snapshots, given to the program with its final backslash.
    std::wstring ShotsFolder(const std::wstring& name = L"shots") {
        std::wstring folder = scratch_ + L"\\" + name;
        CreateDirectoryW(folder.c_str(), nullptr);
        EXPECT_NO_FATAL_FAILURE(SetSaveFolder(folder + L"\\"));
        return folder;
    }
    // Waits until the log shows the address at this list position (from 0) polled at least once.
    bool WaitForPolls(size_t visit, int polls) {
        return driver::WaitUntil([&] {
            std::vector<PageVisit> v = Visits();
            return v.size() > visit && v[visit].polls >= polls;
        });
    }
};

TEST_F(BatchTest, StatusTextsBlankLineNumbersAndTheFinishAtTheRealWaitStep) {
    ASSERT_NO_FATAL_FAILURE(Launch(kProgram,
                                   "page http://a.test/\nsize 320 1500\ncomplete 3\n"
                                   "page http://b.test/\nsize 640 480\n"));
    const std::wstring shots = ShotsFolder();
    ASSERT_NO_FATAL_FAILURE(SetList(L"http://a.test/\r\n\r\nhttp://b.test/\r\n"));
    // The first page shows its status for three seconds, so that sampling it from outside holds
    // even on a busy machine.
    ASSERT_TRUE(driver::Click(c_.start));

    std::vector<std::string> seen;
    std::optional<bool> startEnabled, stopEnabled;
    ASSERT_TRUE(driver::WaitUntil([&] {
        bool boxShown = !driver::Dialogs(program_->Id()).empty();
        std::string status = StatusGbk();
        if (seen.empty() || seen.back() != status) seen.push_back(status);
        if (!startEnabled && status == "任务状态：   总：3条，正在处理第 1 条！") {
            startEnabled = driver::IsEnabled(c_.start);
            stopEnabled = driver::IsEnabled(c_.stop);
        }
        return boxShown;
    }));
    if (!seen.empty() && seen.front() == "任务状态：当前无任务。") seen.erase(seen.begin());
    // Item 2 is blank: its status is replaced at once, before any message is handled.
    EXPECT_EQ(seen, (std::vector<std::string>{"任务状态：   总：3条，正在处理第 1 条！",
                                              "任务状态：   总：3条，正在处理第 3 条！",
                                              "任务状态：完成！"}));
    EXPECT_EQ(startEnabled, std::optional<bool>(false));
    EXPECT_EQ(stopEnabled, std::optional<bool>(true));

    std::optional<MessageBoxInfo> box = WaitForBox(L"完成！");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, L"信息：");
    EXPECT_EQ(box->text, L"完成！");
    EXPECT_EQ(box->buttons.size(), 1u);
    EXPECT_EQ(StatusGbk(), "任务状态：完成！");
    EXPECT_TRUE(driver::IsEnabled(c_.start));
    EXPECT_FALSE(driver::IsEnabled(c_.stop));
    ASSERT_NO_FATAL_FAILURE(Dismiss(*box));

    std::vector<PageVisit> visits = Visits();
    ASSERT_EQ(visits.size(), 2u);
    EXPECT_EQ(visits[0].address, "http://a.test/");
    EXPECT_EQ(visits[1].address, "http://b.test/");
    EXPECT_EQ(visits[0].polls, 3);
    EXPECT_EQ(visits[1].polls, 1) << "a page complete at once is captured after exactly one wait";
    for (const PageVisit& v : visits) {
        SCOPED_TRACE(v.address);
        EXPECT_TRUE(v.reloadPolls.empty());
        EXPECT_TRUE(v.captured);
    }
    const Bytes a = ExpectedImage(L"http://a.test/", 320, 1500);
    const Bytes b = ExpectedImage(L"http://b.test/", 640, 480);
    ExpectFolder(shots, {{Name(1, a), a}, {Name(3, b), b}});
}

TEST_F(BatchTest, ReloadCounterRunsAcrossAddressesAndStartsAgainWithEachTask) {
    ASSERT_NO_FATAL_FAILURE(Launch(kQuickWaitProgram,
                                   "page http://p1.test/\ncomplete 10\nsize 200 100\n"
                                   "page http://p2.test/\ncomplete 22\nsize 100 300\n"
                                   "page http://p3.test/\ncomplete 14\nsize 30 20\n"));
    const std::wstring shots = ShotsFolder();
    ASSERT_NO_FATAL_FAILURE(RunBatch(L"http://p1.test/\r\nhttp://p2.test/"));
    // 10 waits for the first page; the second is reloaded at its 5th (the task's 15th) and its 20th.
    std::vector<PageVisit> visits = Visits();
    ASSERT_EQ(visits.size(), 2u);
    EXPECT_EQ(visits[0].polls, 10);
    EXPECT_EQ(visits[0].reloadPolls, std::vector<int>{});
    EXPECT_EQ(visits[1].polls, 22);
    EXPECT_EQ(visits[1].reloadPolls, (std::vector<int>{5, 20}));
    const Bytes p1 = ExpectedImage(L"http://p1.test/", 200, 100);
    const Bytes p2 = ExpectedImage(L"http://p2.test/", 100, 300);
    ExpectFolder(shots, {{Name(1, p1), p1}, {Name(2, p2), p2}});

    // The counter stood at 2; a new task counts from 0, so 14 waits bring no reload.
    ASSERT_NO_FATAL_FAILURE(RunBatch(L"http://p3.test/"));
    visits = Visits();
    ASSERT_EQ(visits.size(), 3u);
    EXPECT_EQ(visits[2].polls, 14);
    EXPECT_EQ(visits[2].reloadPolls, std::vector<int>{});
}

TEST_F(BatchTest, PageStillLoadingAtItsSixtiethWaitIsStoredAsShownWithoutAReloadThere) {
    ASSERT_NO_FATAL_FAILURE(Launch(kQuickWaitProgram,
                                   "page http://never.test/\ncomplete never\nsize 300 200\n"
                                   "page http://after.test/\ncomplete 16\nsize 50 40\n"));
    const std::wstring shots = ShotsFolder();
    ASSERT_NO_FATAL_FAILURE(RunBatch(L"http://never.test/\r\nhttp://after.test/"));
    std::vector<PageVisit> visits = Visits();
    ASSERT_EQ(visits.size(), 2u);
    // Reloads at waits 15, 30 and 45; the 60th ends the wait before its reload and its poll.
    EXPECT_EQ(visits[0].reloadPolls, (std::vector<int>{15, 30, 45}));
    EXPECT_EQ(visits[0].polls, 59);
    EXPECT_TRUE(visits[0].captured);
    // Counting went on from 0, so the next page is reloaded at its own 15th wait.
    EXPECT_EQ(visits[1].reloadPolls, std::vector<int>{15});
    EXPECT_EQ(visits[1].polls, 16);
    const Bytes never = ExpectedImage(L"http://never.test/", 300, 200);
    const Bytes after = ExpectedImage(L"http://after.test/", 50, 40);
    ExpectFolder(shots, {{Name(1, never), never}, {Name(2, after), after}});
}

TEST_F(BatchTest, StopDuringTheWaitForAPageThatNeverCompletesStoresItAndEndsTheTask) {
    ASSERT_NO_FATAL_FAILURE(Launch(kProgram,
                                   "page http://p1.test/\nsize 120 80\n"
                                   "page http://n2.test/\ncomplete never\nsize 150 90\n"));
    const std::wstring shots = ShotsFolder();
    ASSERT_NO_FATAL_FAILURE(SetList(L"http://p1.test/\r\nhttp://n2.test/\r\nhttp://p3.test/"));
    ASSERT_TRUE(driver::Click(c_.start));
    ASSERT_TRUE(WaitForPolls(1, 1));
    EXPECT_EQ(StatusGbk(), "任务状态：   总：3条，正在处理第 2 条！");
    ASSERT_TRUE(driver::Click(c_.stop));

    std::optional<MessageBoxInfo> box = WaitForBox(L"完成！");
    ASSERT_TRUE(box) << "Stop did not end the wait";
    EXPECT_EQ(box->text, L"完成！");
    EXPECT_EQ(StatusGbk(), "任务状态：完成！");
    ASSERT_NO_FATAL_FAILURE(Dismiss(*box));

    std::vector<PageVisit> visits = Visits();
    ASSERT_EQ(visits.size(), 2u) << "an address after Stop was loaded";
    EXPECT_TRUE(visits[1].captured);
    EXPECT_LT(visits[1].polls, 59) << "the page was given up, not stopped";
    const Bytes p1 = ExpectedImage(L"http://p1.test/", 120, 80);
    const Bytes n2 = ExpectedImage(L"http://n2.test/", 150, 90);
    ExpectFolder(shots, {{Name(1, p1), p1}, {Name(2, n2), n2}});

    // Stop leaves the program ready for the next task.
    ASSERT_NO_FATAL_FAILURE(RunBatch(L"http://p1.test/"));
    EXPECT_EQ(Visits().size(), 3u);
}

TEST_F(BatchTest, ClosingTheWindowMidBatchEndsTheProgramNormallyAndKeepsWhatWasStored) {
    ASSERT_NO_FATAL_FAILURE(Launch(kProgram,
                                   "page http://p1.test/\nsize 100 50\n"
                                   "page http://n2.test/\ncomplete never\n"));
    const std::wstring shots = ShotsFolder();
    ASSERT_NO_FATAL_FAILURE(SetList(L"http://p1.test/\r\nhttp://n2.test/"));
    ASSERT_TRUE(driver::Click(c_.start));
    ASSERT_TRUE(WaitForPolls(1, 1));
    ASSERT_TRUE(program_->Close());
    EXPECT_EQ(program_->WaitForExit(), std::optional<int>(0));

    const Bytes p1 = ExpectedImage(L"http://p1.test/", 100, 50);
    ExpectFolder(shots, {{Name(1, p1), p1}});
    // Nothing touched the view once it was destroyed.
    std::vector<test_engine::Call> calls = Calls();
    auto destroyed = std::find_if(calls.begin(), calls.end(),
                                  [](const test_engine::Call& c) { return c.entry == "wkeDestroyWebView"; });
    ASSERT_NE(destroyed, calls.end());
    std::vector<std::string> later;
    for (auto it = destroyed + 1; it != calls.end(); ++it) later.push_back(it->text);
    EXPECT_EQ(later, std::vector<std::string>{"wkeShutdown()"});
}

TEST_F(BatchTest, EachLineIsLoadedAsItStandsAndBlankOnesUseUpTheirNumbers) {
    ASSERT_NO_FATAL_FAILURE(Launch(kQuickWaitProgram, "size 40 30\n"));
    const std::wstring shots = ShotsFolder();
    // A lone LF or CR stays inside its item; spaces and full-width spaces alone make a blank line;
    // a tab does not.
    const std::wstring first = L" http://a.test/\n x";
    const std::wstring third = L"\thttp://b.test/";
    const std::wstring fourth = L"http://c.test/\rd";
    ASSERT_NO_FATAL_FAILURE(RunBatch(first + L"\r\n \x3000 \r\n" + third + L"\r\n" + fourth));
    std::vector<PageVisit> visits = Visits();
    ASSERT_EQ(visits.size(), 3u);
    EXPECT_EQ(visits[0].address, Narrow(first));
    EXPECT_EQ(visits[1].address, Narrow(third));
    EXPECT_EQ(visits[2].address, Narrow(fourth));
    const Bytes i1 = ExpectedImage(first, 40, 30);
    const Bytes i3 = ExpectedImage(third, 40, 30);
    const Bytes i4 = ExpectedImage(fourth, 40, 30);
    ExpectFolder(shots, {{Name(1, i1), i1}, {Name(3, i3), i3}, {Name(4, i4), i4}});

    // An empty list goes straight to the finish.
    ASSERT_NO_FATAL_FAILURE(RunBatch(L""));
    EXPECT_EQ(StatusGbk(), "任务状态：完成！");
    EXPECT_EQ(Visits().size(), 3u);
}

TEST_F(BatchTest, WithoutAnEngineViewEachAddressGivesAnEmptyFileNamedWithTheEmptyDigest) {
    ASSERT_NO_FATAL_FAILURE(Launch(kQuickWaitProgram, "fail-create\n"));
    const std::wstring shots = ShotsFolder();
    ASSERT_NO_FATAL_FAILURE(RunBatch(L"http://a.test/\r\nhttp://b.test/"));
    EXPECT_EQ(Md5Hex({}), L"d41d8cd98f00b204e9800998ecf8427e");
    ExpectFolder(shots, {{Name(1, {}), {}}, {Name(2, {}), {}}});
}

// Names from the ticked options; each case is one batch into a folder of its own.
TEST_F(BatchTest, NamesFollowTheTickedOptionsAndNeverReplaceAFile) {
    ASSERT_NO_FATAL_FAILURE(Launch(kQuickWaitProgram,
                                   "page http://n1.test/\nsize 64 32\n"
                                   "page http://n2.test/\nsize 32 64\n"
                                   "page http://t.test/\nsize 48 48\ntitle A/B: c?\n"));
    const Bytes n1 = ExpectedImage(L"http://n1.test/", 64, 32);
    const Bytes n2 = ExpectedImage(L"http://n2.test/", 32, 64);
    const Bytes t = ExpectedImage(L"http://t.test/", 48, 48);
    const Bytes older = AsBytes("an earlier file of the same name");
    struct Case {
        const char* name;
        bool sequence, md5, title;
        std::wstring list;
        std::map<std::wstring, Bytes> before;
        std::map<std::wstring, Bytes> after;
    } cases[] = {
        {"default options, third address", true, true, false, L"\r\n\r\nhttp://n1.test/", {},
         {{Name(3, n1), n1}}},
        {"only the sequence number", true, false, false, L"http://n1.test/\r\n\r\nhttp://n2.test/", {},
         {{L"1.jpg", n1}, {L"3.jpg", n2}}},
        {"only the title A/B: c?", false, false, true, L"http://t.test/", {}, {{L"ABc.jpg", t}}},
        {"title with the digest: both cleaned", false, true, true, L"http://t.test/", {},
         {{Md5Hex(t) + L"_ABc.jpg", t}}},
        {"title of a page without one", false, false, true, L"http://n1.test/", {}, {{L".jpg", n1}}},
        {"no option: the second image stays in Temp.jpg", false, false, false,
         L"http://n1.test/\r\nhttp://n2.test/", {}, {{L".jpg", n1}, {L"Temp.jpg", n2}}},
        {"existing target left unchanged", true, true, false, L"http://n1.test/", {{Name(1, n1), older}},
         {{Name(1, n1), older}, {L"Temp.jpg", n1}}},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring folder = ShotsFolder(L"case" + std::to_wstring(++number));
        for (const auto& [name, bytes] : c.before) ASSERT_TRUE(WriteBytes(folder + L"\\" + name, bytes));
        ASSERT_NO_FATAL_FAILURE(SetOptions(c.sequence, c.md5, c.title, false));
        ASSERT_NO_FATAL_FAILURE(RunBatch(c.list));
        ExpectFolder(folder, c.after);
    }

    // A save folder without its final backslash is a prefix: the files lie beside it.
    const std::wstring beside = scratch_ + L"\\beside";
    CreateDirectoryW(beside.c_str(), nullptr);
    ASSERT_NO_FATAL_FAILURE(SetSaveFolder(beside + L"\\shots"));
    ASSERT_NO_FATAL_FAILURE(SetOptions(true, true, false, false));
    ASSERT_NO_FATAL_FAILURE(RunBatch(L"http://n1.test/"));
    ExpectFolder(beside, {{L"shots" + Name(1, n1), n1}});
}

std::wstring CaptureTimeText(const SYSTEMTIME& t) {
    wchar_t text[64];
    int n = std::swprintf(text, 64, L"%d年%d月%d日", t.wYear, t.wMonth, t.wDay);
    if (t.wSecond) std::swprintf(text + n, 64 - n, L"%d时%d分%d秒", t.wHour, t.wMinute, t.wSecond);
    else if (t.wMinute) std::swprintf(text + n, 64 - n, L"%d时%d分", t.wHour, t.wMinute);
    else if (t.wHour) std::swprintf(text + n, 64 - n, L"%d时", t.wHour);
    return text;
}

std::vector<std::wstring> CaptureTimesBetween(const SYSTEMTIME& from, const SYSTEMTIME& to) {
    auto ticks = [](const SYSTEMTIME& t) {
        FILETIME f;
        SystemTimeToFileTime(&t, &f);
        return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32 | f.dwLowDateTime) / 10000000;
    };
    std::vector<std::wstring> texts;
    for (ULONGLONG s = ticks(from); s <= ticks(to); ++s) {
        ULONGLONG hundreds = s * 10000000;
        FILETIME f{static_cast<DWORD>(hundreds), static_cast<DWORD>(hundreds >> 32)};
        SYSTEMTIME t;
        FileTimeToSystemTime(&f, &t);
        texts.push_back(CaptureTimeText(t));
    }
    return texts;
}

TEST_F(BatchTest, AllFourPartsComeInTheirOrderAndTheTimeIsNotCleaned) {
    ASSERT_NO_FATAL_FAILURE(Launch(kQuickWaitProgram, "page http://t.test/\nsize 48 48\ntitle A/B: c?\n"));
    const std::wstring shots = ShotsFolder();
    ASSERT_NO_FATAL_FAILURE(SetOptions(true, true, true, true));
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    ASSERT_NO_FATAL_FAILURE(RunBatch(L"http://t.test/"));
    GetLocalTime(&after);
    const Bytes t = ExpectedImage(L"http://t.test/", 48, 48);
    std::vector<std::wstring> files = FilesIn(shots);
    ASSERT_EQ(files.size(), 1u);
    const std::wstring prefix = L"1_" + Md5Hex(t) + L"_ABc_";
    bool matches = false;
    for (const std::wstring& time : CaptureTimesBetween(before, after))
        matches = matches || files[0] == prefix + time + L".jpg";
    EXPECT_TRUE(matches) << Narrow(files[0]);
    ExpectFile(shots + L"\\" + files[0], t);
}

TEST_F(BatchTest, AFailedWriteNeverPutsAStaleTempFileUnderANewName) {
    ASSERT_NO_FATAL_FAILURE(Launch(kQuickWaitProgram, "page http://n1.test/\nsize 64 32\n"));
    const std::wstring shots = ShotsFolder();
    const Bytes stale = AsBytes("the previous snapshot, never renamed");
    const std::wstring temp = shots + L"\\Temp.jpg";
    ASSERT_TRUE(WriteBytes(temp, stale));
    {
        // Held open for reading with others allowed to read and rename it, but not to write it.
        ScopedHandle hold(CreateFileW(temp.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(hold);
        ASSERT_NO_FATAL_FAILURE(RunBatch(L"http://n1.test/"));
        ExpectFolder(shots, {{L"Temp.jpg", stale}});
    }
    ASSERT_NO_FATAL_FAILURE(RunBatch(L"http://n1.test/"));
    const Bytes n1 = ExpectedImage(L"http://n1.test/", 64, 32);
    ExpectFolder(shots, {{Name(1, n1), n1}});
}

}  // namespace
}  // namespace main_job
