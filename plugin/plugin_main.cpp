#include "plugin/plugin.h"

#include <cstring>

#include "plugin/core/host_api.h"
#include "plugin/core/instance.h"
#include "plugin/core/settings.h"
#include "plugin/menu_commands.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

namespace {

const char* const kInfoTexts[] = {
    "Tolvane 添付ファイル削除 plug-in",
    "Fenmoor",
    "1.24",
    "フォルダ内の添付ファイル一覧を表示し削除するツール",
};

} // namespace

BOOL PluginAttach(HINSTANCE instance, DWORD reason, LPVOID)
{
    g_pluginInstance = instance;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    if (g_hostApi.BindHostApi() == 0)
        return FALSE;
    LoadSettings(instance);
    return TRUE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    return PluginAttach(instance, reason, reserved);
}

extern "C" {

int WINAPI TLC_OnStart()
{
    return 0;
}
int WINAPI TLC_OnExit()
{
    return 0;
}
int WINAPI TLC_OnOpenFolder(LPARAM)
{
    return 0;
}
int WINAPI TLC_OnOpenMail(LPARAM)
{
    return 0;
}
int WINAPI TLC_OnEveryMinute()
{
    return 0;
}
int WINAPI TLC_OnOpenCompose(LPARAM, LPARAM)
{
    return 0;
}
int WINAPI TLC_OnOutgoing(LPARAM, LPARAM)
{
    return 0;
}
int WINAPI TLC_OnKeyDispatch(LPARAM, LPARAM, LPARAM)
{
    return 0;
}
int WINAPI TLC_OnRetrieve(LPARAM, LPARAM)
{
    return 0;
}
int WINAPI TLC_OnSend(LPARAM)
{
    return 0;
}
int WINAPI TLC_OnFinishRetrieve(LPARAM)
{
    return 0;
}

int WINAPI TLC_OnMenuInit(HWND, HMENU hMenu, int nType)
{
    AddMenuCommand(hMenu, nType);
    return 0;
}

int WINAPI TLC_OnPlugInSetup(HWND hWnd)
{
    DialogBoxParamA(g_pluginInstance, MAKEINTRESOURCEA(IDD_SETUP), hWnd, SetupDialog, 0);
    return 1;
}

int WINAPI TLC_OnPlugInInfo(char* record)
{
    if (record == nullptr)
        return 0;
    // Each text with its terminator; the rest of each field stays as the host left it.
    for (int field = 0; field < 4; ++field)
        std::memcpy(record + field * kInfoFieldSize, kInfoTexts[field], std::strlen(kInfoTexts[field]) + 1);
    return 0;
}

} // extern "C"
