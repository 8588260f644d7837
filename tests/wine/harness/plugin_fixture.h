#pragma once
// The fixture of the tests under Wine. The test program is the host: it
// exports the TLA_ functions (forwarded to a MailboxHost over a mailbox in a
// fresh temporary folder), loads a copy of TlClipsum.dll from a fresh folder
// of its own (so its INI file lives there), and drives dialogs from inside.
//
//   <temp>\data\              data folder
//   <temp>\data\Main\         mailbox (mailbox text "Main\")
//   <temp>\data\Main\Inbox\   the folder in view
//   <temp>\data\Main\Trash\   the trash folder
//   <temp>\plugin\            the plug-in's copy and its INI file
//
// A dialog that the test scripted no step for, or a scripted step that no
// dialog took, fails the test.

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dialog_driver.h"
#include "mailbox_host.h"

struct PluginExports {
    int(WINAPI* OnStart)();
    int(WINAPI* OnExit)();
    int(WINAPI* OnMenuInit)(HWND hWnd, HMENU hMenu, int type);
    int(WINAPI* OnOpenFolder)(LPARAM);
    int(WINAPI* OnOpenMail)(LPARAM);
    int(WINAPI* OnEveryMinute)();
    int(WINAPI* OnOpenCompose)(LPARAM, LPARAM);
    int(WINAPI* OnOutgoing)(LPARAM, LPARAM);
    int(WINAPI* OnKeyDispatch)(LPARAM, LPARAM, LPARAM);
    int(WINAPI* OnRetrieve)(LPARAM, LPARAM);
    int(WINAPI* OnSend)(LPARAM);
    int(WINAPI* OnFinishRetrieve)(LPARAM);
    int(WINAPI* OnPlugInSetup)(HWND hWnd);
    int(WINAPI* OnPlugInInfo)(char* record);
};

class PluginFixture : public ::testing::Test {
protected:
    static constexpr const char* kMailbox = "Main\\";
    static constexpr const char* kInbox = "Inbox";
    static constexpr const char* kTrash = "Trash";

    void SetUp() override;
    void TearDown() override;

    // Folders, each ending in a backslash.
    const std::string& Root() const { return root_; }
    std::string DataFolder() const { return root_ + "data\\"; }
    std::string MailboxDirectory() const { return DataFolder() + kMailbox; }
    std::string FolderDirectory(const std::string& folder) const { return MailboxDirectory() + folder + "\\"; }
    std::string PluginDirectory() const { return root_ + "plugin\\"; }

    // The host. SetUp installs a MailboxHost over Main\Inbox; a test replaces
    // it with a subclass that overrides one answer: InstallHost<NullSourceHost>().
    MailboxHost& Host() { return *host_; }
    template <class HostType, class... Extra> HostType& InstallHost(Extra&&... extra)
    {
        auto host = std::make_unique<HostType>(DataFolder(), kMailbox, kInbox, std::forward<Extra>(extra)...);
        HostType& installed = *host;
        host_ = std::move(host);
        SetHostBackend(host_.get());
        return installed;
    }
    CallLog& Log() { return host_->Log(); }

    // Writes a message file into a folder of the mailbox; returns its mail ID.
    std::string WriteMessage(const std::string& fileName, const std::string& bytes, const std::string& folder = kInbox);
    // The bytes of a file; empty when it cannot be read.
    static std::string ReadBytes(const std::string& path);
    // The bytes on disk of the message a mail ID names.
    std::string ReadMessage(const std::string& mailId) { return ReadBytes(host_->PathOf(mailId.c_str())); }
    // The names of the files in a folder of the mailbox, sorted.
    std::vector<std::string> FilesIn(const std::string& folder) const;

    // The plug-in. LoadPlugin copies PluginDllPath() into the plug-in folder under fileName and
    // loads it; false when the load is refused (LoadError() tells why).
    // Settings are read at load: write the INI file first.
    bool LoadPlugin(const std::string& fileName = "TlClipsum.dll");
    void UnloadPlugin();
    // The INI file beside a plug-in copy of that name.
    std::string IniPath(const std::string& dllFileName = "TlClipsum.dll") const;
    void WriteIni(const std::string& text, const std::string& dllFileName = "TlClipsum.dll");
    HMODULE Plugin() const { return plugin_; }
    DWORD LoadError() const { return loadError_; }
    const PluginExports& Exports() const { return exports_; }

    // A top-level host window whose menu bar holds a message menu (type 1) and
    // a tools menu (type 2), each ending with an entry of the host's own.
    HWND HostWindow();
    HMENU MenuOfType(int type);
    // The text of each entry of a menu, code page 932; "" for a separator.
    static std::vector<std::string> MenuEntries(HMENU menu);
    // Runs the command registered last for a menu type, as the host's menu
    // would; false when none is registered.
    bool RunMenuCommand(int type);

    DialogDriver& Dialogs() { return *dialogs_; }

private:
    std::string root_;
    std::unique_ptr<MailboxHost> host_;
    std::unique_ptr<DialogDriver> dialogs_;
    HMODULE plugin_ = nullptr;
    DWORD loadError_ = 0;
    PluginExports exports_ = {};
    HWND hostWindow_ = nullptr;
    HMENU menus_[2] = {};
};

// The plug-in under test: TlClipsum.dll beside the test program, or TLCLIPSUM_DLL.
std::string PluginDllPath();

// Deletes a folder and everything in it.
bool DeleteTree(const std::string& folder);
