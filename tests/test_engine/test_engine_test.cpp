// The test engine against its own rules, loaded the way the program's tests load it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_engine/test_engine_control.h"
#include "tests/test_engine/test_pattern.h"

namespace {

using test_engine::Call;
using test_engine::TestEngine;

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

TestEngine& Engine() {
    static TestEngine engine;
    return engine;
}

class TestEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(e.Complete());
        SetEnvironmentVariableW(test_engine::kScriptVariable, nullptr);
        SetEnvironmentVariableW(test_engine::kLogVariable, nullptr);
        e.Reset();
    }
    // Log lines without the thread tag, notes left out.
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const Call& call : e.Calls()) texts.push_back(call.text);
        return texts;
    }

    TestEngine& e = Engine();
    TestEngine::Entries& w = Engine().wke;
};

TEST_F(TestEngineTest, ExportsEveryEntryUndecoratedAndTheIncompleteVariantLacksOnlyCreate) {
    EXPECT_TRUE(e.Missing().empty());
    HMODULE incomplete = LoadLibraryW((TestEngine::ProgramFolder() + L"\\incomplete\\wke.dll").c_str());
    ASSERT_NE(incomplete, nullptr);
    ASSERT_NE(incomplete, e.Module());
    EXPECT_EQ(TestEngine(incomplete).Missing(), std::vector<std::string>{"wkeCreateWebView"});
    FreeLibrary(incomplete);
}

// Every entry given view 0, or a handle the engine does not know, answers nothing.
TEST_F(TestEngineTest, ViewZeroAndUnknownViewsAnswerNothing) {
    wkeWebView destroyed = w.wkeCreateWebView();
    w.wkeDestroyWebView(destroyed);
    for (wkeWebView v : {static_cast<wkeWebView>(nullptr), destroyed}) {
        SCOPED_TRACE(v ? "destroyed view" : "view 0");
        std::vector<unsigned char> bits(64, 0xAB);
        w.wkeSetTransparent(v, 1);
        w.wkeSetClientHandler(v, nullptr);
        w.wkeResize(v, 4, 4);
        w.wkeSetDirty(v, 1);
        w.wkePaint(v, bits.data(), 0);
        w.wkeFocus(v);
        w.wkeUnfocus(v);
        w.wkeLoadURLW(v, L"http://a/");
        w.wkeLoadHTMLW(v, L"<p>");
        w.wkeLoadFileW(v, L"c:\\a.html");
        w.wkeStopLoading(v);
        w.wkeReload(v);
        w.wkeSelectAll(v);
        w.wkeCopy(v);
        w.wkeCut(v);
        w.wkePaste(v);
        w.wkeDelete(v);
        w.wkeSetCookieEnabled(v, 1);
        w.wkeSetEditable(v, 1);
        w.wkeSetMediaVolume(v, 0.5f);
        w.wkeSetZoomFactor(v, 2.0f);
        EXPECT_EQ(bits, std::vector<unsigned char>(64, 0xAB));
        for (auto query : {w.wkeWidth, w.wkeHeight, w.wkeContentsWidth, w.wkeContentsHeight,
                           w.wkeIsDirty, w.wkeIsLoaded, w.wkeIsLoadFailed, w.wkeIsDocumentReady,
                           w.wkeCanGoBack, w.wkeGoBack, w.wkeCanGoForward, w.wkeGoForward,
                           w.wkeCookieEnabled})
            EXPECT_EQ(query(v), 0);
        EXPECT_EQ(w.wkeIsLoadComplete(v), 1);
        EXPECT_EQ(w.wkeKeyDown(v, 9, 0, 0), 0);
        EXPECT_EQ(w.wkeKeyUp(v, 9, 0, 0), 0);
        EXPECT_EQ(w.wkeKeyPress(v, 9, 0, 0), 0);
        EXPECT_EQ(w.wkeMouseEvent(v, WM_LBUTTONDOWN, 1, 1, 1), 0);
        EXPECT_EQ(w.wkeContextMenuEvent(v, 1, 1, 0), 0);
        EXPECT_EQ(w.wkeMouseWheel(v, 1, 1, 120, 0), 0);
        wkeRect caret = w.wkeGetCaret(v);
        EXPECT_EQ(caret.x | caret.y | caret.w | caret.h, 0);
        EXPECT_EQ(w.wkeTitleW(v), nullptr);
        EXPECT_EQ(w.wkeMediaVolume(v), 0.0f);
        EXPECT_EQ(w.wkeZoomFactor(v), 0.0f);
        EXPECT_EQ(w.wkeRunJSW(v, L"1"), 0);
        EXPECT_EQ(w.wkeRunJS(v, "1"), 0);
        w.wkeDestroyWebView(v);
    }
    EXPECT_EQ(w.wkeToStringW(nullptr), nullptr);
    // The log names the destroyed handle as unknown.
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, "?0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(destroyed)));
    EXPECT_EQ(e.Calls("wkeResize"), (std::vector<std::string>{"wkeResize(0, 4, 4)",
                                                              std::string("wkeResize(") + unknown + ", 4, 4)"}));
}

TEST_F(TestEngineTest, ViewsAreNumberedAndFillTheUpperHalfOfAPointer) {
    wkeWebView first = w.wkeCreateWebView();
    wkeWebView second = w.wkeCreateWebView();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(e.View(1), first);
    EXPECT_EQ(e.View(2), second);
    EXPECT_EQ(e.View(3), nullptr);
    if (sizeof(void*) == 8) {
        EXPECT_GT(reinterpret_cast<uintptr_t>(first), 0xFFFFFFFFu);
    }
    EXPECT_EQ(Texts(), (std::vector<std::string>{"wkeCreateWebView() = #1", "wkeCreateWebView() = #2"}));
}

TEST_F(TestEngineTest, CreateFailsAsScripted) {
    ASSERT_EQ(e.Script("fail-create 2"), 0);
    EXPECT_EQ(w.wkeCreateWebView(), nullptr);
    EXPECT_EQ(w.wkeCreateWebView(), nullptr);
    EXPECT_NE(w.wkeCreateWebView(), nullptr);
    e.test.wkeTestSetCreateFailures(-1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(w.wkeCreateWebView(), nullptr);
    EXPECT_EQ(e.Calls("wkeCreateWebView").front(), "wkeCreateWebView() = 0");
}

TEST_F(TestEngineTest, DirtyFlagFollowsLoadsFramesSizesAndPaints) {
    wkeWebView v = w.wkeCreateWebView();
    std::vector<unsigned char> bits(16 * 16 * 4);
    auto dirty = [&] { return w.wkeIsDirty(v); };
    auto paint = [&] { w.wkePaint(v, bits.data(), 0); };
    EXPECT_EQ(dirty(), 0) << "a new view";
    w.wkeResize(v, 16, 16);
    EXPECT_EQ(dirty(), 1) << "a new size";
    paint();
    EXPECT_EQ(dirty(), 0) << "painted";
    w.wkeResize(v, 16, 16);
    EXPECT_EQ(dirty(), 0) << "the size it already has";
    w.wkeResize(v, 8, 16);
    EXPECT_EQ(dirty(), 1) << "a new width";
    paint();
    w.wkeLoadURLW(v, L"http://a/");
    EXPECT_EQ(dirty(), 1) << "a load";
    paint();
    w.wkeReload(v);
    EXPECT_EQ(dirty(), 1) << "a reload";
    paint();
    e.test.wkeTestNewFrame(v);
    EXPECT_EQ(dirty(), 1) << "a new frame";
    w.wkeSetDirty(v, 0);
    EXPECT_EQ(dirty(), 0) << "set clean";
    w.wkeSetDirty(v, 1);
    EXPECT_EQ(dirty(), 1) << "set dirty";
    e.test.wkeTestSetAlwaysDirty(1);
    paint();
    EXPECT_EQ(dirty(), 1) << "always dirty";
}

TEST_F(TestEngineTest, PaintDrawsThePatternAtTheViewSizeWithinTheRows) {
    struct Case {
        const wchar_t* address;  // null: nothing loaded
        int width, height, pitch, offset;
        int colour;  // < 0: gradient
    } cases[] = {
        {nullptr, 3, 2, 0, 0, -1},
        {L"http://a/", 300, 270, 0, 2, -1},        // past 256 in both directions, unaligned
        {L"http://b/", 5, 3, 5 * 4 + 6, 1, -1},     // a wider pitch leaves the gap alone
        {L"http://c/", 4, 4, 0, 3, 0x336699},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        e.Reset();
        wkeWebView v = w.wkeCreateWebView();
        if (c.address) w.wkeLoadURLW(v, c.address);
        if (c.colour >= 0) e.test.wkeTestSetColour(c.address, c.colour);
        w.wkeResize(v, c.width, c.height);
        int pitch = c.pitch ? c.pitch : c.width * 4;
        std::vector<unsigned char> buffer(static_cast<size_t>(c.offset + pitch * c.height + 8), 0xEE);
        w.wkePaint(v, buffer.data() + c.offset, c.pitch);
        uint8_t tag = test_engine::AddressTag(std::wstring_view(c.address ? c.address : L""));
        for (int y = 0; y < c.height; ++y) {
            const unsigned char* row = buffer.data() + c.offset + y * pitch;
            for (int x = 0; x < c.width; ++x) {
                uint32_t got;
                std::memcpy(&got, row + x * 4, 4);
                uint32_t want = c.colour >= 0 ? test_engine::SolidPixel(static_cast<uint32_t>(c.colour))
                                              : test_engine::GradientPixel(tag, x, y);
                ASSERT_EQ(got, want) << x << ", " << y;
            }
            for (int i = c.width * 4; i < pitch; ++i) ASSERT_EQ(row[i], 0xEE) << "gap of row " << y;
        }
        for (int i = 0; i < c.offset; ++i) EXPECT_EQ(buffer[static_cast<size_t>(i)], 0xEE);
        for (size_t i = static_cast<size_t>(c.offset + pitch * c.height); i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], 0xEE);
    }
}

TEST(TestPattern, GradientEncodesPlaceAndAddress) {
    // Memory order blue, green, red, fourth.
    EXPECT_EQ(test_engine::GradientPixel(0, 0, 0), 0xFF000000u);
    EXPECT_EQ(test_engine::GradientPixel(0, 1023, 2999), 0xFFB3B7FFu);
    EXPECT_EQ(test_engine::GradientPixel(0x0F, 0x12, 0x34), 0xFF0F3412u);
    EXPECT_EQ(test_engine::AddressTag(std::string_view("")), 0xC5);
    EXPECT_EQ(test_engine::AddressTag(std::wstring_view(L"\u4e2d")), test_engine::AddressTag(U8(u8"\u4e2d")));
    EXPECT_EQ(test_engine::OnScreen(test_engine::SolidPixel(0x123456)), 0x123456u);
}

TEST_F(TestEngineTest, PagesHaveTheirOwnSizeTitleAndFailureElseTheDefaults) {
    ASSERT_EQ(e.Script(u8"size 1024 3000\n"
                       u8"page http://a/ b\n"
                       u8"size 10 20\n"
                       u8"title A/B: c? \u4e2d\n"
                       u8"failed\n"
                       u8"page http://empty/\n"
                       u8"title\n"),
              0);
    e.test.wkeTestSetContentsSize(L"http://d/", 7, 8);
    e.test.wkeTestSetTitle(nullptr, L"default");
    e.test.wkeTestSetTitle(L"http://none/", nullptr);
    wkeWebView v = w.wkeCreateWebView();
    struct Case {
        const wchar_t* address;
        int width, height;
        const wchar_t* title;
        int failed;
    } cases[] = {
        {L"http://a/ b", 10, 20, L"A/B: c? \u4e2d", 1},
        {L"http://empty/", 1024, 3000, L"", 0},
        {L"http://d/", 7, 8, L"default", 0},
        {L"http://none/", 1024, 3000, nullptr, 0},
        {L"http://other/", 1024, 3000, L"default", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.address)));
        w.wkeLoadURLW(v, c.address);
        EXPECT_EQ(w.wkeContentsWidth(v), c.width);
        EXPECT_EQ(w.wkeContentsHeight(v), c.height);
        const wchar_t* title = w.wkeTitleW(v);
        if (c.title) {
            ASSERT_NE(title, nullptr);
            EXPECT_STREQ(title, c.title);
        } else {
            EXPECT_EQ(title, nullptr);
        }
        EXPECT_EQ(w.wkeIsLoadFailed(v), c.failed);
    }
    e.Reset();
    v = w.wkeCreateWebView();
    w.wkeLoadURLW(v, L"http://x/");
    EXPECT_EQ(w.wkeContentsWidth(v), 800);
    EXPECT_EQ(w.wkeContentsHeight(v), 600);
    EXPECT_EQ(w.wkeTitleW(v), nullptr);
}

TEST_F(TestEngineTest, LoadCompletesAtTheScriptedPoll) {
    ASSERT_EQ(e.Script("page http://zero/\ncomplete 0\npage http://three/\ncomplete 3\n"
                       "page http://never/\ncomplete never\n"),
              0);
    wkeWebView v = w.wkeCreateWebView();
    struct Case {
        const wchar_t* address;
        bool loadedBeforePolling;
        std::vector<int> polls;
    } cases[] = {
        {L"http://default/", false, {1, 1}},
        {L"http://zero/", true, {1}},
        {L"http://three/", false, {0, 0, 1, 1}},
        {L"http://never/", false, {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.address)));
        w.wkeLoadURLW(v, c.address);
        EXPECT_EQ(w.wkeIsLoaded(v), c.loadedBeforePolling ? 1 : 0);
        EXPECT_EQ(w.wkeIsDocumentReady(v), c.loadedBeforePolling ? 1 : 0);
        std::vector<int> got;
        for (size_t i = 0; i < c.polls.size(); ++i) got.push_back(w.wkeIsLoadComplete(v));
        EXPECT_EQ(got, c.polls);
    }
    // A reload keeps the count; a new load of the same address starts it again.
    w.wkeLoadURLW(v, L"http://three/");
    EXPECT_EQ(w.wkeIsLoadComplete(v), 0);
    EXPECT_EQ(w.wkeIsLoadComplete(v), 0);
    w.wkeReload(v);
    EXPECT_EQ(w.wkeIsLoadComplete(v), 1);
    EXPECT_EQ(e.State(v)->polls, 3);
    w.wkeLoadURLW(v, L"http://three/");
    EXPECT_EQ(w.wkeIsLoadComplete(v), 0);
    e.test.wkeTestSetCompleteAfter(L"http://three/", -1);
    EXPECT_EQ(w.wkeIsLoadComplete(v), 0);
    EXPECT_EQ(w.wkeIsLoadComplete(v), 0);
}

TEST_F(TestEngineTest, TruthResultsCanBeAnyRawInt) {
    ASSERT_EQ(e.Script("truth wkeCookieEnabled 2 0x100\nanswer wkeKeyDown 0\n"), 0);
    wkeWebView v = w.wkeCreateWebView();
    EXPECT_EQ(w.wkeCookieEnabled(v), 2);
    w.wkeSetCookieEnabled(v, 0);
    EXPECT_EQ(w.wkeCookieEnabled(v), 0x100);
    EXPECT_EQ(w.wkeKeyDown(v, 9, 0, 0), 0);
    EXPECT_EQ(w.wkeKeyUp(v, 9, 0, 0), 1);
    EXPECT_EQ(e.test.wkeTestSetTruth("wkeIsLoaded", 0x201, 0x200), 1);
    EXPECT_EQ(w.wkeIsLoaded(v), 0x200);
    w.wkeIsLoadComplete(v);
    EXPECT_EQ(w.wkeIsLoaded(v), 0x201);
    EXPECT_EQ(e.test.wkeTestSetTruth("wkeWidth", 1, 0), 0) << "not a truth entry";
    EXPECT_EQ(e.Script("truth wkeWidth 1 0\nanswer nothing 1\ntruth wkeIsDirty 1"), 3);
}

TEST_F(TestEngineTest, SettersAreAnsweredBackAndTheOverflowScriptIsRecorded) {
    ASSERT_EQ(e.Script("caret 1 2 3 4\njs-result 0x123456789"), 0);
    wkeWebView v = w.wkeCreateWebView();
    EXPECT_EQ(w.wkeZoomFactor(v), 1.0f);
    EXPECT_EQ(w.wkeMediaVolume(v), 1.0f);
    w.wkeSetZoomFactor(v, 1.5f);
    w.wkeSetMediaVolume(v, 0.1f);
    EXPECT_EQ(w.wkeZoomFactor(v), 1.5f);
    EXPECT_EQ(w.wkeMediaVolume(v), 0.1f);
    wkeRect caret = w.wkeGetCaret(v);
    EXPECT_EQ(caret.x + caret.y * 10 + caret.w * 100 + caret.h * 1000, 4321);
    EXPECT_EQ(w.wkeRunJS(v, "document.body.style.overflow='hidden'"), 0x123456789);
    EXPECT_STREQ(e.State(v)->overflow, "hidden");
    w.wkeRunJSW(v, L"document.body.style.overflow='visible'");
    EXPECT_STREQ(e.State(v)->overflow, "visible");
    w.wkeSetTransparent(v, 1);
    w.wkeSetEditable(v, 1);
    w.wkeFocus(v);
    auto state = e.State(v);
    EXPECT_EQ(state->transparent + state->editable + state->focused, 3);
    // History: back and forward move between loads.
    EXPECT_EQ(w.wkeCanGoBack(v), 0);
    w.wkeLoadURLW(v, L"http://1/");
    w.wkeLoadURLW(v, L"http://2/");
    EXPECT_EQ(w.wkeCanGoBack(v), 1);
    EXPECT_EQ(w.wkeGoBack(v), 1);
    EXPECT_STREQ(e.State(v)->address, "http://1/");
    EXPECT_EQ(w.wkeGoBack(v), 0);
    EXPECT_EQ(w.wkeGoForward(v), 1);
    EXPECT_EQ(w.wkeCanGoForward(v), 0);
}

struct Record {
    wkeClientHandler entries;
    int own;
};
struct Received {
    void* record;
    const wchar_t* during;
    std::wstring text;
    wkeString string;
};
std::vector<Received> g_received;

void WKE_CALL OnTitle(void* record, wkeString string) {
    const wchar_t* text = Engine().wke.wkeToStringW(string);
    g_received.push_back({record, text, text ? text : L"(null)", string});
}
void WKE_CALL OnUrl(void* record, wkeString string) { OnTitle(record, string); }

TEST_F(TestEngineTest, NotificationsReachTheInstalledRecord) {
    g_received.clear();
    wkeWebView v = w.wkeCreateWebView();
    EXPECT_EQ(e.test.wkeTestFireTitleChanged(v, L"x"), 0) << "no record installed";
    Record record{{OnTitle, nullptr}, 7};
    w.wkeSetClientHandler(v, &record.entries);
    EXPECT_EQ(e.test.wkeTestFireTitleChanged(v, L"\u4e2d\u6587"), 1);
    EXPECT_EQ(e.test.wkeTestFireUrlChanged(v, L"http://a/"), 0) << "null URL entry";
    record.entries.onURLChanged = OnUrl;  // read when firing, not when installed
    EXPECT_EQ(e.test.wkeTestFireUrlChanged(v, L"http://a/"), 1);
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_EQ(g_received[0].record, &record);
    EXPECT_EQ(g_received[0].text, L"\u4e2d\u6587");
    EXPECT_EQ(g_received[1].text, L"http://a/");
    EXPECT_EQ(w.wkeToStringW(g_received[0].string), nullptr) << "only valid during the call";
    EXPECT_EQ(e.State(v)->clientHandler, &record);

    // notify: the URL at the load, the title once, at the poll that first answers complete.
    g_received.clear();
    ASSERT_EQ(e.Script(u8"notify\npage http://t/\ntitle T\ncomplete 2"), 0);
    w.wkeLoadURLW(v, L"http://t/");
    w.wkeIsLoadComplete(v);
    w.wkeIsLoadComplete(v);
    w.wkeIsLoadComplete(v);
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_EQ(g_received[0].text, L"http://t/");
    EXPECT_EQ(g_received[1].text, L"T");
    std::vector<std::string> fired;
    for (const Call& call : e.Calls())
        if (call.entry.rfind("on", 0) == 0 || call.entry == "wkeIsLoadComplete") fired.push_back(call.text);
    EXPECT_EQ(fired, (std::vector<std::string>{
                         "onTitleChanged(#1, \"x\") = 0",
                         U8(u8"onTitleChanged(#1, \"\u4e2d\u6587\") = 1"),
                         "onURLChanged(#1, \"http://a/\") = 0",
                         "onURLChanged(#1, \"http://a/\") = 1",
                         "onURLChanged(#1, \"http://t/\") = 1",
                         "wkeIsLoadComplete(#1) = 0",
                         "wkeIsLoadComplete(#1) = 1",
                         "onTitleChanged(#1, \"T\") = 1",
                         "wkeIsLoadComplete(#1) = 1",
                     }));
}

TEST_F(TestEngineTest, LogWritesEachCallWithItsArgumentsAndResult) {
    wkeWebView v = w.wkeCreateWebView();
    w.wkeLoadURLW(v, L"http://a/\"q\"\\\t\u4e2d");
    w.wkeSetZoomFactor(v, 1.5f);
    w.wkeSetMediaVolume(v, 0.1f);
    w.wkeIsDirty(v);
    w.wkeIsDirty(v);
    w.wkeKeyDown(v, 9, WKE_REPEAT | WKE_EXTENDED, 0);
    w.wkeMouseEvent(v, WM_LBUTTONDOWN, -1, 20, WKE_LBUTTON | WKE_CONTROL);
    w.wkeRunJS(v, "document.body.style.overflow='hidden'");
    w.wkeGetCaret(v);
    w.wkeTitleW(v);
    w.wkeSetDirty(v, 1);
    w.wkeZoomFactor(v);
    w.wkeSetClientHandler(v, nullptr);
    w.wkeLoadHTMLW(v, nullptr);
    std::vector<std::string> want = {
        "T1 wkeCreateWebView() = #1",
        U8(u8"T1 wkeLoadURLW(#1, \"http://a/\\\"q\\\"\\\\\\t\u4e2d\")"),
        "T1 wkeSetZoomFactor(#1, 1.5)",
        "T1 wkeSetMediaVolume(#1, 0.100000001)",
        "# wkeIsDirty x2",
        "T1 wkeKeyDown(#1, 9, 16640, 0) = 1",
        "T1 wkeMouseEvent(#1, 513, -1, 20, 9) = 1",
        "T1 wkeRunJS(#1, \"document.body.style.overflow='hidden'\") = 0",
        "T1 wkeGetCaret(#1) = {0, 0, 0, 0}",
        "T1 wkeTitleW(#1) = null",
        "T1 wkeSetDirty(#1, 1)",
        "T1 wkeZoomFactor(#1) = 1.5",
        "T1 wkeSetClientHandler(#1, null)",
        "T1 wkeLoadHTMLW(#1, null)",
    };
    EXPECT_EQ(e.Log(), want);
    EXPECT_EQ(e.Count("wkeIsDirty"), 2);
    EXPECT_EQ(e.Count(), 15);

    auto call = test_engine::ParseCall(want[1]);
    ASSERT_TRUE(call);
    EXPECT_EQ(call->thread, 1);
    EXPECT_EQ(call->entry, "wkeLoadURLW");
    ASSERT_EQ(call->args.size(), 2u);
    EXPECT_EQ(call->args[0], "#1");
    EXPECT_EQ(test_engine::Unquote(call->args[1]), U8(u8"http://a/\"q\"\\\t\u4e2d"));
    EXPECT_EQ(test_engine::ParseCall(want[5])->result, "1");
    EXPECT_FALSE(test_engine::ParseCall(want[4]));

    // With log-dirty every call is written; another thread gets the next tag.
    e.ClearLog();
    e.test.wkeTestSetLogDirty(1);
    std::thread([&] { w.wkeIsDirty(v); }).join();
    w.wkeIsDirty(v);
    EXPECT_EQ(e.Log(), (std::vector<std::string>{"T2 wkeIsDirty(#1) = 1", "T1 wkeIsDirty(#1) = 1"}));
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name + std::to_wstring(GetCurrentProcessId());
}

TEST_F(TestEngineTest, ScriptFileIsReadAtInitAndTheLogFileGrowsLineByLine) {
    std::wstring script = TempPath(L"engine_script");
    std::wstring log = TempPath(L"engine_log");
    DeleteFileW(log.c_str());
    {
        std::ofstream out(script.c_str(), std::ios::binary);
        out << "\xEF\xBB\xBF# a comment\r\n"
            << U8(u8"page http://a/\r\nsize 5 6\r\ntitle \u4e2d\r\n\r\nbogus line\r\ncomplete 2");
    }
    e.test.wkeTestSetContentsSize(L"http://a/", 1, 1);  // forgotten by the script's reading
    SetEnvironmentVariableW(test_engine::kScriptVariable, script.c_str());
    SetEnvironmentVariableW(test_engine::kLogVariable, log.c_str());
    w.wkeInit();
    wkeWebView v = w.wkeCreateWebView();
    w.wkeLoadURLW(v, L"http://a/");
    EXPECT_EQ(w.wkeContentsWidth(v), 5);
    EXPECT_STREQ(w.wkeTitleW(v), L"\u4e2d");
    std::vector<std::string> lines = test_engine::ReadLogFile(log);
    EXPECT_EQ(lines, e.Log());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "T1 wkeInit()");
    EXPECT_EQ(lines[1], "# script line 6 not understood: bogus line");
    EXPECT_EQ(lines[5], U8(u8"T1 wkeTitleW(#1) = \"\u4e2d\""));
    w.wkeIsDirty(v);
    w.wkeShutdown();
    lines = test_engine::ReadLogFile(log);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[6], "# wkeIsDirty x1");
    EXPECT_EQ(lines[7], "T1 wkeShutdown()");

    // The file is appended to, never emptied.
    e.Reset();
    SetEnvironmentVariableW(test_engine::kScriptVariable, L"c:\\no\\such\\script");
    w.wkeInit();
    lines = test_engine::ReadLogFile(log);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[8], "T1 wkeInit()");
    EXPECT_EQ(lines[9], "# script file cannot be read: c:\\no\\such\\script");
    e.Reset();
    SetEnvironmentVariableW(test_engine::kLogVariable, nullptr);
    w.wkeInit();  // closes the file
    DeleteFileW(script.c_str());
    EXPECT_TRUE(DeleteFileW(log.c_str()));
}

TEST_F(TestEngineTest, BadScriptsAreReportedNotObeyed) {
    const char* bad[] = {"size 10", "size a b", "complete -1", "complete soon", "colour 12345",
                         "colour GGHHII", "fail-create x", "caret 1 2 3", "js-result", "page",
                         "no-title extra", "size 99999999999999999999 1"};
    for (const char* line : bad) EXPECT_EQ(e.Script(line), 1) << line;
    EXPECT_EQ(e.Script("\n\n   \n# only a comment\n"), 0);
    EXPECT_EQ(e.Script(std::string_view("size 1\0 2", 9)), 1);
    wkeWebView v = w.wkeCreateWebView();
    EXPECT_EQ(w.wkeContentsWidth(v), 800);
}

// The render pump polls wkeIsDirty from its own thread while the UI thread works on the views.
TEST_F(TestEngineTest, ManyThreadsAtOnce) {
    std::atomic<bool> stop{false};
    std::atomic<int> polls{0};
    std::thread pump([&] {
        while (!stop) {
            w.wkeIsDirty(e.View(static_cast<int>(GetTickCount() % 4) + 1));
            ++polls;
        }
    });
    std::vector<unsigned char> bits(64 * 64 * 4);
    for (int i = 0; i < 300; ++i) {
        wkeWebView v = w.wkeCreateWebView();
        w.wkeResize(v, 1 + i % 64, 64);
        w.wkeLoadURLW(v, L"http://a/");
        w.wkePaint(v, bits.data(), 0);
        w.wkeDestroyWebView(v);
    }
    stop = true;
    pump.join();
    EXPECT_EQ(e.Count("wkeIsDirty"), polls.load());
    EXPECT_EQ(e.Count("wkeCreateWebView"), 300);
}

}  // namespace
