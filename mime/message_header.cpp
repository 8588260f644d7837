#include "mime/message_header.h"

#include <cstring>

namespace {

char Fold(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The end of the line at position, behind its line break.
std::size_t LineEnd(const char* data, std::size_t length, std::size_t position)
{
    const void* newline = memchr(data + position, '\n', length - position);
    return newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - data) + 1 : length;
}

bool IsBlankLine(const char* data, std::size_t length, std::size_t position)
{
    return position < length &&
           (data[position] == '\n' || (data[position] == '\r' && position + 1 < length && data[position + 1] == '\n'));
}

bool IsContinuation(const char* data, std::size_t length, std::size_t position)
{
    return position < length && (data[position] == ' ' || data[position] == '\t');
}

// Whether the line at position names the field: its name, white space, a colon.
bool NamesField(const char* data, std::size_t length, std::size_t position, const char* name, std::size_t* valueStart)
{
    std::size_t nameLength = strlen(name);
    if (length - position < nameLength + 1)
        return false;
    for (std::size_t i = 0; i < nameLength; ++i) {
        if (Fold(data[position + i]) != Fold(name[i]))
            return false;
    }
    std::size_t at = position + nameLength;
    while (at < length && (data[at] == ' ' || data[at] == '\t'))
        ++at;
    if (at >= length || data[at] != ':')
        return false;
    *valueStart = at + 1;
    return true;
}

} // namespace

bool FindHeaderField(const char* data, std::size_t length, const char* name, HeaderField* field)
{
    std::size_t position = 0;
    while (position < length && !IsBlankLine(data, length, position)) {
        std::size_t lineEnd = LineEnd(data, length, position);
        std::size_t valueStart = 0;
        bool found = NamesField(data, length, position, name, &valueStart);
        std::size_t fieldEnd = lineEnd;
        while (IsContinuation(data, length, fieldEnd))
            fieldEnd = LineEnd(data, length, fieldEnd);
        if (found) {
            *field = HeaderField{position, fieldEnd, valueStart};
            return true;
        }
        position = fieldEnd;
    }
    return false;
}

void UnfoldedValue(const char* data, const HeaderField& field, char* out, std::size_t outSize)
{
    std::size_t used = 0;
    for (std::size_t i = field.valueStart; i < field.end && used + 1 < outSize; ++i) {
        if (data[i] == '\r' || data[i] == '\n')
            continue;
        if (used == 0 && (data[i] == ' ' || data[i] == '\t'))
            continue;
        out[used++] = data[i];
    }
    while (used > 0 && (out[used - 1] == ' ' || out[used - 1] == '\t'))
        --used;
    out[used] = '\0';
}

std::size_t BodyOffset(const char* data, std::size_t length)
{
    std::size_t position = 0;
    while (position < length && !IsBlankLine(data, length, position))
        position = LineEnd(data, length, position);
    return position < length ? LineEnd(data, length, position) : length;
}

bool EndsLinesWithCrLf(const char* data, std::size_t length)
{
    const void* newline = memchr(data, '\n', length);
    return newline && newline != data && static_cast<const char*>(newline)[-1] == '\r';
}
