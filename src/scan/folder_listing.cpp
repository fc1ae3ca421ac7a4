// SPDX-License-Identifier: MIT
#include "scan/folder_listing.h"

#include "platform/folder_entries.h"
#include "platform/name_order.h"
#include "scan/uring_queue.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace snapsift {

namespace {

// An entry as the folder's listing gives it, and the facts of a file once known.
struct RawEntry {
    std::string name;
    unsigned char type = DT_UNKNOWN;
    std::uint32_t tag = 0;
    FileFacts facts;
};

// Reads every entry of the folder just opened, 64 KiB of them per call,
// keeping the folders, the entries of unknown kind and the regular files of a
// ticked type. False when the folder cannot be read to its end.
bool ReadEntries(int fd, const TypePatterns& types, std::vector<RawEntry>& out)
{
    return EachFolderEntry(
        fd,
        [&](const char* name, unsigned char type) {
            if (type != DT_DIR && type != DT_REG && type != DT_UNKNOWN)
                return;
            const std::uint32_t tag = type == DT_DIR ? 0 : MatchTypes(name, &types);
            if (type == DT_REG && tag == 0)
                return;
            out.push_back(RawEntry{name, type, tag, {}});
        },
        false);
}

std::int64_t CreationTimeOf(const struct statx& sx)
{
    return (sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
}

// The facts a search records, as StatRegularFile gives them.
FileFacts FactsOf(const struct statx& sx)
{
    return FileFacts{sx.stx_size, CreationTimeOf(sx), IdentityOf(sx), (sx.stx_mask & STATX_BTIME) != 0};
}

// What an entry the listing gave no kind for is, as a folder listing one
// call at a time sees it: DT_DIR, DT_REG for a regular file of a ticked
// type, or DT_UNKNOWN for anything to leave out.
unsigned char KindOf(mode_t mode, const RawEntry& entry)
{
    if (S_ISDIR(mode) && entry.type != DT_REG)
        return DT_DIR;
    return S_ISREG(mode) && entry.tag != 0 ? DT_REG : DT_UNKNOWN;
}

// The kept entries (folders, and files with their facts) in name order.
FolderListing Gather(std::vector<RawEntry>& entries, std::vector<std::size_t>& kept)
{
    std::sort(kept.begin(), kept.end(),
              [&](std::size_t a, std::size_t b) { return CompareNames(entries[a].name, entries[b].name) < 0; });
    FolderListing out;
    std::size_t nameBytes = 0, fileCount = 0;
    for (const std::size_t k : kept) {
        if (entries[k].type == DT_REG) {
            nameBytes += entries[k].name.size() + 1;
            ++fileCount;
        }
    }
    out.files.names.reserve(nameBytes);
    out.files.tags.reserve(fileCount);
    out.files.facts.reserve(fileCount);
    out.subfolders.reserve(kept.size() - fileCount);
    for (const std::size_t k : kept) {
        RawEntry& e = entries[k];
        if (e.type == DT_DIR) {
            out.subfolders.push_back(ListedSubfolder{std::move(e.name), nullptr, false, nullptr});
            continue;
        }
        out.files.names.append(e.name.c_str(), e.name.size() + 1);
        out.files.tags.push_back(e.tag);
        out.files.facts.push_back(ListedFiles::Facts{e.facts.size, e.facts.creationTime, e.facts.identity});
    }
    return out;
}

// Opens the listed subfolders all at once while the budget has room, calling
// the hook before each. Those the walk leaves out by their name are not
// opened: the walk never enters them.
void OpenAhead(const FolderHandle& parent, const WalkContext& context, UringQueue& queue, const std::string& relative,
               std::vector<ListedSubfolder>& subfolders)
{
    const std::string parentPath = relative.empty() ? context.targetPath : JoinPath(context.targetPath, relative);
    SkippedFolders::ParentTop parentTop;
    const std::size_t room = static_cast<std::size_t>(context.budget->Room());
    std::vector<std::size_t> opened;
    std::vector<int> results(std::min(room, subfolders.size()));
    for (std::size_t k = 0; k < subfolders.size() && opened.size() < results.size(); ++k) {
        if (context.skipped.SkipsByName(parentPath, &parent, parentTop, subfolders[k].name))
            continue;
        if (context.hooks.beforeOpening)
            context.hooks.beforeOpening(relative.empty() ? subfolders[k].name : relative + '/' + subfolders[k].name);
        subfolders[k].hookCalled = true;
        queue.OpenFolder(parent.Fd(), subfolders[k].name.c_str(), &results[opened.size()]);
        opened.push_back(k);
    }
    queue.Run();
    for (std::size_t j = 0; j < opened.size(); ++j) {
        if (results[j] >= 0)
            subfolders[opened[j]].opened = FolderBudget::Hold(context.budget, FolderHandle(results[j]));
    }
}

}  // namespace

std::uint32_t TypesOf(const ListedFiles& files)
{
    std::uint32_t types = 0;
    for (const std::uint32_t tag : files.tags)
        types |= tag;
    return types;
}

FolderListing ListFolderFiles(const FolderHandle& handle, const TypePatterns& types, bool* readable)
{
    std::vector<RawEntry> entries;
    const bool ok = handle.IsOpen() && ReadEntries(handle.Fd(), types, entries);
    if (readable)
        *readable = ok;
    std::vector<std::size_t> kept;
    kept.reserve(entries.size());
    for (std::size_t k = 0; k < entries.size(); ++k) {
        RawEntry& e = entries[k];
        if (e.type == DT_UNKNOWN) {
            struct stat st { };
            if (fstatat(handle.Fd(), e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0)
                continue;  // gone since the listing
            e.type = KindOf(st.st_mode, e);
        }
        if (e.type == DT_REG) {
            const auto facts = StatRegularFile(handle.Fd(), e.name.c_str());
            if (!facts)
                continue;  // gone, or no longer a regular file
            e.facts = *facts;
        }
        if (e.type == DT_DIR || e.type == DT_REG)
            kept.push_back(k);
    }
    return Gather(entries, kept);
}

FolderListing ListFolderQueued(const FolderHandle& handle, const WalkContext& context, UringQueue& queue, bool ring,
                               const std::string* relative, bool* readable)
{
    std::vector<RawEntry> entries;
    const bool ok = handle.IsOpen() && ReadEntries(handle.Fd(), context.types, entries);
    if (readable)
        *readable = ok;
    // A folder needs no facts here: its own listing opens it, and finds out then which it is.
    std::vector<struct statx> facts(entries.size());
    std::vector<int> results(entries.size());
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (entries[k].type != DT_DIR)
            queue.Stat(handle.Fd(), entries[k].name.c_str(), &facts[k], &results[k]);
    }
    if (ring)
        queue.Run();
    else
        queue.RunDirectly();
    // Entries the listing called files count only as files, as a listing
    // one call at a time would take them; the others become what they are.
    std::vector<std::size_t> kept;
    kept.reserve(entries.size());
    for (std::size_t k = 0; k < entries.size(); ++k) {
        RawEntry& e = entries[k];
        if (e.type != DT_DIR) {
            if (results[k] != 0)
                continue;  // gone since the listing
            e.type = KindOf(facts[k].stx_mode, e);
            if (e.type == DT_REG)
                e.facts = FactsOf(facts[k]);
        }
        if (e.type == DT_DIR || e.type == DT_REG)
            kept.push_back(k);
    }
    FolderListing out = Gather(entries, kept);
    if (ring && relative && !context.hooks.holdNoFolder && !out.subfolders.empty())
        OpenAhead(handle, context, queue, *relative, out.subfolders);
    return out;
}

}  // namespace snapsift
