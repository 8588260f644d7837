#include "report_text.h"

#include "mime/header_text.h"
#include "mime/strip_message.h"

#include <cstdio>
#include <cstring>

namespace {

void BlankControls(char* text)
{
    for (unsigned char* c = reinterpret_cast<unsigned char*>(text); *c; ++c) {
        if (*c < 0x20 || *c == 0x7F)
            *c = ' ';
    }
}

void Copy(const char* from, char* out, std::size_t outSize)
{
    snprintf(out, outSize, "%s", from ? from : "");
}

// The part's file name: the filename parameter of its Content-Disposition,
// else the name parameter of its Content-Type.
void FileNameOf(const RemovedPart& part, char* out, std::size_t outSize)
{
    bool found = part.dispositionField && DecodeParameter(part.dispositionField, strlen(part.dispositionField),
                                                          "filename", TextTarget::Utf8, out, outSize);
    if (!found && part.contentTypeField)
        found = DecodeParameter(part.contentTypeField, strlen(part.contentTypeField), "name", TextTarget::Utf8, out,
                                outSize);
    if (!found)
        out[0] = '\0';
}

} // namespace

void DecodeForReport(const char* raw, char* out, std::size_t outSize)
{
    DecodeHeaderText(raw, strlen(raw), TextTarget::Utf8, out, outSize);
}

void ListRemovedParts(const MessageStripper& stripper, MessageOutcome* outcome)
{
    std::size_t count = stripper.RemovedPartCount();
    outcome->removedCount = static_cast<unsigned>(count);
    for (std::size_t i = 0; i < count && i < kMaxListedParts; ++i) {
        const RemovedPart& part = stripper.RemovedPartAt(i);
        Copy(part.mediaType, outcome->removed[i].mediaType, kMaxMediaTypeBytes);
        BlankControls(outcome->removed[i].mediaType);
        FileNameOf(part, outcome->removed[i].fileName, kMaxFileNameBytes);
        Copy(part.savedAs, outcome->removed[i].savedAs, kMaxSavedNameBytes);
    }
}
