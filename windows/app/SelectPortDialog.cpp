#include "SelectPortDialog.h"

#include "resource.h"

namespace {

// What the dialog shows and what it chose; it lives on the caller's stack while the dialog runs,
// and the dialog keeps its address in DWLP_USER.
struct PortChoice {
    const std::vector<std::string>& names;
    int choice;
};

PortChoice* ChoiceOf(HWND dialog) {
    return reinterpret_cast<PortChoice*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

INT_PTR CALLBACK SelectPortProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        const PortChoice* shown = reinterpret_cast<const PortChoice*>(lParam);
        for (const std::string& name : shown->names) {
            SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(name.c_str()));
        }
        // The first port itself: a search by its name would start after it and could pick a
        // longer name that begins with it ("Foo 2" for "Foo").
        if (!shown->names.empty()) SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_SETCURSEL, 0, 0);
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            if (PortChoice* shown = ChoiceOf(dialog)) {
                shown->choice =
                    static_cast<int>(SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_GETCURSEL, 0, 0));
            }
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            if (PortChoice* shown = ChoiceOf(dialog)) shown->choice = -1;
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace

int ShowSelectPortDialog(const std::vector<std::string>& names, HWND parent, HINSTANCE instance) {
    PortChoice shown{names, 0};
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SELECT_PORT), parent, SelectPortProc,
                    reinterpret_cast<LPARAM>(&shown));
    return shown.choice;
}
