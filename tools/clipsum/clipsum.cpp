// clipsum: strips the attachments from mail kept as files (message files,
// Maildir folders, mbox files), with the same engine as the plug-in, so that
// a message comes out byte for byte as the plug-in would store it.

#include "jobs.h"
#include "restore.h"
#include "run.h"
#include "walk.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr long long kSecondsPerDay = 24 * 60 * 60;

bool RefuseFolder(const char* option, const char* directory, const FileError& error)
{
    if (error.code != 0)
        fprintf(stderr, "clipsum: %s %s: %s: %s\n", option, directory, error.what, strerror(error.code));
    else
        fprintf(stderr, "clipsum: %s %s: %s\n", option, directory, error.what);
    fputs("Nothing was changed.\n", stderr);
    return false;
}

// Said once, before any file is touched, rather than once for each file.
bool PrepareBackupDir(const char* directory, BackupLog* log)
{
    FileError error{};
    log->directory = directory;
    return CheckBackupDirectory(directory, &error) || RefuseFolder("--backup-dir", directory, error);
}

int NoMemoryForTheList(BackupLog* backupLog, SaveDir* saveDir, FILE* json)
{
    fputs("clipsum: not enough memory for the list of files\nNothing was changed.\n", stderr);
    CloseBackupLog(backupLog);
    if (saveDir)
        CloseSaveDir(saveDir);
    if (json)
        fclose(json);
    return kExitFileFailed;
}

void HandleItem(const WorkItem& item, const Run& run)
{
    MessageRef where{item.path, 0, 0};
    switch (item.kind) {
    case ItemKind::Skipped: {
        MessageOutcome outcome{};
        outcome.verdict = Verdict::LeaveAlone;
        outcome.reason = item.why.reason;
        return ReportOutcome(run.reporter, where, outcome, nullptr);
    }
    case ItemKind::Failed:
        return ReportFailure(run.reporter, where, FileError{item.why.reason, item.why.code}, 0);
    case ItemKind::File:
    case ItemKind::MaildirMessage:
        return StripPath(item.path, item.kind == ItemKind::MaildirMessage, item.listedRegular, run);
    }
}

int RunStrip(int argc, char** argv)
{
    StripOptions options;
    int parseResult = ParseStripOptions(argc, argv, &options);
    if (parseResult != kGoOn)
        return parseResult;
    if (options.mode == Mode::ToStdout && !SetStdoutBinary()) {
        fputs("clipsum: cannot put standard output into binary mode\n", stderr);
        return kExitFileFailed;
    }
    if (options.filters.olderThanSet)
        options.filters.olderThanCutoff =
            CurrentTime() - static_cast<long long>(options.olderThanDays) * kSecondsPerDay;

    BackupLog backupLog{};
    if (options.backupDir && !PrepareBackupDir(options.backupDir, &backupLog))
        return kExitUsage;
    SaveDir saveDir{};
    FileError saveDirError{};
    if (options.saveDir && !OpenSaveDir(options.saveDir, options.mode == Mode::DryRun, &saveDir, &saveDirError)) {
        RefuseFolder("--save-dir", options.saveDir, saveDirError);
        CloseBackupLog(&backupLog);
        return kExitUsage;
    }
    FILE* json = options.reportPath ? fopen(options.reportPath, "wb") : nullptr;
    if (options.reportPath && !json) {
        fprintf(stderr, "clipsum: --report %s: cannot create it: %s\nNothing was changed.\n", options.reportPath,
                strerror(errno));
        CloseBackupLog(&backupLog);
        if (options.saveDir)
            CloseSaveDir(&saveDir);
        return kExitUsage;
    }

    NameList targets{};
    if (!ExpandArguments(argc, argv, 2, &targets)) {
        FreeNames(&targets);
        return NoMemoryForTheList(&backupLog, options.saveDir ? &saveDir : nullptr, json);
    }

    Reporter reporter;
    StartReport(&reporter, options.mode == Mode::ToStdout ? stderr : stdout, json, options.quiet,
                options.mode == Mode::DryRun);
    reporter.saveDir = options.saveDir;
    TempSweep sweep{};
    Run run{&options, &reporter, &sweep, options.backupDir ? &backupLog : nullptr,
            options.saveDir ? &saveDir : nullptr};
    // Standard output takes one file after the other.
    const unsigned jobs = options.mode == Mode::ToStdout ? 1 : options.jobs ? options.jobs : DefaultJobs();
    WorkList work{};
    bool walked = true;
    const bool parallel = jobs >= 2 && WalkAndHandleInParallel(targets, options.recursive, jobs, run, HandleItem,
                                                               &work, &walked);
    if (!parallel) {
        if (jobs < 2)
            walked = CollectWork(targets, options.recursive, &work);
        if (!walked) {
            FreeNames(&targets);
            FreeWork(&work);
            return NoMemoryForTheList(&backupLog, options.saveDir ? &saveDir : nullptr, json);
        }
        // A file counts as one message until it turns out to be an mbox.
        AddToProgressTotal(&reporter, work.count);
        for (std::size_t i = 0; i < work.count; ++i)
            HandleItem(ItemAt(work, i), run);
    }
    FreeNames(&targets);
    reporter.foldersNotEntered = work.foldersNotEntered;
    if (!walked) {
        // The threads had begun on the files listed before memory ran out.
        fputs("clipsum: not enough memory for the list of files; only the files listed before were handled\n",
              stderr);
        ++reporter.failed;
    }
    EndSweep(&sweep);
    FreeWork(&work);
    PrintSummary(&reporter);
    CloseBackupLog(&backupLog);
    if (options.saveDir)
        CloseSaveDir(&saveDir);
    bool reportWritten = !json || (fflush(json) == 0 && !ferror(json));
    if (json && fclose(json) != 0)
        reportWritten = false;
    if (!reportWritten)
        fprintf(stderr, "clipsum: --report %s: cannot write it\n", options.reportPath);
    return reporter.failed == 0 && reportWritten ? kExitHandled : kExitFileFailed;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !argv[1])
        return UsageError("no command given", nullptr);
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "help") == 0) {
        PrintHelp();
        return kExitHandled;
    }
    if (strcmp(argv[1], "--version") == 0) {
        PrintVersion();
        return kExitHandled;
    }
    if (strcmp(argv[1], "strip") == 0)
        return RunStrip(argc, argv);
    if (strcmp(argv[1], "restore") == 0)
        return RunRestore(argc, argv);
    return UsageError("unknown command", argv[1]);
}
