#include "mime/attachment_name.h"

#include <cstdio>
#include <cstring>

#include "mime/header_text.h"
#include "mime/line_reader.h"

namespace {

struct TypeExtension {
    const char* type;
    const char* extension;
};

constexpr TypeExtension kExtensions[] = {
    {"application/pdf", ".pdf"},
    {"application/zip", ".zip"},
    {"application/x-zip-compressed", ".zip"},
    {"application/gzip", ".gz"},
    {"application/msword", ".doc"},
    {"application/vnd.ms-excel", ".xls"},
    {"application/vnd.ms-powerpoint", ".ppt"},
    {"application/vnd.openxmlformats-officedocument.wordprocessingml.document", ".docx"},
    {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", ".xlsx"},
    {"application/vnd.openxmlformats-officedocument.presentationml.presentation", ".pptx"},
    {"application/rtf", ".rtf"},
    {"application/json", ".json"},
    {"application/xml", ".xml"},
    {"application/pgp-signature", ".asc"},
    {"application/pkcs7-signature", ".p7s"},
    {"application/x-pkcs7-signature", ".p7s"},
    {"image/jpeg", ".jpg"},
    {"image/pjpeg", ".jpg"},
    {"image/png", ".png"},
    {"image/gif", ".gif"},
    {"image/bmp", ".bmp"},
    {"image/tiff", ".tif"},
    {"image/webp", ".webp"},
    {"image/heic", ".heic"},
    {"image/svg+xml", ".svg"},
    {"audio/mpeg", ".mp3"},
    {"audio/wav", ".wav"},
    {"video/mp4", ".mp4"},
    {"video/quicktime", ".mov"},
    {"text/plain", ".txt"},
    {"text/html", ".html"},
    {"text/csv", ".csv"},
    {"text/calendar", ".ics"},
    {"text/x-vcard", ".vcf"},
    {"text/vcard", ".vcf"},
    {"text/rfc822-headers", ".txt"},
    {"message/rfc822", ".eml"},
    {"message/delivery-status", ".txt"},
};

constexpr std::size_t kMaxKeptExtension = 16;

bool IsContinuationByte(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the valid UTF-8 character at text (at most length bytes), or 0.
std::size_t Utf8CharacterLength(const unsigned char* text, std::size_t length)
{
    const unsigned char c = text[0];
    std::size_t need;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        need = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        need = 3;
    else if (c >= 0xF0 && c <= 0xF4)
        need = 4;
    else
        return 0;
    if (length < need)
        return 0;
    for (std::size_t i = 1; i < need; ++i) {
        if (!IsContinuationByte(text[i]))
            return 0;
    }
    return need;
}

bool IsRefused(unsigned char c)
{
    return c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr;
}

bool IsTrimmed(char c)
{
    return c == ' ' || c == '.';
}

// CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$: Windows opens the
// device whatever the extension.
bool IsReservedDeviceName(const char* text, std::size_t length)
{
    const char* dot = static_cast<const char*>(std::memchr(text, '.', length));
    std::size_t stem = dot ? static_cast<std::size_t>(dot - text) : length;
    while (stem > 0 && text[stem - 1] == ' ')
        --stem;
    static const char* const kNames[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* name : kNames) {
        if (stem == std::strlen(name) && EqualsNoCase(text, name, stem))
            return true;
    }
    return stem == 4 && (EqualsNoCase(text, "COM", 3) || EqualsNoCase(text, "LPT", 3)) && text[3] >= '0' &&
           text[3] <= '9';
}

// Cuts text to at most limit bytes at a character boundary, keeping a short
// extension at the end.
std::size_t CutKeepingExtension(char* text, std::size_t length, std::size_t limit)
{
    if (length <= limit)
        return length;
    const char* dot = nullptr;
    for (std::size_t i = length; i > 0; --i) {
        if (text[i - 1] == '.') {
            dot = text + i - 1;
            break;
        }
    }
    std::size_t extension = dot ? length - static_cast<std::size_t>(dot - text) : 0;
    if (extension > kMaxKeptExtension)
        extension = 0;
    std::size_t keep = limit - extension;
    while (keep > 0 && IsContinuationByte(static_cast<unsigned char>(text[keep])))
        --keep;
    std::memmove(text + keep, text + length - extension, extension);
    return keep + extension;
}

std::size_t CopyText(const char* text, char* out, std::size_t outSize)
{
    const std::size_t length = std::strlen(text);
    if (outSize == 0)
        return 0;
    const std::size_t copied = length < outSize ? length : outSize - 1;
    std::memcpy(out, text, copied);
    out[copied] = '\0';
    return copied;
}

} // namespace

const char* ExtensionForType(const char* mediaType)
{
    for (const TypeExtension& known : kExtensions) {
        const std::size_t length = std::strlen(known.type);
        if (mediaType && std::strlen(mediaType) == length && EqualsNoCase(mediaType, known.type, length))
            return known.extension;
    }
    return ".bin";
}

std::size_t MakeSafeFileName(char* text, std::size_t length)
{
    // Characters a file system refuses, or that would make a path, become '_'.
    std::size_t at = 0;
    while (at < length) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(text + at);
        const std::size_t character = Utf8CharacterLength(bytes, length - at);
        if (character == 0) {
            text[at++] = '_';
        } else {
            if (character == 1 && IsRefused(bytes[0]))
                text[at] = '_';
            at += character;
        }
    }
    std::size_t start = 0;
    while (start < length && IsTrimmed(text[start]))
        ++start;
    while (length > start && IsTrimmed(text[length - 1]))
        --length;
    length -= start;
    std::memmove(text, text + start, length);
    length = CutKeepingExtension(text, length, kMaxAttachmentNameBytes);
    while (length > 0 && IsTrimmed(text[length - 1]))
        --length;
    if (length > 0 && IsReservedDeviceName(text, length)) {
        if (length + 1 > kMaxAttachmentNameBytes)
            --length;
        std::memmove(text + 1, text, length);
        text[0] = '_';
        ++length;
    }
    text[length] = '\0';
    return length;
}

std::size_t AttachmentFileName(const RemovedPart& part, const char* stem, char* out, std::size_t outSize)
{
    if (outSize < kMaxAttachmentNameBytes + 1)
        return CopyText("", out, outSize);
    // Decoded names can be long; they are cut once made safe.
    char decoded[4 * kMaxAttachmentNameBytes];
    decoded[0] = '\0';
    bool named = false;
    if (part.dispositionField)
        named = DecodeParameter(part.dispositionField, std::strlen(part.dispositionField), "filename", TextTarget::Utf8,
                                decoded, sizeof decoded);
    if ((!named || decoded[0] == '\0') && part.contentTypeField)
        named = DecodeParameter(part.contentTypeField, std::strlen(part.contentTypeField), "name", TextTarget::Utf8,
                                decoded, sizeof decoded);
    std::size_t length = named ? MakeSafeFileName(decoded, std::strlen(decoded)) : 0;
    if (length > 0)
        return CopyText(decoded, out, outSize);

    const char* extension = ExtensionForType(part.mediaType);
    std::snprintf(decoded, sizeof decoded, "%s", stem ? stem : "");
    length = MakeSafeFileName(decoded, std::strlen(decoded));
    if (length == 0)
        length = CopyText("attachment", decoded, sizeof decoded);
    const std::size_t extensionLength = std::strlen(extension);
    length = CutKeepingExtension(decoded, length, kMaxAttachmentNameBytes - extensionLength);
    while (length > 0 && IsTrimmed(decoded[length - 1]))
        --length;
    std::memcpy(decoded + length, extension, extensionLength + 1);
    return CopyText(decoded, out, outSize);
}

std::size_t NumberedFileName(const char* name, unsigned number, char* out, std::size_t outSize)
{
    const std::size_t length = std::strlen(name);
    const char* dot = std::strrchr(name, '.');
    std::size_t stem = dot && dot != name && length - static_cast<std::size_t>(dot - name) <= kMaxKeptExtension
                           ? static_cast<std::size_t>(dot - name)
                           : length;
    const int written =
        std::snprintf(out, outSize, "%.*s (%u)%s", static_cast<int>(stem), name, number, name + stem);
    return written < 0 ? 0 : static_cast<std::size_t>(written) < outSize ? static_cast<std::size_t>(written) : outSize - 1;
}
