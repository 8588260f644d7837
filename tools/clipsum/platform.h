#pragma once
// The few file operations that differ between POSIX and Windows. Everything
// else in clipsum is plain C stdio on byte strings.

#include <cstddef>
#include <cstdio>

// Puts standard output into binary mode: no newline translation on Windows.
bool SetStdoutBinary();

// Length of the directory part of path, its last separator included (0 for a
// bare file name).
std::size_t DirectoryLength(const char* path);

// Creates a file that did not exist and opens it for binary writing. The last
// six characters of pathTemplate must be "XXXXXX"; they are replaced by the
// chosen name. Null with errno set on failure.
FILE* CreateUniqueFile(char* pathTemplate);

// Creates the file at path, failing with EEXIST if it already exists, and
// opens it for binary writing; only its owner may read it. Null with errno set
// on failure.
FILE* CreateNewFile(const char* path);

// Gives the open file the permission bits of the file at sourcePath, where
// the platform has them. Best effort: the file keeps its private mode if not.
void CopyPermissions(const char* sourcePath, FILE* file);

// The path of the file itself when path is a symbolic link (followed to the
// end), else a copy of path. Owned by the caller; null with errno set on failure.
char* ResolveLinks(const char* path);

// Writes the file's buffered data and forces it to the disk.
bool FlushToDisk(FILE* file);

// Renames from over to in one step, replacing to, and makes the change
// durable. False with errno set on failure; to is then unchanged.
bool ReplaceAtomically(const char* from, const char* to);
