#pragma once
// Message files as byte strings: read whole, written whole, never translated.

#include "platform.h"

#include <cstddef>
#include <cstdio>

// Largest message file that is read. The engine needs a few times the message
// size on top of it, and the Windows build is a 32-bit process.
constexpr std::size_t kMaxMessageBytes = std::size_t{512} << 20;

// Longest path accepted, directories included.
constexpr std::size_t kMaxPathBytes = 4096;

// A whole file in memory. data is NUL-terminated past length and owned.
struct FileBytes {
    char* data;
    std::size_t length;
};

// Reads the regular file at path whole, and what it was (facts) before it was
// read. False with error set when it is not a regular file, cannot be opened or
// read, is larger than kMaxMessageBytes, or memory runs out.
bool ReadWholeFile(const char* path, FileBytes* bytes, FileFacts* facts, FileError* error);

// The two steps of ReadWholeFile: open (null with error set), and read the
// open file from where it stands to its end, closing it.
FILE* OpenMessageFile(const char* path, FileFacts* facts, FileError* error, bool listedRegular = false);
bool ReadOpenFile(FILE* file, FileBytes* bytes, FileError* error);
void FreeFileBytes(FileBytes* bytes);

bool WriteAll(FILE* file, const char* data, std::size_t length);

// Copies length bytes from offset of from (a regular file) to the end of to.
// False with errno set when either fails or from ends first.
bool CopyFileRange(FILE* from, unsigned long long offset, unsigned long long length, FILE* to);

// What a new file is to hold: bytes in memory, or the whole of an open file.
struct Content {
    const char* data;
    std::size_t length;
    FILE* file; // used when data is null, read from its start
    unsigned long long fileLength;
};

// The directory whose stale temporary files were removed last, so that a run
// over many files of one directory reads it once.
struct TempSweep {
    char* lastDirectory;
};
void EndSweep(TempSweep* sweep);

// Removes stale temporary files from directory, unless it was the last one swept.
void SweepDirectory(TempSweep* sweep, const char* directory);

// The directory part of path as a string of its own ("" for a bare name), or
// null when memory runs out.
char* DirectoryOf(const char* path);

// Replaces the contents of the file at path, as it was read (facts), with data:
// writes a temporary file in the same directory with the original's owner,
// group, mode, extended attributes and times, forces it to the disk and renames
// it over path, unless the file has changed since it was read. Stale temporary
// files of killed runs in that directory go first. On failure path is
// unchanged and the temporary file is gone.
bool ReplaceFileContents(const char* path, const FileFacts& facts, const Content& content, TempSweep* sweep,
                         FileError* error);

// Checks, before any file is touched, that a backup copy can be made in
// directory: it exists, is a directory, and a file can be created in it. Stale
// temporary files of killed runs there are removed.
bool CheckBackupDirectory(const char* directory, FileError* error);

// Saves data, the file at path as it was read (facts), as a new file in
// directory, named after the last component of path; when that name is taken,
// NAME.1 up to NAME.999, so that no earlier copy is ever overwritten. The copy
// takes its name only once it is whole and on the disk, and *copyPath (freed
// by the caller) names it.
bool WriteBackupCopy(const char* directory, const char* path, const FileFacts& facts, const Content& content,
                     char** copyPath, FileError* error);
