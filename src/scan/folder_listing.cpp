// SPDX-License-Identifier: MIT
#include "scan/folder_listing.h"

#include "platform/folder_entries.h"
#include "platform/name_order.h"
#include "scan/uring_queue.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace snapsift {

namespace {

// An entry as the folder's listing gives it, before its facts are known.
struct RawEntry {
    std::string name;
    unsigned char type = DT_UNKNOWN;
    std::uint32_t tag = 0;
};

// Reads every entry of the open folder, 64 KiB of them per call, keeping the
// folders, the entries of unknown kind and the regular files of a ticked
// type. False when the folder cannot be read to its end.
bool ReadEntries(int fd, const TypePatterns& types, std::vector<RawEntry>& out)
{
    return EachFolderEntry(fd, [&](const char* name, unsigned char type) {
        if (type != DT_DIR && type != DT_REG && type != DT_UNKNOWN)
            return;
        const std::uint32_t tag = type == DT_DIR ? 0 : MatchTypes(name, &types);
        if (type == DT_REG && tag == 0)
            return;
        out.push_back(RawEntry{name, type, tag});
    });
}

std::int64_t CreationTimeOf(const struct statx& sx)
{
    return (sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
}

// The facts a search records, as StatRegularFile gives them.
FileFacts FactsOf(const struct statx& sx)
{
    const FileIdentity identity{(std::uint64_t{sx.stx_dev_major} << 32) | sx.stx_dev_minor, sx.stx_ino};
    return FileFacts{sx.stx_size, CreationTimeOf(sx), identity, (sx.stx_mask & STATX_BTIME) != 0};
}

// Opens the listed subfolders all at once while the budget has room, calling
// the hook before each.
void OpenAhead(int fd, const WalkContext& context, UringQueue& queue, const std::string& relative,
               std::vector<ListedSubfolder>& subfolders)
{
    const std::size_t count =
        std::min<std::size_t>(subfolders.size(), static_cast<std::size_t>(context.budget->Room()));
    std::vector<int> results(count);
    for (std::size_t k = 0; k < count; ++k) {
        if (context.hooks.beforeOpening)
            context.hooks.beforeOpening(relative.empty() ? subfolders[k].name : relative + '/' + subfolders[k].name);
        subfolders[k].hookCalled = true;
        queue.OpenFolder(fd, subfolders[k].name.c_str(), &results[k]);
    }
    queue.Run();
    for (std::size_t k = 0; k < count; ++k) {
        if (results[k] >= 0)
            subfolders[k].opened = FolderBudget::Hold(context.budget, FolderHandle(results[k]));
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
    std::vector<ListedEntry> listed;
    const bool ok = ListFolder(handle, listed, &MatchTypes, &types);
    if (readable)
        *readable = ok;
    FolderListing out;
    std::size_t nameBytes = 0, fileCount = 0;
    for (const ListedEntry& e : listed) {
        if (e.kind == EntryKind::RegularFile) {
            nameBytes += e.name.size() + 1;
            ++fileCount;
        }
    }
    out.files.names.reserve(nameBytes);
    out.files.tags.reserve(fileCount);
    out.files.facts.reserve(fileCount);
    out.subfolders.reserve(listed.size() - fileCount);
    for (ListedEntry& e : listed) {
        if (e.kind != EntryKind::RegularFile) {
            out.subfolders.push_back(ListedSubfolder{std::move(e.name), e.id, nullptr});
            continue;
        }
        const auto facts = StatRegularFile(handle.Fd(), e.name.c_str());
        if (!facts)
            continue;  // gone, or no longer a regular file
        out.files.names.append(e.name.c_str(), e.name.size() + 1);
        out.files.tags.push_back(e.tag);
        out.files.facts.push_back(*facts);
    }
    return out;
}

FolderListing ListFolderQueued(const FolderHandle& handle, const WalkContext& context, UringQueue& queue, bool ring,
                               const std::string* relative, bool* readable)
{
    std::vector<RawEntry> entries;
    const bool ok = handle.IsOpen() && ReadEntries(handle.Fd(), context.types, entries);
    if (readable)
        *readable = ok;
    std::vector<struct statx> facts(entries.size());
    std::vector<int> results(entries.size());
    for (std::size_t k = 0; k < entries.size(); ++k)
        queue.Stat(handle.Fd(), entries[k].name.c_str(), &facts[k], &results[k]);
    if (ring)
        queue.Run();
    else
        queue.RunDirectly();
    // Entries the listing called files count only as files, as a listing
    // one call at a time would take them; the others become what they are.
    std::vector<std::size_t> kept;
    kept.reserve(entries.size());
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (results[k] != 0)
            continue;  // gone since the listing
        const bool folder = S_ISDIR(facts[k].stx_mode) && entries[k].type != DT_REG;
        if (S_ISREG(facts[k].stx_mode) && entries[k].tag != 0)
            kept.push_back(k);
        else if (folder) {
            entries[k].tag = 0;
            kept.push_back(k);
        }
    }
    std::sort(kept.begin(), kept.end(),
              [&](std::size_t a, std::size_t b) { return CompareNames(entries[a].name, entries[b].name) < 0; });
    FolderListing out;
    for (const std::size_t k : kept) {
        const struct statx& sx = facts[k];
        if (entries[k].tag == 0) {
            const FolderId id{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino};
            out.subfolders.push_back(ListedSubfolder{std::move(entries[k].name), id, nullptr});
            continue;
        }
        out.files.names.append(entries[k].name.c_str(), entries[k].name.size() + 1);
        out.files.tags.push_back(entries[k].tag);
        out.files.facts.push_back(FactsOf(sx));
    }
    if (ring && relative && !context.hooks.holdNoFolder && !out.subfolders.empty())
        OpenAhead(handle.Fd(), context, queue, *relative, out.subfolders);
    return out;
}

}  // namespace snapsift
