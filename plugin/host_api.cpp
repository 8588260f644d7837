#include "plugin/host_api.h"

const char* const HostApi::kFunctionNames[HostApi::kSlotCount] = {
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
        slots_[i] = GetProcAddress(module_, kFunctionNames[i]);
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
