#include "strip/strip_attachments.h"

#include <cstdlib>
#include <cstring>

#include "mime/strip_message.h"
#include "plugin/host_api.h"
#include "plugin/settings.h"

namespace {

const char kNotMultipartNotice[] = "現在は、multipart/mixedの形式以外は、サポートしていません。";
const char kCannotProcessNotice[] = "このメールは処理できませんでした。";
const char kNoticeCaption[] = "Message from TlClipsum";
const char kHtmlHeader[] = "Content-Type: text/html";

// A message the engine could not take apart (nested too deep, memory ran
// out, or encrypted, so that its text cannot be told from the rest) is left
// as it is, and the user is told so.
void ShowCannotProcess()
{
    MessageBoxA(nullptr, kCannotProcessNotice, kNoticeCaption, MB_OK);
}

// Runs everything after the source has been fetched; the caller owns the
// stripper and so frees the tree on every way out.
void StripSource(MessageStripper& stripper, const char* privateId, const char* source)
{
    switch (stripper.Parse(source)) {
    case StripStatus::Ok:
        break;
    case StripStatus::NotMultipart:
        // The caption is the message's own subject line (or the platform's default).
        MessageBoxA(nullptr, kNotMultipartNotice, stripper.NoticeCaption(), MB_OK);
        return;
    case StripStatus::TooDeep:
    case StripStatus::OutOfMemory:
    case StripStatus::Encrypted:
    case StripStatus::ReadFailed:
        ShowCannotProcess();
        return;
    }

    // An HTML message with attachments is multipart: its HTML is declared in
    // a part, not in the header the host hands over.
    if (g_settings.htmlMsgOff != 0) {
        const char* header = g_hostApi.GetHeader()(privateId);
        if ((header != nullptr && std::strstr(header, kHtmlHeader) != nullptr) || stripper.HasHtmlPart())
            return;
    }

    if (stripper.Reduce() != StripStatus::Ok) {
        ShowCannotProcess();
        return;
    }

    // A backup the user asked for that failed keeps the message as it is:
    // stripping it anyway would lose the attachments for good.
    if (g_settings.backUp != 0 && BackupToTrash(privateId) == 0)
        return;

    g_hostApi.SetSource()(privateId, stripper.NewSource());
    if (g_settings.deleteMsg == 0)
        g_hostApi.SetCurrentMail()(privateId);
}

} // namespace

void StripAttachments(const char* mailId)
{
    if (mailId == nullptr)
        return;
    // The caller's text may be the host's, which the host may reuse once it is
    // called again: every host call of this operation gets our own copy.
    size_t idLength = std::strlen(mailId);
    char* privateId = static_cast<char*>(std::malloc(idLength + 1));
    if (privateId == nullptr)
        return;
    std::memcpy(privateId, mailId, idLength + 1);

    int status = g_hostApi.GetStatus()(privateId);
    {
        MessageStripper stripper;
        if ((status & kStatusHasAttachments) != 0) {
            const char* source = g_hostApi.GetSource()(privateId);
            if (source != nullptr)
                StripSource(stripper, privateId, source);
        }
    }
    std::free(privateId);
}
