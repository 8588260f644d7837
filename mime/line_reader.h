#pragma once
// Cutting message text into lines and header fields into parameters.
// Line breaks are CR LF, a lone LF or a lone CR; all text is 8-bit and only the
// ASCII letters are ever case-folded.

#include <cstddef>
#include <cstdint>
#include <cstring>

// Takes the next name=value parameter from a header field's parameter section,
// cutting the text in place. Returns where the following parameter begins
// (possibly the terminating NUL), or null when no equals sign is left.
char* NextParam(char* position, char*& name, char*& value);

// The first place in text where pattern occurs, ASCII letters compared without
// regard to case; null when there is none.
const char* FindNoCase(const char* text, const char* pattern);

inline char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the length bytes at a and b match without regard to ASCII case.
bool EqualsNoCase(const char* a, const char* b, std::size_t length);

// True when text (of textLength bytes) begins with prefix, without regard to ASCII case.
inline bool StartsWithNoCase(const char* text, std::size_t textLength, const char* prefix)
{
    const std::size_t prefixLength = std::strlen(prefix);
    return textLength >= prefixLength && EqualsNoCase(text, prefix, prefixLength);
}

// Number of characters of the line at text before its line break or the end of the text.
inline std::size_t LineContentLength(const char* text)
{
    return std::strcspn(text, "\r\n");
}

// Where the next line begins, given the end of a line's content: behind CR LF,
// a lone CR or a lone LF, or on the terminator at the end of the text.
inline const char* SkipLineBreak(const char* end)
{
    if (*end == '\r')
        return end[1] == '\n' ? end + 2 : end + 1;
    return *end == '\n' ? end + 1 : end;
}
