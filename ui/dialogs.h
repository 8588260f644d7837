#pragma once
// Dialog procedures of the library's two dialogs.

#include <windows.h>

// Template 101: lists the current folder's messages with attachments and
// strips the selected ones.
INT_PTR CALLBACK AttachmentListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Template 102: the three settings as check boxes; OK saves them.
INT_PTR CALLBACK SetupDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
