#include "plugin/core/host_api.h"

HostApi g_hostApi;

int HostApi::BindHostApi()
{
    if (module_ != nullptr)
        return 1;

    module_ = GetModuleHandleA(nullptr);
    // Handles below 32 are error values of the 16-bit era, never a module.
    if (reinterpret_cast<UINT_PTR>(module_) < 32) {
        module_ = nullptr;
        return 0;
    }
    for (int i = 0; i < kSlotCount; ++i) {
        slots_[i] = GetProcAddress(module_, kHostFunctionNames[i]);
        if (slots_[i] == nullptr) {
            module_ = nullptr;
            return 0;
        }
    }
    return 1;
}

FARPROC HostApi::Slot(int slot) const
{
    if (slot < 1 || slot > kSlotCount)
        return nullptr;
    return slots_[slot - 1];
}
