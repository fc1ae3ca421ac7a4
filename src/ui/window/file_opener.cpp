// SPDX-License-Identifier: MIT
#include "ui/window/file_opener.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace snapsift {

struct FileOpener::Call {
    std::string path;
    std::mutex mutex;
    bool done = false;
    ShellResult result;
};

FileOpener::FileOpener(Open open, Report report, QObject* parent)
    : QObject(parent), open_(std::move(open)), report_(std::move(report))
{
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &FileOpener::Poll);
}

FileOpener::~FileOpener() = default;

void FileOpener::Start(const std::string& path)
{
    if (Underway() >= kMaxOpens) {
        report_(path, ShellResult{}, true);
        return;
    }
    auto call = std::make_shared<Call>();
    call->path = path;
    underway_.push_back(call);
    // The thread holds its call and a copy of the opening function alone.
    std::thread([call, open = open_] {
        ShellResult result = open(call->path);
        const std::lock_guard lock(call->mutex);
        call->result = std::move(result);
        call->done = true;
    }).detach();
    poll_.start();
}

void FileOpener::Poll()
{
    std::vector<std::shared_ptr<Call>> ended;
    std::erase_if(underway_, [&ended](const std::shared_ptr<Call>& call) {
        const std::lock_guard lock(call->mutex);
        if (call->done)
            ended.push_back(call);
        return call->done;
    });
    if (underway_.empty())
        poll_.stop();
    for (const auto& call : ended)
        report_(call->path, call->result, false);
}

}  // namespace snapsift
