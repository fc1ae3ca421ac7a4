// SPDX-License-Identifier: MIT
#pragma once

#include "platform/mounts.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace snapsift {

// The drives to offer, as ListDrives finds them, with every mount point
// looked at on a thread of its own and all of them waited for together, at
// most `limit`: a disk that does not answer keeps none of them waiting
// longer. A mount point whose look has not ended by then is offered as not
// answering. Should its look end later, `late` is called on that look's
// thread with the mount point and what it is. `look` is the look at one
// mount point (a stat of it, unless a test gives another).
std::vector<Drive> ListDrivesWithin(const std::vector<MountEntry>& mounts, std::chrono::milliseconds limit,
                                    std::function<void(const std::string& mountPoint, MountPointLook found)> late,
                                    const std::string& sysRoot = "/sys",
                                    std::function<MountPointLook(const std::string&)> look = &LookAtMountPoint);

}  // namespace snapsift
