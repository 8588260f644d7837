#pragma once
// Binding of the host's exported functions. The host is the executable of the
// process that loads us; its exports are looked up once, by name, at load.
// All 54 names must be present: that is our only test that we run inside the
// mail client at all.

#include <windows.h>

#include "plugin/host_functions.h"

class HostApi {
public:
    static constexpr int kSlotCount = kHostFunctionCount;

    // Looks up every host function. 1 when bound (now or before), 0 when the
    // host lacks one of them; the slots filled before the missing one keep
    // their addresses, and the record stays unbound.
    int BindHostApi();

    bool IsBound() const { return module_ != nullptr; }
    HMODULE Module() const { return module_; }
    // Slot 1 to 54 in the order of kHostFunctionNames, as last looked up
    // (null where nothing was found or looked up).
    FARPROC Slot(int slot) const;

    TLA_RegisterCommand_t RegisterCommand() const { return Get<TLA_RegisterCommand_t>(4); }
    TLA_GetDataFolder_t GetDataFolder() const { return Get<TLA_GetDataFolder_t>(6); }
    TLA_GetCurrentMailBox_t GetCurrentMailBox() const { return Get<TLA_GetCurrentMailBox_t>(9); }
    TLA_SetMessageText_t SetMessageText() const { return Get<TLA_SetMessageText_t>(14); }
    TLA_GetCurrentMail_t GetCurrentMail() const { return Get<TLA_GetCurrentMail_t>(15); }
    TLA_SetCurrentMail_t SetCurrentMail() const { return Get<TLA_SetCurrentMail_t>(16); }
    TLA_GetNextMail_t GetNextMail() const { return Get<TLA_GetNextMail_t>(17); }
    TLA_MoveSelectedMessages_t MoveSelectedMessages() const { return Get<TLA_MoveSelectedMessages_t>(20); }
    TLA_GetStatus_t GetStatus() const { return Get<TLA_GetStatus_t>(21); }
    TLA_GetSource_t GetSource() const { return Get<TLA_GetSource_t>(24); }
    TLA_SetSource_t SetSource() const { return Get<TLA_SetSource_t>(25); }
    TLA_GetHeader_t GetHeader() const { return Get<TLA_GetHeader_t>(26); }

private:
    template <typename Fn> Fn Get(int slot) const { return reinterpret_cast<Fn>(reinterpret_cast<void*>(Slot(slot))); }

    FARPROC slots_[kSlotCount] = {};
    HMODULE module_ = nullptr;
};

// The process-wide binding used by every callback of the plug-in.
extern HostApi g_hostApi;
