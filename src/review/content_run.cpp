// SPDX-License-Identifier: MIT
#include "review/content_run.h"

#include "platform/file_system.h"
#include "scan/file_table.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace snapsift {
namespace {

using content::kChunkBytes;
using content::kEndBytes;
using content::OpenCopy;
using content::Verdict;
using Clock = std::chrono::steady_clock;

// How long one copy waits for room to open it while the process has too many
// files open, before it is given up with that reason.
constexpr auto kLongestWaitForRoom = std::chrono::seconds(60);

// A digest of all of a file's bytes, built from one hash per chunk: only for
// sorting copies into groups that are then compared byte for byte.
std::uint64_t Mix(std::uint64_t digest, std::uint64_t chunk)
{
    return digest ^ (chunk + 0x9e3779b97f4a7c15ULL + (digest << 6) + (digest >> 2));
}

}  // namespace

bool ContentChecker::Run::CopyRows(std::size_t first, std::size_t count, FileTable& table)
{
    const std::lock_guard lock(sourceMutex_);
    if (source_ == nullptr)
        return false;
    std::size_t nameBytes = 0;
    for (std::size_t e = first; e < first + count; ++e)
        nameBytes += source_->Name(static_cast<int>(rows_[e])).size();
    table.Reserve(count, nameBytes);
    std::unordered_map<std::string_view, std::uint32_t> folders;
    for (std::size_t e = first; e < first + count; ++e) {
        const int row = static_cast<int>(rows_[e]);
        const auto [at, added] = folders.try_emplace(source_->Folder(row), 0);
        if (added)
            at->second = table.AddFolder(std::string(source_->Folder(row)));
        table.AddFoundFile(at->second, source_->Name(row),
                           FileFacts{source_->Size(row), source_->CreationTime(row), source_->Identity(row)});
    }
    return true;
}

ContentChecker::Run::Copy ContentChecker::Run::Open(const FileTable& table, int row, bool mayWait)
{
    auto pause = std::chrono::milliseconds(1);
    const auto giveUp = Clock::now() + kLongestWaitForRoom;
    for (;;) {
        auto copy = std::make_unique<OpenCopy>(table, row);
        if (copy->IsOpen() || !content::TooManyOpen(copy->Error()) || !mayWait || StopRequested() ||
            Clock::now() >= giveUp)
            return copy;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

// Every entry is opened once, one at a time; two entries of one file are the
// same without reading. Of more than two copies the ends are read next, and
// only copies of equal ends are compared further.
void ContentChecker::Run::CheckGroup(std::size_t group, std::vector<char>& a, std::vector<char>& b)
{
    const std::size_t first = starts_[group];
    const std::size_t n = (group + 1 < starts_.size() ? starts_[group + 1] : answers_.size()) - first;
    Pass pass{{}, first, n, a, b, 0, 0, {}, {}};
    if (!CopyRows(first, n, pass.table))
        return;
    pass.states.resize(n);
    pass.parent.resize(n);
    std::iota(pass.parent.begin(), pass.parent.end(), std::size_t{0});
    for (std::size_t i = 0; i < n; ++i)
        pass.bytes += pass.table.Size(RowOf(pass, i));
    const bool endsFirst = n > 2;
    std::unordered_map<FileIdentity, std::size_t, Memory::IdentityHash> byFile;
    std::unordered_map<std::size_t, std::vector<std::size_t>> byEnds;
    for (std::size_t i = 0; i < n; ++i) {
        if (StopRequested())
            return;
        const Copy copy = Open(pass.table, RowOf(pass, i), true);
        if (!copy->IsOpen()) {
            Unreadable(pass, i, copy->Error());
            continue;  // gone, changed or unreadable: like no other copy
        }
        pass.states[i] = copy->State();
        if (const auto [first, fresh] = byFile.try_emplace(copy->State().identity, i); !fresh) {
            Join(pass, first->second, i);  // one file reached twice
            continue;
        }
        std::size_t ends = 0;
        if (endsFirst) {
            const auto digest = EndsDigest(pass, i, *copy);
            if (!digest)
                continue;
            ends = *digest;
        }
        byEnds[ends].push_back(i);
    }
    for (auto& [ends, members] : byEnds) {
        if (StopRequested())
            return;
        // Newest first, as the group's rows are.
        std::sort(members.begin(), members.end());
        if (members.size() == 2)
            ComparePair(pass, members[0], members[1]);
        else if (members.size() > 2)
            CompareMany(pass, members);
    }
    Answer(pass);
    Count(pass, pass.bytes);
}

// A row is the same as a newer copy when a copy of its content was created
// later than it.
void ContentChecker::Run::Answer(Pass& pass)
{
    std::unordered_map<std::size_t, std::int64_t> newest;
    for (std::size_t i = 0; i < pass.count; ++i) {
        if (!pass.states[i])
            continue;
        const std::int64_t time = pass.table.CreationTime(RowOf(pass, i));
        const auto [at, fresh] = newest.try_emplace(Root(pass, i), time);
        if (!fresh)
            at->second = std::max(at->second, time);
    }
    for (std::size_t i = 0; i < pass.count; ++i) {
        if (pass.states[i] && asked_[pass.first + i] && newest[Root(pass, i)] > pass.table.CreationTime(RowOf(pass, i)))
            answers_[pass.first + i] = CopyGroups::kSameAsNewer;
    }
}

// The digest of the first and last 64 KiB of entry `i`, or nothing when it
// cannot be read as the search found it.
std::optional<std::size_t> ContentChecker::Run::EndsDigest(Pass& pass, std::size_t i, const OpenCopy& copy)
{
    if (const auto known = memory_->RememberedEnds(copy.State()))
        return known;
    const std::uint64_t size = copy.State().size;
    const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(kEndBytes, size));
    const std::uint64_t tailStart = std::max<std::uint64_t>(head, size > kEndBytes ? size - kEndBytes : 0);
    const auto tail = static_cast<std::size_t>(size - tailStart);
    if (!Read(pass, copy.Fd(), pass.a.data(), head, 0) ||
        !Read(pass, copy.Fd(), pass.a.data() + head, tail, tailStart)) {
        ReadFailed(pass, i, copy, errno);
        return std::nullopt;
    }
    const std::size_t digest = std::hash<std::string_view>()(std::string_view(pass.a.data(), head + tail));
    if (copy.Unchanged())
        memory_->RememberEnds(copy.State(), digest);
    return digest;
}

void ContentChecker::Run::ComparePair(Pass& pass, std::size_t i, std::size_t j)
{
    const Copy x = Open(pass.table, RowOf(pass, i), true);
    if (!x->IsOpen())
        return Unreadable(pass, i, x->Error());
    const Copy y = Open(pass.table, RowOf(pass, j), true);
    if (!y->IsOpen())
        return Unreadable(pass, j, y->Error());
    if (x->State().identity == y->State().identity)
        return Join(pass, i, j);
    if (const auto known = memory_->Remembered(x->State(), y->State())) {
        if (*known)
            Join(pass, i, j);
        return;
    }
    const OpenCopy* failed = nullptr;
    int error = 0;
    const Verdict verdict = Compare(pass, *x, *y, failed, error);
    if (verdict == Verdict::kFailed)
        return ReadFailed(pass, failed == x.get() ? i : j, *failed, error);
    if (verdict == Verdict::kStopped || !x->Unchanged() || !y->Unchanged())
        return;  // stopped, or a file changed while it was read: not the same
    memory_->Remember(x->State(), y->State(), verdict == Verdict::kEqual);
    if (verdict == Verdict::kEqual)
        Join(pass, i, j);
}

// Both ends first, then the middle in large reads, passing over the stretches
// where both files are holes.
Verdict ContentChecker::Run::Compare(Pass& pass, const OpenCopy& x, const OpenCopy& y, const OpenCopy*& failed,
                                     int& error)
{
    const std::uint64_t size = x.State().size;
    auto part = [&](std::uint64_t offset, std::size_t length) {
        if (StopRequested())
            return Verdict::kStopped;
        if (pass.a.size() < length) {
            pass.a.resize(length);
            pass.b.resize(length);
        }
        for (const auto& [copy, into] : {std::pair{&x, pass.a.data()}, std::pair{&y, pass.b.data()}}) {
            if (!Read(pass, copy->Fd(), into, length, offset)) {
                failed = copy;
                error = errno;
                return Verdict::kFailed;
            }
        }
        return std::memcmp(pass.a.data(), pass.b.data(), length) == 0 ? Verdict::kEqual : Verdict::kDiffer;
    };
    const std::size_t head = static_cast<std::size_t>(std::min<std::uint64_t>(kEndBytes, size));
    if (head > 0) {
        if (const Verdict v = part(0, head); v != Verdict::kEqual)
            return v;
    }
    const std::uint64_t tailStart = std::max<std::uint64_t>(head, size > kEndBytes ? size - kEndBytes : 0);
    if (tailStart < size) {
        if (const Verdict v = part(tailStart, static_cast<std::size_t>(size - tailStart)); v != Verdict::kEqual)
            return v;
    }
    if (tailStart > head) {
        posix_fadvise(x.Fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
        posix_fadvise(y.Fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
    for (std::uint64_t offset = head; offset < tailStart;) {
        if (const std::uint64_t data = content::NextDataInEither(x.Fd(), y.Fd(), offset, tailStart); data > offset) {
            Count(pass, 2 * (data - offset));
            offset = data;
            continue;
        }
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, tailStart - offset));
        if (const Verdict v = part(offset, length); v != Verdict::kEqual)
            return v;
        offset += length;
    }
    return Verdict::kEqual;
}

// Copies of equal ends, more than two, newest first: each is read once,
// compared with the newest while its bytes are alike and hashed whole as it
// goes. Those that differ are then sorted by their digests, and only copies
// of equal digests are compared with each other, byte for byte.
void ContentChecker::Run::CompareMany(Pass& pass, const std::vector<std::size_t>& members)
{
    Digested byWhole;
    Sweep(pass, members.front(), {members.begin() + 1, members.end()}, &byWhole, nullptr);
    for (auto& [digest, same] : byWhole) {
        if (same.size() > 1)
            Confirm(pass, std::move(same));
    }
}

// Copies of equal digests, the newest first: each is compared with the
// newest. Those that differ (digests alike by chance) are compared again
// among themselves.
void ContentChecker::Run::Confirm(Pass& pass, std::vector<std::size_t> pending)
{
    while (pending.size() > 1 && !StopRequested()) {
        std::vector<std::size_t> left;
        Sweep(pass, pending.front(), {pending.begin() + 1, pending.end()}, nullptr, &left);
        pending = std::move(left);
    }
}

// Compares the copies `rest` with the copy of entry `rep`, a few held open at
// a time, reading `rep` once for each few. Those alike join `rep`. The others
// go, with `byWhole`, by the digest of all their bytes, for which each is read
// to its end; without it, to `left`.
void ContentChecker::Run::Sweep(Pass& pass, std::size_t rep, const std::vector<std::size_t>& rest, Digested* byWhole,
                                std::vector<std::size_t>* left)
{
    const Copy r = Open(pass.table, RowOf(pass, rep), true);
    const OpenCopy* with = nullptr;
    if (!r->IsOpen())
        Unreadable(pass, rep, r->Error());
    else if (r->State() == *pass.states[rep])
        with = r.get();
    std::size_t k = 0;
    while (k < rest.size() && !StopRequested()) {
        if (!with && !byWhole) {
            left->insert(left->end(), rest.begin() + static_cast<std::ptrdiff_t>(k), rest.end());
            return;  // nothing to compare with: they wait for another
        }
        std::vector<Member> batch;
        while (k < rest.size() && batch.size() < batchMost_) {
            const std::size_t m = rest[k];
            const FileState& state = *pass.states[m];
            const auto known = with ? memory_->Remembered(with->State(), state) : std::nullopt;
            if (known && *known) {
                Join(pass, rep, m);
                ++k;
                continue;
            }
            if (known || !with) {  // not the same as `rep`: only its digest is wanted
                if (!byWhole) {
                    left->push_back(m);
                    ++k;
                    continue;
                }
                if (const auto digest = memory_->RememberedWhole(state)) {
                    (*byWhole)[*digest].push_back(m);
                    ++k;
                    continue;
                }
            }
            Copy copy = Open(pass.table, RowOf(pass, m), batch.empty());
            if (!copy->IsOpen() && content::TooManyOpen(copy->Error()) && !batch.empty())
                break;  // no room for more: these first, the rest with fewer open
            ++k;
            if (!copy->IsOpen())
                Unreadable(pass, m, copy->Error());
            else if (copy->State() == state)  // else changed since its ends were read: like no other copy
                batch.push_back({m, std::move(copy), with && !known, false, false, state.size});
        }
        if (batch.empty())
            continue;
        ReadBatch(pass, rep, with, batch, byWhole != nullptr);
        if (StopRequested())
            return;
        for (Member& member : batch)
            Settle(pass, rep, with, member, byWhole, left);
    }
}

// Reads the copies of `batch` chunk by chunk, comparing each chunk of those
// still alike with `with`'s (the copy of entry `rep`); with `hash` every copy
// is read to its end and each chunk goes into its digest. When `with` cannot
// be read it becomes null and the copies are only hashed.
void ContentChecker::Run::ReadBatch(Pass& pass, std::size_t rep, const OpenCopy*& with, std::vector<Member>& batch,
                                    bool hash)
{
    const std::uint64_t size = batch.front().copy->State().size;
    for (const Member& member : batch)
        posix_fadvise(member.copy->Fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    for (std::uint64_t offset = 0; offset < size && !StopRequested();) {
        const auto alike = [&with](const Member& m) { return with && m.compare && !m.differs && !m.failed; };
        const bool comparing = std::any_of(batch.begin(), batch.end(), alike);
        if (!comparing && !(hash && std::any_of(batch.begin(), batch.end(), [](const Member& m) { return !m.failed; })))
            return;
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, size - offset));
        if (pass.a.size() < length) {
            pass.a.resize(length);
            pass.b.resize(length);
        }
        if (comparing && !Read(pass, with->Fd(), pass.a.data(), length, offset, false)) {
            ReadFailed(pass, rep, *with, errno);
            with = nullptr;
            continue;  // the same chunk again, only for the digests
        }
        for (Member& member : batch) {
            const bool compare = comparing && alike(member);
            if (member.failed || (!hash && !compare))
                continue;
            if (!Read(pass, member.copy->Fd(), pass.b.data(), length, offset, hash)) {
                ReadFailed(pass, member.entry, *member.copy, errno);
                member.failed = true;
                continue;
            }
            if (hash)
                member.digest =
                    Mix(member.digest, std::hash<std::string_view>()(std::string_view(pass.b.data(), length)));
            if (compare && std::memcmp(pass.a.data(), pass.b.data(), length) != 0)
                member.differs = true;
        }
        offset += length;
    }
}

// What one copy of a batch turned out to be: the same as `rep`, different
// from it, or only hashed.
void ContentChecker::Run::Settle(Pass& pass, std::size_t rep, const OpenCopy* with, Member& member, Digested* byWhole,
                                 std::vector<std::size_t>* left)
{
    if (member.failed)
        return;  // unreadable, or changed while read: like no other copy
    const bool unchanged = member.copy->Unchanged();
    if (with && member.compare && unchanged && with->Unchanged()) {
        memory_->Remember(with->State(), member.copy->State(), !member.differs);
        if (!member.differs)
            return Join(pass, rep, member.entry);
    }
    if (!unchanged)
        return;
    if (byWhole) {
        memory_->RememberWhole(member.copy->State(), member.digest);
        (*byWhole)[member.digest].push_back(member.entry);
    } else {
        left->push_back(member.entry);
    }
}

}  // namespace snapsift
