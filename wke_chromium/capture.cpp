#include "capture.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#endif
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#include "text.h"

namespace wkechr {

int PieceRowsFor(int width) {
    // Each capture costs the browser a fixed time on top of its pixels, so pieces are large;
    // tall single captures are not reliable, so they are not larger than this.
    const int64_t targetPixels = 6'400'000;
    int64_t rows = targetPixels / std::max(1, width);
    return static_cast<int>(std::clamp<int64_t>(rows, 64, 8192));
}

std::vector<Piece> PlanPieces(int height, int pieceRows) {
    std::vector<Piece> pieces;
    if (height <= 0) return pieces;
    pieceRows = std::max(1, pieceRows);
    for (int top = 0; top < height; top += pieceRows) pieces.push_back({top, std::min(pieceRows, height - top)});
    return pieces;
}

void FillWhite(uint8_t* dest, int width, int rows, size_t pitch) {
    if (!dest || width <= 0) return;
    for (int y = 0; y < rows; ++y) std::memset(dest + static_cast<size_t>(y) * pitch, 0xFF, static_cast<size_t>(width) * 4);
}

void BlitRgbaToBgra(const uint8_t* rgba, int imageWidth, int imageHeight, uint8_t* dest, int width, int rows,
                    size_t pitch) {
    if (!dest || width <= 0 || rows <= 0) return;
    const int copyRows = rgba ? std::min(rows, std::max(0, imageHeight)) : 0;
    const int copyCols = std::min(width, std::max(0, imageWidth));
    for (int y = 0; y < copyRows; ++y) {
        const uint8_t* src = rgba + static_cast<size_t>(y) * static_cast<size_t>(imageWidth) * 4;
        uint8_t* out = dest + static_cast<size_t>(y) * pitch;
        for (int x = 0; x < copyCols; ++x) {
            uint32_t p;
            std::memcpy(&p, src + 4 * x, 4);
            // R,G,B,A in memory -> B,G,R,A: swap the first and third bytes.
            p = (p & 0xFF00FF00u) | ((p & 0x000000FFu) << 16) | ((p >> 16) & 0x000000FFu);
            std::memcpy(out + 4 * x, &p, 4);
        }
        if (copyCols < width) std::memset(out + 4 * copyCols, 0xFF, static_cast<size_t>(width - copyCols) * 4);
    }
    if (copyRows < rows) FillWhite(dest + static_cast<size_t>(copyRows) * pitch, width, rows - copyRows, pitch);
}

bool DecodePng(const std::string& png, std::vector<uint8_t>& rgba, int& width, int& height) {
    if (png.empty() || png.size() > 0x7FFFFFFF) return false;
    int channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), static_cast<int>(png.size()),
                                            &width, &height, &channels, 4);
    if (!pixels) return false;
    rgba.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    stbi_image_free(pixels);
    return true;
}

namespace {

// Decodes straight from base64 into the destination rows without keeping the whole image twice.
bool DecodePieceInto(const std::string& base64, uint8_t* dest, int width, int rows, size_t pitch) {
    std::string png;
    int channels = 0, w = 0, h = 0;
    stbi_uc* pixels = nullptr;
    if (Base64Decode(base64, png) && png.size() <= 0x7FFFFFFF)
        pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), static_cast<int>(png.size()), &w,
                                       &h, &channels, 4);
    if (!pixels) {
        FillWhite(dest, width, rows, pitch);
        return false;
    }
    std::string().swap(png);
    BlitRgbaToBgra(pixels, w, h, dest, width, rows, pitch);
    stbi_image_free(pixels);
    return w == width && h == rows;
}

}  // namespace

bool CaptureFrame(Session& session, const std::string& sessionId, const CaptureRequest& request) {
    const int width = request.width, height = request.height;
    if (!request.dest || width <= 0 || height <= 0) return false;
    const double zoom = request.zoom > 0 ? request.zoom : 1.0;
    const std::vector<Piece> pieces = PlanPieces(height, request.pieceRows > 0 ? request.pieceRows : PieceRowsFor(width));
    // The browser takes one clipped capture at a time: a clip is applied by moving the page's
    // viewport, so clips requested together come back with each other's rows. The next piece is
    // asked for as soon as the previous answer arrives, while decoders work on the earlier ones.
    const int window = request.inFlight > 0 ? request.inFlight : 1;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const int decoders = static_cast<int>(std::clamp<unsigned>(cores, 1, sizeof(void*) == 8 ? 8 : 2));
    const int queueLimit = decoders + 1;  // bounds memory: answers waiting for a decoder
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        std::deque<std::pair<size_t, Reply>> ready;
        size_t finished = 0;
        int awaiting = 0;  // asked for, not answered
        int answered = 0;  // answered, not yet decoded
        bool stop = false;
        std::atomic<bool> allGood{true};
    };
    auto shared = std::make_shared<Shared>();

    auto rowPtr = [&](int y) { return request.dest + static_cast<size_t>(y) * request.pitch; };
    auto work = [&, shared] {
        for (;;) {
            std::pair<size_t, Reply> job;
            {
                std::unique_lock lock(shared->m);
                shared->cv.wait(lock, [&] { return shared->stop || !shared->ready.empty(); });
                if (shared->ready.empty()) return;
                job = std::move(shared->ready.front());
                shared->ready.pop_front();
            }
            const Piece& piece = pieces[job.first];
            bool good = false, written = false;
            if (job.second.ok()) {
                auto data = job.second.result.find("data");
                if (data != job.second.result.end() && data->is_string()) {
                    const std::string& text = data->get_ref<const std::string&>();
                    good = DecodePieceInto(text, rowPtr(piece.top), width, piece.rows, request.pitch);
                    written = true;
                }
            }
            if (!good) {
                shared->allGood = false;
                if (!written) FillWhite(rowPtr(piece.top), width, piece.rows, request.pitch);
            }
            job.second = Reply{};
            {
                std::lock_guard lock(shared->m);
                ++shared->finished;
                --shared->answered;
            }
            shared->cv.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < decoders; ++i) threads.emplace_back(work);

    size_t next = 0;
    {
        std::unique_lock lock(shared->m);
        while (shared->finished < pieces.size()) {
            while (next < pieces.size() && shared->awaiting < window && shared->answered < queueLimit) {
                const Piece& piece = pieces[next];
                ++shared->awaiting;
                size_t index = next++;
                json clip = {{"x", request.scrollX},
                             {"y", request.scrollY + piece.top / zoom},
                             {"width", width / zoom},
                             {"height", piece.rows / zoom},
                             {"scale", 1}};
                json params = {{"format", "png"}, {"clip", std::move(clip)}, {"optimizeForSpeed", true},
                               {"captureBeyondViewport", false}, {"fromSurface", true}};
                lock.unlock();
                session.Send("Page.captureScreenshot", std::move(params), sessionId, request.deadline,
                             [shared, index](Reply reply) {
                                 {
                                     std::lock_guard inner(shared->m);
                                     --shared->awaiting;
                                     ++shared->answered;
                                     shared->ready.emplace_back(index, std::move(reply));
                                 }
                                 shared->cv.notify_all();
                             });
                lock.lock();
            }
            shared->cv.wait(lock, [&] {
                return shared->finished >= pieces.size() ||
                       (next < pieces.size() && shared->awaiting < window && shared->answered < queueLimit);
            });
        }
        shared->stop = true;
    }
    shared->cv.notify_all();
    for (auto& thread : threads) thread.join();
    return shared->allGood;
}

}  // namespace wkechr
