// WebViewHost's page operations, conversions and whole-page capture against the test engine
// loaded in this process.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/test_engine/test_engine_control.h"
#include "tests/test_engine/test_pattern.h"
#include "webview/bmp_layout.h"
#include "webview/capture_memory.h"
#include "webview/text_conversion.h"
#include "webview/web_view_host.h"

namespace {

using test_engine::Call;
using test_engine::TestEngine;

ByteBuffer Bytes(std::initializer_list<int> values) {
    ByteBuffer out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

ByteBuffer Utf16Bytes(const std::wstring& text) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(text.c_str());
    return ByteBuffer(first, first + (text.size() + 1) * 2);
}

std::string Hex(const void* p) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return buffer;
}

TestEngine& Engine() {
    static TestEngine* engine = [] {
        wkeInit();  // binds the program's forwarders to the wke.dll beside this test
        return new TestEngine();
    }();
    return *engine;
}

// A host holding an engine view of its own, not bound to any window: no render pump, so every
// call in the log is one the operation under test made.
class PageOperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Engine().Complete());
        Engine().Reset();
        host_.view = wkeCreateWebView();
        ASSERT_NE(host_.view.load(), nullptr);
        wkeResize(host_.view, 800, 600);
        Engine().ClearLog();
    }
    void TearDown() override {
        wkeDestroyWebView(host_.view.exchange(nullptr));
        host_.Finalize();
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const Call& call : Engine().Calls()) texts.push_back(call.text);
        return texts;
    }
    wkeTestViewState State() {
        auto state = Engine().State(host_.view);
        return state ? *state : wkeTestViewState{};
    }

    WebViewHost host_;
};

TEST(TextConversionTest, GbkToUtf16) {
    struct Case {
        const char* name;
        const char* text;
        ByteBuffer expected;
    } cases[] = {
        {"ab", "ab", Bytes({0x61, 0x00, 0x62, 0x00, 0x00, 0x00})},
        {"D6 D0", "\xD6\xD0", Bytes({0x2D, 0x4E, 0x00, 0x00})},
        {"empty", "", Bytes({0x00, 0x00})},
        {"null", nullptr, Bytes({0x00, 0x00})},
        {"mixed", "a\xD6\xD0" "b", Bytes({0x61, 0x00, 0x2D, 0x4E, 0x62, 0x00, 0x00, 0x00})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GbkToUtf16(c.text), c.expected);
    }
    EXPECT_EQ(GbkToUtf16(Text("ab")), Bytes({0x61, 0x00, 0x62, 0x00, 0x00, 0x00}));
}

TEST(TextConversionTest, Utf16ToGbk) {
    EXPECT_EQ(Utf16ToGbk(L"\x4E2D"), "\xD6\xD0");
    EXPECT_EQ(Utf16ToGbk(L"ab"), "ab");
    EXPECT_EQ(Utf16ToGbk(L""), "");
    EXPECT_EQ(Utf16ToGbk(nullptr), "");
    // 誠: its second byte is the backslash, which must not end or split the text.
    EXPECT_EQ(Utf16ToGbk(L"\x8AA0"), "\xD5\x5C");
}

TEST_F(PageOperationsTest, TextsReachTheEngineConvertedAndUtf16BuffersUnchanged) {
    // The log writes every string as UTF-8: 中 is E4 B8 AD.
    const std::string zhong = "\xE4\xB8\xAD";
    struct Case {
        const char* name;
        std::function<void()> call;
        std::string expected;
    } cases[] = {
        {"LoadUrl", [&] { host_.LoadUrl(" http://a/\xD6\xD0 "); },
         "wkeLoadURLW(#1, \" http://a/" + zhong + " \")"},
        {"LoadUrl empty", [&] { host_.LoadUrl(""); }, "wkeLoadURLW(#1, \"\")"},
        {"LoadUrlW", [&] { host_.LoadUrlW(Utf16Bytes(L"http://w/\x4E2D")); },
         "wkeLoadURLW(#1, \"http://w/" + zhong + "\")"},
        {"LoadHtml", [&] { host_.LoadHtml("<p>\xD6\xD0</p>"); },
         "wkeLoadHTMLW(#1, \"<p>" + zhong + "</p>\")"},
        {"LoadHtmlW", [&] { host_.LoadHtmlW(Utf16Bytes(L"<b>")); }, "wkeLoadHTMLW(#1, \"<b>\")"},
        {"LoadFile", [&] { host_.LoadFile("c:\\\xD6\xD0.html"); },
         "wkeLoadFileW(#1, \"c:\\\\" + zhong + ".html\")"},
        {"LoadFileW", [&] { host_.LoadFileW(Utf16Bytes(L"c:\\a.html")); },
         "wkeLoadFileW(#1, \"c:\\\\a.html\")"},
        {"RunJs", [&] { host_.RunJs("x='\xD6\xD0'"); }, "wkeRunJSW(#1, \"x='" + zhong + "'\") = 0"},
        {"RunJsW", [&] { host_.RunJsW(Utf16Bytes(L"1+1")); }, "wkeRunJSW(#1, \"1+1\") = 0"},
        {"StopLoading", [&] { host_.StopLoading(); }, "wkeStopLoading(#1)"},
        {"Reload", [&] { host_.Reload(); }, "wkeReload(#1)"},
        {"SelectAll", [&] { host_.SelectAll(); }, "wkeSelectAll(#1)"},
        {"Copy", [&] { host_.Copy(); }, "wkeCopy(#1)"},
        {"Cut", [&] { host_.Cut(); }, "wkeCut(#1)"},
        {"Paste", [&] { host_.Paste(); }, "wkePaste(#1)"},
        {"Delete", [&] { host_.Delete(); }, "wkeDelete(#1)"},
        {"SetEditable 5", [&] { host_.SetEditable(5); }, "wkeSetEditable(#1, 1)"},
        {"SetEditable -1", [&] { host_.SetEditable(-1); }, "wkeSetEditable(#1, 1)"},
        {"SetEditable 0", [&] { host_.SetEditable(0); }, "wkeSetEditable(#1, 0)"},
        {"SetCookieEnabled 5", [&] { host_.SetCookieEnabled(5); }, "wkeSetCookieEnabled(#1, 1)"},
        {"SetCookieEnabled 256", [&] { host_.SetCookieEnabled(256); }, "wkeSetCookieEnabled(#1, 1)"},
        {"SetCookieEnabled 0", [&] { host_.SetCookieEnabled(0); }, "wkeSetCookieEnabled(#1, 0)"},
        {"SetZoomFactor 1.5", [&] { host_.SetZoomFactor(1.5f); }, "wkeSetZoomFactor(#1, 1.5)"},
        {"SetZoomFactor 0.1", [&] { host_.SetZoomFactor(0.1f); },
         "wkeSetZoomFactor(#1, 0.100000001)"},
        {"SetMediaVolume 0.25", [&] { host_.SetMediaVolume(0.25f); }, "wkeSetMediaVolume(#1, 0.25)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine().ClearLog();
        c.call();
        EXPECT_EQ(Texts(), std::vector<std::string>{c.expected});
    }
}

TEST_F(PageOperationsTest, FloatsComeBackAsTheEngineReportsThem) {
    host_.SetZoomFactor(1.5f);
    EXPECT_EQ(host_.ZoomFactor(), 1.5f);
    host_.SetZoomFactor(0.1f);
    EXPECT_EQ(host_.ZoomFactor(), 0.1f);
    host_.SetMediaVolume(0.3f);
    EXPECT_EQ(host_.MediaVolume(), 0.3f);
    EXPECT_EQ(Engine().Calls("wkeZoomFactor").back(), "wkeZoomFactor(#1) = 0.100000001");
}

TEST_F(PageOperationsTest, TruthValuesAreTheLowByteOfTheEngineAnswer) {
    struct Entry {
        const char* name;
        std::function<int()> call;
    } entries[] = {
        {"wkeIsLoaded", [&] { return host_.IsLoaded(); }},
        {"wkeIsLoadFailed", [&] { return host_.IsLoadFailed(); }},
        {"wkeIsLoadComplete", [&] { return host_.IsLoadComplete(); }},
        {"wkeIsDocumentReady", [&] { return host_.IsDocumentReady(); }},
        {"wkeCanGoBack", [&] { return host_.CanGoBack(); }},
        {"wkeGoBack", [&] { return host_.GoBack(); }},
        {"wkeCanGoForward", [&] { return host_.CanGoForward(); }},
        {"wkeGoForward", [&] { return host_.GoForward(); }},
        {"wkeCookieEnabled", [&] { return host_.CookieEnabled(); }},
    };
    struct Raw {
        const char* value;
        int expected;
    } raws[] = {{"2", 1}, {"1", 1}, {"0x1FF", 1}, {"0x80", 1}, {"0", 0}, {"0x100", 0}, {"0x7F00", 0}};
    for (const Entry& e : entries) {
        for (const Raw& r : raws) {
            SCOPED_TRACE(std::string(e.name) + " answering " + r.value);
            Engine().ClearLog();
            ASSERT_EQ(Engine().Script(std::string("answer ") + e.name + " " + r.value), 0);
            EXPECT_EQ(e.call(), r.expected);
            EXPECT_EQ(Engine().Count(e.name), 1);
        }
    }
}

TEST_F(PageOperationsTest, TitlesAreConvertedOrCopiedWithTheirTerminator) {
    struct Case {
        const char* name;
        const char* script;  // settings of the page http://t/
        Text title;
        ByteBuffer titleW;
    } cases[] = {
        {"no title", "no-title", "", Bytes({0x00, 0x00})},
        {"empty title", "title", "", Bytes({0x00, 0x00})},
        {"ab", "title ab", "ab", Bytes({0x61, 0x00, 0x62, 0x00, 0x00, 0x00})},
        {"中", "title \xE4\xB8\xAD", "\xD6\xD0", Bytes({0x2D, 0x4E, 0x00, 0x00})},
        {"A/B: c?", "title A/B: c?", "A/B: c?",
         Bytes({'A', 0, '/', 0, 'B', 0, ':', 0, ' ', 0, 'c', 0, '?', 0, 0, 0})},
    };
    host_.LoadUrl("http://t/");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Engine().Script(std::string("page http://t/\n") + c.script), 0);
        EXPECT_EQ(host_.GetTitle(), c.title);
        EXPECT_EQ(host_.GetTitleW(), c.titleW);
    }
}

TEST_F(PageOperationsTest, SizesAreTheEngineAnswers) {
    ASSERT_EQ(Engine().Script("page http://s/\nsize 1234 5678"), 0);
    host_.LoadUrl("http://s/");
    EXPECT_EQ(host_.Width(), 800);
    EXPECT_EQ(host_.Height(), 600);
    EXPECT_EQ(host_.ContentsWidth(), 1234);
    EXPECT_EQ(host_.ContentsHeight(), 5678);
}

TEST(PageOperationsWithoutViewTest, AnswersAreHarmless) {
    ASSERT_TRUE(Engine().Complete());
    Engine().Reset();
    WebViewHost host;
    EXPECT_EQ(host.GetTitle(), "");
    EXPECT_EQ(host.GetTitleW(), Bytes({0x00, 0x00}));
    // The 0 handle goes to the engine, and its answer for it (complete) comes back as exactly 1,
    // so a batch without a view moves on instead of waiting for ever.
    Engine().ClearLog();
    EXPECT_EQ(host.IsLoadComplete(), 1);
    EXPECT_EQ(Engine().Calls("wkeIsLoadComplete"), std::vector<std::string>{"wkeIsLoadComplete(0) = 1"});
    host.LoadUrl("http://a/");
    Engine().ClearLog();
    EXPECT_TRUE(host.CapturePage().empty());
    EXPECT_EQ(Engine().Count(), 0);
    host.Finalize();
}

// The whole page, painted once at its contents size into the image behind the two headers.
class CapturePageTest : public PageOperationsTest {
protected:
    ByteBuffer Capture(const char* address, int w, int h) {
        EXPECT_EQ(Engine().Script(std::string("page ") + address + "\nsize " + std::to_string(w) +
                                  " " + std::to_string(h)),
                  0);
        host_.LoadUrl(address);
        Engine().ClearLog();
        return host_.CapturePage();
    }
};

std::uint32_t U32(const ByteBuffer& b, size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
std::uint16_t U16(const ByteBuffer& b, size_t at) {
    std::uint16_t v;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}

TEST_F(CapturePageTest, TallPageGivesTheWholeBmpFile) {
    const char* address = "http://tall/";
    ByteBuffer image = Capture(address, 1024, 3000);
    ASSERT_EQ(image.size(), 12288054u);

    EXPECT_EQ(ByteBuffer(image.begin(), image.begin() + 6), Bytes({0x42, 0x4D, 0x36, 0x80, 0xBB, 0x00}));
    EXPECT_EQ(ByteBuffer(image.begin() + 22, image.begin() + 26), Bytes({0x48, 0xF4, 0xFF, 0xFF}));
    struct Field {
        const char* name;
        size_t offset;
        int size;
        std::uint32_t value;
    } fields[] = {
        {"bfSize", 2, 4, 12288054},    {"bfReserved1", 6, 2, 0},
        {"bfReserved2", 8, 2, 0},      {"bfOffBits", 10, 4, 54},
        {"biSize", 14, 4, 40},         {"biWidth", 18, 4, 1024},
        {"biHeight", 22, 4, static_cast<std::uint32_t>(-3000)},
        {"biPlanes", 26, 2, 1},        {"biBitCount", 28, 2, 32},
        {"biCompression", 30, 4, 0},   {"biSizeImage", 34, 4, 12288000},
        {"biXPelsPerMeter", 38, 4, 3780}, {"biYPelsPerMeter", 42, 4, 3780},
        {"biClrUsed", 46, 4, 0},       {"biClrImportant", 50, 4, 0},
    };
    for (const Field& f : fields) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(f.size == 2 ? U16(image, f.offset) : U32(image, f.offset), f.value);
    }

    const std::uint8_t tag = test_engine::AddressTag(std::wstring_view(L"http://tall/"));
    EXPECT_EQ(U32(image, 54), test_engine::GradientPixel(tag, 0, 0));
    EXPECT_EQ(U32(image, image.size() - 4), test_engine::GradientPixel(tag, 1023, 2999));
    // Every pixel, so that a bottom-up or padded copy shows.
    size_t wrong = 0, firstWrong = 0;
    for (int y = 0; y < 3000; ++y)
        for (int x = 0; x < 1024; ++x) {
            size_t at = 54 + (static_cast<size_t>(y) * 1024 + x) * 4;
            if (U32(image, at) != test_engine::GradientPixel(tag, x, y) && wrong++ == 0) firstWrong = at;
        }
    EXPECT_EQ(wrong, 0u) << "first wrong pixel at byte " << firstWrong;
}

TEST_F(CapturePageTest, CallsTheEngineInOrderAndPaintsStraightIntoTheResult) {
    ByteBuffer image = Capture("http://order/", 1024, 3000);
    ASSERT_EQ(image.size(), 12288054u);
    std::vector<Call> calls = Engine().Calls();
    std::vector<std::string> texts;
    for (const Call& c : calls) texts.push_back(c.entry == "wkePaint" ? "wkePaint" : c.text);
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "wkeRunJS(#1, \"document.body.style.overflow='hidden'\") = 0",
                         "wkeContentsWidth(#1) = 1024",
                         "wkeContentsHeight(#1) = 3000",
                         "wkeWidth(#1) = 800",
                         "wkeHeight(#1) = 600",
                         "wkeResize(#1, 1024, 3000)",
                         "wkePaint",
                         "wkeResize(#1, 800, 600)",
                         "wkeRunJS(#1, \"document.body.style.overflow='visible'\") = 0",
                     }));
    for (const Call& c : calls)
        if (c.entry == "wkePaint") {
            ASSERT_EQ(c.args.size(), 3u);
            EXPECT_EQ(c.args[1], Hex(image.data() + 54)) << "the pixels went through a second buffer";
            EXPECT_EQ(c.args[2], "0");
        }
}

TEST_F(CapturePageTest, ViewSizeIsRestoredAndOverflowEndsVisible) {
    for (const char* before : {"hidden", "scroll", "auto"}) {
        SCOPED_TRACE(before);
        host_.RunJs(std::string("document.body.style.overflow='") + before + "'");
        ASSERT_STREQ(State().overflow, before);
        ByteBuffer image = Capture("http://restore/", 1500, 4000);
        EXPECT_EQ(image.size(), 1500u * 4000u * 4u + 54u);
        wkeTestViewState s = State();
        EXPECT_EQ(s.width, 800);
        EXPECT_EQ(s.height, 600);
        EXPECT_EQ(host_.Width(), 800);
        EXPECT_EQ(host_.Height(), 600);
        EXPECT_STREQ(s.overflow, "visible");
    }
}

// Nothing to paint: only the headers, and the view is neither resized nor painted, since an engine
// may not be able to make a view of no size. A failed size query (negative) counts as 0.
TEST_F(CapturePageTest, AnEmptyPixelAreaGivesOnlyTheHeadersWithoutResizeOrPaint) {
    struct Case {
        int w, h;
        int width, height;  // in the headers
    } cases[] = {{0, 600, 0, 600}, {1024, 0, 1024, 0}, {0, 0, 0, 0}, {800, -5, 800, 0}, {-1, -1, 0, 0},
                 {-1, 600, 0, 600}, {600000000, 10, 600000000, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        ByteBuffer image = Capture("http://zero/", c.w, c.h);
        ASSERT_EQ(image.size(), 54u);
        EXPECT_EQ(U16(image, 0), 0x4D42);
        EXPECT_EQ(U32(image, 2), 54u);
        EXPECT_EQ(static_cast<std::int32_t>(U32(image, 18)), c.width);
        EXPECT_EQ(static_cast<std::int32_t>(U32(image, 22)), -c.height);
        EXPECT_EQ(U32(image, 34), 0u);
        EXPECT_EQ(Engine().Count("wkeResize"), 0);
        EXPECT_EQ(Engine().Count("wkePaint"), 0);
        EXPECT_EQ(State().width, 800);
        EXPECT_EQ(State().height, 600);
        EXPECT_STREQ(State().overflow, "visible");
    }
}

// A page the format or the memory cannot hold whole: its top rows at the same width, exact,
// under headers that give that height. Memory is made short here by the capture's own limit.
TEST_F(CapturePageTest, APageTooLargeGivesItsTopRows) {
    struct Case {
        const char* name;
        int w, h;
        std::size_t limit;
        int maxRows, minRows;
    } cases[] = {
        {"800 x 900,000 in 40 MB", 800, 900000, 40'000'054, 12'500, 12'500 * 7 / 8},
        {"30000 x 30000 in 12 MB", 30000, 30000, 12'000'054, 100, 100 * 7 / 8},
        {"46341 x 46341: a 32-bit product would wrap", 46341, 46341, 20'000'054, 107, 107 * 7 / 8},
        {"1024 x 3000 in exactly its size", 1024, 3000, 12'288'054, 3000, 3000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetCaptureMemoryLimit(c.limit);
        ByteBuffer image = Capture("http://huge/", c.w, c.h);
        SetCaptureMemoryLimit(static_cast<std::size_t>(-1));
        ASSERT_GE(image.size(), 54u);
        const std::int32_t rows = -static_cast<std::int32_t>(U32(image, 22));
        EXPECT_LE(rows, c.maxRows);
        EXPECT_GE(rows, c.minRows);
        const std::size_t pixelBytes = static_cast<std::size_t>(rows) * c.w * 4;
        EXPECT_EQ(image.size(), pixelBytes + 54);
        EXPECT_EQ(U32(image, 2), pixelBytes + 54);
        EXPECT_EQ(U32(image, 34), pixelBytes);
        EXPECT_EQ(static_cast<std::int32_t>(U32(image, 18)), c.w);
        EXPECT_EQ(Engine().Calls("wkeResize"),
                  (std::vector<std::string>{"wkeResize(#1, " + std::to_string(c.w) + ", " + std::to_string(rows) + ")",
                                            "wkeResize(#1, 800, 600)"}));
        EXPECT_EQ(Engine().Count("wkePaint"), 1);
        const std::uint8_t tag = test_engine::AddressTag(std::wstring_view(L"http://huge/"));
        size_t wrong = 0;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < c.w; x += 7) {
                size_t at = 54 + (static_cast<size_t>(y) * c.w + x) * 4;
                if (U32(image, at) != test_engine::GradientPixel(tag, x, y)) ++wrong;
            }
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(U32(image, image.size() - 4), test_engine::GradientPixel(tag, c.w - 1, rows - 1));
        EXPECT_EQ(State().width, 800);
        EXPECT_EQ(State().height, 600);
        EXPECT_STREQ(State().overflow, "visible");
    }
}

}  // namespace
