// Quorlane with the real browser against pages that misbehave, driven through its window. The
// window must answer within a second throughout, every address must give a stored snapshot, and
// the program must end with exit code 0. A second case kills the browser in the middle of a load:
// the snapshot of that page must still show it.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "hostile_pages.h"
#include "linux_processes.h"
#include "tests/driver/driver.h"
#include "tests/driver/test_files.h"
#include "window_batch.h"

namespace {

// Probes in a row that may go unanswered (about seconds of a window standing still).
constexpr size_t kMostMissesInARow = 5;

using wketest::HostilePages;
using wketest::HostileRoute;
using wketest::StoredImage;

std::wstring StoredPath(const std::wstring& folder, size_t item) {
    return folder + L"\\" + std::to_wstring(item) + L".jpg";
}

// A stored image shows a colour when its corner and its middle (within the first 600 rows) do.
bool Shows(const StoredImage& image, std::uint32_t colour, std::string& seen) {
    const std::uint32_t corner = image.At(10, 10);
    const std::uint32_t middle = image.At(image.width / 2, image.height > 600 ? 500 : image.height / 2);
    seen = wketest::Hex(corner) + "/" + wketest::Hex(middle);
    return wketest::NearColour(corner, colour) && wketest::NearColour(middle, colour);
}

void ExpectShows(const std::wstring& path, const std::vector<std::uint32_t>& colours, const std::string& row) {
    const StoredImage image = wketest::ReadStoredImage(path);
    ASSERT_TRUE(image.problem.empty()) << row << ": the stored file " << driver::ToUtf8(path) << ": " << image.problem;
    if (colours.empty()) return;
    std::string seen, wanted;
    for (std::uint32_t colour : colours) {
        if (Shows(image, colour, seen)) return;
        wanted += (wanted.empty() ? "" : " or ") + wketest::Hex(colour);
    }
    ADD_FAILURE() << row << ": the snapshot (" << image.width << " x " << image.height << ") shows " << seen
                  << " (corner/middle), not the page's " << wanted;
}

void PrintTimes(const std::vector<std::string>& names, const std::vector<std::int64_t>& starts, std::int64_t endMs) {
    for (size_t i = 0; i < names.size(); ++i) {
        std::int64_t next = endMs;
        for (size_t k = i + 1; k < starts.size(); ++k)
            if (starts[k] >= 0) {
                next = starts[k];
                break;
            }
        if (starts[i] < 0)
            printf("  %2zu %-26s not reached\n", i + 1, names[i].c_str());
        else
            printf("  %2zu %-26s %5.1f s\n", i + 1, names[i].c_str(), (next - starts[i]) / 1000.0);
    }
}

// ---- the hostile pages --------------------------------------------------------------------------

struct HostileRow {
    const char* name;
    const char* path;
    // What the snapshot may show (0xRRGGBB); empty: any valid snapshot will do.
    std::vector<std::uint32_t> colours;
};

// Each row whose snapshot may show anything is followed by one whose colour is checked, so a row
// that breaks the engine for the next page shows there. The slow rows are "refresh" (it may never
// count as loaded) and "never finishes": each may take the batch's whole patience (60 one-second
// waits); every other row takes a few seconds, so the table takes about three minutes.
const std::vector<HostileRow> kRows = {
    {"refreshes at once", "/refresh.html", {0x3C78B4}},
    {"redirects in a loop", "/loop/a", {}},
    {"answers 404", "/missing.html", {0xB43C78}},
    {"downloads", "/download.bin", {}},
    {"answers 500", "/broken.html", {0x78B43C}},
    {"closes its window", "/close.html", {}},
    {"opens dialogs", "/dialogs.html", {0xA05A5A}},
    {"navigates away", "/away.html", {0x5AA05A, 0x2D2D8C}},
    {"grows without end", "/grow.html", {0x8C2D2D}},
    {"never finishes", "/never.html", {0x2D8C2D}},
    {"plain", "/plain.html", {0x646496}},
};

// QUORLANE_HOSTILE_ROWS="3,7" runs only those rows (numbered from 1), to look at one page's fault.
std::vector<size_t> SelectedRows() {
    std::vector<size_t> rows;
    char value[256];
    const DWORD n = GetEnvironmentVariableA("QUORLANE_HOSTILE_ROWS", value, sizeof value);
    if (n > 0 && n < sizeof value) {
        for (const char* p = value; *p;) {
            char* end = nullptr;
            const unsigned long row = std::strtoul(p, &end, 10);
            if (end == p) {
                ++p;
                continue;
            }
            if (row >= 1 && row <= kRows.size()) rows.push_back(row - 1);
            p = end;
        }
    }
    if (rows.empty())
        for (size_t i = 0; i < kRows.size(); ++i) rows.push_back(i);
    return rows;
}

std::string DownloadName(const HostilePages& pages) { return "hostile-" + std::to_string(pages.Port()) + ".bin"; }

void AddHostilePages(HostilePages& pages) {
    using wketest::ColourPage;
    pages.AddPage("/refresh.html", ColourPage(0x3C78B4, "refresh", "<meta http-equiv='refresh' content='0'>"));
    pages.AddRedirect("/loop/a", "/loop/b");
    pages.AddRedirect("/loop/b", "/loop/a");

    HostileRoute missing;
    missing.status = 404;
    missing.body = ColourPage(0xB43C78, "missing");
    pages.Add("/missing.html", missing);
    HostileRoute broken;
    broken.status = 500;
    broken.body = ColourPage(0x78B43C, "broken");
    pages.Add("/broken.html", broken);

    HostileRoute download;
    download.headers = "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"" +
                       DownloadName(pages) + "\"\r\n";
    download.body.assign(65536, 'q');
    pages.Add("/download.bin", download);

    pages.AddPage("/close.html",
                  ColourPage(0x5A5AA0, "close", "<script>addEventListener('load', function () { window.close(); });"
                                                "setTimeout(function () { window.close(); }, 0);</script>"));
    // Dialogs before the page is even parsed, then one every few tenths of a second, and a
    // question on leaving.
    pages.AddPage("/dialogs.html",
                  ColourPage(0xA05A5A, "dialogs",
                             "<script>alert('at once'); confirm('sure?'); prompt('name?', 'x');"
                             "addEventListener('load', function () { setInterval(function () { alert('again'); }, 300); });"
                             "addEventListener('beforeunload', function (e) { e.preventDefault(); e.returnValue = 'stay'; });"
                             "</script>"));
    pages.AddPage("/away.html",
                  ColourPage(0x5AA05A, "away", "<script>addEventListener('load', function () {"
                                               " setTimeout(function () { location.href = '/landing.html'; }, 500); });"
                                               "</script>"));
    pages.AddPage("/landing.html", ColourPage(0x2D2D8C, "landing"));
    // Two thousand rows a second, for as long as the page is open.
    pages.AddPage("/grow.html",
                  ColourPage(0x8C2D2D, "grow", {},
                             "<script>setInterval(function () { var d = document.createElement('div');"
                             " d.style.height = '100px'; d.textContent = 'more'; document.body.appendChild(d); }, 50);"
                             "</script>"));
    // The head and the start of the body, then nothing: the connection stays open for good.
    HostileRoute never;
    never.body = "<!DOCTYPE html><html style='background:#2d8c2d'><head><title>never</title></head>"
                 "<body style='margin:0'><div style='height:1000px'></div><!--" +
                 std::string(4096, ' ') + "-->";
    never.neverEnds = true;
    pages.Add("/never.html", never);
    pages.AddPage("/plain.html", ColourPage(0x646496, "plain"));
}

// Where the browser would have put a download it did not refuse.
std::vector<std::wstring> DownloadPlaces(const std::string& name) {
    std::vector<std::wstring> places;
    wchar_t value[1024];
    DWORD n = GetEnvironmentVariableW(L"HOME", value, 1024);
    if (n > 0 && n < 1024 && value[0] == L'/') {
        std::wstring home = L"Z:" + std::wstring(value, n);
        for (auto& c : home)
            if (c == L'/') c = L'\\';
        places.push_back(home + L"\\Downloads\\" + driver::FromUtf8(name));
    }
    n = GetEnvironmentVariableW(L"USERPROFILE", value, 1024);
    if (n > 0 && n < 1024) places.push_back(std::wstring(value, n) + L"\\Downloads\\" + driver::FromUtf8(name));
    return places;
}

}  // namespace

TEST(HostilePagesWithChromium, WindowAnswersAndEveryPageIsStored) {
    HostilePages pages;
    AddHostilePages(pages);
    ASSERT_TRUE(pages.Start());
    const std::wstring saveFolder = driver::FreshFolder(L"hostile");

    wketest::WindowBatch batch;
    ASSERT_TRUE(batch.Ready()) << batch.Problem();
    const std::vector<size_t> rows = SelectedRows();
    std::vector<std::string> addresses, names;
    for (size_t row : rows) {
        addresses.push_back(pages.Url(kRows[row].path));
        names.push_back(std::to_string(row + 1) + " " + kRows[row].name);
    }
    ASSERT_TRUE(batch.Begin(addresses, saveFolder));
    wketest::BatchLimits limits;
    limits.wholeMs = 330000;
    const wketest::BatchEnd end = batch.WaitForEnd(limits);
    const std::vector<std::int64_t> starts = batch.ItemStarts(rows.size());
    const std::vector<wketest::Probe> probes = batch.Probes();
    EXPECT_TRUE(end.finished) << end.why;
    const std::optional<int> exitCode = batch.Close();

    printf("time per page (%.1f s in all):\n", end.elapsedMs / 1000.0);
    PrintTimes(names, starts, end.elapsedMs);
    printf("the window: %s\n", wketest::DescribeMisses(probes).c_str());

    // Every probe is asked to answer within 1 s and every miss is listed above. What fails the
    // test is a window that stands still: the engine bounds each call on the UI thread by 2 s,
    // so a capture's few calls in a row may cost a probe or two, a frozen window costs them all.
    EXPECT_LE(wketest::LongestMissRun(probes), kMostMissesInARow)
        << "the window stood still for seconds (the misses are listed above)";
    // A batch that was cut short has reached the last page its status line showed; the rest
    // are one failure, not one each.
    size_t reached = rows.size();
    if (!end.finished) {
        reached = 0;
        for (size_t k = 0; k < starts.size(); ++k)
            if (starts[k] >= 0) reached = k + 1;
    }
    for (size_t k = 0; k < reached; ++k)
        ExpectShows(StoredPath(saveFolder, k + 1), kRows[rows[k]].colours, "row " + names[k]);
    if (reached < rows.size())
        ADD_FAILURE() << rows.size() - reached << " page(s) from row " << names[reached] << " on were never reached";
    for (const std::wstring& place : DownloadPlaces(DownloadName(pages))) {
        if (GetFileAttributesW(place.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        ADD_FAILURE() << "the download was saved as " << driver::ToUtf8(place);
        DeleteFileW(place.c_str());
    }
    EXPECT_EQ(exitCode, std::optional<int>(0)) << "the program did not end normally";
}

// ---- the browser killed in the middle of a load ----------------------------------------------------

TEST(HostilePagesWithChromium, BrowserKilledWhileAPageLoads) {
    if (!wketest::UnderWine()) GTEST_SKIP() << "the browser is reached through Linux' /proc";
    constexpr std::uint32_t kUpper = 0x1E90C8, kLower = 0xC83C1E, kNext = 0x646496;
    HostilePages pages;
    // Drawn at once, finished only five seconds later: the kill falls inside the load.
    HostileRoute slow;
    slow.body = "<!DOCTYPE html><html style='background:#c83c1e'><head><title>slow</title></head>"
                "<body style='margin:0'><div style='height:300px;background:#1e90c8'></div>"
                "<div style='height:900px'></div>";
    slow.tail = "</body></html>";
    slow.tailDelayMs = 5000;
    pages.Add("/slow.html", slow);
    pages.AddPage("/next.html", wketest::ColourPage(kNext, "next"));
    ASSERT_TRUE(pages.Start());
    const std::wstring saveFolder = driver::FreshFolder(L"browser_killed");

    const std::set<DWORD> before = wketest::BrowserPids();
    wketest::WindowBatch batch;
    ASSERT_TRUE(batch.Ready()) << batch.Problem();
    ASSERT_TRUE(batch.Begin({pages.Url("/slow.html"), pages.Url("/next.html")}, saveFolder));

    ASSERT_TRUE(driver::WaitUntil([&] { return pages.Hits("/slow.html") > 0; }, 60000))
        << "the slow page was never asked for";
    Sleep(1000);
    std::vector<DWORD> killed;
    for (DWORD pid : wketest::BrowserPids())
        if (!before.count(pid)) killed.push_back(pid);
    ASSERT_FALSE(killed.empty()) << "no browser of the program's own was found";
    for (DWORD pid : killed) printf("killing browser process %lu\n", static_cast<unsigned long>(pid));
    fflush(stdout);
    for (DWORD pid : killed) EXPECT_TRUE(wketest::KillLinuxProcess(pid)) << "browser " << pid << " did not end";
    printf("killed the browser (%zu process(es)) a second into the slow page's load\n", killed.size());
    fflush(stdout);

    // The window's answers are reported here, not judged: this case is about what gets stored.
    wketest::BatchLimits limits;
    limits.wholeMs = 150000;
    limits.silentMs = 60000;
    const wketest::BatchEnd end = batch.WaitForEnd(limits);
    const std::vector<wketest::Probe> probes = batch.Probes();
    EXPECT_TRUE(end.finished) << end.why;
    const std::optional<int> exitCode = batch.Close();
    printf("the batch took %.1f s; the slow page was asked for %d time(s)\n", end.elapsedMs / 1000.0,
           pages.Hits("/slow.html"));
    printf("the window: %s\n", wketest::DescribeMisses(probes).c_str());

    const StoredImage first = wketest::ReadStoredImage(StoredPath(saveFolder, 1));
    ASSERT_TRUE(first.problem.empty()) << "the slow page's snapshot: " << first.problem;
    const int low = first.height > 1000 ? 1000 : first.height - 1;
    EXPECT_TRUE(first.height >= 1200 && wketest::NearColour(first.At(first.width / 2, 100), kUpper) &&
                wketest::NearColour(first.At(first.width / 2, low), kLower))
        << "the slow page's snapshot (" << first.width << " x " << first.height << ") shows "
        << wketest::Hex(first.At(first.width / 2, 100)) << " at row 100 and " << wketest::Hex(first.At(first.width / 2, low))
        << " at row " << low << ", not the whole page (1200 rows) with " << wketest::Hex(kUpper) << " above row 300 and "
        << wketest::Hex(kLower) << " below";
    ExpectShows(StoredPath(saveFolder, 2), {kNext}, "the page after it");
    EXPECT_EQ(exitCode, std::optional<int>(0)) << "the program did not end normally";
}
