// SPDX-License-Identifier: MIT
#include "ui/preview/content_probe.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace snapsift {

struct ContentProbe::Shared {
    std::vector<ContentChecker::CopyPlace> places;
    mutable std::mutex mutex;
    std::vector<State> states;  // filled in order, under the mutex
    std::atomic<bool> wanted{true};
    std::atomic<bool> ended{false};
};

ContentProbe::ContentProbe(std::vector<ContentChecker::CopyPlace> places) : shared_(std::make_shared<Shared>())
{
    shared_->places = std::move(places);
    shared_->states.reserve(shared_->places.size());
    // The thread holds the shared state alone: it lives on if the window goes.
    std::thread([shared = shared_] {
        for (const ContentChecker::CopyPlace& place : shared->places) {
            if (!shared->wanted.load())
                break;
            const State state = ContentChecker::StateOfCopy(place);
            const std::lock_guard lock(shared->mutex);
            shared->states.push_back(state);
        }
        shared->ended.store(true);
    }).detach();
}

ContentProbe::~ContentProbe()
{
    GiveUp();
}

std::size_t ContentProbe::Size() const
{
    return shared_->places.size();
}

std::size_t ContentProbe::Done() const
{
    const std::lock_guard lock(shared_->mutex);
    return shared_->states.size();
}

ContentProbe::State ContentProbe::StateAt(std::size_t i) const
{
    const std::lock_guard lock(shared_->mutex);
    return i < shared_->states.size() ? shared_->states[i] : State();
}

void ContentProbe::GiveUp()
{
    shared_->wanted.store(false);
}

bool ContentProbe::Ended() const
{
    return shared_->ended.load();
}

}  // namespace snapsift
