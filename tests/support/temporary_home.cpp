// SPDX-License-Identifier: MIT
#include "support/temporary_home.h"

#include <ctime>

namespace snapsift::testing {

void TemporaryHomeEnvironment::SetUp()
{
    mountRefusal_ = EnterPrivateMountNamespace();
    home_ = std::make_unique<TempDir>();
    SetEnv("HOME", home_->Path());
    SetEnv("XDG_DATA_HOME", home_->MakeFolder("data"));
    SetEnv("XDG_STATE_HOME", *home_ / "state");
    SetEnv("TZ", "Asia/Tokyo");
    tzset();
}

}  // namespace snapsift::testing
