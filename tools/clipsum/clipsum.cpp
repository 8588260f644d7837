// clipsum: strips the attachments from mail messages kept as files, with the
// same engine as the plug-in, so that a message comes out byte for byte as the
// plug-in would store it.

#include "message_file.h"
#include "message_source.h"
#include "platform.h"

#include "mime/strip_message.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kExitHandled = 0;
constexpr int kExitFileFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kGoOn = -1; // ParseOptions: the files are to be handled

const char kUsage[] = "Usage: clipsum strip (--in-place | --stdout | --dry-run) [options] FILE...\n"
                      "\n"
                      "Removes the attachments from mail messages stored as files: each multipart\n"
                      "message is reduced to its plain-text part, exactly as the TlClipsum plug-in\n"
                      "does in the mail client. Files are read and written as bytes, never\n"
                      "translated: a stripped message ends its lines with CR LF, as the plug-in\n"
                      "stores it, and a message left alone keeps every byte.\n"
                      "\n"
                      "Choose one of:\n"
                      "  --in-place         replace each FILE with its stripped form. The new message\n"
                      "                     is written to a temporary file in the same directory,\n"
                      "                     forced to the disk and renamed over FILE, so a crash leaves\n"
                      "                     either the old or the new message, never a part of one.\n"
                      "                     The new file keeps the old one's owner, group, permissions,\n"
                      "                     extended attributes and times; if one of them cannot be\n"
                      "                     kept, the file is left unchanged with an error line.\n"
                      "  --stdout           write the message as it would be stored afterwards to\n"
                      "                     standard output (the stripped form, or the original bytes\n"
                      "                     when it is left alone); exactly one FILE. The report goes\n"
                      "                     to standard error.\n"
                      "  --dry-run          report what would change and write nothing.\n"
                      "Without one of them clipsum changes nothing and exits with status 2.\n"
                      "\n"
                      "Options:\n"
                      "  --backup-dir DIR   with --in-place: before a file is changed, save its\n"
                      "                     original in DIR under the same name (NAME.1, NAME.2, ...\n"
                      "                     when that name is taken; no copy is ever overwritten). A\n"
                      "                     copy appears under its name only once it is complete. If\n"
                      "                     the copy cannot be saved, the file is left unchanged.\n"
                      "                     Files that are left alone are not copied. If DIR is\n"
                      "                     missing or no file can be created in it, clipsum says so\n"
                      "                     and exits with status 2 before touching any file.\n"
                      "  --all              strip every multipart message, also one without an\n"
                      "                     attachment (its HTML alternative, inline images or a\n"
                      "                     report's status part go too), as the plug-in strips\n"
                      "                     every message the mail client marks as multipart/mixed.\n"
                      "  --keep-html        leave alone an HTML message: one whose header holds the\n"
                      "                     text \"Content-Type: text/html\" (compared case-sensitively)\n"
                      "                     or that has a part declared text/html (any case), like\n"
                      "                     the plug-in's setting for HTML messages.\n"
                      "  --force            strip read-only files too; they stay read-only.\n"
                      "  --help             show this text.\n"
                      "  --                 end of options: every later argument is a FILE.\n"
                      "\n"
                      "By default only messages that have an attachment are stripped: a part, at any\n"
                      "depth, marked \"Content-Disposition: attachment\" or whose type is neither\n"
                      "text/*, multipart/* nor a delivery or read report's status; others are left\n"
                      "alone (\"no attachments\") unless --all is given.\n"
                      "\n"
                      "What is kept is the person's text: the first text/plain part in the order of\n"
                      "the message that is not marked as an attachment (a part without Content-Type\n"
                      "counts as text/plain); a mailing list's footer or a .txt attachment after it\n"
                      "never takes its place. Only when there is no such part is a text attachment,\n"
                      "or else the first part, kept.\n"
                      "\n"
                      "A message is left alone, unchanged, when it is not multipart, when it holds an\n"
                      "encrypted part (multipart/encrypted or S/MIME application/pkcs7-mime), when\n"
                      "--keep-html applies, when it is nested more than 64 levels deep, or when\n"
                      "memory runs out.\n"
                      "With --in-place and --dry-run, a read-only file (no write permission for its\n"
                      "owner, or the read-only attribute on Windows) is left alone unless --force is\n"
                      "given. A file that starts with a \"From \" line and holds another one after a\n"
                      "blank line is a mailbox (mbox) of several messages, not a message: it is left\n"
                      "alone whole.\n"
                      "Only regular files are read: a directory, a named pipe or a device gets an\n"
                      "error line and is never opened for writing. A file that is missing,\n"
                      "unreadable, empty or holds a NUL byte is not a message clipsum can handle\n"
                      "either: it gets an error line, is never changed, and the other files are\n"
                      "still handled. Files are read in pieces, so a large attachment costs no\n"
                      "memory; only a backup copy (--backup-dir) is made from the whole file in\n"
                      "memory, and a file larger than 512 MiB gets none and is left unchanged.\n"
                      "\n"
                      "A run that is killed leaves no temporary file for ever: on Linux the new file\n"
                      "has no name until it is complete; elsewhere its name starts with\n"
                      "\".clipsum-tmp-\" and the next run in that directory removes it.\n"
                      "\n"
                      "Each file gets one report line; a summary follows: how many files were\n"
                      "stripped and left alone, and their bytes before and after.\n"
                      "\n"
                      "Exit status: 0 when every file was stripped or left alone, 1 when any file\n"
                      "could not be read or written, 2 for a usage error or an unusable --backup-dir.\n";

enum class Mode { Unset, InPlace, ToStdout, DryRun };

struct Options {
    Mode mode = Mode::Unset;
    bool keepHtml = false;
    bool force = false;
    bool all = false;
    const char* backupDir = nullptr;
};

struct Summary {
    unsigned long stripped = 0;
    unsigned long leftAlone = 0;
    unsigned long failed = 0;
    unsigned long long bytesBefore = 0;
    unsigned long long bytesAfter = 0;
};

int UsageError(const char* problem, const char* argument)
{
    if (argument)
        fprintf(stderr, "clipsum: %s: %s\n", problem, argument);
    else
        fprintf(stderr, "clipsum: %s\n", problem);
    fputs("Try 'clipsum --help'.\n", stderr);
    return kExitUsage;
}

const char kOneModeOnly[] = "choose only one of --in-place, --stdout and --dry-run";

bool SetMode(Options* options, Mode mode)
{
    if (options->mode != Mode::Unset && options->mode != mode)
        return false;
    options->mode = mode;
    return true;
}

// Parses the arguments after "strip". The files stay in argv in order; options
// are replaced by null there. Returns kGoOn, or the exit status to end with.
int ParseOptions(int argc, char** argv, Options* options)
{
    int fileCount = 0;
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        const char* argument = argv[i];
        if (!argument)
            continue;
        if (optionsEnded || argument[0] != '-' || strcmp(argument, "-") == 0) {
            ++fileCount;
            continue;
        }
        argv[i] = nullptr;
        if (strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0) {
            fputs(kUsage, stdout);
            return kExitHandled;
        } else if (strcmp(argument, "--in-place") == 0) {
            if (!SetMode(options, Mode::InPlace))
                return UsageError(kOneModeOnly, nullptr);
        } else if (strcmp(argument, "--stdout") == 0) {
            if (!SetMode(options, Mode::ToStdout))
                return UsageError(kOneModeOnly, nullptr);
        } else if (strcmp(argument, "--dry-run") == 0) {
            if (!SetMode(options, Mode::DryRun))
                return UsageError(kOneModeOnly, nullptr);
        } else if (strcmp(argument, "--keep-html") == 0) {
            options->keepHtml = true;
        } else if (strcmp(argument, "--force") == 0) {
            options->force = true;
        } else if (strcmp(argument, "--all") == 0) {
            options->all = true;
        } else if (strcmp(argument, "--backup-dir") == 0) {
            if (i + 1 >= argc || !argv[i + 1])
                return UsageError("--backup-dir needs a directory", nullptr);
            options->backupDir = argv[++i];
            argv[i] = nullptr;
        } else if (strncmp(argument, "--backup-dir=", 13) == 0) {
            options->backupDir = argument + 13;
        } else {
            return UsageError("unknown option", argument);
        }
    }
    if (options->mode == Mode::Unset)
        return UsageError("choose what to do: --in-place, --stdout or --dry-run", nullptr);
    if (fileCount == 0)
        return UsageError("no FILE given", nullptr);
    if (options->mode == Mode::ToStdout && fileCount != 1)
        return UsageError("--stdout takes exactly one FILE", nullptr);
    if (options->backupDir && options->mode != Mode::InPlace)
        return UsageError("--backup-dir goes with --in-place only", nullptr);
    if (options->backupDir && (options->backupDir[0] == '\0' || strlen(options->backupDir) > kMaxPathBytes))
        return UsageError("--backup-dir needs a directory name", nullptr);
    return kGoOn;
}

FILE* ReportStream(const Options& options)
{
    return options.mode == Mode::ToStdout ? stderr : stdout;
}

void FailFile(const char* path, const FileError& error, Summary* summary)
{
    if (error.code != 0)
        fprintf(stderr, "clipsum: %s: %s: %s\n", path, error.what, strerror(error.code));
    else
        fprintf(stderr, "clipsum: %s: %s\n", path, error.what);
    ++summary->failed;
}

const char* LeftAloneReason(StripStatus status)
{
    switch (status) {
    case StripStatus::NotMultipart:
        return "not a multipart message";
    case StripStatus::TooDeep:
        return "nested more than 64 levels deep";
    case StripStatus::OutOfMemory:
        return "out of memory while stripping";
    case StripStatus::Encrypted:
        return "encrypted message";
    case StripStatus::ReadFailed:
        return "the file could not be read to its end";
    case StripStatus::Ok:
        break;
    }
    return "unknown reason";
}

// Handles a message that stays as it is: --stdout still passes its bytes on.
void LeaveAlone(const char* path, MessageSource& message, const char* reason, const Options& options,
                Summary* summary)
{
    if (options.mode == Mode::ToStdout && !message.CopyTo(stdout))
        return FailFile(path, FileError{"cannot write standard output", errno}, summary);
    fprintf(ReportStream(options), "%s: left alone, %s\n", path, reason);
    ++summary->leftAlone;
    summary->bytesBefore += message.Length();
    summary->bytesAfter += message.Length();
}

// Puts the stripped message where the mode says.
void StoreStripped(const char* path, MessageSource& message, const FileFacts& facts, const char* newSource,
                   std::size_t newLength, const Options& options, TempSweep* sweep, Summary* summary)
{
    char* copyPath = nullptr;
    FileError error{};
    FileBytes original{};
    switch (options.mode) {
    case Mode::ToStdout:
        if (!WriteAll(stdout, newSource, newLength))
            return FailFile(path, FileError{"cannot write standard output", errno}, summary);
        break;
    case Mode::InPlace:
        if (options.backupDir) {
            bool saved = message.ReadAll(&original, &error) &&
                         WriteBackupCopy(options.backupDir, path, facts, original.data, original.length, &copyPath,
                                         &error);
            FreeFileBytes(&original);
            if (!saved)
                return FailFile(path, error, summary);
        }
        if (!ReplaceFileContents(path, facts, newSource, newLength, sweep, &error)) {
            free(copyPath);
            return FailFile(path, error, summary);
        }
        break;
    case Mode::DryRun:
    case Mode::Unset:
        break;
    }
    fprintf(ReportStream(options), "%s: %s, %llu -> %zu bytes", path,
            options.mode == Mode::DryRun ? "would be stripped" : "stripped",
            static_cast<unsigned long long>(message.Length()), newLength);
    if (copyPath)
        fprintf(ReportStream(options), " (original saved as %s)", copyPath);
    fputc('\n', ReportStream(options));
    free(copyPath);
    ++summary->stripped;
    summary->bytesBefore += message.Length();
    summary->bytesAfter += newLength;
}

// A file its owner may not write is replaced only when asked to (--force):
// the permission says "keep", and root, who may write anything, would not notice.
bool KeptReadOnly(const FileFacts& facts, const Options& options)
{
    return facts.readOnly && !options.force && (options.mode == Mode::InPlace || options.mode == Mode::DryRun);
}

void StripFile(const char* path, const Options& options, TempSweep* sweep, Summary* summary)
{
    if (strlen(path) > kMaxPathBytes)
        return FailFile(path, FileError{"path longer than 4096 bytes", 0}, summary);
    MessageSource message;
    FileFacts facts;
    FileError error{};
    if (!message.Open(path, &facts, &error))
        return FailFile(path, error, summary);

    // The engine reads the file in pieces; the rest is read after it, so that
    // what is known of the whole file (its length, a NUL byte, several
    // messages in it) is known before anything is written.
    MessageStripper stripper;
    StripStatus status = stripper.Parse(message);
    if (!message.Finish(&error)) {
        if (!message.HoldsNul())
            return FailFile(path, error, summary);
        fprintf(stderr, "clipsum: %s: holds a NUL byte at offset %llu, not a text message; refused\n", path,
                static_cast<unsigned long long>(message.NulOffset()));
        ++summary->failed;
    } else if (message.Length() == 0) {
        FailFile(path, FileError{"empty file, not a message", 0}, summary);
    } else if (message.IsMailbox()) {
        LeaveAlone(path, message, "a mailbox (mbox) of several messages, not a message", options, summary);
    } else if (status != StripStatus::Ok) {
        LeaveAlone(path, message, LeftAloneReason(status), options, summary);
    } else if (!options.all && !stripper.HasAttachment()) {
        LeaveAlone(path, message, "no attachments", options, summary);
    } else if (options.keepHtml && (stripper.HeaderContains("Content-Type: text/html") || stripper.HasHtmlPart())) {
        LeaveAlone(path, message, "HTML message kept (--keep-html)", options, summary);
    } else if ((status = stripper.Reduce()) != StripStatus::Ok) {
        LeaveAlone(path, message, LeftAloneReason(status), options, summary);
    } else if (KeptReadOnly(facts, options)) {
        LeaveAlone(path, message, "read-only file (--force to strip it)", options, summary);
    } else {
        StoreStripped(path, message, facts, stripper.NewSource(), stripper.NewLength(), options, sweep, summary);
    }
}

void PrintSummary(const Options& options, const Summary& summary)
{
    fprintf(ReportStream(options), "%lu %s, %lu left alone, %lu failed; %llu -> %llu bytes\n", summary.stripped,
            options.mode == Mode::DryRun ? "would be stripped" : "stripped", summary.leftAlone, summary.failed,
            summary.bytesBefore, summary.bytesAfter);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !argv[1])
        return UsageError("no command given", nullptr);
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "help") == 0) {
        fputs(kUsage, stdout);
        return kExitHandled;
    }
    if (strcmp(argv[1], "strip") != 0)
        return UsageError("unknown command", argv[1]);

    Options options;
    int parseResult = ParseOptions(argc, argv, &options);
    if (parseResult != kGoOn)
        return parseResult;
    if (options.mode == Mode::ToStdout && !SetStdoutBinary()) {
        fputs("clipsum: cannot put standard output into binary mode\n", stderr);
        return kExitFileFailed;
    }

    // Said once, before any file is touched, rather than once for each file.
    FileError error{};
    if (options.backupDir && !CheckBackupDirectory(options.backupDir, &error)) {
        if (error.code != 0)
            fprintf(stderr, "clipsum: --backup-dir %s: %s: %s\n", options.backupDir, error.what, strerror(error.code));
        else
            fprintf(stderr, "clipsum: --backup-dir %s: %s\n", options.backupDir, error.what);
        fputs("Nothing was changed.\n", stderr);
        return kExitUsage;
    }

    Summary summary;
    TempSweep sweep{};
    for (int i = 2; i < argc; ++i) {
        if (argv[i])
            StripFile(argv[i], options, &sweep, &summary);
    }
    EndSweep(&sweep);
    PrintSummary(options, summary);
    return summary.failed == 0 ? kExitHandled : kExitFileFailed;
}
