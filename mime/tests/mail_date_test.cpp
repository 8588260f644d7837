// The Date field as it appears in real mail, current and obsolete forms side
// by side with the moment they name (seconds since 1970, UTC).

#include "mime/mail_date.h"

#include <gtest/gtest.h>

namespace {

struct DateCase {
    const char* text;
    long long seconds;
};

// 2021-03-02 10:00:00 UTC
constexpr long long kMarch2 = 1614679200;

TEST(MailDate, ReadsTheFormsMailHasCarried)
{
    const DateCase cases[] = {
        {"Tue, 2 Mar 2021 10:00:00 +0000", kMarch2},
        {"Tue, 02 Mar 2021 19:00:00 +0900", kMarch2},
        {"2 Mar 2021 05:00:00 -0500", kMarch2},                        // no day of the week
        {"Tue 2 Mar 2021 10:00:00 GMT", kMarch2},                      // no comma, zone name
        {"Tue, 2 Mar 2021 05:00:00 EST", kMarch2},
        {"Tue, 2 Mar 2021 03:00:00 PDT", kMarch2},
        {"Tue, 2 Mar 21 10:00:00 UT", kMarch2},                        // two-digit year
        {"Tue, 2 Mar 121 10:00:00 +0000", kMarch2},                    // three-digit year
        {"Tue, 2 Mar 2021 10:00 +0000", kMarch2},                      // no seconds
        {"Tue, 2 Mar 2021 10:00:00 +0000 (UTC)", kMarch2},             // comment
        {"Tue, 2 (the second) Mar 2021 10:00:00 (nested (comment)) +0000", kMarch2},
        {"Tue,  2 MAR 2021   10:00:00   +0000", kMarch2},              // case, spaces
        {"Tuesday, 2 March 2021 10:00:00 +0000", kMarch2},
        {"Tue, 2 Mar 2021 11:00:00 +0100 CET", kMarch2},               // the number decides
        {"Tue, 2 Mar 2021 10:00:00 A", kMarch2},                       // military zone: unknown, UTC
        {"Tue, 2 Mar 2021 10:00:00 XYZT", kMarch2},                    // unknown name: UTC
        {"Tue, 2 Mar 2021 10:00:00", kMarch2},                         // no zone: UTC
        {"Tue Mar  2 10:00:00 2021", kMarch2},                         // asctime()
        {"Tue, 2 Mar 2021 10:00:00+0000", kMarch2},                    // zone glued to the time
        {"Thu, 1 Jan 1970 00:00:00 +0000", 0},
        {"Fri, 31 Dec 1999 23:59:60 +0000", 946684799},                 // leap second
        {"Sat, 1 Jan 50 00:00:00 +0000", -631152000},                  // 50 is 1950
        {"Sun, 1 Jan 49 00:00:00 +0000", 2493072000},                  // 49 is 2049
        {"Tue, 29 Feb 2000 12:00:00 +0000", 951825600},
    };
    for (const DateCase& c : cases) {
        long long seconds = -1;
        EXPECT_TRUE(ParseMailDate(c.text, &seconds)) << c.text;
        EXPECT_EQ(seconds, c.seconds) << c.text;
    }
}

TEST(MailDate, RefusesWhatNamesNoMoment)
{
    const char* refused[] = {
        "",
        "yesterday",
        "Tue, 2 Mar 2021",                      // no time
        "Tue, 2 2021 10:00:00 +0000",           // no month
        "Tue, Mar 2021 10:00:00 +0000",         // no day
        "Tue, 31 Feb 2021 10:00:00 +0000",      // no such day
        "Tue, 29 Feb 2100 10:00:00 +0000",      // 2100 is no leap year
        "Tue, 2 Mar 2021 24:00:00 +0000",
        "Tue, 2 Mar 2021 10:60:00 +0000",
        "Tue, 2 Mar 2021 10:00:00 +0960",
        "Tue, 2 Mar 2021 10:00:00 +09",
        "Tue, 2 Mar 2021 10:00:00 +0000 (unclosed",
        "Tue, 2 Mar 1850 10:00:00 +0000",
        "Tue, 2 Mar 2021 10:00:00 +0000 2022",  // two years
        "2021-03-02T10:00:00Z",
        "Tue, 2 Mar 2021 10:00:00 +0000 aVeryLongWordThatIsNoZoneAtAllInAnyMail",
    };
    for (const char* text : refused) {
        long long seconds = 0;
        EXPECT_FALSE(ParseMailDate(text, &seconds)) << text;
    }
}

TEST(MailDate, FileTimesCountFrom1601AndRefuseEarlierMoments)
{
    unsigned long long ticks = 0;
    ASSERT_TRUE(FileTimeTicks(0, &ticks));
    EXPECT_EQ(116444736000000000ULL, ticks);
    ASSERT_TRUE(FileTimeTicks(1716253200, &ticks)); // 2024-05-21 01:00 UTC
    EXPECT_EQ(133607268000000000ULL, ticks);
    EXPECT_FALSE(FileTimeTicks(-11644473600LL, &ticks));
    EXPECT_FALSE(FileTimeTicks(-20000000000LL, &ticks));
}

} // namespace
