#include "mime/strip_message.h"

#include <cstring>

#include "mime/allocator.h"
#include "mime/mime_part.h"

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
    return part.NamesMediaType("multipart", "encrypted") || part.NamesMediaType("application", "pkcs7-mime") ||
           part.NamesMediaType("application", "x-pkcs7-mime");
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

} // namespace

MessageStripper::MessageStripper()
    : root_(nullptr), cursor_(nullptr), newSource_(nullptr), newLength_(0), parseStatus_(StripStatus::NotMultipart)
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
    parseStatus_ = root_->Parse(cursor_, nullptr, BodyLines::ForReduction);
    if (parseStatus_ != StripStatus::Ok) {
        Discard();
        return parseStatus_;
    }
    if (!root_->firstChild)
        parseStatus_ = StripStatus::NotMultipart;
    else if (AnyPart(*root_, IsEncrypted))
        parseStatus_ = StripStatus::Encrypted;
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

bool MessageStripper::HasHtmlPart() const
{
    return root_ && AnyPart(*root_, [](const MimePart& part) { return part.NamesMediaType("text", "html"); });
}

bool MessageStripper::HasAttachment() const
{
    if (!root_)
        return false;
    for (const MimePart* child = root_->firstChild; child; child = child->next) {
        if (AnyPart(*child, IsAttachment))
            return true;
    }
    return false;
}

StripStatus MessageStripper::Reduce()
{
    if (parseStatus_ != StripStatus::Ok || newSource_)
        return parseStatus_;
    if (!root_->StripToText()) {
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
