// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace snapsift {

// The outcome of the last search: one row per found file, in the order found.
// Rows hold facts (numbers and names); their texts are made where they are shown.
class FileTable final {
public:
    int RowCount() const { return static_cast<int>(rows_.size()); }
    // Row k's facts, 0 <= k < RowCount().
    std::string_view Name(int k) const { return std::string_view(names_).substr(At(k).nameOffset, At(k).nameLength); }
    // The path of the folder row k's file lies in.
    const std::string& Folder(int k) const { return folders_[At(k).folder]; }
    // The file's full path: its folder and its name.
    std::string Path(int k) const;
    std::uint64_t Size(int k) const { return At(k).size; }
    std::int64_t CreationTime(int k) const { return At(k).creationTime; }  // seconds since 1970 UTC
    const FileIdentity& Identity(int k) const { return At(k).identity; }

    // Makes room for `rows` rows whose names take `nameBytes` bytes in all, so
    // that a table filled up to that size is allocated once.
    void Reserve(std::size_t rows, std::size_t nameBytes);
    // Adds a folder for the rows that follow; returns its index.
    std::uint32_t AddFolder(std::string path);
    // Appends one row for the file `name` in folder `folder` (an AddFolder index).
    void AddFoundFile(std::uint32_t folder, std::string_view name, const FileFacts& facts);
    // Removes the rows whose flag is set in `remove` (one flag per row) in one
    // pass, keeping the order of the others.
    void RemoveFileRows(const std::vector<bool>& remove);
    // Removes every row and folder.
    void ClearFileTable();

private:
    // 48 bytes: the name lies in names_, one after another in row order.
    struct Row {
        std::uint64_t nameOffset = 0;
        std::uint32_t folder = 0;
        std::uint16_t nameLength = 0;  // a file name has at most 255 bytes
        std::uint64_t size = 0;
        std::int64_t creationTime = 0;
        FileIdentity identity{};
    };
    const Row& At(int k) const { return rows_[static_cast<std::size_t>(k)]; }

    std::vector<std::string> folders_;
    std::vector<Row> rows_;
    std::string names_;
};

}  // namespace snapsift
