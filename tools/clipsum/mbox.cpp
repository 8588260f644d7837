// mbox files: many messages in one file, each after a "From " line. The file
// is read twice at once: one handle finds where the messages lie, line by
// line, the other reads each message and copies what is kept, so that a
// mailbox of any size costs the largest message in memory and no more.

#include "run.h"

#include "mime/message_header.h"

#include "mime/strip_message.h"

#include <cerrno>
#include <initializer_list>
#include <cstdlib>
#include <cstring>

namespace {

// Bytes of each line kept to look at: enough for "Content-Length: " and a number.
constexpr std::size_t kLinePrefix = 40;
constexpr std::size_t kScanBlock = 1 << 20;
constexpr std::size_t kCopyBlock = 256 * 1024;
// The longest Content-Length value read; a larger one is no length of a message here.
constexpr int kMaxLengthDigits = 15;

struct Line {
    unsigned long long offset;
    unsigned long long length; // its line break included
    char prefix[kLinePrefix];
    std::size_t prefixLength;
};

bool IsBlank(const Line& line)
{
    return (line.length == 1 && line.prefix[0] == '\n') ||
           (line.length == 2 && line.prefix[0] == '\r' && line.prefix[1] == '\n');
}

bool IsFromLine(const Line& line)
{
    return line.prefixLength >= 5 && memcmp(line.prefix, "From ", 5) == 0;
}

// The lines of a file in order, each with its offset, length and first bytes.
class LineScanner {
public:
    // Reads no further than limit, the size the file had when it was opened.
    LineScanner(FILE* file, unsigned long long limit)
        : file_(file), buffer_(static_cast<char*>(malloc(kScanBlock))), limit_(limit)
    {
    }
    ~LineScanner() { free(buffer_); }
    LineScanner(const LineScanner&) = delete;
    LineScanner& operator=(const LineScanner&) = delete;

    bool Usable() const { return buffer_ != nullptr; }
    bool Failed() const { return failed_; }

    // The next line; false at the end of the file or on a read error (Failed).
    bool Next(Line* line)
    {
        Fill(kLinePrefix);
        if (position_ == size_)
            return false;
        line->offset = bufferOffset_ + position_;
        line->prefixLength = size_ - position_ < kLinePrefix ? size_ - position_ : kLinePrefix;
        memcpy(line->prefix, buffer_ + position_, line->prefixLength);
        line->length = 0;
        for (;;) {
            const void* newline = memchr(buffer_ + position_, '\n', size_ - position_);
            if (newline) {
                std::size_t taken = static_cast<std::size_t>(static_cast<const char*>(newline) - buffer_) + 1 - position_;
                position_ += taken;
                line->length += taken;
                return true;
            }
            line->length += size_ - position_;
            position_ = size_;
            Fill(1);
            if (position_ == size_)
                return true;
        }
    }

    // Goes on from offset, as though the lines before it had been read.
    bool MoveTo(unsigned long long offset)
    {
        if (!SeekFile(file_, offset)) {
            failed_ = true;
            return false;
        }
        bufferOffset_ = offset;
        position_ = size_ = 0;
        ended_ = false;
        return true;
    }

private:
    // Makes at least need bytes available after position_, unless the file ends first.
    void Fill(std::size_t need)
    {
        if (size_ - position_ >= need || ended_)
            return;
        memmove(buffer_, buffer_ + position_, size_ - position_);
        bufferOffset_ += position_;
        size_ -= position_;
        position_ = 0;
        unsigned long long left = limit_ - (bufferOffset_ + size_);
        std::size_t want = left < kScanBlock - size_ ? static_cast<std::size_t>(left) : kScanBlock - size_;
        std::size_t got = fread(buffer_ + size_, 1, want, file_);
        size_ += got;
        if (got < want || got == static_cast<std::size_t>(left)) {
            ended_ = true;
            failed_ = ferror(file_) != 0;
        }
    }

    FILE* file_;
    char* buffer_;
    std::size_t position_ = 0;
    std::size_t size_ = 0;
    unsigned long long limit_;
    unsigned long long bufferOffset_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

// Where a message lies: its "From " line from start, the message itself from
// contentStart to contentEnd, and the blank line that parts it from the next
// (contentEnd to end).
struct MboxMessage {
    unsigned long long start;
    unsigned long long contentStart;
    unsigned long long contentEnd;
    unsigned long long end;
};

enum class ScanState { Header, Body };

// A Content-Length field's value, or -1.
long long ContentLengthOf(const Line& line)
{
    static constexpr char kName[] = "content-length:";
    constexpr std::size_t kNameLength = sizeof kName - 1;
    if (line.prefixLength <= kNameLength)
        return -1;
    for (std::size_t i = 0; i < kNameLength; ++i) {
        char c = line.prefix[i];
        if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != kName[i])
            return -1;
    }
    std::size_t at = kNameLength;
    while (at < line.prefixLength && (line.prefix[at] == ' ' || line.prefix[at] == '\t'))
        ++at;
    long long value = 0;
    int digits = 0;
    while (at < line.prefixLength && line.prefix[at] >= '0' && line.prefix[at] <= '9' && digits < kMaxLengthDigits) {
        value = value * 10 + (line.prefix[at++] - '0');
        ++digits;
    }
    bool ends = at < line.prefixLength && (line.prefix[at] == '\r' || line.prefix[at] == '\n' ||
                                           line.prefix[at] == ' ' || line.prefix[at] == '\t');
    return digits > 0 && ends ? value : -1;
}

// The messages of an mbox in order.
class MboxReader {
public:
    MboxReader(FILE* scanFile, FILE* peekFile, unsigned long long size)
        : scanner_(scanFile, size), peek_(peekFile), size_(size)
    {
    }

    bool Usable() const { return scanner_.Usable(); }
    bool Failed() const { return scanner_.Failed(); }

    bool Next(MboxMessage* message)
    {
        Line from;
        if (pending_)
            from = pendingLine_;
        else if (!scanner_.Next(&from))
            return false;
        pending_ = false;
        message->start = from.offset;
        message->contentStart = from.offset + from.length;
        ScanState state = ScanState::Header;
        long long contentLength = -1;
        bool previousBlank = false;
        unsigned long long blankOffset = 0;
        Line line;
        while (scanner_.Next(&line)) {
            bool blank = IsBlank(line);
            if (state == ScanState::Header) {
                if (!blank) {
                    long long value = ContentLengthOf(line);
                    if (value >= 0 && contentLength < 0)
                        contentLength = value;
                    continue;
                }
                state = ScanState::Body;
                if (contentLength >= 0 && EndsByLength(line.offset + line.length, contentLength, message))
                    return true;
            } else if (previousBlank && IsFromLine(line)) {
                pendingLine_ = line;
                pending_ = true;
                message->contentEnd = blankOffset;
                message->end = line.offset;
                return true;
            }
            previousBlank = blank;
            if (blank)
                blankOffset = line.offset;
        }
        message->end = size_;
        message->contentEnd = previousBlank ? blankOffset : size_;
        return true;
    }

private:
    // A Content-Length is trusted when it ends the message where the file ends
    // or where a "From " line follows (after one blank line or none): then a
    // "From " line inside the body, unquoted by its writer, cuts nothing.
    bool EndsByLength(unsigned long long bodyStart, long long contentLength, MboxMessage* message)
    {
        unsigned long long end = bodyStart + static_cast<unsigned long long>(contentLength);
        if (end > size_)
            return false;
        char next[8] = {};
        std::size_t got = 0;
        if (end < size_) {
            if (!SeekFile(peek_, end))
                return false;
            got = fread(next, 1, sizeof next, peek_);
        }
        std::size_t blank = next[0] == '\n' ? 1 : (next[0] == '\r' && next[1] == '\n') ? 2 : 0;
        bool fromFollows = got >= blank + 5 && memcmp(next + blank, "From ", 5) == 0;
        bool fileEnds = end + blank == size_;
        if (!fromFollows && !fileEnds)
            return false;
        message->contentEnd = end;
        message->end = end + blank;
        return scanner_.MoveTo(message->end);
    }

    LineScanner scanner_;
    FILE* peek_;
    unsigned long long size_;
    Line pendingLine_{};
    bool pending_ = false;
};

// Where the new mbox goes, with the hash of what was written.
struct Output {
    FILE* file;
    ContentHash hash;
    int error; // errno of the first failure, 0 while all is well
};

void Emit(Output* out, const char* data, std::size_t length)
{
    if (out->error != 0 || length == 0)
        return;
    if (fwrite(data, 1, length, out->file) != length)
        out->error = errno ? errno : EIO;
    HashBytes(&out->hash, data, length);
}

void EmitRange(Output* out, FILE* source, unsigned long long offset, unsigned long long length, char* block)
{
    if (out->error != 0 || length == 0)
        return;
    if (!SeekFile(source, offset)) {
        out->error = errno ? errno : EIO;
        return;
    }
    while (length > 0 && out->error == 0) {
        std::size_t want = length < kCopyBlock ? static_cast<std::size_t>(length) : kCopyBlock;
        std::size_t got = fread(block, 1, want, source);
        if (got != want) {
            out->error = ferror(source) && errno ? errno : EIO;
            return;
        }
        Emit(out, block, got);
        length -= got;
    }
}

// The stripped message as it goes into the mbox: with the line breaks of the
// original (the engine writes CR LF) and a corrected Content-Length.
class MailboxForm {
public:
    ~MailboxForm() { free(converted_); }

    bool Make(const char* original, std::size_t originalLength, const char* stripped, std::size_t strippedLength)
    {
        text_ = stripped;
        length_ = strippedLength;
        if (!EndsLinesWithCrLf(original, originalLength)) {
            converted_ = static_cast<char*>(malloc(strippedLength + 1));
            if (!converted_)
                return false;
            std::size_t used = 0;
            for (std::size_t i = 0; i < strippedLength; ++i) {
                if (!(stripped[i] == '\r' && i + 1 < strippedLength && stripped[i + 1] == '\n'))
                    converted_[used++] = stripped[i];
            }
            text_ = converted_;
            length_ = used;
        }
        FixContentLength(original, originalLength);
        return true;
    }

    std::size_t Length() const { return length_ - (hasField_ ? field_.end - field_.start : 0) + fieldLength_; }

    void Write(Output* out) const
    {
        if (!hasField_) {
            Emit(out, text_, length_);
            return;
        }
        Emit(out, text_, field_.start);
        Emit(out, newField_, fieldLength_);
        Emit(out, text_ + field_.end, length_ - field_.end);
    }

private:
    // The old value minus what the body lost, so that whichever way the writer
    // counted (with or without the blank line before the next message) still holds.
    void FixContentLength(const char* original, std::size_t originalLength)
    {
        HeaderField oldField;
        if (!FindHeaderField(original, originalLength, "Content-Length", &oldField) ||
            !FindHeaderField(text_, length_, "Content-Length", &field_))
            return;
        char value[32];
        UnfoldedValue(original, oldField, value, sizeof value);
        char* end = nullptr;
        long long oldValue = strtoll(value, &end, 10);
        if (!end || *end != '\0' || oldValue < 0)
            return;
        long long oldBody = static_cast<long long>(originalLength - BodyOffset(original, originalLength));
        long long newBody = static_cast<long long>(length_ - BodyOffset(text_, length_));
        long long newValue = oldValue - (oldBody - newBody);
        if (newValue < 0)
            newValue = newBody;
        const char* lineBreak = field_.end >= 2 && text_[field_.end - 2] == '\r' ? "\r\n" : "\n";
        fieldLength_ = static_cast<std::size_t>(
            snprintf(newField_, sizeof newField_, "Content-Length: %lld%s", newValue, lineBreak));
        hasField_ = true;
    }

    const char* text_ = nullptr;
    std::size_t length_ = 0;
    char* converted_ = nullptr;
    bool hasField_ = false;
    HeaderField field_{};
    char newField_[48] = {};
    std::size_t fieldLength_ = 0;
};

// A message read whole, NUL-terminated, in a buffer reused from one message to the next.
struct MessageBuffer {
    char* data = nullptr;
    std::size_t capacity = 0;
    ~MessageBuffer() { free(data); }
};

bool ReadMessage(FILE* file, const MboxMessage& message, MessageBuffer* buffer)
{
    std::size_t length = static_cast<std::size_t>(message.contentEnd - message.contentStart);
    if (length + 1 > buffer->capacity) {
        char* grown = static_cast<char*>(realloc(buffer->data, length + 1));
        if (!grown) {
            errno = ENOMEM;
            return false;
        }
        buffer->data = grown;
        buffer->capacity = length + 1;
    }
    if (!SeekFile(file, message.contentStart) || fread(buffer->data, 1, length, file) != length) {
        if (!ferror(file))
            errno = EIO;
        return false;
    }
    buffer->data[length] = '\0';
    return true;
}

struct MailboxRun {
    const char* path;
    const Run* run;
    FileFacts facts;
    FILE* scanFile = nullptr;
    FILE* peekFile = nullptr;
    FILE* dataFile = nullptr;
    char* target = nullptr; // the file behind path
    TempFile temp{};
    bool tempOpen = false;
    Output out{};
    unsigned long long copied = 0; // bytes of the old mbox already given to out
    unsigned long messages = 0;
    unsigned long stripped = 0;
    unsigned long long saved = 0;
    char* block = nullptr;
    PartSaver* saver = nullptr;
    unsigned long savedFiles = 0; // parts saved for the messages stripped
    char stem[kMaxStemBytes] = {};
};

bool OpenOutput(MailboxRun* box, FileError* error)
{
    if (box->run->options->mode == Mode::ToStdout) {
        box->out.file = stdout;
        return true;
    }
    box->target = ResolveLinks(box->path);
    char* directory = box->target ? DirectoryOf(box->target) : nullptr;
    if (!directory) {
        error->what = "cannot find the file behind its path";
        error->code = errno;
        return false;
    }
    SweepDirectory(box->run->sweep, directory);
    bool created = CreateTempFile(directory, &box->temp);
    free(directory);
    if (!created) {
        error->what = "cannot create a temporary file";
        error->code = errno;
        return false;
    }
    box->tempOpen = true;
    box->out.file = box->temp.file;
    return true;
}

// Puts the stripped message into the new mbox: the old bytes up to it first.
bool WriteStripped(MailboxRun* box, const MboxMessage& message, const MailboxForm& form, FileError* error)
{
    if (!box->out.file && !OpenOutput(box, error))
        return false;
    EmitRange(&box->out, box->dataFile, box->copied, message.contentStart - box->copied, box->block);
    form.Write(&box->out);
    box->copied = message.contentEnd;
    return true;
}

// Handles one message of the mbox; false when the mbox cannot be written.
bool HandleMessage(MailboxRun* box, const MboxMessage& message, MessageBuffer* buffer, FileError* error)
{
    const StripOptions& options = *box->run->options;
    MessageRef where{box->path, ++box->messages, message.start};
    MessageOutcome outcome{};
    unsigned long long length = message.contentEnd - message.contentStart;
    if (length > kMaxMessageBytes) {
        outcome.verdict = Verdict::LeaveAlone;
        outcome.reason = "larger than 512 MiB";
        outcome.bytesBefore = outcome.bytesAfter = static_cast<std::size_t>(length);
        ReportOutcome(box->run->reporter, where, outcome, nullptr);
        return true;
    }
    if (!ReadMessage(box->dataFile, message, buffer)) {
        error->what = errno == ENOMEM ? "not enough memory to read a message" : "cannot read";
        error->code = errno;
        return false;
    }
    MessageStripper stripper(ListingFor(*box->run));
    const bool readOnly = KeptReadOnly(box->facts, options);
    const Keeping keeping{options.note, box->run->saveDir && !readOnly ? box->saver : nullptr, box->stem,
                          Describes(*box->run)};
    ExamineMessage(buffer->data, static_cast<std::size_t>(length), options.filters, keeping, &stripper, &outcome);
    if (outcome.verdict == Verdict::Fail) {
        ReportFailure(box->run->reporter, where, FileError{outcome.reason, outcome.code}, length, outcome.detail);
        return true;
    }
    if (outcome.verdict == Verdict::Strip && readOnly)
        KeepAfterAll(&outcome, kReadOnlyReason);
    if (outcome.verdict == Verdict::Strip) {
        MailboxForm form;
        if (!form.Make(buffer->data, static_cast<std::size_t>(length), stripper.NewSource(), stripper.NewLength())) {
            KeepAfterAll(&outcome, "out of memory while stripping");
            box->saver->UndoLast();
        } else {
            outcome.bytesAfter = form.Length();
            if (options.mode != Mode::DryRun && !WriteStripped(box, message, form, error))
                return false;
            ++box->stripped;
            box->saved += outcome.bytesBefore - outcome.bytesAfter;
            box->savedFiles += outcome.savedCount;
        }
    }
    ReportOutcome(box->run->reporter, where, outcome, nullptr);
    return true;
}

void CloseFiles(MailboxRun* box)
{
    for (FILE** file : {&box->scanFile, &box->peekFile, &box->dataFile}) {
        if (*file)
            fclose(*file);
        *file = nullptr;
    }
}

// The new mbox is complete in box->temp: keep the original, note it, swap.
bool Replace(MailboxRun* box, char** copyPath, FileError* error)
{
    const char* backupDir = box->run->options->backupDir;
    auto fail = [error](const char* what, int code) {
        error->what = what;
        error->code = code;
        return false;
    };
    if (!FileUnchanged(box->dataFile, box->facts))
        return fail("changed while it was read (a message delivered?)", 0);
    if (!CopyFacts(&box->temp, box->facts, box->target, true, error))
        return false;
    if (!FlushTemp(&box->temp))
        return fail("cannot force the new file to the disk", errno);
    if (backupDir) {
        WaitForSavingTurn(*box->run);
        if (!WriteBackupCopy(backupDir, box->path, box->facts, Content{nullptr, 0, box->dataFile, box->facts.size},
                             copyPath, error) ||
            !RecordBackup(box->run->backupLog, "mbox", box->out.hash, *copyPath, box->target, error))
            return false;
    }
    if (!FileUnchanged(box->dataFile, box->facts))
        return fail("changed while it was read (a message delivered?)", 0);
    // Windows renames nothing over a file that is open.
    CloseFiles(box);
    if (!ReplaceWithTemp(&box->temp, box->target, box->facts))
        return fail("cannot replace it", errno);
    box->tempOpen = false;
    return true;
}

void Finish(MailboxRun* box, bool handled, FileError error)
{
    Reporter* reporter = box->run->reporter;
    Mode mode = box->run->options->mode;
    char* copyPath = nullptr;
    if (handled && box->out.file) {
        EmitRange(&box->out, box->dataFile, box->copied, box->facts.size - box->copied, box->block);
        if (box->out.error == 0 && fflush(box->out.file) != 0)
            box->out.error = errno;
        if (box->out.error != 0) {
            handled = false;
            error = FileError{"cannot write the new mbox", box->out.error};
        } else if (mode == Mode::InPlace) {
            handled = Replace(box, &copyPath, &error);
        }
    }
    if (box->tempOpen)
        DiscardTemp(&box->temp);
    // The parts saved stay only with the messages they were saved for.
    if (handled)
        box->saver->Keep();
    else
        box->saver->Undo();
    char line[160];
    if (!handled) {
        ReportMailboxFailure(reporter, box->path, error, mode == Mode::DryRun ? 0 : box->stripped,
                             mode == Mode::DryRun ? 0 : box->saved, mode == Mode::DryRun ? 0 : box->savedFiles);
    } else if (box->stripped == 0) {
        snprintf(line, sizeof line, "mbox of %lu messages, none stripped; unchanged", box->messages);
        ReportMailboxLine(reporter, box->path, line, nullptr);
    } else {
        snprintf(line, sizeof line, "mbox of %lu messages, %lu %s", box->messages, box->stripped,
                 mode == Mode::DryRun    ? "would be stripped"
                 : mode == Mode::InPlace ? "stripped; rewritten"
                                         : "stripped; written to standard output");
        ReportMailboxLine(reporter, box->path, line, copyPath);
    }
    free(copyPath);
}

// For the progress bar: the messages of the mbox, counted by a scan of its own.
unsigned long long CountMessages(const char* path, unsigned long long size)
{
    FileFacts facts;
    FILE* scanFile = OpenRegularFile(path, &facts);
    FILE* peekFile = scanFile ? OpenRegularFile(path, &facts) : nullptr;
    unsigned long long count = 0;
    if (peekFile) {
        MboxReader reader(scanFile, peekFile, size);
        MboxMessage message;
        while (reader.Usable() && reader.Next(&message))
            ++count;
    }
    if (peekFile)
        fclose(peekFile);
    if (scanFile)
        fclose(scanFile);
    return count;
}

} // namespace

void StripMailbox(const char* path, FILE* scanFile, const FileFacts& facts, const Run& run)
{
    MailboxRun box;
    box.path = path;
    box.run = &run;
    box.facts = facts;
    // The messages of an mbox save their parts one after another: the turn
    // passes when the mbox is done.
    PartSaver saver(run.saveDir, run.options->mode == Mode::DryRun, run, false);
    box.saver = &saver;
    FileStem(path, box.stem, sizeof box.stem);
    FileFacts peekFacts;
    if (run.reporter->progress) {
        unsigned long long count = CountMessages(path, facts.size);
        AddToProgressTotal(run.reporter, count > 0 ? count - 1 : 0);
    }
    box.scanFile = scanFile;
    box.peekFile = SeekFile(scanFile, 0) ? OpenRegularFile(path, &peekFacts) : nullptr;
    box.dataFile = box.peekFile ? OpenRegularFile(path, &peekFacts) : nullptr;
    box.block = static_cast<char*>(malloc(kCopyBlock));
    FileError error{"cannot open", errno};
    bool handled = box.dataFile && box.block;
    if (box.dataFile && !box.block)
        error = FileError{"not enough memory", ENOMEM};
    if (run.options->mode == Mode::ToStdout)
        box.out.file = stdout; // all of it goes there, stripped or not
    if (handled) {
        MboxReader reader(box.scanFile, box.peekFile, box.facts.size);
        MessageBuffer buffer;
        MboxMessage message;
        if (!reader.Usable()) {
            handled = false;
            error = FileError{"not enough memory", ENOMEM};
        }
        while (handled && reader.Next(&message))
            handled = HandleMessage(&box, message, &buffer, &error);
        if (handled && reader.Failed()) {
            handled = false;
            error = FileError{"cannot read", errno};
        }
        Finish(&box, handled, error);
    } else {
        ReportFailure(run.reporter, MessageRef{path, 0, 0}, error, 0);
    }
    free(box.block);
    free(box.target);
    CloseFiles(&box);
}
