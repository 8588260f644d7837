#include "restore.h"

#include "backup_log.h"
#include "message_file.h"
#include "options.h"

#include <cerrno>
#include <initializer_list>
#include <cstdlib>
#include <cstring>

namespace {

struct Tally {
    unsigned long restored;
    unsigned long leftAlone;
    unsigned long failed;
};

struct RestoreRun {
    const RestoreOptions* options;
    TempSweep sweep;
    Tally tally;
};

struct SortKey {
    const char* target;
    std::size_t index;
};

int CompareKeys(const void* a, const void* b)
{
    const auto* left = static_cast<const SortKey*>(a);
    const auto* right = static_cast<const SortKey*>(b);
    int order = strcmp(left->target, right->target);
    if (order != 0)
        return order;
    return left->index < right->index ? -1 : left->index > right->index;
}

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

// Whether target is the path given or lies in it.
bool Covers(const char* given, const char* target)
{
    std::size_t length = strlen(given);
    while (length > 1 && IsSeparator(given[length - 1]))
        --length;
    return strncmp(given, target, length) == 0 && (target[length] == '\0' || IsSeparator(target[length]));
}

// The length of a Maildir name before its flags (":2,S").
std::size_t UniquePartLength(const char* name)
{
    const char* colon = strchr(name, ':');
    return colon ? static_cast<std::size_t>(colon - name) : strlen(name);
}

// A Maildir message is renamed when its flags change, and moved from new/ to
// cur/ once seen: it is looked for under its unique part in both.
char* FindMaildirMessage(const char* target)
{
    std::size_t directoryLength = DirectoryLength(target);
    if (directoryLength < 4)
        return nullptr;
    const char* folder = target + directoryLength - 4;
    if ((strncmp(folder, "cur", 3) != 0 && strncmp(folder, "new", 3) != 0) ||
        (directoryLength > 4 && !IsSeparator(folder[-1])))
        return nullptr;
    const char* name = target + directoryLength;
    std::size_t uniqueLength = UniquePartLength(name);
    char* found = nullptr;
    for (const char* part : {"cur", "new"}) {
        std::size_t size = directoryLength + 1;
        char* directory = static_cast<char*>(malloc(size));
        if (!directory)
            return nullptr;
        memcpy(directory, target, directoryLength - 4);
        snprintf(directory + directoryLength - 4, 5, "%s", part);
        NameList names{};
        FileError error{};
        if (ListDirectory(directory, &names, &error)) {
            for (std::size_t i = 0; !found && i < names.count; ++i) {
                const char* candidate = names.names[i];
                if (UniquePartLength(candidate) == uniqueLength && strncmp(candidate, name, uniqueLength) == 0)
                    found = JoinPath(directory, candidate);
            }
        }
        FreeNames(&names);
        free(directory);
        if (found)
            return found;
    }
    return nullptr;
}

char* FindCurrent(const char* target)
{
    EntryFacts facts;
    if (LookAt(target, &facts)) {
        char* copy = static_cast<char*>(malloc(strlen(target) + 1));
        if (copy)
            strcpy(copy, target);
        return copy;
    }
    return FindMaildirMessage(target);
}

void Fail(RestoreRun* run, const char* path, const char* what, int code)
{
    ++run->tally.failed;
    if (code != 0)
        fprintf(stderr, "clipsum: %s: %s: %s\n", path, what, strerror(code));
    else
        fprintf(stderr, "clipsum: %s: %s\n", path, what);
}

void LeaveAlone(RestoreRun* run, const char* path, const char* reason)
{
    ++run->tally.leftAlone;
    if (!run->options->quiet)
        printf("%s: left alone, %s\n", path, reason);
}

void PutBack(RestoreRun* run, const char* current, const char* copy)
{
    FileFacts copyFacts;
    FileFacts facts;
    FILE* original = OpenRegularFile(copy, &copyFacts);
    if (!original)
        return Fail(run, current, "cannot open its backup copy", errno ? errno : EISDIR);
    FILE* now = OpenRegularFile(current, &facts);
    if (!now) {
        fclose(original);
        return Fail(run, current, "cannot open it", errno ? errno : EISDIR);
    }
    fclose(now);
    FileError error{};
    if (!run->options->dryRun &&
        !ReplaceFileContents(current, facts, Content{nullptr, 0, original, copyFacts.size}, &run->sweep, &error)) {
        fclose(original);
        return Fail(run, current, error.what, error.code);
    }
    fclose(original);
    ++run->tally.restored;
    if (!run->options->quiet)
        printf("%s: %s from %s\n", current, run->options->dryRun ? "would be restored" : "restored", copy);
}

void RestoreOne(RestoreRun* run, const BackupRecord& record)
{
    char* copy = JoinPath(run->options->backupDir, record.copyName);
    char* current = copy ? FindCurrent(record.target) : nullptr;
    ContentHash now;
    ContentHash original;
    if (!copy) {
        Fail(run, record.target, "not enough memory", ENOMEM);
    } else if (!current) {
        LeaveAlone(run, record.target, "no longer there, not restored");
    } else if (!HashFile(current, &now)) {
        Fail(run, current, "cannot read it", errno);
    } else if (now.length == record.size && now.value == record.hash) {
        PutBack(run, current, copy);
    } else if (!HashFile(copy, &original)) {
        Fail(run, current, "cannot read its backup copy", errno);
    } else if (original.length == now.length && original.value == now.value) {
        LeaveAlone(run, current, "already the original");
    } else if (!run->options->force) {
        Fail(run, current, "changed since it was stripped; left as it is (--force to restore it anyway)", 0);
    } else {
        PutBack(run, current, copy);
    }
    free(current);
    free(copy);
}

// Read, parse and choose: the last record of each target a TARGET covers, in the log's order.
int RestoreFromLog(RestoreRun* run, char* text, std::size_t length, const NameList& given)
{
    BackupRecords log{};
    SortKey* keys = nullptr;
    if (!ParseBackupLog(text, length, &log) ||
        (log.count && !(keys = static_cast<SortKey*>(malloc(log.count * sizeof(SortKey)))))) {
        FreeBackupRecords(&log);
        fputs("clipsum: not enough memory for the backup log\n", stderr);
        return kExitFileFailed;
    }
    if (log.unreadable)
        fprintf(stderr, "clipsum: %s: %zu lines are no record of a copy; passed over\n", kBackupLogName,
                log.unreadable);
    for (std::size_t i = 0; i < log.count; ++i)
        keys[i] = SortKey{log.records[i].target, i};
    qsort(keys, log.count, sizeof(SortKey), CompareKeys);
    // A later record of the same file supersedes an earlier one: mark the earlier ones.
    for (std::size_t i = 0; i + 1 < log.count; ++i) {
        if (strcmp(keys[i].target, keys[i + 1].target) == 0)
            log.records[keys[i].index].target = nullptr;
    }
    free(keys);
    for (std::size_t i = 0; i < log.count; ++i) {
        const BackupRecord& record = log.records[i];
        bool chosen = false;
        for (std::size_t g = 0; record.target && !chosen && g < given.count; ++g)
            chosen = Covers(given.names[g], record.target);
        if (chosen)
            RestoreOne(run, record);
    }
    FreeBackupRecords(&log);
    return kGoOn;
}

} // namespace

int RunRestore(int argc, char** argv)
{
    RestoreOptions options;
    int parseResult = ParseRestoreOptions(argc, argv, &options);
    if (parseResult != kGoOn)
        return parseResult;

    char* logPath = JoinPath(options.backupDir, kBackupLogName);
    FileBytes logText{};
    FileFacts facts;
    FileError error{"not enough memory", ENOMEM};
    if (!logPath || !ReadWholeFile(logPath, &logText, &facts, &error)) {
        fprintf(stderr, "clipsum: --backup-dir %s: no readable %s (%s%s%s)\nNothing was changed.\n",
                options.backupDir, kBackupLogName, error.what, error.code ? ": " : "",
                error.code ? strerror(error.code) : "");
        free(logPath);
        return kExitUsage;
    }
    free(logPath);

    NameList arguments{};
    NameList given{};
    RestoreRun run{&options, TempSweep{}, Tally{}};
    bool listed = ExpandArguments(argc, argv, 2, &arguments);
    for (std::size_t i = 0; listed && i < arguments.count; ++i) {
        char* absolute = AbsolutePath(arguments.names[i]);
        if (!absolute)
            Fail(&run, arguments.names[i], "cannot find it", errno);
        else
            listed = AddName(&given, absolute);
        free(absolute);
    }
    int status = listed ? RestoreFromLog(&run, logText.data, logText.length, given) : kExitFileFailed;
    if (!listed)
        fputs("clipsum: not enough memory for the list of targets\n", stderr);
    FreeNames(&arguments);
    FreeNames(&given);
    FreeFileBytes(&logText);
    EndSweep(&run.sweep);
    if (status != kGoOn)
        return status;
    if (!options.quiet)
        printf("%lu %s, %lu left alone, %lu failed\n", run.tally.restored,
               options.dryRun ? "would be restored" : "restored", run.tally.leftAlone, run.tally.failed);
    return run.tally.failed == 0 ? kExitHandled : kExitFileFailed;
}
