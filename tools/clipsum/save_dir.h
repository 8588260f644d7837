#pragma once
// --save-dir: the parts a strip drops, decoded and saved as files of their own
// in one folder before the message changes. A file is created only where no
// file of that name is (a number is added to a taken name), directly in the
// folder (names are made safe, so no path leads out of it), forced to the disk
// and dated with the message's Date.

#include "examine.h"
#include "platform.h"

#include <cstddef>

struct Run;

// The folder, opened once for the whole run.
struct SaveDir {
    const char* path; // as given
#ifdef _WIN32
    wchar_t* prefix; // its full path in UTF-16 (\\?\ form), a backslash last
    std::size_t prefixLength;
#else
    int fd;
#endif
};

// Opens directory and, unless dryRun, checks that a file can be created in it.
// False with error set when it is missing, not a directory or takes no file.
bool OpenSaveDir(const char* directory, bool dryRun, SaveDir* dir, FileError* error);
void CloseSaveDir(SaveDir* dir);

// The name of the file at path without its folder and extension, UTF-8, cut
// to fit out: what a part without a name is named after, when the message
// has no subject.
void FileStem(const char* path, char* out, std::size_t outSize);

// Names tried for one part: "name", then "name (2)" up to this number.
constexpr unsigned kMaxNameNumber = 999;

// Saves the dropped parts of the messages of one file (a message file, or
// each message of an mbox), and removes them again when the file is not
// changed after all. dryRun: the names are chosen, nothing is written.
class PartSaver {
public:
    // dir: null without --save-dir, when nothing is saved. run: the run whose
    // turn a save waits for (WaitForSavingTurn). passesTurn: the file saves
    // nothing after its parts, which then pass the turn on (PassSavingTurn).
    PartSaver(const SaveDir* dir, bool dryRun, const Run& run, bool passesTurn)
        : dir_(dir), dryRun_(dryRun), run_(run), passesTurn_(passesTurn)
    {
    }
    ~PartSaver();
    PartSaver(const PartSaver&) = delete;
    PartSaver& operator=(const PartSaver&) = delete;

    // Writes every part the stripper lists (made with
    // PartListing::RemovedWithBodies, before Reduce), each decoded, named after
    // its own name or stem, dated (outcome->dated) and on the disk, and records
    // the names with SetSavedAs and in outcome. False, with outcome's verdict
    // Fail and why, when any part could not be saved: the files this call
    // wrote are removed again.
    bool Save(MessageStripper& stripper, const char* stem, MessageOutcome* outcome);

    // Removes the files of the last Save (the message was left unchanged after all).
    void UndoLast();
    // The files saved since the last Keep stay; or are removed.
    void Keep();
    void Undo();

private:
    bool SavePart(MessageStripper& stripper, std::size_t index, const char* stem, MessageOutcome* outcome);
    bool Taken(const char* name) const;
    bool Remember(const char* name);
    void RemoveFrom(std::size_t start);

    const SaveDir* dir_;
    bool dryRun_;
    const Run& run_;
    bool passesTurn_;
    // The names saved since the last Keep, each NUL-terminated, one after the other.
    char* names_ = nullptr;
    std::size_t namesUsed_ = 0;
    std::size_t namesCapacity_ = 0;
    std::size_t lastStart_ = 0; // where the last Save's names begin
    // Decoded bytes waiting to be written.
    char* output_ = nullptr;
    std::size_t outputCapacity_ = 0;
};
