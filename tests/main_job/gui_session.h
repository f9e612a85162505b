// Running Quorlane as a user would, for the main job's tests: a program copy beside the test with
// the test engine, its controls found by their texts and places, the engine's call log read back,
// and expected images and digests computed here, independently of the program's own code.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/scoped_win.h"
#include "tests/driver/driver.h"
#include "tests/driver/test_files.h"
#include "tests/test_engine/test_engine_control.h"

namespace main_job {

using Bytes = std::vector<std::uint8_t>;

using driver::FilesIn;
using driver::FreshFolder;
using driver::ReadBytes;
using driver::TestFolder;
using driver::WriteBytes;
Bytes AsBytes(std::string_view text);

// RFC 1321 digest as 32 lowercase hex digits, from the platform's CryptoAPI.
std::wstring Md5Hex(const Bytes& bytes);
std::wstring Md5Hex(const std::uint8_t* data, std::size_t size);

// The BMP the program must store for a W x H page at this address painted by the test engine.
Bytes ExpectedImage(std::wstring_view address, int width, int height);

// One address as the call log shows the UI thread handling it.
struct PageVisit {
    std::string address;           // UTF-8, as loaded
    int polls = 0;                 // wkeIsLoadComplete calls
    std::vector<int> reloadPolls;  // for each reload, the number of the poll that followed it
    bool captured = false;
};
std::vector<PageVisit> Visits(const std::vector<test_engine::Call>& calls);

// The controls of MainWindow.
struct Controls {
    HWND window = nullptr;
    HWND start = nullptr, stop = nullptr, import = nullptr, browse = nullptr;
    HWND visit = nullptr, snapshot = nullptr;
    HWND status = nullptr, saveFolder = nullptr, list = nullptr;
    HWND sequence = nullptr, md5 = nullptr, title = nullptr, time = nullptr;
};

// A started program with its own engine script and call log; closed at the end of the test.
class GuiTest : public ::testing::Test {
protected:
    // Copies of the product, of its quick-wait build and of its build short of memory (64 MiB for
    // a capture, 1 MiB for an imported list, 20 ms wait steps), named for these tests alone.
    static constexpr wchar_t kProgram[] = L"quorlane_product.exe";
    static constexpr wchar_t kQuickWaitProgram[] = L"quorlane_quickwait.exe";
    static constexpr wchar_t kLowMemoryProgram[] = L"quorlane_lowmemory.exe";

    void TearDown() override;

    // Starts program with this engine script (UTF-8); scratch is FreshFolder(test name).
    void Launch(const std::wstring& program, std::string_view script);

    std::vector<test_engine::Call> Calls() const;  // the whole log so far
    std::vector<PageVisit> Visits() const { return main_job::Visits(Calls()); }
    std::string StatusGbk() const;
    std::string ListGbk() const;
    std::wstring SaveFolderText() const;

    void SetList(const std::wstring& text);
    void SetSaveFolder(const std::wstring& folder);
    void SetOptions(bool sequence, bool md5, bool title, bool time);
    // Runs one batch over list to its final box and closes the box.
    void RunBatch(const std::wstring& list, DWORD timeoutMs = driver::kWait);
    // Waits for a dialog of the program and answers it; the next one whose text contains part.
    std::optional<driver::MessageBoxInfo> WaitForBox(std::wstring_view part = {}) const;
    HWND WaitForDialog() const;
    void Dismiss(const driver::MessageBoxInfo& box);

    std::optional<driver::Program> program_;
    Controls c_;
    std::wstring scratch_;
    std::wstring logPath_;
};

// The folder browser's tree, read across the process boundary through memory lent in the
// program's process (tree items keep their texts there).
class RemoteTree {
public:
    RemoteTree(DWORD processId, HWND tree);
    ~RemoteTree();
    RemoteTree(const RemoteTree&) = delete;
    RemoteTree& operator=(const RemoteTree&) = delete;

    bool Usable() const { return memory_ != nullptr; }
    HTREEITEM Root() const;
    std::vector<HTREEITEM> Children(HTREEITEM item) const;  // expands it first
    std::wstring ItemText(HTREEITEM item) const;
    // Follows children whose text contains each part in turn; null when a step finds none.
    HTREEITEM Find(const std::vector<std::wstring>& parts) const;
    bool Select(HTREEITEM item) const;

private:
    HWND tree_;
    ScopedHandle process_;
    void* memory_ = nullptr;
};

}  // namespace main_job
