#pragma once
// What the run tells its user: a line per message, the same as one JSON object
// per line for scripts (--report), a progress bar on a terminal, and the
// summary with counts by outcome and reason and the bytes saved.

#include "examine.h"
#include "platform.h"

#include <cstdio>

// Which message a report entry is about: a file, or the number-th message of
// an mbox (number 0 for a file of its own).
struct MessageRef {
    const char* path;
    unsigned long number;
    unsigned long long offset; // of the message's "From " line in the mbox
};

constexpr unsigned kMaxReasons = 32;

struct ReportRelay;

struct ReasonCount {
    const char* reason;
    unsigned long count;
};

struct Reporter {
    FILE* lines;   // the report lines: standard output, or standard error with --stdout
    FILE* json;    // --report FILE, or null
    bool quiet;    // no report lines, no summary, no progress bar
    bool dryRun;
    bool progress; // standard error is a terminal
    unsigned long long progressTotal;
    unsigned long long progressDone;
    unsigned long long lastDrawn; // ms
    bool progressShown;
    unsigned long stripped;
    unsigned long leftAlone;
    unsigned long failed;
    unsigned long long bytesBefore;
    unsigned long long bytesAfter;
    ReasonCount leftAloneReasons[kMaxReasons];
    ReasonCount failedReasons[kMaxReasons];
    unsigned long sizeInName; // stripped Maildir messages whose name states their old size
    unsigned long foldersNotEntered;
    const char* saveDir;        // with --save-dir
    unsigned long filesSaved;   // parts saved as files there
    unsigned long brokenSaved;  // of them, those whose base64 is broken
    // In a worker thread (-j): the calls below are recorded there, to be made
    // on the reporter that writes when the file's turn comes; null otherwise.
    ReportRelay* relay;
};

void StartReport(Reporter* reporter, FILE* lines, FILE* json, bool quiet, bool dryRun);

// copyPath: where the original was saved, or null.
void ReportOutcome(Reporter* reporter, const MessageRef& where, const MessageOutcome& outcome, const char* copyPath);

// A file or message that could not be handled; length: its bytes, when known,
// counted as before and after (it stays as it is). error.what must be static
// text (it is counted by reason); detail, when not null, is shown instead.
void ReportFailure(Reporter* reporter, const MessageRef& where, const FileError& error, unsigned long long length,
                   const char* detail = nullptr);

// A line about a whole mailbox file (not counted as a message).
void ReportMailboxLine(Reporter* reporter, const char* path, const char* text, const char* copyPath);

// An mbox that could not be written after undone of its messages were
// reported stripped, saving undoneBytes, and undoneFiles of their parts saved
// (and removed again): they count as failed, the mbox as unchanged.
void ReportMailboxFailure(Reporter* reporter, const char* path, const FileError& error, unsigned long undone,
                          unsigned long long undoneBytes, unsigned long undoneFiles);

void AddToProgressTotal(Reporter* reporter, unsigned long long messages);

void PrintSummary(Reporter* reporter);
