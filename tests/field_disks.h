// SPDX-License-Identifier: MIT
#pragma once

// The disks people keep pictures on, made for real from images: FAT32 and
// exFAT through FUSE, btrfs with a subvolume and a snapshot, xfs, and ext4
// with a trash of each kind. Made inside the test's own mount namespace; each
// is detached and removed when it ends.

#include "delete/delete_selected.h"
#include "support/temp_tree.h"

#include <string>
#include <vector>

namespace snapsift::testing {

class FieldDisk;

struct FieldSetUp {
    const char* name;
    // Makes the disk; returns why it cannot be made here, or an empty text.
    std::string (*make)(FieldDisk& disk);
    // The trash lies at a mount point, where every client of the trash looks
    // (not so a btrfs subvolume's).
    bool atMountPoint = true;
};

class FieldDisk final {
public:
    // Mounted at `mountAt` (made when missing), or in a scratch folder.
    explicit FieldDisk(const FieldSetUp& setUp, std::string mountAt = {});
    ~FieldDisk();
    FieldDisk(const FieldDisk&) = delete;
    FieldDisk& operator=(const FieldDisk&) = delete;

    // Runs `command` through /bin/sh with the system folders on PATH; returns
    // its error output (and exit status) when it fails, else an empty text.
    static std::string Run(const std::string& command);

    // An empty image file of `megabytes` in the scratch folder.
    std::string Image(const std::string& name, int megabytes);
    // The folder the disk is mounted at (made on first use).
    std::string MountPoint();
    // A loop device attached to `image`; detached at the end.
    std::string AttachLoop(const std::string& image, std::string& error);
    // What to undo at the end, in reverse order: mounts first.
    void MountedAt(const std::string& folder) { mounts_.push_back(folder); }

    std::string top;    // the folder the pictures go below (the mount, or a subvolume)
    std::string trash;  // the trash folder the program must use for them
    std::string skip;   // why the set-up cannot be made here
    std::string image;  // the image file the disk was made in

private:
    TempDir scratch_;
    std::string mountAt_;
    std::vector<std::string> mounts_;
    std::vector<std::string> loops_;
};

// Every set-up of the field, by name.
const std::vector<FieldSetUp>& FieldSetUps();
// One set-up by its name; also "exfat_fuse_open", a card mounted as exfat-fuse
// does by default: every folder open to every user.
const FieldSetUp& FieldSetUpNamed(const std::string& name);

// Searches `folder` and deletes every JPEG file found, as the window's
// delete button does once confirmed. `messenger` records what was said.
DeleteOutcome DeleteEverything(const std::string& folder, const std::string& log, RecordingMessenger& messenger);

// This process's user id as text.
std::string Uid();
// A user id that no account on the machine has: the owner of what another user could change.
inline constexpr int kOtherUser = 5102;

// Writes `content` to `path`, making its folders.
void WriteFileMakingFolders(const std::string& path, const std::string& content);

}  // namespace snapsift::testing
