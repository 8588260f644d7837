#include "mime/strip_message.h"

#include <algorithm>
#include <cstring>

#include "mime/allocator.h"
#include "mime/line_reader.h"
#include "mime/mime_part.h"
#include "mime/source_window.h"
#include "mime/removed_note.h"

namespace {

// Whether part or a part below it satisfies test. Nesting is bounded by the
// parser, so the recursion is too.
template <typename Test>
bool AnyPart(const MimePart& part, Test test)
{
    if (test(part))
        return true;
    for (const MimePart* child = part.firstChild; child; child = child->next) {
        if (AnyPart(*child, test))
            return true;
    }
    return false;
}

bool IsEncrypted(const MimePart& part)
{
    return part.NamesMediaType("application", "pkcs7-mime") || part.NamesMediaType("application", "x-pkcs7-mime") ||
           part.NamesMediaType("multipart", "encrypted");
}

// The machine-readable part of a delivery or read report belongs to its text.
bool IsReportStatus(const MimePart& part)
{
    return part.NamesMediaType("message", "delivery-status") ||
           part.NamesMediaType("message", "global-delivery-status") ||
           part.NamesMediaType("message", "disposition-notification");
}

bool IsAttachment(const MimePart& part)
{
    if (part.IsMarkedAttachment())
        return true;
    if (!part.contentTypeLine)
        return part.digestEntry;
    return !(part.NamesMediaType("text", nullptr) || part.NamesMediaType("multipart", nullptr) || IsReportStatus(part));
}

std::size_t CountLeaves(const MimePart& part)
{
    if (!part.firstChild)
        return 1;
    std::size_t count = 0;
    for (const MimePart* child = part.firstChild; child; child = child->next)
        count += CountLeaves(*child);
    return count;
}

bool IsHtml(const MimePart& part)
{
    return part.NamesMediaType("text", "html");
}

std::size_t FieldLength(const LineNode* field)
{
    return field ? static_cast<std::size_t>(field->length) : 0;
}

char* CopyField(const LineNode* field, char* to)
{
    const std::size_t length = FieldLength(field);
    if (length > 0)
        std::memcpy(to, field->text, length);
    to[length] = '\0';
    return to + length + 1;
}

// What the listing keeps of a dropped part, carved out of texts: "type/subtype",
// the Content-Type, -Disposition and -Transfer-Encoding fields ("" for a missing
// one, as no field is empty), each with its NUL, then the decoded size. Null
// when out of memory.
char* DescribeTexts(const MimePart& part, TextArena& texts)
{
    const LineNode* disposition = part.FindField("Content-Disposition:");
    const LineNode* encoding = part.FindField("Content-Transfer-Encoding:");
    // "type/subtype" from the same tokens the rules read; the copies the
    // parser keeps are cut at 40 bytes.
    MimePart::MediaType named{};
    const bool typed = part.ReadMediaType(named);
    const std::size_t typeLength = typed ? named.typeLength + 1 + named.subtypeLength : 0;
    char* block = texts.Carve(typeLength + FieldLength(part.contentTypeLine) + FieldLength(disposition) +
                              FieldLength(encoding) + 4 + sizeof part.decodedSize);
    if (!block)
        return nullptr;
    if (typed) {
        std::memcpy(block, named.type, named.typeLength);
        block[named.typeLength] = '/';
        std::memcpy(block + named.typeLength + 1, named.subtype, named.subtypeLength);
        for (std::size_t i = 0; i < typeLength; ++i)
            block[i] = FoldAscii(block[i]);
    }
    block[typeLength] = '\0';
    char* rest = CopyField(encoding, CopyField(disposition, CopyField(part.contentTypeLine, block + typeLength + 1)));
    std::memcpy(rest, &part.decodedSize, sizeof part.decodedSize);
    return block;
}

// The record of the texts that DescribeTexts wrote.
RemovedPart RecordOf(const char* block)
{
    RemovedPart record{};
    const char* texts[4];
    for (const char*& text : texts) {
        text = block;
        block += std::strlen(block) + 1;
    }
    record.mediaType = texts[0];
    record.contentTypeField = *texts[1] ? texts[1] : nullptr;
    record.dispositionField = *texts[2] ? texts[2] : nullptr;
    record.encodingField = *texts[3] ? texts[3] : nullptr;
    std::memcpy(&record.decodedSize, block, sizeof record.decodedSize);
    return record;
}

// Bodies are kept only to be listed; sizes are measured only for a listing.
BodyLines BodyLinesFor(PartListing listing)
{
    return listing == PartListing::RemovedWithBodies ? BodyLines::All : BodyLines::ForReduction;
}

BodySizes BodySizesFor(PartListing listing)
{
    return listing == PartListing::None || listing == PartListing::Removed ? BodySizes::Skip : BodySizes::Measure;
}

} // namespace

// A leaf freed by the parse in pieces, as the listing will show it.
struct MessageStripper::DroppedLeaf {
    std::size_t ordinal;
    const char* texts; // from DescribeTexts; null once listed
};

// Takes the parts a parse in pieces frees: notes what the questions after the
// parse would have found in them, and, with a listing, describes their leaves.
class MessageStripper::Dropped final : public DroppedParts {
public:
    explicit Dropped(MessageStripper& stripper) : stripper_(stripper) {}

    bool Note(const MimePart& part) override
    {
        MessageStripper& s = stripper_;
        s.droppedHtml_ = s.droppedHtml_ || AnyPart(part, IsHtml);
        s.droppedAttachment_ = s.droppedAttachment_ || AnyPart(part, IsAttachment);
        s.droppedEncrypted_ = s.droppedEncrypted_ || AnyPart(part, IsEncrypted);
        return NoteLeaves(part);
    }

private:
    // Parts freed inside this one before come earlier in the array: the
    // listing sorts the leaves by ordinal. Nesting is bounded by the parser,
    // so the recursion is too.
    bool NoteLeaves(const MimePart& part)
    {
        for (const MimePart* child = part.firstChild; child; child = child->next) {
            if (!NoteLeaves(*child))
                return false;
        }
        MessageStripper& s = stripper_;
        if (part.firstChild || s.listing_ == PartListing::None)
            return true;
        if (s.droppedCount_ == s.droppedCapacity_) {
            const std::size_t capacity = s.droppedCapacity_ ? s.droppedCapacity_ * 2 : 64;
            if (capacity > SIZE_MAX / sizeof(DroppedLeaf))
                return false;
            auto* grown =
                static_cast<DroppedLeaf*>(mime::Reallocate(s.droppedLeaves_, capacity * sizeof(DroppedLeaf)));
            if (!grown)
                return false;
            s.droppedLeaves_ = grown;
            s.droppedCapacity_ = capacity;
        }
        char* texts = DescribeTexts(part, s.listedTexts_);
        if (!texts)
            return false;
        s.droppedLeaves_[s.droppedCount_++] = DroppedLeaf{part.ordinal, texts};
        return true;
    }

    MessageStripper& stripper_;
};

MessageStripper::MessageStripper(PartListing listing)
    : root_(nullptr),
      cursor_(nullptr),
      restCopy_(nullptr),
      newSource_(nullptr),
      newLength_(0),
      listing_(listing),
      removed_(nullptr),
      removedCount_(0),
      parseStatus_(StripStatus::NotMultipart),
      droppedLeaves_(nullptr),
      droppedCount_(0),
      droppedCapacity_(0),
      droppedHtml_(false),
      droppedAttachment_(false),
      droppedEncrypted_(false)
{
}

MessageStripper::~MessageStripper()
{
    Discard();
}

void MessageStripper::Discard()
{
    delete root_;
    root_ = nullptr;
    mime::Release(newSource_);
    newSource_ = nullptr;
    newLength_ = 0;
    mime::Release(restCopy_);
    restCopy_ = nullptr;
    for (std::size_t i = 0; i < removedCount_; ++i)
        mime::Release(const_cast<char*>(removed_[i].savedAs));
    mime::Release(removed_);
    removed_ = nullptr;
    removedCount_ = 0;
    ReleaseDroppedLeaves();
    listedTexts_.Clear();
    droppedHtml_ = false;
    droppedAttachment_ = false;
    droppedEncrypted_ = false;
}

// Once listed (or not to be listed), the freed leaves are forgotten; the
// answers noted of them stay.
void MessageStripper::ReleaseDroppedLeaves()
{
    mime::Release(droppedLeaves_);
    droppedLeaves_ = nullptr;
    droppedCount_ = 0;
    droppedCapacity_ = 0;
}

// Taken before the reduction destroys the parts. The part kept is found as the
// reduction finds it, by the same choice at every level.
bool MessageStripper::RecordRemovedParts()
{
    MimePart* kept = root_;
    while (kept->firstChild)
        kept = kept->SelectTextPart();
    const std::size_t leaves = CountLeaves(*root_) + droppedCount_;
    if (leaves > SIZE_MAX / sizeof(RemovedPart))
        return false;
    std::sort(droppedLeaves_, droppedLeaves_ + droppedCount_,
              [](const DroppedLeaf& a, const DroppedLeaf& b) { return a.ordinal < b.ordinal; });
    removed_ = static_cast<RemovedPart*>(mime::Allocate(leaves * sizeof(RemovedPart)));
    return removed_ && ListLeaves(*root_, kept, true);
}

// Every part without parts of its own but kept, those the parse freed among
// them included, in the order of the message. At each level on the way to the
// kept part, SelectTextPart has moved the chosen child to the front; it is
// listed where it stood. Nesting is bounded by the parser, so the recursion is too.
bool MessageStripper::ListLeaves(const MimePart& part, const MimePart* kept, bool towardKept)
{
    if (!part.firstChild) {
        if (&part == kept)
            return true;
        const char* texts = DescribeTexts(part, listedTexts_);
        if (!texts)
            return false;
        RemovedPart& record = removed_[removedCount_++];
        record = RecordOf(texts);
        record.body = &part.body;
        return true;
    }
    const MimePart* chosen = towardKept ? part.firstChild : nullptr;
    std::size_t from = part.ordinal;
    for (const MimePart* child = chosen ? chosen->next : part.firstChild;; child = child->next) {
        if (chosen && (!child || chosen->ordinal < child->ordinal)) {
            ListDropped(from, chosen->ordinal);
            if (!ListLeaves(*chosen, kept, true))
                return false;
            from = chosen->ordinalEnd;
            chosen = nullptr;
        }
        if (!child)
            break;
        ListDropped(from, child->ordinal);
        if (!ListLeaves(*child, kept, false))
            return false;
        from = child->ordinalEnd;
    }
    ListDropped(from, part.ordinalEnd);
    return true;
}

// The freed leaves numbered from from to to (excluded) that are not listed yet
// (those inside the chosen child are) go to the listing, texts and all.
void MessageStripper::ListDropped(std::size_t from, std::size_t to)
{
    const DroppedLeaf* end = droppedLeaves_ + droppedCount_;
    DroppedLeaf* leaf = std::lower_bound(droppedLeaves_, droppedLeaves_ + droppedCount_, from,
                                         [](const DroppedLeaf& a, std::size_t ordinal) { return a.ordinal < ordinal; });
    for (; leaf != end && leaf->ordinal < to; ++leaf) {
        if (!leaf->texts)
            continue;
        removed_[removedCount_++] = RecordOf(leaf->texts);
        leaf->texts = nullptr;
    }
}

StripStatus MessageStripper::Parse(const char* source)
{
    Discard();
    cursor_ = source;
    parseStatus_ = StripStatus::NotMultipart;
    if (!source)
        return parseStatus_;
    root_ = new (std::nothrow) MimePart;
    if (!root_)
        return parseStatus_ = StripStatus::OutOfMemory;
    return Judge(root_->Parse(cursor_, nullptr, BodyLinesFor(listing_), BodySizesFor(listing_)));
}

StripStatus MessageStripper::Parse(ByteSource& source, std::size_t windowBytes)
{
    Discard();
    cursor_ = nullptr;
    SourceWindow window(source);
    if (!window.Start(windowBytes))
        return parseStatus_ = StripStatus::OutOfMemory;
    root_ = new (std::nothrow) MimePart;
    if (!root_)
        return parseStatus_ = StripStatus::OutOfMemory;
    // Bodies kept to be saved stay with their parts: nothing is freed then.
    Dropped dropped(*this);
    StripStatus status = root_->Parse(window, BodyLinesFor(listing_), BodySizesFor(listing_),
                                      listing_ == PartListing::RemovedWithBodies ? nullptr : &dropped);
    if (window.Failure() != StripStatus::Ok)
        status = window.Failure();
    if (status == StripStatus::Ok && !root_->firstChild && root_->headers.head == root_->headers.tail) {
        // The notice caption may be what the parse left unread.
        const std::size_t size = std::strlen(window.Rest()) + 1;
        restCopy_ = static_cast<char*>(mime::Allocate(size));
        if (!restCopy_)
            status = StripStatus::OutOfMemory;
        else
            std::memcpy(restCopy_, window.Rest(), size);
        cursor_ = restCopy_;
    }
    return Judge(status);
}

StripStatus MessageStripper::Judge(StripStatus parsed)
{
    parseStatus_ = parsed;
    if (parseStatus_ != StripStatus::Ok) {
        Discard();
        return parseStatus_;
    }
    if (!root_->firstChild)
        parseStatus_ = StripStatus::NotMultipart;
    else if (droppedEncrypted_ || AnyPart(*root_, IsEncrypted))
        parseStatus_ = StripStatus::Encrypted;
    else if (listing_ != PartListing::None && !RecordRemovedParts()) {
        Discard();
        parseStatus_ = StripStatus::OutOfMemory;
    }
    ReleaseDroppedLeaves();
    if (removedCount_ == 0)
        listedTexts_.Clear(); // noted of freed parts, but nothing is listed
    if (listing_ != PartListing::RemovedWithBodies) {
        for (std::size_t i = 0; i < removedCount_; ++i)
            removed_[i].body = nullptr;
    }
    return parseStatus_;
}

const char* MessageStripper::NoticeCaption() const
{
    if (parseStatus_ != StripStatus::NotMultipart || !root_)
        return nullptr;
    const LineList& headers = root_->headers;
    if (headers.head == headers.tail)
        return cursor_;
    for (const LineNode* line = headers.head; line != headers.tail; line = line->next) {
        const char* subject = std::strstr(line->text, "Subject:");
        if (subject)
            return subject + 8;
    }
    return nullptr;
}

bool MessageStripper::HeaderContains(const char* needle) const
{
    if (!root_ || !needle)
        return false;
    for (const LineNode* line = root_->headers.head; line; line = line->next) {
        if (std::strstr(line->text, needle))
            return true;
    }
    return false;
}

std::size_t MessageStripper::CopyHeader(char* out, std::size_t outSize) const
{
    if (outSize == 0)
        return 0;
    std::size_t length = 0;
    for (const LineNode* line = root_ ? root_->headers.head : nullptr; line; line = line->next) {
        const auto lineLength = static_cast<std::size_t>(line->length);
        if (lineLength >= outSize - length)
            break;
        std::memcpy(out + length, line->text, lineLength);
        length += lineLength;
    }
    out[length] = '\0';
    return length;
}

bool MessageStripper::HasHtmlPart() const
{
    return root_ && (droppedHtml_ || AnyPart(*root_, IsHtml));
}

bool MessageStripper::HasAttachment() const
{
    if (!root_)
        return false;
    if (droppedAttachment_)
        return true;
    for (const MimePart* child = root_->firstChild; child; child = child->next) {
        if (AnyPart(*child, IsAttachment))
            return true;
    }
    return false;
}

StripStatus MessageStripper::Reduce(RemovedNote note)
{
    if (parseStatus_ != StripStatus::Ok || newSource_)
        return parseStatus_;
    // The bodies go with their parts.
    for (std::size_t i = 0; i < removedCount_; ++i)
        removed_[i].body = nullptr;
    if (!root_->StripToText() ||
        (note == RemovedNote::Fields && !AppendRemovedNote(root_->headers, removed_, removedCount_))) {
        Discard();
        return parseStatus_ = StripStatus::OutOfMemory;
    }
    newSource_ = root_->Serialize(newLength_);
    if (!newSource_) {
        Discard();
        return parseStatus_ = StripStatus::OutOfMemory;
    }
    return StripStatus::Ok;
}

const char* MessageStripper::NewSource() const
{
    return newSource_;
}

std::size_t MessageStripper::NewLength() const
{
    return newLength_;
}

std::size_t MessageStripper::RemovedPartCount() const
{
    return removedCount_;
}

const RemovedPart& MessageStripper::RemovedPartAt(std::size_t index) const
{
    return removed_[index];
}

bool MessageStripper::SetSavedAs(std::size_t index, const char* fileName)
{
    if (index >= removedCount_ || !fileName)
        return false;
    const std::size_t size = std::strlen(fileName) + 1;
    auto* copy = static_cast<char*>(mime::Allocate(size));
    if (!copy)
        return false;
    std::memcpy(copy, fileName, size);
    mime::Release(const_cast<char*>(removed_[index].savedAs));
    removed_[index].savedAs = copy;
    return true;
}
