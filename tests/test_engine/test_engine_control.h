// Scripting and reading the test engine (tests/test_engine, built as wke.dll).
//
// The test engine implements every entry of engine/wke.h deterministically and records each call it
// receives. A test scripts it in one of two ways:
//   - in the test's own process: through the extra exports below, bound with GetProcAddress from the
//     wke.dll already loaded (or loaded here from the program's folder). Never link the DLL's import
//     library: the program's code defines wke* forwarders of the same names.
//   - in a program the test starts: through a script file named by QUORLANE_TEST_ENGINE_SCRIPT,
//     read (after forgetting every earlier setting) at each wkeInit. The call log then goes to the
//     file named by QUORLANE_TEST_ENGINE_LOG. Both are Windows paths (under Wine a Linux path is
//     reached as Z:\...).
//
// Behaviour (the real engine follows the same rules):
//   - every entry given view 0, or a handle it does not know (destroyed, never made), does nothing
//     and answers 0, false, null or nothing; wkeIsLoadComplete answers true.
//   - views are numbered from 1 in order of creation since the last reset; the log writes view n as
//     #n, view 0 as 0 and an unknown handle as ?0x<hex>. Handles use the upper half of a 64-bit
//     pointer, so a handle cut to 32 bits is caught.
//   - a new view measures 0 x 0 and is not dirty. wkePaint clears the dirty flag; a load (URL, HTML,
//     file, reload, back, forward), a new frame (wkeTestNewFrame) and a change of size set it;
//     wkeResize to the size the view already has does not. "always-dirty" keeps it set.
//   - wkePaint(view, bits, pitch) paints the frame at the view's current size (test_pattern.h);
//     pitch 0 means width * 4; rows start at bits + y * pitch, any alignment; nothing outside the
//     rows' width * 4 bytes is written.
//   - each page (the text of the last load call) has a contents size (default 800 x 600), a title
//     (default none: wkeTitleW answers null), a load-failed flag, a colour (default the gradient), and
//     a completion poll: the N-th wkeIsLoadComplete call after the last wkeLoadURLW / wkeLoadHTMLW /
//     wkeLoadFileW (or back / forward) answers true, and so does every later one (default N = 1; N = 0
//     counts as complete before any poll; "never" never completes). wkeReload keeps the count.
//     wkeIsLoaded and wkeIsDocumentReady answer whether that point has been reached, without polling.
//   - key, mouse, wheel and context-menu entries answer "handled" (true); wkeCookieEnabled answers the
//     last wkeSetCookieEnabled (default true); volume and zoom answer the last value set (default 1).
//   - wkeRunJS / wkeRunJSW answer the scripted script value (default 0); a script of the form
//     document.body.style.overflow='X' records X as the view's overflow (wkeTestViewInfo).
//   - truth results: a test may have any entry that answers a wkeBool give other raw ints for true and
//     for false (e.g. 2 and 0x100), because a program reads only the low byte.
//   - notifications: wkeTestFire* (or "notify" in a script, which fires the URL change inside each
//     load call and the title change inside the poll that first answers complete) call the entries of
//     the client-handler record installed with wkeSetClientHandler, read when firing, with the record's
//     address as installed and a wkeString whose wkeToStringW is the UTF-16 text during the call (null
//     afterwards). A null record or null entry is not called.
//   - the engine is thread-safe: one lock, never held while a notification runs.
//
// Script file: UTF-8 lines; blank lines and lines starting with '#' are skipped; a line not
// understood is reported in the log ("# script line N not understood: ...") and skipped. Page lines
// apply to the page named by the last "page" line; before any, to every page without settings of its
// own ("*"). A page's unset settings come from "*".
//   page <address>            following page lines apply to <address> (rest of the line; * = default)
//   size <w> <h>              contents size
//   complete <n> | never      completion poll (see above)
//   title <text>              title (rest of the line, may be empty: "title" alone is the empty title)
//   no-title                  no title (wkeTitleW answers null)
//   failed                    wkeIsLoadFailed answers true
//   colour <RRGGBB>           solid colour instead of the gradient (hex)
//   gradient                  the gradient again
//   fail-create [<n>]         wkeCreateWebView answers 0: for its next <n> calls, or always
//   always-dirty              wkeIsDirty answers true even after wkePaint
//   log-dirty                 record wkeIsDirty calls in the log too (otherwise only counted)
//   notify                    fire URL changes at loads and title changes at completion
//   truth <entry> <t> <f>     a wkeBool entry answers raw <t> for true and <f> for false
//   answer <entry> <v>        a wkeBool entry answers raw <v> whatever the truth is
//   caret <x> <y> <w> <h>     what wkeGetCaret answers
//   js-result <v>             what wkeRunJS and wkeRunJSW answer (64-bit)
// Numbers are decimal (may be negative) or 0x-prefixed hex.
//
// Call log: one UTF-8 line per call, in the order the calls were made, each appended to the log file
// with one write as it happens (a test may read it while the program runs and after it exits):
//   T<n> <entry>(<arg>, <arg>, ...)[ = <result>]
//   T<n>         the calling thread: 1 for the first thread that called the engine since the last
//                reset, 2 for the next new one, and so on (in the program T1 is the UI thread)
//   integers     decimal (flags and message numbers too); truth results as the raw int answered
//   views        #n, 0 or ?0x<hex>;  other pointers 0x<hex> or null
//   strings      "..." UTF-8, with \" \\ \n \r \t and \xHH (other control bytes) escaped; null
//   floats       shortest decimal that reads back as the same float (%.9g): 1.5, 0.100000001
//   wkeGetCaret  = {x, y, w, h}
// Fired notifications are logged as calls of onTitleChanged / onURLChanged (view, text), answering 1
// when an entry was called and 0 when none was installed. Lines starting with "# " are notes, not
// calls: script problems, and, while wkeIsDirty is not logged, "# wkeIsDirty x<k>": k unlogged calls
// since the previous line (written before the next line, at wkeShutdown and when the process ends).
// Every call, logged or not, is counted (wkeTestCallCount).
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/wke.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct wkeTestViewState {
    int width;
    int height;
    int dirty;
    int polls;  // wkeIsLoadComplete polls since the last load
    int loads;  // load calls, reloads included, since the view was made
    int transparent;
    int cookieEnabled;
    int editable;
    int focused;
    float volume;
    float zoom;
    const void* clientHandler;  // as installed
    char overflow[16];          // "" until a script set it
    char address[1024];         // UTF-8, cut to fit
} wkeTestViewState;

// Extra exports, cdecl like the entries. Addresses and titles are UTF-16; address null = "*".
#define WKE_TEST_FOR_EACH_EXTRA(X)                                                                \
    X(void, wkeTestReset, (void), ())                                                             \
    X(int, wkeTestRunScript, (const char* utf8), (utf8))                                          \
    X(void, wkeTestSetContentsSize, (const wchar_t* address, int w, int h), (address, w, h))      \
    X(void, wkeTestSetCompleteAfter, (const wchar_t* address, int polls), (address, polls))       \
    X(void, wkeTestSetTitle, (const wchar_t* address, const wchar_t* title), (address, title))    \
    X(void, wkeTestSetLoadFailed, (const wchar_t* address, int failed), (address, failed))        \
    X(void, wkeTestSetColour, (const wchar_t* address, int rgb), (address, rgb))                  \
    X(void, wkeTestSetCreateFailures, (int count), (count))                                       \
    X(void, wkeTestSetAlwaysDirty, (int on), (on))                                                \
    X(void, wkeTestSetLogDirty, (int on), (on))                                                   \
    X(void, wkeTestSetNotify, (int on), (on))                                                     \
    X(int, wkeTestSetTruth, (const char* entry, int trueValue, int falseValue),                   \
      (entry, trueValue, falseValue))                                                             \
    X(void, wkeTestSetCaret, (int x, int y, int w, int h), (x, y, w, h))                          \
    X(void, wkeTestSetScriptResult, (jsValue value), (value))                                     \
    X(void, wkeTestNewFrame, (wkeWebView view), (view))                                           \
    X(int, wkeTestFireTitleChanged, (wkeWebView view, const wchar_t* title), (view, title))       \
    X(int, wkeTestFireUrlChanged, (wkeWebView view, const wchar_t* url), (view, url))             \
    X(wkeWebView, wkeTestView, (int n), (n))                                                      \
    X(int, wkeTestViewInfo, (wkeWebView view, wkeTestViewState* out), (view, out))                \
    X(int, wkeTestCallCount, (const char* entry), (entry))                                        \
    X(int, wkeTestLogLineCount, (void), ())                                                       \
    X(int, wkeTestLogLine, (int index, char* buffer, int size), (index, buffer, size))            \
    X(void, wkeTestClearLog, (void), ())

// wkeTestSetCompleteAfter: polls < 0 = never. wkeTestSetColour: rgb < 0 = the gradient.
// wkeTestSetTitle: title null = none. wkeTestSetCreateFailures: count < 0 = always.
// wkeTestSetTruth: 0 when entry is not a wkeBool entry. wkeTestRunScript: lines not understood.
// wkeTestView: the n-th view made since the reset (from 1), 0 if none.
// wkeTestViewInfo: 1 and *out filled for a live view, else 0.
// wkeTestCallCount: calls of entry (null: of every entry) since the reset or wkeTestClearLog.
// wkeTestLogLine: copies line index (NUL-ended, cut to size) and answers its full length, -1 if none.

#define WKE_TEST_DECLARE_EXTRA(result, name, params, args) WKE_API result WKE_CALL name params;
WKE_TEST_FOR_EACH_EXTRA(WKE_TEST_DECLARE_EXTRA)
#undef WKE_TEST_DECLARE_EXTRA

#ifdef __cplusplus
}
#endif

namespace test_engine {

constexpr wchar_t kScriptVariable[] = L"QUORLANE_TEST_ENGINE_SCRIPT";
constexpr wchar_t kLogVariable[] = L"QUORLANE_TEST_ENGINE_LOG";

// One line of the call log, taken apart.
struct Call {
    int thread = 0;                 // n of T<n>
    std::string entry;              // wkeResize, onTitleChanged, ...
    std::vector<std::string> args;  // as written: 12, #1, "text", null, 0x1f, 1.5
    std::string result;             // after " = "; empty when none
    std::string text;               // the line without its thread tag
};

// Quotes and escapes UTF-8 text as the log writes it.
inline std::string Quote(std::string_view utf8) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\x";
                    out += hex[c >> 4];
                    out += hex[c & 15];
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}
inline std::string Quote(std::u8string_view utf8) {
    return Quote(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

// The text of a quoted argument; anything else is returned as it is.
inline std::string Unquote(std::string_view arg) {
    if (arg.size() < 2 || arg.front() != '"' || arg.back() != '"') return std::string(arg);
    std::string out;
    for (size_t i = 1; i + 1 < arg.size(); ++i) {
        char c = arg[i];
        if (c != '\\' || i + 2 >= arg.size()) {
            out += c;
            continue;
        }
        char e = arg[++i];
        if (e == 'n') out += '\n';
        else if (e == 'r') out += '\r';
        else if (e == 't') out += '\t';
        else if (e == 'x' && i + 2 < arg.size()) {
            out += static_cast<char>(std::stoi(std::string(arg.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else out += e;
    }
    return out;
}

// A call line taken apart; nullopt for notes and anything else.
inline std::optional<Call> ParseCall(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 3 || line[0] != 'T') return std::nullopt;
    size_t space = line.find(' ');
    if (space == std::string_view::npos || space == 1) return std::nullopt;
    Call call;
    for (size_t i = 1; i < space; ++i) {
        if (line[i] < '0' || line[i] > '9') return std::nullopt;
        call.thread = call.thread * 10 + (line[i] - '0');
    }
    std::string_view rest = line.substr(space + 1);
    size_t open = rest.find('(');
    if (open == std::string_view::npos || open == 0) return std::nullopt;
    call.text = std::string(rest);
    call.entry = std::string(rest.substr(0, open));
    size_t i = open + 1;
    std::string arg;
    bool quoted = false;
    for (; i < rest.size(); ++i) {
        char c = rest[i];
        if (quoted) {
            arg += c;
            if (c == '\\' && i + 1 < rest.size()) arg += rest[++i];
            else if (c == '"') quoted = false;
        } else if (c == '"') {
            arg += c;
            quoted = true;
        } else if (c == ',' || c == ')') {
            if (!arg.empty() || c == ',') call.args.push_back(arg);
            arg.clear();
            if (c == ')') break;
            if (i + 1 < rest.size() && rest[i + 1] == ' ') ++i;
        } else {
            arg += c;
        }
    }
    if (i >= rest.size()) return std::nullopt;
    std::string_view tail = rest.substr(i + 1);
    if (tail.substr(0, 3) == " = ") call.result = std::string(tail.substr(3));
    return call;
}

inline std::vector<Call> ParseCalls(const std::vector<std::string>& lines) {
    std::vector<Call> calls;
    for (const std::string& line : lines)
        if (auto call = ParseCall(line)) calls.push_back(std::move(*call));
    return calls;
}

// The lines of a log file as they are now (the engine may still be appending). Empty if absent.
inline std::vector<std::string> ReadLogFile(const std::wstring& path) {
    std::vector<std::string> lines;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    std::string data;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) data.append(chunk, got);
    CloseHandle(file);
    size_t start = 0;
    // A last line without its newline is still being written: leave it out.
    for (size_t end; (end = data.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(data.substr(start, end - start));
    return lines;
}

// The test engine loaded in this process, bound by name.
class TestEngine {
public:
    struct Entries {
#define WKE_TEST_ENTRY_FIELD(result, name, params, args) result(WKE_CALL* name) params = nullptr;
        WKE_FOR_EACH_ENTRY(WKE_TEST_ENTRY_FIELD)
    };
    struct Extras {
        WKE_TEST_FOR_EACH_EXTRA(WKE_TEST_ENTRY_FIELD)
#undef WKE_TEST_ENTRY_FIELD
    };

    // The wke.dll already loaded in this process, else the one in the program's folder.
    TestEngine() : TestEngine(DefaultModule()) {}
    explicit TestEngine(HMODULE module) : module_(module) {
        if (!module_) return;
#define WKE_TEST_BIND(result, name, params, args) Bind(wke.name, #name);
        WKE_FOR_EACH_ENTRY(WKE_TEST_BIND)
#undef WKE_TEST_BIND
#define WKE_TEST_BIND(result, name, params, args) Bind(test.name, #name);
        WKE_TEST_FOR_EACH_EXTRA(WKE_TEST_BIND)
#undef WKE_TEST_BIND
    }

    static HMODULE DefaultModule() {
        if (HMODULE loaded = GetModuleHandleW(L"wke.dll")) return loaded;
        return LoadLibraryW((ProgramFolder() + L"\\wke.dll").c_str());
    }
    static std::wstring ProgramFolder() {
        wchar_t path[MAX_PATH * 4];
        DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
        std::wstring folder(path, n);
        size_t slash = folder.find_last_of(L'\\');
        return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
    }

    HMODULE Module() const { return module_; }
    // Names of the entries and extras this module does not export.
    const std::vector<std::string>& Missing() const { return missing_; }
    bool Complete() const { return module_ && missing_.empty(); }

    void Reset() { test.wkeTestReset(); }
    int Script(std::string_view utf8) { return test.wkeTestRunScript(std::string(utf8).c_str()); }
    int Script(std::u8string_view utf8) {
        return Script(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
    }
    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        int count = test.wkeTestLogLineCount();
        for (int i = 0; i < count; ++i) {
            int length = test.wkeTestLogLine(i, nullptr, 0);
            if (length < 0) break;
            std::string line(static_cast<size_t>(length) + 1, '\0');
            test.wkeTestLogLine(i, line.data(), length + 1);
            line.resize(static_cast<size_t>(length));
            lines.push_back(std::move(line));
        }
        return lines;
    }
    std::vector<Call> Calls() const { return ParseCalls(Log()); }
    // The calls of one entry, as "entry(args)[ = result]" texts.
    std::vector<std::string> Calls(std::string_view entry) const {
        std::vector<std::string> texts;
        for (const Call& call : Calls())
            if (call.entry == entry) texts.push_back(call.text);
        return texts;
    }
    int Count(const char* entry = nullptr) const { return test.wkeTestCallCount(entry); }
    void ClearLog() { test.wkeTestClearLog(); }
    wkeWebView View(int n) const { return test.wkeTestView(n); }
    std::optional<wkeTestViewState> State(wkeWebView view) const {
        wkeTestViewState state{};
        if (!test.wkeTestViewInfo(view, &state)) return std::nullopt;
        return state;
    }

    Entries wke;
    Extras test;

private:
    template <typename F>
    void Bind(F& field, const char* name) {
        field = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
        if (!field) missing_.emplace_back(name);
    }

    HMODULE module_ = nullptr;
    std::vector<std::string> missing_;
};

}  // namespace test_engine
