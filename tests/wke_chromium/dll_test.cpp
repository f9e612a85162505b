// The built wke.dll beside this program, as the program loads it: every entry exported under its
// own name, view 0 answered through the real exports, and one clear message when no browser is found.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "../../engine/wke.h"

namespace {

struct Dll {
    Dll() : module(LoadLibraryW(L"wke.dll")) {}
    ~Dll() {
        if (module) FreeLibrary(module);
    }
    template <typename F>
    F Entry(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    HMODULE module;
};

}  // namespace

TEST(EngineDll, ExportsEveryEntryByName) {
    Dll dll;
    ASSERT_NE(dll.module, nullptr);
    int count = 0;
#define CHECK_ENTRY(result, name, params, args)                                  \
    EXPECT_NE(GetProcAddress(dll.module, #name), nullptr) << #name << " missing"; \
    ++count;
    WKE_FOR_EACH_ENTRY(CHECK_ENTRY)
#undef CHECK_ENTRY
    EXPECT_EQ(count, 52);
}

TEST(EngineDll, ViewZeroThroughTheExports) {
    Dll dll;
    ASSERT_NE(dll.module, nullptr);
    EXPECT_EQ(dll.Entry<wkeBool (*)(wkeWebView)>("wkeIsLoadComplete")(nullptr), 1);
    EXPECT_EQ(dll.Entry<wkeBool (*)(wkeWebView)>("wkeIsLoaded")(nullptr), 0);
    EXPECT_EQ(dll.Entry<const wchar_t* (*)(wkeWebView)>("wkeTitleW")(nullptr), nullptr);
    EXPECT_EQ(dll.Entry<int (*)(wkeWebView)>("wkeContentsHeight")(nullptr), 0);
    EXPECT_EQ(dll.Entry<jsValue (*)(wkeWebView, const char*)>("wkeRunJS")(nullptr, "1"), 0);
    // Before wkeInit there is no view to be had.
    EXPECT_EQ(dll.Entry<wkeWebView (*)()>("wkeCreateWebView")(), nullptr);
}

TEST(EngineDll, NoBrowserShowsOneMessageAndNoView) {
    SetEnvironmentVariableW(L"WKE_BROWSER", L"C:\\no\\such\\browser\\chrome.exe");
    Dll dll;
    ASSERT_NE(dll.module, nullptr);
    std::atomic<int> boxes{0};
    std::atomic<bool> done{false};
    std::wstring text;
    std::thread watcher([&] {
        const DWORD self = GetCurrentProcessId();
        DWORD start = GetTickCount();
        while (!done && GetTickCount() - start < 60000) {
            HWND box = nullptr;
            while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
                DWORD pid = 0;
                GetWindowThreadProcessId(box, &pid);
                if (pid != self || !IsWindowVisible(box)) continue;
                wchar_t buffer[4096] = {};
                GetDlgItemTextW(box, 0xFFFF, buffer, 4096);
                text = buffer;
                ++boxes;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                Sleep(300);
            }
            Sleep(50);
        }
    });
    dll.Entry<void (*)()>("wkeInit")();
    EXPECT_EQ(dll.Entry<wkeWebView (*)()>("wkeCreateWebView")(), nullptr);
    dll.Entry<void (*)()>("wkeShutdown")();
    Sleep(500);
    done = true;
    watcher.join();
    SetEnvironmentVariableW(L"WKE_BROWSER", nullptr);
    EXPECT_EQ(boxes, 1);
    EXPECT_NE(text.find(L"WKE_BROWSER"), std::wstring::npos);
    EXPECT_NE(text.find(L"C:\\no\\such\\browser\\chrome.exe"), std::wstring::npos) << "does not say what was looked for";
}
