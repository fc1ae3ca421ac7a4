// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the mount table parser and the drive list built
// from it. Neither may crash, hang or read out of bounds, and every drive
// offered must satisfy the list's own rules.
#include "platform/mounts.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto mounts = snapsift::ParseMountInfo(text);
    // A sysfs root that does not exist: kinds come from the table alone.
    const auto drives = snapsift::ListDrives(mounts, "/nonexistent-sysfs");
    for (const auto& drive : drives) {
        if (drive.mountPoint.empty() || drive.mountPoint[0] != '/')
            std::abort();
        if (drive.kind > snapsift::DriveKind::Unknown)
            std::abort();
    }
    return 0;
}
