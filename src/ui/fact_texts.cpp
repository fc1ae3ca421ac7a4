// SPDX-License-Identifier: MIT
#include "ui/fact_texts.h"

#include "platform/local_time.h"
#include "platform/mounts.h"
#include "review/duplicate_combo.h"
#include "targets/search_targets.h"

#include <cstdlib>

namespace snapsift {

const char* const kDateFormat = "%Y年%m月%d日 %H:%M:%S";

const char* const kPromptText = "重複検出、ここから選んで下さい";
const char* const kShowAllText = "すべて表示";
const char* const kNoDuplicatesText = "重複ファイルはありません";

const char* const kCurrentRootText = "カレント";
const char* const kDesktopText = "デスクトップ";
const char* const kNotAnsweringText = "(応答なし)";

std::string SizeText(std::uint64_t size)
{
    return std::to_string(size) + "byte";
}

std::string DateText(std::int64_t creationTime)
{
    // A list shows one date per file, and the C library works out the local
    // time afresh each time. Files copied together share their second, so
    // the last text is kept, for as long as the time zone setting is the one
    // it was made under.
    struct LastDate {
        bool valid = false;
        std::int64_t time = 0;
        bool hasZone = false;
        std::string zone;
        std::string text;
    };
    thread_local LastDate last;
    const char* zone = std::getenv("TZ");
    if (last.valid && last.time == creationTime && last.hasZone == (zone != nullptr) && (!zone || last.zone == zone))
        return last.text;
    last.text = FormatLocalTime(creationTime, kDateFormat);
    last.time = creationTime;
    last.hasZone = zone != nullptr;
    last.zone = zone ? zone : "";
    last.valid = true;
    return last.text;
}

std::string ComboEntryText(const ComboEntry& entry)
{
    switch (entry.kind) {
    case ComboEntryKind::Name:
        return entry.name;
    case ComboEntryKind::Prompt:
        return kPromptText;
    case ComboEntryKind::ShowAll:
        return kShowAllText;
    case ComboEntryKind::NoDuplicates:
        return kNoDuplicatesText;
    }
    return {};
}

const char* DriveKindText(DriveKind kind)
{
    switch (kind) {
    case DriveKind::Fixed:
        return "HDD";
    case DriveKind::Removable:
        return "FDDorMO";
    case DriveKind::Network:
        return "NetD";
    case DriveKind::Disc:
        return "CD-ROM";
    case DriveKind::RamDisk:
        return "RamD";
    case DriveKind::Unknown:
        break;
    }
    return "UNKNOWN";
}

namespace {

std::string NodeOwnText(const TargetNode& node)
{
    switch (node.kind) {
    case TargetNodeKind::CurrentRoot:
        return kCurrentRootText;
    case TargetNodeKind::Drive:
        return node.name + " (" + DriveKindText(node.drive) + ")";
    case TargetNodeKind::Desktop:
        return kDesktopText;
    case TargetNodeKind::Folder:
        break;
    }
    return node.name;
}

}  // namespace

std::string TargetNodeText(const TargetNode& node)
{
    return node.answering ? NodeOwnText(node) : NodeOwnText(node) + " " + kNotAnsweringText;
}

}  // namespace snapsift
