#include "plugin/menu_commands.h"

#include "plugin/core/host_api.h"
#include "plugin/core/instance.h"
#include "strip/strip_attachments.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

namespace {

const char kCaption[] = "Message from TlClipsum";
const char kConfirmStrip[] = "添付ファイルを削除してもよいですか？";

void WINAPI OnDeleteAttachments(HWND hWnd, LPARAM)
{
    // Always asked: the no-confirmation setting is for the bulk strip only.
    if (MessageBoxA(hWnd, kConfirmStrip, kCaption, MB_OKCANCEL) != IDOK)
        return;
    StripAttachments(g_hostApi.GetCurrentMail()());
}

void WINAPI OnAttachmentList(HWND hWnd, LPARAM)
{
    DialogBoxParamA(g_pluginInstance, MAKEINTRESOURCEA(IDD_ATTACHMENT_LIST), hWnd, AttachmentListDialog, 0);
}

struct MenuCommand {
    const char* helpText;
    int target;
    CommandCallback callback;
    const char* menuText;
};

const MenuCommand kMenuCommands[] = {
    {"選択中のメールの添付を削除します。", 1, OnDeleteAttachments, "添付削除"},
    {"添付ファイル一覧を表示します。", 2, OnAttachmentList, "添付ファイル一覧"},
};

// Inserts before the menu's last entry, so that the host's own closing entry
// (such as Exit) stays last.
void InsertBeforeLast(HMENU menu, UINT flags, UINT_PTR id, const char* text)
{
    InsertMenuA(menu, GetMenuItemCount(menu) - 1, MF_BYPOSITION | flags, id, text);
}

} // namespace

void AddMenuCommand(HMENU hMenu, int nType)
{
    if (nType != 1 && nType != 2)
        return;
    const MenuCommand& command = kMenuCommands[nType - 1];
    int commandId = g_hostApi.RegisterCommand()(command.helpText, command.target, command.callback);
    InsertBeforeLast(hMenu, MF_STRING | MF_ENABLED, static_cast<UINT_PTR>(commandId), command.menuText);
    InsertBeforeLast(hMenu, MF_SEPARATOR, 0, nullptr);
}
