#include <algorithm>
#include <cstring>

#include "mime/allocator.h"
#include "mime/line_reader.h"
#include "mime/mime_part.h"

namespace {

bool TokenIs(const char* token, std::size_t length, const char* expected)
{
    return std::strlen(expected) == length && EqualsNoCase(token, expected, length);
}

bool IsContentField(const LineNode& line)
{
    return StartsWithNoCase(line.text, static_cast<std::size_t>(line.length), "Content-");
}

bool IsBlankLine(const LineNode& line)
{
    return line.length == 2 && line.text[0] == '\r' && line.text[1] == '\n';
}

struct FieldName {
    const char* text;
    std::size_t length;
};

// The name of a header field: the text before its colon, without trailing blanks.
// A line without a colon has no name (length 0).
FieldName NameOf(const LineNode& line)
{
    const auto* colon = static_cast<const char*>(std::memchr(line.text, ':', static_cast<std::size_t>(line.length)));
    std::size_t length = colon ? static_cast<std::size_t>(colon - line.text) : 0;
    while (length > 0 && (line.text[length - 1] == ' ' || line.text[length - 1] == '\t'))
        --length;
    return {line.text, length};
}

bool NameLess(const FieldName& a, const FieldName& b)
{
    const std::size_t common = std::min(a.length, b.length);
    for (std::size_t i = 0; i < common; ++i) {
        const char x = FoldAscii(a.text[i]);
        const char y = FoldAscii(b.text[i]);
        if (x != y)
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.length < b.length;
}

// The header line of a text part that is not carried up: the last one, which
// normally is the blank line that ends the header. A header that ended at a
// line of text has no such line: all its lines are fields.
const LineNode* UncarriedLine(const MimePart& textPart)
{
    return textPart.headerEndedByText ? nullptr : textPart.headers.tail;
}

// The names of the Content- fields that a text part carries up, sorted, so
// that the enclosing part's fields of the same names can be found quickly
// however many header lines either side has.
class CarriedNames {
public:
    ~CarriedNames() { mime::Release(names_); }

    // The text part's Content-Type line and its Content- fields go up.
    bool Collect(const MimePart& textPart)
    {
        const LineNode* uncarried = UncarriedLine(textPart);
        std::size_t capacity = 0;
        for (const LineNode* line = textPart.headers.head; line; line = line->next)
            ++capacity;
        names_ = static_cast<FieldName*>(mime::Allocate(capacity * sizeof(FieldName)));
        if (!names_)
            return false;
        for (const LineNode* line = textPart.headers.head; line; line = line->next) {
            if (line == textPart.contentTypeLine || (line != uncarried && IsContentField(*line))) {
                const FieldName name = NameOf(*line);
                if (name.length > 0)
                    names_[count_++] = name;
            }
        }
        std::sort(names_, names_ + count_, NameLess);
        return true;
    }

    bool Contains(const FieldName& name) const { return std::binary_search(names_, names_ + count_, name, NameLess); }

private:
    FieldName* names_ = nullptr;
    std::size_t count_ = 0;
};

} // namespace

bool MimePart::NamesPlainText() const
{
    return contentTypeLine && FindNoCase(contentTypeLine->text, "text/plain");
}

bool MimePart::ReadMediaType(MediaType& mediaType) const
{
    if (!contentTypeLine)
        return false;
    const char* at = contentTypeLine->text + std::strlen("Content-Type:");
    at += std::strspn(at, "/ \t");
    mediaType.type = at;
    mediaType.typeLength = std::strcspn(at, "/ \t");
    at += mediaType.typeLength;
    if (mediaType.typeLength == 0 || *at == '\0')
        return false;
    ++at;
    at += std::strspn(at, "; \r\n\t");
    mediaType.subtype = at;
    mediaType.subtypeLength = std::strcspn(at, "; \r\n\t");
    return mediaType.subtypeLength > 0;
}

bool MimePart::NamesMediaType(const char* mediaType, const char* mediaSubtype) const
{
    MediaType named;
    return ReadMediaType(named) && (!mediaSubtype || TokenIs(named.subtype, named.subtypeLength, mediaSubtype)) &&
           TokenIs(named.type, named.typeLength, mediaType);
}

bool MimePart::IsTextCandidate() const
{
    return NamesPlainText() || (!contentTypeLine && !firstChild && !digestEntry);
}

const LineNode* MimePart::FindField(const char* name) const
{
    for (const LineNode* line = headers.head; line; line = line->next) {
        if (StartsWithNoCase(line->text, static_cast<std::size_t>(line->length), name))
            return line;
    }
    return nullptr;
}

// Nesting is bounded by the parser, so the recursion is too.
bool MimePart::IsOrHoldsCandidate(Candidates accepted) const
{
    if (IsTextCandidate() && (accepted == Candidates::Any || !IsMarkedAttachment()))
        return true;
    for (const MimePart* child = firstChild; child; child = child->next) {
        if (child->IsOrHoldsCandidate(accepted))
            return true;
    }
    return false;
}

bool MimePart::IsMarkedAttachment() const
{
    static const char kDisposition[] = "Content-Disposition:";
    const LineNode* field = FindField(kDisposition);
    if (!field)
        return false;
    const char* value = field->text + sizeof kDisposition - 1;
    value += std::strspn(value, " \t\r\n");
    return StartsWithNoCase(value, std::strlen(value), "attachment");
}

MimePart* MimePart::SelectTextPart()
{
    MimePart* previous = nullptr;
    MimePart* chosen = nullptr;
    for (Candidates accepted : {Candidates::NotAttachments, Candidates::Any}) {
        previous = nullptr;
        chosen = firstChild;
        while (chosen && !chosen->IsOrHoldsCandidate(accepted)) {
            previous = chosen;
            chosen = chosen->next;
        }
        if (chosen)
            break;
    }
    if (!chosen)
        return firstChild;
    if (previous) {
        previous->next = chosen->next;
        chosen->next = firstChild;
        firstChild = chosen;
    }
    return chosen;
}

bool MimePart::StripToText()
{
    if (!firstChild) {
        if (next) {
            FreeChain(next);
            next = nullptr;
            return true;
        }
        body.Clear();
        LineNode* line = contentTypeLine;
        while (line && StartsWithNoCase(line->text, static_cast<std::size_t>(line->length), "Content")) {
            LineNode* following = line->next;
            FreeLineNode(headers.Unlink(line));
            line = following;
        }
        contentTypeLine = nullptr;
        return true;
    }

    MimePart* textPart = SelectTextPart();
    // A text part that has children is itself reduced to its own text part first.
    if ((textPart->next || textPart->firstChild) && !textPart->StripToText())
        return false;
    if (!CarryHeadersUp(*textPart) || !CarryBodyUp(*textPart))
        return false;
    FreeChain(firstChild);
    firstChild = nullptr;
    return true;
}

// The text part's Content-Type line and its other Content- fields replace the
// enclosing part's ones, in the text part's order, so that the message
// declares each of them once, as the text part does. A text part without a
// Content-Type line is text/plain by default: the enclosing part's multipart
// Content-Type line goes, so that the message says the same.
bool MimePart::CarryHeadersUp(const MimePart& textPart)
{
    CarriedNames carried;
    if (!carried.Collect(textPart))
        return false;
    for (LineNode* line = headers.head; line;) {
        LineNode* following = line->next;
        if (line != contentTypeLine && IsContentField(*line) && carried.Contains(NameOf(*line))) {
            FreeLineNode(headers.Unlink(line));
        }
        line = following;
    }

    const LineNode* textType = textPart.contentTypeLine;
    const LineNode* uncarried = UncarriedLine(textPart);
    const LineNode* before = textType ? textType : uncarried;
    for (const LineNode* line = textPart.headers.head; line != before; line = line->next) {
        if (IsContentField(*line) && !headers.InsertBefore(contentTypeLine, line->text))
            return false;
    }
    if (!textType) {
        FreeLineNode(headers.Unlink(contentTypeLine));
        contentTypeLine = nullptr;
        return true;
    }
    if (!ReplaceLineText(contentTypeLine, textType->text))
        return false;
    LineNode* insertionPoint = contentTypeLine->next;
    for (const LineNode* line = textType->next; line && line != uncarried; line = line->next) {
        if (!(insertionPoint ? headers.InsertBefore(insertionPoint, line->text) : headers.Append(line->text))) {
            return false;
        }
    }
    return true;
}

// The last body line is the line break before the next delimiter only when it
// is blank; a last line of text is kept.
bool MimePart::CarryBodyUp(const MimePart& textPart)
{
    if (!textPart.body.head)
        return true;
    body.Clear();
    for (const LineNode* line = textPart.body.head; line; line = line->next) {
        if (line == textPart.body.tail && IsBlankLine(*line))
            break;
        if (!body.Append(line->text, static_cast<std::size_t>(line->length)))
            return false;
    }
    return true;
}
