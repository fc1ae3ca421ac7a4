// SPDX-License-Identifier: MIT
// What the content checks remember, and their stops.
#include "review/content_memory.h"

#include <tuple>

namespace snapsift {

ContentChecker::ContentChecker()
    : memory_(std::make_shared<Memory>()), stop_(std::make_shared<std::atomic<bool>>(false))
{ }

ContentChecker::~ContentChecker() = default;

std::shared_ptr<std::atomic<bool>> ContentChecker::CurrentStop() const
{
    const std::lock_guard lock(stopMutex_);
    return stop_;
}

void ContentChecker::RequestStop()
{
    CurrentStop()->store(true);
}

void ContentChecker::ResetStop()
{
    const std::lock_guard lock(stopMutex_);
    // A stopped check keeps its stop: the next one gets a fresh one.
    if (stop_->load())
        stop_ = std::make_shared<std::atomic<bool>>(false);
}

bool ContentChecker::StopRequested() const
{
    return CurrentStop()->load();
}

std::uint64_t ContentChecker::BytesRead() const
{
    return memory_->bytesRead.load();
}

std::uint64_t ContentChecker::Memory::Stamp(const FileState& state)
{
    // Each field in turn through splitmix64's finaliser.
    std::uint64_t h = 0x243f6a8885a308d3ULL;
    const auto add = [&h](std::uint64_t v) {
        h += v + 0x9e3779b97f4a7c15ULL;
        h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ULL;
        h = (h ^ (h >> 27)) * 0x94d049bb133111ebULL;
        h ^= h >> 31;
    };
    add(state.size);
    add(state.hasBirth ? 1 : 0);
    for (const FileTime& t : {state.birth, state.modified, state.changed}) {
        add(static_cast<std::uint64_t>(t.seconds));
        add(static_cast<std::uint64_t>(t.nanoseconds));
    }
    add(state.mode);
    return h;
}

std::optional<std::size_t> ContentChecker::Memory::RememberedEnds(const FileState& file) const
{
    const std::uint64_t stamp = Stamp(file);
    const std::lock_guard lock(mutex);
    const auto it = digests.find(file.identity);
    if (it == digests.end() || it->second.stamp != stamp || !it->second.hasEnds)
        return std::nullopt;
    return static_cast<std::size_t>(it->second.ends);
}

void ContentChecker::Memory::RememberEnds(const FileState& file, std::size_t digest)
{
    const std::uint64_t stamp = Stamp(file);
    const std::lock_guard lock(mutex);
    Digests& known = digests[file.identity];
    if (known.stamp != stamp)
        known = {stamp, 0, 0, false, false};
    known.ends = digest;
    known.hasEnds = true;
}

std::optional<std::uint64_t> ContentChecker::Memory::RememberedWhole(const FileState& file) const
{
    const std::uint64_t stamp = Stamp(file);
    const std::lock_guard lock(mutex);
    const auto it = digests.find(file.identity);
    if (it == digests.end() || it->second.stamp != stamp || !it->second.hasWhole)
        return std::nullopt;
    return it->second.whole;
}

void ContentChecker::Memory::RememberWhole(const FileState& file, std::uint64_t digest)
{
    const std::uint64_t stamp = Stamp(file);
    const std::lock_guard lock(mutex);
    Digests& known = digests[file.identity];
    if (known.stamp != stamp)
        known = {stamp, 0, 0, false, false};
    known.whole = digest;
    known.hasWhole = true;
}

std::optional<bool> ContentChecker::Memory::Remembered(const FileState& a, const FileState& b) const
{
    const bool swap = std::tie(b.identity.device, b.identity.inode) < std::tie(a.identity.device, a.identity.inode);
    const FileState& first = swap ? b : a;
    const FileState& second = swap ? a : b;
    const std::uint64_t firstStamp = Stamp(first), secondStamp = Stamp(second);
    const std::lock_guard lock(mutex);
    const auto it = answers.find({first.identity, second.identity});
    if (it == answers.end() || it->second.a != firstStamp || it->second.b != secondStamp)
        return std::nullopt;
    return it->second.equal;
}

void ContentChecker::Memory::Remember(const FileState& a, const FileState& b, bool equal)
{
    const bool swap = std::tie(b.identity.device, b.identity.inode) < std::tie(a.identity.device, a.identity.inode);
    const FileState& first = swap ? b : a;
    const FileState& second = swap ? a : b;
    const Answer answer{Stamp(first), Stamp(second), equal};
    const std::lock_guard lock(mutex);
    answers[{first.identity, second.identity}] = answer;
}

}  // namespace snapsift
