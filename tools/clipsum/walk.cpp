#include "walk.h"

#include "message_file.h"

#include <cerrno>
#include <initializer_list>
#include <cstdlib>
#include <cstring>

namespace {

// Folders below a named one that are walked; deeper ones get a line of their own.
constexpr int kMaxFolderDepth = 64;

bool HasRoom(WorkList* work)
{
    if (work->count < work->capacity)
        return true;
    std::size_t capacity = work->capacity ? work->capacity * 2 : 256;
    auto* grown = static_cast<WorkItem*>(realloc(work->items, capacity * sizeof(WorkItem)));
    if (!grown)
        return false;
    work->items = grown;
    work->capacity = capacity;
    return true;
}

bool Add(WorkList* work, const char* path, ItemKind kind, const char* reason, int code)
{
    if (!HasRoom(work))
        return false;
    char* copy = static_cast<char*>(malloc(strlen(path) + 1));
    if (!copy)
        return false;
    strcpy(copy, path);
    WorkItem& item = work->items[work->count++];
    item.path = copy;
    item.kind = kind;
    item.listedRegular = false;
    item.why.reason = reason;
    item.why.code = code;
    return true;
}

// Adds a file its folder's listing named a regular file, taking path over.
bool AddListed(WorkList* work, char*& path, ItemKind kind, const FileIdentity& identity)
{
    if (!HasRoom(work))
        return false;
    WorkItem& item = work->items[work->count++];
    item.path = path;
    item.kind = kind;
    item.listedRegular = true;
    item.listedIdentity = identity;
    path = nullptr;
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
        free(work->items[i].path);
    free(work->items);
    *work = WorkList{};
}
