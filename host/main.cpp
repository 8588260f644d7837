// StandInHost.exe: a small mail client in place of the real host, for people
// trying the plug-in under Wine and for scripted end-to-end runs.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mailbox_host.h"
#include "script_steps.h"
#include "standin_app.h"

namespace {

const char kUsage[] = "Usage: StandInHost.exe [--data DIR] [--mailbox NAME] [--folder NAME] [--plugin PATH]\n"
                      "                       [--full-disk BYTES] [--script FILE] [--do STEP]...\n"
                      "  --data DIR      data folder (default: the folder mail\\ beside this program,\n"
                      "                  created with Main\\Inbox and Main\\Trash); Unix paths work\n"
                      "                  through the Z: drive, e.g. Z:\\tmp\\mail\\\n"
                      "  --mailbox NAME  mailbox directory inside the data folder (default Main)\n"
                      "  --folder NAME   folder shown, inside the mailbox (default Inbox)\n"
                      "  --plugin PATH   the plug-in to load (default: TlClipsum.dll beside this program)\n"
                      "  --full-disk BYTES  simulate a full disk: each backup copy fails after writing\n"
                      "                  BYTES bytes, its partial file is removed and\n"
                      "                  TLA_MoveSelectedMessages answers 0\n"
                      "  --script FILE   run the steps in FILE, then exit\n"
                      "  --do STEP       run STEP (repeatable; after the script's steps), then exit\n"
                      "Messages are the .eml files of the folder, listed in file name order.\n"
                      "Without steps the window stays open for a person to use.\n\n";

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

bool ReadSteps(const std::string& path, std::vector<std::string>& steps)
{
    std::string text;
    if (!ReadWholeFile(path, text, 1 << 20))
        return false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos && line[first] != '#')
            steps.push_back(line.substr(first));
        start = end + 1;
    }
    return true;
}

// A count of bytes: 1 to 18 decimal digits, nothing else.
bool ParseByteCount(const std::string& text, unsigned long long& count)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    count = std::strtoull(text.c_str(), nullptr, 10);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dataFolder, mailbox = "Main", folder = "Inbox", pluginPath;
    std::vector<std::string> scriptSteps, doSteps;
    bool scripted = false;
    bool fullDisk = false;
    unsigned long long copyRoom = 0;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h" || option == "/?") {
            std::fputs(kUsage, stdout);
            std::fputs(kStepHelp, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "StandInHost: %s needs a value (see --help)\n", option.c_str());
            return 64;
        }
        std::string value = argv[++i];
        if (option == "--data") {
            dataFolder = value;
        } else if (option == "--mailbox") {
            mailbox = value;
        } else if (option == "--folder") {
            folder = value;
        } else if (option == "--plugin") {
            pluginPath = value;
        } else if (option == "--full-disk") {
            fullDisk = true;
            if (!ParseByteCount(value, copyRoom)) {
                std::fprintf(stderr, "StandInHost: --full-disk needs a count of bytes, not %s\n", value.c_str());
                return 64;
            }
        } else if (option == "--script") {
            scripted = true;
            if (!ReadSteps(value, scriptSteps)) {
                std::fprintf(stderr, "StandInHost: cannot read the script %s\n", value.c_str());
                return 64;
            }
        } else if (option == "--do") {
            scripted = true;
            doSteps.push_back(value);
        } else {
            std::fprintf(stderr, "StandInHost: unknown option %s (see --help)\n", option.c_str());
            return 64;
        }
    }
    std::vector<std::string> steps = scriptSteps;
    steps.insert(steps.end(), doSteps.begin(), doSteps.end());
    for (const std::string& step : steps) {
        ScriptStep parsed;
        std::string error;
        if (!ParseStep(step, parsed, error)) {
            std::fprintf(stderr, "StandInHost: %s (see --help)\n", error.c_str());
            return 64;
        }
    }

    if (dataFolder.empty()) {
        dataFolder = ProgramFolder() + "mail\\";
        std::string mailboxDirectory = dataFolder + mailbox + "\\";
        CreateDirectoryA(dataFolder.c_str(), nullptr);
        CreateDirectoryA(mailboxDirectory.c_str(), nullptr);
        CreateDirectoryA((mailboxDirectory + folder).c_str(), nullptr);
        CreateDirectoryA((mailboxDirectory + "Trash").c_str(), nullptr);
    }
    if (pluginPath.empty())
        pluginPath = ProgramFolder() + "TlClipsum.dll";

    MailboxHost host(dataFolder, mailbox, folder);
    if (fullDisk)
        host.SimulateFullDisk(copyRoom);
    SetHostBackend(&host);
    int status = 0;
    {
        StandInApp app(host, pluginPath);
        if (!app.CreateMainWindow()) {
            std::fprintf(stderr, "StandInHost: cannot create the main window\n");
            status = 70;
        } else {
            std::string error;
            if (!app.LoadPlugin(error)) {
                std::fprintf(stderr, "StandInHost: %s\n", error.c_str());
                if (scripted) {
                    SetHostBackend(nullptr);
                    return 2;
                }
                MessageBoxA(nullptr, error.c_str(), "StandInHost", MB_OK | MB_ICONWARNING);
            }
            status = app.Run(scripted, steps);
        }
    }
    SetHostBackend(nullptr);
    return status;
}
