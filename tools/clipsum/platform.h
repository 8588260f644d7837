#pragma once
// The file operations that differ between POSIX and Windows. Everything else
// in clipsum is plain C stdio on byte strings.

#include <cstddef>
#include <cstdio>

#ifndef _WIN32
#include <sys/stat.h>
#endif

// Why a file operation failed: a short description and the errno value behind
// it (0 when there is none).
struct FileError {
    const char* what;
    int code;
};

// Puts standard output into binary mode: no newline translation on Windows.
bool SetStdoutBinary();

// Length of the directory part of path, its last separator included (0 for a
// bare file name).
std::size_t DirectoryLength(const char* path);

enum class FileKind { Regular, Directory, NamedPipe, Device, Other };

// What a file was when it was read, so that its replacement can be given the
// same: owner, group, mode and times on POSIX; attributes and times on Windows.
struct FileFacts {
    FileKind kind;
    bool readOnly; // no write permission for its owner (POSIX) or the read-only attribute (Windows)
    unsigned long long size;
#ifdef _WIN32
    unsigned long attributes;
    unsigned long long accessTime;
    unsigned long long writeTime;
#else
    struct stat status;
#endif
};

// Opens the file at path for binary reading, only when it is a regular file:
// a named pipe or a device is never opened in a way that could block or
// disturb it. Null with errno set when it cannot be opened; null with errno 0
// when it is not a regular file, facts->kind then saying what it is.
FILE* OpenRegularFile(const char* path, FileFacts* facts);

// The same for a file its directory's listing has just named a regular file:
// the look before opening it is left out (the file is still looked at once open).
FILE* OpenListedRegularFile(const char* path, FileFacts* facts);

// Reads up to count bytes from the start of a file opened by OpenRegularFile
// and leaves it positioned at its start; got receives how many. False with
// errno set on a read error.
bool ReadFileStart(FILE* file, char* out, std::size_t count, std::size_t* got);

// The path of the file itself when path is a symbolic link (followed to the
// end), else a copy of path. Owned by the caller; null with errno set on failure.
char* ResolveLinks(const char* path);

// A file being written that is to take a name only once it is whole. On Linux
// it has no name at all while it is written (O_TMPFILE), so a killed run
// leaves nothing behind; elsewhere it is named ".clipsum-tmp-PID-XXXXXX",
// which RemoveStaleTempFiles removes once that process is gone.
struct TempFile {
    FILE* file;      // open for binary writing until it is published or replaced
    char* name;      // its path, null while it has none
    char* directory; // where it lives
};

// Creates an empty temporary file in directory ("" for the current one),
// readable by its owner only. False with errno set on failure.
bool CreateTempFile(const char* directory, TempFile* temp);

// Gives the temporary file, its data written, what the original had: owner,
// group, mode, extended attributes (from the file at sourcePath) and times on
// POSIX; times on Windows. strict: fails with error set at the first thing that
// cannot be copied; otherwise copies what it can.
bool CopyFacts(TempFile* temp, const FileFacts& facts, const char* sourcePath, bool strict, FileError* error);

// Forces the temporary file's data and metadata to the disk.
bool FlushTemp(TempFile* temp);

// Gives the flushed temporary file the name path, never replacing a file:
// false with errno EEXIST when path exists, the temporary file still usable.
// On success the temporary file is closed and nothing of it remains to discard.
bool PublishTemp(TempFile* temp, const char* path);

// Replaces target with the flushed temporary file in one step, so that target
// is always either the old file or the new one, and makes the change durable.
// A read-only target (facts) stays read-only. False with errno set on failure;
// target is then unchanged.
bool ReplaceWithTemp(TempFile* temp, const char* target, const FileFacts& facts);

// Closes the temporary file and removes it, if it is still there.
void DiscardTemp(TempFile* temp);

// Removes the temporary files that clipsum runs killed before they finished
// left in directory: those whose process no longer runs, and any older than a
// day (its number may belong to another process by then).
void RemoveStaleTempFiles(const char* directory);

// directory and name joined with a separator where one is needed. Null when
// memory runs out.
char* JoinPath(const char* directory, const char* name);

// What a directory's listing says an entry is, without a look at the entry
// itself: file systems that tell spare the walk a look per file.
enum class ListedKind : unsigned char { Unknown, Regular, Directory };
struct ListedEntry {
    ListedKind kind;
    unsigned long long index; // the file's inode as listed, 0 when not told
};

// Names, each owned, in a growable array; listed[i] is what the listing said of
// names[i] (Unknown for names that come from elsewhere), volume the device
// the listed folder lies on.
struct NameList {
    char** names;
    ListedEntry* listed;
    std::size_t count;
    std::size_t capacity;
    unsigned long long volume;
};
bool AddName(NameList* list, const char* name, ListedEntry listed = ListedEntry{ListedKind::Unknown, 0});
// Byte order, the same on every system, so that a run's order is stable.
void SortNames(NameList* list);
void FreeNames(NameList* list);

// The entries of a directory ("." and ".." left out), sorted by name.
bool ListDirectory(const char* path, NameList* names, FileError* error);

// What an entry of a directory is, looked at without following it (link), and
// what it leads to (kind, size) when it is a symbolic link.
struct EntryFacts {
    FileKind kind;
    bool link;
};
bool LookAt(const char* path, EntryFacts* facts);

// The command line's file arguments from index first on, with wildcards (* and
// ?) expanded on Windows, where the shell leaves them to the program; sorted
// by name per pattern. A pattern that matches nothing stays as it is.
bool ExpandArguments(int argc, char** argv, int first, NameList* files);

bool IsTerminal(FILE* stream);

// The absolute path of an existing file, links followed on POSIX. Owned by the
// caller; null with errno set on failure.
char* AbsolutePath(const char* path);

// Writes UTF-8 text for a person to read: as it is on POSIX, in the console's
// code page on Windows.
void WriteReadableText(FILE* stream, const char* utf8);

// A path as UTF-8, for the JSON report: as it is on POSIX, from the ANSI code
// page on Windows. Cut at a character boundary to fit outSize.
void PathAsUtf8(const char* path, char* out, std::size_t outSize);

// Moves a file opened by OpenRegularFile to offset, beyond 2 GiB too.
bool SeekFile(FILE* file, unsigned long long offset);

// Whether the file open as file still has the size and time of last change it
// had when it was opened (facts): a mailbox that grew meanwhile must not be replaced.
bool FileUnchanged(FILE* file, const FileFacts& facts);

// The same for the file at path: false when it was replaced, written or removed.
bool PathUnchanged(const char* path, const FileFacts& facts);

// What tells a file from every other: its device and inode (volume and file
// index on Windows), links followed. Two paths of one file (a link, a hard
// link) give the same.
struct FileIdentity {
    unsigned long long volume;
    unsigned long long index;
};
// False when the file cannot be looked at.
bool IdentifyFile(const char* path, FileIdentity* identity);

// Seconds since 1970-01-01 00:00 UTC.
long long CurrentTime();

// Milliseconds from an arbitrary start that never goes back.
unsigned long long MonotonicMilliseconds();
