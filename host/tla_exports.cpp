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
#include <vector>

#include "host_backend.h"

#define TLA_EXPORT extern "C" __declspec(dllexport)

namespace {

// One argument or result as the log shows it.
struct Shown {
    std::string text;
    bool isText;
};

Shown Show(int value)
{
    return {std::to_string(value), false};
}

Shown Show(const char* text)
{
    return {TextOrNull(text), true};
}

Shown Show(HWND window)
{
    return {std::to_string(reinterpret_cast<uintptr_t>(window)), false};
}

Shown Show(CommandCallback callback)
{
    if (!callback)
        return {kNullText, false};
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(callback)));
    return {text, false};
}

// The ID buffer of TLA_GetNextMail: on entry it holds nothing of interest, so
// it is recorded as the ID the host wrote into it (empty when the answer is -1).
struct IdBuffer {
    char* bytes;
    int size;
    operator char*() const { return bytes; }
};

Shown Show(const IdBuffer& buffer)
{
    return {buffer.bytes ? "" : kNullText, true};
}

template <class Arg, class Result> void ShowAfterCall(CallLog&, size_t, size_t, const Arg&, Result) {}

void ShowAfterCall(CallLog& log, size_t call, size_t arg, const IdBuffer& buffer, int position)
{
    if (buffer.bytes && position != -1 && buffer.size > 0)
        log.SetArg(call, arg, std::string(buffer.bytes, strnlen(buffer.bytes, static_cast<size_t>(buffer.size))));
}

// Records the call, forwards it to the backend and records its result. The
// call is recorded before it is forwarded, so that the log keeps the order in
// which calls began. Without a backend, answers `none` and records nothing.
template <class Result, class... Params, class... Args>
Result Forward(const char* name, Result none, Result (HostBackend::*method)(Params...), const Args&... args)
{
    HostBackend* backend = GetHostBackend();
    if (!backend)
        return none;
    HostCall call;
    call.name = name;
    for (const Shown& shown : std::vector<Shown>{Show(args)...}) {
        if (shown.isText)
            call.textArgs |= 1u << call.args.size();
        call.args.push_back(shown.text);
    }
    CallLog& log = backend->Log();
    log.Record(std::move(call));
    size_t index = log.Calls().size() - 1;
    Result result = (backend->*method)(args...);
    size_t arg = 0;
    (ShowAfterCall(log, index, arg++, args, result), ...);
    Shown shown = Show(result);
    log.SetResult(index, shown.text, shown.isText);
    return result;
}

int Unused(const char* name)
{
    HostBackend* backend = GetHostBackend();
    if (backend) {
        HostCall call;
        call.name = name;
        backend->Log().Record(std::move(call));
    }
    return 0;
}

} // namespace

// A host function the plug-in binds and never calls.
#define TLA_UNUSED(name)                                                                                       \
    TLA_EXPORT int WINAPI name()                                                                               \
    {                                                                                                          \
        return Unused(#name);                                                                                  \
    }

#ifndef TLA_OMIT_GETVERSION
TLA_UNUSED(TLA_GetVersion)
#endif
TLA_UNUSED(TLA_Command)
TLA_UNUSED(TLA_GetWindowHandles)

TLA_EXPORT int WINAPI TLA_RegisterCommand(const char* helpText, int target, CommandCallback callback)
{
    return Forward("TLA_RegisterCommand", 0, &HostBackend::RegisterCommand, helpText, target, callback);
}

TLA_UNUSED(TLA_RegisterUICallback)

TLA_EXPORT const char* WINAPI TLA_GetDataFolder()
{
    return Forward<const char*>("TLA_GetDataFolder", nullptr, &HostBackend::GetDataFolder);
}

TLA_UNUSED(TLA_GetTempFolder)
TLA_UNUSED(TLA_GetTempFileName)

TLA_EXPORT const char* WINAPI TLA_GetCurrentMailBox()
{
    return Forward<const char*>("TLA_GetCurrentMailBox", nullptr, &HostBackend::GetCurrentMailBox);
}

TLA_UNUSED(TLA_SetCurrentMailBox)
TLA_UNUSED(TLA_GetCurrentFolder)
TLA_UNUSED(TLA_SetCurrentFolder)
TLA_UNUSED(TLA_GetFolderDisplayName)

TLA_EXPORT int WINAPI TLA_SetMessageText(HWND hWnd, const char* text)
{
    return Forward("TLA_SetMessageText", 0, &HostBackend::SetMessageText, hWnd, text);
}

TLA_EXPORT const char* WINAPI TLA_GetCurrentMail()
{
    return Forward<const char*>("TLA_GetCurrentMail", nullptr, &HostBackend::GetCurrentMail);
}

TLA_EXPORT int WINAPI TLA_SetCurrentMail(const char* mailId)
{
    return Forward("TLA_SetCurrentMail", 0, &HostBackend::SetCurrentMail, mailId);
}

TLA_EXPORT int WINAPI TLA_GetNextMail(int start, char* idBuffer, int bufferSize, int flags)
{
    return Forward("TLA_GetNextMail", -1, &HostBackend::GetNextMail, start, IdBuffer{idBuffer, bufferSize}, bufferSize,
                   flags);
}

TLA_UNUSED(TLA_SetSel)
TLA_UNUSED(TLA_AppendMessage)

TLA_EXPORT int WINAPI TLA_MoveSelectedMessages(const char* folder, int copy)
{
    return Forward("TLA_MoveSelectedMessages", 0, &HostBackend::MoveSelectedMessages, folder, copy);
}

TLA_EXPORT int WINAPI TLA_GetStatus(const char* mailId)
{
    return Forward("TLA_GetStatus", 0, &HostBackend::GetStatus, mailId);
}

TLA_UNUSED(TLA_ComposeMail)
TLA_UNUSED(TLA_GetCharSet)

TLA_EXPORT const char* WINAPI TLA_GetSource(const char* mailId)
{
    return Forward<const char*>("TLA_GetSource", nullptr, &HostBackend::GetSource, mailId);
}

TLA_EXPORT int WINAPI TLA_SetSource(const char* mailId, const char* source)
{
    return Forward("TLA_SetSource", 0, &HostBackend::SetSource, mailId, source);
}

TLA_EXPORT const char* WINAPI TLA_GetHeader(const char* mailId)
{
    return Forward<const char*>("TLA_GetHeader", nullptr, &HostBackend::GetHeader, mailId);
}

TLA_UNUSED(TLA_GetText)
TLA_UNUSED(TLA_SetText)
TLA_UNUSED(TLA_GetSpecifiedHeader)
TLA_UNUSED(TLA_SetSpecifiedHeader)
TLA_UNUSED(TLA_CompGetCharSet)
TLA_UNUSED(TLA_CompGetSource)
TLA_UNUSED(TLA_CompSetSource)
TLA_UNUSED(TLA_CompGetHeader)
TLA_UNUSED(TLA_CompGetSpecifiedHeader)
TLA_UNUSED(TLA_CompSetSpecifiedHeader)
TLA_UNUSED(TLA_CompGetText)
TLA_UNUSED(TLA_CompSetText)
TLA_UNUSED(TLA_CompAttachFile)
TLA_UNUSED(TLA_Alloc)
TLA_UNUSED(TLA_ReAlloc)
TLA_UNUSED(TLA_Free)
TLA_UNUSED(TLA_ISO_2022_JP)
TLA_UNUSED(TLA_ISO_2022_KR)
TLA_UNUSED(TLA_HZ_GB2312)
TLA_UNUSED(TLA_ISO_8859_2)
TLA_UNUSED(TLA_EUC_JP)
TLA_UNUSED(TLA_UTF_7)
TLA_UNUSED(TLA_UTF_8)
TLA_UNUSED(TLA_B64Convert)
TLA_UNUSED(TLA_QPConvert)
TLA_UNUSED(TLA_MIMEHeader)
TLA_UNUSED(TLA_SerializeRcpts)

#ifndef TLA_OMIT_CONNECT
TLA_UNUSED(TLA_Connect)
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
