// SPDX-License-Identifier: MIT
#include "platform/drive_probe.h"

#include "platform/beside_call.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

namespace snapsift {

std::vector<Drive> ListDrivesWithin(const std::vector<MountEntry>& mounts, std::chrono::milliseconds limit,
                                    const LateLook& late, const std::string& sysRoot, const LookAt& look)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<std::pair<std::string, std::unique_ptr<BesideCall<MountPointLook>>>> calls;
    for (const std::string& point : DriveCandidates(mounts))
        calls.emplace_back(point, std::make_unique<BesideCall<MountPointLook>>([look, point] { return look(point); }));
    std::map<std::string, MountPointLook> found;
    for (auto& [point, call] : calls) {
        call->Wait(std::max(deadline - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero()));
        std::function<void(const MountPointLook&)> whenLate;
        if (late)
            whenLate = [late, point = point](const MountPointLook& look) { late(point, look); };
        const std::optional<MountPointLook> answer = call->TakeOrGiveUp(std::move(whenLate));
        found[point] = answer.value_or(MountPointLook::NoAnswer);
    }
    // The same mount point twice in the table is looked at once; every
    // look has an answer or NoAnswer here.
    return ListDrives(mounts, sysRoot, [&found](const std::string& point) { return found.at(point); });
}

}  // namespace snapsift
