#include "strip/strip_attachments.h"

#include <cstdlib>
#include <cstring>

#include "mime/strip_message.h"
#include "plugin/core/host_api.h"
#include "plugin/core/settings.h"
#include "strip/save_attachments.h"

namespace {

const char kNotMultipartNotice[] = "現在は、multipart/mixedの形式以外は、サポートしていません。";
const char kCannotProcessNotice[] = "このメールは処理できませんでした。";
const char kNoticeCaption[] = "Message from TlClipsum";
const char kHtmlHeader[] = "Content-Type: text/html";
const char kSaveFailedNotice[] = "添付ファイルを保存できませんでした。";
const char kBrokenPartNotice[] = "壊れた添付ファイルがあり、読めた部分までを保存しました。";

// A message the engine could not take apart (nested too deep, memory ran
// out, or encrypted, so that its text cannot be told from the rest) is left
// as it is, and the user is told so.
void ShowCannotProcess()
{
    MessageBoxA(nullptr, kCannotProcessNotice, kNoticeCaption, MB_OK);
}

bool SavingParts()
{
    return g_settings.saveFolder[0] != '\0' || g_settings.saveFolderTooLong;
}

// Runs everything after the source has been fetched; the caller owns the
// stripper and so frees the tree on every way out.
void StripSource(MessageStripper& stripper, const char* privateId, const char* source, StripOutcome& outcome)
{
    // Measured before the host is called again: its text may be gone then.
    const size_t before = std::strlen(source);
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
    char stem[kStemSize] = "";
    FILETIME date{};
    bool dated = false;
    if (SavingParts()) {
        SubjectStem(source, stem, sizeof stem);
        dated = MessageFileTime(source, &date);
    }

    // An HTML message with attachments is multipart: its HTML is declared in
    // a part, not in the header the host hands over.
    if (g_settings.htmlMsgOff != 0) {
        const char* header = g_hostApi.GetHeader()(privateId);
        if ((header != nullptr && std::strstr(header, kHtmlHeader) != nullptr) || stripper.HasHtmlPart())
            return;
    }

    // The files are on disk before the message changes; a message whose
    // files cannot all be saved is not changed at all.
    AttachmentSaver saver;
    if (SavingParts()) {
        const char* mailbox = g_hostApi.GetCurrentMailBox()();
        if (g_settings.saveFolderTooLong ||
            !saver.Save(stripper, g_settings.saveFolder, mailbox, stem, dated ? &date : nullptr)) {
            g_hostApi.SetMessageText()(nullptr, kSaveFailedNotice);
            return;
        }
    }

    if (stripper.Reduce(g_settings.removedNote != 0 ? RemovedNote::Fields : RemovedNote::None) != StripStatus::Ok) {
        saver.Undo();
        ShowCannotProcess();
        return;
    }

    // A backup the user asked for that failed keeps the message as it is:
    // stripping it anyway would lose the attachments for good. The saved
    // files go too, so that a second try does not save them twice.
    if (g_settings.backUp != 0 && BackupToTrash(privateId) == 0) {
        saver.Undo();
        return;
    }

    g_hostApi.SetSource()(privateId, stripper.NewSource());
    if (saver.SavedBrokenPart())
        g_hostApi.SetMessageText()(nullptr, kBrokenPartNotice);
    const size_t after = stripper.NewLength();
    outcome.stripped = true;
    outcome.bytesSaved = before > after ? before - after : 0;
    if (g_settings.deleteMsg == 0)
        g_hostApi.SetCurrentMail()(privateId);
}

PartListing ListingForSettings()
{
    if (SavingParts())
        return PartListing::RemovedWithBodies;
    return g_settings.removedNote != 0 ? PartListing::RemovedWithSizes : PartListing::None;
}

} // namespace

void StripAttachments(const char* mailId, StripOutcome* outcome)
{
    StripOutcome done;
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
        MessageStripper stripper(ListingForSettings());
        if ((status & kStatusHasAttachments) != 0) {
            const char* source = g_hostApi.GetSource()(privateId);
            if (source != nullptr)
                StripSource(stripper, privateId, source, done);
        }
    }
    std::free(privateId);
    if (outcome != nullptr)
        *outcome = done;
}
