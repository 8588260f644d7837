#include "script_steps.h"

#include <windows.h>

#include <cctype>
#include <sstream>

namespace {

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
    const struct {
        const char* name;
        int id;
    } buttons[] = {{"ok", IDOK},         {"cancel", IDCANCEL}, {"abort", IDABORT}, {"retry", IDRETRY},
                   {"ignore", IDIGNORE}, {"yes", IDYES},       {"no", IDNO}};
    for (const auto& button : buttons) {
        if (name == button.name)
            return button.id;
    }
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
                         "  shot-after-strip N FILE.bmp  picture of the active window once the plug-in has\n"
                         "                       handed back its N-th new source (the list during a bulk strip)\n"
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

bool ParseStep(const std::string& line, ScriptStep& step, std::string& error)
{
    using Kind = ScriptStep::Kind;
    std::vector<std::string> words = Words(line);
    step = ScriptStep();
    bool ok = false;
    if (words.empty()) {
        error = "empty step";
        return false;
    }
    const std::string& verb = words[0];
    const struct {
        const char* verb;
        Kind kind;
    } withText[] = {{"select", Kind::kSelect},
                    {"folder", Kind::kFolder},
                    {"screenshot", Kind::kScreenshot},
                    {"log", Kind::kLog},
                    {"shot", Kind::kShot}};
    for (const auto& form : withText) {
        if (verb == form.verb) {
            step.kind = form.kind;
            step.text = Rest(line, 1);
            ok = words.size() >= 2;
        }
    }
    if (verb == "command") {
        step.kind = Kind::kCommand;
        ok = words.size() == 2 && (words[1] == "1" || words[1] == "2");
        step.number = ok ? std::stoi(words[1]) : 0;
    } else if (verb == "shot-after-strip") {
        step.kind = Kind::kShotAfterStrip;
        ok = words.size() >= 3 && IsNumber(words[1]) && std::stoi(words[1]) > 0;
        step.number = ok ? std::stoi(words[1]) : 0;
        step.text = Rest(line, 2);
    } else if (verb == "setup") {
        step.kind = Kind::kSetup;
        ok = words.size() == 1;
    } else if (verb == "answer") {
        step.kind = Kind::kAnswer;
        step.number = words.size() == 2 ? ButtonIdOf(words[1]) : 0;
        ok = step.number != 0;
    } else if (verb == "list" && words.size() == 2 && words[1] == "select-all") {
        step.kind = Kind::kListSelectAll;
        ok = true;
    } else if (verb == "list" && words.size() == 3 && words[1] == "select") {
        step.kind = Kind::kListSelect;
        step.text = words[2];
        ok = ParseIndexes(words[2], step.indexes);
    } else if (verb == "list" && words.size() == 3 && words[1] == "dblclick") {
        step.kind = Kind::kListDblClick;
        step.text = words[2];
        ok = IsNumber(words[2]);
        step.number = ok ? std::stoi(words[2]) : 0;
    } else if (verb == "check") {
        step.kind = Kind::kCheck;
        ok = words.size() == 3 && IsNumber(words[1]) && (words[2] == "on" || words[2] == "off");
        step.number = ok ? std::stoi(words[1]) : 0;
        step.on = ok && words[2] == "on";
        step.text = ok ? words[1] + " " + words[2] : std::string();
    }
    if (!ok)
        error = "not a step: " + line;
    return ok;
}
