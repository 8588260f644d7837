// Built twice, into host executables that lack TLA_GetVersion (slot 1) or
// TLA_Connect (slot 54): the plug-in must refuse to load into either.

#include <windows.h>

#include <gtest/gtest.h>

#include "plugin/core/host_api.h"
#include "plugin_fixture.h"

namespace {

#if defined(TLA_OMIT_GETVERSION)
constexpr int kMissingSlot = 1;
#elif defined(TLA_OMIT_CONNECT)
constexpr int kMissingSlot = 54;
#else
#error "build with TLA_OMIT_GETVERSION or TLA_OMIT_CONNECT"
#endif

} // namespace

TEST(HostLackingAFunction, BindingStopsAtTheMissingNameAndStaysUnbound)
{
    HostApi api;
    EXPECT_EQ(0, api.BindHostApi());
    EXPECT_FALSE(api.IsBound());
    HMODULE self = GetModuleHandleA(nullptr);
    for (int slot = 1; slot < kMissingSlot; ++slot) {
        EXPECT_NE(nullptr, api.Slot(slot)) << "slot " << slot;
        EXPECT_EQ(GetProcAddress(self, kHostFunctionNames[slot - 1]), api.Slot(slot)) << "slot " << slot;
    }
    for (int slot = kMissingSlot; slot <= HostApi::kSlotCount; ++slot)
        EXPECT_EQ(nullptr, api.Slot(slot)) << "slot " << slot;
}

class HostLackingAFunctionTest : public PluginFixture {};

TEST_F(HostLackingAFunctionTest, PluginRefusesToLoadAndReadsNoSettings)
{
    EXPECT_FALSE(LoadPlugin());
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), LoadError());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(IniPath().c_str())) << "no settings file is made";
}
