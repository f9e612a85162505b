#include "window_batch.h"

#include <cstdio>
#include <cstring>

#include "tests/driver/test_files.h"

namespace wketest {

namespace {

std::wstring ItemMarker(size_t item) { return L"正在处理第 " + std::to_wstring(item) + L" 条"; }

}  // namespace

WindowBatch::WindowBatch() {
    driver::LaunchOptions options;
    options.folder = driver::TestFolder();
    DWORD error = 0;
    program_ = driver::Program::Start(options, &error);
    if (!program_) {
        problem_ = "cannot start the program, error " + std::to_string(error);
        return;
    }
    // Generous: on a loaded machine the first start of a Wine program can take half a minute.
    window_ = program_->WaitForMainWindow(90000);
    if (!window_) {
        problem_ = "no main window";
        return;
    }
    list_ = driver::ControlAt(window_, L"Edit", 8, 36);
    folder_ = driver::ControlAt(window_, L"Edit", 80, 539);
    status_ = driver::ControlAt(window_, L"Static", 354, 5);
    start_ = driver::FindByText(window_, L"开始任务", L"Button");
    sequence_ = driver::FindByText(window_, L"序号", L"Button");
    md5_ = driver::FindByText(window_, L"MD5 Hash", L"Button");
    title_ = driver::FindByText(window_, L"网页标题", L"Button");
    time_ = driver::FindByText(window_, L"截图时间", L"Button");
    for (HWND control : {list_, folder_, status_, start_, sequence_, md5_, title_, time_})
        if (!control) problem_ = "a control of the main window is missing";
}

WindowBatch::~WindowBatch() {
    if (watch_) watch_->Stop();
    if (program_ && program_->Running())
        for (HWND dialog : driver::Dialogs(program_->Id())) driver::PressButton(dialog, IDOK, 3000);
    // The program's own destructor asks it to close and, failing that, ends it.
}

bool WindowBatch::Begin(const std::vector<std::string>& addresses, const std::wstring& saveFolder) {
    std::wstring list;
    for (const std::string& address : addresses) list += driver::FromUtf8(address) + L"\r\n";
    if (!driver::SetText(list_, list) || !driver::SetText(folder_, saveFolder + L"\\")) return false;
    if (!driver::SetChecked(sequence_, true) || !driver::SetChecked(md5_, false) || !driver::SetChecked(title_, false) ||
        !driver::SetChecked(time_, false))
        return false;
    watch_ = std::make_unique<AnswerWatch>(status_);
    return driver::Click(start_);
}

BatchEnd WindowBatch::WaitForEnd(const BatchLimits& limits) {
    BatchEnd end;
    if (!watch_) {
        end.why = "the batch was not started";
        return end;
    }
    for (;;) {
        for (HWND dialog : driver::Dialogs(program_->Id())) {
            driver::MessageBoxInfo box = driver::ReadMessageBox(dialog);
            if (box.text.find(L"完成！") == std::wstring::npos) continue;
            end.finished = driver::PressButton(dialog);
            end.elapsedMs = watch_->ElapsedMs();
            if (!end.finished) end.why = "the final box would not close";
            return end;
        }
        end.elapsedMs = watch_->ElapsedMs();
        char why[160] = {};
        if (!program_->Running())
            std::snprintf(why, sizeof why, "the program ended during the batch");
        else if (end.elapsedMs > limits.wholeMs)
            std::snprintf(why, sizeof why, "the batch did not end within %lld s", static_cast<long long>(limits.wholeMs / 1000));
        else if (watch_->SilentForMs() > limits.silentMs)
            std::snprintf(why, sizeof why, "the window has not answered for %lld s (frozen)",
                          static_cast<long long>(watch_->SilentForMs() / 1000));
        else if (watch_->TextSameForMs() > limits.oneItemMs)
            std::snprintf(why, sizeof why, "the status line has not moved for %lld s (stuck)",
                          static_cast<long long>(watch_->TextSameForMs() / 1000));
        if (why[0]) {
            end.why = std::string(why) + "; status: " + driver::ToUtf8(watch_->LastText());
            return end;
        }
        Sleep(200);
    }
}

std::vector<Probe> WindowBatch::Probes() const { return watch_ ? watch_->Probes() : finalProbes_; }

std::vector<std::int64_t> WindowBatch::ItemStarts(size_t items) const {
    std::vector<std::int64_t> starts(items, -1);
    for (const Probe& probe : Probes())
        for (size_t i = 0; i < items; ++i)
            if (starts[i] < 0 && probe.answered && probe.text.find(ItemMarker(i + 1)) != std::wstring::npos)
                starts[i] = probe.atMs;
    return starts;
}

std::optional<int> WindowBatch::Close(DWORD timeoutMs) {
    if (watch_) {
        watch_->Stop();
        finalProbes_ = watch_->Probes();
        watch_.reset();
    }
    if (!program_ || !program_->Close()) return std::nullopt;
    return program_->WaitForExit(timeoutMs);
}

std::uint32_t StoredImage::At(int x, int y) const {
    const std::uint8_t* p = &bytes[54 + (static_cast<size_t>(y) * width + x) * 4];
    return static_cast<std::uint32_t>(p[2]) << 16 | p[1] << 8 | p[0];
}

StoredImage ReadStoredImage(const std::wstring& path) {
    StoredImage image;
    std::optional<std::vector<std::uint8_t>> file = driver::ReadBytes(path);
    if (!file) {
        image.problem = "no such file";
        return image;
    }
    image.bytes = std::move(*file);
    const std::vector<std::uint8_t>& b = image.bytes;
    auto u32 = [&](size_t at) {
        std::uint32_t v;
        std::memcpy(&v, &b[at], 4);
        return v;
    };
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') {
        image.problem = "not a BMP (" + std::to_string(b.size()) + " bytes)";
        return image;
    }
    std::int32_t width, height;
    std::memcpy(&width, &b[18], 4);
    std::memcpy(&height, &b[22], 4);
    const std::uint16_t bits = static_cast<std::uint16_t>(b[28] | b[29] << 8);
    if (u32(10) != 54 || u32(14) != 40 || bits != 32 || width <= 0 || height >= 0) {
        image.problem = "not a 32-bit top-down BMP";
        return image;
    }
    image.width = width;
    image.height = -height;
    const std::uint64_t expected = 54 + static_cast<std::uint64_t>(image.width) * image.height * 4;
    if (b.size() != expected || u32(2) != expected)
        image.problem = "its size (" + std::to_string(b.size()) + ") does not match " + std::to_string(image.width) +
                        " x " + std::to_string(image.height);
    return image;
}

bool NearColour(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (d > tolerance || d < -tolerance) return false;
    }
    return true;
}

std::string Hex(std::uint32_t colour) {
    char text[12];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(colour));
    return text;
}

}  // namespace wketest
