// Linked only into a test build of the program: memory looks short (an imported list may take
// 1 MiB, a capture 64 MiB) and batches wait in short steps, so the paths taken when memory runs
// out are seen through the window without exhausting the machine.
#include "app/batch_capture.h"
#include "app/url_import.h"
#include "webview/capture_memory.h"

namespace {
const bool kShortOfMemory = (g_waitStepMilliseconds = 20, g_importMemoryLimit = std::size_t{1} << 20,
                             SetCaptureMemoryLimit(std::size_t{64} << 20), true);
}  // namespace
