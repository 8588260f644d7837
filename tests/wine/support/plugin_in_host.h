#pragma once
// A test whose process is the mail client: a mailbox on disk served by the
// host's exported functions, the real plug-in loaded from a fresh folder, and
// a dialog driver answering its message boxes and dialogs.
//
// Layout on disk:  <scratch>\data\Main\Inbox\*.eml, <scratch>\data\Main\Trash\,
//                  <scratch>\plugin\TlClipsum.dll (+ TlClipsum.ini)

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/dialog_driver.h"
#include "host/mailbox_host.h"
#include "support/plugin_files.h"

class PluginInHost : public ::testing::Test {
protected:
    PluginInHost();
    ~PluginInHost() override;

    // Writes the [Settings] section (e.g. "BackUP=1\r\n") beside the plug-in,
    // then loads it. Settings are read once, at load.
    void LoadPlugin(const std::string& settingsLines = "");
    // Replaces the host (e.g. with a subclass giving odd answers); before LoadPlugin.
    void UseHost(std::unique_ptr<MailboxHost> host);

    // A message file in the Inbox; returns its mail ID.
    std::string AddMessage(const std::string& fileName, const std::string& bytes);
    std::string MessageBytes(const std::string& mailId) const;
    // The files of the Trash folder, contents in file name order.
    std::vector<std::string> TrashContents() const;

    // Lets the plug-in add its entry for a menu type; returns the command ID.
    int InitMenu(int type);
    // Chooses the single-message command for mailId, as a user would after
    // selecting it; the confirmation is answered with `answer`.
    void StripWithCommand(const std::string& mailId, int answer = IDOK);
    // Clears the host's call log, so that a test sees only its own calls.
    void ClearLog() { host_->Log().Clear(); }
    std::vector<std::string> CallNames() const { return host_->Log().Names(); }
    std::vector<HostCall> Calls(const char* name) const { return host_->Log().CallsOf(name); }

    std::string DataFolder() const { return scratch_ / "data\\"; }
    std::string InboxPath() const { return scratch_ / "data\\Main\\Inbox"; }
    std::string TrashPath() const { return scratch_ / "data\\Main\\Trash"; }
    std::string PluginFolder() const { return scratch_ / "plugin"; }

    ScratchFolder scratch_;
    std::unique_ptr<MailboxHost> host_;
    std::unique_ptr<LoadedPluginCopy> plugin_;
    DialogDriver driver_;
};

// Message boxes the plug-in shows, as code page 932 bytes.
struct Notices {
    static std::string NotMultipart();
    static std::string CannotProcess();
    static std::string BackupFailed();
    static std::string ConfirmStrip();
};
