// mime_bench: throughput and peak memory of stripping a message to its text
// part, for our engine and for GMime, beside a plain count-the-lines pass over
// the same bytes as the upper limit. Generates its inputs in memory and prints
// a markdown table. Each measurement runs in a forked child, so that every
// engine starts from the same heap and its peak memory is its own.

#include "mime/strip_message.h"

#ifdef HAVE_GMIME
#include <gmime/gmime.h>
#endif

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr std::size_t kBigAttachmentBytes = 100 * 1000 * 1000;
constexpr int kSmallAttachmentCount = 20000;
constexpr std::size_t kLongLineBytes = 20 * 1000 * 1000;
constexpr int kFolderMessageCount = 10000;

constexpr int kMaxRuns = 5;
constexpr double kRunBudgetSeconds = 3.0;
constexpr double kMegabyte = 1e6;

// ---- inputs ----------------------------------------------------------------

struct Buffer {
    char* data = nullptr;
    std::size_t length = 0;
    std::size_t capacity = 0;
};

bool Reserve(Buffer* buffer, std::size_t extra)
{
    if (buffer->capacity - buffer->length > extra)
        return true;
    std::size_t capacity = buffer->capacity ? buffer->capacity : 4096;
    while (capacity - buffer->length <= extra)
        capacity *= 2;
    char* grown = static_cast<char*>(realloc(buffer->data, capacity));
    if (!grown)
        return false;
    buffer->data = grown;
    buffer->capacity = capacity;
    return true;
}

// Appends text and keeps the buffer NUL-terminated, as the engine wants it.
bool Append(Buffer* buffer, const char* text, std::size_t length)
{
    if (!Reserve(buffer, length))
        return false;
    memcpy(buffer->data + buffer->length, text, length);
    buffer->length += length;
    buffer->data[buffer->length] = '\0';
    return true;
}

bool Append(Buffer* buffer, const char* text)
{
    return Append(buffer, text, strlen(text));
}

// Base64 text of the given size in lines of lineLength characters plus CRLF.
bool AppendBase64(Buffer* buffer, std::size_t bytes, std::size_t lineLength, std::uint32_t* seed)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (!Reserve(buffer, bytes + 2 * (bytes / lineLength + 1)))
        return false;
    char* out = buffer->data + buffer->length;
    std::size_t column = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        *seed ^= *seed << 13;
        *seed ^= *seed >> 17;
        *seed ^= *seed << 5;
        *out++ = kAlphabet[*seed & 63];
        if (++column == lineLength || i + 1 == bytes) {
            *out++ = '\r';
            *out++ = '\n';
            column = 0;
        }
    }
    buffer->length = static_cast<std::size_t>(out - buffer->data);
    buffer->data[buffer->length] = '\0';
    return true;
}

const char kBoundary[] = "=_bench_0123456789";

bool AppendHeaderAndText(Buffer* buffer, const char* subject, int textLines)
{
    char header[512];
    snprintf(header, sizeof header,
             "From: Sender <sender@example.com>\r\n"
             "To: Receiver <receiver@example.com>\r\n"
             "Subject: %s\r\n"
             "Date: Mon, 1 Jan 2024 09:00:00 +0900\r\n"
             "MIME-Version: 1.0\r\n"
             "Content-Type: multipart/mixed; boundary=\"%s\"\r\n"
             "\r\n"
             "This is a multi-part message in MIME format.\r\n"
             "--%s\r\n"
             "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
             "Content-Transfer-Encoding: 7bit\r\n"
             "\r\n",
             subject, kBoundary, kBoundary);
    if (!Append(buffer, header))
        return false;
    for (int line = 0; line < textLines; ++line) {
        if (!Append(buffer, "The report for this week is attached; the figures are in the second table.\r\n"))
            return false;
    }
    return Append(buffer, "\r\n");
}

bool AppendAttachment(Buffer* buffer, int number, std::size_t bytes, std::size_t lineLength, std::uint32_t* seed)
{
    char header[512];
    snprintf(header, sizeof header,
             "--%s\r\n"
             "Content-Type: application/octet-stream; name=\"data%d.bin\"\r\n"
             "Content-Transfer-Encoding: base64\r\n"
             "Content-Disposition: attachment; filename=\"data%d.bin\"\r\n"
             "\r\n",
             kBoundary, number, number);
    return Append(buffer, header) && AppendBase64(buffer, bytes, lineLength, seed) && Append(buffer, "\r\n");
}

bool AppendClose(Buffer* buffer)
{
    char close[64];
    snprintf(close, sizeof close, "--%s--\r\n", kBoundary);
    return Append(buffer, close);
}

// One input: a run of NUL-terminated messages laid end to end in one buffer.
struct Case {
    const char* name;
    Buffer bytes;         // the messages, each followed by its NUL
    std::size_t* offsets; // where each message starts
    int messageCount;
    std::size_t messageBytes; // all messages, NULs not counted
};

bool AddMessage(Case* input, const Buffer& message)
{
    input->offsets[input->messageCount++] = input->bytes.length;
    input->messageBytes += message.length;
    return Append(&input->bytes, message.data, message.length + 1);
}

bool MakeCase(Case* input, const char* name, int messageCount)
{
    *input = Case{};
    input->name = name;
    input->offsets = static_cast<std::size_t*>(malloc(sizeof(std::size_t) * static_cast<std::size_t>(messageCount)));
    return input->offsets != nullptr;
}

void FreeCase(Case* input)
{
    free(input->bytes.data);
    free(input->offsets);
    *input = Case{};
}

// Builds the single message of a case straight into the case's buffer.
bool MakeSingleMessageCase(Case* input, const char* name, int attachments, std::size_t attachmentBytes,
                           std::size_t lineLength)
{
    if (!MakeCase(input, name, 1))
        return false;
    std::uint32_t seed = 2463534242u;
    Buffer* bytes = &input->bytes;
    if (!AppendHeaderAndText(bytes, name, 20))
        return false;
    for (int i = 0; i < attachments; ++i) {
        if (!AppendAttachment(bytes, i, attachmentBytes, lineLength, &seed))
            return false;
    }
    if (!AppendClose(bytes) || !Reserve(bytes, 1))
        return false;
    input->offsets[0] = 0;
    input->messageCount = 1;
    input->messageBytes = bytes->length;
    bytes->length += 1; // the NUL belongs to the buffer
    return true;
}

bool MakeFolderCase(Case* input, const char* name)
{
    if (!MakeCase(input, name, kFolderMessageCount))
        return false;
    std::uint32_t seed = 88172645u;
    Buffer message;
    bool made = true;
    for (int i = 0; made && i < kFolderMessageCount; ++i) {
        message.length = 0;
        std::size_t attachmentBytes = 1000 + (seed % 3000);
        made = AppendHeaderAndText(&message, "weekly report", 5 + i % 20) &&
               AppendAttachment(&message, i, attachmentBytes, 76, &seed) && AppendClose(&message) &&
               AddMessage(input, message);
    }
    free(message.data);
    return made;
}

// ---- the jobs ------------------------------------------------------------------

const char* MessageAt(const Case& input, int index)
{
    return input.bytes.data + input.offsets[index];
}

std::size_t MessageLength(const Case& input, int index)
{
    std::size_t end = index + 1 < input.messageCount ? input.offsets[index + 1] : input.bytes.length;
    return end - input.offsets[index] - 1;
}

// The limit: one pass over every byte that finds the line ends.
bool CountLines(const Case& input, std::size_t* result)
{
    std::size_t lines = 0;
    for (int i = 0; i < input.messageCount; ++i) {
        const char* cursor = MessageAt(input, i);
        const char* end = cursor + MessageLength(input, i);
        while ((cursor = static_cast<const char*>(memchr(cursor, '\n', static_cast<std::size_t>(end - cursor))))) {
            ++lines;
            ++cursor;
        }
    }
    *result = lines;
    return true;
}

bool StripWithEngine(const Case& input, std::size_t* result)
{
    std::size_t written = 0;
    for (int i = 0; i < input.messageCount; ++i) {
        MessageStripper stripper;
        if (stripper.Parse(MessageAt(input, i)) != StripStatus::Ok || stripper.Reduce() != StripStatus::Ok)
            return false;
        written += stripper.NewLength();
    }
    *result = written;
    return true;
}

#ifdef HAVE_GMIME
void RememberFirstTextPart(GMimeObject*, GMimeObject* part, gpointer firstTextPart)
{
    GMimeObject** found = static_cast<GMimeObject**>(firstTextPart);
    if (!*found && GMIME_IS_PART(part) &&
        g_mime_content_type_is_type(g_mime_object_get_content_type(part), "text", "plain"))
        *found = part;
}

// The same job with GMime: parse, keep the first text/plain part, write the
// message with CR LF line ends, as the engine writes it.
bool StripWithGMime(const Case& input, std::size_t* result)
{
    GMimeFormatOptions* format = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
    std::size_t written = 0;
    for (int i = 0; i < input.messageCount; ++i) {
        guint8* source = reinterpret_cast<guint8*>(const_cast<char*>(MessageAt(input, i)));
        GByteArray* array = g_byte_array_new_take(source, MessageLength(input, i));
        GMimeStream* stream = g_mime_stream_mem_new_with_byte_array(array);
        g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream), FALSE);
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
        g_object_unref(parser);
        bool stripped = false;
        if (message) {
            GMimeObject* textPart = nullptr;
            g_mime_message_foreach(message, RememberFirstTextPart, &textPart);
            if (textPart) {
                g_object_ref(textPart);
                g_mime_message_set_mime_part(message, textPart);
                g_object_unref(textPart);
                GMimeStream* output = g_mime_stream_mem_new();
                if (g_mime_object_write_to_stream(GMIME_OBJECT(message), format, output) >= 0) {
                    written += g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(output))->len;
                    stripped = true;
                }
                g_object_unref(output);
            }
            g_object_unref(message);
        }
        g_object_unref(stream);
        g_byte_array_free(array, FALSE); // hands the source back without freeing it
        if (!stripped) {
            g_mime_format_options_free(format);
            return false;
        }
    }
    g_mime_format_options_free(format);
    *result = written;
    return true;
}
#endif

// ---- measuring -------------------------------------------------------------

using Job = bool (*)(const Case&, std::size_t*);

struct Measurement {
    bool ran;
    double bestSeconds;
    long peakKiB;       // resident memory added by the job; -1 when it cannot be measured
    std::size_t output; // what the job produced: lines counted, or bytes written
};

double Now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

long StatusKiB(const char* field)
{
    FILE* status = fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long value = -1;
    std::size_t fieldLength = strlen(field);
    while (fgets(line, sizeof line, status)) {
        if (strncmp(line, field, fieldLength) == 0 && line[fieldLength] == ':') {
            value = strtol(line + fieldLength + 1, nullptr, 10);
            break;
        }
    }
    fclose(status);
    return value;
}

// Sets the peak resident size back to the current one.
bool ResetPeakMemory()
{
    FILE* clearRefs = fopen("/proc/self/clear_refs", "w");
    if (!clearRefs)
        return false;
    bool written = fputs("5", clearRefs) >= 0;
    return fclose(clearRefs) == 0 && written;
}

Measurement MeasureInChild(const Case& input, Job job, bool needsGMime)
{
    Measurement measurement{false, 0, -1, 0};
    int channel[2];
    if (pipe(channel) != 0)
        return measurement;
    fflush(stdout);
    pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return measurement;
    }
    if (child == 0) {
        close(channel[0]);
#ifdef HAVE_GMIME
        if (needsGMime)
            g_mime_init();
#else
        (void)needsGMime;
#endif
        bool canMeasurePeak = ResetPeakMemory();
        long baseline = StatusKiB("VmRSS");
        Measurement result{true, 1e300, -1, 0};
        double started = Now();
        for (int run = 0; run < kMaxRuns && (run == 0 || Now() - started < kRunBudgetSeconds); ++run) {
            std::size_t output = 0;
            double before = Now();
            if (!job(input, &output)) {
                result.ran = false;
                break;
            }
            double seconds = Now() - before;
            result.output = output;
            if (seconds < result.bestSeconds)
                result.bestSeconds = seconds;
        }
        long peak = StatusKiB("VmHWM");
        if (canMeasurePeak && peak >= 0 && baseline >= 0)
            result.peakKiB = peak > baseline ? peak - baseline : 0;
        ssize_t sent = write(channel[1], &result, sizeof result);
        _exit(sent == static_cast<ssize_t>(sizeof result) ? 0 : 1);
    }
    close(channel[1]);
    if (read(channel[0], &measurement, sizeof measurement) != static_cast<ssize_t>(sizeof measurement))
        measurement = Measurement{false, 0, -1, 0};
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        measurement.ran = false;
    return measurement;
}

// ---- the table ---------------------------------------------------------------

struct Row {
    const char* name;
    double megabytes;
    Measurement limit;
    Measurement engine;
    Measurement gmime;
    bool hasGMime;
};

double Throughput(const Row& row, const Measurement& m)
{
    return row.megabytes / m.bestSeconds;
}

void FormatSpeed(char* out, std::size_t size, const Row& row, const Measurement& m, bool available)
{
    if (!available)
        snprintf(out, size, "n/a");
    else if (!m.ran)
        snprintf(out, size, "failed");
    else
        snprintf(out, size, "%.0f MB/s", Throughput(row, m));
}

void FormatPeak(char* out, std::size_t size, const Row& row, const Measurement& m, bool available)
{
    if (!available || !m.ran || m.peakKiB < 0)
        snprintf(out, size, "n/a");
    else
        snprintf(out, size, "%.1f MB (%.2f×)", m.peakKiB * 1024.0 / kMegabyte,
                 m.peakKiB * 1024.0 / (row.megabytes * kMegabyte));
}

void PrintTable(const Row* rows, int count)
{
    printf("| Input | Size | Count lines (limit) | Engine | GMime 3 | Engine peak memory | GMime peak memory |\n");
    printf("|---|---:|---:|---:|---:|---:|---:|\n");
    for (int i = 0; i < count; ++i) {
        const Row& row = rows[i];
        char limit[32], engine[32], gmime[32], enginePeak[48], gmimePeak[48];
        FormatSpeed(limit, sizeof limit, row, row.limit, true);
        FormatSpeed(engine, sizeof engine, row, row.engine, true);
        FormatSpeed(gmime, sizeof gmime, row, row.gmime, row.hasGMime);
        FormatPeak(enginePeak, sizeof enginePeak, row, row.engine, true);
        FormatPeak(gmimePeak, sizeof gmimePeak, row, row.gmime, row.hasGMime);
        printf("| %s | %.1f MB | %s | %s | %s | %s | %s |\n", row.name, row.megabytes, limit, engine, gmime, enginePeak,
               gmimePeak);
    }
    printf("\nMB = 10^6 bytes; best of up to %d runs, each engine in a fresh process. Peak memory:\n"
           "resident memory added while the job runs, the input itself not counted; × compares it\n"
           "with the input size. Bytes written (engine / GMime):",
           kMaxRuns);
    for (int i = 0; i < count; ++i)
        printf("%s %zu / %zu", i ? ";" : "", rows[i].engine.output, rows[i].gmime.output);
    printf(".\n");
}

void PrintTargets(const Row* rows, int count)
{
    bool allFaster = true;
    bool allCompared = true;
    bool peakWithin = true;
    bool peakKnown = true;
    for (int i = 0; i < count; ++i) {
        const Row& row = rows[i];
        if (!row.hasGMime || !row.gmime.ran || !row.engine.ran)
            allCompared = false;
        else if (Throughput(row, row.engine) <= Throughput(row, row.gmime))
            allFaster = false;
        if (!row.engine.ran || row.engine.peakKiB < 0)
            peakKnown = false;
        else if (row.engine.peakKiB * 1024.0 > 2.5 * row.megabytes * kMegabyte)
            peakWithin = false;
    }
    const Row& big = rows[0];
    printf("\nTargets:\n");
    printf("- faster than GMime on every input: %s\n", !allCompared ? "not measured (GMime missing or failed)"
                                                       : allFaster  ? "met"
                                                                    : "MISSED");
    printf("- at least 1 GB/s on the 100 MB message: %s (%.0f MB/s)\n",
           big.engine.ran && Throughput(big, big.engine) >= 1000 ? "met" : "MISSED",
           big.engine.ran ? Throughput(big, big.engine) : 0.0);
    printf("- peak memory no more than 2.5 times the message size: %s\n", !peakKnown   ? "not measured"
                                                                          : peakWithin ? "met"
                                                                                       : "MISSED");
}

} // namespace

int main()
{
#ifdef HAVE_GMIME
    const bool hasGMime = true;
#else
    const bool hasGMime = false;
#endif
    const char* names[] = {
        "one 100 MB base64 attachment",
        "20,000 small attachments",
        "an attachment on one 20 MB line",
        "folder of 10,000 small messages",
    };
    const int caseCount = 4;
    Row rows[caseCount];
    for (int i = 0; i < caseCount; ++i) {
        Case input;
        bool made = false;
        switch (i) {
        case 0:
            made = MakeSingleMessageCase(&input, names[i], 1, kBigAttachmentBytes, 76);
            break;
        case 1:
            made = MakeSingleMessageCase(&input, names[i], kSmallAttachmentCount, 900, 76);
            break;
        case 2:
            made = MakeSingleMessageCase(&input, names[i], 1, kLongLineBytes, kLongLineBytes);
            break;
        default:
            made = MakeFolderCase(&input, names[i]);
            break;
        }
        if (!made) {
            fprintf(stderr, "mime_bench: not enough memory to generate \"%s\"\n", names[i]);
            FreeCase(&input);
            return 1;
        }
        fprintf(stderr, "mime_bench: %s (%.1f MB)...\n", names[i], input.messageBytes / kMegabyte);
        Row& row = rows[i];
        row.name = names[i];
        row.megabytes = input.messageBytes / kMegabyte;
        row.hasGMime = hasGMime;
        row.limit = MeasureInChild(input, CountLines, false);
        row.engine = MeasureInChild(input, StripWithEngine, false);
#ifdef HAVE_GMIME
        row.gmime = MeasureInChild(input, StripWithGMime, true);
#else
        row.gmime = Measurement{false, 0, -1, 0};
#endif
        FreeCase(&input);
    }
    PrintTable(rows, caseCount);
    PrintTargets(rows, caseCount);
    return 0;
}
