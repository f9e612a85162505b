// The program as a user meets it: started from its folder, its window and controls, the info box,
// the Tab key, closing, and a missing or incomplete engine library. Everything is observed from
// outside, through the driver, against the test engine's call log.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/driver/driver.h"
#include "tests/test_engine/test_engine_control.h"

namespace {

std::wstring OwnFolder() { return test_engine::TestEngine::ProgramFolder(); }

std::wstring FreshLogPath(const wchar_t* name) {
    std::wstring path = OwnFolder() + L"\\" + name + L".log";
    DeleteFileW(path.c_str());
    return path;
}

struct Started {
    std::optional<driver::Program> program;
    HWND window = nullptr;
    std::wstring log;
};

Started StartProgram(const std::wstring& folder, const wchar_t* logName) {
    Started s;
    s.log = FreshLogPath(logName);
    driver::LaunchOptions options;
    options.folder = folder;
    options.environment = {{test_engine::kLogVariable, s.log}};
    s.program = driver::Program::Start(options);
    if (s.program) s.window = s.program->WaitForMainWindow();
    return s;
}

// The control table, written out here on purpose rather than taken from the program.
enum Kind { kPushButton, kCheckBox, kLabel, kGroupBox, kLineEdit, kListEdit, kSunkenEdit };
struct Expected {
    const wchar_t* name;
    Kind kind;
    const wchar_t* text;
    int x, y, w, h;
    bool enabled;
    int check;
};

const Expected kMainChildren[] = {
    {L"按钮_停止任务", kPushButton, L"停止任务", 690, 536, 80, 32, false, 0},
    {L"选择框_截图时间", kCheckBox, L"截图时间", 373, 581, 81, 15, true, BST_UNCHECKED},
    {L"标签4", kLabel, L"任务状态：当前无任务。", 354, 5, 366, 24, true, 0},
    {L"标签3", kLabel, L"文件名保存规则：", 8, 576, 123, 24, true, 0},
    {L"按钮_开始", kPushButton, L"开始任务", 604, 537, 80, 32, true, 0},
    {L"按钮_导入文本", kPushButton, L"导入文本", 519, 539, 80, 30, true, 0},
    {L"按钮_浏览", kPushButton, L"浏览...", 443, 539, 71, 30, true, 0},
    {L"编辑框_保存路径", kLineEdit, nullptr, 80, 539, 360, 29, true, 0},
    {L"标签1", kLabel, L"保存路径：", 8, 544, 80, 24, true, 0},
    {L"分组框1", kGroupBox, L"", 0, -4, 784, 613, true, 0},
    {L"编辑框1", kSunkenEdit, L"", 392, 8, 288, 272, true, 0},
    {L"按钮2", kPushButton, L"截图", 888, 328, 80, 32, true, 0},
    {L"按钮1", kPushButton, L"访问", 888, 272, 80, 32, true, 0},
};
const Expected kGroupChildren[] = {
    {L"选择框_网页标题", kCheckBox, L"网页标题", 291, 585, 81, 15, true, BST_UNCHECKED},
    {L"选择框_md5", kCheckBox, L"MD5 Hash", 204, 585, 86, 15, true, BST_CHECKED},
    {L"选择框_序号", kCheckBox, L"序号", 136, 586, 59, 14, true, BST_CHECKED},
    {L"编辑框_网址列表", kListEdit, L"", 8, 36, 760, 496, true, 0},
    {L"标签2", kLabel, L"网址列表（一行一个网址）：", 8, 8, 256, 24, true, 0},
};

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(towlower(c));
    return s;
}

void ExpectKind(const driver::ControlInfo& c, Kind kind, const wchar_t* name) {
    SCOPED_TRACE(name);
    std::wstring cls = Lower(c.windowClass);
    DWORD buttonType = c.style & BS_TYPEMASK;
    switch (kind) {
        case kPushButton:
            EXPECT_EQ(cls, L"button");
            EXPECT_TRUE(buttonType == BS_PUSHBUTTON || buttonType == BS_DEFPUSHBUTTON);
            break;
        case kCheckBox:
            EXPECT_EQ(cls, L"button");
            EXPECT_TRUE(buttonType == BS_AUTOCHECKBOX || buttonType == BS_CHECKBOX);
            break;
        case kGroupBox:
            EXPECT_EQ(cls, L"button");
            EXPECT_EQ(buttonType, static_cast<DWORD>(BS_GROUPBOX));
            break;
        case kLabel:
            EXPECT_EQ(cls, L"static");
            break;
        case kLineEdit:
            EXPECT_EQ(cls, L"edit");
            EXPECT_FALSE(c.style & ES_MULTILINE);
            // A plain one-pixel border (the edit control takes WS_BORDER over and draws it).
            EXPECT_FALSE(c.exStyle & WS_EX_CLIENTEDGE);
            break;
        case kListEdit:
            EXPECT_EQ(cls, L"edit");
            EXPECT_TRUE(c.style & ES_MULTILINE);
            EXPECT_TRUE(c.style & ES_WANTRETURN);
            EXPECT_TRUE(c.style & ES_AUTOHSCROLL);  // lines do not wrap
            EXPECT_TRUE(c.style & WS_HSCROLL);
            EXPECT_TRUE(c.style & WS_VSCROLL);
            EXPECT_FALSE(c.exStyle & WS_EX_CLIENTEDGE);
            break;
        case kSunkenEdit:
            EXPECT_EQ(cls, L"edit");
            EXPECT_TRUE(c.style & ES_MULTILINE);
            EXPECT_TRUE(c.style & WS_VSCROLL);
            EXPECT_TRUE(c.exStyle & WS_EX_CLIENTEDGE);
            break;
    }
}

void ExpectControls(const std::vector<HWND>& actual, const Expected* expected, size_t count,
                    const std::wstring& saveFolder) {
    ASSERT_EQ(actual.size(), count);
    for (size_t i = 0; i < count; ++i) {
        const Expected& e = expected[i];
        SCOPED_TRACE(e.name);
        driver::ControlInfo c = driver::Inspect(actual[i]);
        ExpectKind(c, e.kind, e.name);
        EXPECT_EQ(c.text, e.text ? std::wstring(e.text) : saveFolder);
        EXPECT_EQ(c.inParent.left, e.x);
        EXPECT_EQ(c.inParent.top, e.y);
        EXPECT_EQ(c.inParent.right - c.inParent.left, e.w);
        EXPECT_EQ(c.inParent.bottom - c.inParent.top, e.h);
        EXPECT_EQ(c.enabled, e.enabled);
        EXPECT_TRUE(c.visible);
        if (e.kind == kCheckBox) {
            EXPECT_EQ(c.check, e.check);
        }
    }
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        started_ = StartProgram(OwnFolder(), L"main_window");
        ASSERT_TRUE(started_.program);
        ASSERT_NE(started_.window, nullptr);
    }
    void TearDown() override {
        if (started_.program && started_.program->Running()) {
            started_.program->Close();
            started_.program->WaitForExit();
        }
    }
    HWND Control(const wchar_t* text) { return driver::FindByText(started_.window, text); }

    Started started_;
};

TEST_F(MainWindowTest, ShowsTheWindowAndEveryControlOfTheTableInItsInitialState) {
    HWND w = started_.window;
    RECT outer = driver::ScreenRect(w);
    EXPECT_EQ(outer.left, 50);
    EXPECT_EQ(outer.top, 50);
    EXPECT_EQ(outer.right - outer.left, 780);
    EXPECT_EQ(outer.bottom - outer.top, 630);

    std::vector<HWND> top = driver::Children(w);
    ExpectControls(top, kMainChildren, std::size(kMainChildren), OwnFolder() + L"\\");
    ASSERT_EQ(top.size(), std::size(kMainChildren));
    ExpectControls(driver::Children(top[9]), kGroupChildren, std::size(kGroupChildren), L"");
    EXPECT_EQ(driver::Descendants(w).size(), 18u);

    // The two test buttons lie beyond the window's designed width, out of a user's reach.
    RECT client;
    GetClientRect(w, &client);
    for (HWND b : {top[11], top[12]}) EXPECT_GE(driver::RectInParent(b).left, client.right);
}

TEST_F(MainWindowTest, TheInfoBoxKeepsTheWindowFromInputUntilItIsClosed) {
    ASSERT_TRUE(driver::Click(Control(L"开始任务")));  // an empty list ends at once with "完成！"
    auto box = started_.program->WaitForMessageBox(L"完成！");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, L"信息：");
    EXPECT_EQ(box->text, L"完成！");
    EXPECT_FALSE(driver::IsEnabled(started_.window));
    ASSERT_TRUE(driver::PressButton(box->window));
    EXPECT_TRUE(driver::WaitUntil([&] { return driver::IsEnabled(started_.window); }));
}

TEST_F(MainWindowTest, OneTabPressedInAnEditBoxTypesOneTab) {
    HWND list = driver::FindByClass(started_.window, L"Edit", 1);
    ASSERT_EQ(driver::RectInParent(list).right - driver::RectInParent(list).left, 760);
    ASSERT_TRUE(driver::PostKey(list, VK_TAB));
    ASSERT_TRUE(driver::PostKey(list, 'A'));
    EXPECT_TRUE(driver::WaitUntil([&] { return driver::Text(list).size() >= 2; }, 5000));
    EXPECT_EQ(driver::Text(list), L"\ta");
}

TEST_F(MainWindowTest, ClosingDestroysTheViewBeforeTheEngineStopsAndExitsWithZero) {
    ASSERT_TRUE(started_.program->Close());
    EXPECT_EQ(started_.program->WaitForExit(), 0);

    std::vector<test_engine::Call> calls =
        test_engine::ParseCalls(test_engine::ReadLogFile(started_.log));
    auto at = [&](const char* entry) {
        return std::find_if(calls.begin(), calls.end(),
                            [&](const test_engine::Call& c) { return c.entry == entry; });
    };
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front().entry, "wkeInit");
    ASSERT_NE(at("wkeCreateWebView"), calls.end());
    auto destroyed = at("wkeDestroyWebView");
    auto shutdown = at("wkeShutdown");
    ASSERT_NE(destroyed, calls.end());
    ASSERT_NE(shutdown, calls.end());
    EXPECT_LT(destroyed, shutdown);
    // The second Destroy at exit makes no engine call: the shutdown is the last call of all.
    EXPECT_EQ(shutdown + 1, calls.end());
    for (const auto& c : calls) EXPECT_EQ(c.thread == 1 || c.entry == "wkeIsDirty", true) << c.text;
}

struct BrokenEngineCase {
    const wchar_t* folder;
    const wchar_t* entry;
};

class BrokenEngineTest : public ::testing::TestWithParam<BrokenEngineCase> {};

TEST_P(BrokenEngineTest, ShowsTheErrorBoxNamingLibraryAndEntryAndExitsWithMinusOne) {
    driver::LaunchOptions options;
    options.folder = OwnFolder() + L"\\" + GetParam().folder;
    auto program = driver::Program::Start(options);
    ASSERT_TRUE(program);
    auto box = program->WaitForMessageBox(L"wke.dll");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, std::wstring(L"无法找到指定DLL库文件“wke.dll”中的输出命令“") +
                             GetParam().entry + L"”");
    ASSERT_TRUE(driver::PressButton(box->window));
    EXPECT_EQ(program->WaitForExit(), -1);
}

INSTANTIATE_TEST_SUITE_P(Engine, BrokenEngineTest,
                         ::testing::Values(BrokenEngineCase{L"no_engine", L"wkeInit"},
                                           BrokenEngineCase{L"incomplete_engine",
                                                            L"wkeCreateWebView"}));

}  // namespace
