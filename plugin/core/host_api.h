#pragma once
// Binding of the host's exported functions. The host is the executable of the
// process that loads us; its exports are looked up once, by name, at load.
// All 54 names must be present: that is our only test that we run inside the
// mail client at all.

#include <windows.h>

#include <string_view>

#include "plugin/core/host_functions.h"

// True when binding slot `slot` (1 first) looks up `name`.
constexpr bool SlotNames(int slot, std::string_view name)
{
    return slot >= 1 && slot <= kHostFunctionCount && std::string_view(kHostFunctionNames[slot - 1]) == name;
}

// The accessor of host function TLA_<name>, bound in slot `slot`.
#define TLC_HOST_FUNCTION(name, slot)                                                                  \
    static_assert(SlotNames(slot, "TLA_" #name), "slot " #slot " is not bound to TLA_" #name);         \
    TLA_##name##_t name() const { return Get<TLA_##name##_t>(slot); }

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

    // Each accessor names its slot; the build fails when the slot holds
    // another function's name.
    TLC_HOST_FUNCTION(RegisterCommand, 4)
    TLC_HOST_FUNCTION(GetDataFolder, 6)
    TLC_HOST_FUNCTION(GetCurrentMailBox, 9)
    TLC_HOST_FUNCTION(SetMessageText, 14)
    TLC_HOST_FUNCTION(GetCurrentMail, 15)
    TLC_HOST_FUNCTION(SetCurrentMail, 16)
    TLC_HOST_FUNCTION(GetNextMail, 17)
    TLC_HOST_FUNCTION(MoveSelectedMessages, 20)
    TLC_HOST_FUNCTION(GetStatus, 21)
    TLC_HOST_FUNCTION(GetSource, 24)
    TLC_HOST_FUNCTION(SetSource, 25)
    TLC_HOST_FUNCTION(GetHeader, 26)

private:
    template <typename Fn> Fn Get(int slot) const { return reinterpret_cast<Fn>(reinterpret_cast<void*>(Slot(slot))); }

    FARPROC slots_[kSlotCount] = {};
    HMODULE module_ = nullptr;
};

// The process-wide binding used by every callback of the plug-in.
extern HostApi g_hostApi;
