// SPDX-License-Identifier: MIT
#pragma once

#include "scan/picture_types.h"

#include <atomic>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace snapsift {

class FileTable;
class Progress;

// The ticked file types and the typed extension (without a dot): the one
// shape the window's data exchange and the command line both fill, and the
// search reads. The chosen picture types and further extensions are searched
// after the four, in that order; with none, the search is that of the four.
struct SearchOptions {
    bool m_bJpeg = false;
    bool m_bBmp = false;
    bool m_bGif = false;
    bool m_bOther = false;
    std::string m_strOtherExt;
    PictureKinds pictureKinds;                // in the order of PictureTypes()
    std::vector<std::string> moreExtensions;  // further typed extensions, in the order given
};

// How many further extensions a search takes; those beyond are not searched.
constexpr std::size_t kMostMoreExtensions = 16;

// Why a search with these options does not start.
enum class SearchRefusal {
    None,
    NeedOtherExtension,  // "other" ticked with no extension typed
    NeedFileType,        // no file type ticked
};

// Whether any type is ticked or chosen.
bool AnyTypeTicked(const SearchOptions& options);

// Whether ScanFolder searches with these options, and if not, why.
SearchRefusal CheckSearchOptions(const SearchOptions& options);

// What a search did.
struct ScanOutcome {
    SearchRefusal refusal = SearchRefusal::None;  // not None: nothing changed, not even the bar
    int rowsAdded = 0;
    // The folder searched: the target's canonical path, from which every
    // row's folder is built. Empty when the target could not be resolved.
    std::string canonicalTarget;
    // 0 when the target could be opened and listed; else why not (an errno
    // value), and the search found nothing.
    int targetError = 0;
    bool stopped = false;  // stopped before its end: the rows are those found so far
};

// Searches `target` and every folder below it for files of the ticked types
// and refills `table`: pass by pass in type order (JPEG, BMP, GIF, other,
// then the chosen picture types and the further extensions), each pass
// visiting the target first and then its subfolders in the reverse of
// breadth-first order. The target is first resolved to its canonical path
// (no ".", "..", or link in it), from which every row's folder is built. Links
// are never followed, a folder reached twice is searched once, and kernel file
// systems, trash folders and thumbnail stores (see skipped_folders.h) are
// never entered. A folder below the target that cannot be read adds nothing
// and is not reported.
// Leaves the progress bar at 0. Shows nothing and may run on any thread:
// `progress` is called on the calling one.
//
// Each folder is listed once, by a pool of threads, and each matching file's
// facts are taken then: a row describes the file as it was when its folder
// was listed. Every folder below the target is opened from its parent (or
// from the target) without following a link, so a folder that has become a
// link meanwhile is not entered.
//
// Once `stop` is requested the search ends soon with the rows of the folders
// listed so far; a listing still under way is not waited for. `walking`, when
// given, becomes true once the target itself has been read: from then on the
// calling thread waits on no disk, and a stop is answered at once.
ScanOutcome ScanFolder(const std::string& target, const SearchOptions& options, FileTable& table, Progress& progress,
                       const std::stop_token& stop = {}, std::atomic<bool>* walking = nullptr);

// For tests: what a search calls on the way. Set before a search starts;
// each search takes a copy.
struct ScanHooks {
    // On a worker thread, right before the folder at `relative` (below the
    // target, without a leading slash) is opened.
    std::function<void(const std::string& relative)> beforeOpening;
    // Keep no folder open for its subfolders: each is opened from the target.
    bool holdNoFolder = false;
};
void SetScanHooks(ScanHooks hooks);

}  // namespace snapsift
