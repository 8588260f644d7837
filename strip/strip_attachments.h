#pragma once
// The one operation that changes a stored message: its attachments are
// removed and its text part kept.

#include <cstddef>

// What one strip did, for a caller that reports on many.
struct StripOutcome {
    bool stripped = false; // the new source was handed to the host
    size_t bytesSaved = 0; // bytes of the old source less those of the new
};

// Strips the message named by mailId (a NUL-terminated mail ID). With
// SaveFolder, the parts it loses are saved first, and a message whose parts
// cannot all be saved is not changed; with RemovedNote, the new source keeps
// a note of each. Reports to the user itself; when `outcome` is given, it
// learns what was done. The host calls are the same either way.
void StripAttachments(const char* mailId, StripOutcome* outcome = nullptr);

// Asks the host to copy the untouched message into the current mailbox's
// trash folder. 1 when the host reported the copy made; 0 when the backup
// failed (the host's answer 0 included), after its notice has been shown.
int BackupToTrash(const char* mailId);

// Size of the path buffers of the backup, terminator included.
constexpr int kBackupPathSize = 256;

// Looks for the first entry matching the wildcard path in buffer (of
// kBackupPathSize bytes). True when that entry is a directory; the buffer then
// holds its bare name.
bool FindTrashFolder(char* buffer);
