// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace snapsift {

// A call that can block in the kernel for as long as a disk does not answer
// (a stat or a listing on a stalled mount), made on a thread of its own so
// that the caller waits for it only as long as it chooses. The thread is
// never joined: a call given up on is left to end alone. It owns its
// function and its result, held in shared state, and touches nothing of the
// caller's; if it answers after all, it hands its result to the function the
// caller left for that, on its own thread.
template <class T>
class BesideCall final {
public:
    explicit BesideCall(std::function<T()> call) : state_(std::make_shared<State>())
    {
        std::thread([state = state_, call = std::move(call)] {
            T result = call();
            std::function<void(const T&)> late;
            {
                const std::lock_guard lock(state->mutex);
                state->result = std::move(result);
                if (state->gaveUp)
                    late = std::move(state->late);
            }
            state->answered.notify_all();
            // After a give-up nobody else reads the result.
            if (late)
                late(*state->result);
        }).detach();
    }

    // Waits until the call has answered (true) or `limit` has passed (false).
    bool Wait(std::chrono::steady_clock::duration limit) const
    {
        std::unique_lock lock(state_->mutex);
        return state_->answered.wait_for(lock, limit, [this] { return state_->result.has_value(); });
    }

    // The result, when the call has answered. Else the call is given up on:
    // `late`, when given, gets the result on the call's thread if it comes.
    // Called once.
    std::optional<T> TakeOrGiveUp(std::function<void(const T&)> late = {})
    {
        const std::lock_guard lock(state_->mutex);
        if (state_->result)
            return std::move(state_->result);
        state_->gaveUp = true;
        state_->late = std::move(late);
        return std::nullopt;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable answered;
        std::optional<T> result;
        bool gaveUp = false;
        std::function<void(const T&)> late;
    };
    std::shared_ptr<State> state_;
};

}  // namespace snapsift
