#pragma once
// One node of a message's MIME tree: header, body and epilogue lines, the
// part's own boundary, and its children. A part owns its lines, its boundary
// and all its children (firstChild and the siblings chained behind it).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

#include "mime/line_list.h"
#include "mime/strip_message.h"

class SourceWindow;

// What Parse keeps of the body lines: all of them, or only those that
// StripToText can carry up. A part that is not its parent's first child, has
// no boundary and whose Content-Type line does not name text/plain is never
// chosen as a text part and always destroyed by the reduction, so its body
// lines are only scanned for delimiters (an attachment then costs no memory).
enum class BodyLines { All, ForReduction };

// Whether Parse measures each part's body as it will decode (decodedSize).
enum class BodySizes { Skip, Measure };

// Which text candidates a search for the text part accepts: those not marked
// as attachments (the first choice), or any.
enum class Candidates { NotAttachments, Any };

class MimePart;

// Where a parse in pieces sends each part it frees as soon as the part is
// complete, because the reduction can never choose it: what is asked of the
// tree after the parse (the listing, HTML, attachments, encryption) is noted
// from the part first.
class DroppedParts {
public:
    // False when out of memory: the parse then ends with OutOfMemory.
    virtual bool Note(const MimePart& part) = 0;

protected:
    ~DroppedParts() = default;
};

class MimePart {
public:
    static constexpr std::size_t kTokenSize = 40;

    char type[kTokenSize + 1];
    char subtype[kTokenSize + 1];
    char* boundary = nullptr;
    LineList headers;
    LineNode* contentTypeLine = nullptr; // a node of headers, not owned
    LineList body;
    LineList epilogue;
    MimePart* next = nullptr;
    MimePart* firstChild = nullptr;
    // A body part of a multipart/digest: without a Content-Type line it is a
    // message/rfc822, not text.
    bool digestEntry = false;
    // The header ended, as mail readers end it, at a line that is not a field:
    // that line and those after it are body lines, and no blank line closes
    // the header.
    bool headerEndedByText = false;
    // Bytes the body decodes to, by its transfer encoding; measured only when
    // Parse is asked to (the line break before a delimiter is not counted).
    std::uint64_t decodedSize = 0;
    // The part's place in the order of the message: a parse numbers the parts
    // as it begins them, the root 0, and those numbered from ordinal up to
    // ordinalEnd (excluded) are this part and the parts inside it.
    std::size_t ordinal = 0;
    std::size_t ordinalEnd = 0;

    // -1 after every destruction of a part; each parse adds 1 per child part
    // it creates, so after a parse that began at -1 it is 0 or more exactly
    // when the part has a child. A parse in pieces that frees parts counts
    // only the children completed after the last part it freed.
    // Atomic, so that threads that each parse their own messages (clipsum -j)
    // may touch it; its meaning holds for one thread.
    static std::atomic<std::int32_t> partCount;

    MimePart();
    ~MimePart();
    MimePart(const MimePart&) = delete;
    MimePart& operator=(const MimePart&) = delete;

    // Parts live on the engine's allocator: null when it is out of memory.
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void* operator new(std::size_t size) = delete;
    static void operator delete(void* block) noexcept;

    // Destroys part and every sibling that follows it, the last one first.
    static void FreeChain(MimePart* part);

    // Reads the part from cursor (a NUL-terminated source, only read) and
    // advances it. parentBoundary is the enclosing part's boundary, null for
    // the root. Ok, TooDeep (children nested deeper than kMaxNestingDepth), or
    // OutOfMemory; on failure the part holds what was built so far.
    StripStatus Parse(const char*& cursor, const char* parentBoundary, BodyLines bodyLines = BodyLines::All,
                      BodySizes bodySizes = BodySizes::Skip);

    // The same parse over a message read in pieces; stops early, with Ok, when
    // the window fails (the window then names the failure). With dropped, each
    // complete part the reduction can never choose is noted there and freed.
    StripStatus Parse(SourceWindow& window, BodyLines bodyLines, BodySizes bodySizes, DroppedParts* dropped = nullptr);

    // The part and its subtree as message source, NUL-terminated, on the
    // engine's allocator (release with mime::Release); length receives its
    // length. Null when out of memory.
    char* Serialize(std::size_t& length) const;

    // True when the part's Content-Type line contains "text/plain" in any case.
    bool NamesPlainText() const;

    // The type and subtype tokens of the part's Content-Type line, cut out as
    // the parser cuts them; false when the line is missing or lacks either.
    struct MediaType {
        const char* type;
        std::size_t typeLength;
        const char* subtype;
        std::size_t subtypeLength;
    };
    bool ReadMediaType(MediaType& mediaType) const;

    // True when the part's Content-Type line names type/subtype, or type and
    // any subtype when mediaSubtype is null (ASCII case ignored).
    bool NamesMediaType(const char* mediaType, const char* mediaSubtype) const;

    // A part that may hold the person's text: its Content-Type line names
    // text/plain, or it has none (text/plain by default) and no children and
    // is not a digest entry.
    bool IsTextCandidate() const;

    // The part's own Content-Disposition says "attachment".
    bool IsMarkedAttachment() const;

    // The first header field named name (given with its colon, any case), or null.
    const LineNode* FindField(const char* name) const;

    // The part is, or holds at any depth, a text candidate that accepted takes.
    bool IsOrHoldsCandidate(Candidates accepted) const;

    // The first child that is or holds a text candidate not marked as an
    // attachment, moved to the front; failing that, the first child that is or
    // holds any text candidate, moved to the front; failing that, firstChild.
    MimePart* SelectTextPart();

    // Reduces the part in place to its text part and destroys the others.
    // False when out of memory; the tree is then still whole and may be destroyed.
    bool StripToText();

private:
    struct LineBuffer;
    struct ParseContext;

    template <class Window>
    StripStatus ParseWith(Window& window, const char* parentBoundary, BodyLines bodyLines, BodySizes bodySizes,
                          DroppedParts* dropped);
    template <class Window>
    StripStatus ParseLevel(Window& window, const char* parentBoundary, int level, bool isFirstChild,
                           ParseContext& context);
    bool ReadContentType(char* field);
    template <class Window>
    StripStatus ReadEpilogue(Window& window, const char* parentBoundary, std::size_t parentLength);
    bool CarryHeadersUp(const MimePart& textPart);
    bool CarryBodyUp(const MimePart& textPart);
};
