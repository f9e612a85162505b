// Window input as the DevTools protocol's input events: key names, modifiers, mouse actions and
// typed characters. Pure: the caller reads the keyboard state and sends the result.
#pragma once

#include <cstdint>
#include <string>

namespace wkechr::input {

// Modifier bits of the protocol.
inline constexpr int kAlt = 1, kControl = 2, kMeta = 4, kShift = 8;

struct KeyName {
    std::string key;   // "a", "Enter", "ArrowLeft"; "Unidentified" when unknown
    std::string code;  // "KeyA", "Enter"; empty when unknown
};
// A Windows virtual-key code (low byte) as the protocol's key and code names.
KeyName KeyNameFor(unsigned virtualKey, bool shift);

struct KeyboardState {
    bool alt = false, control = false, meta = false, shift = false;
};
int ModifiersFrom(const KeyboardState& keys);
// The engine's mouse flags (8 control, 4 shift) as modifiers.
int ModifiersFromMouseFlags(unsigned flags);

struct MouseAction {
    bool known = false;
    const char* type = "";       // "mouseMoved", "mousePressed", "mouseReleased"
    const char* button = "none";  // "left", "right", "middle", "none"
    int buttons = 0;              // pressed buttons: 1 left, 2 right, 4 middle
    int clickCount = 0;
};
// A mouse window message with the engine's flags (1 left, 2 right, 16 middle). `clickCount` is
// the view's memory of the last press: a press sets it to 1, a double click to 2.
MouseAction MapMouse(unsigned message, unsigned flags, int& clickCount);

// A typed character (a UTF-16 unit or a code point) as UTF-16 text. A high surrogate is held in
// `pendingHigh` until its low half comes. Empty: nothing to type (a control character other than
// Enter, which its key-down already did, or a broken pair).
std::u16string TypedText(uint32_t charCode, char16_t& pendingHigh);

}  // namespace wkechr::input
