#include "SelectPortDialog.h"

#include "resource.h"

namespace {

// The dialog is modal on the calling thread; these live only while it runs.
std::vector<std::string> dialogNames;
int dialogChoice = 0;

INT_PTR CALLBACK SelectPortProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        for (const std::string& name : dialogNames) {
            SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(name.c_str()));
        }
        // The first port itself: a search by its name would start after it and could pick a
        // longer name that begins with it ("Foo 2" for "Foo").
        if (!dialogNames.empty()) SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_SETCURSEL, 0, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            dialogChoice = static_cast<int>(SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_GETCURSEL, 0, 0));
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            dialogChoice = -1;
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
    dialogNames = names;
    dialogChoice = 0;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SELECT_PORT), parent, SelectPortProc, 0);
    dialogNames.clear();
    return dialogChoice;
}
