#include "plugin/core/settings.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

namespace {

int CheckedAsSetting(HWND dialog, int id)
{
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

} // namespace

INT_PTR CALLBACK SetupDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, IDC_BACKUP, BM_SETCHECK, g_settings.backUp, 0);
        SendDlgItemMessageA(dialog, IDC_DELETE_MSG, BM_SETCHECK, g_settings.deleteMsg, 0);
        SendDlgItemMessageA(dialog, IDC_HTML_MSG_OFF, BM_SETCHECK, g_settings.htmlMsgOff, 0);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            // All three take effect before anything is written.
            g_settings.backUp = CheckedAsSetting(dialog, IDC_BACKUP);
            g_settings.deleteMsg = CheckedAsSetting(dialog, IDC_DELETE_MSG);
            g_settings.htmlMsgOff = CheckedAsSetting(dialog, IDC_HTML_MSG_OFF);
            SaveSettings();
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
