#include "options.h"

#include "jobs.h"
#include "message_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kUsage[] =
    "Usage: clipsum strip (--in-place | --stdout | --dry-run) [options] FILE|FOLDER...\n"
    "       clipsum restore --backup-dir DIR [--dry-run] [--force] TARGET...\n"
    "       clipsum --version | --help\n"
    "\n"
    "Removes the attachments from mail kept as files: each message that has an\n"
    "attachment is reduced to its plain-text part, exactly as the TlClipsum plug-in\n"
    "does in the mail client. Files are read and written as bytes, never\n"
    "translated: a stripped message ends its lines with CR LF, as the plug-in\n"
    "stores it (in an mbox whose message ends its lines with LF, with LF), and a\n"
    "message left alone keeps every byte.\n"
    "\n"
    "What it takes:\n"
    "  a message file     any file that does not start with \"From \".\n"
    "  an mbox            a file whose first line starts with \"From \": many\n"
    "                     messages, each starting with a \"From \" line after a\n"
    "                     blank line. Each message is stripped on its own; the\n"
    "                     \"From \" lines, \">From \" quoting (of any convention) and the\n"
    "                     bytes between messages are kept, a Content-Length field of\n"
    "                     a stripped message is corrected, and a message whose\n"
    "                     Content-Length points at the next \"From \" line ends there.\n"
    "                     The new mbox is written beside the old one and renamed over\n"
    "                     it only when it is complete, and only if the mbox has not\n"
    "                     changed meanwhile (a message delivered during the run):\n"
    "                     stop delivery to it first.\n"
    "  a Maildir          a folder with cur/, new/ and tmp/: every message in cur/\n"
    "                     and new/ is handled, keeps its name (flags after \":2,\"\n"
    "                     included) and its time of last change; tmp/ is never\n"
    "                     touched. With -r its sub-folders (.Sent, ...) too.\n"
    "  a folder           the files directly in it (names starting with \".\" left\n"
    "                     out), in order of name; with -r its sub-folders too.\n"
    "                     Symbolic links are followed only to files inside the tree.\n"
    "On Windows clipsum expands * and ? in FILE itself.\n"
    "\n"
    "A mail server that records a message's size in its file name (\",S=\" in\n"
    "Maildir names) or in an index of its own (dovecot.index*, a cache) is not\n"
    "told of the change: stop it, run clipsum, then have it re-index (for example,\n"
    "remove its index and cache files; they are rebuilt). clipsum cannot tell\n"
    "reliably whether a server is using a Maildir, so it does not try.\n"
    "\n"
    "Choose one of:\n"
    "  --in-place         replace each message with its stripped form. The new file\n"
    "                     is written beside the old one, forced to the disk and\n"
    "                     renamed over it, so a crash leaves either the old or the\n"
    "                     new message, never a part of one. The new file keeps the\n"
    "                     old one's owner, group, permissions, extended attributes\n"
    "                     and times; if one of them cannot be kept, the file is left\n"
    "                     unchanged with an error line.\n"
    "  --stdout           write the file as it would be stored afterwards to\n"
    "                     standard output; exactly one FILE. The report goes to\n"
    "                     standard error.\n"
    "  --dry-run          report what would change and write nothing.\n"
    "Without one of them clipsum changes nothing and exits with status 2.\n"
    "\n"
    "Which messages:\n"
    "  --min-size SIZE    only messages of at least SIZE bytes (suffix k, M or G:\n"
    "                     1024, 1024^2, 1024^3), e.g. --min-size 1M.\n"
    "  --older-than DAYS  only messages whose Date field is more than DAYS days\n"
    "                     ago; a message without a usable Date is left alone.\n"
    "  --all              strip every multipart message, also one without an\n"
    "                     attachment (its HTML alternative, inline images or a\n"
    "                     report's status part go too), as the plug-in strips\n"
    "                     every message the mail client marks as multipart/mixed.\n"
    "  --keep-html        leave alone an HTML message: one whose header holds the\n"
    "                     text \"Content-Type: text/html\" (compared case-sensitively)\n"
    "                     or that has a part declared text/html (any case).\n"
    "  --force            strip read-only files too; they stay read-only.\n"
    "By default only messages that have an attachment are stripped: a part, at any\n"
    "depth, marked \"Content-Disposition: attachment\" or whose type is neither\n"
    "text/*, multipart/* nor a delivery or read report's status; others are left\n"
    "alone (\"no attachments\").\n"
    "\n"
    "Other options:\n"
    "  -r, --recursive    go into sub-folders.\n"
    "  -j, --jobs N       handle N files at a time (default: one per processor; an\n"
    "                     mbox is one file). The report, the summary and the\n"
    "                     names of backup copies are the same whatever N is.\n"
    "                     With --stdout, one file at a time.\n"
    "  --backup-dir DIR   with --in-place: before a file is changed, save its\n"
    "                     original (a whole mbox) in DIR under the same name\n"
    "                     (NAME.1, NAME.2, ... when that name is taken; no copy is\n"
    "                     ever overwritten), and note it in DIR/clipsum-backups.log\n"
    "                     for restore. A copy appears under its name only once it is\n"
    "                     complete; if it cannot be saved, the file is left\n"
    "                     unchanged. If DIR is missing or takes no new file, clipsum\n"
    "                     says so and exits with status 2 before touching any file.\n"
    "  --note             the stripped message keeps a note of each part it lost, a\n"
    "                     header field after its Content- fields:\n"
    "                       X-TlClipsum-Removed: application/pdf; name=\"a.pdf\";\n"
    "                        size=48213; saved=\"a.pdf\"\n"
    "                     with the type and the name as the part wrote them, the\n"
    "                     decoded size in bytes and, with --save-dir, the file it was\n"
    "                     saved as; folded under 78 bytes. The text is untouched.\n"
    "  --save-dir DIR     before a message is changed, save each part it loses in\n"
    "                     DIR, decoded (base64, quoted-printable; 7bit, 8bit, binary,\n"
    "                     uuencoded and unknown encodings as written), under its own\n"
    "                     name (RFC 2231 and RFC 2047 names, Japanese ones included;\n"
    "                     Unicode on Windows; a part without one is named after the\n"
    "                     subject, else the file) made safe: no path, no \"..\", no\n"
    "                     device name, at most 200 bytes. A taken name gets a number,\n"
    "                     \"a (2).pdf\", so no file is ever overwritten; each file is\n"
    "                     private to its owner (on POSIX), dated with the message's\n"
    "                     Date and forced to the disk before the message changes. If\n"
    "                     any part of a message cannot be saved, the files saved for\n"
    "                     it are removed and the message is left unchanged (an error\n"
    "                     line). A part whose base64 is broken is saved as far as it\n"
    "                     decodes, and the line says so. With --dry-run the names are\n"
    "                     chosen and nothing is written. DIR is checked before any\n"
    "                     file is touched, as --backup-dir is. It costs memory: the\n"
    "                     whole of each message is held while its parts are saved.\n"
    "  --report FILE      also write the report to FILE as one JSON object per\n"
    "                     message and line (path, message and offset in an mbox,\n"
    "                     outcome, reason, subject, bytes_before, bytes_after,\n"
    "                     removed: type, filename and file saved as of each\n"
    "                     part, backup).\n"
    "  -q, --quiet        no report lines, no summary, no progress bar; errors only.\n"
    "  --version          show the version.\n"
    "  --help             show this text.\n"
    "  --                 end of options: every later argument is a FILE.\n"
    "\n"
    "What is kept is the person's text: the first text/plain part in the order of\n"
    "the message that is not marked as an attachment (a part without Content-Type\n"
    "counts as text/plain). Only when there is no such part is a text attachment,\n"
    "or else the first part, kept. A message is left alone, unchanged, when it is\n"
    "not multipart, holds an encrypted part, is nested more than 64 levels deep,\n"
    "or memory runs out; with --in-place and --dry-run, also a read-only file (no\n"
    "write permission for its owner, or the read-only attribute on Windows) unless\n"
    "--force is given.\n"
    "Only regular files are read: a folder named as FILE is walked, a named pipe\n"
    "or a device gets an error line and is never opened for writing. A file\n"
    "that is missing, unreadable, empty, larger than 512 MiB (an mbox may be of any\n"
    "size; a message in it larger than that is left alone) or holds a NUL byte is\n"
    "not a message clipsum can handle: it gets an error line, is never changed,\n"
    "and the other files are still handled.\n"
    "\n"
    "A run that is killed leaves no temporary file for ever: on Linux the new file\n"
    "has no name until it is complete; elsewhere its name starts with\n"
    "\".clipsum-tmp-\" and the next run in that directory removes it.\n"
    "\n"
    "Each message gets one report line with its subject and the type and file name\n"
    "of each part removed; an mbox gets a line of its own at its end. A progress\n"
    "bar is shown on standard error when it is a terminal. The summary counts the\n"
    "messages by outcome and reason, and gives the bytes before, after and saved.\n"
    "\n"
    "restore puts the originals saved in DIR back over their stripped forms, for\n"
    "every file noted in DIR/clipsum-backups.log that is a TARGET or lies in a\n"
    "TARGET folder (a Maildir message found under its current flags). A file that\n"
    "has changed since it was stripped is left as it is unless --force is given;\n"
    "--dry-run says what would be done. The copies stay in DIR.\n"
    "\n"
    "Exit status: 0 when every message was stripped (restored) or left alone, 1\n"
    "when any file could not be read or written, 2 for a usage error or an\n"
    "unusable --backup-dir, --save-dir or --report.\n";

bool SetMode(StripOptions* options, Mode mode)
{
    if (options->mode != Mode::Unset && options->mode != mode)
        return false;
    options->mode = mode;
    return true;
}

const char kOneModeOnly[] = "choose only one of --in-place, --stdout and --dry-run";

// The value of an option given as "--name VALUE" or "--name=VALUE"; null when it is not this option.
const char* OptionValue(const char* argument, int argc, char** argv, int* i, const char* name, bool* missing)
{
    std::size_t nameLength = strlen(name);
    *missing = false;
    if (strcmp(argument, name) == 0) {
        if (*i + 1 >= argc || !argv[*i + 1]) {
            *missing = true;
            return nullptr;
        }
        const char* value = argv[++*i];
        argv[*i] = nullptr;
        return value;
    }
    if (strncmp(argument, name, nameLength) == 0 && argument[nameLength] == '=')
        return argument + nameLength + 1;
    return nullptr;
}

// -j N, or -jN.
const char* JobsValue(const char* argument, int argc, char** argv, int* i, bool* missing)
{
    *missing = false;
    if (strncmp(argument, "-j", 2) != 0)
        return nullptr;
    if (argument[2] != '\0')
        return argument + 2;
    if (*i + 1 >= argc || !argv[*i + 1]) {
        *missing = true;
        return nullptr;
    }
    const char* value = argv[++*i];
    argv[*i] = nullptr;
    return value;
}

bool ParseCount(const char* text, unsigned long long* value)
{
    char* end = nullptr;
    if (!text[0] || text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    *value = strtoull(text, &end, 10);
    return errno == 0 && end && *end == '\0';
}

// Days given to --older-than: at most a few thousand years, so that the cut-off fits.
constexpr unsigned long long kMaxDays = 3650000;

} // namespace

int UsageError(const char* problem, const char* argument)
{
    if (argument)
        fprintf(stderr, "clipsum: %s: %s\n", problem, argument);
    else
        fprintf(stderr, "clipsum: %s\n", problem);
    fputs("Try 'clipsum --help'.\n", stderr);
    return kExitUsage;
}

void PrintHelp()
{
    fputs(kUsage, stdout);
}

void PrintVersion()
{
    printf("clipsum %s\n", CLIPSUM_VERSION);
}

bool ParseSize(const char* text, unsigned long long* bytes)
{
    char* end = nullptr;
    if (text[0] < '0' || text[0] > '9')
        return false;
    errno = 0;
    unsigned long long value = strtoull(text, &end, 10);
    if (errno != 0 || !end)
        return false;
    unsigned shift = 0;
    if (*end == 'k' || *end == 'K')
        shift = 10;
    else if (*end == 'm' || *end == 'M')
        shift = 20;
    else if (*end == 'g' || *end == 'G')
        shift = 30;
    if (shift != 0)
        ++end;
    if (*end == 'B' || *end == 'b')
        ++end;
    if (*end != '\0' || value > (~0ULL >> shift))
        return false;
    *bytes = value << shift;
    return true;
}

int ParseStripOptions(int argc, char** argv, StripOptions* options)
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
        bool missing = false;
        const char* value = nullptr;
        if (strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0) {
            PrintHelp();
            return kExitHandled;
        } else if (strcmp(argument, "--version") == 0) {
            PrintVersion();
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
            options->filters.keepHtml = true;
        } else if (strcmp(argument, "--force") == 0) {
            options->force = true;
        } else if (strcmp(argument, "--all") == 0) {
            options->filters.all = true;
        } else if (strcmp(argument, "-r") == 0 || strcmp(argument, "--recursive") == 0) {
            options->recursive = true;
        } else if (strcmp(argument, "-q") == 0 || strcmp(argument, "--quiet") == 0) {
            options->quiet = true;
        } else if ((value = OptionValue(argument, argc, argv, &i, "--jobs", &missing)) || missing ||
                   (value = JobsValue(argument, argc, argv, &i, &missing)) || missing) {
            unsigned long long jobs = 0;
            if (missing || !ParseCount(value, &jobs) || jobs < 1 || jobs > kMaxJobs)
                return UsageError("--jobs needs a number from 1 to 64", value);
            options->jobs = static_cast<unsigned>(jobs);
        } else if ((value = OptionValue(argument, argc, argv, &i, "--backup-dir", &missing)) || missing) {
            if (missing)
                return UsageError("--backup-dir needs a directory", nullptr);
            options->backupDir = value;
        } else if (strcmp(argument, "--note") == 0) {
            options->note = true;
        } else if ((value = OptionValue(argument, argc, argv, &i, "--save-dir", &missing)) || missing) {
            if (missing || !value[0] || strlen(value) > kMaxPathBytes)
                return UsageError("--save-dir needs a directory name", nullptr);
            options->saveDir = value;
        } else if ((value = OptionValue(argument, argc, argv, &i, "--report", &missing)) || missing) {
            if (missing || !value[0])
                return UsageError("--report needs a file name", nullptr);
            options->reportPath = value;
        } else if ((value = OptionValue(argument, argc, argv, &i, "--min-size", &missing)) || missing) {
            if (missing || !ParseSize(value, &options->filters.minSize))
                return UsageError("--min-size needs a size such as 500k, 1M or 2G", value);
        } else if ((value = OptionValue(argument, argc, argv, &i, "--older-than", &missing)) || missing) {
            if (missing || !ParseCount(value, &options->olderThanDays) || options->olderThanDays > kMaxDays)
                return UsageError("--older-than needs a number of days", value);
            options->filters.olderThanSet = true;
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

int ParseRestoreOptions(int argc, char** argv, RestoreOptions* options)
{
    int targetCount = 0;
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        const char* argument = argv[i];
        if (!argument)
            continue;
        if (optionsEnded || argument[0] != '-' || strcmp(argument, "-") == 0) {
            ++targetCount;
            continue;
        }
        argv[i] = nullptr;
        bool missing = false;
        const char* value = nullptr;
        if (strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0) {
            PrintHelp();
            return kExitHandled;
        } else if (strcmp(argument, "--dry-run") == 0) {
            options->dryRun = true;
        } else if (strcmp(argument, "--force") == 0) {
            options->force = true;
        } else if (strcmp(argument, "-q") == 0 || strcmp(argument, "--quiet") == 0) {
            options->quiet = true;
        } else if ((value = OptionValue(argument, argc, argv, &i, "--backup-dir", &missing)) || missing) {
            if (missing || !value[0] || strlen(value) > kMaxPathBytes)
                return UsageError("--backup-dir needs a directory", nullptr);
            options->backupDir = value;
        } else {
            return UsageError("unknown option", argument);
        }
    }
    if (!options->backupDir)
        return UsageError("restore needs --backup-dir DIR, where the originals were saved", nullptr);
    if (targetCount == 0)
        return UsageError("no TARGET given", nullptr);
    return kGoOn;
}
