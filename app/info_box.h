#pragma once

#include "base/text.h"

// A message box captioned "信息：" with one OK button, modal for the UI thread.
void ShowInfoBox(const Text& message);
