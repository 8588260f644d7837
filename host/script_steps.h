#pragma once
// The steps of StandInHost.exe's scripted mode: their form, checked before
// anything runs, and what each asks for.

#include <string>
#include <vector>

struct ScriptStep {
    enum class Kind {
        kSelect,       // select N|ID: `text` (a number or a mail ID)
        kFolder,       // folder NAME: `text`
        kCommand,      // command 1|2: `number`
        kSetup,        // setup
        kScreenshot,   // screenshot FILE: `text`
        kLog,          // log FILE: `text`
        kAnswer,       // answer BUTTON: `number` is the button ID (IDOK ...)
        kListSelectAll,
        kListSelect,   // list select I,J: `indexes`
        kListDblClick, // list dblclick I: `number`
        kCheck,        // check ID on|off: `number`, `on`
        kShot,         // shot FILE: `text`
        kShotAfterStrip, // shot-after-strip N FILE: `number`, `text`
    };
    Kind kind = Kind::kSetup;
    std::string text;
    int number = 0;
    bool on = false;
    std::vector<int> indexes;
};

// The steps, as --help shows them.
extern const char kStepHelp[];

// Reads one step; false with the reason when it is not one.
bool ParseStep(const std::string& line, ScriptStep& step, std::string& error);
