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
    WorkList work{};
    if (!ExpandArguments(argc, argv, 2, &targets) || !CollectWork(targets, options.recursive, &work)) {
        fputs("clipsum: not enough memory for the list of files\nNothing was changed.\n", stderr);
        FreeNames(&targets);
        FreeWork(&work);
        CloseBackupLog(&backupLog);
        if (options.saveDir)
            CloseSaveDir(&saveDir);
        if (json)
            fclose(json);
        return kExitFileFailed;
    }
    FreeNames(&targets);

    Reporter reporter;
    StartReport(&reporter, options.mode == Mode::ToStdout ? stderr : stdout, json, options.quiet,
                options.mode == Mode::DryRun);
    reporter.foldersNotEntered = work.foldersNotEntered;
    reporter.saveDir = options.saveDir;
    // A file counts as one message until it turns out to be an mbox.
    AddToProgressTotal(&reporter, work.count);
    TempSweep sweep{};
    Run run{&options, &reporter, &sweep, options.backupDir ? &backupLog : nullptr,
            options.saveDir ? &saveDir : nullptr};
    // Standard output takes one file after the other.
    const unsigned jobs = options.mode == Mode::ToStdout ? 1 : options.jobs ? options.jobs : DefaultJobs();
    if (jobs < 2 || work.count < 2 || !HandleInParallel(work, jobs, run, HandleItem)) {
        for (std::size_t i = 0; i < work.count; ++i)
            HandleItem(work.items[i], run);
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
