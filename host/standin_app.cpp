#include "standin_app.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "cp932_text.h"
#include "script_steps.h"
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

} // namespace

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

    std::wstring title = L"Tolvane (stand-in) - " + WideFromCp932(host_.Mailbox() + host_.Folder());
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
    std::wstring loaded = L"プラグイン: " + WideFromCp932(info_.name + " " + info_.version + " (" + info_.vendor + ")");
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
    // One message clears every row: a bulk strip reselects a message per
    // strip, and a message per row would make it crawl in a large folder.
    LVITEMW item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    for (size_t row = 0; row < listedIds_.size(); ++row) {
        if (listedIds_[row] == current) {
            item.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
            SendMessageW(list_, LVM_ENSUREVISIBLE, row, FALSE);
            break;
        }
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
        ++sourcesReplaced_;
        for (const auto& shot : stripShots_) {
            HWND active = GetActiveWindow();
            if (shot.first == sourcesReplaced_ && !SaveWindowBitmap(active ? active : window_, shot.second)) {
                std::fprintf(stderr, "StandInHost: cannot write %s\n", shot.second.c_str());
                exitStatus_ = 1;
            }
        }
        for (size_t row = 0; row < listedIds_.size(); ++row) {
            if (listedIds_[row] == mailId)
                ShowRow(row, host_.Summarize(mailId));
        }
    }
    if (event == HostEvent::kMessageText) {
        std::wstring text = WideFromCp932(host_.MessageText());
        SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void StandInApp::ShowPluginInfo()
{
    std::wstring text = plugin_ ? WideFromCp932(info_.name + "\r\n" + info_.vendor + "  " + info_.version + "\r\n\r\n" +
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
            text += Cp932FromWide(label, wcsnlen(label, 255)) + " [" + std::to_string(item.wID) + "]";
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

bool StandInApp::RunStep(const std::string& line, std::string& error)
{
    using Kind = ScriptStep::Kind;
    ScriptStep step;
    if (!ParseStep(line, step, error))
        return false;
    switch (step.kind) {
    case Kind::kSelect: {
        std::string target = step.text;
        if (!target.empty() && target.find_first_not_of("0123456789") == std::string::npos) {
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
        return true;
    }
    case Kind::kFolder:
        host_.SetFolder(step.text);
        return true;
    case Kind::kCommand: {
        const RegisteredCommand* command = host_.LatestCommandFor(step.number);
        if (!command) {
            error = "the plug-in registered no command for menu type " + std::to_string(step.number);
            return false;
        }
        SendMessageW(window_, WM_COMMAND, MAKEWPARAM(command->id, 0), 0);
        return true;
    }
    case Kind::kSetup:
        if (!exports_[kOnPlugInSetup]) {
            error = "the plug-in has no TLC_OnPlugInSetup";
            return false;
        }
        RunSetup();
        return true;
    case Kind::kScreenshot:
    case Kind::kLog:
        if (!(step.kind == Kind::kLog ? WriteLog(step.text) : SaveWindowBitmap(window_, step.text))) {
            error = "cannot write " + step.text;
            return false;
        }
        return true;
    case Kind::kAnswer:
        driver_->Press(step.number);
        return true;
    case Kind::kListSelectAll:
        driver_->Run("selected all list entries", SelectAllListEntries);
        return true;
    case Kind::kListSelect: {
        std::vector<int> indexes = step.indexes;
        driver_->Run("selected list entries " + step.text,
                     [indexes](HWND dialog) { SelectListEntries(dialog, indexes); });
        return true;
    }
    case Kind::kListDblClick: {
        int index = step.number;
        driver_->Run("double-clicked list entry " + step.text,
                     [index](HWND dialog) { DoubleClickListEntry(dialog, index); });
        return true;
    }
    case Kind::kCheck: {
        int id = step.number;
        bool on = step.on;
        driver_->Run("check box " + step.text, [id, on](HWND dialog) { SetCheckBox(dialog, id, on); });
        return true;
    }
    case Kind::kShot:
        driver_->Screenshot(step.text);
        return true;
    case Kind::kShotAfterStrip:
        stripShots_.emplace_back(sourcesReplaced_ + step.number, step.text);
        return true;
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
