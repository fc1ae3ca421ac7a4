// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes, as a .trashinfo another program may have written,
// to its reader, and checks that what the trash writes reads back the same:
// the path from the input's bytes and a deletion date from its first eight.
// Nothing may crash, hang or read out of bounds.
#include "platform/trash_info.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "Europe/London", 1);  // an hour that repeats every autumn
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto info = snapsift::ReadTrashInfo(text);
    if (info && (info->path.empty() || (info->deleted && info->deleted->earliest > info->deleted->latest)))
        std::abort();
    snapsift::ParseDeletionDate(std::string(text));

    // What the trash writes reads back: a path without NUL, at a time within
    // what the C library can break down.
    std::string path(text.substr(0, text.find('\0')));
    if (path.empty())
        return 0;
    std::int64_t when = 0;
    std::memcpy(&when, data, size < sizeof when ? size : sizeof when);
    when %= 4102444800;  // up to 2100
    const auto back = snapsift::ReadTrashInfo(snapsift::TrashInfoText(path, when));
    if (!back || back->path != path)
        std::abort();
    if (back->deleted && (back->deleted->earliest > when || back->deleted->latest < when))
        std::abort();
    return 0;
}
