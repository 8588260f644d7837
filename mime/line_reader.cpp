#include "mime/line_reader.h"

char* NextParam(char* position, char*& name, char*& value)
{
    position += std::strspn(position, " \t\r\n;");
    name = nullptr;
    value = nullptr;
    char* equals = std::strchr(position, '=');
    if (!equals)
        return nullptr;
    *equals = '\0';
    name = position;
    char* start = equals + 1;
    start += std::strspn(start, " \t\r\n");
    char* end;
    if (*start == '"') {
        value = start + 1;
        end = std::strchr(value, '"');
        if (!end)
            end = value + std::strlen(value);
    } else {
        value = start;
        end = start + std::strcspn(start, "\t ;\r\n");
    }
    if (*end != '\0')
        *end++ = '\0';
    return end + std::strspn(end, "; \t\r\n");
}

bool EqualsNoCase(const char* a, const char* b, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    }
    return true;
}

const char* FindNoCase(const char* text, const char* pattern)
{
    const std::size_t patternLength = std::strlen(pattern);
    for (const char* at = text; *at != '\0'; ++at) {
        std::size_t matched = 0;
        while (matched < patternLength && at[matched] != '\0' &&
               FoldAscii(at[matched]) == FoldAscii(pattern[matched])) {
            ++matched;
        }
        if (matched == patternLength)
            return at;
    }
    return nullptr;
}
