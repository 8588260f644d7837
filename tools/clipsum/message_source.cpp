#include "message_source.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr char kFrom[] = "From ";
constexpr std::size_t kFromLength = 5;
constexpr std::size_t kCopyBytes = 256 * 1024;

// A line break, a blank line ("\n" or "\r\n") and a line that begins "From ".
bool HoldsEnvelopeAfterBlank(const char* text, std::size_t length)
{
    const char* end = text + length;
    for (const char* at = text; at < end; ++at) {
        at = static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(end - at)));
        if (!at)
            return false;
        const std::size_t left = static_cast<std::size_t>(end - at);
        if (left >= 2 + kFromLength && at[1] == '\n' && std::memcmp(at + 2, kFrom, kFromLength) == 0)
            return true;
        if (left >= 3 + kFromLength && at[1] == '\r' && at[2] == '\n' && std::memcmp(at + 3, kFrom, kFromLength) == 0)
            return true;
    }
    return false;
}

bool Fail(FileError* error, const char* what, int code)
{
    error->what = what;
    error->code = code;
    return false;
}

} // namespace

MessageSource::~MessageSource()
{
    Close();
}

void MessageSource::Close()
{
    if (file_)
        fclose(file_);
    file_ = nullptr;
}

bool MessageSource::Open(const char* path, FileFacts* facts, FileError* error)
{
    file_ = OpenRegularFile(path, facts);
    if (!file_ && errno == 0) {
        switch (facts->kind) {
        case FileKind::Directory:
            return Fail(error, "is a directory", 0);
        case FileKind::NamedPipe:
            return Fail(error, "not a regular file (named pipe)", 0);
        case FileKind::Device:
            return Fail(error, "not a regular file (device)", 0);
        case FileKind::Regular:
        case FileKind::Other:
            break;
        }
        return Fail(error, "not a regular file", 0);
    }
    if (!file_)
        return Fail(error, "cannot open", errno);
    return true;
}

bool MessageSource::ReadRaw(char* buffer, std::size_t capacity, std::size_t& got)
{
    got = 0;
#ifdef _WIN32
    // ReadFile takes a 32-bit count.
    DWORD count = 0;
    const DWORD asked = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
    if (!ReadFile(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_))), buffer, asked, &count, nullptr)) {
        errno = EIO;
        return false;
    }
    got = count;
#else
    ssize_t count;
    do {
        count = read(fileno(file_), buffer, capacity);
    } while (count < 0 && errno == EINTR);
    if (count < 0)
        return false;
    got = static_cast<std::size_t>(count);
#endif
    return true;
}

void MessageSource::LookForMailbox(const char* bytes, std::size_t count)
{
    if (length_ < kFromLength) {
        const std::size_t wanted = kFromLength - static_cast<std::size_t>(length_);
        std::memcpy(head_ + length_, bytes, count < wanted ? count : wanted);
    }
    if (!mailbox_ && length_ + count >= kFromLength && std::memcmp(head_, kFrom, kFromLength) == 0) {
        // Across the two reads: the tail of the last one and the start of this one.
        char seam[sizeof tail_ * 2];
        const std::size_t start = count < sizeof tail_ ? count : sizeof tail_;
        std::memcpy(seam, tail_, tailLength_);
        std::memcpy(seam + tailLength_, bytes, start);
        mailbox_ = HoldsEnvelopeAfterBlank(seam, tailLength_ + start) || HoldsEnvelopeAfterBlank(bytes, count);
    }
    if (count >= sizeof tail_) {
        std::memcpy(tail_, bytes + count - sizeof tail_, sizeof tail_);
        tailLength_ = sizeof tail_;
    } else {
        const std::size_t kept = tailLength_ + count > sizeof tail_ ? sizeof tail_ - count : tailLength_;
        std::memmove(tail_, tail_ + tailLength_ - kept, kept);
        std::memcpy(tail_ + kept, bytes, count);
        tailLength_ = kept + count;
    }
}

bool MessageSource::Read(char* buffer, std::size_t capacity, std::size_t& got)
{
    if (!ReadRaw(buffer, capacity, got)) {
        readError_ = FileError{"cannot read", errno};
        return false;
    }
    const void* nul = std::memchr(buffer, '\0', got);
    if (nul) {
        holdsNul_ = true;
        nulOffset_ = length_ + static_cast<std::uint64_t>(static_cast<const char*>(nul) - buffer);
        readError_ = FileError{"holds a NUL byte", 0};
        return false;
    }
    LookForMailbox(buffer, got);
    length_ += got;
    ended_ = got == 0;
    return true;
}

bool MessageSource::Finish(FileError* error)
{
    // What is left after the message's close delimiter is mostly a line break.
    char rest[16 * 1024];
    std::size_t got = 1;
    while (!ended_ && !readError_.what && Read(rest, sizeof rest, got) && got > 0) {
    }
    if (holdsNul_ || readError_.what) {
        *error = readError_;
        return false;
    }
    return true;
}

bool MessageSource::CopyTo(FILE* out)
{
    char* bytes = static_cast<char*>(malloc(kCopyBytes));
    if (!bytes)
        return false;
    bool copied = fseek(file_, 0, SEEK_SET) == 0;
    std::size_t got = 0;
    while (copied && (copied = ReadRaw(bytes, kCopyBytes, got)) && got > 0)
        copied = fwrite(bytes, 1, got, out) == got;
    free(bytes);
    return copied && fflush(out) == 0;
}

bool MessageSource::ReadAll(FileBytes* bytes, FileError* error)
{
    bytes->data = nullptr;
    bytes->length = 0;
    if (length_ > kMaxMessageBytes)
        return Fail(error, "larger than 512 MiB, no backup copy made", 0);
    const std::size_t length = static_cast<std::size_t>(length_);
    char* data = static_cast<char*>(malloc(length + 1));
    if (!data)
        return Fail(error, "not enough memory for the backup copy", 0);
    std::size_t at = 0;
    std::size_t got = 1;
    bool read = fseek(file_, 0, SEEK_SET) == 0;
    while (read && at < length && got > 0)
        read = ReadRaw(data + at, length - at, got) && (at += got, true);
    if (!read || at != length) {
        free(data);
        return Fail(error, "cannot read it again for the backup copy", read ? 0 : errno);
    }
    data[length] = '\0';
    bytes->data = data;
    bytes->length = length;
    return true;
}
