#include "mime/removed_note.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "mime/allocator.h"
#include "mime/line_reader.h"

namespace {

constexpr std::size_t kMaxLineLength = 77; // bytes before the CR LF

bool IsWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Text that grows as it is written; always NUL-terminated.
class NoteText {
public:
    ~NoteText() { mime::Release(data_); }

    bool Add(const char* text, std::size_t length)
    {
        if (length > SIZE_MAX / 2 - position_)
            return false;
        if (position_ + length + 1 > capacity_) {
            std::size_t capacity = capacity_ ? capacity_ : 128;
            while (capacity < position_ + length + 1)
                capacity *= 2;
            auto* grown = static_cast<char*>(mime::Reallocate(data_, capacity));
            if (!grown)
                return false;
            data_ = grown;
            capacity_ = capacity;
        }
        std::memcpy(data_ + position_, text, length);
        position_ += length;
        data_[position_] = '\0';
        return true;
    }

    bool Add(const char* text) { return Add(text, std::strlen(text)); }

    std::size_t Length() const { return position_; }
    const char* Text() const { return data_ ? data_ : ""; }

    char* Take()
    {
        char* taken = data_;
        data_ = nullptr;
        return taken;
    }

private:
    char* data_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t position_ = 0;
};

// Lays out the field's items ("X-TlClipsum-Removed: type", "name=...",
// "size=N") separated by "; ", folding before a word that would make the line
// 78 bytes or longer. Words are split at blanks only, so unfolding gives back
// every item as it was.
class FoldedField {
public:
    bool Item(const char* text, std::size_t length)
    {
        bool first = true;
        std::size_t at = 0;
        while (at < length) {
            std::size_t end = at;
            while (end < length && text[end] != ' ')
                ++end;
            if (!Word(text + at, end - at, first ? (items_++ > 0 ? "; " : "") : " "))
                return false;
            first = false;
            at = end < length ? end + 1 : end;
        }
        return true;
    }

    char* Finish() { return text_.Add("\r\n", 2) ? text_.Take() : nullptr; }

private:
    bool Word(const char* word, std::size_t length, const char* separator)
    {
        const std::size_t separatorLength = std::strlen(separator);
        if (lineLength_ > 0 && lineLength_ + separatorLength + length > kMaxLineLength) {
            // The ";" stays on its line; the blank that follows becomes the fold.
            if (separator[0] == ';' && !text_.Add(";", 1))
                return false;
            if (!text_.Add("\r\n ", 3))
                return false;
            lineLength_ = 1;
        } else {
            if (!text_.Add(separator, separatorLength))
                return false;
            lineLength_ += separatorLength;
        }
        lineLength_ += length;
        return text_.Add(word, length);
    }

    NoteText text_;
    std::size_t lineLength_ = 0;
    std::size_t items_ = 0;
};

// One parameter of a header field, as written.
struct RawParameter {
    const char* name;
    std::size_t nameLength;
    const char* value; // quotes included
    std::size_t valueLength;
};

// Walks the parameters of a field as stored, quoted strings kept whole.
class ParameterScanner {
public:
    explicit ParameterScanner(const char* field)
    {
        at_ = field ? std::strchr(field, ':') : nullptr;
        if (at_)
            at_ += std::strcspn(at_, ";");
    }

    bool Next(RawParameter& parameter)
    {
        while (at_ && *at_) {
            while (*at_ == ';' || IsWhite(*at_))
                ++at_;
            const char* name = at_;
            while (*at_ && *at_ != '=' && *at_ != ';' && !IsWhite(*at_))
                ++at_;
            parameter.name = name;
            parameter.nameLength = static_cast<std::size_t>(at_ - name);
            while (IsWhite(*at_))
                ++at_;
            if (*at_ != '=') {
                at_ += std::strcspn(at_, ";");
                continue;
            }
            ++at_;
            while (IsWhite(*at_))
                ++at_;
            const char* value = at_;
            if (*at_ == '"') {
                ++at_;
                while (*at_ && *at_ != '"') {
                    if (*at_ == '\\' && at_[1])
                        ++at_;
                    ++at_;
                }
                if (*at_ == '"')
                    ++at_;
            } else {
                while (*at_ && *at_ != ';' && !IsWhite(*at_))
                    ++at_;
            }
            parameter.value = value;
            parameter.valueLength = static_cast<std::size_t>(at_ - value);
            if (parameter.nameLength > 0)
                return true;
        }
        return false;
    }

private:
    const char* at_;
};

// "filename", "filename*", "filename*0", "filename*1*"...: the base name, then
// nothing or a "*" section.
bool NamesParameter(const RawParameter& parameter, const char* base)
{
    const std::size_t length = std::strlen(base);
    return parameter.nameLength >= length && EqualsNoCase(parameter.name, base, length) &&
           (parameter.nameLength == length || parameter.name[length] == '*');
}

// Adds "name" + the parameter's section suffix + "=" + its value, unfolded.
bool AddNameItems(FoldedField& field, const char* header, const char* base, bool& found)
{
    ParameterScanner scanner(header);
    RawParameter parameter;
    const std::size_t baseLength = std::strlen(base);
    while (scanner.Next(parameter)) {
        if (!NamesParameter(parameter, base))
            continue;
        found = true;
        NoteText item;
        if (!item.Add("name") || !item.Add(parameter.name + baseLength, parameter.nameLength - baseLength) ||
            !item.Add("="))
            return false;
        for (std::size_t i = 0; i < parameter.valueLength; ++i) {
            const char c = parameter.value[i];
            if (c != '\r' && c != '\n' && !item.Add(&c, 1))
                return false;
        }
        if (!field.Item(item.Text(), item.Length()))
            return false;
    }
    return true;
}

// The file name as saved: quoted when it is plain printable ASCII, else
// percent-encoded UTF-8 in the extended form.
bool AddSavedItem(FoldedField& field, const char* name)
{
    bool plain = true;
    for (const char* c = name; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte > 0x7E || byte == '"' || byte == '\\')
            plain = false;
    }
    NoteText item;
    if (plain) {
        if (!item.Add("saved=\"") || !item.Add(name) || !item.Add("\""))
            return false;
    } else {
        if (!item.Add("saved*=UTF-8''"))
            return false;
        for (const char* c = name; *c; ++c) {
            const auto byte = static_cast<unsigned char>(*c);
            const bool attributeChar = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                                       (byte >= 'a' && byte <= 'z') || std::strchr("!#$&+-.^_`|~", byte);
            char encoded[4];
            if (attributeChar && byte != '\0') {
                encoded[0] = static_cast<char>(byte);
                encoded[1] = '\0';
            } else {
                std::snprintf(encoded, sizeof encoded, "%%%02X", byte);
            }
            if (!item.Add(encoded))
                return false;
        }
    }
    return field.Item(item.Text(), item.Length());
}

bool IsContentLine(const LineNode& line)
{
    return StartsWithNoCase(line.text, static_cast<std::size_t>(line.length), "Content-");
}

} // namespace

char* FormatRemovedNote(const RemovedPart& part)
{
    FoldedField field;
    NoteText first;
    if (!first.Add(kRemovedNoteField) || !first.Add(": "))
        return nullptr;
    // The type as the part writes it; a part without one is plain text.
    const char* type = part.contentTypeField ? std::strchr(part.contentTypeField, ':') : nullptr;
    if (type) {
        ++type;
        while (IsWhite(*type))
            ++type;
        const std::size_t length = std::strcspn(type, "; \t\r\n(");
        if (!first.Add(length > 0 ? type : "text/plain", length > 0 ? length : 10))
            return nullptr;
    } else if (!first.Add("text/plain")) {
        return nullptr;
    }
    if (!field.Item(first.Text(), first.Length()))
        return nullptr;

    bool named = false;
    if (!AddNameItems(field, part.dispositionField, "filename", named))
        return nullptr;
    if (!named && !AddNameItems(field, part.contentTypeField, "name", named))
        return nullptr;

    char size[32];
    const int sizeLength = std::snprintf(size, sizeof size, "size=%" PRIu64, part.decodedSize);
    if (sizeLength < 0 || !field.Item(size, static_cast<std::size_t>(sizeLength)))
        return nullptr;
    if (part.savedAs && !AddSavedItem(field, part.savedAs))
        return nullptr;
    return field.Finish();
}

bool AppendRemovedNote(LineList& headers, const RemovedPart* parts, std::size_t count)
{
    LineNode* after = nullptr;
    for (LineNode* line = headers.head; line; line = line->next) {
        if (IsContentLine(*line))
            after = line;
    }
    const bool blankLast = headers.tail && headers.tail->length == 2;
    for (std::size_t i = 0; i < count; ++i) {
        char* text = FormatRemovedNote(parts[i]);
        if (!text)
            return false;
        LineNode* inserted;
        if (after && after->next)
            inserted = headers.InsertBefore(after->next, text);
        else if (!after && blankLast)
            inserted = headers.InsertBefore(headers.tail, text);
        else
            inserted = headers.Append(text);
        mime::Release(text);
        if (!inserted)
            return false;
        after = inserted;
    }
    return true;
}
