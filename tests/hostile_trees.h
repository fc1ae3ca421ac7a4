// SPDX-License-Identifier: MIT
#pragma once

// Hostile folder trees and the harness around them, shared by the core and
// report test (hostile_test.cpp) and the window test (hostile_window_test.cpp).

#include "support/temp_tree.h"
#include "ui/window/messenger.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace snapsift {
class FileTable;
}

namespace snapsift::testing {

// Where GLib looks for the home, the trash and the desktop in this process,
// laid out as on machines whose home folders are reached through a link:
// HOME is a link to the real home, and the desktop is "$HOME/../Shared".
struct IsolatedHome {
    std::string home;          // the real home folder (canonical)
    std::string homeLink;      // what HOME holds: a link to `home`
    std::string dataHome;      // inside the home, as by default
    std::string desktop;       // the kernel's reading of "$HOME/../Shared" (canonical)
    std::string textDesktop;   // the same folder as GLib spells it, through the link and ".."
    std::string decoyDesktop;  // "$HOME/../Shared" with ".." removed as text: another folder
    std::string trashFiles;    // the home trash's "files" folder
    std::string stateHome;     // XDG_STATE_HOME, where the fallback deletion log goes
    std::string cacheHome;     // XDG_CACHE_HOME as set: "var/cache" in the home, named through HOME's link
};

// Sets HOME, XDG_DATA_HOME, XDG_CACHE_HOME and XDG_CONFIG_HOME (with a user-dirs.dirs naming
// the desktop) to fresh temporary folders. Call first thing in main, before
// anything reads them through GLib. Removed when the process ends.
const IsolatedHome& SetUpIsolatedHome();
// What every hostile test program does first, before any thread starts: the
// usual time zone, the isolated home, and a mount namespace of its own where
// it may (a note says why not).
void SetUpHostileProcess();

// Why this process may not mount (set up by SetUpHostileProcess), or empty.
const std::string& MountRefusal();

// Ends the process with a message when the guarded code takes longer than
// `seconds`: a FIFO opened for reading would otherwise hang the test run.
class Watchdog final {
public:
    Watchdog(std::string what, int seconds);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// While it lives, this thread reads and writes with the permissions of its
// user alone: as root, the capabilities that override file permissions are
// dropped from the effective set (they stay permitted and come back at the end).
class WithoutPermissionOverride final {
public:
    WithoutPermissionOverride();
    ~WithoutPermissionOverride();
    WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
    WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

private:
    bool dropped_ = false;
    unsigned saved_[6] = {};
};

// True when this thread can read and search the folder `path` now.
bool CanReadFolder(const std::string& path);

// What a hostile tree holds and what a search of it must give. Paths are
// relative to `root` unless they say otherwise.
struct HostileTree {
    std::string root;                              // the folder to search, made empty by the caller
    std::string outside;                           // an empty folder outside the root, for links to point at
    std::vector<std::string> rows;                 // every row a search finds
    std::vector<std::string> autoSelected;         // the rows automatic selection picks
    std::vector<std::string> alsoDeleted;          // further rows the deletion selects
    std::vector<std::string> mayStay;              // selected rows the trash may refuse (paths too long for it)
    std::map<std::string, std::string> sizeTexts;  // rows whose size text is checked
    std::map<std::string, std::string> dateTexts;  // rows whose date text is checked
    std::vector<std::string> trashes;              // further trash "files" folders (absolute)
    std::vector<std::string> mounts;               // mount points (absolute), detached before removal
    std::string unreadable;  // when set: search as a user that permissions bind; this folder must be unreadable then
    std::string skip;        // why the tree cannot be built here
    // Called between the older files and the newer ones; the trees built
    // together (BuiltTrees) share one wait.
    std::function<void(const std::string& folder)> waitForNewerSecond = WaitForNewerSecond;
};

struct HostileCase {
    const char* name;
    void (*build)(HostileTree& tree);
};
inline void PrintTo(const HostileCase& c, std::ostream* out)
{
    *out << c.name;
}

// Links, bind mounts, special files, odd names, long paths, deep and wide
// trees, a sparse file, unreadable folders and far-off times.
const std::vector<HostileCase>& HostileCases();

// Why the case of `tree` cannot run here, or "": the tree could not be built,
// or the search must run as a user that permissions bind (then `asUser` holds
// the capabilities dropped) and they do not bind even so.
std::string WhyTreeCannotRun(const HostileTree& tree, std::optional<WithoutPermissionOverride>& asUser);

// A hostile tree built in `parent`/`name`, with an outside folder beside the
// temporary ones; everything mounted is detached and everything removed when
// it ends.
class BuiltTree final {
public:
    BuiltTree(const HostileCase& hostile, const std::string& parent,
              std::function<void(const std::string& folder)> waitForNewerSecond = WaitForNewerSecond);
    ~BuiltTree();
    BuiltTree(const BuiltTree&) = delete;
    BuiltTree& operator=(const BuiltTree&) = delete;

    HostileTree tree;
    std::string Abs(const std::string& relative) const { return tree.root + "/" + relative; }

private:
    std::string outsideBase_;
};

// The trees of many cases built at once in `parent`, one thread each, so that
// the whole set waits for a newer second once: when every builder has made its
// older files (or has ended), the clock is waited for and all go on.
class BuiltTrees final {
public:
    BuiltTrees(const std::vector<HostileCase>& cases, const std::string& parent);
    // The tree of the case `name`, which the caller then owns; throws when
    // it was not built or its builder failed.
    std::unique_ptr<BuiltTree> Take(const std::string& name);

private:
    std::map<std::string, std::unique_ptr<BuiltTree>> trees_;
    std::map<std::string, std::string> failures_;
};

// True when the running test suite will run a case whose parameter prints
// as `param`.
bool SuiteRunsWith(const std::string& param);
// The cases of HostileCases() that the running test suite will run (the
// others are not worth building under a filter).
std::vector<HostileCase> CasesToRun();

// Makes the folders of `relative` below `base` and a file of `size` bytes
// (sparse) at its end, using *at calls so any length works.
void MakeFileAt(const std::string& base, const std::string& relative, std::uint64_t size);

// The content of the log at `path`; reads nothing but a plain file (a FIFO
// would block), and says what else is there instead.
std::string ReadLog(const std::string& path);

// Appends `content` to the file at `path`, making it when missing.
void WriteAppend(const std::string& path, const std::string& content);

// (device, inode) of what is at `path` now, links not followed; any length.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};
std::optional<FileId> IdOf(const std::string& path);

// The rows of `table` as paths relative to `root`, sorted; rows outside the
// root come back whole, so a comparison shows them.
std::vector<std::string> RelativeRows(const FileTable& table, const std::string& root);
std::vector<std::string> Sorted(std::vector<std::string> paths);
// `root`/`path` for each relative path.
std::vector<std::string> Absolute(const std::string& root, const std::vector<std::string>& relative);

// The lines of the block appended to a deletion log: `before` is the log's
// content before the command. Empty when nothing was appended.
std::vector<std::string> AppendedLogPaths(const std::string& before, const std::string& after);
// A path as a log line carries it.
std::string LogLine(const std::string& path);

// Records where every row's file is before a deletion and checks afterwards
// that exactly the selected files that still matched went to the trash, that
// the log named every selected path, and what the user was told.
class DeletionCheck final {
public:
    DeletionCheck(const HostileTree& tree, const FileTable& table, std::vector<std::string> selectedPaths,
                  std::string logPath, std::vector<std::string> mayStay);
    // `shown`: the messages since the delete button was pressed.
    void Verify(const FileTable& table, const std::vector<MessageRequest>& shown) const;

private:
    std::vector<std::string> trashes_;
    std::vector<std::string> selected_;
    std::vector<std::string> mayStay_;
    std::map<std::string, FileId> before_;
    std::string logPath_;
    std::string logBefore_;
};

// Whether a file with this id lies in one of the trash folders.
bool InTrash(const FileId& id, const std::vector<std::string>& trashFolders);

// Runs a program and collects its output; kills it after `seconds`.
struct ProgramRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    bool timedOut = false;
    std::string out;
    std::string err;
};
ProgramRun RunProgram(const std::vector<std::string>& argv, int seconds, bool withoutPermissionOverride = false);

}  // namespace snapsift::testing
