#pragma once

#include <functional>
#include <string>

namespace snapsift {

class FileTable;
class Messenger;
class Progress;

// The ticked file types and the typed extension (without a dot), as the
// window's check boxes and extension box hold them.
struct SearchOptions {
    bool m_bJpeg = false;
    bool m_bBmp = false;
    bool m_bGif = false;
    bool m_bOther = false;
    std::string m_strOtherExt;
};

enum class ScanOutcome {
    Refused,  // a precondition failed and its message was shown; nothing changed
    Scanned,
};

// Searches `target` and every folder below it for files of the ticked types
// and refills `table`: pass by pass in type order (JPEG, BMP, GIF, other),
// each pass visiting the target first and then its subfolders in the reverse
// of breadth-first order. The target is first resolved to its canonical path
// (no ".", "..", or link in it), from which every row's path is built. Links
// are never followed, a folder reached twice is searched once, and kernel file
// systems and trash folders (the user's own, and ".Trash" and ".Trash-UID" at
// the top of a disk) are never entered. A folder that
// cannot be read adds nothing and is not reported. Calls `fillResultView` once
// the table is full, then leaves the progress bar at 0.
ScanOutcome ScanFolder(const std::string& target, const SearchOptions& options, FileTable& table,
                       Messenger& messenger, Progress& progress, const std::function<void()>& fillResultView);

// Whether ScanFolder searches with these options rather than showing one of
// its two messages.
bool ScanAccepts(const SearchOptions& options);

// The message texts of the two preconditions.
extern const char* const kNeedOtherExtensionText;
extern const char* const kNeedFileTypeText;
extern const char* const kInformationCaption;

} // namespace snapsift
