// SPDX-License-Identifier: MIT
#pragma once

#include "platform/user_desktop.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace snapsift {

// Opens files with the desktop's default program beside the window: finding
// the program looks at the file, and a disk that does not answer would hold
// the window. Each open runs on a thread of its own, which owns what it fills
// in; the window looks at it from a timer and learns how it went. An open
// that never returns keeps its place, so at most kMaxOpens are under way.
class FileOpener final : public QObject {
    Q_OBJECT
public:
    using Open = std::function<ShellResult(const std::string& path)>;
    // How an open ended: `result` of the desktop's call, or not started
    // (`busy`) because kMaxOpens opens have not returned yet.
    using Report = std::function<void(const std::string& path, const ShellResult& result, bool busy)>;

    FileOpener(Open open, Report report, QObject* parent = nullptr);
    ~FileOpener() override;  // gives up the opens under way, without waiting

    void Start(const std::string& path);
    int Underway() const { return static_cast<int>(underway_.size()); }

    static constexpr int kMaxOpens = 2;
    static constexpr int kPollMs = 50;

private:
    struct Call;
    void Poll();

    Open open_;
    Report report_;
    std::vector<std::shared_ptr<Call>> underway_;
    QTimer poll_;
};

}  // namespace snapsift
