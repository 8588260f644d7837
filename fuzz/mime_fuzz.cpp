// Feeds arbitrary bytes through the strip sequence as the plug-in runs it:
// parse, the HTML header test, reduction, serialization, destruction. Each
// input runs three times more: once with one of its allocations refused, so
// that the failure paths are fuzzed too, once through a tree that keeps every
// body line, whose reduction must come out the same, and once read in pieces
// (split where the input says, through a small window), which must give the
// same bytes, listing and answers as the whole text. Beyond the sanitizers' own
// checks it traps when anything stays allocated or an outcome contradicts itself.
// The same bytes also go through the header text decoder, as a subject and as
// a field with parameters, into buffers of every kind of size.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mime/allocator.h"
#include "mime/header_text.h"
#include "mime/mime_part.h"
#include "mime/strip_message.h"

namespace {

long allocationNumber = 0;
long failingAllocation = 0;

bool CountAllocation()
{
    return ++allocationNumber != failingAllocation;
}

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// Hands the input out in two reads split at split, then in reads of step bytes.
class PiecesSource : public ByteSource {
public:
    PiecesSource(const std::string& text, std::size_t split, std::size_t step) : text_(text), split_(split), step_(step) {}

    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override
    {
        std::size_t size = at_ < split_ ? split_ - at_ : step_;
        size = std::min({size, capacity, text_.size() - at_});
        std::memcpy(buffer, text_.data() + at_, size);
        at_ += size;
        got = size;
        return true;
    }

private:
    const std::string& text_;
    std::size_t split_;
    std::size_t step_;
    std::size_t at_ = 0;
};

struct Outcome {
    StripStatus status;
    std::string stripped;
    std::string caption;
    // Each dropped part as listed: type, fields and size, in the listing's order.
    std::vector<std::string> listing;
    bool html;
    bool attachment;
};

void Record(const MessageStripper& stripper, StripStatus parsed, Outcome& outcome)
{
    if (parsed == StripStatus::NotMultipart && stripper.NoticeCaption())
        outcome.caption = stripper.NoticeCaption();
    const auto text = [](const char* field) { return field ? std::string(field) : std::string("\x01"); };
    for (std::size_t i = 0; i < stripper.RemovedPartCount(); ++i) {
        const RemovedPart& part = stripper.RemovedPartAt(i);
        outcome.listing.push_back(text(part.mediaType) + '\0' + text(part.contentTypeField) + '\0' +
                                  text(part.dispositionField) + '\0' + text(part.encodingField) + '\0' +
                                  std::to_string(part.decodedSize));
    }
    outcome.html = parsed == StripStatus::Ok && stripper.HasHtmlPart();
    outcome.attachment = parsed == StripStatus::Ok && stripper.HasAttachment();
}

Outcome StripInPieces(const std::string& source, std::size_t split, std::size_t step, std::size_t window)
{
    PiecesSource pieces(source, split, step);
    MessageStripper stripper(PartListing::RemovedWithSizes);
    Outcome outcome{stripper.Parse(pieces, window), {}, {}, {}, false, false};
    Record(stripper, outcome.status, outcome);
    if (outcome.status == StripStatus::Ok && !stripper.HeaderContains("Content-Type: text/html")) {
        outcome.status = stripper.Reduce();
        if (outcome.status == StripStatus::Ok)
            outcome.stripped.assign(stripper.NewSource(), stripper.NewLength());
    }
    return outcome;
}

StripStatus StripOnce(const char* source, std::string& stripped, Outcome* outcome = nullptr)
{
    MessageStripper stripper(PartListing::RemovedWithSizes);
    StripStatus status = stripper.Parse(source);
    if (outcome)
        Record(stripper, status, *outcome);
    if (status == StripStatus::NotMultipart) {
        // Stored lines hold at most two bytes per source byte (LF becomes CR LF).
        const char* caption = stripper.NoticeCaption();
        if (caption)
            Check(std::strlen(caption) <= 2 * std::strlen(source) + 2);
    }
    const bool html = status == StripStatus::Ok && stripper.HasHtmlPart();
    const bool attachment = status == StripStatus::Ok && stripper.HasAttachment();
    if (status == StripStatus::Ok && !stripper.HeaderContains("Content-Type: text/html")) {
        status = stripper.Reduce();
        if (status == StripStatus::Ok) {
            Check(stripper.NewSource() != nullptr && std::strlen(stripper.NewSource()) == stripper.NewLength());
            stripped.assign(stripper.NewSource(), stripper.NewLength());
            // A dropped HTML part or attachment was seen before the reduction.
            for (std::size_t i = 0; i < stripper.RemovedPartCount(); ++i) {
                const RemovedPart& part = stripper.RemovedPartAt(i);
                Check(part.mediaType != nullptr);
                if (std::strcmp(part.mediaType, "text/html") == 0)
                    Check(html);
                if (part.dispositionField == nullptr && part.mediaType[0] != '\0' &&
                    std::strncmp(part.mediaType, "text/", 5) != 0 && std::strncmp(part.mediaType, "multipart/", 10) != 0 &&
                    std::strncmp(part.mediaType, "message/", 8) != 0)
                    Check(attachment);
            }
        }
    }
    if (status != StripStatus::Ok)
        Check(stripper.NewSource() == nullptr);
    if (outcome) {
        outcome->status = status;
        outcome->stripped = stripped;
    }
    return status;
}

std::string ReducedInFull(const char* source)
{
    MimePart root;
    const char* cursor = source;
    Check(root.Parse(cursor, nullptr) == StripStatus::Ok && root.StripToText());
    std::size_t length = 0;
    char* text = root.Serialize(length);
    Check(text != nullptr);
    std::string result(text, length);
    mime::Release(text);
    return result;
}

// Whatever the input, the text fits its buffer, ends in its NUL, and a
// shorter buffer gets the start of what a longer one gets.
void DecodeHeaderTexts(const std::uint8_t* data, std::size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    std::vector<char> buffer(1 << 16);
    char* large = buffer.data();
    const std::size_t largeSize = buffer.size();
    char small[7];
    for (TextTarget target : {TextTarget::Utf8, TextTarget::Cp932}) {
        const std::size_t whole = DecodeHeaderText(text, size, target, large, largeSize);
        Check(whole < largeSize && std::strlen(large) == whole);
        const std::size_t cut = DecodeHeaderText(text, size, target, small, sizeof small);
        Check(cut < sizeof small && cut <= whole && std::memcmp(small, large, cut) == 0);

        const bool found = DecodeParameter(text, size, "filename", target, large, largeSize);
        const std::size_t value = std::strlen(large);
        Check(value < largeSize && (found || value == 0));
        Check(DecodeParameter(text, size, "filename", target, small, sizeof small) == found);
        Check(std::strlen(small) <= value && std::memcmp(small, large, std::strlen(small)) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The host hands over NUL-terminated text: a NUL in the input ends it.
    const std::string source(reinterpret_cast<const char*>(data), size);
    DecodeHeaderTexts(data, size);
    std::string stripped;

    allocationNumber = 0;
    failingAllocation = 0;
    mime::SetAllocationGate(CountAllocation);
    Outcome whole{};
    StripOnce(source.c_str(), stripped, &whole);
    const long allocations = allocationNumber;
    Check(mime::LiveBlocks() == 0 && MimePart::partCount == -1);

    if (allocations > 0) {
        // The same input allocates in the same order, so the refusal is always met.
        allocationNumber = 0;
        failingAllocation = 1 + static_cast<long>(size % static_cast<std::size_t>(allocations));
        std::string unused;
        Check(StripOnce(source.c_str(), unused) == StripStatus::OutOfMemory);
        Check(mime::LiveBlocks() == 0 && MimePart::partCount == -1);
    }
    mime::SetAllocationGate(nullptr);

    // The window holds a prefix of what the whole text has left unread.
    const std::size_t split = size == 0 ? 0 : (data[0] * 131u + data[size - 1]) % (size + 1);
    const Outcome pieces = StripInPieces(source, split, 1 + size % 7, 2 + size % 61);
    Check(pieces.status == whole.status && pieces.stripped == whole.stripped && pieces.listing == whole.listing &&
          pieces.html == whole.html && pieces.attachment == whole.attachment);
    Check(whole.caption.compare(0, pieces.caption.size(), pieces.caption) == 0);
    Check(mime::LiveBlocks() == 0 && MimePart::partCount == -1);

    // A reduced message is never empty: it keeps its Content-Type line.
    if (!stripped.empty())
        Check(ReducedInFull(source.c_str()) == stripped);
    Check(mime::LiveBlocks() == 0 && MimePart::partCount == -1);
    return 0;
}
