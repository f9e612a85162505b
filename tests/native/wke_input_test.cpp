// Window input mapped to the protocol's input events.
#include <gtest/gtest.h>

#include "input_mapping.h"

using namespace wkechr::input;

TEST(InputMapping, KeyNames) {
    struct Case {
        unsigned vk;
        bool shift;
        const char* key;
        const char* code;
    } cases[] = {
        {'A', false, "a", "KeyA"},       {'A', true, "A", "KeyA"},          {'7', false, "7", "Digit7"},
        {0x70, false, "F1", "F1"},       {0x87, false, "F24", "F24"},       {0x63, false, "3", "Numpad3"},
        {0x0D, false, "Enter", "Enter"}, {0x20, false, " ", "Space"},        {0x25, false, "ArrowLeft", "ArrowLeft"},
        {0x10, false, "Shift", "ShiftLeft"}, {0x141, false, "a", "KeyA"},  // only the low byte counts
        {0xFF, false, "Unidentified", ""},
    };
    for (const auto& c : cases) {
        KeyName name = KeyNameFor(c.vk, c.shift);
        EXPECT_EQ(name.key, c.key) << c.vk;
        EXPECT_EQ(name.code, c.code) << c.vk;
    }
}

TEST(InputMapping, Modifiers) {
    EXPECT_EQ(ModifiersFrom({}), 0);
    EXPECT_EQ(ModifiersFrom({true, true, true, true}), kAlt | kControl | kMeta | kShift);
    EXPECT_EQ(ModifiersFromMouseFlags(8), kControl);
    EXPECT_EQ(ModifiersFromMouseFlags(4), kShift);
    EXPECT_EQ(ModifiersFromMouseFlags(1 | 2 | 16), 0);  // buttons are no modifiers
}

TEST(InputMapping, MouseMessages) {
    struct Case {
        unsigned message;
        unsigned flags;
        bool known;
        std::string type;
        std::string button;
        int buttons;
        int clickCount;
    } cases[] = {
        {0x200, 0, true, "mouseMoved", "none", 0, 0},
        {0x200, 16, true, "mouseMoved", "middle", 4, 0},
        {0x201, 1, true, "mousePressed", "left", 1, 1},
        {0x202, 0, true, "mouseReleased", "left", 0, 1},
        {0x203, 1, true, "mousePressed", "left", 1, 2},  // double click
        {0x202, 0, true, "mouseReleased", "left", 0, 2},  // its release keeps the count
        {0x204, 2, true, "mousePressed", "right", 2, 1},
        {0x208, 0, true, "mouseReleased", "middle", 0, 1},
        {0x20A, 0, false, "", "none", 0, 0},  // the wheel is not a button message
    };
    int clickCount = 0;
    for (const auto& c : cases) {
        MouseAction action = MapMouse(c.message, c.flags, clickCount);
        EXPECT_EQ(action.known, c.known) << std::hex << c.message;
        EXPECT_EQ(action.type, c.type) << std::hex << c.message;
        EXPECT_EQ(action.button, c.button) << std::hex << c.message;
        EXPECT_EQ(action.buttons, c.buttons) << std::hex << c.message;
        EXPECT_EQ(action.clickCount, c.clickCount) << std::hex << c.message;
    }
}

TEST(InputMapping, TypedCharacters) {
    char16_t pending = 0;
    EXPECT_EQ(TypedText('a', pending), u"a");
    EXPECT_EQ(TypedText('\r', pending), u"\r");
    EXPECT_EQ(TypedText(0x08, pending), u"") << "Backspace is its key-down's business";
    EXPECT_EQ(TypedText(0x4E2D, pending), u"\u4E2D");
    EXPECT_EQ(TypedText(0x1F600, pending), u"\U0001F600");
    // A pair sent as two units, and a low half without its high half.
    EXPECT_EQ(TypedText(0xD83D, pending), u"");
    EXPECT_EQ(TypedText(0xDE00, pending), u"\U0001F600");
    EXPECT_EQ(TypedText(0xDE00, pending), u"");
    EXPECT_EQ(TypedText(0x110000, pending), u"");
}
