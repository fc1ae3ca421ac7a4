// SPDX-License-Identifier: MIT
#include "support/temporary_home.h"

#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace snapsift::testing {
namespace {

class TemporaryHomeEnvironment final : public ::testing::Environment {
public:
    explicit TemporaryHomeEnvironment(std::string& mountRefusal) : mountRefusal_(mountRefusal) { }
    void SetUp() override
    {
        mountRefusal_ = EnterPrivateMountNamespace();
        home_ = std::make_unique<TempDir>();
        SetEnv("HOME", home_->Path());
        SetEnv("XDG_DATA_HOME", home_->MakeFolder("data"));
        SetEnv("XDG_STATE_HOME", *home_ / "state");
        SetEnv("TZ", "Asia/Tokyo");
        tzset();
    }
    void TearDown() override { home_.reset(); }

private:
    std::string& mountRefusal_;
    std::unique_ptr<TempDir> home_;
};

}  // namespace

const std::string& UseTemporaryHome()
{
    static std::string refusal = "not tried";
    [[maybe_unused]] static ::testing::Environment* const environment =
        ::testing::AddGlobalTestEnvironment(new TemporaryHomeEnvironment(refusal));
    return refusal;
}

std::string TrashDir()
{
    return std::string(std::getenv("XDG_DATA_HOME")) + "/Trash";
}

}  // namespace snapsift::testing
