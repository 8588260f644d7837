#include <cstdio>
#include <cstring>

#include "plugin/core/host_api.h"
#include "plugin/core/settings.h"
#include "strip/strip_attachments.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

namespace {

const char kCaption[] = "Message from TlClipsum";
const char kNoAttachmentsNotice[] = "添付ファイルは、一つもありません。";
const char kConfirmBulkStrip[] = "添付ファイルの一括削除をしてもよいですか？";
const char kSubjectField[] = "Subject:";
const char kNoSubjectFieldFormat[] = "Err 件名不明%d";
const char kNoLineEndFormat[] = "Err 終端不明%d";
const char kSubjectTooLongFormat[] = "Err 件名文字数オーバー%d";
const char kEmptySubjectFormat[] = "【件名なし[%d]】";

constexpr int kIdBufferSize = 256;
constexpr int kEntryTextSize = 1056;
constexpr int kHeaderCopySize = 32768;
constexpr int kLastSubjectEnd = 32767;

// The working buffers of one window message's handling, emptied at its start.
struct ScanBuffers {
    char id[kIdBufferSize];
    char entryText[kEntryTextSize];
    char headerCopy[kHeaderCopySize];

    ScanBuffers() { id[0] = entryText[0] = headerCopy[0] = '\0'; }
};

// The message after position `start`; its ID lands in the ID buffer, always
// terminated whatever the host wrote.
int NextMail(ScanBuffers& b, int start)
{
    int position = g_hostApi.GetNextMail()(start, b.id, kIdBufferSize, 0);
    b.id[kIdBufferSize - 1] = '\0';
    return position;
}

// Position p is found again by asking for the message after p - 1.
int Refetch(ScanBuffers& b, int position)
{
    return NextMail(b, static_cast<int>(static_cast<unsigned>(position) - 1u));
}

// Copies at most size - 1 bytes of a code page 932 text, never ending on the
// first half of a double-byte character.
void CopyWholeCharacters(char* destination, const char* text, size_t size)
{
    size_t length = 0;
    while (text[length] != '\0') {
        size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[length])) && text[length + 1] != '\0' ? 2 : 1;
        if (length + step > size - 1)
            break;
        length += step;
    }
    std::memcpy(destination, text, length);
    destination[length] = '\0';
}

void FormatEntry(ScanBuffers& b, const char* format, int number)
{
    std::snprintf(b.entryText, kEntryTextSize, format, number);
}

// Entry text of the message in the ID buffer: its subject as the header holds it.
void BuildEntryText(ScanBuffers& b, int number)
{
    const char* header = g_hostApi.GetHeader()(b.id);
    // A longer header is examined only as far as the copy holds.
    CopyWholeCharacters(b.headerCopy, header != nullptr ? header : "", kHeaderCopySize);

    char* subjectField = std::strstr(b.headerCopy, kSubjectField);
    if (subjectField == nullptr) {
        FormatEntry(b, kNoSubjectFieldFormat, number);
        return;
    }
    char* subject = subjectField + (sizeof kSubjectField - 1);
    char* lineEnd = std::strchr(subject, '\r');
    if (lineEnd == nullptr)
        lineEnd = std::strchr(subject, '\n');
    if (lineEnd == nullptr) {
        FormatEntry(b, kNoLineEndFormat, number);
        return;
    }
    long offset = static_cast<long>(lineEnd - b.headerCopy);
    if (offset < 1 || offset > kLastSubjectEnd) {
        FormatEntry(b, kSubjectTooLongFormat, number);
        return;
    }
    *lineEnd = '\0';
    if (*subject == '\0') {
        FormatEntry(b, kEmptySubjectFormat, number);
        return;
    }
    CopyWholeCharacters(b.entryText, subject, kEntryTextSize);
}

void ScanFolder(HWND dialog)
{
    ScanBuffers b;
    HWND list = GetDlgItem(dialog, IDC_ATTACHMENT_LIST);
    int entryCount = 0;
    for (int position = NextMail(b, -1); position != -1; position = NextMail(b, position)) {
        if ((g_hostApi.GetStatus()(b.id) & kStatusHasAttachments) == 0)
            continue;
        BuildEntryText(b, entryCount);
        // An explicit index keeps the scan's order although the list sorts.
        SendMessageA(list, LB_INSERTSTRING, entryCount, reinterpret_cast<LPARAM>(b.entryText));
        SendMessageA(list, LB_SETITEMDATA, entryCount, position);
        ++entryCount;
    }
    SetDlgItemInt(dialog, IDC_ATTACHMENT_COUNT, entryCount, FALSE);
    if (entryCount == 0) {
        MessageBoxA(dialog, kNoAttachmentsNotice, kCaption, MB_OK);
        EndDialog(dialog, IDCANCEL);
    }
}

void StripSelected(HWND dialog)
{
    ScanBuffers b;
    BOOL isNumber = FALSE;
    UINT entryCount = GetDlgItemInt(dialog, IDC_ATTACHMENT_COUNT, &isNumber, FALSE);
    if (g_settings.deleteMsg == 0 && MessageBoxA(dialog, kConfirmBulkStrip, kCaption, MB_OKCANCEL) == IDCANCEL)
        return;
    if (!isNumber)
        return;
    HWND list = GetDlgItem(dialog, IDC_ATTACHMENT_LIST);
    for (UINT index = 0; index < entryCount; ++index) {
        if (SendMessageA(list, LB_GETSEL, index, 0) <= 0)
            continue;
        int position = static_cast<int>(SendMessageA(list, LB_GETITEMDATA, index, 0));
        // The folder may have changed since the scan; a message gone is skipped.
        if (Refetch(b, position) != -1)
            StripAttachments(b.id);
    }
}

void MakeFocusedEntryCurrent(HWND dialog)
{
    ScanBuffers b;
    HWND list = GetDlgItem(dialog, IDC_ATTACHMENT_LIST);
    LRESULT index = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR)
        return;
    int position = static_cast<int>(SendMessageA(list, LB_GETITEMDATA, index, 0));
    // A message gone since the scan leaves the host's selection alone.
    if (Refetch(b, position) != -1)
        g_hostApi.SetCurrentMail()(b.id);
}

} // namespace

INT_PTR CALLBACK AttachmentListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        ScanFolder(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            StripSelected(dialog);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_ATTACHMENT_LIST && HIWORD(wParam) == LBN_DBLCLK)
            MakeFocusedEntryCurrent(dialog);
        return FALSE;
    }
    return FALSE;
}
