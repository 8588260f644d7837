// A message kept as a file of its own: a .eml file, or a Maildir message.

#include "message_source.h"
#include "run.h"

#include "mime/strip_message.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// A name with ",S=" states the message's size for the server that wrote it.
bool NameStatesSize(const char* path)
{
    return strstr(path + DirectoryLength(path), ",S=") != nullptr;
}

// Puts the stripped message where the mode says; false with error set when it fails.
bool StoreStripped(const char* path, MessageSource& message, const FileFacts& facts, const char* newSource,
                   std::size_t newLength, const Run& run, char** copyPath, FileError* error)
{
    const StripOptions& options = *run.options;
    Content stripped{newSource, newLength, nullptr, 0};
    switch (options.mode) {
    case Mode::ToStdout:
        if (!WriteAll(stdout, newSource, newLength)) {
            *error = FileError{"cannot write standard output", errno};
            return false;
        }
        return true;
    case Mode::InPlace:
        if (options.backupDir) {
            // The copy is made from the whole file, read again: the parse held
            // no more of it than the text it keeps.
            WaitForSavingTurn(run);
            FileBytes original{};
            ContentHash hash;
            HashBytes(&hash, newSource, newLength);
            const bool saved =
                message.ReadAll(&original, error) &&
                WriteBackupCopy(options.backupDir, path, facts, Content{original.data, original.length, nullptr, 0},
                                copyPath, error) &&
                RecordBackup(run.backupLog, "file", hash, *copyPath, path, error);
            FreeFileBytes(&original);
            if (!saved)
                return false;
        }
        message.Close();
        return ReplaceFileContents(path, facts, stripped, run.sweep, error);
    case Mode::DryRun:
    case Mode::Unset:
        break;
    }
    return true;
}

void Examine(const char* path, MessageSource& message, MessageStripper& stripper, StripStatus status,
             const FileFacts& facts, bool inMaildir, const Run& run)
{
    const StripOptions& options = *run.options;
    MessageRef where{path, 0, 0};
    const auto length = static_cast<std::size_t>(message.Length());
    MessageOutcome outcome{};
    // A read-only file is left alone: nothing of it is saved.
    const bool readOnly = KeptReadOnly(facts, options);
    char stem[kMaxStemBytes];
    FileStem(path, stem, sizeof stem);
    // A message file saves its parts once; only an original copied to the
    // backup folder may still follow them.
    PartSaver saver(run.saveDir, options.mode == Mode::DryRun, run, !options.backupDir);
    const Keeping keeping{options.note, run.saveDir && !readOnly ? &saver : nullptr, stem, Describes(run)};
    ExamineParsed(status, length, options.filters, keeping, &stripper, &outcome);
    if (outcome.verdict == Verdict::Strip && readOnly)
        KeepAfterAll(&outcome, kReadOnlyReason);
    char* copyPath = nullptr;
    FileError error{};
    if (outcome.verdict != Verdict::Strip) {
        if (options.mode == Mode::ToStdout && !message.CopyTo(stdout))
            return ReportFailure(run.reporter, where, FileError{"cannot write standard output", errno}, length);
        if (outcome.verdict == Verdict::Fail)
            return ReportFailure(run.reporter, where, FileError{outcome.reason, outcome.code}, length, outcome.detail);
        return ReportOutcome(run.reporter, where, outcome, nullptr);
    }
    if (!StoreStripped(path, message, facts, stripper.NewSource(), stripper.NewLength(), run, &copyPath, &error)) {
        saver.Undo();
        free(copyPath);
        return ReportFailure(run.reporter, where, error, length);
    }
    saver.Keep();
    if (inMaildir && NameStatesSize(path))
        ++run.reporter->sizeInName;
    ReportOutcome(run.reporter, where, outcome, copyPath);
    free(copyPath);
}

} // namespace

// The facts are taken when the file is opened, before a byte is read, so that
// its time of last access is kept as it was.
void StripPath(const char* path, bool inMaildir, bool listedRegular, const Run& run)
{
    MessageRef where{path, 0, 0};
    if (strlen(path) > kMaxPathBytes)
        return ReportFailure(run.reporter, where, FileError{"path longer than 4096 bytes", 0}, 0);
    FileFacts facts;
    FileError error{};
    FILE* file = OpenMessageFile(path, &facts, &error, listedRegular);
    if (!file)
        return ReportFailure(run.reporter, where, error, 0);
    char first[5];
    std::size_t got = 0;
    if (!ReadFileStart(file, first, sizeof first, &got)) {
        const int code = errno;
        fclose(file);
        return ReportFailure(run.reporter, where, FileError{"cannot read", code}, 0);
    }
    if (got == sizeof first && memcmp(first, "From ", 5) == 0)
        return StripMailbox(path, file, facts, run);

    // The engine reads the file in pieces: a large attachment passes through
    // and is never held.
    MessageSource message;
    message.Adopt(file);
    MessageStripper stripper(ListingFor(run));
    const StripStatus status = stripper.Parse(message);
    if (!message.Finish(&error)) {
        const auto read = static_cast<std::size_t>(message.Length());
        if (!message.HoldsNul())
            return ReportFailure(run.reporter, where, error, read);
        char detail[96];
        snprintf(detail, sizeof detail, "holds a NUL byte at offset %llu, not a text message; refused",
                 static_cast<unsigned long long>(message.NulOffset()));
        return ReportFailure(run.reporter, where, FileError{"holds a NUL byte, not a text message", 0}, read, detail);
    }
    if (message.Length() == 0)
        return ReportFailure(run.reporter, where, FileError{"empty file, not a message", 0}, 0);
    Examine(path, message, stripper, status, facts, inMaildir, run);
}
