// Built twice, into host executables that lack TLA_GetVersion (slot 1) or
// TLA_Connect (slot 54): the plug-in must refuse to load into either.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "plugin/host_api.h"

namespace {

#if defined(TLA_OMIT_GETVERSION)
constexpr int kMissingSlot = 1;
#elif defined(TLA_OMIT_CONNECT)
constexpr int kMissingSlot = 54;
#else
#error "build with TLA_OMIT_GETVERSION or TLA_OMIT_CONNECT"
#endif

std::string ExeDirectory()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

// A fresh folder holding a copy of the built plug-in, so that an INI file
// created by mistake would show.
std::string CopyPluginToTempFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "tlclipsum-variant-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string dll = folder + "\\TlClipsum.dll";
    EXPECT_TRUE(CopyFileA((ExeDirectory() + "TlClipsum.dll").c_str(), dll.c_str(), FALSE));
    return folder;
}

} // namespace

TEST(HostLackingAFunction, BindingStopsAtTheMissingNameAndStaysUnbound)
{
    HostApi api;
    EXPECT_EQ(0, api.BindHostApi());
    EXPECT_FALSE(api.IsBound());
    HMODULE self = GetModuleHandleA(nullptr);
    for (int slot = 1; slot < kMissingSlot; ++slot) {
        EXPECT_NE(nullptr, api.Slot(slot)) << "slot " << slot;
        EXPECT_EQ(GetProcAddress(self, HostApi::kFunctionNames[slot - 1]), api.Slot(slot)) << "slot " << slot;
    }
    for (int slot = kMissingSlot; slot <= HostApi::kSlotCount; ++slot)
        EXPECT_EQ(nullptr, api.Slot(slot)) << "slot " << slot;
}

TEST(HostLackingAFunction, PluginRefusesToLoadAndReadsNoSettings)
{
    std::string folder = CopyPluginToTempFolder();
    std::string dll = folder + "\\TlClipsum.dll";

    SetLastError(0);
    HMODULE plugin = LoadLibraryA(dll.c_str());
    DWORD error = GetLastError();
    if (plugin != nullptr)
        FreeLibrary(plugin);

    EXPECT_EQ(nullptr, plugin);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), error);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\TlClipsum.ini").c_str()));

    DeleteFileA(dll.c_str());
    RemoveDirectoryA(folder.c_str());
}
