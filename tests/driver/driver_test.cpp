// The driver against a stand-in window program (standin.cpp) started beside this test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/driver/driver.h"
#include "tests/driver/test_files.h"

namespace {

using driver::Program;
using driver::TestFolder;

std::wstring ScratchFolder() {
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    std::wstring folder(temp, n);
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

class DriverTest : public ::testing::Test {
protected:
    void Launch(std::wstring arguments = L"", driver::LaunchOptions options = {}) {
        options.folder = TestFolder();
        options.program = L"driver_standin.exe";
        options.arguments = arguments;
        DWORD error = 0;
        program = Program::Start(options, &error);
        ASSERT_TRUE(program) << "CreateProcessW failed: " << error;
        window = program->WaitForMainWindow();
        ASSERT_NE(window, nullptr);
    }
    HWND Control(const wchar_t* text) {
        HWND control = driver::FindByText(window, text);
        EXPECT_NE(control, nullptr) << testing::PrintToString(std::wstring(text));
        return control;
    }

    std::optional<Program> program;
    HWND window = nullptr;
};

TEST_F(DriverTest, StartsWithItsEnvironmentAndFolderAndFindsThatProcessWindow) {
    driver::LaunchOptions options;
    options.environment = {{L"QUORLANE_STANDIN_TEXT", L"\u4e2d\u6587 value"}, {L"PATH", L"c:\\windows"}};
    options.workingDirectory = ScratchFolder();
    Launch(L"", options);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    EXPECT_EQ(owner, program->Id());
    EXPECT_EQ(driver::Text(window), driver::kMainCaption);
    EXPECT_EQ(driver::FindMainWindow(0), window);
    EXPECT_EQ(driver::FindMainWindow(GetCurrentProcessId()), nullptr);
    EXPECT_NE(driver::FindByText(window, L"\u4e2d\u6587 value"), nullptr);
    EXPECT_NE(driver::FindByText(window, options.workingDirectory), nullptr);
    RECT r = driver::ScreenRect(window);
    EXPECT_EQ(r.left, 50);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 400);
    EXPECT_EQ(r.bottom - r.top, 320);
    EXPECT_TRUE(program->Running());
}

TEST_F(DriverTest, ListsControlsInStackingOrderWithPlacesKindsAndStates) {
    Launch();
    struct Row {
        const wchar_t* windowClass;
        const wchar_t* text;
        int x, y, w, h;
        bool enabled;
        DWORD kind;  // BS_TYPEMASK part of a button's style
    } rows[] = {
        {L"Button", L"\u5206\u7ec4", 0, 0, 380, 150, true, BS_GROUPBOX},
        {L"Edit", L"", 8, 20, 200, 80, true, 0},
        {L"Button", L"\u9009\u9879", 220, 20, 80, 16, true, BS_AUTOCHECKBOX},
        {L"Button", L"\u5f00\u59cb", 10, 160, 80, 28, true, BS_PUSHBUTTON},
        {L"Button", L"\u505c\u6b62", 100, 160, 80, 28, false, BS_PUSHBUTTON},
        {L"Button", L"\u6d88\u606f", 190, 160, 80, 28, true, BS_PUSHBUTTON},
        {L"Static", L"\u7a7a\u95f2", 280, 165, 90, 20, true, 0},
    };
    std::vector<HWND> all = driver::Descendants(window);
    ASSERT_EQ(all.size(), 9u);
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(i);
        driver::ControlInfo info = driver::Inspect(all[i]);
        EXPECT_EQ(_wcsicmp(info.windowClass.c_str(), row.windowClass), 0) << testing::PrintToString(info.windowClass);
        EXPECT_EQ(info.text, row.text);
        EXPECT_EQ(info.inParent.left, row.x);
        EXPECT_EQ(info.inParent.top, row.y);
        EXPECT_EQ(info.inParent.right - info.inParent.left, row.w);
        EXPECT_EQ(info.inParent.bottom - info.inParent.top, row.h);
        EXPECT_EQ(info.enabled, row.enabled);
        EXPECT_TRUE(info.visible);
        if (row.kind) {
            EXPECT_EQ(info.style & BS_TYPEMASK, row.kind);
        }
        EXPECT_EQ(info.check, BST_UNCHECKED);
    }
    // The group box holds the edit box and the check box.
    EXPECT_EQ(driver::Children(all[0]), (std::vector<HWND>{all[1], all[2]}));
    EXPECT_EQ(driver::Inspect(all[1]).parent, all[0]);
    EXPECT_EQ(driver::Children(window).size(), 7u);
    RECT edit = driver::ScreenRect(all[1]);
    RECT group = driver::ScreenRect(all[0]);
    EXPECT_EQ(edit.left - group.left, 8);
}

TEST_F(DriverTest, FindsControlsByTextClassAndIndex) {
    Launch();
    std::vector<HWND> all = driver::Descendants(window);
    struct Case {
        const wchar_t* query;
        HWND want;
    } cases[] = {
        {L"#0", all[0]},       {L"#8", all[8]},          {L"#9", nullptr},
        {L"Edit#0", all[1]},   {L"button#1", all[2]},    {L"Button#2", all[3]},
        {L"Edit#1", nullptr},  {L"\u5f00\u59cb", all[3]}, {L"nothing", nullptr},
        {L"#x", nullptr},
    };
    for (const Case& c : cases) EXPECT_EQ(driver::FindControl(window, c.query), c.want) << testing::PrintToString(std::wstring(c.query));
    EXPECT_EQ(driver::FindByClass(window, L"Static", 0), all[6]);
    EXPECT_EQ(driver::FindByText(window, L"\u5f00\u59cb", L"Static"), nullptr);
}

TEST(DriverTexts, ConvertBetweenUtf16GbkAndUtf8) {
    EXPECT_EQ(driver::ToGbk(L"\u4e2d"), "\xD6\xD0");
    EXPECT_EQ(driver::FromGbk("\xD6\xD0" "ab"), L"\u4e2d" L"ab");
    EXPECT_EQ(driver::ToGbk(L""), "");
    EXPECT_EQ(driver::ToUtf8(L"\u4e2d"), "\xE4\xB8\xAD");
    EXPECT_EQ(driver::FromUtf8("\xE4\xB8\xAD"), L"\u4e2d");
}

TEST_F(DriverTest, SetsAndReadsTextsAndTypesKeys) {
    Launch();
    HWND edit = driver::FindByClass(window, L"Edit");
    ASSERT_TRUE(driver::SetText(edit, L"\u4e2d\u6587\r\nb"));
    EXPECT_EQ(driver::Text(edit), L"\u4e2d\u6587\r\nb");
    ASSERT_TRUE(driver::SetText(edit, L""));
    ASSERT_TRUE(driver::PostKey(edit, VK_TAB));
    ASSERT_TRUE(driver::PostKey(edit, 'A'));
    EXPECT_TRUE(driver::WaitUntil([&] { return driver::Text(edit) == L"\ta"; }))
        << testing::PrintToString(driver::Text(edit));
}

TEST_F(DriverTest, TicksAndUnticksACheckBoxInsideTheGroupBox) {
    Launch();
    HWND check = Control(L"\u9009\u9879");
    EXPECT_TRUE(driver::SetChecked(check, true));
    EXPECT_EQ(driver::CheckState(check), BST_CHECKED);
    EXPECT_TRUE(driver::SetChecked(check, true));
    EXPECT_EQ(driver::CheckState(check), BST_CHECKED);
    EXPECT_TRUE(driver::SetChecked(check, false));
    EXPECT_EQ(driver::CheckState(check), BST_UNCHECKED);
}

TEST_F(DriverTest, ClickReturnsWhileTheHandlerRunsAndTheBoxIsReadAndAnswered) {
    Launch();
    HWND start = Control(L"\u5f00\u59cb");
    HWND stop = Control(L"\u505c\u6b62");
    HWND status = Control(L"\u7a7a\u95f2");
    EXPECT_FALSE(driver::Click(stop)) << "disabled";
    ASSERT_TRUE(driver::Click(start));
    ASSERT_TRUE(driver::WaitUntil([&] { return driver::Text(status) == L"\u8fd0\u884c\u4e2d"; }));
    EXPECT_FALSE(driver::IsEnabled(start));
    EXPECT_TRUE(driver::IsEnabled(stop));
    EXPECT_TRUE(program->WaitForMessageBox(L"", 300) == std::nullopt);
    ASSERT_TRUE(driver::Click(stop));

    auto box = program->WaitForMessageBox(L"\u5b8c\u6210");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, L"\u4fe1\u606f\uff1a");
    EXPECT_EQ(box->text, L"\u5b8c\u6210\uff01");
    EXPECT_EQ(box->buttons.size(), 1u);
    EXPECT_EQ(driver::Text(status), L"\u5b8c\u6210");
    // The box is modal for the program's thread: its window takes no input meanwhile.
    EXPECT_FALSE(driver::IsEnabled(window));
    EXPECT_FALSE(driver::IsReachable(start));
    EXPECT_FALSE(driver::Click(Control(L"\u6d88\u606f")));
    ASSERT_TRUE(driver::PressButton(box->window));
    EXPECT_TRUE(driver::WaitUntil([&] { return driver::IsEnabled(window); }));
    EXPECT_TRUE(driver::IsReachable(start));
    EXPECT_TRUE(driver::Dialogs(program->Id()).empty());
}

TEST_F(DriverTest, ReadsAMultiLineBoxAndPressesAnyOfItsButtons) {
    Launch();
    ASSERT_TRUE(driver::Click(Control(L"\u6d88\u606f")));
    auto box = program->WaitForMessageBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, L"\u63d0\u793a");
    EXPECT_EQ(box->text, L"\u7b2c\u4e00\u884c\n\u7b2c\u4e8c\u884c");
    EXPECT_EQ(box->buttons.size(), 2u);
    EXPECT_FALSE(program->WaitForMessageBox(L"absent", 200));
    ASSERT_TRUE(driver::PressButton(box->window, IDCANCEL));
}

TEST_F(DriverTest, CapturesWhatTheScreenShows) {
    Launch();
    const uint32_t background = 0x336699;
    // Below and right of every control: the window's own background.
    ASSERT_TRUE(driver::WaitUntil([&] {
        auto image = driver::Capture(window, true);
        return image && image->At(385, 250) == background;
    }));
    auto client = driver::Capture(window, true);
    RECT area{};
    GetClientRect(window, &area);
    EXPECT_EQ(client->width, area.right);
    EXPECT_EQ(client->height, area.bottom);
    POINT p = driver::ClientToScreenPoint(window, 385, 250);
    EXPECT_EQ(driver::ScreenPixel(p.x, p.y), background);

    std::wstring path = ScratchFolder() + L"\\driver_shot.bmp";
    auto whole = driver::Capture(window);
    ASSERT_TRUE(whole && whole->SaveBmp(path));
    EXPECT_EQ(whole->width, 400);
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    unsigned char header[54];
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(file, header, sizeof header, &got, nullptr) && got == 54);
    EXPECT_EQ(header[0], 'B');
    EXPECT_EQ(header[1], 'M');
    EXPECT_EQ(GetFileSize(file, nullptr), 54u + 400u * 320u * 4u);
    file.Reset();
    DeleteFileW(path.c_str());
}

TEST_F(DriverTest, ClosesTheWindowAndReadsTheExitCode) {
    for (int code : {0, 7, -1}) {
        SCOPED_TRACE(code);
        Launch(std::to_wstring(code));
        ASSERT_TRUE(program->Close());
        EXPECT_EQ(program->WaitForExit(), code);
        EXPECT_FALSE(program->Running());
        EXPECT_FALSE(program->Close()) << "no window any more";
    }
}

TEST(DriverProgram, StartFailsForAMissingProgram) {
    driver::LaunchOptions options;
    options.folder = TestFolder();
    options.program = L"no_such_program.exe";
    DWORD error = 0;
    EXPECT_FALSE(Program::Start(options, &error));
    EXPECT_NE(error, 0u);
}

// qldriver.exe, run as a shell script would run it; its output is UTF-8.
struct Output {
    int status = -100;
    std::string out;
};

Output RunQlDriver(const std::wstring& arguments) {
    Output result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
    ScopedHandle reader(readEnd);
    ScopedHandle writer(writeEnd);
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer;
    startup.hStdError = writer;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring path = TestFolder() + L"\\qldriver.exe";
    std::wstring commandLine = L"\"" + path + L"\" " + arguments;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info))
        return result;
    ScopedHandle process(info.hProcess);
    ScopedHandle thread(info.hThread);
    writer.Reset();
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(reader, chunk, sizeof chunk, &got, nullptr) && got > 0) result.out.append(chunk, got);
    WaitForSingleObject(process, driver::kWait);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    result.status = static_cast<int>(code);
    return result;
}

TEST_F(DriverTest, CommandLineFrontEndDrivesTheWindow) {
    Launch(L"3");
    const std::wstring pid = L"--pid " + std::to_wstring(program->Id()) + L" ";
    struct Step {
        std::wstring arguments;
        int status;
        std::string out;  // UTF-8; "*" = not compared
    } steps[] = {
        {L"wait-window", 0, std::to_string(program->Id()) + "\n"},
        {pid + L"read \u5f00\u59cb", 0, "\xE5\xBC\x80\xE5\xA7\x8B\n"},
        {pid + L"set-text Edit#0 \"\u4e2d \u6587\"", 0, ""},
        {pid + L"read Edit#0", 0, "\xE4\xB8\xAD \xE6\x96\x87\n"},
        {pid + L"state \u505c\u6b62", 0, "enabled=0 visible=1 checked=0\n"},
        {pid + L"click \u505c\u6b62", 1, "*"},
        {pid + L"tick \u9009\u9879", 0, ""},
        {pid + L"state #2", 0, "enabled=1 visible=1 checked=1\n"},
        {pid + L"read nothing", 1, "*"},
        {pid + L"click \u5f00\u59cb", 0, ""},
        {pid + L"wait-text #6 \u8fd0\u884c\u4e2d", 0, ""},
        {pid + L"click \u505c\u6b62", 0, ""},
        {pid + L"wait-box \u5b8c\u6210", 0, "\xE4\xBF\xA1\xE6\x81\xAF\xEF\xBC\x9A\n\xE5\xAE\x8C\xE6\x88\x90\xEF\xBC\x81\n"},
        {pid + L"ok-box", 0, ""},
        {pid + L"--timeout 1 wait-box", 1, "*"},
        {L"frobnicate", 2, "*"},
        {pid + L"close", 0, "3\n"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(driver::ToUtf8(step.arguments));
        Output output = RunQlDriver(step.arguments);
        EXPECT_EQ(output.status, step.status) << output.out;
        if (step.out != "*") {
            EXPECT_EQ(output.out, step.out);
        }
    }
    EXPECT_FALSE(program->Running());
}

TEST_F(DriverTest, CommandLineListsControlsAndReadsTheScreen) {
    Launch();
    const std::wstring pid = L"--pid " + std::to_wstring(program->Id()) + L" ";
    Output list = RunQlDriver(pid + L"list");
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("#2 Button 6 220,20 80x16 ev- \xE9\x80\x89\xE9\xA1\xB9\n"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("#4 Button 2 100,160 80x28 -v- "), std::string::npos) << list.out;
    POINT p = driver::ClientToScreenPoint(window, 385, 250);
    ASSERT_TRUE(driver::WaitUntil([&] { return driver::ScreenPixel(p.x, p.y) == 0x336699u; }));
    Output pixel = RunQlDriver(L"pixel " + std::to_wstring(p.x) + L" " + std::to_wstring(p.y));
    EXPECT_EQ(pixel.out, "336699\n");
    std::wstring path = ScratchFolder() + L"\\qldriver_shot.bmp";
    EXPECT_EQ(RunQlDriver(pid + L"shot \"" + path + L"\"").status, 0);
    EXPECT_TRUE(DeleteFileW(path.c_str()));
}

}  // namespace
