#pragma once
// Turns the FILE and FOLDER arguments into the list of files to handle, in a
// stable order: the arguments as given, each folder's entries by name.

#include "platform.h"

#include <cstddef>

enum class ItemKind {
    File,           // a message file or an mbox (told apart when it is read)
    MaildirMessage, // a message in a Maildir's cur/ or new/
    Skipped,        // met in a folder and not to be handled (reason)
    Failed,         // a folder that could not be listed (reason, code)
};

struct WorkItem {
    char* path;
    ItemKind kind;
    bool listedRegular; // its folder's listing named it a regular file, not a link
    // One or the other, so that a list of 100,000 files stays small.
    union {
        // Skipped and Failed: why.
        struct {
            const char* reason;
            int code;
        } why;
        // A listed regular file: what its listing told of it (index 0:
        // nothing), which spares a look when threads must tell whether two
        // items are one file.
        FileIdentity listedIdentity;
    };
};

struct WorkList {
    WorkItem* items;
    std::size_t count;
    std::size_t capacity;
    unsigned long foldersNotEntered; // sub-folders seen without -r
};

// A folder with cur/, new/ and tmp/ folders.
bool IsMaildir(const char* path);

// Adds the work for each target. False only when memory runs out.
bool CollectWork(const NameList& targets, bool recursive, WorkList* work);
void FreeWork(WorkList* work);
