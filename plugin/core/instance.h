#pragma once
// The library's own instance handle, recorded when the library is attached:
// its INI path and dialog templates come from it.

#include <windows.h>

extern HINSTANCE g_pluginInstance;
