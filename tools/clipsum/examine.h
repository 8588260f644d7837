#pragma once
// What becomes of one message: the filters, the engine's verdict, and what
// the report says about it. No file is touched here but the parts saved with
// --save-dir, so that messages can be examined in any order, or side by side,
// and reported in the order given.

#include <cstddef>

class MessageStripper;
class PartSaver;

// Which messages are stripped (the command line's filters and settings).
struct Filters {
    bool all;                     // also messages without an attachment
    bool keepHtml;                // leave HTML messages alone
    unsigned long long minSize;   // 0: any size
    bool olderThanSet;
    long long olderThanCutoff;    // with olderThanSet: only messages dated before this moment (seconds, UTC)
};

// What a stripped message keeps of the parts it loses: a note of each in its
// header (--note), and the parts themselves as files (--save-dir).
struct Keeping {
    bool note;
    PartSaver* saver;     // null without --save-dir
    const char* fileStem; // the message's file name without extension: the name of an unnamed part, without a subject
    bool describe;        // the report writes the subject and the removed parts
};

enum class Verdict { Strip, LeaveAlone, Fail };

constexpr std::size_t kMaxSubjectBytes = 256;
constexpr std::size_t kMaxMediaTypeBytes = 80;
constexpr std::size_t kMaxFileNameBytes = 160;
// Parts named in the report; a message with more gives their count only.
constexpr unsigned kMaxListedParts = 16;
// A saved file's name: the longest name made, and " (999)".
constexpr std::size_t kMaxSavedNameBytes = 216;
constexpr std::size_t kMaxDetailBytes = 320;

struct RemovedEntry {
    char mediaType[kMaxMediaTypeBytes]; // "" when the part had no usable Content-Type
    char fileName[kMaxFileNameBytes];   // UTF-8, "" when it had none
    char savedAs[kMaxSavedNameBytes];   // with --save-dir: the file's name in the folder (UTF-8)
    bool broken;                        // its base64 is broken: saved as far as it decodes
};

struct MessageOutcome {
    Verdict verdict;
    const char* reason; // LeaveAlone, Fail: why (static text)
    int code;           // Fail: the errno value behind it, or 0
    char detail[kMaxDetailBytes]; // Fail: what to show instead of the reason
    std::size_t bytesBefore;
    std::size_t bytesAfter; // what the message is, or would be, after the run
    char subject[kMaxSubjectBytes]; // decoded, UTF-8, control characters blanked
    bool dated;
    long long date; // with dated: the moment its Date field names (seconds, UTC)
    unsigned removedCount;
    unsigned savedCount;  // with --save-dir: the parts saved as files
    unsigned brokenCount; // of them, those whose base64 is broken
    RemovedEntry removed[kMaxListedParts];
};

// Decides on the NUL-terminated message of length bytes at data. When the
// verdict is Strip, stripper holds the new form (NewSource, NewLength), with
// its parts saved as keeping says (they are the only files touched here); a
// part that could not be saved makes the verdict Fail.
void ExamineMessage(const char* data, std::size_t length, const Filters& filters, const Keeping& keeping,
                    MessageStripper* stripper, MessageOutcome* outcome);

// Decides on a message that stripper has parsed (with status) from a source
// read in pieces, length bytes in all: its header is read from the parsed tree.
enum class StripStatus;
void ExamineParsed(StripStatus status, std::size_t length, const Filters& filters, const Keeping& keeping,
                   MessageStripper* stripper, MessageOutcome* outcome);

// Turns a Strip verdict into LeaveAlone for reason (memory ran out, say); the
// caller removes the files saved for it (PartSaver::UndoLast).
void KeepAfterAll(MessageOutcome* outcome, const char* reason);
