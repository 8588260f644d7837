#pragma once
// The two menu commands: stripping the selected message (menu type 1) and
// the attachment list (menu type 2).

#include <windows.h>

// Registers the command of that menu type with the host and inserts its entry
// and a separator before the menu's last entry; other types change nothing.
void AddMenuCommand(HMENU hMenu, int nType);
