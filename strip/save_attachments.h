#pragma once
// Saving the parts a strip drops, one file each, in a folder per mailbox,
// before the message is changed: SaveFolder\<mailbox>\<name>.

#include <windows.h>

#include <cstddef>

class MessageStripper;

// Longest subject kept as the stem of a name made for a part without one.
constexpr std::size_t kStemSize = 801;

// The subject of the message in source (its first Subject field, folded lines
// joined, encoded words decoded) as UTF-8, or "" when it has none.
void SubjectStem(const char* source, char* out, std::size_t outSize);

// The moment the message's Date field names, as a file time; false when it
// has none that a file can carry (the files then keep the time of writing).
bool MessageFileTime(const char* source, FILETIME* time);

class AttachmentSaver {
public:
    AttachmentSaver() = default;
    ~AttachmentSaver();
    AttachmentSaver(const AttachmentSaver&) = delete;
    AttachmentSaver& operator=(const AttachmentSaver&) = delete;

    // Writes every part the stripper lists (made with
    // PartListing::RemovedWithBodies, after Parse answered Ok) into
    // folder\mailbox\ (folder: an absolute path in the ANSI code page;
    // mailbox: the host's mailbox text, trailing backslash and all), each
    // decoded, dated date (when not null), flushed and closed, under a name no
    // file had, recorded with SetSavedAs. False when any part could not be
    // saved: what this call wrote is removed again.
    bool Save(MessageStripper& stripper, const char* folder, const char* mailbox, const char* stem,
              const FILETIME* date);

    // Removes the files and folders the last Save made, for a message that is
    // left unchanged after all.
    void Undo();

    // Whether a file of the last Save was cut short: its base64 broke off,
    // and only what decoded before was saved.
    bool SavedBrokenPart() const { return savedBrokenPart_; }

private:
    bool OpenFolders(const char* folder, const char* mailbox);
    bool MakeFolder(std::size_t length, bool& created);
    bool SavePart(MessageStripper& stripper, std::size_t index, const char* stem, const FILETIME* date);
    bool WriteBody(HANDLE file, std::size_t index, const MessageStripper& stripper);
    bool Flush(HANDLE file);
    bool RememberName(const char* name);

    // \\?\ path of the mailbox's folder, then of the file at hand.
    static constexpr std::size_t kPathUnits = 1024;
    wchar_t path_[kPathUnits] = {};
    std::size_t rootLength_ = 0;    // the saving folder
    std::size_t folderLength_ = 0;  // the mailbox's folder, with its final backslash
    bool createdRoot_ = false;
    bool createdFolder_ = false;
    bool savedBrokenPart_ = false;
    // The names saved so far, each NUL-terminated, one after the other.
    char* names_ = nullptr;
    std::size_t namesUsed_ = 0;
    std::size_t namesCapacity_ = 0;
    // Decoded bytes waiting to be written.
    char* output_ = nullptr;
    std::size_t outputUsed_ = 0;
    std::size_t outputCapacity_ = 0;
};
