#include "strip/save_attachments.h"

#include <cstdlib>
#include <cstring>

#include "mime/attachment_name.h"
#include "mime/body_decoder.h"
#include "mime/header_text.h"
#include "mime/line_list.h"
#include "mime/line_reader.h"
#include "mime/mail_date.h"
#include "mime/message_header.h"
#include "mime/strip_message.h"

namespace {

// "name (2).ext" up to this number; a folder holding all of them takes no more.
constexpr unsigned kMaxNumber = 999;
// Room for a numbered name: the longest name and " (999)".
constexpr std::size_t kNumberedNameSize = kMaxAttachmentNameBytes + 16;
// The host's mailbox text is a folder name and a backslash; longer ones are refused.
constexpr std::size_t kMaxMailboxBytes = 1024;
// Decoded bytes are written in pieces of this size (more for a longer line).
constexpr std::size_t kOutputChunk = 64 * 1024;
// Longer Date fields are no date mail programs write.
constexpr std::size_t kMaxDateBytes = 256;
const char kSubjectField[] = "Subject:";
const char kUnnamedMailbox[] = "mailbox";

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// Only a path from a drive's root or a share: a relative one would depend on
// the mail client's current folder. The \\?\ and \\.\ forms name devices as
// well as folders and are not taken.
bool IsAbsolute(const wchar_t* path)
{
    const bool letter = (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
    if (letter && path[1] == L':' && IsSeparator(path[2]))
        return true;
    return IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != L'\0' && path[2] != L'?' &&
           path[2] != L'.' && !IsSeparator(path[2]);
}

bool AppendWide(wchar_t* path, std::size_t size, std::size_t& length, const wchar_t* text, std::size_t count)
{
    if (count >= size - length)
        return false;
    std::memcpy(path + length, text, count * sizeof(wchar_t));
    length += count;
    path[length] = L'\0';
    return true;
}

// Appends a UTF-8 text; false when it is not UTF-8 or does not fit.
bool AppendUtf8(wchar_t* path, std::size_t size, std::size_t& length, const char* text)
{
    const int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, path + length,
                                            static_cast<int>(size - length));
    if (written <= 1)
        return false;
    length += static_cast<std::size_t>(written) - 1;
    return true;
}

// The mailbox's folder name: the host's text without its trailing backslash,
// made one safe name ("A\B\" becomes "A_B", ".." nothing), UTF-8.
bool MailboxFolderName(const char* mailbox, char* out, std::size_t outSize)
{
    if (mailbox == nullptr)
        return false;
    const std::size_t length = strnlen(mailbox, kMaxMailboxBytes + 1);
    if (length > kMaxMailboxBytes)
        return false;
    wchar_t wide[kMaxMailboxBytes];
    int units = length == 0 ? 0
                            : MultiByteToWideChar(CP_ACP, 0, mailbox, static_cast<int>(length), wide,
                                                  static_cast<int>(kMaxMailboxBytes));
    if (length > 0 && units <= 0)
        return false;
    while (units > 0 && IsSeparator(wide[units - 1]))
        --units;
    int bytes = units == 0 ? 0
                           : WideCharToMultiByte(CP_UTF8, 0, wide, units, out, static_cast<int>(outSize) - 2,
                                                 nullptr, nullptr);
    if (units > 0 && bytes <= 0)
        return false;
    std::size_t safe = MakeSafeFileName(out, static_cast<std::size_t>(bytes));
    if (safe == 0)
        std::memcpy(out, kUnnamedMailbox, sizeof kUnnamedMailbox);
    return true;
}

// Writes all of data; false on any shortfall (a full disk).
bool WriteAll(HANDLE file, const char* data, std::size_t length)
{
    while (length > 0) {
        const DWORD piece = length > kOutputChunk ? static_cast<DWORD>(kOutputChunk) : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(file, data, piece, &written, nullptr) || written != piece)
            return false;
        data += piece;
        length -= piece;
    }
    return true;
}

} // namespace

void SubjectStem(const char* source, char* out, std::size_t outSize)
{
    if (outSize == 0)
        return;
    out[0] = '\0';
    const std::size_t fieldLength = sizeof kSubjectField - 1;
    for (const char* line = source; line != nullptr && *line != '\0' && *line != '\r' && *line != '\n';) {
        const char* end = line + LineContentLength(line);
        const char* next = SkipLineBreak(end);
        if (static_cast<std::size_t>(end - line) >= fieldLength && EqualsNoCase(line, kSubjectField, fieldLength)) {
            // The field goes on over the lines that start with a blank.
            while (*next == ' ' || *next == '\t') {
                end = next + LineContentLength(next);
                next = SkipLineBreak(end);
            }
            const char* value = line + fieldLength;
            DecodeHeaderText(value, static_cast<std::size_t>(end - value), TextTarget::Utf8, out, outSize);
            return;
        }
        line = next;
    }
}

bool MessageFileTime(const char* source, FILETIME* time)
{
    if (source == nullptr)
        return false;
    const std::size_t length = std::strlen(source);
    HeaderField field;
    if (!FindHeaderField(source, length, "Date", &field))
        return false;
    char value[kMaxDateBytes];
    UnfoldedValue(source, field, value, sizeof value);
    long long seconds = 0;
    unsigned long long ticks = 0;
    if (!ParseMailDate(value, &seconds) || !FileTimeTicks(seconds, &ticks))
        return false;
    time->dwLowDateTime = static_cast<DWORD>(ticks);
    time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

AttachmentSaver::~AttachmentSaver()
{
    std::free(names_);
    std::free(output_);
}

bool AttachmentSaver::Save(MessageStripper& stripper, const char* folder, const char* mailbox, const char* stem,
                           const FILETIME* date)
{
    savedBrokenPart_ = false;
    if (!OpenFolders(folder, mailbox)) {
        Undo();
        return false;
    }
    for (std::size_t i = 0; i < stripper.RemovedPartCount(); ++i) {
        if (!SavePart(stripper, i, stem, date)) {
            Undo();
            return false;
        }
    }
    return true;
}

void AttachmentSaver::Undo()
{
    for (std::size_t at = 0; at < namesUsed_; at += std::strlen(names_ + at) + 1) {
        std::size_t length = folderLength_;
        if (AppendUtf8(path_, kPathUnits, length, names_ + at))
            DeleteFileW(path_);
    }
    namesUsed_ = 0;
    // Only folders this save made, and only when empty.
    if (createdFolder_) {
        path_[folderLength_ - 1] = L'\0';
        RemoveDirectoryW(path_);
        createdFolder_ = false;
    }
    if (createdRoot_) {
        path_[rootLength_ - 1] = L'\0';
        RemoveDirectoryW(path_);
        createdRoot_ = false;
    }
}

// A path longer than MAX_PATH is taken (the \\?\ form): the folder, the
// mailbox and the name are each bounded, but together they may pass it, and a
// message must not be left unstrippable for a name that is legal.
bool AttachmentSaver::OpenFolders(const char* folder, const char* mailbox)
{
    wchar_t given[MAX_PATH + 1];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, folder, -1, given, MAX_PATH + 1) <= 0 ||
        !IsAbsolute(given))
        return false;
    // Resolves "." and "..", and turns '/' into '\', which the \\?\ form takes literally.
    wchar_t full[2 * MAX_PATH];
    const DWORD fullLength = GetFullPathNameW(given, 2 * MAX_PATH, full, nullptr);
    if (fullLength == 0 || fullLength >= 2 * MAX_PATH)
        return false;
    const bool share = full[0] == L'\\' && full[1] == L'\\';
    const wchar_t* prefix = share ? L"\\\\?\\UNC\\" : L"\\\\?\\";
    std::size_t length = 0;
    if (!AppendWide(path_, kPathUnits, length, prefix, wcslen(prefix)) ||
        !AppendWide(path_, kPathUnits, length, share ? full + 2 : full, share ? fullLength - 2 : fullLength))
        return false;
    while (length > 0 && path_[length - 1] == L'\\')
        --length;
    if (!AppendWide(path_, kPathUnits, length, L"\\", 1))
        return false;
    rootLength_ = length;
    if (!MakeFolder(rootLength_, createdRoot_))
        return false;

    char name[kMaxMailboxBytes * 3 + 2];
    if (!MailboxFolderName(mailbox, name, sizeof name) || !AppendUtf8(path_, kPathUnits, length, name) ||
        !AppendWide(path_, kPathUnits, length, L"\\", 1))
        return false;
    folderLength_ = length;
    return MakeFolder(folderLength_, createdFolder_);
}

// The folder path_ holds up to length (its final backslash included): made
// when missing, else it must be a folder (not a file of that name).
bool AttachmentSaver::MakeFolder(std::size_t length, bool& created)
{
    path_[length - 1] = L'\0';
    created = CreateDirectoryW(path_, nullptr) != 0;
    path_[length - 1] = L'\\';
    path_[length] = L'\0';
    if (created)
        return true;
    const DWORD attributes = GetFileAttributesW(path_);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool AttachmentSaver::SavePart(MessageStripper& stripper, std::size_t index, const char* stem,
                               const FILETIME* date)
{
    char name[kMaxAttachmentNameBytes + 1];
    char numbered[kNumberedNameSize];
    if (AttachmentFileName(stripper.RemovedPartAt(index), stem, name, sizeof name) == 0)
        return false;
    const char* tried = name;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned number = 1; number <= kMaxNumber && file == INVALID_HANDLE_VALUE; ++number) {
        if (number > 1) {
            NumberedFileName(name, number, numbered, sizeof numbered);
            tried = numbered;
        }
        std::size_t length = folderLength_;
        if (!AppendUtf8(path_, kPathUnits, length, tried))
            return false;
        // Never over a file that is there: a taken name gets the next number.
        file = CreateFileW(path_, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetFileAttributesW(path_) == INVALID_FILE_ATTRIBUTES)
            return false;
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool saved = WriteBody(file, index, stripper) && (date == nullptr || SetFileTime(file, nullptr, date, date) != 0) &&
                 FlushFileBuffers(file) != 0;
    saved = CloseHandle(file) != 0 && saved;
    if (!saved || !RememberName(tried)) {
        DeleteFileW(path_);
        return false;
    }
    return stripper.SetSavedAs(index, tried);
}

// Decodes the body line by line (its lines are stored with CR LF, which the
// decoder is given without).
bool AttachmentSaver::WriteBody(HANDLE file, std::size_t index, const MessageStripper& stripper)
{
    const RemovedPart& part = stripper.RemovedPartAt(index);
    BodyDecoder decoder(EncodingOfField(part.encodingField));
    outputUsed_ = 0;
    for (const LineNode* line = part.body ? part.body->head : nullptr; line != nullptr; line = line->next) {
        const std::size_t length = line->length >= 2 ? static_cast<std::size_t>(line->length) - 2 : 0;
        const std::size_t most = BodyDecoder::MaxDecodedLength(length);
        if (outputCapacity_ - outputUsed_ < most) {
            if (!Flush(file))
                return false;
            if (outputCapacity_ < most) {
                const std::size_t capacity = most > kOutputChunk ? most : kOutputChunk;
                char* grown = static_cast<char*>(std::realloc(output_, capacity));
                if (grown == nullptr)
                    return false;
                output_ = grown;
                outputCapacity_ = capacity;
            }
        }
        outputUsed_ += decoder.DecodeLine(line->text, length, output_ + outputUsed_);
    }
    savedBrokenPart_ = savedBrokenPart_ || decoder.Broken();
    return Flush(file);
}

bool AttachmentSaver::Flush(HANDLE file)
{
    const bool written = WriteAll(file, output_, outputUsed_);
    outputUsed_ = 0;
    return written;
}

bool AttachmentSaver::RememberName(const char* name)
{
    const std::size_t size = std::strlen(name) + 1;
    if (namesCapacity_ - namesUsed_ < size) {
        std::size_t capacity = namesCapacity_ ? namesCapacity_ * 2 : 4096;
        while (capacity - namesUsed_ < size)
            capacity *= 2;
        char* grown = static_cast<char*>(std::realloc(names_, capacity));
        if (grown == nullptr)
            return false;
        names_ = grown;
        namesCapacity_ = capacity;
    }
    std::memcpy(names_ + namesUsed_, name, size);
    namesUsed_ += size;
    return true;
}
