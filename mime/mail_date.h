#pragma once
// The Date field as mail has really carried it: the current form, and the
// obsolete ones readers still accept (comments, no day of the week or no
// comma, two- and three-digit years, seconds left out, zone names, military
// zones, no zone at all), and the asctime() order some old programs wrote.

// The moment text names, in seconds since 1970-01-01 00:00 UTC. False when
// text is no date (a missing part, a month of 13, 31 February, an unknown word).
bool ParseMailDate(const char* text, long long* seconds);

// The moment seconds (since 1970, UTC) as Windows counts file times: 100 ns
// ticks since 1601-01-01. False for a moment before 1601, which a file cannot have.
bool FileTimeTicks(long long seconds, unsigned long long* ticks);
