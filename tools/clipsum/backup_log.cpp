#include "backup_log.h"

#include "message_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr unsigned long long kFnvPrime = 0x100000001b3ULL;
constexpr std::size_t kHashBlock = 256 * 1024;
constexpr int kFieldCount = 6;

bool Fail(FileError* error, const char* what, int code)
{
    error->what = what;
    error->code = code;
    return false;
}

void WriteEscaped(FILE* file, const char* text)
{
    for (const char* c = text; *c; ++c) {
        if (*c == '\t')
            fputs("\\t", file);
        else if (*c == '\n')
            fputs("\\n", file);
        else if (*c == '\\')
            fputs("\\\\", file);
        else
            fputc(*c, file);
    }
}

void Unescape(char* text)
{
    char* out = text;
    for (const char* in = text; *in; ++in) {
        if (*in == '\\' && (in[1] == 't' || in[1] == 'n' || in[1] == '\\')) {
            ++in;
            *out++ = *in == 't' ? '\t' : *in == 'n' ? '\n' : '\\';
        } else {
            *out++ = *in;
        }
    }
    *out = '\0';
}

bool ForceToDisk(FILE* file)
{
    if (fflush(file) != 0)
        return false;
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

bool ParseNumber(const char* text, int base, unsigned long long* value)
{
    char* end = nullptr;
    errno = 0;
    *value = strtoull(text, &end, base);
    return text[0] && errno == 0 && end && *end == '\0';
}

} // namespace

void HashBytes(ContentHash* hash, const char* data, std::size_t length)
{
    unsigned long long value = hash->value;
    for (std::size_t i = 0; i < length; ++i)
        value = (value ^ static_cast<unsigned char>(data[i])) * kFnvPrime;
    hash->value = value;
    hash->length += length;
}

bool HashFile(const char* path, ContentHash* hash)
{
    FileFacts facts;
    FILE* file = OpenRegularFile(path, &facts);
    if (!file) {
        if (errno == 0)
            errno = EISDIR;
        return false;
    }
    char* block = static_cast<char*>(malloc(kHashBlock));
    bool hashed = block != nullptr;
    std::size_t got = 0;
    while (hashed && (got = fread(block, 1, kHashBlock, file)) > 0)
        HashBytes(hash, block, got);
    if (!block)
        errno = ENOMEM;
    else if (ferror(file))
        hashed = false;
    free(block);
    fclose(file);
    return hashed;
}

namespace {

bool OpenBackupLog(BackupLog* log, FileError* error)
{
    char* path = JoinPath(log->directory, kBackupLogName);
    if (!path)
        return Fail(error, "not enough memory", ENOMEM);
    log->file = fopen(path, "ab");
    free(path);
    return log->file || Fail(error, "cannot open clipsum-backups.log in the backup folder", errno);
}

} // namespace

void CloseBackupLog(BackupLog* log)
{
    if (log->file)
        fclose(log->file);
    log->file = nullptr;
}

bool RecordBackup(BackupLog* log, const char* kind, const ContentHash& stripped, const char* copyPath,
                  const char* target, FileError* error)
{
    if (!log->file && !OpenBackupLog(log, error))
        return false;
    char* absolute = AbsolutePath(target);
    if (!absolute)
        return Fail(error, "cannot note the backup copy: no absolute path", errno);
    fprintf(log->file, "1\t%s\t%llu\t%016llx\t", kind, stripped.length, stripped.value);
    WriteEscaped(log->file, copyPath + DirectoryLength(copyPath));
    fputc('\t', log->file);
    WriteEscaped(log->file, absolute);
    fputc('\n', log->file);
    free(absolute);
    return ForceToDisk(log->file) || Fail(error, "cannot note the backup copy in clipsum-backups.log", errno);
}

bool ParseBackupLog(char* text, std::size_t length, BackupRecords* records)
{
    *records = BackupRecords{};
    std::size_t capacity = 0;
    char* end = text + length;
    for (char* line = text; line < end;) {
        char* newline = static_cast<char*>(memchr(line, '\n', static_cast<std::size_t>(end - line)));
        char* lineEnd = newline ? newline : end;
        *lineEnd = '\0';
        char* fields[kFieldCount] = {};
        int count = 0;
        for (char* field = line; count < kFieldCount; ++count) {
            fields[count] = field;
            char* tab = strchr(field, '\t');
            if (!tab) {
                ++count;
                break;
            }
            *tab = '\0';
            field = tab + 1;
        }
        BackupRecord record{};
        unsigned long long version = 0;
        bool sound = count == kFieldCount && ParseNumber(fields[0], 10, &version) && version == 1 &&
                     ParseNumber(fields[2], 10, &record.size) && ParseNumber(fields[3], 16, &record.hash) &&
                     fields[4][0] && fields[5][0] && !strchr(fields[5], '\t');
        if (sound) {
            Unescape(fields[4]);
            Unescape(fields[5]);
            record.kind = fields[1];
            record.copyName = fields[4];
            record.target = fields[5];
            if (records->count == capacity) {
                capacity = capacity ? capacity * 2 : 64;
                auto* grown = static_cast<BackupRecord*>(realloc(records->records, capacity * sizeof(BackupRecord)));
                if (!grown)
                    return false;
                records->records = grown;
            }
            records->records[records->count++] = record;
        } else if (line != lineEnd) {
            ++records->unreadable;
        }
        line = lineEnd + 1;
    }
    return true;
}

void FreeBackupRecords(BackupRecords* records)
{
    free(records->records);
    *records = BackupRecords{};
}
