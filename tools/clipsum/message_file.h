#pragma once
// Message files as byte strings: read whole, written whole, never translated.

#include <cstddef>
#include <cstdio>

// Largest message file that is read. The engine needs a few times the message
// size on top of it, and the Windows build is a 32-bit process.
constexpr std::size_t kMaxMessageBytes = std::size_t{512} << 20;

// Longest path accepted, directories included.
constexpr std::size_t kMaxPathBytes = 4096;

// Why a file operation failed: a short description and the errno value behind
// it (0 when there is none).
struct FileError {
    const char* what;
    int code;
};

// A whole file in memory. data is NUL-terminated past length and owned.
struct FileBytes {
    char* data;
    std::size_t length;
};

// Reads the file at path whole. False with error set when it cannot be opened
// or read, is larger than kMaxMessageBytes, or memory runs out.
bool ReadWholeFile(const char* path, FileBytes* bytes, FileError* error);
void FreeFileBytes(FileBytes* bytes);

bool WriteAll(FILE* file, const char* data, std::size_t length);

// Replaces the contents of the file at path with data: writes a temporary file
// in the same directory, forces it to the disk and renames it over path. On
// failure path is unchanged and the temporary file is gone.
bool ReplaceFileContents(const char* path, const char* data, std::size_t length, FileError* error);

// Saves data as a new file in directory, named after the last component of
// path; when that name is taken, NAME.1 up to NAME.999, so that no earlier
// copy is ever overwritten. The copy is on the disk when this returns true,
// and *copyPath (freed by the caller) names it.
bool WriteBackupCopy(const char* directory, const char* path, const char* data, std::size_t length, char** copyPath,
                     FileError* error);
