// Linked only into the test build of the program: batches wait in short steps, so a test of the
// reload and give-up counts does not take minutes.
#include "app/batch_capture.h"

namespace {
const bool kShortStep = (g_waitStepMilliseconds = 20, true);
}  // namespace
