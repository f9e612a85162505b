// The deterministic engine the program's Windows tests run against. Its rules, script language and
// log format are described in test_engine_control.h.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/scoped_win.h"
#include "engine/wke.h"
#include "tests/test_engine/test_engine_control.h"
#include "tests/test_engine/test_pattern.h"

namespace {

// GCC 12 warns falsely (-Wrestrict) about "literal" + std::string&&: append instead.
template <typename... Parts>
std::string Join(const Parts&... parts) {
    std::string out;
    (out.append(parts), ...);
    return out;
}

std::string Utf8(const wchar_t* text) {
    if (!text) return std::string();
    return test_engine::Utf8FromUtf16(reinterpret_cast<const char16_t*>(text));
}

std::wstring Utf16(std::string_view utf8) {
    if (utf8.empty()) return std::wstring();
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(units, 0)), L'\0');
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), units);
    return out;
}

std::wstring EnvironmentVariable(const wchar_t* name) {
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return std::wstring();
    std::wstring value(size, L'\0');
    DWORD got = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(got < size ? got : 0);
    return value;
}

// Decimal (possibly negative) or 0x hex; the whole token must be a number.
std::optional<long long> ParseNumber(std::string_view token) {
    bool negative = !token.empty() && token[0] == '-';
    if (negative) token.remove_prefix(1);
    int base = 10;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        base = 16;
        token.remove_prefix(2);
    }
    if (token.empty() || token.size() > 16) return std::nullopt;
    unsigned long long value = 0;
    for (char c : token) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : 99;
        if (digit >= base) return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
    }
    long long result = static_cast<long long>(value);
    return negative ? -result : result;
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

const std::set<std::string, std::less<>>& TruthEntries() {
    static const std::set<std::string, std::less<>> names = [] {
        std::set<std::string, std::less<>> set;
#define TRUTH_ENTRY(result, name, params, args) \
    if (std::string_view(#result) == "wkeBool") set.insert(#name);
        WKE_FOR_EACH_ENTRY(TRUTH_ENTRY)
#undef TRUTH_ENTRY
        return set;
    }();
    return names;
}

struct PageSettings {
    std::optional<int> width, height;
    std::optional<int> completeAt;  // -1 never
    std::optional<std::optional<std::wstring>> title;
    std::optional<bool> failed;
    std::optional<int> colour;  // -1 gradient
};

struct Settings {
    std::map<std::string, PageSettings, std::less<>> pages;  // "*" = every other page
    int createFailures = 0;                                 // -1 always
    bool alwaysDirty = false;
    bool logDirty = false;
    bool notify = false;
    std::map<std::string, std::pair<int, int>, std::less<>> truth;
    wkeRect caret{0, 0, 0, 0};
    jsValue scriptResult = 0;
};

struct View {
    int id = 0;
    int width = 0, height = 0;
    bool dirty = false;
    std::wstring address;
    int polls = 0;
    int loads = 0;
    bool completionNotified = false;
    const wkeClientHandler* handler = nullptr;
    bool transparent = false, cookieEnabled = true, editable = false, focused = false;
    float volume = 1.0f, zoom = 1.0f;
    std::string overflow;
    std::vector<std::wstring> history;
    size_t historyIndex = 0;
    std::wstring titleCopy;  // what the last wkeTitleW handed out
};

// A notification string: valid while its notification runs.
struct NotifyString {
    std::wstring text;
};

class LogFile {
public:
    void Open(const std::wstring& path) {
        if (path == path_ && file_) return;
        path_ = path;
        file_.Reset(path.empty() ? nullptr
                                 : CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    void Write(const std::string& line) {
        if (!file_) return;
        std::string data = line + "\n";
        DWORD written = 0;
        WriteFile(file_, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    }

private:
    std::wstring path_;
    ScopedHandle file_;
};

struct Engine {
    std::recursive_mutex lock;
    Settings settings;
    std::map<uintptr_t, std::unique_ptr<View>> views;
    std::vector<uintptr_t> created;
    std::vector<std::string> log;
    std::map<std::string, int, std::less<>> counts;
    int totalCalls = 0;
    int unloggedDirty = 0;
    std::map<DWORD, int> threads;
    std::set<const void*> liveStrings;
    LogFile file;
    bool fileChecked = false;
};

// Never destroyed: the render pump may still call in while the process ends.
Engine& TheEngine() {
    static Engine* engine = new Engine;
    return *engine;
}

using Lock = std::lock_guard<std::recursive_mutex>;

#if UINTPTR_MAX > 0xFFFFFFFFu
constexpr uintptr_t kHandleBase = 0x0000515700000000ull;
#else
constexpr uintptr_t kHandleBase = 0x51570000u;
#endif
constexpr uintptr_t kHandleStep = 0x10;

View* Find(wkeWebView view) {
    auto& views = TheEngine().views;
    auto it = views.find(reinterpret_cast<uintptr_t>(view));
    return it == views.end() ? nullptr : it->second.get();
}

int ThreadTag() {
    auto& threads = TheEngine().threads;
    DWORD id = GetCurrentThreadId();
    auto it = threads.find(id);
    if (it != threads.end()) return it->second;
    int tag = static_cast<int>(threads.size()) + 1;
    threads.emplace(id, tag);
    return tag;
}

void OpenLogFileOnce() {
    Engine& e = TheEngine();
    if (e.fileChecked) return;
    e.fileChecked = true;
    e.file.Open(EnvironmentVariable(test_engine::kLogVariable));
}

void WriteLine(const std::string& line) {
    Engine& e = TheEngine();
    OpenLogFileOnce();
    e.log.push_back(line);
    e.file.Write(line);
}

void FlushDirtyNote() {
    Engine& e = TheEngine();
    if (e.unloggedDirty == 0) return;
    int count = e.unloggedDirty;
    e.unloggedDirty = 0;
    WriteLine(Join("# wkeIsDirty x", std::to_string(count)));
}

void Note(const std::string& text) {
    FlushDirtyNote();
    WriteLine(Join("# ", text));
}

// One log line, built argument by argument.
class Line {
public:
    explicit Line(const char* entry) : entry_(entry), text_(entry) { text_ += '('; }

    Line& View(wkeWebView view) {
        uintptr_t raw = reinterpret_cast<uintptr_t>(view);
        if (raw == 0) return Raw("0");
        if (const ::View* v = Find(view)) return Raw(Join("#", std::to_string(v->id)));
        return Raw(Join("?", Hex(raw)));
    }
    Line& Int(long long value) { return Raw(std::to_string(value)); }
    Line& Pointer(const void* p) { return Raw(p ? Hex(reinterpret_cast<uintptr_t>(p)) : "null"); }
    Line& Wide(const wchar_t* text) {
        return Raw(text ? test_engine::Quote(Utf8(text)) : std::string("null"));
    }
    Line& Narrow(const char* text) {
        return Raw(text ? test_engine::Quote(std::string_view(text)) : std::string("null"));
    }
    Line& Float(float value) {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(value));
        return Raw(buffer);
    }
    Line& Raw(const std::string& arg) {
        if (args_++) text_ += ", ";
        text_ += arg;
        return *this;
    }

    // The line is logged when the entry returns; Result* add " = ...".
    void Result(const std::string& result) { result_ = Join(" = ", result); }
    template <typename T>
    T Answer(T value) {
        Result(std::to_string(value));
        return value;
    }
    float AnswerFloat(float value) {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%.9g", static_cast<double>(value));
        Result(buffer);
        return value;
    }
    wkeWebView AnswerView(wkeWebView view) {
        const ::View* v = Find(view);
        Result(v ? Join("#", std::to_string(v->id)) : std::string("0"));
        return view;
    }
    const wchar_t* AnswerText(const wchar_t* text) {
        Result(text ? test_engine::Quote(Utf8(text)) : std::string("null"));
        return text;
    }

    ~Line() {
        Engine& e = TheEngine();
        ++e.counts[entry_];
        ++e.totalCalls;
        int thread = ThreadTag();
        if (std::string_view(entry_) == "wkeIsDirty" && !e.settings.logDirty) {
            ++e.unloggedDirty;
            return;
        }
        FlushDirtyNote();
        WriteLine(Join("T", std::to_string(thread), " ", text_, ")", result_));
    }

    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

private:
    static std::string Hex(uintptr_t value) {
        char buffer[24];
        std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
        return buffer;
    }

    const char* entry_;
    std::string text_;
    std::string result_;
    int args_ = 0;
};

PageSettings& PageFor(const std::string& key) { return TheEngine().settings.pages[key]; }

// One setting of the page at address, falling back to "*", then to the built-in default.
template <typename T>
T Setting(const std::wstring& address, std::optional<T> PageSettings::*field, T fallback) {
    const auto& pages = TheEngine().settings.pages;
    auto own = pages.find(Utf8(address.c_str()));
    if (own != pages.end() && own->second.*field) return *(own->second.*field);
    auto any = pages.find("*");
    if (any != pages.end() && any->second.*field) return *(any->second.*field);
    return fallback;
}

std::optional<std::wstring> TitleOf(const std::wstring& address) {
    return Setting<std::optional<std::wstring>>(address, &PageSettings::title, std::nullopt);
}

bool Complete(const View& v) {
    int at = Setting(v.address, &PageSettings::completeAt, 1);
    return at >= 0 && v.polls >= at;
}

// A truth result as the engine answers it.
int Truth(const char* entry, bool value) {
    const auto& truth = TheEngine().settings.truth;
    auto it = truth.find(std::string_view(entry));
    if (it == truth.end()) return value ? 1 : 0;
    return value ? it->second.first : it->second.second;
}

void StartLoad(View& v, const wchar_t* text) {
    v.address = text ? text : L"";
    v.polls = 0;
    ++v.loads;
    v.dirty = true;
    v.completionNotified = false;
}

bool ApplyLine(std::string_view line, std::string& page) {
    Engine& e = TheEngine();
    Settings& s = e.settings;
    std::vector<std::string_view> w = Words(line);
    std::string_view command = w[0];
    auto rest = [&]() -> std::string {
        size_t start = line.find(command) + command.size();
        if (start < line.size()) ++start;  // the one separating space
        return std::string(line.substr(std::min(start, line.size())));
    };
    auto number = [&](size_t i) { return i < w.size() ? ParseNumber(w[i]) : std::nullopt; };
    auto arity = [&](size_t n) { return w.size() == n + 1; };

    if (command == "page") {
        std::string address = rest();
        if (address.empty()) return false;
        page = address;
        PageFor(page);
        return true;
    }
    if (command == "size" && arity(2) && number(1) && number(2)) {
        PageFor(page).width = static_cast<int>(*number(1));
        PageFor(page).height = static_cast<int>(*number(2));
        return true;
    }
    if (command == "complete" && arity(1)) {
        if (w[1] == "never") PageFor(page).completeAt = -1;
        else if (number(1) && *number(1) >= 0) PageFor(page).completeAt = static_cast<int>(*number(1));
        else return false;
        return true;
    }
    if (command == "title") {
        PageFor(page).title = std::optional<std::wstring>(Utf16(rest()));
        return true;
    }
    if (command == "no-title" && arity(0)) {
        PageFor(page).title = std::optional<std::wstring>();
        return true;
    }
    if (command == "failed" && arity(0)) {
        PageFor(page).failed = true;
        return true;
    }
    if (command == "colour" && arity(1) && w[1].size() == 6) {
        auto rgb = ParseNumber(Join("0x", std::string(w[1])));
        if (!rgb) return false;
        PageFor(page).colour = static_cast<int>(*rgb);
        return true;
    }
    if (command == "gradient" && arity(0)) {
        PageFor(page).colour = -1;
        return true;
    }
    if (command == "fail-create" && (arity(0) || (arity(1) && number(1) && *number(1) >= 0))) {
        s.createFailures = arity(0) ? -1 : static_cast<int>(*number(1));
        return true;
    }
    if (command == "always-dirty" && arity(0)) return s.alwaysDirty = true;
    if (command == "log-dirty" && arity(0)) return s.logDirty = true;
    if (command == "notify" && arity(0)) return s.notify = true;
    if (command == "truth" && arity(3) && TruthEntries().count(w[1]) && number(2) && number(3)) {
        s.truth[std::string(w[1])] = {static_cast<int>(*number(2)), static_cast<int>(*number(3))};
        return true;
    }
    if (command == "answer" && arity(2) && TruthEntries().count(w[1]) && number(2)) {
        int value = static_cast<int>(*number(2));
        s.truth[std::string(w[1])] = {value, value};
        return true;
    }
    if (command == "caret" && arity(4) && number(1) && number(2) && number(3) && number(4)) {
        s.caret = {static_cast<int>(*number(1)), static_cast<int>(*number(2)),
                   static_cast<int>(*number(3)), static_cast<int>(*number(4))};
        return true;
    }
    if (command == "js-result" && arity(1) && number(1)) {
        s.scriptResult = *number(1);
        return true;
    }
    return false;
}

int ApplyScript(std::string_view script) {
    std::string page = "*";
    int bad = 0;
    int number = 0;
    size_t start = 0;
    while (start <= script.size()) {
        size_t end = script.find('\n', start);
        if (end == std::string_view::npos) end = script.size();
        std::string_view line = script.substr(start, end - start);
        start = end + 1;
        ++number;
        if (number == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::vector<std::string_view> words = Words(line);
        if (words.empty() || words[0][0] == '#') continue;
        if (!ApplyLine(line.substr(line.find(words[0])), page)) {
            ++bad;
            Note(Join("script line ", std::to_string(number), " not understood: ", std::string(line)));
        }
    }
    return bad;
}

void ReadScriptFile() {
    std::wstring path = EnvironmentVariable(test_engine::kScriptVariable);
    if (path.empty()) return;
    TheEngine().settings = Settings{};
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        Note(Join("script file cannot be read: ", Utf8(path.c_str())));
        return;
    }
    std::string script;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) script.append(chunk, got);
    ApplyScript(script);
}

// Calls the installed entry outside the lock; answers whether one was called.
int Fire(wkeWebView view, const wchar_t* text, bool title) {
    const char* name = title ? "onTitleChanged" : "onURLChanged";
    wkeNotifyEntry entry = nullptr;
    const wkeClientHandler* handler = nullptr;
    NotifyString string{text ? text : L""};
    {
        Lock lock(TheEngine().lock);
        Line line(name);
        line.View(view).Wide(text);
        View* v = Find(view);
        handler = v ? v->handler : nullptr;
        if (handler) entry = title ? handler->onTitleChanged : handler->onURLChanged;
        line.Answer(entry ? 1 : 0);
        if (entry) TheEngine().liveStrings.insert(&string);
    }
    if (!entry) return 0;
    entry(const_cast<wkeClientHandler*>(handler), reinterpret_cast<wkeString>(&string));
    Lock lock(TheEngine().lock);
    TheEngine().liveStrings.erase(&string);
    return 1;
}

void PaintPattern(const View& v, unsigned char* bits, int pitch) {
    if (v.width <= 0 || v.height <= 0) return;
    int colour = Setting(v.address, &PageSettings::colour, -1);
    uint8_t tag = test_engine::AddressTag(Utf8(v.address.c_str()));
    long long rowPitch = pitch ? pitch : static_cast<long long>(v.width) * 4;
    for (int y = 0; y < v.height; ++y) {
        unsigned char* row = bits + rowPitch * y;
        for (int x = 0; x < v.width; ++x) {
            uint32_t p = colour >= 0 ? test_engine::SolidPixel(static_cast<uint32_t>(colour))
                                     : test_engine::GradientPixel(tag, x, y);
            std::memcpy(row + static_cast<size_t>(x) * 4, &p, 4);
        }
    }
}

}  // namespace

// ---- the engine entries ------------------------------------------------------------------------

WKE_API void WKE_CALL wkeInit(void) {
    Lock lock(TheEngine().lock);
    TheEngine().fileChecked = false;
    { Line line("wkeInit"); }
    ReadScriptFile();
}

WKE_API void WKE_CALL wkeShutdown(void) {
    Lock lock(TheEngine().lock);
    { Line line("wkeShutdown"); }
    FlushDirtyNote();
}

#ifndef TEST_ENGINE_WITHOUT_CREATE
WKE_API wkeWebView WKE_CALL wkeCreateWebView(void) {
    Engine& e = TheEngine();
    Lock lock(e.lock);
    Line line("wkeCreateWebView");
    if (e.settings.createFailures != 0) {
        if (e.settings.createFailures > 0) --e.settings.createFailures;
        return line.AnswerView(nullptr);
    }
    auto v = std::make_unique<View>();
    v->id = static_cast<int>(e.created.size()) + 1;
    uintptr_t handle = kHandleBase + kHandleStep * static_cast<uintptr_t>(v->id);
    e.created.push_back(handle);
    e.views.emplace(handle, std::move(v));
    return line.AnswerView(reinterpret_cast<wkeWebView>(handle));
}
#endif

WKE_API void WKE_CALL wkeDestroyWebView(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeDestroyWebView");
    line.View(view);
    if (Find(view)) TheEngine().views.erase(reinterpret_cast<uintptr_t>(view));
}

WKE_API void WKE_CALL wkeSetTransparent(wkeWebView view, wkeBool transparent) {
    Lock lock(TheEngine().lock);
    Line line("wkeSetTransparent");
    line.View(view).Int(transparent);
    if (View* v = Find(view)) v->transparent = (transparent & 0xFF) != 0;
}

WKE_API void WKE_CALL wkeSetClientHandler(wkeWebView view, const wkeClientHandler* handler) {
    Lock lock(TheEngine().lock);
    Line line("wkeSetClientHandler");
    line.View(view).Pointer(handler);
    if (View* v = Find(view)) v->handler = handler;
}

WKE_API const wchar_t* WKE_CALL wkeToStringW(wkeString string) {
    Lock lock(TheEngine().lock);
    Line line("wkeToStringW");
    line.Pointer(string);
    if (!TheEngine().liveStrings.count(string)) return line.AnswerText(nullptr);
    return line.AnswerText(reinterpret_cast<const NotifyString*>(string)->text.c_str());
}

WKE_API void WKE_CALL wkeResize(wkeWebView view, int w, int h) {
    Lock lock(TheEngine().lock);
    Line line("wkeResize");
    line.View(view).Int(w).Int(h);
    View* v = Find(view);
    if (!v || (v->width == w && v->height == h)) return;
    v->width = w;
    v->height = h;
    v->dirty = true;
}

WKE_API int WKE_CALL wkeWidth(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeWidth");
    line.View(view);
    View* v = Find(view);
    return line.Answer(v ? v->width : 0);
}

WKE_API int WKE_CALL wkeHeight(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeHeight");
    line.View(view);
    View* v = Find(view);
    return line.Answer(v ? v->height : 0);
}

WKE_API int WKE_CALL wkeContentsWidth(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeContentsWidth");
    line.View(view);
    View* v = Find(view);
    return line.Answer(v ? Setting(v->address, &PageSettings::width, 800) : 0);
}

WKE_API int WKE_CALL wkeContentsHeight(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeContentsHeight");
    line.View(view);
    View* v = Find(view);
    return line.Answer(v ? Setting(v->address, &PageSettings::height, 600) : 0);
}

WKE_API void WKE_CALL wkeSetDirty(wkeWebView view, wkeBool dirty) {
    Lock lock(TheEngine().lock);
    Line line("wkeSetDirty");
    line.View(view).Int(dirty);
    if (View* v = Find(view)) v->dirty = (dirty & 0xFF) != 0;
}

WKE_API wkeBool WKE_CALL wkeIsDirty(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeIsDirty");
    line.View(view);
    View* v = Find(view);
    if (!v) return line.Answer(0);
    return line.Answer(Truth("wkeIsDirty", v->dirty || TheEngine().settings.alwaysDirty));
}

WKE_API void WKE_CALL wkePaint(wkeWebView view, void* bits, int pitch) {
    Lock lock(TheEngine().lock);
    Line line("wkePaint");
    line.View(view).Pointer(bits).Int(pitch);
    View* v = Find(view);
    if (!v || !bits) return;
    PaintPattern(*v, static_cast<unsigned char*>(bits), pitch);
    v->dirty = false;
}

namespace {
wkeBool InputEvent(Line& line, wkeWebView view, const char* entry) {
    if (!Find(view)) return line.Answer(0);
    return line.Answer(Truth(entry, true));
}
}  // namespace

WKE_API wkeBool WKE_CALL wkeKeyDown(wkeWebView view, unsigned int key, unsigned int flags,
                                    wkeBool systemKey) {
    Lock lock(TheEngine().lock);
    Line line("wkeKeyDown");
    line.View(view).Int(key).Int(flags).Int(systemKey);
    return InputEvent(line, view, "wkeKeyDown");
}

WKE_API wkeBool WKE_CALL wkeKeyUp(wkeWebView view, unsigned int key, unsigned int flags,
                                  wkeBool systemKey) {
    Lock lock(TheEngine().lock);
    Line line("wkeKeyUp");
    line.View(view).Int(key).Int(flags).Int(systemKey);
    return InputEvent(line, view, "wkeKeyUp");
}

WKE_API wkeBool WKE_CALL wkeKeyPress(wkeWebView view, unsigned int charCode, unsigned int flags,
                                     wkeBool systemKey) {
    Lock lock(TheEngine().lock);
    Line line("wkeKeyPress");
    line.View(view).Int(charCode).Int(flags).Int(systemKey);
    return InputEvent(line, view, "wkeKeyPress");
}

WKE_API wkeBool WKE_CALL wkeMouseEvent(wkeWebView view, unsigned int message, int x, int y,
                                       unsigned int flags) {
    Lock lock(TheEngine().lock);
    Line line("wkeMouseEvent");
    line.View(view).Int(message).Int(x).Int(y).Int(flags);
    return InputEvent(line, view, "wkeMouseEvent");
}

WKE_API wkeBool WKE_CALL wkeContextMenuEvent(wkeWebView view, int x, int y, unsigned int flags) {
    Lock lock(TheEngine().lock);
    Line line("wkeContextMenuEvent");
    line.View(view).Int(x).Int(y).Int(flags);
    return InputEvent(line, view, "wkeContextMenuEvent");
}

WKE_API wkeBool WKE_CALL wkeMouseWheel(wkeWebView view, int x, int y, int delta, unsigned int flags) {
    Lock lock(TheEngine().lock);
    Line line("wkeMouseWheel");
    line.View(view).Int(x).Int(y).Int(delta).Int(flags);
    return InputEvent(line, view, "wkeMouseWheel");
}

WKE_API void WKE_CALL wkeFocus(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeFocus");
    line.View(view);
    if (View* v = Find(view)) v->focused = true;
}

WKE_API void WKE_CALL wkeUnfocus(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeUnfocus");
    line.View(view);
    if (View* v = Find(view)) v->focused = false;
}

WKE_API wkeRect WKE_CALL wkeGetCaret(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeGetCaret");
    line.View(view);
    wkeRect r = Find(view) ? TheEngine().settings.caret : wkeRect{0, 0, 0, 0};
    line.Result(Join("{", std::to_string(r.x), ", ", std::to_string(r.y), ", ", std::to_string(r.w),
                     ", ", std::to_string(r.h), "}"));
    return r;
}

namespace {
void Load(const char* entry, wkeWebView view, const wchar_t* text) {
    bool notify = false;
    {
        Lock lock(TheEngine().lock);
        Line line(entry);
        line.View(view).Wide(text);
        View* v = Find(view);
        if (!v) return;
        StartLoad(*v, text);
        v->history.resize(v->history.empty() ? 0 : v->historyIndex + 1);
        v->history.push_back(v->address);
        v->historyIndex = v->history.size() - 1;
        notify = TheEngine().settings.notify;
    }
    if (notify) Fire(view, text ? text : L"", false);
}
}  // namespace

WKE_API void WKE_CALL wkeLoadURLW(wkeWebView view, const wchar_t* url) { Load("wkeLoadURLW", view, url); }
WKE_API void WKE_CALL wkeLoadHTMLW(wkeWebView view, const wchar_t* html) {
    Load("wkeLoadHTMLW", view, html);
}
WKE_API void WKE_CALL wkeLoadFileW(wkeWebView view, const wchar_t* path) {
    Load("wkeLoadFileW", view, path);
}

WKE_API wkeBool WKE_CALL wkeIsLoaded(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeIsLoaded");
    line.View(view);
    View* v = Find(view);
    return line.Answer(v ? Truth("wkeIsLoaded", Complete(*v)) : 0);
}

WKE_API wkeBool WKE_CALL wkeIsLoadFailed(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeIsLoadFailed");
    line.View(view);
    View* v = Find(view);
    return line.Answer(v ? Truth("wkeIsLoadFailed", Setting(v->address, &PageSettings::failed, false))
                         : 0);
}

WKE_API wkeBool WKE_CALL wkeIsLoadComplete(wkeWebView view) {
    std::optional<std::wstring> title;
    wkeBool answer = 0;
    {
        Lock lock(TheEngine().lock);
        Line line("wkeIsLoadComplete");
        line.View(view);
        View* v = Find(view);
        if (!v) return line.Answer(1);
        ++v->polls;
        bool complete = Complete(*v);
        answer = line.Answer(Truth("wkeIsLoadComplete", complete));
        if (complete && !v->completionNotified && TheEngine().settings.notify) {
            v->completionNotified = true;
            title = TitleOf(v->address);
        }
    }
    if (title) Fire(view, title->c_str(), true);
    return answer;
}

WKE_API wkeBool WKE_CALL wkeIsDocumentReady(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeIsDocumentReady");
    line.View(view);
    View* v = Find(view);
    return line.Answer(v ? Truth("wkeIsDocumentReady", Complete(*v)) : 0);
}

WKE_API void WKE_CALL wkeStopLoading(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeStopLoading");
    line.View(view);
}

WKE_API void WKE_CALL wkeReload(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeReload");
    line.View(view);
    if (View* v = Find(view)) {
        ++v->loads;
        v->dirty = true;
    }
}

#define SIMPLE_ENTRY(name)                    \
    WKE_API void WKE_CALL name(wkeWebView view) { \
        Lock lock(TheEngine().lock);          \
        Line line(#name);                     \
        line.View(view);                      \
    }
SIMPLE_ENTRY(wkeSelectAll)
SIMPLE_ENTRY(wkeCopy)
SIMPLE_ENTRY(wkeCut)
SIMPLE_ENTRY(wkePaste)
SIMPLE_ENTRY(wkeDelete)
#undef SIMPLE_ENTRY

WKE_API const wchar_t* WKE_CALL wkeTitleW(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeTitleW");
    line.View(view);
    View* v = Find(view);
    if (!v) return line.AnswerText(nullptr);
    std::optional<std::wstring> title = TitleOf(v->address);
    if (!title) return line.AnswerText(nullptr);
    v->titleCopy = *title;
    return line.AnswerText(v->titleCopy.c_str());
}

namespace {
wkeBool CanMove(const char* entry, wkeWebView view, int step) {
    Lock lock(TheEngine().lock);
    Line line(entry);
    line.View(view);
    View* v = Find(view);
    if (!v) return line.Answer(0);
    long long target = static_cast<long long>(v->historyIndex) + step;
    return line.Answer(Truth(entry, target >= 0 && target < static_cast<long long>(v->history.size())));
}

wkeBool Move(const char* entry, wkeWebView view, int step) {
    bool notify = false;
    std::wstring address;
    wkeBool answer = 0;
    {
        Lock lock(TheEngine().lock);
        Line line(entry);
        line.View(view);
        View* v = Find(view);
        if (!v) return line.Answer(0);
        long long target = static_cast<long long>(v->historyIndex) + step;
        bool moved = target >= 0 && target < static_cast<long long>(v->history.size());
        if (moved) {
            v->historyIndex = static_cast<size_t>(target);
            address = v->history[v->historyIndex];
            StartLoad(*v, address.c_str());
            notify = TheEngine().settings.notify;
        }
        answer = line.Answer(Truth(entry, moved));
    }
    if (notify) Fire(view, address.c_str(), false);
    return answer;
}
}  // namespace

WKE_API wkeBool WKE_CALL wkeCanGoBack(wkeWebView view) { return CanMove("wkeCanGoBack", view, -1); }
WKE_API wkeBool WKE_CALL wkeGoBack(wkeWebView view) { return Move("wkeGoBack", view, -1); }
WKE_API wkeBool WKE_CALL wkeCanGoForward(wkeWebView view) {
    return CanMove("wkeCanGoForward", view, 1);
}
WKE_API wkeBool WKE_CALL wkeGoForward(wkeWebView view) { return Move("wkeGoForward", view, 1); }

WKE_API void WKE_CALL wkeSetCookieEnabled(wkeWebView view, wkeBool enabled) {
    Lock lock(TheEngine().lock);
    Line line("wkeSetCookieEnabled");
    line.View(view).Int(enabled);
    if (View* v = Find(view)) v->cookieEnabled = (enabled & 0xFF) != 0;
}

WKE_API wkeBool WKE_CALL wkeCookieEnabled(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeCookieEnabled");
    line.View(view);
    View* v = Find(view);
    return line.Answer(v ? Truth("wkeCookieEnabled", v->cookieEnabled) : 0);
}

WKE_API void WKE_CALL wkeSetEditable(wkeWebView view, wkeBool editable) {
    Lock lock(TheEngine().lock);
    Line line("wkeSetEditable");
    line.View(view).Int(editable);
    if (View* v = Find(view)) v->editable = (editable & 0xFF) != 0;
}

WKE_API void WKE_CALL wkeSetMediaVolume(wkeWebView view, float volume) {
    Lock lock(TheEngine().lock);
    Line line("wkeSetMediaVolume");
    line.View(view).Float(volume);
    if (View* v = Find(view)) v->volume = volume;
}

WKE_API float WKE_CALL wkeMediaVolume(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeMediaVolume");
    line.View(view);
    View* v = Find(view);
    return line.AnswerFloat(v ? v->volume : 0.0f);
}

WKE_API void WKE_CALL wkeSetZoomFactor(wkeWebView view, float factor) {
    Lock lock(TheEngine().lock);
    Line line("wkeSetZoomFactor");
    line.View(view).Float(factor);
    if (View* v = Find(view)) v->zoom = factor;
}

WKE_API float WKE_CALL wkeZoomFactor(wkeWebView view) {
    Lock lock(TheEngine().lock);
    Line line("wkeZoomFactor");
    line.View(view);
    View* v = Find(view);
    return line.AnswerFloat(v ? v->zoom : 0.0f);
}

namespace {
jsValue RunScript(Line& line, wkeWebView view, const std::string& script) {
    View* v = Find(view);
    if (!v) return line.Answer<long long>(0);
    static constexpr std::string_view prefix = "document.body.style.overflow='";
    if (script.size() > prefix.size() + 1 && script.compare(0, prefix.size(), prefix) == 0 &&
        script.back() == '\'') {
        v->overflow = script.substr(prefix.size(), script.size() - prefix.size() - 1);
    }
    return line.Answer<long long>(TheEngine().settings.scriptResult);
}
}  // namespace

WKE_API jsValue WKE_CALL wkeRunJSW(wkeWebView view, const wchar_t* script) {
    Lock lock(TheEngine().lock);
    Line line("wkeRunJSW");
    line.View(view).Wide(script);
    return RunScript(line, view, Utf8(script));
}

WKE_API jsValue WKE_CALL wkeRunJS(wkeWebView view, const char* script) {
    Lock lock(TheEngine().lock);
    Line line("wkeRunJS");
    line.View(view).Narrow(script);
    return RunScript(line, view, script ? script : "");
}

// ---- the extra exports ---------------------------------------------------------------------------

WKE_API void WKE_CALL wkeTestReset(void) {
    Engine& e = TheEngine();
    Lock lock(e.lock);
    e.settings = Settings{};
    e.views.clear();
    e.created.clear();
    e.log.clear();
    e.counts.clear();
    e.totalCalls = 0;
    e.unloggedDirty = 0;
    e.threads.clear();
    e.fileChecked = false;
}

WKE_API int WKE_CALL wkeTestRunScript(const char* utf8) {
    Lock lock(TheEngine().lock);
    return utf8 ? ApplyScript(utf8) : 0;
}

namespace {
PageSettings& PageOf(const wchar_t* address) { return PageFor(address ? Utf8(address) : "*"); }
}  // namespace

WKE_API void WKE_CALL wkeTestSetContentsSize(const wchar_t* address, int w, int h) {
    Lock lock(TheEngine().lock);
    PageOf(address).width = w;
    PageOf(address).height = h;
}

WKE_API void WKE_CALL wkeTestSetCompleteAfter(const wchar_t* address, int polls) {
    Lock lock(TheEngine().lock);
    PageOf(address).completeAt = polls < 0 ? -1 : polls;
}

WKE_API void WKE_CALL wkeTestSetTitle(const wchar_t* address, const wchar_t* title) {
    Lock lock(TheEngine().lock);
    PageOf(address).title =
        title ? std::optional<std::wstring>(title) : std::optional<std::wstring>();
}

WKE_API void WKE_CALL wkeTestSetLoadFailed(const wchar_t* address, int failed) {
    Lock lock(TheEngine().lock);
    PageOf(address).failed = failed != 0;
}

WKE_API void WKE_CALL wkeTestSetColour(const wchar_t* address, int rgb) {
    Lock lock(TheEngine().lock);
    PageOf(address).colour = rgb < 0 ? -1 : (rgb & 0xFFFFFF);
}

WKE_API void WKE_CALL wkeTestSetCreateFailures(int count) {
    Lock lock(TheEngine().lock);
    TheEngine().settings.createFailures = count < 0 ? -1 : count;
}

WKE_API void WKE_CALL wkeTestSetAlwaysDirty(int on) {
    Lock lock(TheEngine().lock);
    TheEngine().settings.alwaysDirty = on != 0;
}

WKE_API void WKE_CALL wkeTestSetLogDirty(int on) {
    Lock lock(TheEngine().lock);
    FlushDirtyNote();
    TheEngine().settings.logDirty = on != 0;
}

WKE_API void WKE_CALL wkeTestSetNotify(int on) {
    Lock lock(TheEngine().lock);
    TheEngine().settings.notify = on != 0;
}

WKE_API int WKE_CALL wkeTestSetTruth(const char* entry, int trueValue, int falseValue) {
    Lock lock(TheEngine().lock);
    if (!entry || !TruthEntries().count(std::string_view(entry))) return 0;
    TheEngine().settings.truth[entry] = {trueValue, falseValue};
    return 1;
}

WKE_API void WKE_CALL wkeTestSetCaret(int x, int y, int w, int h) {
    Lock lock(TheEngine().lock);
    TheEngine().settings.caret = {x, y, w, h};
}

WKE_API void WKE_CALL wkeTestSetScriptResult(jsValue value) {
    Lock lock(TheEngine().lock);
    TheEngine().settings.scriptResult = value;
}

WKE_API void WKE_CALL wkeTestNewFrame(wkeWebView view) {
    Lock lock(TheEngine().lock);
    if (View* v = Find(view)) v->dirty = true;
}

WKE_API int WKE_CALL wkeTestFireTitleChanged(wkeWebView view, const wchar_t* title) {
    return Fire(view, title, true);
}

WKE_API int WKE_CALL wkeTestFireUrlChanged(wkeWebView view, const wchar_t* url) {
    return Fire(view, url, false);
}

WKE_API wkeWebView WKE_CALL wkeTestView(int n) {
    Lock lock(TheEngine().lock);
    const auto& created = TheEngine().created;
    if (n < 1 || n > static_cast<int>(created.size())) return nullptr;
    return reinterpret_cast<wkeWebView>(created[static_cast<size_t>(n - 1)]);
}

WKE_API int WKE_CALL wkeTestViewInfo(wkeWebView view, wkeTestViewState* out) {
    Lock lock(TheEngine().lock);
    View* v = Find(view);
    if (!v || !out) return 0;
    *out = wkeTestViewState{};
    out->width = v->width;
    out->height = v->height;
    out->dirty = v->dirty;
    out->polls = v->polls;
    out->loads = v->loads;
    out->transparent = v->transparent;
    out->cookieEnabled = v->cookieEnabled;
    out->editable = v->editable;
    out->focused = v->focused;
    out->volume = v->volume;
    out->zoom = v->zoom;
    out->clientHandler = v->handler;
    std::snprintf(out->overflow, sizeof out->overflow, "%s", v->overflow.c_str());
    std::string address = Utf8(v->address.c_str());
    std::snprintf(out->address, sizeof out->address, "%s", address.c_str());
    return 1;
}

WKE_API int WKE_CALL wkeTestCallCount(const char* entry) {
    Lock lock(TheEngine().lock);
    if (!entry) return TheEngine().totalCalls;
    auto& counts = TheEngine().counts;
    auto it = counts.find(std::string_view(entry));
    return it == counts.end() ? 0 : it->second;
}

WKE_API int WKE_CALL wkeTestLogLineCount(void) {
    Lock lock(TheEngine().lock);
    return static_cast<int>(TheEngine().log.size());
}

WKE_API int WKE_CALL wkeTestLogLine(int index, char* buffer, int size) {
    Lock lock(TheEngine().lock);
    const auto& log = TheEngine().log;
    if (index < 0 || index >= static_cast<int>(log.size())) return -1;
    const std::string& line = log[static_cast<size_t>(index)];
    if (buffer && size > 0) {
        size_t n = std::min(line.size(), static_cast<size_t>(size - 1));
        std::memcpy(buffer, line.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(line.size());
}

WKE_API void WKE_CALL wkeTestClearLog(void) {
    Engine& e = TheEngine();
    Lock lock(e.lock);
    e.log.clear();
    e.counts.clear();
    e.totalCalls = 0;
    e.unloggedDirty = 0;
}

namespace {
// Every entry of the interface must be defined here: taking their addresses fails the link otherwise.
#ifndef TEST_ENGINE_WITHOUT_CREATE
#define ENTRY_ADDRESS(result, name, params, args) reinterpret_cast<void (*)()>(&name),
[[maybe_unused]] void (*const kEveryEntry[])() = {WKE_FOR_EACH_ENTRY(ENTRY_ADDRESS)};
#undef ENTRY_ADDRESS
#endif
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH) {
        // Other threads may have been ended while holding the lock: never wait for it here.
        Engine& e = TheEngine();
        if (e.lock.try_lock()) {
            FlushDirtyNote();
            e.lock.unlock();
        }
    }
    return TRUE;
}
