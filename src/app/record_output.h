// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <string_view>

namespace snapsift {

// How the modes without a window end their records: a line end, or NUL
// (--null), so that a name holding a line end stays one record.
enum class RecordEnd {
    Line,
    Null
};

// The standard output of a mode without a window, one record at a time. It
// remembers the first failed write and writes nothing after it, so that the
// mode can say why its output is incomplete.
class RecordOutput final {
public:
    RecordOutput(std::FILE* out, RecordEnd end) : out_(out), end_(end == RecordEnd::Null ? '\0' : '\n') { }
    RecordOutput(const RecordOutput&) = delete;
    RecordOutput& operator=(const RecordOutput&) = delete;

    // Writes `text` and the record's end.
    void Put(std::string_view text);
    // Flushes what is buffered. Returns 0 when everything reached the
    // output, else the error number of the first failure.
    int Finish();

private:
    void Fail();

    std::FILE* out_;
    char end_;
    int error_ = 0;
};

}  // namespace snapsift
