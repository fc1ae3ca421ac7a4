// SPDX-License-Identifier: MIT
#include "support/scoped_env.h"

#include <cstdlib>
#include <ctime>
#include <utility>

namespace snapsift::testing {

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name))
{
    if (const char* old = std::getenv(name_.c_str()))
        old_ = old;
    setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (old_)
        setenv(name_.c_str(), old_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

TimeZone::TimeZone(const std::string& zone) : env_(std::in_place, "TZ", zone)
{
    tzset();
}

TimeZone::~TimeZone()
{
    env_.reset();
    tzset();
}

}  // namespace snapsift::testing
