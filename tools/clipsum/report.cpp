#include "report.h"

#include "report_relay.h"

#include <cstring>

namespace {

constexpr unsigned long long kRedrawMilliseconds = 100;
constexpr int kBarWidth = 24;
constexpr std::size_t kMaxJsonPathBytes = 3 * 4096 + 1;

void CountReason(ReasonCount* table, const char* reason)
{
    for (unsigned i = 0; i < kMaxReasons; ++i) {
        if (!table[i].reason || strcmp(table[i].reason, reason) == 0) {
            table[i].reason = reason;
            ++table[i].count;
            return;
        }
    }
    ++table[kMaxReasons - 1].count; // more kinds than the table holds: counted under the last
}

// Bytes for a person: "812 B", "12.3 kB", "4.7 MB", "1.2 GB".
void HumanBytes(unsigned long long bytes, char* out, std::size_t outSize)
{
    static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB"};
    if (bytes < 1000) {
        snprintf(out, outSize, "%llu B", bytes);
        return;
    }
    double value = static_cast<double>(bytes) / 1000;
    unsigned unit = 0;
    while (value >= 1000 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
        value /= 1000;
        ++unit;
    }
    snprintf(out, outSize, "%.1f %s", value, kUnits[unit]);
}

// A stripped message can in principle grow (a longer Content-Length, say).
unsigned long long Saved(const Reporter& reporter)
{
    return reporter.bytesBefore > reporter.bytesAfter ? reporter.bytesBefore - reporter.bytesAfter : 0;
}

void ClearProgress(Reporter* reporter)
{
    if (!reporter->progressShown)
        return;
    fprintf(stderr, "\r%*s\r", 79, "");
    fflush(stderr);
    reporter->progressShown = false;
}

void DrawProgress(Reporter* reporter, bool force)
{
    if (!reporter->progress)
        return;
    unsigned long long now = MonotonicMilliseconds();
    if (!force && reporter->progressShown && now - reporter->lastDrawn < kRedrawMilliseconds)
        return;
    reporter->lastDrawn = now;
    unsigned long long total = reporter->progressTotal > reporter->progressDone ? reporter->progressTotal
                                                                                : reporter->progressDone;
    int filled = total == 0 ? 0 : static_cast<int>(reporter->progressDone * kBarWidth / total);
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i)
        bar[i] = i < filled ? '#' : '-';
    bar[kBarWidth] = '\0';
    char saved[32];
    HumanBytes(Saved(*reporter), saved, sizeof saved);
    fprintf(stderr, "\r[%s] %llu/%llu messages, %s saved ", bar, reporter->progressDone, total, saved);
    fflush(stderr);
    reporter->progressShown = true;
}

// Before a line goes to the terminal the bar is on.
void MakeRoomForLine(Reporter* reporter, FILE* stream)
{
    if (reporter->progressShown && (stream == stderr || IsTerminal(stream)))
        ClearProgress(reporter);
}

void PrintWhere(FILE* stream, const MessageRef& where)
{
    if (where.number == 0)
        fprintf(stream, "%s", where.path);
    else
        fprintf(stream, "%s, message %lu", where.path, where.number);
}

// UTF-8 passes; a byte that starts no valid sequence becomes \u00XX, so that
// the line stays valid JSON whatever a path or a raw subject holds.
std::size_t ValidSequenceLength(const unsigned char* text)
{
    unsigned char lead = text[0];
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4                    ? 4
                                                                         : 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80)
            return 0;
    }
    if ((lead == 0xE0 && text[1] < 0xA0) || (lead == 0xED && text[1] >= 0xA0) || (lead == 0xF0 && text[1] < 0x90) ||
        (lead == 0xF4 && text[1] >= 0x90))
        return 0;
    return length;
}

void WriteJsonString(FILE* stream, const char* text)
{
    fputc('"', stream);
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
    while (*at) {
        std::size_t length = ValidSequenceLength(at);
        if (length == 0 || *at < 0x20) {
            fprintf(stream, "\\u%04x", *at);
            ++at;
        } else if (*at == '"' || *at == '\\') {
            fputc('\\', stream);
            fputc(*at++, stream);
        } else {
            fwrite(at, 1, length, stream);
            at += length;
        }
    }
    fputc('"', stream);
}

void WriteJsonPath(FILE* stream, const char* key, const char* path)
{
    char utf8[kMaxJsonPathBytes];
    PathAsUtf8(path, utf8, sizeof utf8);
    fprintf(stream, "\"%s\":", key);
    WriteJsonString(stream, utf8);
}

void StartJson(FILE* json, const MessageRef& where)
{
    fputc('{', json);
    WriteJsonPath(json, "path", where.path);
    if (where.number != 0)
        fprintf(json, ",\"message\":%lu,\"offset\":%llu", where.number, where.offset);
}

const char* OutcomeName(const Reporter& reporter, Verdict verdict)
{
    switch (verdict) {
    case Verdict::Strip:
        return reporter.dryRun ? "would be stripped" : "stripped";
    case Verdict::LeaveAlone:
        return "left alone";
    case Verdict::Fail:
        break;
    }
    return "failed";
}

void WriteJsonOutcome(FILE* json, const Reporter& reporter, const MessageRef& where, const MessageOutcome& outcome,
                      const char* copyPath)
{
    StartJson(json, where);
    fprintf(json, ",\"outcome\":\"%s\"", OutcomeName(reporter, outcome.verdict));
    if (outcome.reason) {
        fputs(",\"reason\":", json);
        WriteJsonString(json, outcome.reason);
    }
    fputs(",\"subject\":", json);
    WriteJsonString(json, outcome.subject);
    fprintf(json, ",\"bytes_before\":%zu,\"bytes_after\":%zu", outcome.bytesBefore, outcome.bytesAfter);
    if (outcome.verdict == Verdict::Strip) {
        fprintf(json, ",\"removed_count\":%u,\"removed\":[", outcome.removedCount);
        for (unsigned i = 0; i < outcome.removedCount && i < kMaxListedParts; ++i) {
            fputs(i ? ",{\"type\":" : "{\"type\":", json);
            WriteJsonString(json, outcome.removed[i].mediaType);
            fputs(",\"filename\":", json);
            WriteJsonString(json, outcome.removed[i].fileName);
            if (outcome.removed[i].savedAs[0]) {
                fputs(",\"saved\":", json);
                WriteJsonString(json, outcome.removed[i].savedAs);
            }
            if (outcome.removed[i].broken)
                fputs(",\"broken_base64\":true", json);
            fputc('}', json);
        }
        fputc(']', json);
        if (outcome.savedCount)
            fprintf(json, ",\"saved_count\":%u,\"broken_count\":%u", outcome.savedCount, outcome.brokenCount);
    }
    if (copyPath) {
        fputc(',', json);
        WriteJsonPath(json, "backup", copyPath);
    }
    fputs("}\n", json);
}

void WriteRemovedParts(FILE* stream, const MessageOutcome& outcome)
{
    if (outcome.removedCount == 0)
        return;
    fputs("; removed ", stream);
    for (unsigned i = 0; i < outcome.removedCount && i < kMaxListedParts; ++i) {
        const RemovedEntry& part = outcome.removed[i];
        if (i > 0)
            fputs(", ", stream);
        fputs(part.mediaType[0] ? part.mediaType : "a part without type", stream);
        if (part.fileName[0]) {
            fputs(" \"", stream);
            WriteReadableText(stream, part.fileName);
            fputc('"', stream);
        }
        if (part.savedAs[0]) {
            fputs(" saved as \"", stream);
            WriteReadableText(stream, part.savedAs);
            fputc('"', stream);
        }
        if (part.broken)
            fputs(" (broken base64: saved as far as it decodes)", stream);
    }
    if (outcome.removedCount > kMaxListedParts) {
        fprintf(stream, " and %u more", outcome.removedCount - kMaxListedParts);
        if (outcome.savedCount)
            fprintf(stream, " (%u saved in all)", outcome.savedCount);
    }
    unsigned listedBroken = 0;
    for (unsigned i = 0; i < outcome.removedCount && i < kMaxListedParts; ++i)
        listedBroken += outcome.removed[i].broken ? 1 : 0;
    if (outcome.brokenCount > listedBroken)
        fprintf(stream, "; %u of them with broken base64, saved as far as it decodes", outcome.brokenCount);
}

void PrintReasons(FILE* stream, const char* heading, const ReasonCount* table)
{
    if (!table[0].reason)
        return;
    fprintf(stream, "%s:", heading);
    for (unsigned i = 0; i < kMaxReasons && table[i].reason; ++i)
        fprintf(stream, "%s %lu %s", i ? "," : "", table[i].count, table[i].reason);
    fputc('\n', stream);
}

} // namespace

void StartReport(Reporter* reporter, FILE* lines, FILE* json, bool quiet, bool dryRun)
{
    *reporter = Reporter{};
    reporter->lines = lines;
    reporter->json = json;
    reporter->quiet = quiet;
    reporter->dryRun = dryRun;
    reporter->progress = !quiet && IsTerminal(stderr);
}

void ReportOutcome(Reporter* reporter, const MessageRef& where, const MessageOutcome& outcome, const char* copyPath)
{
    if (reporter->relay)
        return RelayOutcome(reporter->relay, where, outcome, copyPath);
    if (outcome.verdict == Verdict::Strip) {
        ++reporter->stripped;
        reporter->filesSaved += outcome.savedCount;
        reporter->brokenSaved += outcome.brokenCount;
    } else {
        ++reporter->leftAlone;
        CountReason(reporter->leftAloneReasons, outcome.reason);
    }
    reporter->bytesBefore += outcome.bytesBefore;
    reporter->bytesAfter += outcome.bytesAfter;
    ++reporter->progressDone;

    if (!reporter->quiet) {
        FILE* out = reporter->lines;
        MakeRoomForLine(reporter, out);
        PrintWhere(out, where);
        if (outcome.verdict == Verdict::Strip) {
            fprintf(out, ": %s, %zu -> %zu bytes", OutcomeName(*reporter, outcome.verdict), outcome.bytesBefore,
                    outcome.bytesAfter);
            if (copyPath)
                fprintf(out, " (original saved as %s)", copyPath);
        } else {
            fprintf(out, ": left alone, %s", outcome.reason);
        }
        if (outcome.subject[0]) {
            fputs("; subject \"", out);
            WriteReadableText(out, outcome.subject);
            fputc('"', out);
        }
        WriteRemovedParts(out, outcome);
        fputc('\n', out);
        DrawProgress(reporter, false);
    }
    if (reporter->json)
        WriteJsonOutcome(reporter->json, *reporter, where, outcome, copyPath);
}

void ReportFailure(Reporter* reporter, const MessageRef& where, const FileError& error, unsigned long long length,
                   const char* detail)
{
    if (reporter->relay)
        return RelayFailure(reporter->relay, where, error, length, detail);
    ++reporter->failed;
    ++reporter->progressDone;
    CountReason(reporter->failedReasons, error.what);
    reporter->bytesBefore += length;
    reporter->bytesAfter += length;
    MakeRoomForLine(reporter, stderr);
    fputs("clipsum: ", stderr);
    PrintWhere(stderr, where);
    fprintf(stderr, ": %s", detail ? detail : error.what);
    if (error.code != 0)
        fprintf(stderr, ": %s", strerror(error.code));
    fputc('\n', stderr);
    DrawProgress(reporter, false);
    if (reporter->json) {
        StartJson(reporter->json, where);
        fputs(",\"outcome\":\"failed\",\"reason\":", reporter->json);
        WriteJsonString(reporter->json, detail ? detail : error.what);
        if (error.code != 0) {
            fputs(",\"error\":", reporter->json);
            WriteJsonString(reporter->json, strerror(error.code));
        }
        fputs("}\n", reporter->json);
    }
}

void ReportMailboxLine(Reporter* reporter, const char* path, const char* text, const char* copyPath)
{
    if (reporter->relay)
        return RelayMailboxLine(reporter->relay, path, text, copyPath);
    if (reporter->quiet)
        return;
    MakeRoomForLine(reporter, reporter->lines);
    fprintf(reporter->lines, "%s: %s", path, text);
    if (copyPath)
        fprintf(reporter->lines, " (original saved as %s)", copyPath);
    fputc('\n', reporter->lines);
    DrawProgress(reporter, false);
}

void ReportMailboxFailure(Reporter* reporter, const char* path, const FileError& error, unsigned long undone,
                          unsigned long long undoneBytes, unsigned long undoneFiles)
{
    if (reporter->relay)
        return RelayMailboxFailure(reporter->relay, path, error, undone, undoneBytes, undoneFiles);
    reporter->stripped -= undone;
    reporter->filesSaved -= undoneFiles;
    reporter->failed += undone;
    reporter->bytesAfter += undoneBytes;
    for (unsigned long i = 0; i < undone; ++i)
        CountReason(reporter->failedReasons, error.what);
    MakeRoomForLine(reporter, stderr);
    fprintf(stderr, "clipsum: %s: %s", path, error.what);
    if (error.code != 0)
        fprintf(stderr, ": %s", strerror(error.code));
    fprintf(stderr, "; the mbox is unchanged (%lu messages not stripped", undone);
    if (undoneFiles)
        fprintf(stderr, ", the %lu attachments saved for them removed", undoneFiles);
    fputs(")\n", stderr);
    if (reporter->json) {
        StartJson(reporter->json, MessageRef{path, 0, 0});
        fputs(",\"outcome\":\"failed\",\"reason\":", reporter->json);
        WriteJsonString(reporter->json, error.what);
        fprintf(reporter->json, ",\"messages_not_stripped\":%lu}\n", undone);
    }
}

void AddToProgressTotal(Reporter* reporter, unsigned long long messages)
{
    if (reporter->relay)
        return RelayProgressTotal(reporter->relay, messages);
    reporter->progressTotal += messages;
    DrawProgress(reporter, true);
}

void PrintSummary(Reporter* reporter)
{
    ClearProgress(reporter);
    if (reporter->json)
        fflush(reporter->json);
    if (reporter->quiet)
        return;
    FILE* out = reporter->lines;
    unsigned long long saved = Saved(*reporter);
    double percent = reporter->bytesBefore ? 100.0 * static_cast<double>(saved) / static_cast<double>(reporter->bytesBefore) : 0;
    char human[32];
    HumanBytes(saved, human, sizeof human);
    fprintf(out, "%lu %s, %lu left alone, %lu failed; %llu -> %llu bytes, %llu saved (%s, %.1f%%)\n",
            reporter->stripped, reporter->dryRun ? "would be stripped" : "stripped", reporter->leftAlone,
            reporter->failed, reporter->bytesBefore, reporter->bytesAfter, saved, human, percent);
    PrintReasons(out, "left alone", reporter->leftAloneReasons);
    PrintReasons(out, "failed", reporter->failedReasons);
    if (reporter->saveDir) {
        fprintf(out, "%lu files %s in %s", reporter->filesSaved,
                reporter->dryRun ? "would be saved" : "saved", reporter->saveDir);
        if (reporter->brokenSaved)
            fprintf(out, "; %lu with broken base64, saved as far as it decodes", reporter->brokenSaved);
        fputc('\n', out);
    }
    if (reporter->foldersNotEntered)
        fprintf(out, "%lu sub-folders not entered (-r goes into them)\n", reporter->foldersNotEntered);
    if (reporter->sizeInName)
        fprintf(out,
                "%lu Maildir messages name their old size (\",S=\"): a mail server that reads sizes from names or "
                "keeps an index must re-index the folders\n",
                reporter->sizeInName);
    fflush(out);
}
