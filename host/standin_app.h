#pragma once
// The stand-in host's main window and its scripted mode: loads the plug-in
// as the mail client would, offers it a message menu (type 1) and a tools
// menu (type 2), lists the current folder, shows the status line.

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dialog_driver.h"
#include "mailbox_host.h"

struct PluginInfo {
    std::string name, vendor, version, description;
};

class StandInApp {
public:
    StandInApp(MailboxHost& host, std::string pluginPath);
    ~StandInApp();

    bool CreateMainWindow();
    // LoadLibrary, the 14 exports, TLC_OnStart, TLC_OnPlugInInfo and
    // TLC_OnMenuInit for both menus. False (with the reason) when the load fails.
    bool LoadPlugin(std::string& error);
    // Runs the message loop; when scripted, runs the steps, then closes.
    // Returns the exit status: 0, or 1 when a step failed.
    int Run(bool scripted, const std::vector<std::string>& steps);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void BuildMenus();
    void Layout();
    void FillList();
    void ShowRow(size_t row, const MessageSummary& summary);
    void SelectCurrentInList();
    void OnHostEvent(HostEvent event, const std::string& mailId);
    void ShowPluginInfo();
    void RunSetup();
    bool RunStep(const std::string& step, std::string& error);
    void RunSteps();
    bool WriteLog(const std::string& path);
    std::string MenuText(HMENU menu) const;

    MailboxHost& host_;
    std::string pluginPath_;
    HMODULE plugin_ = nullptr;
    PluginInfo info_;
    void* exports_[14] = {}; // as untyped addresses: the host casts each to its own type
    HWND window_ = nullptr;
    HWND list_ = nullptr;
    HWND status_ = nullptr;
    HMENU messageMenu_ = nullptr;
    HMENU toolsMenu_ = nullptr;
    std::vector<std::string> listedIds_;
    bool syncingSelection_ = false;
    std::unique_ptr<DialogDriver> driver_;
    std::vector<std::string> steps_;
    std::vector<std::string> setupResults_;
    // Pictures to take once that many new sources have been handed back.
    std::vector<std::pair<int, std::string>> stripShots_;
    int sourcesReplaced_ = 0;
    int exitStatus_ = 0;
};
