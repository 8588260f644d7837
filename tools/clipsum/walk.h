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

// Told of the items as the walk adds them, from the walking thread.
class WorkWatcher {
public:
    // Items from 0 up to count are in the list and stay where they are.
    virtual void Listed(std::size_t count) = 0;

protected:
    ~WorkWatcher() = default;
};

// Items live in blocks that never move, so that other threads may handle the
// first ones while the walk adds more.
constexpr std::size_t kWorkBlockItems = 4096;
constexpr std::size_t kMaxWorkBlocks = 4096; // 16,777,216 files in one run at most

struct WorkList {
    WorkItem** blocks; // kMaxWorkBlocks pointers, made with the first item
    std::size_t count;
    unsigned long foldersNotEntered; // sub-folders seen without -r
    WorkWatcher* watcher;            // or null
};

inline const WorkItem& ItemAt(const WorkList& work, std::size_t index)
{
    return work.blocks[index / kWorkBlockItems][index % kWorkBlockItems];
}

// A folder with cur/, new/ and tmp/ folders.
bool IsMaildir(const char* path);

// Adds the work for each target, telling the list's watcher as it goes. False
// only when memory runs out (or the list is full).
bool CollectWork(const NameList& targets, bool recursive, WorkList* work);
void FreeWork(WorkList* work);
