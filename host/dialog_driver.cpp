#include "dialog_driver.h"

#include <algorithm>

#include "cp932_text.h"

namespace {

thread_local DialogDriver* t_driver = nullptr;

constexpr UINT_PTR kActTimer = 0x7C51;
constexpr UINT kActDelayMs = 10;

bool IsDialogWindow(HWND window)
{
    char className[16];
    return GetClassNameA(window, className, sizeof className) && lstrcmpA(className, "#32770") == 0;
}

bool HasClass(HWND window, const char* wanted)
{
    char className[32];
    return GetClassNameA(window, className, sizeof className) && lstrcmpiA(className, wanted) == 0;
}

struct ChildSearch {
    const char* className;
    int id; // -1: any id
    HWND found;
};

BOOL CALLBACK FindChild(HWND child, LPARAM lParam)
{
    ChildSearch* search = reinterpret_cast<ChildSearch*>(lParam);
    if (!HasClass(child, search->className))
        return TRUE;
    if (search->id != -1 && (GetWindowLongPtrA(child, GWLP_ID) & 0xFFFF) != search->id)
        return TRUE;
    search->found = child;
    return FALSE;
}

HWND FindChildOf(HWND dialog, const char* className, int id)
{
    ChildSearch search{className, id, nullptr};
    EnumChildWindows(dialog, FindChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ButtonName(int id)
{
    switch (id) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDABORT:
        return "Abort";
    case IDRETRY:
        return "Retry";
    case IDIGNORE:
        return "Ignore";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    default:
        return std::to_string(id);
    }
}

} // namespace

DialogDriver::DialogDriver()
{
    if (t_driver)
        return; // one per thread: a second one stays inert
    hook_ = SetWindowsHookExA(WH_CBT, HookProc, nullptr, GetCurrentThreadId());
    if (hook_)
        t_driver = this;
}

DialogDriver::~DialogDriver()
{
    if (!hook_)
        return;
    UnhookWindowsHookEx(hook_);
    t_driver = nullptr;
}

void DialogDriver::Press(int buttonId)
{
    Run("pressed " + ButtonName(buttonId), [buttonId](HWND dialog) { PressButton(dialog, buttonId); });
}

void DialogDriver::Run(std::string description, Action action)
{
    steps_.push_back({std::move(description), std::move(action)});
}

void DialogDriver::Screenshot(std::string bmpPath)
{
    Run("screenshot " + bmpPath, [bmpPath](HWND dialog) { SaveWindowBitmap(dialog, bmpPath); });
}

size_t DialogDriver::ClosedByDriverCount() const
{
    return static_cast<size_t>(
        std::count_if(seen_.begin(), seen_.end(), [](const SeenDialog& seen) { return seen.closedByDriver; }));
}

std::string DialogDriver::Format() const
{
    std::string out;
    for (const SeenDialog& seen : seen_) {
        out += "dialog \"" + seen.caption + "\" \"" + seen.text + "\"";
        for (const std::string& step : seen.steps)
            out += "; " + step;
        if (seen.closedByDriver)
            out += "; UNEXPECTED, closed by the driver";
        out += "\n";
    }
    return out;
}

void DialogDriver::Clear()
{
    steps_.clear();
    seen_.clear();
}

// Dialogs are caught at creation, not at activation: a dialog of a process
// that is not in the foreground (tests run side by side) may never be activated.
LRESULT CALLBACK DialogDriver::HookProc(int code, WPARAM wParam, LPARAM lParam)
{
    DialogDriver* driver = t_driver;
    HWND window = reinterpret_cast<HWND>(wParam);
    if (driver && code == HCBT_CREATEWND && IsDialogWindow(window)) {
        driver->open_.push_back({window, static_cast<size_t>(-1)});
        SetTimer(window, kActTimer, kActDelayMs, TimerProc);
    } else if (driver && code == HCBT_DESTROYWND) {
        driver->open_.erase(std::remove_if(driver->open_.begin(), driver->open_.end(),
                                           [window](const Tracked& tracked) { return tracked.window == window; }),
                            driver->open_.end());
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK DialogDriver::TimerProc(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    if (t_driver)
        t_driver->Act(window);
}

size_t DialogDriver::SeenIndexOf(HWND dialog)
{
    for (Tracked& tracked : open_) {
        if (tracked.window != dialog)
            continue;
        if (tracked.seenIndex == static_cast<size_t>(-1)) {
            tracked.seenIndex = seen_.size();
            seen_.push_back({WindowTextCp932(dialog), MessageTextCp932(dialog), {}, false});
        }
        return tracked.seenIndex;
    }
    seen_.push_back({WindowTextCp932(dialog), MessageTextCp932(dialog), {}, false});
    return seen_.size() - 1;
}

void DialogDriver::Act(HWND dialog)
{
    if (!IsWindow(dialog))
        return;
    // Not shown yet (still in WM_INITDIALOG, or a box it opened there is up): later.
    if (!IsWindowVisible(dialog)) {
        SetTimer(dialog, kActTimer, kActDelayMs, TimerProc);
        return;
    }
    size_t index = SeenIndexOf(dialog);
    if (steps_.empty()) {
        seen_[index].closedByDriver = true;
        PressButton(dialog, IDCANCEL);
        if (IsWindow(dialog) && IsWindowVisible(dialog))
            EndDialog(dialog, IDCANCEL);
        return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    seen_[index].steps.push_back(step.description);
    step.action(dialog);
    // Still open: the next step takes the same dialog.
    if (IsWindow(dialog) && IsWindowVisible(dialog))
        SetTimer(dialog, kActTimer, kActDelayMs, TimerProc);
}

void PressButton(HWND dialog, int buttonId)
{
    HWND button = GetDlgItem(dialog, buttonId);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

HWND FindListBox(HWND dialog)
{
    return FindChildOf(dialog, "ListBox", -1);
}

void SelectAllListEntries(HWND dialog)
{
    HWND list = FindListBox(dialog);
    if (list)
        SendMessageA(list, LB_SETSEL, TRUE, -1);
}

std::vector<std::string> ListEntryTexts(HWND dialog)
{
    std::vector<std::string> entries;
    HWND list = FindListBox(dialog);
    const LRESULT count = list ? SendMessageA(list, LB_GETCOUNT, 0, 0) : 0;
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT capacity = SendMessageA(list, LB_GETTEXTLEN, i, 0);
        std::string text(capacity > 0 ? static_cast<size_t>(capacity) + 1 : 1, '\0');
        const LRESULT length = SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(length > 0 ? static_cast<size_t>(length) : 0);
        entries.push_back(text);
    }
    return entries;
}

void SelectListEntries(HWND dialog, const std::vector<int>& indexes)
{
    HWND list = FindListBox(dialog);
    if (!list)
        return;
    SendMessageA(list, LB_SETSEL, FALSE, -1);
    for (int index : indexes)
        SendMessageA(list, LB_SETSEL, TRUE, index);
}

void DoubleClickListEntry(HWND dialog, int index)
{
    HWND list = FindListBox(dialog);
    if (!list)
        return;
    SelectListEntries(dialog, {index});
    SendMessageA(list, LB_SETCARETINDEX, index, FALSE);
    int listId = static_cast<int>(GetWindowLongPtrA(list, GWLP_ID));
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(listId, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
}

void SetCheckBox(HWND dialog, int controlId, bool checked)
{
    CheckDlgButton(dialog, controlId, checked ? BST_CHECKED : BST_UNCHECKED);
}

std::string WindowTextCp932(HWND window)
{
    // GetWindowTextLengthW can over-report on ANSI windows: it only sizes the buffer.
    int capacity = GetWindowTextLengthW(window) + 1;
    std::wstring wide(static_cast<size_t>(capacity), L'\0');
    int length = GetWindowTextW(window, &wide[0], capacity);
    return length > 0 ? Cp932FromWide(wide.data(), static_cast<size_t>(length)) : std::string();
}

std::string MessageTextCp932(HWND dialog)
{
    HWND text = FindChildOf(dialog, "Static", 0xFFFF);
    return text ? WindowTextCp932(text) : std::string();
}

bool SaveWindowBitmap(HWND window, const std::string& bmpPath)
{
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return false;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return false;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);

    HDC windowDc = GetWindowDC(window);
    if (!windowDc)
        return false;
    HDC memoryDc = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateCompatibleBitmap(windowDc, width, height);
    bool ok = memoryDc && bitmap;
    std::vector<unsigned char> pixels;
    BITMAPINFO info = {};
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    if (ok) {
        HGDIOBJ previous = SelectObject(memoryDc, bitmap);
        ok = BitBlt(memoryDc, 0, 0, width, height, windowDc, 0, 0, SRCCOPY) != FALSE;
        SelectObject(memoryDc, previous);
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height; // bottom-up, as a BMP file stores rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        pixels.resize(static_cast<size_t>(stride) * static_cast<size_t>(height));
        ok = ok &&
             GetDIBits(memoryDc, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS) == height;
    }
    if (bitmap)
        DeleteObject(bitmap);
    if (memoryDc)
        DeleteDC(memoryDc);
    ReleaseDC(window, windowDc);
    if (!ok)
        return false;

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    info.bmiHeader.biSizeImage = static_cast<DWORD>(pixels.size());
    HANDLE out = CreateFileA(bmpPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    ok =
        WriteFile(out, &file, sizeof file, &written, nullptr) && written == sizeof file &&
        WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) && written == sizeof info.bmiHeader &&
        WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr) && written == pixels.size();
    return CloseHandle(out) && ok;
}
