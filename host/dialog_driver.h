#pragma once
// Drives dialogs and message boxes from inside the process, so that GUI paths
// run unattended: a thread-local WH_CBT hook sees each "#32770" window when it
// is created, and a timer then records it and acts on it from the queue of
// scripted steps once it is shown, outside the hook.
//
// Steps are taken in the order the dialogs appear. A step that leaves its
// dialog open (a screenshot, a selection) hands the same dialog to the next
// step. A dialog with no step left is closed with Cancel (or ended outright)
// and recorded as closed by the driver, so a missing answer never hangs a run.

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

struct SeenDialog {
    std::string caption;            // code page 932 bytes
    std::string text;               // the static control 0xFFFF: a message box's message
    std::vector<std::string> steps; // what was done to it, in order
    bool closedByDriver = false;    // no scripted step was left for it
};

class DialogDriver {
public:
    using Action = std::function<void(HWND dialog)>;

    // Installs the hook on the calling thread; one driver per thread.
    DialogDriver();
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    bool Installed() const { return hook_ != nullptr; }

    // Presses a button (IDOK, IDCANCEL, IDYES ...) of the next dialog.
    void Press(int buttonId);
    // Runs an action on the next dialog; it may leave the dialog open.
    void Run(std::string description, Action action);
    // Saves a picture of the next dialog (24-bit BMP); the dialog stays open.
    void Screenshot(std::string bmpPath);

    size_t PendingSteps() const { return steps_.size(); }
    const std::vector<SeenDialog>& Seen() const { return seen_; }
    size_t ClosedByDriverCount() const;
    // One line per dialog: caption, text and what was done, texts in code page 932.
    std::string Format() const;
    void Clear();

private:
    struct Step {
        std::string description;
        Action action;
    };
    struct Tracked {
        HWND window;
        size_t seenIndex;
    };

    static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
    static void CALLBACK TimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
    void Act(HWND dialog);
    size_t SeenIndexOf(HWND dialog);

    HHOOK hook_ = nullptr;
    std::deque<Step> steps_;
    std::vector<SeenDialog> seen_;
    std::vector<Tracked> open_; // dialogs seen and not yet destroyed
};

// Actions for DialogDriver::Run and for tests that act themselves.
void PressButton(HWND dialog, int buttonId);
// The dialog's first list box; null when it has none.
HWND FindListBox(HWND dialog);
void SelectAllListEntries(HWND dialog);
// The texts of the dialog's first list box, as code page 932 bytes, in order.
std::vector<std::string> ListEntryTexts(HWND dialog);
void SelectListEntries(HWND dialog, const std::vector<int>& indexes);
// Selects one entry and sends the dialog the list's double-click notification.
void DoubleClickListEntry(HWND dialog, int index);
void SetCheckBox(HWND dialog, int controlId, bool checked);

// The window's text as code page 932 bytes, converted explicitly so that the
// result does not depend on the process's ANSI code page.
std::string WindowTextCp932(HWND window);
// The static control 0xFFFF of a dialog (a message box's message); empty when absent.
std::string MessageTextCp932(HWND dialog);

// Draws the window (frame included) and writes it as a 24-bit BMP.
bool SaveWindowBitmap(HWND window, const std::string& bmpPath);
