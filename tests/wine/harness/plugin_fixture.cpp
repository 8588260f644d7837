#include "plugin_fixture.h"

#include <algorithm>
#include <cstdlib>

#include "cp932_text.h"

namespace {

constexpr int kHostMenuEntryId = 100;

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

// A folder of its own for every test, also when tests share one process.
std::string NewTempRoot()
{
    static unsigned counter = 0;
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    for (;;) {
        std::string root =
            std::string(temp) + "tlc-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) + "\\";
        if (CreateDirectoryA(root.c_str(), nullptr))
            return root;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
}

template <class Function> bool Bind(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

bool DeleteTree(const std::string& folder)
{
    std::string base = folder.back() == '\\' ? folder : folder + "\\";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((base + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = base + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryA(base.c_str()) != FALSE;
}

void PluginFixture::SetUp()
{
    root_ = NewTempRoot();
    ASSERT_FALSE(root_.empty()) << "no temporary folder";
    for (const std::string& folder :
         {DataFolder(), MailboxDirectory(), FolderDirectory(kInbox), FolderDirectory(kTrash), PluginDirectory()}) {
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    }
    InstallHost<MailboxHost>();
    dialogs_ = std::make_unique<DialogDriver>();
    ASSERT_TRUE(dialogs_->Installed()) << "the dialog hook could not be installed";
}

void PluginFixture::TearDown()
{
    UnloadPlugin();
    if (hostWindow_)
        DestroyWindow(hostWindow_);
    if (dialogs_) {
        for (const SeenDialog& seen : dialogs_->Seen()) {
            if (seen.closedByDriver)
                ADD_FAILURE() << "unexpected dialog, cancelled: \"" << seen.caption << "\" \"" << seen.text << "\"";
        }
        if (dialogs_->PendingSteps() > 0)
            ADD_FAILURE() << dialogs_->PendingSteps() << " dialog step(s) that no dialog took";
        dialogs_.reset();
    }
    SetHostBackend(nullptr);
    host_.reset();
    if (!root_.empty())
        DeleteTree(root_);
}

std::string PluginFixture::WriteMessage(const std::string& fileName, const std::string& bytes,
                                        const std::string& folder)
{
    std::string directory = FolderDirectory(folder);
    CreateDirectoryA(directory.c_str(), nullptr);
    EXPECT_TRUE(WriteWholeFile(directory + fileName, bytes.data(), bytes.size())) << directory + fileName;
    host_->Rescan();
    return folder + "\\" + fileName;
}

std::string PluginFixture::ReadBytes(const std::string& path)
{
    std::string bytes;
    ReadWholeFile(path, bytes, 1ull << 30);
    return bytes;
}

std::vector<std::string> PluginFixture::FilesIn(const std::string& folder) const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((FolderDirectory(folder) + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

std::string PluginDllPath()
{
    const char* chosen = std::getenv("TLCLIPSUM_DLL");
    return chosen && *chosen ? std::string(chosen) : ProgramFolder() + "TlClipsum.dll";
}

bool PluginFixture::LoadPlugin(const std::string& fileName)
{
    UnloadPlugin();
    std::string target = PluginDirectory() + fileName;
    if (!CopyFileA(PluginDllPath().c_str(), target.c_str(), FALSE)) {
        loadError_ = GetLastError();
        ADD_FAILURE() << "cannot copy " << PluginDllPath() << " to " << target << " (error " << loadError_ << ")";
        return false;
    }
    plugin_ = LoadLibraryA(target.c_str());
    if (!plugin_) {
        loadError_ = GetLastError();
        return false;
    }
    loadError_ = 0;
    bool all = Bind(plugin_, kPluginExportNames[0], exports_.OnStart);
    all = Bind(plugin_, kPluginExportNames[1], exports_.OnExit) && all;
    all = Bind(plugin_, kPluginExportNames[2], exports_.OnMenuInit) && all;
    all = Bind(plugin_, kPluginExportNames[3], exports_.OnOpenFolder) && all;
    all = Bind(plugin_, kPluginExportNames[4], exports_.OnOpenMail) && all;
    all = Bind(plugin_, kPluginExportNames[5], exports_.OnEveryMinute) && all;
    all = Bind(plugin_, kPluginExportNames[6], exports_.OnOpenCompose) && all;
    all = Bind(plugin_, kPluginExportNames[7], exports_.OnOutgoing) && all;
    all = Bind(plugin_, kPluginExportNames[8], exports_.OnKeyDispatch) && all;
    all = Bind(plugin_, kPluginExportNames[9], exports_.OnRetrieve) && all;
    all = Bind(plugin_, kPluginExportNames[10], exports_.OnSend) && all;
    all = Bind(plugin_, kPluginExportNames[11], exports_.OnFinishRetrieve) && all;
    all = Bind(plugin_, kPluginExportNames[12], exports_.OnPlugInSetup) && all;
    all = Bind(plugin_, kPluginExportNames[13], exports_.OnPlugInInfo) && all;
    EXPECT_TRUE(all) << "the plug-in lacks some of its 14 exports";
    return true;
}

void PluginFixture::UnloadPlugin()
{
    if (plugin_)
        FreeLibrary(plugin_);
    plugin_ = nullptr;
    exports_ = {};
}

std::string PluginFixture::IniPath(const std::string& dllFileName) const
{
    size_t dot = dllFileName.find_last_of('.');
    return PluginDirectory() + (dot == std::string::npos ? dllFileName : dllFileName.substr(0, dot)) + ".ini";
}

void PluginFixture::WriteIni(const std::string& text, const std::string& dllFileName)
{
    EXPECT_TRUE(WriteWholeFile(IniPath(dllFileName), text.data(), text.size()));
}

HWND PluginFixture::HostWindow()
{
    if (hostWindow_)
        return hostWindow_;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TlTestHostWindow";
    RegisterClassA(&windowClass); // fails harmlessly when a previous test registered it
    HMENU bar = CreateMenu();
    for (int type = 1; type <= 2; ++type) {
        menus_[type - 1] = CreatePopupMenu();
        AppendMenuA(menus_[type - 1], MF_STRING, kHostMenuEntryId + type, type == 1 ? "Refresh" : "Options");
        AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(menus_[type - 1]), type == 1 ? "Message" : "Tools");
    }
    hostWindow_ = CreateWindowA("TlTestHostWindow", "Test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300,
                                nullptr, bar, GetModuleHandleA(nullptr), nullptr);
    return hostWindow_;
}

HMENU PluginFixture::MenuOfType(int type)
{
    HostWindow();
    return type == 1 || type == 2 ? menus_[type - 1] : nullptr;
}

std::vector<std::string> PluginFixture::MenuEntries(HMENU menu)
{
    std::vector<std::string> entries;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t label[256] = {};
        int length = GetMenuStringW(menu, static_cast<UINT>(i), label, 255, MF_BYPOSITION);
        entries.push_back(length > 0 ? Cp932FromWide(label, static_cast<size_t>(length)) : std::string());
    }
    return entries;
}

bool PluginFixture::RunMenuCommand(int type)
{
    const RegisteredCommand* command = host_->LatestCommandFor(type);
    return command && host_->RunCommand(command->id, HostWindow());
}
