#pragma once
// The note kept in a backup folder of which copy holds the original of which
// file, and what the stripped file was, so that restore can put originals back
// and tell a file changed since it was stripped from one it may replace.
//
// One line per stripped file, written and forced to the disk before the file
// is replaced: "1 TAB kind TAB size TAB hash TAB copy TAB target", the copy's
// name in the folder, the target's absolute path; a tab, a line break or a
// backslash in a name is written \t, \n or \\.

#include "platform.h"

#include <cstddef>
#include <cstdio>

constexpr char kBackupLogName[] = "clipsum-backups.log";

// 64-bit FNV-1a of a file's bytes: a check that a file is the one clipsum
// wrote, not a defence against someone forging one.
struct ContentHash {
    unsigned long long value = 0xcbf29ce484222325ULL;
    unsigned long long length = 0;
};
void HashBytes(ContentHash* hash, const char* data, std::size_t length);

// The hash of the whole file at path. False with errno set when it cannot be read.
bool HashFile(const char* path, ContentHash* hash);

// Opened at the first record, so that a run that strips nothing leaves none.
struct BackupLog {
    const char* directory;
    FILE* file;
};

void CloseBackupLog(BackupLog* log);

// Notes that copyPath (in the log's folder) holds the original of the file at
// target, and that the stripped file will be as hashed. kind: "file" or "mbox".
bool RecordBackup(BackupLog* log, const char* kind, const ContentHash& stripped, const char* copyPath,
                  const char* target, FileError* error);

struct BackupRecord {
    const char* kind;
    unsigned long long size;
    unsigned long long hash;
    const char* copyName;
    const char* target;
};

// The log's records, pointing into text (changed in place). False when memory
// runs out; lines that are not records are passed over and counted.
struct BackupRecords {
    BackupRecord* records;
    std::size_t count;
    std::size_t unreadable;
};
bool ParseBackupLog(char* text, std::size_t length, BackupRecords* records);
void FreeBackupRecords(BackupRecords* records);
