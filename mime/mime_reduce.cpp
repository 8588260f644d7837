#include <algorithm>
#include <cstring>

#include "mime/allocator.h"
#include "mime/line_reader.h"
#include "mime/mime_part.h"

namespace {

bool HoldsPlainText(const MimePart& part)
{
    for (const MimePart* child = part.firstChild; child; child = child->next) {
        if (child->NamesPlainText() || HoldsPlainText(*child))
            return true;
    }
    return false;
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

// The names of the Content- fields that a text part carries up, sorted, so
// that the enclosing part's fields of the same names can be found quickly
// however many header lines either side has.
class CarriedNames {
public:
    ~CarriedNames() { mime::Release(names_); }

    // The text part's Content-Type line, and its Content- fields but the last
    // header line (normally the blank line), go up.
    bool Collect(const MimePart& textPart)
    {
        std::size_t capacity = 0;
        for (const LineNode* line = textPart.headers.head; line; line = line->next)
            ++capacity;
        names_ = static_cast<FieldName*>(mime::Allocate(capacity * sizeof(FieldName)));
        if (!names_)
            return false;
        for (const LineNode* line = textPart.headers.head; line; line = line->next) {
            if (line == textPart.contentTypeLine || (line != textPart.headers.tail && IsContentField(*line))) {
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

MimePart* MimePart::SelectTextPart()
{
    MimePart* previous = nullptr;
    MimePart* chosen = firstChild;
    while (chosen && !chosen->NamesPlainText()) {
        previous = chosen;
        chosen = chosen->next;
    }
    if (!chosen) {
        // No child is text/plain itself: take the first one that holds a text
        // part further down (an alternative behind an attachment, say).
        previous = nullptr;
        chosen = firstChild;
        while (chosen && !(chosen->firstChild && HoldsPlainText(*chosen))) {
            previous = chosen;
            chosen = chosen->next;
        }
        if (!chosen)
            return firstChild;
    }
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
// declares each of them once, as the text part does.
bool MimePart::CarryHeadersUp(const MimePart& textPart)
{
    const LineNode* textType = textPart.contentTypeLine;
    if (!textType)
        return ReplaceLineText(contentTypeLine, "Content-Type: \r\n");

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

    for (const LineNode* line = textPart.headers.head; line != textType; line = line->next) {
        if (IsContentField(*line) && !headers.InsertBefore(contentTypeLine, line->text))
            return false;
    }
    if (!ReplaceLineText(contentTypeLine, textType->text))
        return false;
    LineNode* insertionPoint = contentTypeLine->next;
    for (const LineNode* line = textType->next; line && line != textPart.headers.tail; line = line->next) {
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
