#include "report_relay.h"

#include "message_file.h"

#include <cstring>

namespace {

enum class Call : unsigned char { Outcome, Failure, MailboxLine, MailboxFailure, ProgressTotal };

// The fixed part of a record; the texts follow it, each ended by a NUL.
struct Head {
    Call call;
    bool hasCopyPath;
    bool hasDetail;
    MessageRef where;
    Verdict verdict;
    const char* reason;
    std::size_t bytesBefore;
    std::size_t bytesAfter;
    unsigned removedCount;
    int code;
    bool dated;
    long long date;
    unsigned savedCount;
    unsigned brokenCount;
    FileError error;
    unsigned long long count; // a failure's length, a mailbox's undone bytes, or the messages added to the total
    unsigned long undone;
    unsigned long undoneFiles;
};

class RecordWriter {
public:
    explicit RecordWriter(const Head& head)
    {
        memcpy(bytes_, &head, sizeof head);
        length_ = sizeof head;
    }

    // A text longer than the record has room for is cut: no text that clipsum
    // reports comes near it.
    void Text(const char* text)
    {
        std::size_t room = sizeof bytes_ - length_ - 1;
        std::size_t length = strnlen(text, room);
        memcpy(bytes_ + length_, text, length);
        length_ += length;
        bytes_[length_++] = '\0';
    }

    void Put(ReportRelay* relay) const { PutRecord(relay, bytes_, length_); }

private:
    char bytes_[kMaxRecordBytes];
    std::size_t length_;
};

static_assert(sizeof(Head) + kMaxSubjectBytes + kMaxListedParts * (kMaxMediaTypeBytes + kMaxFileNameBytes) +
                      2 * kMaxPathBytes + 64 <
                  kMaxRecordBytes,
              "a record holds a report line's texts and a backup copy's path (a folder and a name)");

Head MakeHead(Call call, const MessageRef& where)
{
    Head head{};
    head.call = call;
    head.where = where;
    return head;
}

class RecordReader {
public:
    RecordReader(const char* at, const char* end) : at_(at), end_(end) {}

    bool More() const { return at_ < end_; }

    Head ReadHead()
    {
        Head head;
        memcpy(&head, at_, sizeof head);
        at_ += sizeof head;
        return head;
    }

    const char* Text()
    {
        const char* text = at_;
        at_ += strlen(text) + 1;
        return text;
    }

private:
    const char* at_;
    const char* end_;
};

void CopyText(char* to, std::size_t size, const char* text)
{
    std::size_t length = strnlen(text, size - 1);
    memcpy(to, text, length);
    to[length] = '\0';
}

} // namespace

void RelayOutcome(ReportRelay* relay, const MessageRef& where, const MessageOutcome& outcome, const char* copyPath)
{
    Head head = MakeHead(Call::Outcome, where);
    head.hasCopyPath = copyPath != nullptr;
    head.verdict = outcome.verdict;
    head.reason = outcome.reason;
    head.bytesBefore = outcome.bytesBefore;
    head.bytesAfter = outcome.bytesAfter;
    head.removedCount = outcome.removedCount;
    head.code = outcome.code;
    head.dated = outcome.dated;
    head.date = outcome.date;
    head.savedCount = outcome.savedCount;
    head.brokenCount = outcome.brokenCount;
    RecordWriter record(head);
    record.Text(outcome.subject);
    record.Text(copyPath ? copyPath : "");
    record.Text(outcome.detail);
    for (unsigned i = 0; i < outcome.removedCount && i < kMaxListedParts; ++i) {
        record.Text(outcome.removed[i].mediaType);
        record.Text(outcome.removed[i].fileName);
        record.Text(outcome.removed[i].savedAs);
        record.Text(outcome.removed[i].broken ? "broken" : "");
    }
    record.Put(relay);
}

void RelayFailure(ReportRelay* relay, const MessageRef& where, const FileError& error, unsigned long long length,
                  const char* detail)
{
    Head head = MakeHead(Call::Failure, where);
    head.hasDetail = detail != nullptr;
    head.error = error;
    head.count = length;
    RecordWriter record(head);
    record.Text(detail ? detail : "");
    record.Put(relay);
}

void RelayMailboxLine(ReportRelay* relay, const char* path, const char* text, const char* copyPath)
{
    Head head = MakeHead(Call::MailboxLine, MessageRef{path, 0, 0});
    head.hasCopyPath = copyPath != nullptr;
    RecordWriter record(head);
    record.Text(text);
    record.Text(copyPath ? copyPath : "");
    record.Put(relay);
}

void RelayMailboxFailure(ReportRelay* relay, const char* path, const FileError& error, unsigned long undone,
                         unsigned long long undoneBytes, unsigned long undoneFiles)
{
    Head head = MakeHead(Call::MailboxFailure, MessageRef{path, 0, 0});
    head.error = error;
    head.undone = undone;
    head.count = undoneBytes;
    head.undoneFiles = undoneFiles;
    RecordWriter(head).Put(relay);
}

void RelayProgressTotal(ReportRelay* relay, unsigned long long messages)
{
    Head head = MakeHead(Call::ProgressTotal, MessageRef{});
    head.count = messages;
    RecordWriter(head).Put(relay);
}

void ReplayRecords(Reporter* reporter, const char* records, std::size_t length)
{
    RecordReader reader(records, records + length);
    while (reader.More()) {
        const Head head = reader.ReadHead();
        switch (head.call) {
        case Call::Outcome: {
            MessageOutcome outcome{};
            outcome.verdict = head.verdict;
            outcome.reason = head.reason;
            outcome.bytesBefore = head.bytesBefore;
            outcome.bytesAfter = head.bytesAfter;
            outcome.removedCount = head.removedCount;
            outcome.code = head.code;
            outcome.dated = head.dated;
            outcome.date = head.date;
            outcome.savedCount = head.savedCount;
            outcome.brokenCount = head.brokenCount;
            CopyText(outcome.subject, sizeof outcome.subject, reader.Text());
            const char* copyPath = reader.Text();
            CopyText(outcome.detail, sizeof outcome.detail, reader.Text());
            for (unsigned i = 0; i < head.removedCount && i < kMaxListedParts; ++i) {
                RemovedEntry& entry = outcome.removed[i];
                CopyText(entry.mediaType, kMaxMediaTypeBytes, reader.Text());
                CopyText(entry.fileName, kMaxFileNameBytes, reader.Text());
                CopyText(entry.savedAs, kMaxSavedNameBytes, reader.Text());
                entry.broken = reader.Text()[0] != '\0';
            }
            ReportOutcome(reporter, head.where, outcome, head.hasCopyPath ? copyPath : nullptr);
            break;
        }
        case Call::Failure: {
            const char* detail = reader.Text();
            ReportFailure(reporter, head.where, head.error, head.count, head.hasDetail ? detail : nullptr);
            break;
        }
        case Call::MailboxLine: {
            const char* text = reader.Text();
            const char* copyPath = reader.Text();
            ReportMailboxLine(reporter, head.where.path, text, head.hasCopyPath ? copyPath : nullptr);
            break;
        }
        case Call::MailboxFailure:
            ReportMailboxFailure(reporter, head.where.path, head.error, head.undone, head.count, head.undoneFiles);
            break;
        case Call::ProgressTotal:
            AddToProgressTotal(reporter, head.count);
            break;
        }
    }
}
