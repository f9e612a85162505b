// Keyboard, mouse and focus: mapped by input_mapping, sent without waiting. The keyboard state is
// read here, on the thread the input came from.
#include <windows.h>

#include "engine.h"
#include "engine_limits.h"
#include "input_mapping.h"
#include "page_scripts.h"
#include "text.h"

namespace wkechr {

namespace {

int ModifiersFromKeyboard() {
    input::KeyboardState keys;
    keys.alt = (GetKeyState(VK_MENU) & 0x8000) != 0;
    keys.control = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    keys.meta = ((GetKeyState(VK_LWIN) | GetKeyState(VK_RWIN)) & 0x8000) != 0;
    keys.shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    return input::ModifiersFrom(keys);
}

void SendInput(const std::shared_ptr<Session>& session, const std::string& sessionId, const char* method, json params) {
    session->Send(method, std::move(params), sessionId, limits::kAsyncRequestMs, nullptr);
}

}  // namespace

bool Engine::KeyEvent(View& view, const char* type, unsigned key, unsigned flags, bool systemKey) {
    Page page = PageOf(view);
    if (!page) return false;
    const int modifiers = ModifiersFromKeyboard();
    input::KeyName name = input::KeyNameFor(key, (modifiers & input::kShift) != 0);
    SendInput(page.session, page.sessionId, "Input.dispatchKeyEvent",
              {{"type", type},
               {"windowsVirtualKeyCode", key & 0xFF},
               {"nativeVirtualKeyCode", key & 0xFF},
               {"key", name.key},
               {"code", name.code},
               {"modifiers", modifiers},
               {"autoRepeat", (flags & WKE_REPEAT) != 0},
               {"isSystemKey", systemKey}});
    return true;
}

bool Engine::CharEvent(View& view, unsigned charCode, unsigned flags, bool systemKey) {
    (void)flags;
    const bool highHalf = charCode >= 0xD800 && charCode <= 0xDBFF;
    std::u16string text = input::TypedText(charCode, view.pendingHighSurrogate);
    if (highHalf) return true;
    if (text.empty()) return false;
    Page page = PageOf(view);
    if (!page) return false;
    const std::string utf8 = ToUtf8(std::wstring(text.begin(), text.end()));
    SendInput(page.session, page.sessionId, "Input.dispatchKeyEvent",
              {{"type", "char"},
               {"text", utf8},
               {"unmodifiedText", utf8},
               {"modifiers", ModifiersFromKeyboard()},
               {"isSystemKey", systemKey}});
    view.dirty = true;
    return true;
}

bool Engine::MouseEvent(View& view, unsigned message, int x, int y, unsigned flags) {
    input::MouseAction action = input::MapMouse(message, flags, view.clickCount);
    if (!action.known) return false;
    Page page = PageOf(view);
    if (!page) return false;
    const double zoom = Zoom(view);
    SendInput(page.session, page.sessionId, "Input.dispatchMouseEvent",
              {{"type", action.type},
               {"x", x / zoom},
               {"y", y / zoom},
               {"button", action.button},
               {"buttons", action.buttons},
               {"clickCount", action.clickCount},
               {"modifiers", input::ModifiersFromMouseFlags(flags)}});
    view.dirty = true;
    return true;
}

bool Engine::ContextMenu(View& view, int x, int y, unsigned flags) {
    Page page = PageOf(view);
    if (!page) return false;
    const double zoom = Zoom(view);
    for (const bool press : {true, false}) {
        SendInput(page.session, page.sessionId, "Input.dispatchMouseEvent",
                  {{"type", press ? "mousePressed" : "mouseReleased"},
                   {"x", x / zoom},
                   {"y", y / zoom},
                   {"button", "right"},
                   {"buttons", press ? 2 : 0},
                   {"clickCount", 1},
                   {"modifiers", input::ModifiersFromMouseFlags(flags)}});
    }
    return true;
}

bool Engine::Wheel(View& view, int x, int y, int delta, unsigned flags) {
    Page page = PageOf(view);
    if (!page) return false;
    const double zoom = Zoom(view);
    SendInput(page.session, page.sessionId, "Input.dispatchMouseEvent",
              {{"type", "mouseWheel"},
               {"x", x / zoom},
               {"y", y / zoom},
               {"deltaX", 0},
               {"deltaY", -delta},
               {"modifiers", input::ModifiersFromMouseFlags(flags)}});
    view.dirty = true;
    return true;
}

void Engine::EditCommand(View& view, const char* command) {
    Page page = PageOf(view);
    if (!page) return;
    SendInput(page.session, page.sessionId, "Input.dispatchKeyEvent",
              {{"type", "rawKeyDown"}, {"commands", json::array({command})}});
    SendInput(page.session, page.sessionId, "Input.dispatchKeyEvent", {{"type", "keyUp"}});
    view.dirty = true;
}

void Engine::SetFocus(View& view, bool focused) {
    UpdateSettings(view, [&](ViewSettings& settings) { settings.focused = focused; });
    if (Page page = PageOf(view))
        SendInput(page.session, page.sessionId, "Emulation.setFocusEmulationEnabled", {{"enabled", focused}});
}

wkeRect Engine::Caret(View& view) {
    json value = Evaluate(view, scripts::kCaret, Deadline::In(limits::kUiReplyMs));
    wkeRect rect{0, 0, 0, 0};
    if (value.is_object() && value.contains("value") && value["value"].is_array() && value["value"].size() == 4) {
        const double zoom = Zoom(view);
        auto at = [&](size_t i) {
            const json& v = value["value"][i];
            double d = v.is_number() ? v.get<double>() * zoom : 0;
            return std::fabs(d) < 1e9 ? static_cast<int>(std::lround(d)) : 0;
        };
        rect = {at(0), at(1), at(2), at(3)};
    }
    return rect;
}

}  // namespace wkechr
