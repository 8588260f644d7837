#pragma once
// The host's exported functions that the plug-in calls, with the calling
// convention and arguments the host uses. Texts are NUL-terminated, code page 932.
// Texts the host returns stay valid until the host is next called; the plug-in
// never releases them. Texts the plug-in hands over are copied by the host
// during the call.

#include <windows.h>

// Callback the host runs when the user picks a registered menu command.
typedef void(WINAPI* CommandCallback)(HWND hWnd, LPARAM lParam);

// Returns the command identifier to give the menu entry.
typedef int(WINAPI* TLA_RegisterCommand_t)(const char* helpText, int target, CommandCallback callback);
// Data folder: a path ending in a backslash.
typedef const char*(WINAPI* TLA_GetDataFolder_t)();
// Current mailbox: a directory path relative to the data folder, ending in a backslash.
typedef const char*(WINAPI* TLA_GetCurrentMailBox_t)();
// Shows text to the user; hWnd may be null.
typedef int(WINAPI* TLA_SetMessageText_t)(HWND hWnd, const char* text);
// ID of the selected message (may be null or empty when none is selected).
typedef const char*(WINAPI* TLA_GetCurrentMail_t)();
typedef int(WINAPI* TLA_SetCurrentMail_t)(const char* mailId);
// Position of the first message after start (-1: from the first), its ID
// written into idBuffer; -1 when there is none.
typedef int(WINAPI* TLA_GetNextMail_t)(int start, char* idBuffer, int bufferSize, int flags);
// Copies (copy = 1) or moves the selected message into the folder "mailbox\dir\".
typedef int(WINAPI* TLA_MoveSelectedMessages_t)(const char* folder, int copy);
// Status flags of a message; 0x08: it has attachments.
typedef int(WINAPI* TLA_GetStatus_t)(const char* mailId);
// Whole source of a message, or null.
typedef const char*(WINAPI* TLA_GetSource_t)(const char* mailId);
typedef int(WINAPI* TLA_SetSource_t)(const char* mailId, const char* source);
// Header lines of a message as one text (may be null).
typedef const char*(WINAPI* TLA_GetHeader_t)(const char* mailId);

// The host's exported functions, in the order the plug-in binds them (slot 1
// first). The plug-in requires every one; it calls only the 12 above.
constexpr int kHostFunctionCount = 54;
inline constexpr const char* kHostFunctionNames[kHostFunctionCount] = {
    "TLA_GetVersion",
    "TLA_Command",
    "TLA_GetWindowHandles",
    "TLA_RegisterCommand",
    "TLA_RegisterUICallback",
    "TLA_GetDataFolder",
    "TLA_GetTempFolder",
    "TLA_GetTempFileName",
    "TLA_GetCurrentMailBox",
    "TLA_SetCurrentMailBox",
    "TLA_GetCurrentFolder",
    "TLA_SetCurrentFolder",
    "TLA_GetFolderDisplayName",
    "TLA_SetMessageText",
    "TLA_GetCurrentMail",
    "TLA_SetCurrentMail",
    "TLA_GetNextMail",
    "TLA_SetSel",
    "TLA_AppendMessage",
    "TLA_MoveSelectedMessages",
    "TLA_GetStatus",
    "TLA_ComposeMail",
    "TLA_GetCharSet",
    "TLA_GetSource",
    "TLA_SetSource",
    "TLA_GetHeader",
    "TLA_GetText",
    "TLA_SetText",
    "TLA_GetSpecifiedHeader",
    "TLA_SetSpecifiedHeader",
    "TLA_CompGetCharSet",
    "TLA_CompGetSource",
    "TLA_CompSetSource",
    "TLA_CompGetHeader",
    "TLA_CompGetSpecifiedHeader",
    "TLA_CompSetSpecifiedHeader",
    "TLA_CompGetText",
    "TLA_CompSetText",
    "TLA_CompAttachFile",
    "TLA_Alloc",
    "TLA_ReAlloc",
    "TLA_Free",
    "TLA_ISO_2022_JP",
    "TLA_ISO_2022_KR",
    "TLA_HZ_GB2312",
    "TLA_ISO_8859_2",
    "TLA_EUC_JP",
    "TLA_UTF_7",
    "TLA_UTF_8",
    "TLA_B64Convert",
    "TLA_QPConvert",
    "TLA_MIMEHeader",
    "TLA_SerializeRcpts",
    "TLA_Connect",
};

// Status bit of a message that has attachments.
constexpr int kStatusHasAttachments = 0x08;
