#include "mime/mime_part.h"

#include <cstring>

#include "mime/allocator.h"
#include "mime/body_decoder.h"
#include "mime/line_reader.h"

std::int32_t MimePart::partCount = -1;

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

bool IsUnindentedParameter(const char* line)
{
    const std::size_t contentLength = LineContentLength(line);
    return contentLength > 0 && !IsFoldingBlank(line[0]) && !HoldsColon(line, contentLength) &&
           !StartsWithDashes(line, contentLength);
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

    // Reads one whole line into the buffer at offset, its line break made CR LF.
    // length receives the stored length, 0 when the text is used up.
    bool ReadWholeLine(const char*& cursor, std::size_t offset, std::size_t& length)
    {
        std::size_t end = offset;
        for (;;) {
            if (capacity - end < 4 && !Grow())
                return false;
            // Two bytes stay spare: LF may become CR LF, a last line gains CR LF.
            const std::size_t room = capacity - end - 2;
            const std::int32_t max = room > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(room);
            const std::int32_t stored = ReadLine(cursor, data + end, max);
            end += static_cast<std::size_t>(stored);
            if (stored > 0 && data[end - 1] == '\n') {
                data[end - 1] = '\r';
                data[end++] = '\n';
                break;
            }
            if (*cursor == '\0') {
                if (end == offset) {
                    length = 0;
                    return true;
                }
                data[end++] = '\r';
                data[end++] = '\n';
                break;
            }
            if (!Grow())
                return false;
        }
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
};

MimePart::MimePart()
{
    type[0] = '\0';
    subtype[0] = '\0';
}

MimePart::~MimePart()
{
    if (firstChild)
        FreeChain(firstChild);
    partCount = -1;
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
    ParseContext context{{static_cast<char*>(mime::Allocate(kInitialLineBufferSize)), kInitialLineBufferSize},
                         bodyLines, bodySizes};
    if (!context.buffer.data)
        return StripStatus::OutOfMemory;
    const StripStatus status = ParseLevel(cursor, parentBoundary, 0, true, context);
    mime::Release(context.buffer.data);
    return status;
}

StripStatus MimePart::ParseLevel(const char*& cursor, const char* parentBoundary, int level, bool isFirstChild,
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

    // Header mode, up to the first blank line. A delimiter line of the
    // enclosing part here is a header line too.
    for (;;) {
        const char* lineStart = cursor;
        std::size_t length;
        if (!buffer.ReadWholeLine(cursor, 0, length))
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
            cursor = lineStart;
            headerEndedByText = true;
            break;
        }
        for (;;) {
            while (IsFoldingBlank(*cursor)) {
                std::size_t continuationLength;
                if (!buffer.ReadWholeLine(cursor, length, continuationLength))
                    return StripStatus::OutOfMemory;
                length += continuationLength;
            }
            if (!AwaitsParameter(buffer.data, length) || !IsUnindentedParameter(cursor))
                break;
            std::size_t parameterLength;
            if (!buffer.ReadWholeLine(cursor, length, parameterLength))
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

    // Body mode. Lines go straight from the source into their nodes.
    const bool keepsBody = context.bodyLines == BodyLines::All || isFirstChild || boundary || IsTextCandidate();
    const std::size_t ownLength = boundary ? std::strlen(boundary) : 0;
    const bool entriesAreDigest = boundary && NamesMediaType("multipart", "digest");
    const bool measures = context.bodySizes == BodySizes::Measure;
    BodyDecoder measure(measures ? EncodingOfField(TextOf(FindField("Content-Transfer-Encoding:")))
                                 : TransferEncoding::Identity);
    MimePart* lastChild = nullptr;
    for (;;) {
        const char* line = cursor;
        if (*line == '\0')
            return StripStatus::Ok;
        const std::size_t contentLength = LineContentLength(line);
        cursor = SkipLineBreak(line + contentLength);
        if (StartsWithDashes(line, contentLength)) {
            const char* rest = line + 2;
            const std::size_t restLength = contentLength - 2;
            const bool startsWithOwn =
                boundary && restLength >= ownLength && std::memcmp(rest, boundary, ownLength) == 0;
            if (startsWithOwn && IsTransportPadding(rest + ownLength, restLength - ownLength)) {
                if (level == kMaxNestingDepth)
                    return StripStatus::TooDeep;
                auto* child = new (std::nothrow) MimePart;
                if (!child)
                    return StripStatus::OutOfMemory;
                (lastChild ? lastChild->next : firstChild) = child;
                lastChild = child;
                child->digestEntry = entriesAreDigest;
                const StripStatus status = child->ParseLevel(cursor, boundary, level + 1, child == firstChild, context);
                if (status != StripStatus::Ok)
                    return status;
                ++partCount;
                continue;
            }
            if (startsWithOwn && restLength >= ownLength + 2 && rest[ownLength] == '-' && rest[ownLength + 1] == '-' &&
                IsTransportPadding(rest + ownLength + 2, restLength - ownLength - 2)) {
                return parentBoundary ? ReadEpilogue(cursor, parentBoundary, parentLength) : StripStatus::Ok;
            }
            if (IsParentDelimiter(line, contentLength, parentBoundary, parentLength)) {
                // The enclosing part's delimiter: give the line back to it.
                cursor = line;
                return StripStatus::Ok;
            }
        }
        if (keepsBody && !body.AppendLine(line, contentLength))
            return StripStatus::OutOfMemory;
        if (measures)
            decodedSize += measure.MeasureLine(line, contentLength);
    }
}

StripStatus MimePart::ReadEpilogue(const char*& cursor, const char* parentBoundary, std::size_t parentLength)
{
    for (;;) {
        const char* line = cursor;
        if (*line == '\0')
            return StripStatus::Ok;
        const std::size_t contentLength = LineContentLength(line);
        if (EndsEpilogue(line, contentLength, parentBoundary, parentLength))
            return StripStatus::Ok;
        cursor = SkipLineBreak(line + contentLength);
        if (!epilogue.AppendLine(line, contentLength))
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
