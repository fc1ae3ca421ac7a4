// SPDX-License-Identifier: MIT
#include "review/content_run.h"

#include "platform/file_system.h"
#include "scan/file_table.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
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

} // namespace

ContentChecker::Run::Copy ContentChecker::Run::Open(int row, bool mayWait)
{
    auto pause = std::chrono::milliseconds(1);
    const auto giveUp = Clock::now() + kLongestWaitForRoom;
    for (;;) {
        auto copy = std::make_unique<OpenCopy>(table_, row);
        if (copy->IsOpen() || !content::TooManyOpen(copy->Error()) || !mayWait || checker_.StopRequested() ||
            Clock::now() >= giveUp)
            return copy;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
}

// Every entry is opened once, one at a time; two entries of one file are the
// same without reading. Of more than two copies the ends are read next, and
// only copies of equal ends are compared further: a pair whole, more by
// digest.
void ContentChecker::Run::CheckGroup(CopyGroup& group, std::vector<char>& a, std::vector<char>& b)
{
    const std::size_t n = group.rows.size();
    Pass pass{group, a, b, 0, 0, {}, {}};
    group.answers.assign(n, CopyGroup::kDiffers);
    group.errors.assign(n, 0);
    pass.states.resize(n);
    pass.parent.resize(n);
    std::iota(pass.parent.begin(), pass.parent.end(), std::size_t{0});
    for (int row : group.rows)
        pass.bytes += table_.Size(row);
    const bool endsFirst = n > 2;
    std::unordered_map<FileIdentity, std::size_t, IdentityHash> byFile;
    std::unordered_map<std::size_t, std::vector<std::size_t>> byEnds;
    for (std::size_t i = 0; i < n; ++i) {
        if (checker_.StopRequested())
            return;
        const Copy copy = Open(group.rows[i], true);
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
        if (checker_.StopRequested())
            return;
        // Newest first, as the group's rows are.
        std::sort(members.begin(), members.end());
        if (members.size() == 2)
            ComparePair(pass, members[0], members[1]);
        else if (members.size() > 2)
            CompareByDigest(pass, members);
    }
    Answer(pass);
    Count(pass, pass.bytes);
}

// A row is the same as a newer copy when a copy of its content was created
// later than it.
void ContentChecker::Run::Answer(Pass& pass)
{
    CopyGroup& group = pass.group;
    std::unordered_map<std::size_t, std::int64_t> newest;
    for (std::size_t i = 0; i < group.rows.size(); ++i) {
        if (!pass.states[i])
            continue;
        const std::int64_t time = table_.CreationTime(group.rows[i]);
        const auto [at, fresh] = newest.try_emplace(Root(pass, i), time);
        if (!fresh)
            at->second = std::max(at->second, time);
    }
    for (std::size_t i = 0; i < group.rows.size(); ++i) {
        if (pass.states[i] && group.asked[i] && newest[Root(pass, i)] > table_.CreationTime(group.rows[i]))
            group.answers[i] = CopyGroup::kSameAsNewer;
    }
}

// The digest of the first and last 64 KiB of entry `i`, or nothing when it
// cannot be read as the search found it.
std::optional<std::size_t> ContentChecker::Run::EndsDigest(Pass& pass, std::size_t i, const OpenCopy& copy)
{
    if (const auto known = checker_.RememberedEnds(copy.State()))
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
        checker_.RememberEnds(copy.State(), digest);
    return digest;
}

void ContentChecker::Run::ComparePair(Pass& pass, std::size_t i, std::size_t j)
{
    const Copy x = Open(pass.group.rows[i], true);
    if (!x->IsOpen())
        return Unreadable(pass, i, x->Error());
    const Copy y = Open(pass.group.rows[j], true);
    if (!y->IsOpen())
        return Unreadable(pass, j, y->Error());
    if (x->State().identity == y->State().identity)
        return Join(pass, i, j);
    if (const auto known = checker_.Remembered(x->State(), y->State())) {
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
    checker_.Remember(x->State(), y->State(), verdict == Verdict::kEqual);
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
        if (checker_.StopRequested())
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

// Copies of equal ends, more than two: each is read once for a digest of all
// its bytes, and only copies of equal digests are compared, byte for byte.
void ContentChecker::Run::CompareByDigest(Pass& pass, const std::vector<std::size_t>& members)
{
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> byWhole;
    for (std::size_t i : members) {
        if (checker_.StopRequested())
            return;
        if (const auto digest = WholeDigest(pass, i))
            byWhole[*digest].push_back(i);
    }
    for (auto& [digest, same] : byWhole) {
        if (same.size() > 1)
            Confirm(pass, std::move(same));
    }
}

std::optional<std::uint64_t> ContentChecker::Run::WholeDigest(Pass& pass, std::size_t i)
{
    const Copy copy = Open(pass.group.rows[i], true);
    if (!copy->IsOpen()) {
        Unreadable(pass, i, copy->Error());
        return std::nullopt;
    }
    if (copy->State() != *pass.states[i])
        return std::nullopt;  // changed since its ends were read: like no other copy
    if (const auto known = checker_.RememberedWhole(copy->State()))
        return known;
    const std::uint64_t size = copy->State().size;
    posix_fadvise(copy->Fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
    std::uint64_t digest = size;
    for (std::uint64_t offset = 0; offset < size;) {
        if (checker_.StopRequested())
            return std::nullopt;
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, size - offset));
        if (pass.a.size() < length) {
            pass.a.resize(length);
            pass.b.resize(length);
        }
        if (content::HoleThroughout(copy->Fd(), offset, offset + length)) {
            std::memset(pass.a.data(), 0, length);  // a hole: the zeros it reads as, without reading
            Count(pass, length);
        } else if (!Read(pass, copy->Fd(), pass.a.data(), length, offset)) {
            ReadFailed(pass, i, *copy, errno);
            return std::nullopt;
        }
        digest = Mix(digest, std::hash<std::string_view>()(std::string_view(pass.a.data(), length)));
        offset += length;
    }
    if (!copy->Unchanged())
        return std::nullopt;
    checker_.RememberWhole(copy->State(), digest);
    return digest;
}

// Copies of equal digests, the newest first: each is compared with the
// newest, a few at a time, reading the newest once for all of them. Those
// that differ (digests alike by chance) are compared again among themselves.
void ContentChecker::Run::Confirm(Pass& pass, std::vector<std::size_t> pending)
{
    while (pending.size() > 1 && !checker_.StopRequested()) {
        const std::size_t rep = pending.front();
        std::vector<std::size_t> left;
        const Copy r = Open(pass.group.rows[rep], true);
        if (!r->IsOpen() || r->State() != *pass.states[rep]) {
            if (!r->IsOpen())
                Unreadable(pass, rep, r->Error());
            pending.erase(pending.begin());
            continue;
        }
        std::size_t k = 1;
        while (k < pending.size() && !checker_.StopRequested()) {
            std::vector<std::pair<std::size_t, Copy>> batch;
            while (k < pending.size() && batch.size() < batchMost_) {
                const std::size_t m = pending[k];
                if (const auto known = checker_.Remembered(r->State(), *pass.states[m])) {
                    if (*known)
                        Join(pass, rep, m);
                    else
                        left.push_back(m);
                    ++k;
                    continue;
                }
                Copy copy = Open(pass.group.rows[m], batch.empty());
                if (!copy->IsOpen() && content::TooManyOpen(copy->Error()) && !batch.empty())
                    break;  // no room for more: these first, the rest with fewer open
                ++k;
                if (!copy->IsOpen())
                    Unreadable(pass, m, copy->Error());
                else if (copy->State() == *pass.states[m])
                    batch.emplace_back(m, std::move(copy));
            }
            if (!batch.empty() && !CompareBatch(pass, rep, *r, batch, left)) {
                left.insert(left.end(), pending.begin() + static_cast<std::ptrdiff_t>(k), pending.end());
                break;
            }
        }
        pending = std::move(left);
    }
}

// Compares every copy of `batch` with `r`, the file of entry `rep`, chunk by
// chunk. The equal ones join `rep`, the others go to `left`. False when `r`
// itself could not be read or the check was stopped.
bool ContentChecker::Run::CompareBatch(Pass& pass, std::size_t rep, const OpenCopy& r,
                                       std::vector<std::pair<std::size_t, Copy>>& batch,
                                       std::vector<std::size_t>& left)
{
    const std::uint64_t size = r.State().size;
    std::vector<std::uint8_t> alike(batch.size(), 1);
    std::size_t alikeCount = batch.size();
    for (std::uint64_t offset = 0; offset < size && alikeCount > 0;) {
        if (checker_.StopRequested())
            return false;
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, size - offset));
        if (pass.a.size() < length) {
            pass.a.resize(length);
            pass.b.resize(length);
        }
        if (!Read(pass, r.Fd(), pass.a.data(), length, offset)) {
            ReadFailed(pass, rep, r, errno);
            for (std::size_t t = 0; t < batch.size(); ++t) {
                if (alike[t])
                    left.push_back(batch[t].first);
            }
            return false;
        }
        for (std::size_t t = 0; t < batch.size(); ++t) {
            if (!alike[t])
                continue;
            const auto& [m, copy] = batch[t];
            if (!Read(pass, copy->Fd(), pass.b.data(), length, offset)) {
                ReadFailed(pass, m, *copy, errno);
                alike[t] = 0;
                --alikeCount;
            } else if (std::memcmp(pass.a.data(), pass.b.data(), length) != 0) {
                if (copy->Unchanged() && r.Unchanged())
                    checker_.Remember(r.State(), copy->State(), false);
                left.push_back(m);
                alike[t] = 0;
                --alikeCount;
            }
        }
        offset += length;
    }
    for (std::size_t t = 0; t < batch.size(); ++t) {
        const auto& [m, copy] = batch[t];
        if (alike[t] && r.Unchanged() && copy->Unchanged()) {
            checker_.Remember(r.State(), copy->State(), true);
            Join(pass, rep, m);
        }
    }
    return true;
}

} // namespace snapsift
