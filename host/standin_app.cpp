#include "standin_app.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "subject_text.h"

namespace {

constexpr UINT kRunStepsMessage = WM_APP + 1;
constexpr int kListId = 10;
constexpr int kStatusId = 11;
enum MenuId { kMenuExit = 100, kMenuRefresh, kMenuSetup, kMenuInfo };
// Indexes into kPluginExportNames of the exports the host calls.
enum ExportIndex { kOnStart = 0, kOnExit = 1, kOnMenuInit = 2, kOnPlugInSetup = 12, kOnPlugInInfo = 13 };

typedef int(WINAPI* NoArgumentCallback)();
typedef int(WINAPI* MenuInitCallback)(HWND, HMENU, int);
typedef int(WINAPI* SetupCallback)(HWND);
typedef int(WINAPI* InfoCallback)(char*);

constexpr size_t kInfoFieldSize = 80;

std::string Cp932(const std::wstring& wide)
{
    if (wide.empty())
        return std::string();
    int size = WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(932, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

std::wstring FromCp932(const std::string& bytes)
{
    if (bytes.empty())
        return std::wstring();
    int length = MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(932, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], length);
    return wide;
}

std::vector<std::string> Words(const std::string& step)
{
    std::istringstream in(step);
    std::vector<std::string> words;
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

// The rest of a step after its first `count` words, for file names with blanks.
std::string Rest(const std::string& step, size_t count)
{
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        at = step.find_first_not_of(" \t", at);
        at = step.find_first_of(" \t", at);
        if (at == std::string::npos)
            return std::string();
    }
    at = step.find_first_not_of(" \t", at);
    if (at == std::string::npos)
        return std::string();
    size_t end = step.find_last_not_of(" \t\r\n");
    return step.substr(at, end - at + 1);
}

bool IsNumber(const std::string& word)
{
    return !word.empty() && word.size() < 10 && word.find_first_not_of("0123456789") == std::string::npos;
}

int ButtonIdOf(std::string name)
{
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == "ok")
        return IDOK;
    if (name == "cancel")
        return IDCANCEL;
    if (name == "abort")
        return IDABORT;
    if (name == "retry")
        return IDRETRY;
    if (name == "ignore")
        return IDIGNORE;
    if (name == "yes")
        return IDYES;
    if (name == "no")
        return IDNO;
    return 0;
}

bool ParseIndexes(const std::string& list, std::vector<int>& indexes)
{
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (!IsNumber(item))
            return false;
        indexes.push_back(std::stoi(item));
    }
    return !indexes.empty();
}

} // namespace

const char kStepHelp[] = "Steps (--do STEP, repeatable, or one per line in --script FILE; '#' starts a comment):\n"
                         "  select N|ID          make message N (0 = first of the folder) or mail ID current\n"
                         "  folder NAME          show another folder of the mailbox\n"
                         "  command 1|2          run the plug-in's command of the message menu (1) or tools menu (2)\n"
                         "  setup                call TLC_OnPlugInSetup with the main window\n"
                         "  screenshot FILE.bmp  picture of the main window now\n"
                         "  log FILE             write the host calls and the dialogs seen so far\n"
                         "Steps for the dialogs still to come, taken in the order the dialogs appear\n"
                         "(queue them before the step that opens the dialog):\n"
                         "  answer ok|cancel|yes|no|abort|retry|ignore   press that button\n"
                         "  list select-all      select every entry of the dialog's list (the dialog stays open)\n"
                         "  list select I,J,...  select those entries (the dialog stays open)\n"
                         "  list dblclick I      double-click entry I (the dialog stays open)\n"
                         "  check ID on|off      set check box ID (the dialog stays open)\n"
                         "  shot FILE.bmp        picture of the dialog (it stays open)\n"
                         "A dialog with no step left is cancelled and the run fails; so does a queued step\n"
                         "that no dialog took. Exit status: 0 when every step succeeded.\n";

bool CheckStep(const std::string& step, std::string& error)
{
    std::vector<std::string> words = Words(step);
    if (words.empty()) {
        error = "empty step";
        return false;
    }
    const std::string& verb = words[0];
    bool ok = false;
    if (verb == "select" || verb == "folder" || verb == "screenshot" || verb == "log" || verb == "shot") {
        ok = words.size() >= 2;
    } else if (verb == "command") {
        ok = words.size() == 2 && (words[1] == "1" || words[1] == "2");
    } else if (verb == "setup") {
        ok = words.size() == 1;
    } else if (verb == "answer") {
        ok = words.size() == 2 && ButtonIdOf(words[1]) != 0;
    } else if (verb == "list") {
        std::vector<int> indexes;
        ok = (words.size() == 2 && words[1] == "select-all") ||
             (words.size() == 3 && words[1] == "select" && ParseIndexes(words[2], indexes)) ||
             (words.size() == 3 && words[1] == "dblclick" && IsNumber(words[2]));
    } else if (verb == "check") {
        ok = words.size() == 3 && IsNumber(words[1]) && (words[2] == "on" || words[2] == "off");
    }
    if (!ok)
        error = "not a step: " + step;
    return ok;
}

StandInApp::StandInApp(MailboxHost& host, std::string pluginPath) : host_(host), pluginPath_(std::move(pluginPath))
{
    host_.SetListener([this](HostEvent event, const std::string& mailId) { OnHostEvent(event, mailId); });
}

StandInApp::~StandInApp()
{
    host_.SetListener(nullptr);
    if (plugin_)
        FreeLibrary(plugin_);
}

bool StandInApp::CreateMainWindow()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"TlStandInHost";
    if (!RegisterClassExW(&windowClass))
        return false;

    std::wstring title = L"Tolvane (stand-in) - " + FromCp932(host_.Mailbox() + host_.Folder());
    window_ = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 640, 400, nullptr, nullptr, instance, this);
    if (!window_)
        return false;
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0, 0, 0, window_,
                            reinterpret_cast<HMENU>(kListId), instance, nullptr);
    status_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window_,
                              reinterpret_cast<HMENU>(kStatusId), instance, nullptr);
    SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const struct {
        const wchar_t* title;
        int width;
        int format;
    } columns[] = {{L"件名", 400, LVCFMT_LEFT}, {L"サイズ", 90, LVCFMT_RIGHT}, {L"添付", 60, LVCFMT_CENTER}};
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = columns[i].format;
        column.cx = columns[i].width;
        column.pszText = const_cast<wchar_t*>(columns[i].title);
        SendMessageW(list_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    BuildMenus();
    Layout();
    FillList();
    ShowWindow(window_, SW_SHOWNORMAL);
    SetFocus(list_);
    UpdateWindow(window_);
    return true;
}

// Each menu ends with an entry of the host's own, so that the plug-in's
// entries, inserted before the last one, show where they land.
void StandInApp::BuildMenus()
{
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, kMenuExit, L"終了(&X)");
    messageMenu_ = CreatePopupMenu();
    AppendMenuW(messageMenu_, MF_STRING, kMenuRefresh, L"一覧の更新(&R)");
    toolsMenu_ = CreatePopupMenu();
    AppendMenuW(toolsMenu_, MF_STRING, kMenuSetup, L"プラグインの設定(&S)...");
    AppendMenuW(toolsMenu_, MF_STRING, kMenuInfo, L"プラグイン情報(&I)...");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"ファイル(&F)");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(messageMenu_), L"メッセージ(&M)");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(toolsMenu_), L"ツール(&T)");
    SetMenu(window_, bar);
}

bool StandInApp::LoadPlugin(std::string& error)
{
    plugin_ = LoadLibraryA(pluginPath_.c_str());
    if (!plugin_) {
        error = "cannot load " + pluginPath_ + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    for (int i = 0; i < 14; ++i)
        exports_[i] = reinterpret_cast<void*>(GetProcAddress(plugin_, kPluginExportNames[i]));
    if (exports_[kOnStart])
        reinterpret_cast<NoArgumentCallback>(exports_[kOnStart])();
    if (exports_[kOnPlugInInfo]) {
        char record[4 * kInfoFieldSize] = {};
        reinterpret_cast<InfoCallback>(exports_[kOnPlugInInfo])(record);
        std::string* fields[4] = {&info_.name, &info_.vendor, &info_.version, &info_.description};
        for (size_t i = 0; i < 4; ++i) {
            const char* field = record + i * kInfoFieldSize;
            fields[i]->assign(field, strnlen(field, kInfoFieldSize));
        }
    }
    if (exports_[kOnMenuInit]) {
        MenuInitCallback menuInit = reinterpret_cast<MenuInitCallback>(exports_[kOnMenuInit]);
        menuInit(window_, messageMenu_, 1);
        menuInit(window_, toolsMenu_, 2);
        DrawMenuBar(window_);
    }
    std::wstring loaded = L"プラグイン: " + FromCp932(info_.name + " " + info_.version + " (" + info_.vendor + ")");
    SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(loaded.c_str()));
    return true;
}

int StandInApp::Run(bool scripted, const std::vector<std::string>& steps)
{
    steps_ = steps;
    if (scripted) {
        driver_.reset(new DialogDriver());
        PostMessageW(window_, kRunStepsMessage, 0, 0);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (exports_[kOnExit])
        reinterpret_cast<NoArgumentCallback>(exports_[kOnExit])();
    return exitStatus_;
}

LRESULT CALLBACK StandInApp::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        StandInApp* created = static_cast<StandInApp*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        created->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    StandInApp* app = reinterpret_cast<StandInApp*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (app && app->window_ == window)
        return app->Handle(message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT StandInApp::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE:
        Layout();
        return 0;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        if (id >= MailboxHost::kFirstCommandId && host_.RunCommand(id, window_))
            return 0;
        if (id == kMenuExit)
            DestroyWindow(window_);
        if (id == kMenuRefresh) {
            host_.Rescan();
            FillList();
        }
        if (id == kMenuSetup)
            RunSetup();
        if (id == kMenuInfo)
            ShowPluginInfo();
        return 0;
    }
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == kListId && header->code == LVN_ITEMCHANGED && !syncingSelection_) {
            NMLISTVIEW* change = reinterpret_cast<NMLISTVIEW*>(lParam);
            if ((change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED) && change->iItem >= 0 &&
                static_cast<size_t>(change->iItem) < listedIds_.size()) {
                syncingSelection_ = true;
                host_.SetCurrentMail(listedIds_[static_cast<size_t>(change->iItem)].c_str());
                syncingSelection_ = false;
            }
        }
        return 0;
    }
    case kRunStepsMessage:
        RunSteps();
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void StandInApp::Layout()
{
    if (!list_ || !status_)
        return; // not created yet
    SendMessageW(status_, WM_SIZE, 0, 0);
    RECT client, status;
    GetClientRect(window_, &client);
    GetWindowRect(status_, &status);
    MoveWindow(list_, 0, 0, client.right, client.bottom - (status.bottom - status.top), TRUE);
}

void StandInApp::FillList()
{
    syncingSelection_ = true;
    SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
    listedIds_.clear();
    for (const MessageSummary& summary : host_.Summaries()) {
        LVITEMW item = {};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(listedIds_.size());
        item.pszText = const_cast<wchar_t*>(L"");
        SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        listedIds_.push_back(summary.mailId);
        ShowRow(listedIds_.size() - 1, summary);
    }
    syncingSelection_ = false;
    SelectCurrentInList();
}

void StandInApp::ShowRow(size_t row, const MessageSummary& summary)
{
    std::wstring texts[3] = {SubjectForDisplay(summary.subject), std::to_wstring(summary.size),
                             summary.hasAttachments ? L"あり" : L""};
    for (int column = 0; column < 3; ++column) {
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = const_cast<wchar_t*>(texts[column].c_str());
        SendMessageW(list_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    }
}

void StandInApp::SelectCurrentInList()
{
    std::string current = host_.GetCurrentMail();
    syncingSelection_ = true;
    for (size_t row = 0; row < listedIds_.size(); ++row) {
        LVITEMW item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = listedIds_[row] == current ? LVIS_SELECTED | LVIS_FOCUSED : 0;
        SendMessageW(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        if (item.state)
            SendMessageW(list_, LVM_ENSUREVISIBLE, row, FALSE);
    }
    syncingSelection_ = false;
}

void StandInApp::OnHostEvent(HostEvent event, const std::string& mailId)
{
    if (!window_)
        return;
    if (event == HostEvent::kCurrentMailChanged)
        SelectCurrentInList();
    if (event == HostEvent::kFolderChanged)
        FillList();
    if (event == HostEvent::kMessageChanged) {
        for (size_t row = 0; row < listedIds_.size(); ++row) {
            if (listedIds_[row] == mailId)
                ShowRow(row, host_.Summarize(mailId));
        }
    }
    if (event == HostEvent::kMessageText) {
        std::wstring text = FromCp932(host_.MessageText());
        SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void StandInApp::ShowPluginInfo()
{
    std::wstring text = plugin_ ? FromCp932(info_.name + "\r\n" + info_.vendor + "  " + info_.version + "\r\n\r\n" +
                                            info_.description + "\r\n\r\n" + pluginPath_)
                                : L"プラグインは読み込まれていません。";
    MessageBoxW(window_, text.c_str(), L"プラグイン情報", MB_OK | MB_ICONINFORMATION);
}

void StandInApp::RunSetup()
{
    if (!exports_[kOnPlugInSetup])
        return;
    int result = reinterpret_cast<SetupCallback>(exports_[kOnPlugInSetup])(window_);
    setupResults_.push_back("TLC_OnPlugInSetup = " + std::to_string(result));
}

std::string StandInApp::MenuText(HMENU menu) const
{
    std::string text;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        if (i)
            text += " | ";
        MENUITEMINFOW item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        wchar_t label[256] = {};
        item.dwTypeData = label;
        item.cch = 255;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item);
        if ((item.fType & MFT_SEPARATOR) || label[0] == L'\0') {
            text += "-";
        } else {
            text += Cp932(label) + " [" + std::to_string(item.wID) + "]";
        }
    }
    return text;
}

bool StandInApp::WriteLog(const std::string& path)
{
    std::string out = "plugin: " + pluginPath_ + "\n";
    out += "info name: " + info_.name + "\ninfo vendor: " + info_.vendor + "\ninfo version: " + info_.version +
           "\ninfo description: " + info_.description + "\n";
    out += "menu 1: " + MenuText(messageMenu_) + "\nmenu 2: " + MenuText(toolsMenu_) + "\n";
    out += "status line: " + host_.MessageText() + "\n";
    out += "current mail: " + std::string(host_.GetCurrentMail()) + "\n";
    for (const std::string& line : setupResults_)
        out += line + "\n";
    out += "-- host calls\n" + host_.Log().Format();
    out += "-- dialogs\n" + (driver_ ? driver_->Format() : std::string());
    return WriteWholeFile(path, out.data(), out.size());
}

bool StandInApp::RunStep(const std::string& step, std::string& error)
{
    std::vector<std::string> words = Words(step);
    const std::string& verb = words[0];
    if (verb == "select") {
        std::string target = Rest(step, 1);
        if (IsNumber(target)) {
            const std::vector<std::string>& ids = host_.MailIds();
            size_t index = std::stoul(target);
            if (index >= ids.size()) {
                error = "no message " + target + " in the folder";
                return false;
            }
            target = ids[index];
        }
        if (!host_.SetCurrentMail(target.c_str())) {
            error = "no message " + target;
            return false;
        }
    } else if (verb == "folder") {
        host_.SetFolder(Rest(step, 1));
    } else if (verb == "command") {
        const RegisteredCommand* command = host_.LatestCommandFor(words[1] == "1" ? 1 : 2);
        if (!command) {
            error = "the plug-in registered no command for menu type " + words[1];
            return false;
        }
        SendMessageW(window_, WM_COMMAND, MAKEWPARAM(command->id, 0), 0);
    } else if (verb == "setup") {
        if (!exports_[kOnPlugInSetup]) {
            error = "the plug-in has no TLC_OnPlugInSetup";
            return false;
        }
        RunSetup();
    } else if (verb == "screenshot") {
        if (!SaveWindowBitmap(window_, Rest(step, 1))) {
            error = "cannot write " + Rest(step, 1);
            return false;
        }
    } else if (verb == "log") {
        if (!WriteLog(Rest(step, 1))) {
            error = "cannot write " + Rest(step, 1);
            return false;
        }
    } else if (verb == "answer") {
        driver_->Press(ButtonIdOf(words[1]));
    } else if (verb == "list" && words[1] == "select-all") {
        driver_->Run("selected all list entries", SelectAllListEntries);
    } else if (verb == "list" && words[1] == "select") {
        std::vector<int> indexes;
        ParseIndexes(words[2], indexes);
        driver_->Run("selected list entries " + words[2],
                     [indexes](HWND dialog) { SelectListEntries(dialog, indexes); });
    } else if (verb == "list" && words[1] == "dblclick") {
        int index = std::stoi(words[2]);
        driver_->Run("double-clicked list entry " + words[2],
                     [index](HWND dialog) { DoubleClickListEntry(dialog, index); });
    } else if (verb == "check") {
        int id = std::stoi(words[1]);
        bool on = words[2] == "on";
        driver_->Run("check box " + words[1] + " " + words[2], [id, on](HWND dialog) { SetCheckBox(dialog, id, on); });
    } else if (verb == "shot") {
        driver_->Screenshot(Rest(step, 1));
    }
    return true;
}

void StandInApp::RunSteps()
{
    for (size_t i = 0; i < steps_.size(); ++i) {
        std::string error;
        if (!RunStep(steps_[i], error)) {
            std::fprintf(stderr, "StandInHost: step %u \"%s\" failed: %s\n", static_cast<unsigned>(i + 1),
                         steps_[i].c_str(), error.c_str());
            exitStatus_ = 1;
            break;
        }
    }
    if (driver_->PendingSteps() > 0) {
        std::fprintf(stderr, "StandInHost: %u dialog step(s) left over: no dialog took them\n",
                     static_cast<unsigned>(driver_->PendingSteps()));
        exitStatus_ = 1;
    }
    for (const SeenDialog& seen : driver_->Seen()) {
        if (seen.closedByDriver) {
            std::fprintf(stderr, "StandInHost: unexpected dialog \"%s\" \"%s\" was cancelled\n", seen.caption.c_str(),
                         seen.text.c_str());
            exitStatus_ = 1;
        }
    }
    DestroyWindow(window_);
}
