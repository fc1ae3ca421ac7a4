// SPDX-License-Identifier: MIT
#include "app/record_output.h"

#include <cerrno>

namespace snapsift {

void RecordOutput::Put(std::string_view text)
{
    if (error_ != 0)
        return;
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fputc(end_, out_) == EOF)
        Fail();
}

int RecordOutput::Finish()
{
    if (error_ == 0 && (std::fflush(out_) != 0 || std::ferror(out_)))
        Fail();
    return error_;
}

void RecordOutput::Fail()
{
    error_ = errno != 0 ? errno : EIO;
}

}  // namespace snapsift
