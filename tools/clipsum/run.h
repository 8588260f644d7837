#pragma once
// What every file of a strip run shares: the options, the report, the sweep
// of stale temporary files, the backup folder's log and the folder parts are
// saved in.

#include "backup_log.h"
#include "message_file.h"
#include "options.h"
#include "report.h"
#include "save_dir.h"

#include "mime/strip_message.h"

struct Run {
    const StripOptions* options;
    Reporter* reporter;
    TempSweep* sweep;
    BackupLog* backupLog; // with --backup-dir
    const SaveDir* saveDir; // with --save-dir
};

// Called before an original is saved and noted in the backup folder's log,
// and before a message's parts are saved: with several jobs, it waits until
// every earlier file of the list is done saving, so that copies and parts take
// their names (NAME, NAME.1, "name (2).ext", ...) and their lines in the log in
// the order of the files, as with one. The turn passes when the file is done.
void WaitForSavingTurn(const Run& run);

// Called by a file that will save nothing more (its parts are on the disk, no
// original is to be copied): later files may save while it is being
// rewritten. Should its rewriting fail, its parts are taken back, and a later
// file may then have numbered a name that one job would have left free.
void PassSavingTurn(const Run& run);

// A file its owner may not write is replaced only when asked to (--force):
// the permission says "keep", and root, who may write anything, would not notice.
inline bool KeptReadOnly(const FileFacts& facts, const StripOptions& options)
{
    return facts.readOnly && !options.force && (options.mode == Mode::InPlace || options.mode == Mode::DryRun);
}

constexpr char kReadOnlyReason[] = "read-only file (--force to strip it)";

// Whether a message's subject and removed parts are written anywhere: in the
// report lines (not with -q) or the JSON report.
inline bool Describes(const Run& run)
{
    return !run.options->quiet || run.options->reportPath != nullptr;
}

// What the engine lists of the parts a strip drops: their bodies too when
// they are saved, their decoded sizes when the note gives them; measuring
// costs a pass over every dropped byte, which the report alone does not need,
// and a quiet run without a JSON report needs no listing at all.
inline PartListing ListingFor(const Run& run)
{
    if (run.saveDir)
        return PartListing::RemovedWithBodies;
    if (run.options->note)
        return PartListing::RemovedWithSizes;
    return Describes(run) ? PartListing::Removed : PartListing::None;
}

// Longest stem taken from a file's name for a part without a name.
constexpr std::size_t kMaxStemBytes = 256;

// Strips the message file at path, or each message of it when it is an mbox
// (its first line starts with "From "). listedRegular: its folder's listing
// named it a regular file, so it is opened without a look first.
void StripPath(const char* path, bool inMaildir, bool listedRegular, const Run& run);

// Strips each message of the mbox at path, open as file (given to it) when it
// was as facts say.
void StripMailbox(const char* path, FILE* file, const FileFacts& facts, const Run& run);
