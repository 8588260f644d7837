#pragma once
// The one sequence that turns a stored message into its text-only form:
// parse, the multipart test, reduction to the text part, serialization.
// The plug-in's strip operation and the clipsum command both run it, so the
// order of the steps lives here only.
//
// Usage:
//   MessageStripper s;
//   switch (s.Parse(source)) { ... }       // Ok: multipart, may be reduced
//   if (keepHtml && (s.HeaderContains("Content-Type: text/html") || s.HasHtmlPart())) leave it;
//   if (s.Reduce() == StripStatus::Ok) use s.NewSource(), s.NewLength();
//
// Every decision is taken from the stripper's own tree, so several strippers
// may be alive at once; the process-wide part counter is only kept up.

#include <cstddef>

enum class StripStatus {
    Ok,           // Parse: at least one body part was found; Reduce: NewSource() holds the result
    NotMultipart, // the parse found no body part: the message is to be left alone
    TooDeep,      // nested deeper than kMaxNestingDepth: left alone
    OutOfMemory,  // an allocation failed: everything built is freed, left alone
    Encrypted,    // a part is encrypted: its text cannot be told from the rest, left alone
};

// Levels of nesting below the root that a message may have (the root is level 0).
constexpr int kMaxNestingDepth = 64;

class MimePart;

// A part that the reduction dropped, as its own header describes it.
struct RemovedPart {
    const char* mediaType;        // "type/subtype" in lower case; "" when the part has no usable Content-Type
    const char* contentTypeField; // the whole Content-Type field as stored (folded lines, CR LF), or null
    const char* dispositionField; // the whole Content-Disposition field as stored, or null
};

// Whether Reduce lists the parts it drops; listing costs a copy of their
// Content- fields, which the plug-in does not use.
enum class PartListing { None, Removed };

class MessageStripper {
public:
    explicit MessageStripper(PartListing listing = PartListing::None);
    ~MessageStripper();
    MessageStripper(const MessageStripper&) = delete;
    MessageStripper& operator=(const MessageStripper&) = delete;

    // Parses a NUL-terminated source. The source must stay alive and unchanged
    // until the stripper is destroyed (the notice caption may point into it).
    // A null source is answered NotMultipart, with no caption.
    StripStatus Parse(const char* source);

    // After Parse answered NotMultipart: the caption for the notice, that is the
    // rest of the first "Subject:" header line (case-sensitive search, the last
    // header line left out), or the unread rest of the source when the header
    // holds at most one line. Null when there is no caption (default caption).
    const char* NoticeCaption() const;

    // True when the parsed header lines contain needle (case-sensitive).
    bool HeaderContains(const char* needle) const;

    // After Parse answered Ok: whether a part of the tree is declared text/html.
    bool HasHtmlPart() const;

    // After Parse answered Ok: whether a part of the tree is an attachment, that
    // is marked as one or neither text, multipart nor a report's status part.
    bool HasAttachment() const;

    // After Parse answered Ok: reduces the tree to its text part and writes it out.
    StripStatus Reduce();

    // After Reduce answered Ok: the new source, NUL-terminated, owned by the stripper.
    const char* NewSource() const;
    std::size_t NewLength() const;

    // After Reduce answered Ok, for a stripper made with PartListing::Removed
    // (none otherwise): the parts it dropped, in the order of the message
    // (every part without parts of its own but the one kept).
    std::size_t RemovedPartCount() const;
    const RemovedPart& RemovedPartAt(std::size_t index) const;

private:
    void Discard();
    bool RecordRemovedParts();

    MimePart* root_;
    const char* cursor_;
    char* newSource_;
    std::size_t newLength_;
    PartListing listing_;
    RemovedPart* removed_;
    std::size_t removedCount_;
    StripStatus parseStatus_;
};
