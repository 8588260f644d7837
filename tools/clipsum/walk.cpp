#include "walk.h"

#include "message_file.h"

#include <cerrno>
#include <initializer_list>
#include <cstdlib>
#include <cstring>

namespace {

// Folders below a named one that are walked; deeper ones get a line of their own.
constexpr int kMaxFolderDepth = 64;

// Items are told to the watcher in batches, so that the threads waiting for
// them meet the walk rarely.
constexpr std::size_t kListedBatch = 256;

// The place of the next item; null when memory runs out or the list is full.
WorkItem* NextItem(WorkList* work)
{
    const std::size_t block = work->count / kWorkBlockItems;
    if (block >= kMaxWorkBlocks)
        return nullptr;
    if (!work->blocks) {
        work->blocks = static_cast<WorkItem**>(calloc(kMaxWorkBlocks, sizeof(WorkItem*)));
        if (!work->blocks)
            return nullptr;
    }
    if (!work->blocks[block]) {
        work->blocks[block] = static_cast<WorkItem*>(malloc(kWorkBlockItems * sizeof(WorkItem)));
        if (!work->blocks[block])
            return nullptr;
    }
    return &work->blocks[block][work->count % kWorkBlockItems];
}

void Counted(WorkList* work)
{
    ++work->count;
    if (work->watcher && work->count % kListedBatch == 0)
        work->watcher->Listed(work->count);
}

bool Add(WorkList* work, const char* path, ItemKind kind, const char* reason, int code)
{
    WorkItem* item = NextItem(work);
    char* copy = item ? static_cast<char*>(malloc(strlen(path) + 1)) : nullptr;
    if (!copy)
        return false;
    strcpy(copy, path);
    item->path = copy;
    item->kind = kind;
    item->listedRegular = false;
    item->why.reason = reason;
    item->why.code = code;
    Counted(work);
    return true;
}

// Adds a file its folder's listing named a regular file, taking path over.
bool AddListed(WorkList* work, char*& path, ItemKind kind, const FileIdentity& identity)
{
    WorkItem* item = NextItem(work);
    if (!item)
        return false;
    item->path = path;
    item->kind = kind;
    item->listedRegular = true;
    item->listedIdentity = identity;
    path = nullptr;
    Counted(work);
    return true;
}

bool IsFolder(const char* path)
{
    EntryFacts facts;
    return LookAt(path, &facts) && !facts.link && facts.kind == FileKind::Directory;
}

bool IsFolderNamed(const char* parent, const char* name)
{
    char* path = JoinPath(parent, name);
    bool folder = path && IsFolder(path);
    free(path);
    return folder;
}

// Whether path, a symbolic link, leads to a place inside the tree at root
// (resolved): a link out of it, or one that cannot be resolved, is not followed.
bool LeadsInside(const char* path, const char* root)
{
    char* target = ResolveLinks(path);
    std::size_t rootLength = root ? strlen(root) : 0;
    bool inside = target && root && strncmp(target, root, rootLength) == 0 &&
                  (target[rootLength] == '/' || target[rootLength] == '\\');
    free(target);
    return inside;
}

class Walker {
public:
    Walker(bool recursive, WorkList* work) : recursive_(recursive), work_(work) {}

    bool Target(const char* path)
    {
        EntryFacts facts;
        if (!LookAt(path, &facts) || facts.kind != FileKind::Directory)
            return Add(work_, path, ItemKind::File, nullptr, 0);
        root_ = ResolveLinks(path);
        bool added = IsMaildir(path) ? Maildir(path, 0) : Folder(path, 0);
        free(root_);
        root_ = nullptr;
        return added;
    }

private:
    bool Maildir(const char* path, int depth)
    {
        for (const char* part : {"cur", "new"}) {
            char* folder = JoinPath(path, part);
            bool added = folder && Entries(folder, depth, true);
            free(folder);
            if (!added)
                return false;
        }
        // Maildir++ keeps its sub-folders as ".Name" folders beside cur/, new/ and tmp/.
        return !recursive_ || Entries(path, depth, false);
    }

    bool Folder(const char* path, int depth) { return Entries(path, depth, false); }

    // The entries of folder. inMaildir: folder is a Maildir's cur/ or new/.
    bool Entries(const char* folder, int depth, bool inMaildir)
    {
        NameList names{};
        FileError error{};
        if (!ListDirectory(folder, &names, &error)) {
            FreeNames(&names);
            return error.code != ENOMEM && Add(work_, folder, ItemKind::Failed, error.what, error.code);
        }
        bool maildirRoot = !inMaildir && IsMaildir(folder);
        bool added = true;
        for (std::size_t i = 0; added && i < names.count; ++i) {
            const char* name = names.names[i];
            // Beside cur/, new/ and tmp/ a Maildir holds the server's files, and its
            // sub-folders (Maildir++ names them ".Sent" and so on).
            if (maildirRoot && (strcmp(name, "cur") == 0 || strcmp(name, "new") == 0 || strcmp(name, "tmp") == 0 ||
                                !IsFolderNamed(folder, name)))
                continue;
            // Hidden files are not mail, and ours are temporary.
            if (name[0] == '.' && !maildirRoot)
                continue;
            char* path = JoinPath(folder, name);
            added = path && Entry(path, names.listed[i], FileIdentity{names.volume, names.listed[i].index}, depth,
                                  inMaildir);
            free(path);
        }
        FreeNames(&names);
        return added;
    }

    // Takes path over when the work keeps it.
    bool Entry(char*& path, const ListedEntry& listed, const FileIdentity& identity, int depth, bool inMaildir)
    {
        ItemKind fileKind = inMaildir ? ItemKind::MaildirMessage : ItemKind::File;
        // A folder of 100,000 messages is listed without a look at each.
        if (listed.kind == ListedKind::Regular)
            return AddListed(work_, path, fileKind, identity);
        EntryFacts facts{FileKind::Directory, false};
        if (listed.kind != ListedKind::Directory && !LookAt(path, &facts))
            return Add(work_, path, ItemKind::Failed, "vanished while the folder was read", errno);
        if (facts.link) {
            if (facts.kind == FileKind::Directory)
                return Add(work_, path, ItemKind::Skipped, "symbolic link to a folder, not followed", 0);
            if (facts.kind != FileKind::Regular || !LeadsInside(path, root_))
                return Add(work_, path, ItemKind::Skipped, "symbolic link out of the tree, not followed", 0);
            return Add(work_, path, fileKind, nullptr, 0);
        }
        switch (facts.kind) {
        case FileKind::Regular:
            return Add(work_, path, fileKind, nullptr, 0);
        case FileKind::Directory:
            if (!recursive_) {
                ++work_->foldersNotEntered;
                return true;
            }
            if (depth + 1 > kMaxFolderDepth)
                return Add(work_, path, ItemKind::Failed, "folders nested more than 64 deep, not entered", 0);
            return IsMaildir(path) ? Maildir(path, depth + 1) : Folder(path, depth + 1);
        case FileKind::NamedPipe:
        case FileKind::Device:
        case FileKind::Other:
            break;
        }
        return Add(work_, path, ItemKind::Skipped, "not a regular file", 0);
    }

    bool recursive_;
    WorkList* work_;
    char* root_ = nullptr;
};

} // namespace

bool IsMaildir(const char* path)
{
    return IsFolderNamed(path, "cur") && IsFolderNamed(path, "new") && IsFolderNamed(path, "tmp");
}

bool CollectWork(const NameList& targets, bool recursive, WorkList* work)
{
    Walker walker(recursive, work);
    for (std::size_t i = 0; i < targets.count; ++i) {
        if (!walker.Target(targets.names[i]))
            return false;
    }
    return true;
}

void FreeWork(WorkList* work)
{
    for (std::size_t i = 0; i < work->count; ++i)
        free(ItemAt(*work, i).path);
    for (std::size_t block = 0; work->blocks && block < kMaxWorkBlocks && work->blocks[block]; ++block)
        free(work->blocks[block]);
    free(work->blocks);
    *work = WorkList{};
}
