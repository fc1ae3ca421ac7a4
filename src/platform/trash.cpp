// SPDX-License-Identifier: MIT
#include "platform/trash.h"

#include "platform/checked_move.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/open_path.h"
#include "platform/trash_info.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace snapsift {
namespace {

std::string Errno(int error)
{
    return std::strerror(error);
}

// The entry name GIO gives the n-th file of one name: "p.jpg", "p.2.jpg",
// "p.3.jpg", … with the number before the first dot.
std::string NumberedName(const std::string& base, unsigned n)
{
    if (n <= 1)
        return base;
    const std::size_t dot = base.find('.');
    if (dot == std::string::npos)
        return base + "." + std::to_string(n);
    return base.substr(0, dot) + "." + std::to_string(n) + base.substr(dot);
}

// A .trashinfo written but not yet flushed.
struct PendingClaim {
    std::string path;
    std::string name;
};

constexpr std::size_t kClaimBatch = 1000;
constexpr unsigned long kFuseMagic = 0x65735546;

}  // namespace

std::string TrashEntryPlace::FilePath() const
{
    return JoinPath(JoinPath(folder, "files"), name);
}

std::string TrashEntryPlace::InfoPath() const
{
    return JoinPath(JoinPath(folder, "info"), name + ".trashinfo");
}

// One trash folder, open, with the numbers already used for each name during
// this deletion.
struct TrashWriter::Target {
    WritableTrash trash;
    std::unordered_map<std::string, unsigned> lastNumber;
};

TrashWriter::TrashWriter() = default;

TrashWriter::~TrashWriter()
{
    for (const auto& [path, claims] : claims_) {
        for (const Claim& claim : claims)
            DropClaim(claim);
    }
}

void TrashWriter::Expect(std::vector<std::string> paths)
{
    upcoming_ = std::move(paths);
    nextUpcoming_ = 0;
}

FolderHandle& TrashWriter::ParentOf(const std::string& folder)
{
    if (folder != cachedFolder_ || !cachedParent_.IsOpen()) {
        cachedFolder_ = folder;
        FolderHandle opened = OpenPathWithoutLinks(folder);
        const int error = errno;
        cachedParent_ = std::move(opened);
        errno = error;
    }
    return cachedParent_;
}

TrashWriter::Target& TrashWriter::TargetFor(const std::string& parentPath, dev_t device)
{
    auto& slot = targets_[device];
    if (!slot) {
        slot = std::make_unique<Target>();
        slot->trash = OpenWritableTrash(parentPath, device);
    }
    return *slot;
}

namespace {

// The folder part and the name part of an absolute path; false when it has none.
bool SplitPath(const std::string& path, std::string& folder, std::string& base)
{
    const std::size_t slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || slash == std::string::npos || slash + 1 == path.size())
        return false;
    folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    base = path.substr(slash + 1);
    return true;
}

// Path= of a file in a trash: relative to the mount's top, or absolute.
std::string OriginalPath(const std::string& path, const WritableTrash& trash)
{
    if (trash.top.empty())
        return path;
    return path.substr(trash.top == "/" ? 1 : trash.top.size() + 1);
}

// Claims a free name for `path` in `info` by creating its .trashinfo, and
// writes it. False, with errno, when it cannot.
bool WriteClaim(int info, const std::string& base, const std::string& original, unsigned& last, std::string& name)
{
    for (unsigned n = last + 1;; ++n) {
        name = NumberedName(base, n);
        const std::string infoName = name + ".trashinfo";
        const int fd = openat(info, infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return false;
        last = n;
        const bool written = WriteAll(fd, TrashInfoText(original, CurrentTime()));
        int error = errno;
        if (close(fd) != 0 && written)
            error = errno;
        else if (written)
            return true;
        unlinkat(info, infoName.c_str(), 0);
        errno = error;
        return false;
    }
}

// Runs `step` on each claim's .trashinfo, opened for reading; drops the claims
// it fails for.
template <typename Step>
void EachInfo(int info, std::vector<PendingClaim>& claims, Step step)
{
    std::vector<PendingClaim> kept;
    for (PendingClaim& p : claims) {
        const std::string infoName = p.name + ".trashinfo";
        const int fd = openat(info, infoName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        bool ok = fd >= 0 && step(fd);
        const int error = errno;
        if (fd >= 0 && close(fd) != 0)
            ok = false;
        if (ok) {
            kept.push_back(std::move(p));
        } else {
            unlinkat(info, infoName.c_str(), 0);
            errno = error;
        }
    }
    claims = std::move(kept);
}

// True when the folder lies on a FUSE file system, whose daemon learns of a
// flush only through fsync.
bool OnFuse(int fd)
{
    struct statfs fs { };
    return fstatfs(fd, &fs) == 0 && static_cast<unsigned long>(fs.f_type) == kFuseMagic;
}

// Flushes the written claims of one trash. Several at once: the file system
// with one syncfs, which writes every file's data and commits the folder that
// names them with a single flush of the disk (an fsync per file costs one
// each). Otherwise, and where that fails: each file's data, started together
// and then waited for, then the info/ folder. Returns the claims that lasted;
// errno tells why the others did not.
std::vector<PendingClaim> FlushClaims(int info, std::vector<PendingClaim> pending)
{
    if (pending.size() > 1 && !OnFuse(info) && syncfs(info) == 0)
        return pending;
    EachInfo(info, pending, [](int fd) {
        sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);  // only a head start for the fsync below
        return true;
    });
    EachInfo(info, pending, [](int fd) { return fsync(fd) == 0; });
    if (!pending.empty() && fsync(info) != 0) {
        const int error = errno;
        for (const PendingClaim& p : pending)
            unlinkat(info, (p.name + ".trashinfo").c_str(), 0);
        pending.clear();
        errno = error;
    }
    return pending;
}

}  // namespace

void TrashWriter::ClaimBatch(const std::vector<std::string>& paths)
{
    std::map<Target*, std::vector<PendingClaim>> pending;
    std::string lastFolder;
    Target* lastTarget = nullptr;
    for (const std::string& path : paths) {
        std::string folder, base;
        if (!SplitPath(path, folder, base))
            continue;
        if (folder != lastFolder) {
            lastFolder = folder;
            lastTarget = nullptr;
            const FolderHandle parent = OpenPathWithoutLinks(folder);
            struct stat st { };
            if (parent.IsOpen() && fstat(parent.Fd(), &st) == 0)
                lastTarget = &TargetFor(folder, st.st_dev);
        }
        if (!lastTarget || lastTarget->trash.refusal.Refused())
            continue;
        WritableTrash& trash = lastTarget->trash;
        PendingClaim claim{path, {}};
        if (WriteClaim(trash.info.Fd(), base, OriginalPath(path, trash), lastTarget->lastNumber[base], claim.name))
            pending[lastTarget].push_back(std::move(claim));
    }
    for (auto& [target, claims] : pending) {
        for (PendingClaim& p : FlushClaims(target->trash.info.Fd(), std::move(claims)))
            claims_[p.path].push_back(Claim{target, std::move(p.name)});
    }
}

bool TrashWriter::TakeClaim(const std::string& path, Target& target, Claim& claim)
{
    const auto it = claims_.find(path);
    if (it == claims_.end())
        return false;
    for (auto c = it->second.begin(); c != it->second.end(); ++c) {
        if (c->target == &target) {
            claim = std::move(*c);
            it->second.erase(c);
            if (it->second.empty())
                claims_.erase(it);
            return true;
        }
    }
    return false;
}

bool TrashWriter::ClaimOne(const std::string& path, Target& target, Claim& claim, TrashOutcome& out)
{
    const WritableTrash& trash = target.trash;
    const std::string base = path.substr(path.rfind('/') + 1);
    std::vector<PendingClaim> one(1, PendingClaim{path, {}});
    if (WriteClaim(trash.info.Fd(), base, OriginalPath(path, trash), target.lastNumber[base], one[0].name))
        one = FlushClaims(trash.info.Fd(), std::move(one));
    else
        one.clear();
    if (one.empty()) {
        out.status = TrashStatus::Failed;
        out.refusal = TrashRefusal{TrashProblem::SystemError, JoinPath(trash.folder, "info"), errno};
        out.error = RefusalWords(out.refusal);
        return false;
    }
    claim = Claim{&target, std::move(one[0].name)};
    return true;
}

void TrashWriter::DropClaim(const Claim& claim)
{
    unlinkat(claim.target->trash.info.Fd(), (claim.name + ".trashinfo").c_str(), 0);
}

// The check: still the confirmed file, in this very folder, on a disk whose
// trash takes it. False, with `out` saying why, when it is not.
bool TrashWriter::Check(const std::string& path, const FileFacts& confirmed, Checked& checked, TrashOutcome& out)
{
    std::string folderPath;
    if (!SplitPath(path, folderPath, checked.base)) {
        out.status = TrashStatus::Gone;
        return false;
    }
    checked.parent = &ParentOf(folderPath);
    if (!checked.parent->IsOpen()) {
        out.status = errno == ENOENT ? TrashStatus::Gone : TrashStatus::Changed;
        return false;
    }
    errno = 0;
    const auto now = StatRegularFile(checked.parent->Fd(), checked.base.c_str());
    if (!now) {
        out.status = errno == ENOENT ? TrashStatus::Gone : TrashStatus::Changed;
        return false;
    }
    if ((confirmed.identity.Known() && now->identity != confirmed.identity) || now->size != confirmed.size ||
        now->creationTime != confirmed.creationTime) {
        out.status = TrashStatus::Changed;
        return false;
    }
    checked.facts = *now;
    struct stat folderStat { };
    if (fstat(checked.parent->Fd(), &folderStat) != 0) {
        out.status = TrashStatus::Failed;
        out.refusal = TrashRefusal{TrashProblem::SystemError, folderPath, errno};
        out.error = RefusalWords(out.refusal);
        return false;
    }
    checked.target = &TargetFor(folderPath, folderStat.st_dev);
    if (checked.target->trash.refusal.Refused()) {
        out.status = TrashStatus::NoTrash;
        out.refusal = checked.target->trash.refusal;
        out.error = RefusalWords(out.refusal);
        return false;
    }
    return true;
}

// The claim: its .trashinfo, written and flushed ahead with the batch it
// came in, or now on its own.
bool TrashWriter::ClaimFor(const std::string& path, Target& target, Claim& claim, TrashOutcome& out)
{
    if (TakeClaim(path, target, claim))
        return true;
    if (nextUpcoming_ < upcoming_.size()) {
        const std::size_t end = std::min(upcoming_.size(), nextUpcoming_ + kClaimBatch);
        const std::vector<std::string> batch(upcoming_.begin() + static_cast<std::ptrdiff_t>(nextUpcoming_),
                                             upcoming_.begin() + static_cast<std::ptrdiff_t>(end));
        nextUpcoming_ = end;
        ClaimBatch(batch);
    }
    return TakeClaim(path, target, claim) || ClaimOne(path, target, claim, out);
}

// The move, then the proof that the confirmed file moved; a name that an
// entry without its .trashinfo holds makes another claim.
TrashOutcome TrashWriter::MoveClaimed(const std::string& path, const Checked& checked, Claim claim, TrashOutcome out)
{
    Target& target = *checked.target;
    const std::function<void()> afterRename =
        hooks.afterMove ? [&] { hooks.afterMove(path); } : std::function<void()>();
    for (;;) {
        const MoveResult moved = MoveAndProve(checked.parent->Fd(), checked.base, target.trash.files.Fd(), claim.name,
                                              checked.facts, afterRename);
        switch (moved.status) {
        case MoveStatus::Moved:
            out.status = TrashStatus::Moved;
            out.entry = TrashEntryPlace{target.trash.folder, claim.name};
            out.moved = moved.moved;
            return out;
        case MoveStatus::Occupied:
            DropClaim(claim);
            if (!ClaimOne(path, target, claim, out))
                return out;
            continue;
        case MoveStatus::NotTheFile:
            DropClaim(claim);
            out.status = TrashStatus::Changed;
            return out;
        case MoveStatus::NotTheFileStuck:
            out.status = TrashStatus::ChangedInTrash;
            out.entry = TrashEntryPlace{target.trash.folder, claim.name};
            out.error = Errno(moved.error);
            return out;
        case MoveStatus::Failed:
            DropClaim(claim);
            out.status = moved.error == ENOENT  ? TrashStatus::Gone
                         : moved.error == EXDEV ? TrashStatus::NoTrash
                                                : TrashStatus::Failed;
            out.refusal = moved.error == EXDEV ? TrashRefusal{TrashProblem::OtherFileSystem, target.trash.folder, EXDEV}
                                               : TrashRefusal{TrashProblem::SystemError, path, moved.error};
            out.error = RefusalWords(out.refusal);
            return out;
        }
    }
}

TrashOutcome TrashWriter::Move(const std::string& path, const FileFacts& confirmed)
{
    TrashOutcome out;
    Checked checked;
    Claim claim;
    if (!Check(path, confirmed, checked, out) || !ClaimFor(path, *checked.target, claim, out))
        return out;
    if (hooks.beforeMove)
        hooks.beforeMove(path);
    return MoveClaimed(path, checked, std::move(claim), std::move(out));
}

}  // namespace snapsift
