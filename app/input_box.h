#pragma once

#include <windows.h>

#include <optional>

#include "base/text.h"

// A modal box with a title, an entry field preset to initial, and OK and Cancel buttons. The
// field's text on OK; nothing on Cancel.
std::optional<Text> AskText(HWND owner, const Text& title, const Text& initial);
