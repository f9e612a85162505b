#include "input_mapping.h"

namespace wkechr::input {

namespace {

// Windows virtual-key codes and message numbers used here.
enum : unsigned {
    kVkBack = 0x08, kVkTab = 0x09, kVkReturn = 0x0D, kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12,
    kVkCapital = 0x14, kVkEscape = 0x1B, kVkSpace = 0x20, kVkPrior = 0x21, kVkNext = 0x22, kVkEnd = 0x23,
    kVkHome = 0x24, kVkLeft = 0x25, kVkUp = 0x26, kVkRight = 0x27, kVkDown = 0x28, kVkInsert = 0x2D,
    kVkDelete = 0x2E, kVkLWin = 0x5B, kVkRWin = 0x5C, kVkApps = 0x5D, kVkNumpad0 = 0x60, kVkNumpad9 = 0x69,
    kVkF1 = 0x70, kVkF24 = 0x87,
};
enum : unsigned {
    kMouseMove = 0x200, kLButtonDown = 0x201, kLButtonUp = 0x202, kLButtonDblClk = 0x203, kRButtonDown = 0x204,
    kRButtonUp = 0x205, kRButtonDblClk = 0x206, kMButtonDown = 0x207, kMButtonUp = 0x208, kMButtonDblClk = 0x209,
};
enum : unsigned { kFlagLeft = 1, kFlagRight = 2, kFlagShift = 4, kFlagControl = 8, kFlagMiddle = 16 };

}  // namespace

KeyName KeyNameFor(unsigned vk, bool shift) {
    vk &= 0xFF;
    if (vk >= 'A' && vk <= 'Z') {
        char c = static_cast<char>(shift ? vk : vk - 'A' + 'a');
        return {std::string(1, c), std::string("Key") + static_cast<char>(vk)};
    }
    if (vk >= '0' && vk <= '9') return {std::string(1, static_cast<char>(vk)), std::string("Digit") + static_cast<char>(vk)};
    if (vk >= kVkF1 && vk <= kVkF24) {
        std::string name = "F";
        name += std::to_string(vk - kVkF1 + 1);
        return {name, name};
    }
    if (vk >= kVkNumpad0 && vk <= kVkNumpad9) {
        char c = static_cast<char>('0' + vk - kVkNumpad0);
        return {std::string(1, c), std::string("Numpad") + c};
    }
    switch (vk) {
    case kVkReturn: return {"Enter", "Enter"};
    case kVkTab: return {"Tab", "Tab"};
    case kVkBack: return {"Backspace", "Backspace"};
    case kVkEscape: return {"Escape", "Escape"};
    case kVkSpace: return {" ", "Space"};
    case kVkLeft: return {"ArrowLeft", "ArrowLeft"};
    case kVkRight: return {"ArrowRight", "ArrowRight"};
    case kVkUp: return {"ArrowUp", "ArrowUp"};
    case kVkDown: return {"ArrowDown", "ArrowDown"};
    case kVkDelete: return {"Delete", "Delete"};
    case kVkInsert: return {"Insert", "Insert"};
    case kVkHome: return {"Home", "Home"};
    case kVkEnd: return {"End", "End"};
    case kVkPrior: return {"PageUp", "PageUp"};
    case kVkNext: return {"PageDown", "PageDown"};
    case kVkShift: return {"Shift", "ShiftLeft"};
    case kVkControl: return {"Control", "ControlLeft"};
    case kVkMenu: return {"Alt", "AltLeft"};
    case kVkCapital: return {"CapsLock", "CapsLock"};
    case kVkLWin: return {"Meta", "MetaLeft"};
    case kVkRWin: return {"Meta", "MetaRight"};
    case kVkApps: return {"ContextMenu", "ContextMenu"};
    default: return {"Unidentified", ""};
    }
}

int ModifiersFrom(const KeyboardState& keys) {
    return (keys.alt ? kAlt : 0) | (keys.control ? kControl : 0) | (keys.meta ? kMeta : 0) | (keys.shift ? kShift : 0);
}

int ModifiersFromMouseFlags(unsigned flags) {
    return ((flags & kFlagControl) ? kControl : 0) | ((flags & kFlagShift) ? kShift : 0);
}

MouseAction MapMouse(unsigned message, unsigned flags, int& clickCount) {
    MouseAction action;
    action.known = true;
    switch (message) {
    case kMouseMove: action.type = "mouseMoved"; break;
    case kLButtonDown: case kLButtonDblClk: action.type = "mousePressed"; action.button = "left"; break;
    case kLButtonUp: action.type = "mouseReleased"; action.button = "left"; break;
    case kRButtonDown: case kRButtonDblClk: action.type = "mousePressed"; action.button = "right"; break;
    case kRButtonUp: action.type = "mouseReleased"; action.button = "right"; break;
    case kMButtonDown: case kMButtonDblClk: action.type = "mousePressed"; action.button = "middle"; break;
    case kMButtonUp: action.type = "mouseReleased"; action.button = "middle"; break;
    default: return MouseAction{};
    }
    action.buttons = ((flags & kFlagLeft) ? 1 : 0) | ((flags & kFlagRight) ? 2 : 0) | ((flags & kFlagMiddle) ? 4 : 0);
    if (message == kMouseMove) {
        action.button = (flags & kFlagLeft) ? "left" : (flags & kFlagRight) ? "right" : (flags & kFlagMiddle) ? "middle" : "none";
        return action;
    }
    if (message == kLButtonDown || message == kRButtonDown || message == kMButtonDown) clickCount = 1;
    if (message == kLButtonDblClk || message == kRButtonDblClk || message == kMButtonDblClk) clickCount = 2;
    action.clickCount = clickCount > 1 ? clickCount : 1;
    return action;
}

std::u16string TypedText(uint32_t charCode, char16_t& pendingHigh) {
    if (charCode >= 0xD800 && charCode <= 0xDBFF) {
        pendingHigh = static_cast<char16_t>(charCode);
        return {};
    }
    std::u16string text;
    if (charCode >= 0xDC00 && charCode <= 0xDFFF) {
        if (!pendingHigh) return {};
        text += pendingHigh;
    }
    pendingHigh = 0;
    if ((charCode < 0x20 && charCode != '\r') || charCode > 0x10FFFF) return {};
    if (charCode >= 0x10000) {
        text += static_cast<char16_t>(0xD800 + ((charCode - 0x10000) >> 10));
        text += static_cast<char16_t>(0xDC00 + ((charCode - 0x10000) & 0x3FF));
    } else {
        text += static_cast<char16_t>(charCode);
    }
    return text;
}

}  // namespace wkechr::input
