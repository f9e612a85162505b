#include "tests/main_job/gui_session.h"

#include <wincrypt.h>

#include <algorithm>

#include "tests/test_engine/test_pattern.h"

namespace main_job {
namespace {

class CryptProvider {
public:
    CryptProvider() { CryptAcquireContextW(&handle_, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT); }
    ~CryptProvider() {
        if (handle_) CryptReleaseContext(handle_, 0);
    }
    CryptProvider(const CryptProvider&) = delete;
    CryptProvider& operator=(const CryptProvider&) = delete;
    HCRYPTPROV Get() const { return handle_; }

private:
    HCRYPTPROV handle_ = 0;
};

class CryptHash {
public:
    CryptHash(HCRYPTPROV provider, ALG_ID algorithm) {
        if (provider) CryptCreateHash(provider, algorithm, 0, 0, &handle_);
    }
    ~CryptHash() {
        if (handle_) CryptDestroyHash(handle_);
    }
    CryptHash(const CryptHash&) = delete;
    CryptHash& operator=(const CryptHash&) = delete;
    HCRYPTHASH Get() const { return handle_; }

private:
    HCRYPTHASH handle_ = 0;
};

void Put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

class ScopedKey {
public:
    explicit ScopedKey(const std::wstring& path) {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~ScopedKey() {
        if (key_) RegCloseKey(key_);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Without a window manager, Wine waits two seconds for every managed top-level window that is
// hidden or destroyed; the programs these tests start (and only they, by their file names) get
// unmanaged windows instead. Settings of the rig's throwaway prefix, nothing on Windows.
void UnmanagedUnderWine(const std::wstring& program) {
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return;
    ScopedKey key(L"Software\\Wine\\AppDefaults\\" + program + L"\\X11 Driver");
    static const wchar_t no[] = L"N";
    if (key.Get())
        RegSetValueExW(key.Get(), L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof no);
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

Bytes AsBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::wstring Md5Hex(const Bytes& bytes) { return Md5Hex(bytes.data(), bytes.size()); }

std::wstring Md5Hex(const std::uint8_t* data, std::size_t size) {
    CryptProvider provider;
    CryptHash hash(provider.Get(), CALG_MD5);
    if (!hash.Get()) return L"(no CryptoAPI MD5)";
    for (std::size_t done = 0; done < size;) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, std::size_t{1} << 28));
        if (!CryptHashData(hash.Get(), data + done, chunk, 0)) return L"(hash failed)";
        done += chunk;
    }
    BYTE digest[16];
    DWORD digestSize = sizeof digest;
    if (!CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &digestSize, 0) || digestSize != 16)
        return L"(hash failed)";
    static const wchar_t hex[] = L"0123456789abcdef";
    std::wstring out;
    for (BYTE b : digest) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

Bytes ExpectedImage(std::wstring_view address, int width, int height) {
    const std::uint32_t s = static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * 4;
    Bytes out;
    out.reserve(s + 54);
    out.push_back('B');
    out.push_back('M');
    Put32(out, s + 54);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(-height));
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, 0);
    Put32(out, s);
    Put32(out, 3780);
    Put32(out, 3780);
    Put32(out, 0);
    Put32(out, 0);
    const std::uint8_t tag = test_engine::AddressTag(address);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) Put32(out, test_engine::GradientPixel(tag, x, y));
    return out;
}

std::vector<PageVisit> Visits(const std::vector<test_engine::Call>& calls) {
    std::vector<PageVisit> visits;
    for (const test_engine::Call& call : calls) {
        if (call.thread != 1) continue;
        if (call.entry == "wkeLoadURLW" && call.args.size() == 2) {
            visits.emplace_back().address = test_engine::Unquote(call.args[1]);
        } else if (visits.empty()) {
            continue;
        } else if (call.entry == "wkeIsLoadComplete") {
            ++visits.back().polls;
        } else if (call.entry == "wkeReload") {
            visits.back().reloadPolls.push_back(visits.back().polls + 1);
        } else if (call.entry == "wkeRunJS" && call.args.size() == 2 &&
                   call.args[1].find("overflow='hidden'") != std::string::npos) {
            visits.back().captured = true;
        }
    }
    return visits;
}

void GuiTest::Launch(const std::wstring& program, std::string_view script) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    scratch_ = FreshFolder(Widen(std::string(info->test_suite_name()) + "." + info->name()));
    const std::wstring scriptPath = scratch_ + L"\\engine.script";
    logPath_ = scratch_ + L"\\engine.log";
    ASSERT_TRUE(WriteBytes(scriptPath, AsBytes(script)));

    UnmanagedUnderWine(program);
    driver::LaunchOptions options;
    options.folder = TestFolder();
    options.program = program;
    options.environment = {{test_engine::kScriptVariable, scriptPath}, {test_engine::kLogVariable, logPath_}};
    DWORD error = 0;
    program_ = driver::Program::Start(options, &error);
    ASSERT_TRUE(program_) << "cannot start the program, error " << error;
    c_.window = program_->WaitForMainWindow();
    ASSERT_NE(c_.window, nullptr) << "no main window";

    HWND w = c_.window;
    c_.start = driver::FindByText(w, L"开始任务", L"Button");
    c_.stop = driver::FindByText(w, L"停止任务", L"Button");
    c_.import = driver::FindByText(w, L"导入文本", L"Button");
    c_.browse = driver::FindByText(w, L"浏览...", L"Button");
    c_.visit = driver::FindByText(w, L"访问", L"Button");
    c_.snapshot = driver::FindByText(w, L"截图", L"Button");
    c_.sequence = driver::FindByText(w, L"序号", L"Button");
    c_.md5 = driver::FindByText(w, L"MD5 Hash", L"Button");
    c_.title = driver::FindByText(w, L"网页标题", L"Button");
    c_.time = driver::FindByText(w, L"截图时间", L"Button");
    c_.status = driver::ControlAt(w, L"Static", 354, 5);
    c_.saveFolder = driver::ControlAt(w, L"Edit", 80, 539);
    c_.list = driver::ControlAt(w, L"Edit", 8, 36);
    for (HWND control : {c_.start, c_.stop, c_.import, c_.browse, c_.visit, c_.snapshot, c_.sequence, c_.md5,
                         c_.title, c_.time, c_.status, c_.saveFolder, c_.list})
        ASSERT_NE(control, nullptr) << "a control of the main window is missing";
}

void GuiTest::TearDown() {
    if (!program_) return;
    if (program_->Running()) {
        // A test that failed half-way may have left a dialog open.
        for (HWND dialog : driver::Dialogs(program_->Id()))
            if (!driver::PressButton(dialog, IDCANCEL, 5000)) driver::PressButton(dialog, IDOK, 5000);
        program_->Close();
        std::optional<int> code = program_->WaitForExit();
        if (!HasFailure()) {
            EXPECT_EQ(code, std::optional<int>(0)) << "the program did not end normally";
        }
    }
    program_.reset();
}

std::vector<test_engine::Call> GuiTest::Calls() const {
    return test_engine::ParseCalls(test_engine::ReadLogFile(logPath_));
}

std::string GuiTest::StatusGbk() const { return driver::ToGbk(driver::Text(c_.status)); }
std::string GuiTest::ListGbk() const { return driver::ToGbk(driver::Text(c_.list)); }
std::wstring GuiTest::SaveFolderText() const { return driver::Text(c_.saveFolder); }

void GuiTest::SetList(const std::wstring& text) {
    ASSERT_TRUE(driver::SetText(c_.list, text));
    ASSERT_EQ(driver::Text(c_.list), text);
}

void GuiTest::SetSaveFolder(const std::wstring& folder) {
    ASSERT_TRUE(driver::SetText(c_.saveFolder, folder));
    ASSERT_EQ(SaveFolderText(), folder);
}

void GuiTest::SetOptions(bool sequence, bool md5, bool title, bool time) {
    ASSERT_TRUE(driver::SetChecked(c_.sequence, sequence));
    ASSERT_TRUE(driver::SetChecked(c_.md5, md5));
    ASSERT_TRUE(driver::SetChecked(c_.title, title));
    ASSERT_TRUE(driver::SetChecked(c_.time, time));
}

void GuiTest::RunBatch(const std::wstring& list, DWORD timeoutMs) {
    ASSERT_NO_FATAL_FAILURE(SetList(list));
    ASSERT_TRUE(driver::Click(c_.start));
    std::optional<driver::MessageBoxInfo> box = program_->WaitForMessageBox(L"完成！", timeoutMs);
    ASSERT_TRUE(box) << "the batch did not finish";
    EXPECT_EQ(box->text, L"完成！");
    EXPECT_EQ(box->caption, L"信息：");
    ASSERT_NO_FATAL_FAILURE(Dismiss(*box));
}

std::optional<driver::MessageBoxInfo> GuiTest::WaitForBox(std::wstring_view part) const {
    return program_->WaitForMessageBox(part);
}

HWND GuiTest::WaitForDialog() const {
    HWND dialog = nullptr;
    driver::WaitUntil([&] {
        std::vector<HWND> dialogs = driver::Dialogs(program_->Id());
        dialog = dialogs.empty() ? nullptr : dialogs.front();
        return dialog != nullptr;
    });
    return dialog;
}

void GuiTest::Dismiss(const driver::MessageBoxInfo& box) {
    ASSERT_TRUE(driver::PressButton(box.window, IDOK));
    ASSERT_TRUE(driver::WaitUntil([&] { return driver::IsEnabled(c_.window); }));
}

RemoteTree::RemoteTree(DWORD processId, HWND tree)
    : tree_(tree),
      process_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId)) {
    if (process_) memory_ = VirtualAllocEx(process_, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

RemoteTree::~RemoteTree() {
    if (memory_) VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
}

namespace {
LRESULT SendTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result)) return 0;
    return static_cast<LRESULT>(result);
}
}  // namespace

HTREEITEM RemoteTree::Root() const {
    return reinterpret_cast<HTREEITEM>(SendTo(tree_, TVM_GETNEXTITEM, TVGN_ROOT, 0));
}

std::vector<HTREEITEM> RemoteTree::Children(HTREEITEM item) const {
    SendTo(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    std::vector<HTREEITEM> children;
    for (auto child = reinterpret_cast<HTREEITEM>(SendTo(tree_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
         child; child = reinterpret_cast<HTREEITEM>(SendTo(tree_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(child))))
        children.push_back(child);
    return children;
}

std::wstring RemoteTree::ItemText(HTREEITEM item) const {
    if (!memory_) return std::wstring();
    constexpr size_t kTextOffset = 512;
    constexpr int kTextUnits = 1024;
    auto* remoteText = reinterpret_cast<wchar_t*>(static_cast<char*>(memory_) + kTextOffset);
    TVITEMW request{};
    request.mask = TVIF_TEXT | TVIF_HANDLE;
    request.hItem = item;
    request.pszText = remoteText;
    request.cchTextMax = kTextUnits;
    SIZE_T done = 0;
    wchar_t zero = 0;
    if (!WriteProcessMemory(process_, memory_, &request, sizeof request, &done) ||
        !WriteProcessMemory(process_, remoteText, &zero, sizeof zero, &done))
        return std::wstring();
    if (!SendTo(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(memory_))) return std::wstring();
    std::wstring text(kTextUnits, L'\0');
    if (!ReadProcessMemory(process_, remoteText, text.data(), (text.size() - 1) * sizeof(wchar_t), &done))
        return std::wstring();
    text.resize(wcslen(text.c_str()));
    return text;
}

HTREEITEM RemoteTree::Find(const std::vector<std::wstring>& parts) const {
    HTREEITEM item = Root();
    for (const std::wstring& part : parts) {
        HTREEITEM next = nullptr;
        for (HTREEITEM child : Children(item))
            if (ItemText(child).find(part) != std::wstring::npos) {
                next = child;
                break;
            }
        if (!next) return nullptr;
        item = next;
    }
    return item;
}

bool RemoteTree::Select(HTREEITEM item) const {
    return SendTo(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0;
}

}  // namespace main_job
