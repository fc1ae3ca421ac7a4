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

std::optional<std::size_t> ContentChecker::Memory::RememberedEnds(const FileState& file) const
{
    const std::lock_guard lock(mutex);
    const auto it = digests.find(file.identity);
    if (it == digests.end() || !(it->second.state == file))
        return std::nullopt;
    return it->second.ends;
}

void ContentChecker::Memory::RememberEnds(const FileState& file, std::size_t digest)
{
    const std::lock_guard lock(mutex);
    Digests& known = digests[file.identity];
    if (!(known.state == file))
        known = {file, std::nullopt, std::nullopt};
    known.ends = digest;
}

std::optional<std::uint64_t> ContentChecker::Memory::RememberedWhole(const FileState& file) const
{
    const std::lock_guard lock(mutex);
    const auto it = digests.find(file.identity);
    if (it == digests.end() || !(it->second.state == file))
        return std::nullopt;
    return it->second.whole;
}

void ContentChecker::Memory::RememberWhole(const FileState& file, std::uint64_t digest)
{
    const std::lock_guard lock(mutex);
    Digests& known = digests[file.identity];
    if (!(known.state == file))
        known = {file, std::nullopt, std::nullopt};
    known.whole = digest;
}

std::optional<bool> ContentChecker::Memory::Remembered(const FileState& a, const FileState& b) const
{
    const bool swap = std::tie(b.identity.device, b.identity.inode) < std::tie(a.identity.device, a.identity.inode);
    const FileState& first = swap ? b : a;
    const FileState& second = swap ? a : b;
    const std::lock_guard lock(mutex);
    const auto it = answers.find({first.identity, second.identity});
    if (it == answers.end() || !(it->second.a == first) || !(it->second.b == second))
        return std::nullopt;
    return it->second.equal;
}

void ContentChecker::Memory::Remember(const FileState& a, const FileState& b, bool equal)
{
    const bool swap = std::tie(b.identity.device, b.identity.inode) < std::tie(a.identity.device, a.identity.inode);
    const FileState& first = swap ? b : a;
    const FileState& second = swap ? a : b;
    const std::lock_guard lock(mutex);
    answers[{first.identity, second.identity}] = {first, second, equal};
}

}  // namespace snapsift
