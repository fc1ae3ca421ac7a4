// SPDX-License-Identifier: MIT
#include "ui/preview/helper_starter.h"

#include "ui/preview/preview_helper.h"

#include <signal.h>
#include <spawn.h>
#include <string>
#include <unistd.h>

namespace snapsift {

namespace {

// The running executable itself, even if its file was replaced since.
constexpr const char* kHelperProgram = "/proc/self/exe";

pid_t SpawnHelper(int socket)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, socket, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, socket, STDOUT_FILENO);
    std::string program = kHelperProgram;
    std::string option = kDecodePreviewOption;
    char* argv[] = {program.data(), option.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : 0;
}

}  // namespace

HelperStarter::HelperStarter() : thread_([this] { Run(); })
{ }

HelperStarter::~HelperStarter()
{
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

std::shared_ptr<HelperStart> HelperStarter::Start(int socket)
{
    auto start = std::make_shared<HelperStart>();
    {
        const std::lock_guard lock(mutex_);
        queue_.emplace_back(socket, start);
    }
    wake_.notify_one();
    return start;
}

void HelperStarter::Run()
{
    for (;;) {
        std::pair<int, std::shared_ptr<HelperStart>> next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            next = std::move(queue_.front());
            queue_.pop_front();
            if (stop_) {
                ::close(next.first);
                const std::lock_guard startLock(next.second->mutex);
                next.second->pid = 0;
                continue;
            }
        }
        const pid_t pid = SpawnHelper(next.first);
        ::close(next.first);
        bool cancelled = false;
        {
            const std::lock_guard lock(next.second->mutex);
            next.second->pid = pid;
            cancelled = next.second->cancelled;
        }
        // The loader reaps it, as any helper it killed.
        if (cancelled && pid > 0)
            ::kill(pid, SIGKILL);
    }
}

}  // namespace snapsift
