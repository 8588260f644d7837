#pragma once
// A message file read in pieces: the engine pulls its bytes through a window
// of its own, so that clipsum holds no more of a message than the engine keeps
// (a large attachment passes through and is never held). What clipsum must
// know of the whole file is noted on the way: its length, a NUL byte, whether
// it is a mailbox (mbox) of several messages.

#include "message_file.h"
#include "platform.h"

#include "mime/strip_message.h"

#include <cstdint>
#include <cstdio>

class MessageSource : public ByteSource {
public:
    MessageSource() = default;
    ~MessageSource();
    MessageSource(const MessageSource&) = delete;
    MessageSource& operator=(const MessageSource&) = delete;

    // Opens the regular file at path, and notes what it was (facts) before it
    // is read. False with error set when it is not a regular file or cannot be
    // opened.
    bool Open(const char* path, FileFacts* facts, FileError* error);

    // Takes over a file already open at its first byte; it is closed with the source.
    void Adopt(FILE* file) { file_ = file; }

    // For the engine: reads the next bytes (read(2), or ReadFile on Windows).
    // A NUL byte is an error here: the file is not a text message.
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override;

    // After the parse: reads what it left unread (the text after the message's
    // close delimiter), so that the notes below cover the whole file. False
    // with error set when the file cannot be read.
    bool Finish(FileError* error);

    std::uint64_t Length() const { return length_; }
    bool HoldsNul() const { return holdsNul_; }
    std::uint64_t NulOffset() const { return nulOffset_; }
    // The first line is an envelope "From " line and another follows a blank
    // line: the engine would take the file for one message and lose the others.
    bool IsMailbox() const { return mailbox_; }
    // The read error that ended the parse, if any.
    const FileError& ReadError() const { return readError_; }

    // Writes the file's bytes from its beginning to out, for a message that is
    // passed on unchanged. False with errno set on failure.
    bool CopyTo(FILE* out);

    // The whole file in memory, for a backup copy; at most kMaxMessageBytes.
    bool ReadAll(FileBytes* bytes, FileError* error);

    // Done with the file: Windows replaces no file that is open.
    void Close();

private:
    bool ReadRaw(char* buffer, std::size_t capacity, std::size_t& got);
    void LookForMailbox(const char* bytes, std::size_t count);

    FILE* file_ = nullptr;
    std::uint64_t length_ = 0;
    bool ended_ = false; // a read has found the end of the file
    bool holdsNul_ = false;
    std::uint64_t nulOffset_ = 0;
    bool mailbox_ = false;
    // The first bytes of the file, and the last ones read, for a blank line
    // and a "From " line that begin in one read and end in the next.
    char head_[5] = {};
    char tail_[7] = {};
    std::size_t tailLength_ = 0;
    FileError readError_{};
};
