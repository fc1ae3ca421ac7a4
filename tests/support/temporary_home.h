// SPDX-License-Identifier: MIT
#pragma once

#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace snapsift::testing {

// The home of a whole test program. GLib reads HOME and XDG_DATA_HOME once per
// process, so the trash is chosen before the first test runs. HOME is set too:
// a file goes to the home trash only when it lies on the file system of HOME,
// and the test trees share the temporary folder's file system with it. HOME is
// a fresh temporary folder with XDG_DATA_HOME ("data") and XDG_STATE_HOME
// ("state") inside it, in the time zone Asia/Tokyo. Before that, the process
// gets a mount namespace of its own where it may (before any thread starts),
// so that what the tests mount is private to them and ends with them; why it
// may not is written to `mountRefusal`. Register it with
// ::testing::AddGlobalTestEnvironment.
class TemporaryHomeEnvironment final : public ::testing::Environment {
public:
    explicit TemporaryHomeEnvironment(std::string& mountRefusal) : mountRefusal_(mountRefusal) { }
    void SetUp() override;
    void TearDown() override { home_.reset(); }

private:
    std::string& mountRefusal_;
    std::unique_ptr<TempDir> home_;
};

}  // namespace snapsift::testing
