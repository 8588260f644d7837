#include "mime/mail_date.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr std::size_t kMaxToken = 32;
constexpr int kUnset = -1;

struct NamedZone {
    const char* name;
    int minutes;
};

// Zone names older mail used; any other name counts as UTC, as a reader
// cannot know what it meant (the military letters were defined backwards).
constexpr NamedZone kZones[] = {
    {"ut", 0},          {"utc", 0},         {"gmt", 0},         {"z", 0},           {"est", -5 * 60},
    {"edt", -4 * 60},   {"cst", -6 * 60},   {"cdt", -5 * 60},   {"mst", -7 * 60},   {"mdt", -6 * 60},
    {"pst", -8 * 60},   {"pdt", -7 * 60},
};

constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                   "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr const char* kWeekdays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

struct DateParts {
    int day = kUnset;
    int month = kUnset;
    int year = kUnset;
    int yearDigits = 0;
    int hour = kUnset;
    int minute = 0;
    int second = 0;
    int zoneMinutes = 0;
    bool zoneSet = false;
};

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Reads up to maxDigits digits at text; the count read, or 0.
int ReadNumber(const char* text, int maxDigits, int* value)
{
    int count = 0;
    *value = 0;
    while (count < maxDigits && IsDigit(text[count]))
        *value = *value * 10 + (text[count++] - '0');
    return count;
}

// "+hhmm" or "-hhmm".
bool ReadNumericZone(const char* token, int* minutes)
{
    int value = 0;
    if ((token[0] != '+' && token[0] != '-') || ReadNumber(token + 1, 4, &value) != 4 || token[5] != '\0' ||
        value % 100 > 59)
        return false;
    *minutes = (value / 100 * 60 + value % 100) * (token[0] == '-' ? -1 : 1);
    return true;
}

// "hh:mm" or "hh:mm:ss", a zone glued behind it taken too.
bool ReadTime(const char* token, DateParts* parts)
{
    int used = ReadNumber(token, 2, &parts->hour);
    if (used == 0 || token[used] != ':')
        return false;
    const char* at = token + used + 1;
    used = ReadNumber(at, 2, &parts->minute);
    if (used != 2)
        return false;
    at += used;
    if (*at == ':') {
        used = ReadNumber(at + 1, 2, &parts->second);
        if (used != 2)
            return false;
        at += used + 1;
    }
    if (*at != '\0') {
        if (!ReadNumericZone(at, &parts->zoneMinutes))
            return false;
        parts->zoneSet = true;
    }
    return parts->hour <= 23 && parts->minute <= 59 && parts->second <= 60;
}

bool StartsWithName(const char* token, const char* const* names, std::size_t count, int* index)
{
    if (strlen(token) < 3)
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (strncmp(token, names[i], 3) == 0) {
            *index = static_cast<int>(i);
            return true;
        }
    }
    return false;
}

// A word: a weekday, a month or a zone name. token is lower case.
bool ReadWord(const char* token, DateParts* parts)
{
    int index = 0;
    if (StartsWithName(token, kWeekdays, sizeof kWeekdays / sizeof kWeekdays[0], &index))
        return true;
    if (parts->month == kUnset && StartsWithName(token, kMonths, sizeof kMonths / sizeof kMonths[0], &index)) {
        parts->month = index + 1;
        return true;
    }
    if (parts->zoneSet)
        return true; // "+0100 CET": the number decides
    parts->zoneSet = true;
    parts->zoneMinutes = 0;
    for (const NamedZone& zone : kZones) {
        if (strcmp(token, zone.name) == 0)
            parts->zoneMinutes = zone.minutes;
    }
    return true;
}

bool ReadNumberToken(const char* token, DateParts* parts)
{
    int value = 0;
    int digits = ReadNumber(token, 5, &value);
    if (digits == 0 || token[digits] != '\0')
        return false;
    if (parts->day == kUnset && digits <= 2 && value >= 1 && value <= 31) {
        parts->day = value;
        return true;
    }
    if (parts->year != kUnset || digits > 4)
        return false;
    parts->year = value;
    parts->yearDigits = digits;
    return true;
}

bool ReadToken(const char* token, DateParts* parts)
{
    if (strchr(token, ':'))
        return parts->hour == kUnset && ReadTime(token, parts);
    if (token[0] == '+' || token[0] == '-') {
        if (!ReadNumericZone(token, &parts->zoneMinutes))
            return false;
        parts->zoneSet = true;
        return true;
    }
    if (IsDigit(token[0]))
        return ReadNumberToken(token, parts);
    for (const char* c = token; *c; ++c) {
        if (!IsLetter(*c) && *c != '.')
            return false;
    }
    return ReadWord(token, parts);
}

// Two-digit years: 00-49 are 2000-2049, 50-99 are 1950-1999; three digits count from 1900.
int FullYear(int year, int digits)
{
    if (digits <= 2)
        return year < 50 ? 2000 + year : 1900 + year;
    if (digits == 3)
        return 1900 + year;
    return year;
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the date, in the proleptic Gregorian calendar.
long long DaysFromEpoch(int year, int month, int day)
{
    long long y = month <= 2 ? year - 1 : year;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yearOfEra = y - era * 400;
    long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

bool ParseMailDate(const char* text, long long* seconds)
{
    DateParts parts;
    char token[kMaxToken];
    std::size_t tokenLength = 0;
    int commentDepth = 0;
    for (const char* at = text;; ++at) {
        char c = *at;
        if (commentDepth > 0) {
            if (c == '\0')
                return false;
            if (c == '\\' && at[1] != '\0')
                ++at;
            else if (c == '(')
                ++commentDepth;
            else if (c == ')')
                --commentDepth;
            continue;
        }
        bool separator = c == '\0' || c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n' || c == '(';
        if (!separator) {
            if (tokenLength + 1 >= kMaxToken)
                return false;
            token[tokenLength++] = Lower(c);
            continue;
        }
        if (tokenLength > 0) {
            token[tokenLength] = '\0';
            tokenLength = 0;
            if (!ReadToken(token, &parts))
                return false;
        }
        if (c == '(')
            commentDepth = 1;
        if (c == '\0')
            break;
    }
    if (parts.day == kUnset || parts.month == kUnset || parts.year == kUnset || parts.hour == kUnset)
        return false;
    int year = FullYear(parts.year, parts.yearDigits);
    if (year < 1900 || year > 9999 || parts.day > DaysInMonth(year, parts.month))
        return false;
    int second = parts.second == 60 ? 59 : parts.second; // a leap second
    *seconds = DaysFromEpoch(year, parts.month, parts.day) * 86400 + parts.hour * 3600LL + parts.minute * 60LL +
               second - parts.zoneMinutes * 60LL;
    return true;
}

bool FileTimeTicks(long long seconds, unsigned long long* ticks)
{
    constexpr long long kSecondsFrom1601To1970 = 11644473600LL;
    constexpr long long kMostSeconds = 900000000000LL; // far below the 64-bit tick limit
    if (seconds <= -kSecondsFrom1601To1970 || seconds > kMostSeconds)
        return false;
    *ticks = static_cast<unsigned long long>(seconds + kSecondsFrom1601To1970) * 10000000ULL;
    return true;
}
