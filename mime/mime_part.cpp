#include "mime/mime_part.h"

#include <cstring>

#include "mime/allocator.h"
#include "mime/body_decoder.h"
#include "mime/line_reader.h"
#include "mime/source_window.h"

std::atomic<std::int32_t> MimePart::partCount{-1};

namespace {

// A line of any length fits: the buffer grows as a header field needs.
constexpr std::size_t kInitialLineBufferSize = 65536 + 3;

constexpr char kContentTypeField[] = "Content-Type:";
constexpr std::size_t kContentTypeFieldLength = sizeof kContentTypeField - 1;

bool IsFoldingBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Whether an epilogue line, as stored (content and CR LF), holds the enclosing
// boundary from its third character on. That boundary has matched a delimiter
// line, so it holds no CR or LF and can only match within the content.
bool EndsEpilogue(const char* content, std::size_t contentLength, const char* parentBoundary, std::size_t parentLength)
{
    return parentLength == 0 ||
           (contentLength >= 2 + parentLength && std::memcmp(content + 2, parentBoundary, parentLength) == 0);
}

// Blanks and tabs after a delimiter (transport padding) leave it a delimiter.
bool IsTransportPadding(const char* text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (!IsFoldingBlank(text[i]))
            return false;
    }
    return true;
}

bool StartsWithDashes(const char* line, std::size_t contentLength)
{
    return contentLength >= 2 && line[0] == '-' && line[1] == '-';
}

// A line that begins with "--" and the enclosing part's boundary.
bool IsParentDelimiter(const char* line, std::size_t contentLength, const char* parentBoundary,
                       std::size_t parentLength)
{
    return parentBoundary && StartsWithDashes(line, contentLength) && contentLength - 2 >= parentLength &&
           std::memcmp(line + 2, parentBoundary, parentLength) == 0;
}

bool HoldsColon(const char* line, std::size_t contentLength)
{
    return std::memchr(line, ':', contentLength) != nullptr;
}

// A Content-Type field whose text (without its line break and trailing
// blanks) ends in ';' expects a parameter: a following line without a colon,
// written without its indentation, is taken as that parameter.
bool AwaitsParameter(const char* field, std::size_t length)
{
    std::size_t end = length;
    while (end > 0 && (field[end - 1] == '\r' || field[end - 1] == '\n' || IsFoldingBlank(field[end - 1])))
        --end;
    return end > 0 && field[end - 1] == ';' && StartsWithNoCase(field, length, kContentTypeField);
}

// The line at the window's position follows a Content-Type field that awaits
// a parameter: is it that parameter, written without indentation?
template <class Window>
bool IsUnindentedParameter(Window& window)
{
    LineView line;
    if (!window.NextLine(line, 3) || line.length == 0 || IsFoldingBlank(line.text[0]) ||
        StartsWithDashes(line.text, line.length) || HoldsColon(line.text, line.length))
        return false;
    // A parameter is stored with the field, so it may be held whole.
    return line.whole || (window.NextLine(line, kWholeLine) && !HoldsColon(line.text, line.length));
}

// The whole message in memory, NUL-terminated: it never refills, so every line
// it shows is whole.
class TextWindow {
public:
    explicit TextWindow(const char* text) : pos_(text) {}

    bool NextLine(LineView& line, std::size_t)
    {
        if (*pos_ == '\0')
            return false;
        line = LineView{pos_, LineContentLength(pos_), true};
        return true;
    }

    void Consume(const LineView& line) { pos_ = SkipLineBreak(line.text + line.length); }

    char First() const { return *pos_; }

    const char* Position() const { return pos_; }

private:
    const char* pos_;
};

// What a body line is to the part that reads it.
enum class LineKind {
    Text,
    OpensPart,   // a delimiter of the part's own boundary
    ClosesParts, // the part's own close delimiter
    Parent,      // a delimiter of the enclosing part: given back to it
    Undecided,   // shown in pieces, and only its rest can tell (padding so far)
};

// The line shows at least 4 bytes beyond the longer boundary when not whole,
// so that all but a line of padding is told from what is shown.
LineKind Classify(const LineView& line, const char* own, std::size_t ownLength, const char* parent,
                  std::size_t parentLength)
{
    if (!StartsWithDashes(line.text, line.length))
        return LineKind::Text;
    const char* rest = line.text + 2;
    const std::size_t restLength = line.length - 2;
    if (own && restLength >= ownLength && std::memcmp(rest, own, ownLength) == 0) {
        const char* after = rest + ownLength;
        const std::size_t afterLength = restLength - ownLength;
        if (IsTransportPadding(after, afterLength))
            return line.whole ? LineKind::OpensPart : LineKind::Undecided;
        if (afterLength >= 2 && after[0] == '-' && after[1] == '-' &&
            IsTransportPadding(after + 2, afterLength - 2))
            return line.whole ? LineKind::ClosesParts : LineKind::Undecided;
    }
    return IsParentDelimiter(line.text, line.length, parent, parentLength) ? LineKind::Parent : LineKind::Text;
}

const char* TextOf(const LineNode* line)
{
    return line ? line->text : nullptr;
}

void CopyToken(char* destination, const char* token, std::size_t length)
{
    if (length > MimePart::kTokenSize)
        length = MimePart::kTokenSize;
    std::memcpy(destination, token, length);
    destination[length] = '\0';
}

char* CopyText(const char* text)
{
    const std::size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(mime::Allocate(size));
    if (copy)
        std::memcpy(copy, text, size);
    return copy;
}

} // namespace

struct MimePart::LineBuffer {
    char* data;
    std::size_t capacity;

    // Reads one whole line into the buffer at offset, its line break made CR LF,
    // taking it from the window in pieces if need be. length receives the
    // stored length, 0 when the message is used up.
    template <class Window>
    bool ReadWholeLine(Window& window, std::size_t offset, std::size_t& length)
    {
        LineView line;
        if (!window.NextLine(line, 1)) {
            length = 0;
            return true;
        }
        std::size_t end = offset;
        for (;;) {
            // Room for the piece, CR LF and the terminator.
            while (capacity - end < line.length + 3) {
                if (!Grow())
                    return false;
            }
            std::memcpy(data + end, line.text, line.length);
            end += line.length;
            window.Consume(line);
            if (line.whole || !window.NextLine(line, 1))
                break;
        }
        data[end++] = '\r';
        data[end++] = '\n';
        data[end] = '\0';
        length = end - offset;
        return true;
    }

    bool Grow()
    {
        if (capacity > SIZE_MAX / 2)
            return false;
        auto* grown = static_cast<char*>(mime::Reallocate(data, capacity * 2));
        if (!grown)
            return false;
        data = grown;
        capacity *= 2;
        return true;
    }
};

struct MimePart::ParseContext {
    LineBuffer buffer;
    BodyLines bodyLines;
    BodySizes bodySizes;
    DroppedParts* dropped;
    std::size_t partsBegun;
};

namespace {

// Tells, as the children of a multipart complete one after another, which of
// them SelectTextPart can never take: it takes the first child that is or
// holds a text candidate not marked as an attachment, failing that the first
// that is or holds any, failing that the first child. Those three are never
// dropped, so every "is or holds" answer and the choice at each level stay.
class TextChoice {
public:
    bool NeverTakes(const MimePart& child, bool isFirst)
    {
        const bool own = child.IsOrHoldsCandidate(Candidates::NotAttachments);
        const bool any = own || child.IsOrHoldsCandidate(Candidates::Any);
        const bool never = !isFirst && (ownSeen_ || (!own && (anySeen_ || !any)));
        ownSeen_ = ownSeen_ || own;
        anySeen_ = anySeen_ || any;
        return never;
    }

private:
    bool ownSeen_ = false;
    bool anySeen_ = false;
};

} // namespace

MimePart::MimePart()
{
    type[0] = '\0';
    subtype[0] = '\0';
}

MimePart::~MimePart()
{
    if (firstChild)
        FreeChain(firstChild);
    partCount.store(-1, std::memory_order_relaxed);
    mime::Release(boundary);
    epilogue.Clear();
    body.Clear();
    headers.Clear();
}

void* MimePart::operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return mime::Allocate(size);
}

void MimePart::operator delete(void* block) noexcept
{
    mime::Release(block);
}

void MimePart::FreeChain(MimePart* part)
{
    // Reversing the chain lets the last sibling go first without a recursion
    // per sibling, which a message with many parts would pay for in stack.
    MimePart* reversed = nullptr;
    while (part) {
        MimePart* following = part->next;
        part->next = reversed;
        reversed = part;
        part = following;
    }
    while (reversed) {
        MimePart* preceding = reversed->next;
        delete reversed;
        reversed = preceding;
    }
}

StripStatus MimePart::Parse(const char*& cursor, const char* parentBoundary, BodyLines bodyLines,
                            BodySizes bodySizes)
{
    TextWindow window(cursor);
    const StripStatus status = ParseWith(window, parentBoundary, bodyLines, bodySizes, nullptr);
    cursor = window.Position();
    return status;
}

StripStatus MimePart::Parse(SourceWindow& window, BodyLines bodyLines, BodySizes bodySizes, DroppedParts* dropped)
{
    return ParseWith(window, nullptr, bodyLines, bodySizes, dropped);
}

template <class Window>
StripStatus MimePart::ParseWith(Window& window, const char* parentBoundary, BodyLines bodyLines,
                                BodySizes bodySizes, DroppedParts* dropped)
{
    ParseContext context{{static_cast<char*>(mime::Allocate(kInitialLineBufferSize)), kInitialLineBufferSize},
                         bodyLines, bodySizes, dropped, 1};
    if (!context.buffer.data)
        return StripStatus::OutOfMemory;
    ordinal = 0;
    const StripStatus status = ParseLevel(window, parentBoundary, 0, true, context);
    ordinalEnd = context.partsBegun;
    mime::Release(context.buffer.data);
    return status;
}

template <class Window>
StripStatus MimePart::ParseLevel(Window& window, const char* parentBoundary, int level, bool isFirstChild,
                                 ParseContext& context)
{
    LineBuffer& buffer = context.buffer;
    headers.Clear();
    body.Clear();
    epilogue.Clear();
    contentTypeLine = nullptr;
    headerEndedByText = false;
    decodedSize = 0;

    const std::size_t parentLength = parentBoundary ? std::strlen(parentBoundary) : 0;
    // The first body line when the header ends at a line that is no field:
    // it is in the line buffer, already read.
    std::size_t pendingLength = 0;

    // Header mode, up to the first blank line. A delimiter line of the
    // enclosing part here is a header line too.
    for (;;) {
        std::size_t length;
        if (!buffer.ReadWholeLine(window, 0, length))
            return StripStatus::OutOfMemory;
        if (length == 0)
            return StripStatus::Ok;
        if (length == 2) {
            if (!headers.Append(buffer.data, length))
                return StripStatus::OutOfMemory;
            break;
        }
        // A line that is no field ends the header where mail readers end it:
        // it is the first body line. The message's own header does so only
        // once it has declared its boundary, so that a stray line among its
        // fields never hides the rest of them.
        if ((level > 0 || boundary) && !HoldsColon(buffer.data, length - 2) &&
            !IsParentDelimiter(buffer.data, length - 2, parentBoundary, parentLength)) {
            headerEndedByText = true;
            pendingLength = length - 2;
            break;
        }
        for (;;) {
            while (IsFoldingBlank(window.First())) {
                std::size_t continuationLength;
                if (!buffer.ReadWholeLine(window, length, continuationLength))
                    return StripStatus::OutOfMemory;
                length += continuationLength;
            }
            if (!AwaitsParameter(buffer.data, length) || !IsUnindentedParameter(window))
                break;
            std::size_t parameterLength;
            if (!buffer.ReadWholeLine(window, length, parameterLength))
                return StripStatus::OutOfMemory;
            length += parameterLength;
        }
        LineNode* field = headers.Append(buffer.data, length);
        if (!field)
            return StripStatus::OutOfMemory;
        if (StartsWithNoCase(field->text, length, kContentTypeField)) {
            contentTypeLine = field;
            if (!ReadContentType(buffer.data))
                return StripStatus::OutOfMemory;
        }
    }

    // Body mode. Lines go straight from the window into their nodes; a line of
    // a body that is not kept is never held whole, only scanned.
    const bool keepsBody = context.bodyLines == BodyLines::All || isFirstChild || boundary || IsTextCandidate();
    const std::size_t ownLength = boundary ? std::strlen(boundary) : 0;
    const std::size_t shown = keepsBody ? kWholeLine : 4 + (ownLength > parentLength ? ownLength : parentLength);
    const bool entriesAreDigest = boundary && NamesMediaType("multipart", "digest");
    const bool measures = context.bodySizes == BodySizes::Measure;
    BodyDecoder measure(measures ? EncodingOfField(TextOf(FindField("Content-Transfer-Encoding:")))
                                 : TransferEncoding::Identity);
    MimePart* lastChild = nullptr;
    MimePart* beforeLastChild = nullptr;
    TextChoice choice;
    bool pending = headerEndedByText;
    for (;;) {
        LineView line;
        if (pending) {
            line = LineView{buffer.data, pendingLength, true};
        } else {
            // Most lines: text, shown whole. (A copy of its own keeps the line in registers.)
            LineView text;
            if (!window.NextLine(text, shown))
                return StripStatus::Ok;
            while (text.whole && !StartsWithDashes(text.text, text.length)) {
                if (keepsBody && !body.AppendLine(text.text, text.length))
                    return StripStatus::OutOfMemory;
                if (measures)
                    decodedSize += measure.MeasureLine(text.text, text.length);
                window.Consume(text);
                if (!window.NextLine(text, shown))
                    return StripStatus::Ok;
            }
            line = text;
        }
        LineKind kind = StartsWithDashes(line.text, line.length)
                            ? Classify(line, boundary, ownLength, parentBoundary, parentLength)
                            : LineKind::Text;
        if (kind == LineKind::Undecided) {
            // A delimiter followed by more padding than the window holds.
            if (!window.NextLine(line, kWholeLine))
                return StripStatus::Ok;
            kind = Classify(line, boundary, ownLength, parentBoundary, parentLength);
        }
        if (kind == LineKind::Parent)
            return StripStatus::Ok; // the line is left for the enclosing part
        if (kind != LineKind::Text) {
            if (!pending)
                window.Consume(line);
            pending = false;
            if (kind == LineKind::ClosesParts)
                return parentBoundary ? ReadEpilogue(window, parentBoundary, parentLength) : StripStatus::Ok;
            if (level == kMaxNestingDepth)
                return StripStatus::TooDeep;
            auto* child = new (std::nothrow) MimePart;
            if (!child)
                return StripStatus::OutOfMemory;
            (lastChild ? lastChild->next : firstChild) = child;
            beforeLastChild = lastChild;
            lastChild = child;
            child->digestEntry = entriesAreDigest;
            child->ordinal = context.partsBegun++;
            const StripStatus status = child->ParseLevel(window, boundary, level + 1, child == firstChild, context);
            if (status != StripStatus::Ok)
                return status;
            partCount.fetch_add(1, std::memory_order_relaxed);
            child->ordinalEnd = context.partsBegun;
            if (context.dropped && choice.NeverTakes(*child, child == firstChild)) {
                if (!context.dropped->Note(*child))
                    return StripStatus::OutOfMemory;
                // Never the first child: the sibling before it ends the chain again.
                beforeLastChild->next = nullptr;
                lastChild = beforeLastChild;
                delete child;
            }
            continue;
        }
        if (line.whole) {
            if (keepsBody && !body.AppendLine(line.text, line.length))
                return StripStatus::OutOfMemory;
            if (measures)
                decodedSize += measure.MeasureLine(line.text, line.length);
            if (!pending)
                window.Consume(line);
            pending = false;
            continue;
        }
        // A line longer than the window, in a body that is not kept: measured
        // piece by piece as it passes.
        bool starts = true;
        for (;;) {
            if (measures)
                decodedSize += measure.MeasurePiece(line.text, line.length, starts, line.whole);
            starts = false;
            window.Consume(line);
            if (line.whole)
                break;
            if (!window.NextLine(line, 1)) {
                if (measures)
                    decodedSize += measure.MeasurePiece(nullptr, 0, false, true);
                break;
            }
        }
    }
}

template <class Window>
StripStatus MimePart::ReadEpilogue(Window& window, const char* parentBoundary, std::size_t parentLength)
{
    // Epilogue lines are stored, so they are shown whole.
    for (;;) {
        LineView line;
        if (!window.NextLine(line, kWholeLine))
            return StripStatus::Ok;
        if (EndsEpilogue(line.text, line.length, parentBoundary, parentLength))
            return StripStatus::Ok;
        window.Consume(line);
        if (!epilogue.AppendLine(line.text, line.length))
            return StripStatus::OutOfMemory;
    }
}

// Takes apart a Content-Type field (a working copy, cut in place): type,
// subtype, and the last "boundary" parameter, which becomes the part's boundary.
bool MimePart::ReadContentType(char* field)
{
    char* at = field + kContentTypeFieldLength;
    at += std::strspn(at, "/ \t");
    const char* typeToken = at;
    const std::size_t typeLength = std::strcspn(at, "/ \t");
    at += typeLength;
    if (typeLength == 0 || *at == '\0')
        return true;
    ++at;
    at += std::strspn(at, "; \r\n\t");
    const char* subtypeToken = at;
    const std::size_t subtypeLength = std::strcspn(at, "; \r\n\t");
    at += subtypeLength;
    if (subtypeLength == 0)
        return true;
    CopyToken(type, typeToken, typeLength);
    CopyToken(subtype, subtypeToken, subtypeLength);

    char* position = *at != '\0' ? at + 1 : at;
    for (;;) {
        char* name;
        char* value;
        char* following = NextParam(position, name, value);
        if (!following)
            return true;
        if (std::strlen(name) == 8 && EqualsNoCase(name, "boundary", 8)) {
            char* copy = CopyText(value);
            if (!copy)
                return false;
            mime::Release(boundary);
            boundary = copy;
        }
        if (*following == '\0')
            return true;
        position = following;
    }
}
