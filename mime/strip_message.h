#pragma once
// The one sequence that turns a stored message into its text-only form:
// parse, the multipart test, reduction to the text part, serialization.
// The plug-in's strip operation and the clipsum command both run it, so the
// order of the steps lives here only.
//
// Usage:
//   MessageStripper s;
//   switch (s.Parse(source)) { ... }       // Ok: multipart, may be reduced
//                                          // (source: the whole text, or a ByteSource read in pieces)
//   if (keepHtml && (s.HeaderContains("Content-Type: text/html") || s.HasHtmlPart())) leave it;
//   if (s.Reduce() == StripStatus::Ok) use s.NewSource(), s.NewLength();
//
// Every decision is taken from the stripper's own tree, so several strippers
// may be alive at once; the process-wide part counter is only kept up.

#include <cstddef>
#include <cstdint>

#include "mime/text_arena.h"

class LineList;

enum class StripStatus {
    Ok,           // Parse: at least one body part was found; Reduce: NewSource() holds the result
    NotMultipart, // the parse found no body part: the message is to be left alone
    TooDeep,      // nested deeper than kMaxNestingDepth: left alone
    OutOfMemory,  // an allocation failed: everything built is freed, left alone
    Encrypted,    // a part is encrypted: its text cannot be told from the rest, left alone
    ReadFailed,   // the ByteSource reported an error: everything built is freed, left alone
};

// A message read in pieces, for a caller that does not hold it whole (a file).
// The parse asks for more bytes as it goes and keeps only a window of them,
// the header lines and the body lines it may keep.
class ByteSource {
public:
    // Copies the next bytes of the message into buffer, at most capacity
    // (never 0); got receives how many, 0 at the end of the message. False on
    // an error, which ends the parse with ReadFailed. A NUL byte ends the
    // message, as it ends the text given whole.
    virtual bool Read(char* buffer, std::size_t capacity, std::size_t& got) = 0;

protected:
    ~ByteSource() = default;
};

// The bytes a parse in pieces reads at a time. It grows only for a line that is
// stored (a header field, a body line that may be kept) and longer than that.
constexpr std::size_t kWindowBytes = 256 * 1024;

// Levels of nesting below the root that a message may have (the root is level 0).
constexpr int kMaxNestingDepth = 64;

class MimePart;

// A part that the reduction drops, as its own header describes it.
struct RemovedPart {
    const char* mediaType;        // "type/subtype" in lower case; "" when the part has no usable Content-Type
    const char* contentTypeField; // the whole Content-Type field as stored (folded lines, CR LF), or null
    const char* dispositionField; // the whole Content-Disposition field as stored, or null
    const char* encodingField;    // the whole Content-Transfer-Encoding field as stored, or null
    std::uint64_t decodedSize;    // bytes its body decodes to (not with PartListing::Removed)
    const LineList* body;         // its body lines, between Parse and Reduce with PartListing::RemovedWithBodies; else null
    const char* savedAs;          // the file it was saved as (SetSavedAs), or null
};

// Whether the stripper lists the parts the reduction drops (from Parse on),
// and keeps their bodies until Reduce. Listing costs a copy of their Content-
// fields and a pass over their bodies to measure them, which the plug-in does
// not pay unless it asks; keeping the bodies costs their memory.
enum class PartListing {
    None,
    Removed,           // type and fields; decodedSize stays 0
    RemovedWithSizes,  // and each body measured as it decodes, for the note
    RemovedWithBodies, // and each body kept until Reduce, to be saved
};

// Whether Reduce writes a note of each dropped part into the message's header.
enum class RemovedNote { None, Fields };

// The name of the note's header field.
constexpr char kRemovedNoteField[] = "X-TlClipsum-Removed";

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

    // Parses the message that source hands out in pieces: the same result as
    // Parse of the whole text, byte for byte, without holding what is dropped.
    // ReadFailed when source reports an error. source is not used afterwards;
    // the notice caption is then a copy of what the parse left unread of its
    // last window.
    // windowBytes is the size the window starts with; tests make it small so
    // that every line is read in pieces.
    StripStatus Parse(ByteSource& source, std::size_t windowBytes = kWindowBytes);

    // After Parse answered NotMultipart: the caption for the notice, that is the
    // rest of the first "Subject:" header line (case-sensitive search, the last
    // header line left out), or the unread rest of the source when the header
    // holds at most one line. Null when there is no caption (default caption).
    const char* NoticeCaption() const;

    // True when the parsed header lines contain needle (case-sensitive).
    bool HeaderContains(const char* needle) const;

    // After Parse: the message's header lines as stored (CR LF line ends, the
    // blank line last), as much as fits outSize bytes with a NUL; their length.
    // Empty when the parse kept no tree (nested too deep, out of memory).
    std::size_t CopyHeader(char* out, std::size_t outSize) const;

    // After Parse answered Ok: whether a part of the tree is declared text/html.
    bool HasHtmlPart() const;

    // After Parse answered Ok: whether a part of the tree is an attachment, that
    // is marked as one or neither text, multipart nor a report's status part.
    bool HasAttachment() const;

    // After Parse answered Ok: reduces the tree to its text part and writes it
    // out. With RemovedNote::Fields (and a listing with sizes), one field per dropped part,
    // "X-TlClipsum-Removed: TYPE; name=...; size=N; saved=...", with the type
    // and the name parameters copied as the part's header writes them, goes
    // after the message's Content- fields; the body is not touched.
    StripStatus Reduce(RemovedNote note = RemovedNote::None);

    // After Reduce answered Ok: the new source, NUL-terminated, owned by the stripper.
    const char* NewSource() const;
    std::size_t NewLength() const;

    // After Parse answered Ok, for a stripper made with a PartListing other
    // than None (none otherwise): the parts the reduction drops, in the order of
    // the message (every part without parts of its own but the one kept).
    std::size_t RemovedPartCount() const;
    const RemovedPart& RemovedPartAt(std::size_t index) const;

    // Before Reduce: records the file a dropped part was saved as, for the
    // note. False when out of memory.
    bool SetSavedAs(std::size_t index, const char* fileName);

private:
    class Dropped;
    struct DroppedLeaf;

    void Discard();
    void ReleaseDroppedLeaves();
    bool RecordRemovedParts();
    bool ListLeaves(const MimePart& part, const MimePart* kept, bool towardKept);
    void ListDropped(std::size_t from, std::size_t to);
    // The multipart, encryption and listing steps after a parse that gave parsed.
    StripStatus Judge(StripStatus parsed);

    MimePart* root_;
    const char* cursor_;
    char* restCopy_; // the notice caption of a parse in pieces
    char* newSource_;
    std::size_t newLength_;
    PartListing listing_;
    RemovedPart* removed_;
    std::size_t removedCount_;
    TextArena listedTexts_; // the texts the records point to
    StripStatus parseStatus_;
    // What a parse in pieces noted of the parts it freed: with a listing, the
    // texts of each leaf (until they are listed), and whether any of them was
    // HTML, an attachment or encrypted.
    DroppedLeaf* droppedLeaves_;
    std::size_t droppedCount_;
    std::size_t droppedCapacity_;
    bool droppedHtml_;
    bool droppedAttachment_;
    bool droppedEncrypted_;
};
