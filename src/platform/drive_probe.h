// SPDX-License-Identifier: MIT
#pragma once

#include "platform/mounts.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace snapsift {

// Told, on the look's own thread, what a mount point turned out to be after
// the wait for it had ended.
using LateLook = std::function<void(const std::string& mountPoint, MountPointLook found)>;
// The look at one mount point.
using LookAt = std::function<MountPointLook(const std::string& mountPoint)>;

// The drives to offer, as ListDrives finds them, with every mount point
// looked at on a thread of its own and all of them waited for together, at
// most `limit`: a disk that does not answer keeps none of them waiting
// longer. A mount point whose look has not ended by then is offered as not
// answering. Should its look end later, `late` is called on that look's
// thread with the mount point and what it is. `look` is the look at one
// mount point (a stat of it, unless a test gives another).
std::vector<Drive> ListDrivesWithin(const std::vector<MountEntry>& mounts, std::chrono::milliseconds limit,
                                    const LateLook& late, const std::string& sysRoot = "/sys",
                                    const LookAt& look = &LookAtMountPoint);

}  // namespace snapsift
