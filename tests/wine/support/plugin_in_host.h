#pragma once
// What the tests of the plug-in's behaviour share on top of the harness's
// fixture: loading with given settings, choosing the single-message command
// as a user would, and the notices the plug-in shows.

#include <set>
#include <string>
#include <vector>

#include "plugin_fixture.h"

class PluginInHost : public PluginFixture {
protected:
    // Writes the [Settings] section (e.g. "BackUP=1\r\n") beside the plug-in,
    // then loads it; settings are read once, at load. Clears the call log.
    void LoadWithSettings(const std::string& settingsLines = "");

    // Lets the plug-in add its entry to the host's menu of that type; returns
    // the command ID it registered.
    int InitMenu(int type);
    // Chooses the single-message command for mailId, as a user would after
    // selecting it; the confirmation is answered with `answer`. The call log
    // then holds only what the command did.
    void StripWithCommand(const std::string& mailId, int answer = IDOK);

    void ClearLog() { Log().Clear(); }
    std::vector<std::string> CallNames() { return Log().Names(); }
    std::vector<HostCall> Calls(const char* name) { return Log().CallsOf(name); }
    // The files of the trash folder, contents in file name order.
    std::vector<std::string> TrashContents() const;
    std::string InboxPath() const { return FolderDirectory(kInbox); }
    std::string TrashPath() const { return FolderDirectory(kTrash); }
};

// A file of the clone (e.g. "samples/mailbox"), as a Windows path.
std::string SourcePath(const std::string& relative);

// A host whose copies fail without a trace: the copies it is told to refuse
// (1 for the first asked for) are not made and answered with 0.
class CopyRefusingHost : public MailboxHost {
public:
    using MailboxHost::MailboxHost;
    std::set<int> refused;

    int MoveSelectedMessages(const char* folder, int copy) override
    {
        return refused.count(++asked_) != 0 ? 0 : MailboxHost::MoveSelectedMessages(folder, copy);
    }

private:
    int asked_ = 0;
};

// Message boxes and notices the plug-in shows, as code page 932 bytes.
struct Notices {
    static std::string NotMultipart();
    static std::string CannotProcess();
    static std::string BackupFailed();
    static std::string ConfirmStrip();
};
