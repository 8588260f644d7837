// The 54 functions that the host's executable exports by name. Link the
// program with -Wl,--kill-at so the names carry no stdcall decoration.
// TLA_OMIT_GETVERSION / TLA_OMIT_CONNECT leave out slot 1 / slot 54, for host
// variants whose load of the plug-in must be refused. The functions stand in
// the order of the host's binding table; the 42 that the plug-in binds and
// never calls only record that they were called.

#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "host_backend.h"

#define TLA_EXPORT extern "C" __declspec(dllexport)

namespace {

std::string Decimal(long long value)
{
    return std::to_string(value);
}

std::string Address(const void* pointer)
{
    if (!pointer)
        return kNullText;
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pointer)));
    return text;
}

// Records the call before forwarding, so that the log keeps the order in which
// calls began; returns the entry's index for the result.
size_t Begin(HostBackend& backend, const char* name, std::vector<std::string> args, unsigned textArgs)
{
    HostCall call;
    call.name = name;
    call.args = std::move(args);
    call.textArgs = textArgs;
    backend.Log().Record(std::move(call));
    return backend.Log().Calls().size() - 1;
}

void Finish(HostBackend& backend, size_t index, std::string result, bool isText)
{
    backend.Log().SetResult(index, std::move(result), isText);
}

int Unused(const char* name)
{
    HostBackend* backend = GetHostBackend();
    if (backend)
        Begin(*backend, name, {}, 0);
    return 0;
}

} // namespace

#ifndef TLA_OMIT_GETVERSION
TLA_EXPORT int WINAPI TLA_GetVersion()
{
    return Unused("TLA_GetVersion");
}
#endif

TLA_EXPORT int WINAPI TLA_Command()
{
    return Unused("TLA_Command");
}
TLA_EXPORT int WINAPI TLA_GetWindowHandles()
{
    return Unused("TLA_GetWindowHandles");
}

TLA_EXPORT int WINAPI TLA_RegisterCommand(const char* helpText, int target, CommandCallback callback)
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return 0;
    size_t call =
        Begin(*backend, "TLA_RegisterCommand",
              {TextOrNull(helpText), Decimal(target), Address(reinterpret_cast<const void*>(callback))}, 0b001);
    int id = backend->RegisterCommand(helpText, target, callback);
    Finish(*backend, call, Decimal(id), false);
    return id;
}

TLA_EXPORT int WINAPI TLA_RegisterUICallback()
{
    return Unused("TLA_RegisterUICallback");
}

TLA_EXPORT const char* WINAPI TLA_GetDataFolder()
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return nullptr;
    size_t call = Begin(*backend, "TLA_GetDataFolder", {}, 0);
    const char* folder = backend->GetDataFolder();
    Finish(*backend, call, TextOrNull(folder), true);
    return folder;
}

TLA_EXPORT int WINAPI TLA_GetTempFolder()
{
    return Unused("TLA_GetTempFolder");
}
TLA_EXPORT int WINAPI TLA_GetTempFileName()
{
    return Unused("TLA_GetTempFileName");
}

TLA_EXPORT const char* WINAPI TLA_GetCurrentMailBox()
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return nullptr;
    size_t call = Begin(*backend, "TLA_GetCurrentMailBox", {}, 0);
    const char* mailbox = backend->GetCurrentMailBox();
    Finish(*backend, call, TextOrNull(mailbox), true);
    return mailbox;
}

TLA_EXPORT int WINAPI TLA_SetCurrentMailBox()
{
    return Unused("TLA_SetCurrentMailBox");
}
TLA_EXPORT int WINAPI TLA_GetCurrentFolder()
{
    return Unused("TLA_GetCurrentFolder");
}
TLA_EXPORT int WINAPI TLA_SetCurrentFolder()
{
    return Unused("TLA_SetCurrentFolder");
}
TLA_EXPORT int WINAPI TLA_GetFolderDisplayName()
{
    return Unused("TLA_GetFolderDisplayName");
}

TLA_EXPORT int WINAPI TLA_SetMessageText(HWND hWnd, const char* text)
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return 0;
    size_t call =
        Begin(*backend, "TLA_SetMessageText", {Decimal(reinterpret_cast<uintptr_t>(hWnd)), TextOrNull(text)}, 0b10);
    int result = backend->SetMessageText(hWnd, text);
    Finish(*backend, call, Decimal(result), false);
    return result;
}

TLA_EXPORT const char* WINAPI TLA_GetCurrentMail()
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return nullptr;
    size_t call = Begin(*backend, "TLA_GetCurrentMail", {}, 0);
    const char* mailId = backend->GetCurrentMail();
    Finish(*backend, call, TextOrNull(mailId), true);
    return mailId;
}

TLA_EXPORT int WINAPI TLA_SetCurrentMail(const char* mailId)
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return 0;
    size_t call = Begin(*backend, "TLA_SetCurrentMail", {TextOrNull(mailId)}, 0b1);
    int result = backend->SetCurrentMail(mailId);
    Finish(*backend, call, Decimal(result), false);
    return result;
}

// The ID buffer is recorded as the ID the host wrote into it (empty when the
// answer is -1), since on entry it holds nothing of interest.
TLA_EXPORT int WINAPI TLA_GetNextMail(int start, char* idBuffer, int bufferSize, int flags)
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return -1;
    size_t call = Begin(*backend, "TLA_GetNextMail",
                        {Decimal(start), idBuffer ? "" : kNullText, Decimal(bufferSize), Decimal(flags)}, 0b0010);
    int position = backend->GetNextMail(start, idBuffer, bufferSize, flags);
    if (idBuffer && position != -1 && bufferSize > 0) {
        backend->Log().SetArg(call, 1, std::string(idBuffer, strnlen(idBuffer, static_cast<size_t>(bufferSize))));
    }
    Finish(*backend, call, Decimal(position), false);
    return position;
}

TLA_EXPORT int WINAPI TLA_SetSel()
{
    return Unused("TLA_SetSel");
}
TLA_EXPORT int WINAPI TLA_AppendMessage()
{
    return Unused("TLA_AppendMessage");
}

TLA_EXPORT int WINAPI TLA_MoveSelectedMessages(const char* folder, int copy)
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return 0;
    size_t call = Begin(*backend, "TLA_MoveSelectedMessages", {TextOrNull(folder), Decimal(copy)}, 0b01);
    int result = backend->MoveSelectedMessages(folder, copy);
    Finish(*backend, call, Decimal(result), false);
    return result;
}

TLA_EXPORT int WINAPI TLA_GetStatus(const char* mailId)
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return 0;
    size_t call = Begin(*backend, "TLA_GetStatus", {TextOrNull(mailId)}, 0b1);
    int status = backend->GetStatus(mailId);
    Finish(*backend, call, Decimal(status), false);
    return status;
}

TLA_EXPORT int WINAPI TLA_ComposeMail()
{
    return Unused("TLA_ComposeMail");
}
TLA_EXPORT int WINAPI TLA_GetCharSet()
{
    return Unused("TLA_GetCharSet");
}

TLA_EXPORT const char* WINAPI TLA_GetSource(const char* mailId)
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return nullptr;
    size_t call = Begin(*backend, "TLA_GetSource", {TextOrNull(mailId)}, 0b1);
    const char* source = backend->GetSource(mailId);
    Finish(*backend, call, TextOrNull(source), true);
    return source;
}

TLA_EXPORT int WINAPI TLA_SetSource(const char* mailId, const char* source)
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return 0;
    size_t call = Begin(*backend, "TLA_SetSource", {TextOrNull(mailId), TextOrNull(source)}, 0b11);
    int result = backend->SetSource(mailId, source);
    Finish(*backend, call, Decimal(result), false);
    return result;
}

TLA_EXPORT const char* WINAPI TLA_GetHeader(const char* mailId)
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return nullptr;
    size_t call = Begin(*backend, "TLA_GetHeader", {TextOrNull(mailId)}, 0b1);
    const char* header = backend->GetHeader(mailId);
    Finish(*backend, call, TextOrNull(header), true);
    return header;
}

TLA_EXPORT int WINAPI TLA_GetText()
{
    return Unused("TLA_GetText");
}
TLA_EXPORT int WINAPI TLA_SetText()
{
    return Unused("TLA_SetText");
}
TLA_EXPORT int WINAPI TLA_GetSpecifiedHeader()
{
    return Unused("TLA_GetSpecifiedHeader");
}
TLA_EXPORT int WINAPI TLA_SetSpecifiedHeader()
{
    return Unused("TLA_SetSpecifiedHeader");
}
TLA_EXPORT int WINAPI TLA_CompGetCharSet()
{
    return Unused("TLA_CompGetCharSet");
}
TLA_EXPORT int WINAPI TLA_CompGetSource()
{
    return Unused("TLA_CompGetSource");
}
TLA_EXPORT int WINAPI TLA_CompSetSource()
{
    return Unused("TLA_CompSetSource");
}
TLA_EXPORT int WINAPI TLA_CompGetHeader()
{
    return Unused("TLA_CompGetHeader");
}
TLA_EXPORT int WINAPI TLA_CompGetSpecifiedHeader()
{
    return Unused("TLA_CompGetSpecifiedHeader");
}
TLA_EXPORT int WINAPI TLA_CompSetSpecifiedHeader()
{
    return Unused("TLA_CompSetSpecifiedHeader");
}
TLA_EXPORT int WINAPI TLA_CompGetText()
{
    return Unused("TLA_CompGetText");
}
TLA_EXPORT int WINAPI TLA_CompSetText()
{
    return Unused("TLA_CompSetText");
}
TLA_EXPORT int WINAPI TLA_CompAttachFile()
{
    return Unused("TLA_CompAttachFile");
}
TLA_EXPORT int WINAPI TLA_Alloc()
{
    return Unused("TLA_Alloc");
}
TLA_EXPORT int WINAPI TLA_ReAlloc()
{
    return Unused("TLA_ReAlloc");
}
TLA_EXPORT int WINAPI TLA_Free()
{
    return Unused("TLA_Free");
}
TLA_EXPORT int WINAPI TLA_ISO_2022_JP()
{
    return Unused("TLA_ISO_2022_JP");
}
TLA_EXPORT int WINAPI TLA_ISO_2022_KR()
{
    return Unused("TLA_ISO_2022_KR");
}
TLA_EXPORT int WINAPI TLA_HZ_GB2312()
{
    return Unused("TLA_HZ_GB2312");
}
TLA_EXPORT int WINAPI TLA_ISO_8859_2()
{
    return Unused("TLA_ISO_8859_2");
}
TLA_EXPORT int WINAPI TLA_EUC_JP()
{
    return Unused("TLA_EUC_JP");
}
TLA_EXPORT int WINAPI TLA_UTF_7()
{
    return Unused("TLA_UTF_7");
}
TLA_EXPORT int WINAPI TLA_UTF_8()
{
    return Unused("TLA_UTF_8");
}
TLA_EXPORT int WINAPI TLA_B64Convert()
{
    return Unused("TLA_B64Convert");
}
TLA_EXPORT int WINAPI TLA_QPConvert()
{
    return Unused("TLA_QPConvert");
}
TLA_EXPORT int WINAPI TLA_MIMEHeader()
{
    return Unused("TLA_MIMEHeader");
}
TLA_EXPORT int WINAPI TLA_SerializeRcpts()
{
    return Unused("TLA_SerializeRcpts");
}

#ifndef TLA_OMIT_CONNECT
TLA_EXPORT int WINAPI TLA_Connect()
{
    return Unused("TLA_Connect");
}
#endif

// The exports must have exactly the types through which the plug-in calls them.
static_assert(std::is_same_v<decltype(&TLA_RegisterCommand), TLA_RegisterCommand_t>);
static_assert(std::is_same_v<decltype(&TLA_GetDataFolder), TLA_GetDataFolder_t>);
static_assert(std::is_same_v<decltype(&TLA_GetCurrentMailBox), TLA_GetCurrentMailBox_t>);
static_assert(std::is_same_v<decltype(&TLA_SetMessageText), TLA_SetMessageText_t>);
static_assert(std::is_same_v<decltype(&TLA_GetCurrentMail), TLA_GetCurrentMail_t>);
static_assert(std::is_same_v<decltype(&TLA_SetCurrentMail), TLA_SetCurrentMail_t>);
static_assert(std::is_same_v<decltype(&TLA_GetNextMail), TLA_GetNextMail_t>);
static_assert(std::is_same_v<decltype(&TLA_MoveSelectedMessages), TLA_MoveSelectedMessages_t>);
static_assert(std::is_same_v<decltype(&TLA_GetStatus), TLA_GetStatus_t>);
static_assert(std::is_same_v<decltype(&TLA_GetSource), TLA_GetSource_t>);
static_assert(std::is_same_v<decltype(&TLA_SetSource), TLA_SetSource_t>);
static_assert(std::is_same_v<decltype(&TLA_GetHeader), TLA_GetHeader_t>);
