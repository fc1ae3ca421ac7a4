// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace snapsift::testing {

// Gives the whole test program a temporary home; call it once, at namespace
// scope. GLib reads HOME and XDG_DATA_HOME once per process, so the trash is
// chosen before the first test runs. HOME is set too: a file goes to the home
// trash only when it lies on the file system of HOME, and the test trees share
// the temporary folder's file system with it. Before the first test, HOME
// becomes a fresh temporary folder with XDG_DATA_HOME ("data") and
// XDG_STATE_HOME ("state") inside it, in the time zone Asia/Tokyo; and first of
// all, where it may, the process gets a mount namespace of its own (before any
// thread starts), so that what the tests mount is private to them and ends
// with them. Returns why the process cannot mount file systems of its own,
// filled in then: empty when it can.
const std::string& UseTemporaryHome();

// The home trash: $XDG_DATA_HOME/Trash.
std::string TrashDir();

}  // namespace snapsift::testing
