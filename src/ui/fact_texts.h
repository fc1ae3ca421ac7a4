// SPDX-License-Identifier: MIT
#pragma once

// The texts made of the facts the core returns: file sizes and dates, the
// duplicate-name combo's entries and the target tree's nodes. The window
// shows them and the report prints the sizes and dates. UTF-8; plain C++.

#include <cstdint>
#include <string>

namespace snapsift {

struct ComboEntry;
struct TargetNode;
enum class DriveKind : std::uint8_t;

// "1234byte": the full 64-bit length in decimal.
std::string SizeText(std::uint64_t size);

// The strftime pattern of a date: "1999年07月15日 14:03:09". Every field has a
// fixed width, so texts of one time zone sort as their times do.
extern const char* const kDateFormat;
// A creation time (seconds since 1970 UTC) in local time, in kDateFormat;
// before 1970 and after 2038 too.
std::string DateText(std::int64_t creationTime);

// The combo's entries.
extern const char* const kPromptText;        // "重複検出、ここから選んで下さい"
extern const char* const kShowAllText;       // "すべて表示"
extern const char* const kNoDuplicatesText;  // "重複ファイルはありません"
// What an entry (or the field) shows: the words of its kind, or its name.
std::string ComboEntryText(const ComboEntry& entry);

// The target tree.
extern const char* const kCurrentRootText;   // "カレント"
extern const char* const kDesktopText;       // "デスクトップ"
extern const char* const kNotAnsweringText;  // "(応答なし)", after the text of a node whose disk did not answer
// "HDD", "FDDorMO", "NetD", "CD-ROM", "RamD" or "UNKNOWN".
const char* DriveKindText(DriveKind kind);
// What a node shows: "/home (HDD)" for a drive, a folder's own name, or a
// root's words; followed by " (応答なし)" while its disk does not answer.
std::string TargetNodeText(const TargetNode& node);

}  // namespace snapsift
