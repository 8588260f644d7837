#pragma once
// The plug-in's outward face: the entry routine and the 14 exported
// callbacks, all defined in plugin_main.cpp.

#include <windows.h>

// The library's entry routine: binds the host and reads the settings on
// process attach; refuses the load when the host lacks a function.
BOOL PluginAttach(HINSTANCE instance, DWORD reason, LPVOID reserved);

// Size of each of the four text fields of the plug-in information record.
constexpr int kInfoFieldSize = 80;

extern "C" {
int WINAPI TLC_OnStart();
int WINAPI TLC_OnExit();
int WINAPI TLC_OnMenuInit(HWND hWnd, HMENU hMenu, int nType);
int WINAPI TLC_OnOpenFolder(LPARAM);
int WINAPI TLC_OnOpenMail(LPARAM);
int WINAPI TLC_OnEveryMinute();
int WINAPI TLC_OnOpenCompose(LPARAM, LPARAM);
int WINAPI TLC_OnOutgoing(LPARAM, LPARAM);
int WINAPI TLC_OnKeyDispatch(LPARAM, LPARAM, LPARAM);
int WINAPI TLC_OnRetrieve(LPARAM, LPARAM);
int WINAPI TLC_OnSend(LPARAM);
int WINAPI TLC_OnFinishRetrieve(LPARAM);
int WINAPI TLC_OnPlugInSetup(HWND hWnd);
int WINAPI TLC_OnPlugInInfo(char* record);
}
