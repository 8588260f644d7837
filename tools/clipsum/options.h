#pragma once
// The command line: the two commands, their options, and the help text.

#include "examine.h"

enum class Mode { Unset, InPlace, ToStdout, DryRun };

struct StripOptions {
    Mode mode = Mode::Unset;
    bool force = false;
    bool recursive = false;
    bool quiet = false;
    const char* backupDir = nullptr;
    const char* reportPath = nullptr;
    bool note = false;
    const char* saveDir = nullptr;
    unsigned long long olderThanDays = 0;
    unsigned jobs = 0; // 0: one per processor
    Filters filters{};
};

struct RestoreOptions {
    bool dryRun = false;
    bool force = false;
    bool quiet = false;
    const char* backupDir = nullptr;
};

constexpr int kExitHandled = 0;
constexpr int kExitFileFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kGoOn = -1; // the arguments are sound: go on with the files

int UsageError(const char* problem, const char* argument);

// Parse the arguments after the command (argv[2] on). The files stay in argv
// in order; options are replaced by null there. Return kGoOn, or the exit
// status to end with (after --help or --version, or a usage error).
int ParseStripOptions(int argc, char** argv, StripOptions* options);
int ParseRestoreOptions(int argc, char** argv, RestoreOptions* options);

// "1M" and the like: bytes, with an optional k, M or G (powers of 1024).
bool ParseSize(const char* text, unsigned long long* bytes);

void PrintHelp();
void PrintVersion();
