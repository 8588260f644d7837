// A message kept as a file of its own: a .eml file, or a Maildir message.

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
bool StoreStripped(const char* path, const FileBytes& message, const FileFacts& facts, const char* newSource,
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
            ContentHash hash;
            HashBytes(&hash, newSource, newLength);
            if (!WriteBackupCopy(options.backupDir, path, facts, Content{message.data, message.length, nullptr, 0},
                                 copyPath, error) ||
                !RecordBackup(run.backupLog, "file", hash, *copyPath, path, error))
                return false;
        }
        return ReplaceFileContents(path, facts, stripped, run.sweep, error);
    case Mode::DryRun:
    case Mode::Unset:
        break;
    }
    return true;
}

void Examine(const char* path, const FileBytes& message, const FileFacts& facts, bool inMaildir, const Run& run)
{
    const StripOptions& options = *run.options;
    MessageRef where{path, 0, 0};
    MessageStripper stripper(PartListing::Removed);
    MessageOutcome outcome{};
    ExamineMessage(message.data, message.length, options.filters, &stripper, &outcome);
    if (outcome.verdict == Verdict::Strip && KeptReadOnly(facts, options))
        KeepAfterAll(&outcome, kReadOnlyReason);
    char* copyPath = nullptr;
    FileError error{};
    if (outcome.verdict != Verdict::Strip) {
        if (options.mode == Mode::ToStdout && !WriteAll(stdout, message.data, message.length))
            return ReportFailure(run.reporter, where, FileError{"cannot write standard output", errno}, message.length);
        return ReportOutcome(run.reporter, where, outcome, nullptr);
    }
    if (!StoreStripped(path, message, facts, stripper.NewSource(), stripper.NewLength(), run, &copyPath, &error)) {
        free(copyPath);
        return ReportFailure(run.reporter, where, error, message.length);
    }
    if (inMaildir && NameStatesSize(path))
        ++run.reporter->sizeInName;
    ReportOutcome(run.reporter, where, outcome, copyPath);
    free(copyPath);
}

} // namespace

// The facts are taken when the file is opened, before a byte is read, so that
// its time of last access is kept as it was.
void StripPath(const char* path, bool inMaildir, const Run& run)
{
    MessageRef where{path, 0, 0};
    if (strlen(path) > kMaxPathBytes)
        return ReportFailure(run.reporter, where, FileError{"path longer than 4096 bytes", 0}, 0);
    FileBytes message;
    FileFacts facts;
    FileError error{};
    FILE* file = OpenMessageFile(path, &facts, &error);
    if (!file)
        return ReportFailure(run.reporter, where, error, 0);
    char first[5];
    if (fread(first, 1, sizeof first, file) == sizeof first && memcmp(first, "From ", 5) == 0)
        return StripMailbox(path, file, facts, run);
    if (!SeekFile(file, 0)) {
        fclose(file);
        return ReportFailure(run.reporter, where, FileError{"cannot read", errno}, 0);
    }
    if (!ReadOpenFile(file, &message, &error))
        return ReportFailure(run.reporter, where, error, 0);

    const char* nul = static_cast<const char*>(memchr(message.data, '\0', message.length));
    if (message.length == 0) {
        ReportFailure(run.reporter, where, FileError{"empty file, not a message", 0}, 0);
    } else if (nul) {
        char detail[96];
        snprintf(detail, sizeof detail, "holds a NUL byte at offset %zu, not a text message; refused",
                 static_cast<std::size_t>(nul - message.data));
        ReportFailure(run.reporter, where, FileError{"holds a NUL byte, not a text message", 0}, message.length,
                      detail);
    } else {
        Examine(path, message, facts, inMaildir, run);
    }
    FreeFileBytes(&message);
}
