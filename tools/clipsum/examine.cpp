#include "examine.h"

#include "report_text.h"
#include "mime/mail_date.h"
#include "mime/message_header.h"
#include "save_dir.h"

#include "mime/strip_message.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMaxDateBytes = 128;
// A message's header is looked at this far for its Subject and Date.
constexpr std::size_t kMaxHeaderCopyBytes = 256 * 1024;
// A Subject is read this far before decoding: more than a report line can show.
constexpr std::size_t kMaxRawSubjectBytes = 1024;

void LeaveAlone(MessageOutcome* outcome, const char* reason)
{
    outcome->verdict = Verdict::LeaveAlone;
    outcome->reason = reason;
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
        return "could not be read";
    case StripStatus::Ok:
        break;
    }
    return "unknown reason";
}

void ReadSubject(const char* data, std::size_t length, MessageOutcome* outcome)
{
    outcome->subject[0] = '\0';
    HeaderField field;
    if (!FindHeaderField(data, length, "Subject", &field))
        return;
    char raw[kMaxRawSubjectBytes];
    UnfoldedValue(data, field, raw, sizeof raw);
    DecodeForReport(raw, outcome->subject, sizeof outcome->subject);
}

// The moment the Date field names, for --older-than and the saved files' time.
void ReadDate(const char* data, std::size_t length, MessageOutcome* outcome)
{
    HeaderField field;
    char date[kMaxDateBytes];
    outcome->dated = FindHeaderField(data, length, "Date", &field);
    if (outcome->dated) {
        UnfoldedValue(data, field, date, sizeof date);
        outcome->dated = ParseMailDate(date, &outcome->date);
    }
}

// True when the message passes --older-than; otherwise outcome says why not.
bool OldEnough(const char* data, std::size_t length, const Filters& filters, MessageOutcome* outcome)
{
    HeaderField field;
    if (!FindHeaderField(data, length, "Date", &field)) {
        LeaveAlone(outcome, "no Date field (--older-than)");
        return false;
    }
    if (!outcome->dated) {
        LeaveAlone(outcome, "no usable date in its Date field (--older-than)");
        return false;
    }
    if (outcome->date >= filters.olderThanCutoff) {
        LeaveAlone(outcome, "newer than --older-than");
        return false;
    }
    return true;
}

// The header's parts a decision or the report reads: its subject (for the
// report and the names of saved parts) and its date.
void ReadHeader(const char* data, std::size_t length, const Keeping& keeping, MessageOutcome* outcome)
{
    outcome->subject[0] = '\0';
    if (keeping.describe || keeping.saver)
        ReadSubject(data, length, outcome);
    ReadDate(data, length, outcome);
}

// After the parse: what the tree decides. The parts are saved before the
// reduction, which records their names in the note and lets their bodies go.
void Decide(StripStatus status, const Filters& filters, const Keeping& keeping, MessageStripper* stripper,
            MessageOutcome* outcome)
{
    if (status != StripStatus::Ok)
        return LeaveAlone(outcome, LeftAloneReason(status));
    if (!filters.all && !stripper->HasAttachment())
        return LeaveAlone(outcome, "no attachments");
    if (filters.keepHtml && (stripper->HeaderContains("Content-Type: text/html") || stripper->HasHtmlPart()))
        return LeaveAlone(outcome, "HTML message kept (--keep-html)");
    if (keeping.saver && !keeping.saver->Save(*stripper, outcome->subject[0] ? outcome->subject : keeping.fileStem,
                                              outcome))
        return;
    if ((status = stripper->Reduce(keeping.note ? RemovedNote::Fields : RemovedNote::None)) != StripStatus::Ok) {
        if (keeping.saver)
            keeping.saver->UndoLast();
        outcome->savedCount = outcome->brokenCount = 0;
        return LeaveAlone(outcome, LeftAloneReason(status));
    }
    outcome->verdict = Verdict::Strip;
    outcome->bytesAfter = stripper->NewLength();
    ListRemovedParts(*stripper, outcome);
}

// Left alone, unchanged, until a decision says otherwise.
void StartOutcome(std::size_t length, MessageOutcome* outcome)
{
    outcome->verdict = Verdict::LeaveAlone;
    outcome->reason = nullptr;
    outcome->bytesBefore = length;
    outcome->bytesAfter = length;
    outcome->removedCount = 0;
}

} // namespace

void ExamineMessage(const char* data, std::size_t length, const Filters& filters, const Keeping& keeping,
                    MessageStripper* stripper, MessageOutcome* outcome)
{
    StartOutcome(length, outcome);
    ReadHeader(data, length, keeping, outcome);

    // The engine takes NUL-terminated text: a NUL inside would cut the message short.
    if (length == 0)
        return LeaveAlone(outcome, "empty, not a message");
    if (memchr(data, '\0', length))
        return LeaveAlone(outcome, "holds a NUL byte, not a text message");
    if (length < filters.minSize)
        return LeaveAlone(outcome, "smaller than --min-size");
    if (filters.olderThanSet && !OldEnough(data, length, filters, outcome))
        return;

    Decide(stripper->Parse(data), filters, keeping, stripper, outcome);
}

void ExamineParsed(StripStatus status, std::size_t length, const Filters& filters, const Keeping& keeping,
                   MessageStripper* stripper, MessageOutcome* outcome)
{
    StartOutcome(length, outcome);
    char* header = static_cast<char*>(malloc(kMaxHeaderCopyBytes));
    if (!header)
        return LeaveAlone(outcome, LeftAloneReason(StripStatus::OutOfMemory));
    const std::size_t headerLength = stripper->CopyHeader(header, kMaxHeaderCopyBytes);
    ReadHeader(header, headerLength, keeping, outcome);
    const bool oldEnough = !filters.olderThanSet || OldEnough(header, headerLength, filters, outcome);
    free(header);
    if (length < filters.minSize)
        return LeaveAlone(outcome, "smaller than --min-size");
    if (!oldEnough)
        return;
    Decide(status, filters, keeping, stripper, outcome);
}

void KeepAfterAll(MessageOutcome* outcome, const char* reason)
{
    outcome->verdict = Verdict::LeaveAlone;
    outcome->reason = reason;
    outcome->bytesAfter = outcome->bytesBefore;
    outcome->removedCount = 0;
    outcome->savedCount = outcome->brokenCount = 0;
}
