#include "mailbox_host.h"

#include <algorithm>
#include <cstring>

namespace {

// A message larger than this is not read: the 32-bit host would run short of
// address space long before.
constexpr unsigned long long kMaxMessageBytes = 512ull << 20;
// The status and the message list look no further for the end of a header.
constexpr size_t kMaxHeaderBytes = 256 * 1024;

bool EqualsIgnoringAsciiCase(const char* a, const char* b, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool EndsWithIgnoringCase(const std::string& text, const char* suffix)
{
    size_t length = std::strlen(suffix);
    return text.size() >= length && EqualsIgnoringAsciiCase(text.data() + text.size() - length, suffix, length);
}

std::string WithBackslash(std::string path)
{
    if (path.empty() || path.back() != '\\')
        path += '\\';
    return path;
}

// A relative path of the mailbox that stays inside it: no drive, no root, no
// parent or forward-slash component.
bool IsContainedRelativePath(const std::string& path)
{
    if (path.empty() || path[0] == '\\' || path.find(':') != std::string::npos || path.find('/') != std::string::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (path.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

bool IsFile(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FileNameOf(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when the text's first line break is a CR alone: its lines end in CR.
// A CR that ends the text decides nothing, since an LF may follow unread.
bool HasCrLineEnds(const std::string& text)
{
    size_t first = text.find_first_of("\r\n");
    return first != std::string::npos && text[first] == '\r' && first + 1 < text.size() && text[first + 1] != '\n';
}

// Reads the start of a file until the header's end is in it (or maxBytes):
// a message's header is small, its attachments need not be read.
bool ReadHeaderBytes(const std::string& path, std::string& bytes, size_t maxBytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes.clear();
    const size_t kChunk = 8192;
    bool ok = true;
    while (bytes.size() < maxBytes) {
        size_t done = bytes.size();
        size_t searchFrom = done > 2 ? done - 2 : 0;
        bytes.resize(done + kChunk);
        DWORD read = 0;
        ok = ReadFile(file, &bytes[done], static_cast<DWORD>(kChunk), &read, nullptr) != FALSE;
        bytes.resize(done + read);
        if (!ok || read == 0 || bytes.find("\n\n", searchFrom) != std::string::npos ||
            bytes.find("\n\r\n", searchFrom) != std::string::npos ||
            (HasCrLineEnds(bytes) && bytes.find("\r\r", searchFrom) != std::string::npos)) {
            break;
        }
    }
    CloseHandle(file);
    return ok;
}

// Writes a copy of the file into a new temporary file of the directory,
// flushed to disk; at most `room` bytes fit, and a longer copy fails there as
// on a full disk. The temporary's path, or empty with nothing left behind.
std::string CopyToTemporary(const std::string& source, const std::string& directory, unsigned long long room)
{
    char temporary[MAX_PATH];
    if (directory.size() > MAX_PATH - 14 || !GetTempFileNameA(directory.c_str(), "cpy", 0, temporary))
        return std::string();
    HANDLE in = CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE out = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE;
    unsigned long long written = 0;
    char buffer[16384];
    while (ok) {
        DWORD read = 0;
        ok = ReadFile(in, buffer, sizeof buffer, &read, nullptr) != FALSE;
        if (!ok || read == 0)
            break;
        DWORD fits = static_cast<DWORD>(std::min<unsigned long long>(read, room - written));
        DWORD done = 0;
        ok = WriteFile(out, buffer, fits, &done, nullptr) && done == fits && fits == read;
        written += done;
    }
    ok = ok && FlushFileBuffers(out);
    if (in != INVALID_HANDLE_VALUE)
        CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE)
        ok = CloseHandle(out) && ok;
    if (!ok) {
        DeleteFileA(temporary);
        return std::string();
    }
    return temporary;
}

// The names a file placed into a directory tries in turn: its own, then
// "stem-2.eml", "stem-3.eml" ...; empty after the last attempt.
std::string CandidateName(const std::string& name, int attempt)
{
    if (attempt == 1)
        return name;
    if (attempt > 10000)
        return std::string();
    size_t dot = name.find_last_of('.');
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    return stem + "-" + std::to_string(attempt) + extension;
}

bool IsNameTaken(DWORD error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// Copies a file into a directory under a name not yet taken; never
// overwrites. The copy is written whole and flushed under a temporary name
// first, so the new name never shows a partial copy, and a failed copy leaves
// nothing behind.
bool CopyUniquely(const std::string& source, const std::string& directory, unsigned long long room)
{
    std::string temporary = CopyToTemporary(source, directory, room);
    if (temporary.empty())
        return false;
    std::string name = FileNameOf(source);
    for (int attempt = 1;; ++attempt) {
        std::string candidate = CandidateName(name, attempt);
        if (candidate.empty())
            break;
        if (MoveFileExA(temporary.c_str(), (directory + candidate).c_str(), MOVEFILE_WRITE_THROUGH))
            return true;
        if (!IsNameTaken(GetLastError()))
            break;
    }
    DeleteFileA(temporary.c_str());
    return false;
}

// Moves a file into a directory under a name not yet taken; never overwrites.
bool MoveUniquely(const std::string& source, const std::string& directory)
{
    std::string name = FileNameOf(source);
    for (int attempt = 1;; ++attempt) {
        std::string candidate = CandidateName(name, attempt);
        if (candidate.empty())
            return false;
        if (MoveFileA(source.c_str(), (directory + candidate).c_str()))
            return true;
        if (!IsNameTaken(GetLastError()))
            return false;
    }
}

} // namespace

std::string HeaderOf(const std::string& message)
{
    const char lineBreak = HasCrLineEnds(message) ? '\r' : '\n';
    size_t lineStart = 0;
    while (lineStart < message.size()) {
        if (message[lineStart] == lineBreak || message.compare(lineStart, 2, "\r\n") == 0)
            break;
        size_t lineEnd = message.find(lineBreak, lineStart);
        if (lineEnd == std::string::npos)
            return message;
        lineStart = lineEnd + 1;
    }
    return message.substr(0, lineStart);
}

std::string FieldValue(const std::string& header, const char* name)
{
    const char lineBreak = HasCrLineEnds(header) ? '\r' : '\n';
    size_t nameLength = std::strlen(name);
    size_t lineStart = 0;
    while (lineStart < header.size()) {
        size_t lineEnd = header.find(lineBreak, lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = header.size();
        if (lineEnd - lineStart > nameLength && header[lineStart + nameLength] == ':' &&
            EqualsIgnoringAsciiCase(header.data() + lineStart, name, nameLength)) {
            std::string value;
            size_t partStart = lineStart + nameLength + 1;
            for (;;) {
                size_t partEnd = lineEnd;
                if (partEnd > partStart && header[partEnd - 1] == '\r')
                    --partEnd;
                value.append(header, partStart, partEnd - partStart);
                size_t next = lineEnd + 1;
                if (next >= header.size() || (header[next] != ' ' && header[next] != '\t'))
                    break;
                partStart = next;
                lineEnd = header.find(lineBreak, next);
                if (lineEnd == std::string::npos)
                    lineEnd = header.size();
            }
            size_t first = value.find_first_not_of(" \t");
            return first == std::string::npos ? std::string() : value.substr(first);
        }
        lineStart = lineEnd + 1;
    }
    return std::string();
}

bool IsMultipartMixed(const std::string& header)
{
    static const char kMixed[] = "multipart/mixed";
    const size_t length = sizeof kMixed - 1;
    std::string type = FieldValue(header, "Content-Type");
    if (type.size() < length || !EqualsIgnoringAsciiCase(type.data(), kMixed, length))
        return false;
    return type.size() == length || std::strchr(" \t;(", type[length]) != nullptr;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, unsigned long long maxBytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && static_cast<unsigned long long>(size.QuadPart) <= maxBytes;
    if (ok) {
        bytes.resize(static_cast<size_t>(size.QuadPart));
        size_t done = 0;
        while (ok && done < bytes.size()) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
            DWORD read = 0;
            ok = ReadFile(file, &bytes[done], chunk, &read, nullptr) && read == chunk;
            done += read;
        }
    }
    CloseHandle(file);
    if (!ok)
        bytes.clear();
    return ok;
}

bool WriteWholeFile(const std::string& path, const char* bytes, size_t size)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < size) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 24));
        DWORD written = 0;
        ok = WriteFile(file, bytes + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = CloseHandle(file) && ok;
    return ok;
}

bool ReplaceFileAtomically(const std::string& path, const char* bytes, size_t size)
{
    std::string beside = path + ".tmp";
    if (!WriteWholeFile(beside, bytes, size) ||
        !MoveFileExA(beside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(beside.c_str());
        return false;
    }
    return true;
}

MailboxHost::MailboxHost(std::string dataFolder, std::string mailbox, std::string folder)
    : dataFolder_(WithBackslash(std::move(dataFolder))), mailbox_(WithBackslash(std::move(mailbox))),
      folder_(std::move(folder))
{
}

int MailboxHost::RegisterCommand(const char* helpText, int target, CommandCallback callback)
{
    int id = kFirstCommandId + static_cast<int>(commands_.size());
    commands_.push_back({id, helpText ? helpText : "", target, callback});
    return id;
}

const char* MailboxHost::GetDataFolder()
{
    return dataFolder_.c_str();
}

const char* MailboxHost::GetCurrentMailBox()
{
    return mailbox_.c_str();
}

int MailboxHost::SetMessageText(HWND, const char* text)
{
    messageText_ = text ? text : "";
    Notify(HostEvent::kMessageText);
    return 1;
}

const char* MailboxHost::GetCurrentMail()
{
    return currentMail_.c_str();
}

int MailboxHost::SetCurrentMail(const char* mailId)
{
    std::string path = PathOf(mailId);
    if (path.empty() || !IsFile(path))
        return 0;
    currentMail_ = mailId;
    Notify(HostEvent::kCurrentMailChanged, currentMail_);
    return 1;
}

int MailboxHost::GetNextMail(int start, char* idBuffer, int bufferSize, int)
{
    const std::vector<std::string>& ids = MailIds();
    if (start >= static_cast<int>(ids.size()) - 1)
        return -1;
    int position = start < 0 ? 0 : start + 1;
    if (idBuffer && bufferSize > 0) {
        const std::string& id = ids[static_cast<size_t>(position)];
        size_t length = std::min(id.size(), static_cast<size_t>(bufferSize) - 1);
        std::memcpy(idBuffer, id.data(), length);
        idBuffer[length] = '\0';
    }
    return position;
}

int MailboxHost::MoveSelectedMessages(const char* folder, int copy)
{
    if (!folder || std::strlen(folder) > MAX_PATH || !IsContainedRelativePath(folder))
        return 0;
    std::string source = PathOf(currentMail_.c_str());
    std::string target = WithBackslash(dataFolder_ + folder);
    if (source.empty() || !IsFile(source) || !IsDirectory(target))
        return 0;
    if (copy ? !CopyUniquely(source, target, copyRoom_) : !MoveUniquely(source, target))
        return 0;
    if (!copy)
        currentMail_.clear();
    // A copy into another folder leaves the folder in view as it is; relisting
    // it for every backup copy would make a bulk strip crawl.
    if (!copy || lstrcmpiA(target.c_str(), FolderDirectory().c_str()) == 0) {
        listed_ = false;
        Notify(HostEvent::kFolderChanged);
    }
    return 1;
}

int MailboxHost::GetStatus(const char* mailId)
{
    if (mailId) {
        auto overridden = statusOverrides_.find(mailId);
        if (overridden != statusOverrides_.end())
            return overridden->second;
    }
    std::string path = PathOf(mailId);
    std::string head;
    if (path.empty() || !ReadHeaderBytes(path, head, kMaxHeaderBytes))
        return 0;
    return IsMultipartMixed(HeaderOf(head)) ? kStatusHasAttachments : 0;
}

// A text that holds a NUL would reach the plug-in cut short at it: such a
// message is not given at all rather than given in part.
const char* MailboxHost::GetSource(const char* mailId)
{
    std::string path = PathOf(mailId);
    if (path.empty() || !ReadWholeFile(path, source_, kMaxMessageBytes) || source_.find('\0') != std::string::npos)
        return nullptr;
    return source_.c_str();
}

int MailboxHost::SetSource(const char* mailId, const char* source)
{
    std::string path = PathOf(mailId);
    if (!source || path.empty() || !IsFile(path))
        return 0;
    if (!ReplaceFileAtomically(path, source, std::strlen(source)))
        return 0;
    Notify(HostEvent::kMessageChanged, mailId);
    return 1;
}

const char* MailboxHost::GetHeader(const char* mailId)
{
    std::string path = PathOf(mailId);
    std::string message;
    if (path.empty() || !ReadWholeFile(path, message, kMaxMessageBytes))
        return nullptr;
    header_ = HeaderOf(message);
    if (header_.find('\0') != std::string::npos)
        return nullptr;
    return header_.c_str();
}

std::string MailboxHost::PathOf(const char* mailId) const
{
    if (!mailId)
        return std::string();
    size_t length = strnlen(mailId, kMaxMailId + 1);
    if (length > kMaxMailId || !IsContainedRelativePath(mailId) || mailId[length - 1] == '\\')
        return std::string();
    return MailboxDirectory() + mailId;
}

const std::vector<std::string>& MailboxHost::MailIds()
{
    if (listed_)
        return mailIds_;
    mailIds_.clear();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((FolderDirectory() + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && EndsWithIgnoringCase(name, ".eml")) {
                std::string id = folder_ + "\\" + name;
                if (id.size() <= kMaxMailId)
                    mailIds_.push_back(id);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(mailIds_.begin(), mailIds_.end());
    listed_ = true;
    return mailIds_;
}

MessageSummary MailboxHost::Summarize(const std::string& mailId)
{
    std::string path = PathOf(mailId.c_str());
    std::string head;
    ReadHeaderBytes(path, head, kMaxHeaderBytes);
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    unsigned long long size = 0;
    if (!path.empty() && GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes)) {
        size = (static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    }
    bool hasAttachments = (GetStatus(mailId.c_str()) & kStatusHasAttachments) != 0;
    return {mailId, FieldValue(HeaderOf(head), "Subject"), size, hasAttachments};
}

std::vector<MessageSummary> MailboxHost::Summaries()
{
    std::vector<MessageSummary> summaries;
    std::vector<std::string> ids = MailIds();
    for (const std::string& id : ids)
        summaries.push_back(Summarize(id));
    return summaries;
}

void MailboxHost::SetFolder(std::string folder)
{
    folder_ = std::move(folder);
    currentMail_.clear();
    listed_ = false;
    Notify(HostEvent::kFolderChanged);
}

const RegisteredCommand* MailboxHost::LatestCommandFor(int target) const
{
    for (auto command = commands_.rbegin(); command != commands_.rend(); ++command) {
        if (command->target == target)
            return &*command;
    }
    return nullptr;
}

bool MailboxHost::RunCommand(int id, HWND owner)
{
    for (const RegisteredCommand& command : commands_) {
        if (command.id == id) {
            CommandCallback callback = command.callback; // the callback may register more commands
            if (callback)
                callback(owner, 0);
            return true;
        }
    }
    return false;
}

void MailboxHost::Notify(HostEvent event, const std::string& mailId)
{
    if (listener_)
        listener_(event, mailId);
}
