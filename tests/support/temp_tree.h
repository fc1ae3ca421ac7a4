// SPDX-License-Identifier: MIT
#pragma once

#include "platform/progress.h"
#include "ui/window/messenger.h"

#include <cstdint>
#include <string>
#include <vector>

namespace snapsift::testing {

// A temporary folder, removed with everything in it when the object ends.
class TempDir final {
public:
    explicit TempDir(const std::string& under = "");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path of `relative` inside the folder.
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

    // Creates the folder `relative` with its parents.
    std::string MakeFolder(const std::string& relative) const;
    // Creates (or replaces) a file with `size` bytes, making its parents.
    std::string MakeFile(const std::string& relative, std::uint64_t size = 0) const;
    // Creates a file with the given content.
    std::string WriteFile(const std::string& relative, const std::string& content) const;

private:
    std::string path_;
};

// Removes a tree without following links; works on paths of any length.
void RemoveTree(const std::string& path);

// Whether anything is at `path`; a link counts as itself, whatever it points at.
bool Exists(const std::string& path);

// Reads a whole file; empty when it cannot.
std::string ReadFile(const std::string& path);

// Returns once a file made in `folder` now gets a later creation second (the
// time the search shows and automatic selection compares) than a file made
// before the call. Birth times cannot be set, so tests that need an older and
// a newer copy wait for the file system's own clock instead of sleeping.
void WaitForNewerSecond(const std::string& folder);

// Sets an environment variable for the rest of the process.
void SetEnv(const std::string& name, const std::string& value);

// Gives the process a mount namespace of its own with private mounts, so that
// what a test mounts ends with it. Call before any thread starts. Returns why
// that was refused, or an empty text.
std::string EnterPrivateMountNamespace();

// A message box that records what it was asked and answers from a script
// (Ok when the script runs out).
class RecordingMessenger final : public Messenger {
public:
    MessageAnswer Show(const MessageRequest& request) override;
    std::vector<MessageRequest> shown;
    std::vector<MessageAnswer> answers;
};

// A progress bar that records every operation as text: "range 0 4",
// "delta 3", "pos 0".
class RecordingProgress final : public Progress {
public:
    void SetRange(int lower, int upper) override;
    void DeltaPos(int step) override;
    void SetPos(int position) override;
    std::vector<std::string> ops;
};

}  // namespace snapsift::testing
