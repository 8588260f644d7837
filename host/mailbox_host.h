#pragma once
// The 12 host functions over a mailbox kept on disk:
//   data folder   D:\...\data\           (ends in a backslash)
//   mailbox       Main\                  (relative to the data folder)
//   folders       D:\...\data\Main\Inbox\, ...\Main\Trash\, ...
//   messages      one .eml file per message, listed in file name order
// A mail ID is "folder\file name" relative to the mailbox directory.
// Every function is virtual so that a test can replace one answer.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host_backend.h"

struct RegisteredCommand {
    int id;
    std::string helpText;
    int target;
    CommandCallback callback;
};

struct MessageSummary {
    std::string mailId;
    std::string subject; // raw bytes of the Subject field, unfolded
    unsigned long long size;
    bool hasAttachments;
};

// What the host tells its window about.
enum class HostEvent {
    kCurrentMailChanged,
    kMessageChanged, // one message's source was replaced
    kFolderChanged,  // messages came or went, or another folder is shown
    kMessageText,
};

class MailboxHost : public HostBackend {
public:
    static constexpr int kFirstCommandId = 40001;
    static constexpr size_t kMaxMailId = 255;

    // dataFolder and mailbox get a trailing backslash when they lack one.
    MailboxHost(std::string dataFolder, std::string mailbox, std::string folder);

    int RegisterCommand(const char* helpText, int target, CommandCallback callback) override;
    const char* GetDataFolder() override;
    const char* GetCurrentMailBox() override;
    int SetMessageText(HWND hWnd, const char* text) override;
    const char* GetCurrentMail() override;
    int SetCurrentMail(const char* mailId) override;
    int GetNextMail(int start, char* idBuffer, int bufferSize, int flags) override;
    int MoveSelectedMessages(const char* folder, int copy) override;
    int GetStatus(const char* mailId) override;
    const char* GetSource(const char* mailId) override;
    int SetSource(const char* mailId, const char* source) override;
    const char* GetHeader(const char* mailId) override;

    // The host's own view, used by its window and by tests; none is logged.
    const std::string& DataFolder() const { return dataFolder_; }
    const std::string& Mailbox() const { return mailbox_; }
    const std::string& Folder() const { return folder_; }
    std::string MailboxDirectory() const { return dataFolder_ + mailbox_; }
    std::string FolderDirectory() const { return MailboxDirectory() + folder_ + "\\"; }
    // Full path of the file that a mail ID names; empty for an ID that cannot
    // name a message (null, too long, leaving the mailbox).
    std::string PathOf(const char* mailId) const;
    // The IDs of the current folder in position order.
    const std::vector<std::string>& MailIds();
    std::vector<MessageSummary> Summaries();
    // Re-reads the folder's file list: for files written behind the host's back.
    void Rescan() { listed_ = false; }
    void SetFolder(std::string folder);
    // A disk that fills up during a backup: from now on, each copy of
    // MoveSelectedMessages writes at most `room` bytes of the message and a
    // longer one fails there; the partial copy is removed and the answer is 0.
    void SimulateFullDisk(unsigned long long room) { copyRoom_ = room; }
    // Status to answer for a message instead of the one read from its file.
    void OverrideStatus(const std::string& mailId, int status) { statusOverrides_[mailId] = status; }
    const std::string& MessageText() const { return messageText_; }
    const std::vector<RegisteredCommand>& Commands() const { return commands_; }
    // The command registered last for a menu type; null when none.
    const RegisteredCommand* LatestCommandFor(int target) const;
    // Runs a registered command as the host's menu would; false for an unknown id.
    bool RunCommand(int id, HWND owner);
    // The mail ID is the message concerned, or empty.
    using Listener = std::function<void(HostEvent, const std::string& mailId)>;
    void SetListener(Listener listener) { listener_ = std::move(listener); }
    // The summary of one message.
    MessageSummary Summarize(const std::string& mailId);

private:
    void Notify(HostEvent event, const std::string& mailId = std::string());

    std::string dataFolder_;
    std::string mailbox_;
    std::string folder_;
    std::vector<std::string> mailIds_;
    bool listed_ = false;
    std::string currentMail_;
    std::string messageText_;
    std::string source_;
    std::string header_;
    std::map<std::string, int> statusOverrides_;
    unsigned long long copyRoom_ = ~0ull; // no limit
    std::vector<RegisteredCommand> commands_;
    Listener listener_;
};

// Helpers over message bytes, shared with the tests.
// The header: the lines before the first empty line, each with its line end.
// Lines end in LF or CRLF, or in CR alone when the first line does.
std::string HeaderOf(const std::string& message);
// The unfolded value of a header field (name compared without ASCII case);
// empty when absent.
std::string FieldValue(const std::string& header, const char* name);
// True when the top-level Content-Type is multipart/mixed (any case).
bool IsMultipartMixed(const std::string& header);

// Whole-file helpers with Windows paths; binary, byte for byte.
bool ReadWholeFile(const std::string& path, std::string& bytes, unsigned long long maxBytes);
bool WriteWholeFile(const std::string& path, const char* bytes, size_t size);
// Writes beside the file, then renames over it.
bool ReplaceFileAtomically(const std::string& path, const char* bytes, size_t size);
