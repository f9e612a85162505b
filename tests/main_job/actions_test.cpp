// Import, save folder and the two test actions, through the window and the platform's own dialogs.
#include <gtest/gtest.h>

#include "tests/main_job/gui_session.h"

namespace main_job {
namespace {

template <size_t N>
std::string Raw(const char (&bytes)[N]) {
    return std::string(bytes, N - 1);
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class ActionsTest : public GuiTest {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(Launch(Program(), "page http://shot.test/\nsize 900 1700\n")); }
    virtual const wchar_t* Program() const { return kProgram; }

    // Clicks 导入文本 and returns the open-file dialog with its file name field.
    void OpenImportDialog(HWND& dialog, HWND& name) {
        ASSERT_TRUE(driver::Click(c_.import));
        dialog = WaitForDialog();
        ASSERT_NE(dialog, nullptr);
        name = driver::FindByClass(dialog, L"Edit");
        ASSERT_NE(name, nullptr) << "the first dialog after the click is not the open-file dialog";
        EXPECT_NE(driver::ReadMessageBox(dialog).caption, L"信息：");
    }
    void Import(const std::wstring& path) {
        HWND dialog = nullptr, name = nullptr;
        ASSERT_NO_FATAL_FAILURE(OpenImportDialog(dialog, name));
        ASSERT_TRUE(driver::SetText(name, path));
        ASSERT_TRUE(driver::PressButton(dialog, IDOK));
    }
    std::wstring ListFile(const std::wstring& name, const std::string& bytes) {
        std::wstring path = scratch_ + L"\\" + name;
        EXPECT_TRUE(WriteBytes(path, AsBytes(bytes)));
        return path;
    }

    // The input box of 访问: its field, and the box itself.
    void OpenVisitBox(HWND& box, HWND& field) {
        ASSERT_TRUE(driver::Click(c_.visit)) << "按钮1 cannot be clicked";
        box = WaitForDialog();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(driver::Text(box), L"访问");
        field = driver::FindByClass(box, L"Edit");
        ASSERT_NE(field, nullptr);
    }
    std::vector<std::string> Loads() const {
        std::vector<std::string> loads;
        for (const PageVisit& v : Visits()) loads.push_back(v.address);
        return loads;
    }
    void WaitForLoads(size_t count) {
        ASSERT_TRUE(driver::WaitUntil([&] { return Loads().size() >= count; }));
    }
};

TEST_F(ActionsTest, ImportTakesTheFileBytesUpToTheFirst00Or1AUnconverted) {
    struct Case {
        const char* name;
        std::string file;
        std::string list;
    } cases[] = {
        {"a CR LF b", "a\r\nb", "a\r\nb"},
        {"cut at the first 00", Raw("abc\0more\x1A" "end"), "abc"},
        {"cut at the first 1A", Raw("abc\x1Amore\0end"), "abc"},
        {"GBK bytes as they are", "\xD6\xD0\r\nhttp://\xB9\xFA/", "\xD6\xD0\r\nhttp://\xB9\xFA/"},
        {"UTF-16 file cut at its first zero byte", Raw("a\0b\0\r\0\n\0"), "a"},
        {"empty file", "", ""},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(SetList(L"the earlier list"));
        ASSERT_NO_FATAL_FAILURE(Import(ListFile(L"list" + std::to_wstring(++number) + L".txt", c.file)));
        std::optional<driver::MessageBoxInfo> box = WaitForBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text, L"文件导入完成！");
        EXPECT_EQ(box->caption, L"信息：");
        EXPECT_EQ(ListGbk(), c.list);
        ASSERT_NO_FATAL_FAILURE(Dismiss(*box));
    }
}

TEST_F(ActionsTest, CancellingAfterAnImportKeepsTheListAndOffersTheEarlierName) {
    ASSERT_NO_FATAL_FAILURE(Import(ListFile(L"earlier.txt", "a\r\nb")));
    std::optional<driver::MessageBoxInfo> box = WaitForBox(L"文件导入完成！");
    ASSERT_TRUE(box);
    ASSERT_NO_FATAL_FAILURE(Dismiss(*box));

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        // A message after the cancel would be the first dialog here, not the open-file dialog.
        HWND dialog = nullptr, name = nullptr;
        ASSERT_NO_FATAL_FAILURE(OpenImportDialog(dialog, name));
        EXPECT_TRUE(EndsWith(driver::Text(name), L"earlier.txt")) << driver::ToUtf8(driver::Text(name));
        ASSERT_TRUE(driver::PressButton(dialog, IDCANCEL));
        EXPECT_EQ(ListGbk(), "a\r\nb");
    }
}

class ImportFailureTest : public ActionsTest {
public:
    void ExpectUnreadable(const std::wstring& path, const wchar_t* name) {
        ASSERT_NO_FATAL_FAILURE(SetList(L"the earlier list"));
        ASSERT_NO_FATAL_FAILURE(Import(path));
        std::optional<driver::MessageBoxInfo> box = WaitForBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->caption, L"信息：");
        EXPECT_NE(box->text.find(name), std::wstring::npos) << driver::ToUtf8(box->text);
        EXPECT_EQ(box->text.find(L"文件导入完成！"), std::wstring::npos);
        EXPECT_EQ(ListGbk(), "the earlier list");
        ASSERT_NO_FATAL_FAILURE(Dismiss(*box));

        HWND dialog = nullptr, field = nullptr;
        ASSERT_NO_FATAL_FAILURE(OpenImportDialog(dialog, field));
        ASSERT_TRUE(driver::PressButton(dialog, IDCANCEL));
        EXPECT_EQ(ListGbk(), "the earlier list");
        EXPECT_TRUE(program_->Running());
    }
};

TEST_F(ImportFailureTest, AFileThatCannotBeOpenedGivesAClearMessageAndLeavesTheList) {
    const std::wstring path = ListFile(L"locked.txt", "x\r\ny");
    ScopedHandle lock(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    ASSERT_TRUE(lock);
    ExpectUnreadable(path, L"locked.txt");
}

// The build short of memory takes 1 MiB for a list: a 2 MiB file without any 00 or 1A does not fit.
class ShortMemoryImportTest : public ImportFailureTest {
protected:
    const wchar_t* Program() const override { return kLowMemoryProgram; }
};

TEST_F(ShortMemoryImportTest, AFileTooLargeForMemoryGivesTheSameMessageAndLeavesTheList) {
    std::string big;
    while (big.size() < (2u << 20)) big += "http://a.test/\r\n";
    ExpectUnreadable(ListFile(L"huge.txt", big), L"huge.txt");
    // A list that fits still imports in the same build.
    ASSERT_NO_FATAL_FAILURE(Import(ListFile(L"small.txt", "a\r\nb")));
    std::optional<driver::MessageBoxInfo> box = WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, L"文件导入完成！");
    ASSERT_NO_FATAL_FAILURE(Dismiss(*box));
    EXPECT_EQ(ListGbk(), "a\r\nb");
}

// The folder browser, driven through its tree: under Wine it shows no edit field, whatever the
// flags ask for, and no network shares, so a share's root cannot be chosen here.
TEST_F(ActionsTest, FolderBrowserSetsTheChosenFolderWithOneFinalBackslash) {
    if (GetFileAttributesW(L"D:\\") == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no drive D: outside the rig";
    CreateDirectoryW(L"D:\\Shots", nullptr);
    struct Case {
        const char* name;
        std::vector<std::wstring> treePath;  // empty: cancel
        std::wstring expected;
    } cases[] = {
        {"a folder", {L"My Computer", L"(D:)", L"Shots"}, L"D:\\Shots\\"},
        {"a drive's root", {L"My Computer", L"(C:)"}, L"C:\\"},
        {"cancel", {}, L"Q:\\unchanged\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(SetSaveFolder(L"Q:\\unchanged\\"));
        ASSERT_TRUE(driver::Click(c_.browse));
        HWND dialog = WaitForDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_NE(driver::ReadMessageBox(dialog).text.find(L"请选择保存路径："), std::wstring::npos);
        EXPECT_FALSE(driver::IsEnabled(c_.window)) << "the folder browser is not modal";
        if (c.treePath.empty()) {
            ASSERT_TRUE(driver::PressButton(dialog, IDCANCEL));
        } else {
            RemoteTree tree(program_->Id(), driver::FindByClass(dialog, L"SysTreeView32"));
            ASSERT_TRUE(tree.Usable());
            HTREEITEM item = tree.Find(c.treePath);
            ASSERT_NE(item, nullptr) << "the folder is not in the browser's tree";
            ASSERT_TRUE(tree.Select(item));
            ASSERT_TRUE(driver::PressButton(dialog, IDOK));
        }
        ASSERT_TRUE(driver::WaitUntil([&] { return driver::IsEnabled(c_.window); }));
        EXPECT_EQ(SaveFolderText(), c.expected);
    }
}

TEST_F(ActionsTest, VisitLoadsTheConfirmedFieldEvenWhenEmptied) {
    HWND box = nullptr, field = nullptr;
    ASSERT_NO_FATAL_FAILURE(OpenVisitBox(box, field));
    const std::string preset = driver::ToUtf8(driver::Text(field));
    EXPECT_EQ(preset.rfind("http", 0), 0u) << preset;
    ASSERT_TRUE(driver::PressButton(box, IDOK));
    ASSERT_NO_FATAL_FAILURE(WaitForLoads(1));

    ASSERT_NO_FATAL_FAILURE(OpenVisitBox(box, field));
    ASSERT_TRUE(driver::SetText(field, L""));
    ASSERT_TRUE(driver::PressButton(box, IDOK));
    ASSERT_NO_FATAL_FAILURE(WaitForLoads(2));

    ASSERT_NO_FATAL_FAILURE(OpenVisitBox(box, field));
    ASSERT_TRUE(driver::SetText(field, L"http://after-cancel.test/"));
    ASSERT_TRUE(driver::PressButton(box, IDCANCEL));

    ASSERT_NO_FATAL_FAILURE(OpenVisitBox(box, field));
    ASSERT_TRUE(driver::SetText(field, L" http://\x4E2D.test/ "));
    ASSERT_TRUE(driver::PressButton(box, IDOK));
    ASSERT_NO_FATAL_FAILURE(WaitForLoads(3));
    EXPECT_EQ(Loads(), (std::vector<std::string>{preset, "", " http://\xE4\xB8\xAD.test/ "}));
}

TEST_F(ActionsTest, SnapshotTestWritesTheWholePageToDrivesDRoot) {
    const std::wstring file = L"D:\\截图.jpg";
    if (GetFileAttributesW(L"D:\\") == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no drive D: outside the rig";
    const Bytes expected = ExpectedImage(L"http://shot.test/", 900, 1700);
    // A longer file is there already: it must be emptied, not overwritten in part.
    ASSERT_TRUE(WriteBytes(file, Bytes(expected.size() + 4096, 0x5A)));

    HWND box = nullptr, field = nullptr;
    ASSERT_NO_FATAL_FAILURE(OpenVisitBox(box, field));
    ASSERT_TRUE(driver::SetText(field, L"http://shot.test/"));
    ASSERT_TRUE(driver::PressButton(box, IDOK));
    ASSERT_NO_FATAL_FAILURE(WaitForLoads(1));

    ASSERT_TRUE(driver::Click(c_.snapshot)) << "按钮2 cannot be clicked";
    // Watched by its size alone: an open handle of ours would make the program's write fail.
    auto size = [&]() -> ULONGLONG {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return 0;
        return static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    };
    ASSERT_TRUE(driver::WaitUntil([&] { return size() == expected.size(); }))
        << "D:\\ holds " << size() << " bytes, expected " << expected.size();
    std::optional<Bytes> written = ReadBytes(file);
    ASSERT_TRUE(written);
    EXPECT_TRUE(*written == expected) << "d:\\截图.jpg does not hold the page's image";
    DeleteFileW(file.c_str());
}

}  // namespace
}  // namespace main_job
