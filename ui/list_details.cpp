#include "ui/list_details.h"

#include <cstdio>
#include <cstring>

#include "mime/header_text.h"

namespace {

constexpr size_t kNameSize = 256;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The end of the line at `at`: its CR or LF, or `end`.
const char* LineEnd(const char* at, const char* end)
{
    while (at < end && *at != '\r' && *at != '\n')
        ++at;
    return at;
}

// The start of the next line after the line end at `at`.
const char* NextLine(const char* at, const char* end)
{
    if (at < end && *at == '\r')
        ++at;
    if (at < end && *at == '\n')
        ++at;
    return at;
}

bool StartsWithName(const char* at, const char* end, const char* name)
{
    size_t length = std::strlen(name);
    if (static_cast<size_t>(end - at) < length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = at[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != name[i])
            return false;
    }
    return true;
}

// The end of the field that starts at `line`: the line end of its last
// continuation line.
const char* FieldEnd(const char* line, const char* end)
{
    const char* fieldEnd = LineEnd(line, end);
    for (const char* next = NextLine(fieldEnd, end); next < end && IsBlank(*next); next = NextLine(fieldEnd, end))
        fieldEnd = LineEnd(next, end);
    return fieldEnd;
}

// Appends text to out (capacity outSize, used bytes in `used`) only when all of
// it fits with the terminator.
bool AppendWhole(char* out, size_t outSize, size_t& used, const char* text, size_t length)
{
    if (used + length + 1 > outSize)
        return false;
    std::memcpy(out + used, text, length);
    used += length;
    out[used] = '\0';
    return true;
}

void FormatSize(size_t bytes, char* text, size_t size)
{
    if (bytes < 1024)
        std::snprintf(text, size, "%u B", static_cast<unsigned>(bytes));
    else if (bytes < 1024u * 1024u)
        std::snprintf(text, size, "%u KB", static_cast<unsigned>((bytes + 1023) / 1024));
    else
        std::snprintf(text, size, "%u.%u MB", static_cast<unsigned>(bytes / (1024u * 1024u)),
                      static_cast<unsigned>(bytes % (1024u * 1024u) * 10 / (1024u * 1024u)));
}

// The file name a part's header declares: Content-Disposition's filename,
// else Content-Type's name. Empty when it declares none.
struct PartNames {
    char fromDisposition[kNameSize] = "";
    char fromType[kNameSize] = "";

    void Take(const char* field, size_t length)
    {
        if (StartsWithName(field, field + length, "content-disposition:"))
            DecodeParameter(field, length, "filename", TextTarget::Cp932, fromDisposition, sizeof fromDisposition);
        else if (StartsWithName(field, field + length, "content-type:"))
            DecodeParameter(field, length, "name", TextTarget::Cp932, fromType, sizeof fromType);
    }
    const char* Name() const { return fromDisposition[0] != '\0' ? fromDisposition : fromType; }
};

} // namespace

SubjectField FindSubject(const char* message, size_t length, size_t examined, const char** value,
                         size_t* valueLength)
{
    const char* end = message + length;
    const char* limit = message + (length < examined ? length : examined);
    for (const char* line = message; line < limit;) {
        const char* lineEnd = LineEnd(line, end);
        if (lineEnd == line)
            break; // the empty line that ends the header
        if (StartsWithName(line, limit, "subject:")) {
            if (lineEnd == end)
                return SubjectField::kNoLineEnd;
            const char* fieldEnd = FieldEnd(line, end);
            if (fieldEnd > limit)
                return SubjectField::kTooFar;
            *value = line + 8;
            *valueLength = static_cast<size_t>(fieldEnd - *value);
            return SubjectField::kFound;
        }
        line = NextLine(lineEnd, end);
    }
    return SubjectField::kMissing;
}

size_t FormatDetails(const char* message, size_t length, char* out, size_t outSize)
{
    if (outSize == 0)
        return 0;
    out[0] = '\0';
    size_t used = 0;
    char size[32];
    FormatSize(length, size, sizeof size);
    if (!AppendWhole(out, outSize, used, "  (", 3) || !AppendWhole(out, outSize, used, size, std::strlen(size)))
        return 0;

    // The part headers: the lines after each delimiter ("--...") up to the
    // empty line. Only their Content- fields are read; bodies are skipped a
    // line at a time.
    const char* end = message + length;
    const char* line = message;
    while (line < end && LineEnd(line, end) != line) // the message's own header
        line = NextLine(LineEnd(line, end), end);
    const char* separator = ": ";
    bool inPartHeader = false;
    PartNames part;
    while (line < end) {
        const char* lineEnd = LineEnd(line, end);
        if (!inPartHeader) {
            inPartHeader = lineEnd - line >= 2 && line[0] == '-' && line[1] == '-';
            if (inPartHeader)
                part = PartNames();
            line = NextLine(lineEnd, end);
            continue;
        }
        if (lineEnd == line) {
            inPartHeader = false;
            const char* name = part.Name();
            if (name[0] != '\0') {
                // One byte stays for the closing parenthesis.
                size_t mark = used;
                if (!AppendWhole(out, outSize - 1, used, separator, std::strlen(separator)) ||
                    !AppendWhole(out, outSize - 1, used, name, std::strlen(name))) {
                    used = mark;
                    out[used] = '\0';
                    break;
                }
                separator = ", ";
            }
            line = NextLine(lineEnd, end);
            continue;
        }
        const char* fieldEnd = FieldEnd(line, end);
        part.Take(line, static_cast<size_t>(fieldEnd - line));
        line = NextLine(fieldEnd, end);
    }
    if (!AppendWhole(out, outSize, used, ")", 1)) {
        out[0] = '\0';
        return 0;
    }
    return used;
}
