#include "app/input_box.h"

#include <vector>

#include "base/wide.h"

namespace {

constexpr int kField = 100;

struct InputBoxState {
    std::wstring text;
};

// An in-memory dialog template: the box needs no resource file.
class DialogTemplate {
public:
    void Dialog(DWORD style, short cx, short cy, const std::wstring& title, int items) {
        Dword(style);
        Dword(0);
        Word(static_cast<WORD>(items));
        Word(0), Word(0), Word(static_cast<WORD>(cx)), Word(static_cast<WORD>(cy));
        Word(0);  // no menu
        Word(0);  // default class
        String(title);
        Word(9);
        String(L"MS Shell Dlg");
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
              const std::wstring& text) {
        if (words_.size() % 2) Word(0);
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        Word(static_cast<WORD>(x)), Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx)), Word(static_cast<WORD>(cy));
        Word(id);
        Word(0xFFFF);
        Word(atom);
        String(text);
        Word(0);
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Word(WORD w) { words_.push_back(w); }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void String(const std::wstring& s) {
        words_.insert(words_.end(), s.begin(), s.end());
        Word(0);
    }
    // DWORD alignment of the items is relative to the template's start, which a vector of DWORDs
    // would guarantee; WORDs allocated by operator new are aligned at least that well.
    std::vector<WORD> words_;
};

INT_PTR CALLBACK InputBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            auto* state = reinterpret_cast<InputBoxState*>(lParam);
            SetDlgItemTextW(dialog, kField, state->text.c_str());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                auto* state = reinterpret_cast<InputBoxState*>(GetWindowLongPtrW(dialog, DWLP_USER));
                HWND field = GetDlgItem(dialog, kField);
                std::wstring text(static_cast<size_t>(GetWindowTextLengthW(field)) + 1, L'\0');
                int got = GetWindowTextW(field, text.data(), static_cast<int>(text.size()));
                text.resize(static_cast<size_t>(got > 0 ? got : 0));
                state->text = text;
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

std::optional<Text> AskText(HWND owner, const Text& title, const Text& initial) {
    DialogTemplate t;
    t.Dialog(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU, 260, 58,
             ToWide(title), 3);
    t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 8, 246, 14, kField, 0x0081, L"");
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 146, 34, 50, 16, IDOK, 0x0080, L"OK");
    t.Item(BS_PUSHBUTTON | WS_TABSTOP, 203, 34, 50, 16, IDCANCEL, 0x0080, L"Cancel");
    InputBoxState state{ToWide(initial)};
    INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), owner,
                                             InputBoxProc, reinterpret_cast<LPARAM>(&state));
    if (result != IDOK) return std::nullopt;
    return FromWide(state.text);
}
