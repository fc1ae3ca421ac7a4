#pragma once

#include "platform/file_system.h"

#include <cstdint>
#include <string>
#include <vector>

namespace snapsift {

// A file as a search met it: its name, its full path and what it is.
struct FoundFile {
    std::string name;
    std::string path;
    std::uint64_t size = 0;
    std::int64_t creationTime = 0;
    FileIdentity identity{};  // unknown when not given
};

// The outcome of the last search: one row per found file, in the order found.
// The four columns always have m_fileCount elements; rows are never sorted and
// nothing in them is unique.
class FileTable final {
public:
    std::vector<std::string> m_names;
    std::vector<std::string> m_sizes;
    std::vector<std::string> m_dates;
    std::vector<std::string> m_paths;
    int m_fileCount = 0;
    // Which file each row found, beside the four columns: a deletion moves
    // only that file, not another one put under its path since the search.
    std::vector<FileIdentity> m_identities;

    // Appends one row for `file`.
    void AddFoundFile(const FoundFile& file);
    void AddFoundFile(FoundFile&& file);
    // Removes row k (0 <= k < m_fileCount); later rows move up by one.
    void RemoveFileRow(int k);
    // Removes the rows whose flag is set in `remove` (one flag per row) in one
    // pass, keeping the order of the others.
    void RemoveFileRows(const std::vector<bool>& remove);
    void ClearFileTable();
};

// "1234byte": the full 64-bit length in decimal.
std::string SizeText(std::uint64_t size);
// "1999年07月15日 14:03:09" in local time; before 1970 and after 2038 too.
std::string DateText(std::int64_t creationTime);

} // namespace snapsift
