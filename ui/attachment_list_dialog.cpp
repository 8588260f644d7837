#include <cstdio>
#include <cstring>

#include "mime/header_text.h"
#include "plugin/core/host_api.h"
#include "plugin/core/settings.h"
#include "strip/strip_attachments.h"
#include "ui/dialogs.h"
#include "ui/list_details.h"
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
const char kProgressFormat[] = "%s - 削除中 %u / %u";
const char kBulkResultFormat[] = "添付ファイルの一括削除: %u 通を削除、%u 通はそのまま、%s バイト減りました。";

constexpr int kIdBufferSize = 256;
constexpr int kEntryTextSize = 1056;
constexpr int kHeaderCopySize = 32768;
constexpr int kLastSubjectEnd = 32767;
constexpr int kCaptionSize = 256;
constexpr size_t kSizeRoom = 24; // "  (1023.9 MB" and more

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

// Width in pixels of a character cell of the dialog's font. The template asks
// for a fixed-pitch font, in which a code page 932 text takes one cell per
// byte; measuring glyphs would need GDI, which the plug-in does not import.
int CellWidth(HWND dialog)
{
    RECT cell = {0, 0, 4, 8}; // the average character is 4 dialog units wide
    MapDialogRect(dialog, &cell);
    return cell.right > 0 ? cell.right : 8;
}

// Ctrl+A selects every entry. Everything else goes to the list box's own
// procedure, kept in the list box's user data.
LRESULT CALLBACK ListWithSelectAll(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC own = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(list, GWLP_USERDATA));
    if (message == WM_KEYDOWN && wParam == 'A' && GetKeyState(VK_CONTROL) < 0) {
        SendMessageA(list, LB_SETSEL, TRUE, -1);
        return 0;
    }
    // Ctrl+A also arrives as the character 0x01, which the list would search for.
    if (message == WM_CHAR && wParam == 0x01)
        return 0;
    return CallWindowProcA(own, list, message, wParam, lParam);
}

void AddSelectAll(HWND list)
{
    LONG_PTR own = GetWindowLongPtrA(list, GWLP_WNDPROC);
    SetWindowLongPtrA(list, GWLP_USERDATA, own);
    SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListWithSelectAll));
}

// The entry with ListDetails on: the subject decoded, then the size and the
// attachment names. The whole source gives all three in one host call; the
// header alone (when the host has no source) gives the subject.
void BuildDetailedEntryText(ScanBuffers& b, int number)
{
    const char* message = g_hostApi.GetSource()(b.id);
    bool whole = message != nullptr;
    if (!whole)
        message = g_hostApi.GetHeader()(b.id);
    if (message == nullptr)
        message = "";
    size_t length = std::strlen(message);
    const char* value = nullptr;
    size_t valueLength = 0;
    switch (FindSubject(message, length, kLastSubjectEnd, &value, &valueLength)) {
    case SubjectField::kMissing:
        FormatEntry(b, kNoSubjectFieldFormat, number);
        return;
    case SubjectField::kNoLineEnd:
        FormatEntry(b, kNoLineEndFormat, number);
        return;
    case SubjectField::kTooFar:
        FormatEntry(b, kSubjectTooLongFormat, number);
        return;
    case SubjectField::kFound:
        break;
    }
    // A long subject is cut so that the size always shows.
    size_t subjectRoom = whole ? kEntryTextSize - kSizeRoom : kEntryTextSize;
    size_t used = DecodeHeaderText(value, valueLength, TextTarget::Cp932, b.entryText, subjectRoom);
    if (used == 0) {
        FormatEntry(b, kEmptySubjectFormat, number);
        return;
    }
    if (whole)
        FormatDetails(message, length, b.entryText + used, kEntryTextSize - used);
}

void ScanFolder(HWND dialog)
{
    ScanBuffers b;
    HWND list = GetDlgItem(dialog, IDC_ATTACHMENT_LIST);
    AddSelectAll(list);
    int entryCount = 0;
    size_t widestEntry = 0;
    for (int position = NextMail(b, -1); position != -1; position = NextMail(b, position)) {
        if ((g_hostApi.GetStatus()(b.id) & kStatusHasAttachments) == 0)
            continue;
        if (g_settings.listDetails != 0)
            BuildDetailedEntryText(b, entryCount);
        else
            BuildEntryText(b, entryCount);
        // An explicit index keeps the scan's order although the list sorts.
        SendMessageA(list, LB_INSERTSTRING, entryCount, reinterpret_cast<LPARAM>(b.entryText));
        SendMessageA(list, LB_SETITEMDATA, entryCount, position);
        ++entryCount;
        size_t length = std::strlen(b.entryText);
        if (length > widestEntry)
            widestEntry = length;
    }
    // Long entries scroll sideways: the list's scroll bar needs their width.
    // Two cells more for the entry's margins.
    SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>((widestEntry + 2) * CellWidth(dialog)), 0);
    SetDlgItemInt(dialog, IDC_ATTACHMENT_COUNT, entryCount, FALSE);
    if (entryCount == 0) {
        MessageBoxA(dialog, kNoAttachmentsNotice, kCaption, MB_OK);
        EndDialog(dialog, IDCANCEL);
    }
}

// The caption "添付ファイル 一覧 - 削除中 done / total" while a bulk strip runs,
// and the one status line with its result at the end.
class BulkProgress {
public:
    BulkProgress(HWND dialog, UINT total) : dialog_(dialog), total_(total)
    {
        GetWindowTextA(dialog, title_, sizeof title_);
    }

    void Show() const
    {
        char caption[kCaptionSize];
        std::snprintf(caption, sizeof caption, kProgressFormat, title_, done_, total_);
        SetWindowTextA(dialog_, caption);
    }

    void Count(const StripOutcome& outcome)
    {
        ++done_;
        if (outcome.stripped) {
            ++stripped_;
            bytesSaved_ += outcome.bytesSaved;
        }
    }

    void Report() const
    {
        char bytes[32];
        FormatThousands(bytesSaved_, bytes, sizeof bytes);
        char line[kCaptionSize];
        std::snprintf(line, sizeof line, kBulkResultFormat, stripped_, done_ - stripped_, bytes);
        g_hostApi.SetMessageText()(nullptr, line);
    }

private:
    // 142187 as "142,187".
    static void FormatThousands(unsigned long long value, char* out, size_t size)
    {
        char digits[24];
        int count = std::snprintf(digits, sizeof digits, "%llu", value);
        size_t at = 0;
        for (int i = 0; i < count && at + 2 < size; ++i) {
            if (i > 0 && (count - i) % 3 == 0)
                out[at++] = ',';
            out[at++] = digits[i];
        }
        out[at] = '\0';
    }

    HWND dialog_;
    UINT total_;
    UINT done_ = 0;
    UINT stripped_ = 0;
    unsigned long long bytesSaved_ = 0;
    char title_[kCaptionSize / 2] = "";
};

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
    LRESULT selected = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
    BulkProgress progress(dialog, selected > 0 ? static_cast<UINT>(selected) : 0);
    bool reporting = g_settings.bulkProgress != 0;
    for (UINT index = 0; index < entryCount; ++index) {
        if (SendMessageA(list, LB_GETSEL, index, 0) <= 0)
            continue;
        if (reporting)
            progress.Show();
        int position = static_cast<int>(SendMessageA(list, LB_GETITEMDATA, index, 0));
        StripOutcome outcome;
        // The folder may have changed since the scan; a message gone is skipped.
        if (Refetch(b, position) != -1)
            StripAttachments(b.id, &outcome);
        progress.Count(outcome);
    }
    if (reporting) {
        progress.Show();
        progress.Report();
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
