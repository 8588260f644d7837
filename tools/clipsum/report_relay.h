#pragma once
// What a worker thread reports (-j): each call to the report functions is kept
// as a record of bytes until the file's turn comes, then made again, call for
// call, on the reporter that writes. A record holds what the call was given;
// the path of a MessageRef and the reasons are pointers that live through the
// run (the work list, static text).

#include "report.h"

#include <cstddef>

// Made by the reporter of a worker (Reporter::relay); taken by the jobs.
struct ReportRelay;

// Hands one whole record to relay; waits, when the records held are many,
// until the file's turn has come and they have been written.
void PutRecord(ReportRelay* relay, const char* record, std::size_t length);

void RelayOutcome(ReportRelay* relay, const MessageRef& where, const MessageOutcome& outcome, const char* copyPath);
void RelayFailure(ReportRelay* relay, const MessageRef& where, const FileError& error, unsigned long long length,
                  const char* detail);
void RelayMailboxLine(ReportRelay* relay, const char* path, const char* text, const char* copyPath);
void RelayMailboxFailure(ReportRelay* relay, const char* path, const FileError& error, unsigned long undone,
                         unsigned long long undoneBytes, unsigned long undoneFiles);
void RelayProgressTotal(ReportRelay* relay, unsigned long long messages);

// The largest record: a report line's texts and two paths.
constexpr std::size_t kMaxRecordBytes = 16 * 1024;

// Makes the calls recorded in the length bytes at records on reporter.
void ReplayRecords(Reporter* reporter, const char* records, std::size_t length);
