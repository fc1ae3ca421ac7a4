// SPDX-License-Identifier: MIT
#pragma once

#include "platform/file_system.h"

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace snapsift {

// The outcome of the last search: one row per found file, in the order found.
// Rows hold facts (numbers and names); their texts are made where they are shown.
class FileTable final {
public:
    FileTable() = default;
    // For tests: name offsets kept in `offsetBits` bits (at most 32), so
    // that a small table crosses the boundaries a table of more than 4 GiB
    // of names does.
    explicit FileTable(unsigned offsetBits) : offsetBits_(offsetBits) { }

    int RowCount() const { return static_cast<int>(rows_.size()); }
    // Row k's facts, 0 <= k < RowCount().
    std::string_view Name(int k) const
    {
        const std::size_t start = NameOffset(static_cast<std::size_t>(k));
        return std::string_view(names_.data() + start, NameOffset(static_cast<std::size_t>(k) + 1) - start);
    }
    // The path of the folder row k's file lies in.
    const std::string& Folder(int k) const { return folders_[At(k).folder]; }
    // The file's full path: its folder and its name.
    std::string Path(int k) const;
    std::uint64_t Size(int k) const { return At(k).size; }
    std::int64_t CreationTime(int k) const { return At(k).creationTime; }  // seconds since 1970 UTC
    FileIdentity Identity(int k) const { return FileIdentity{At(k).device, At(k).inode}; }

    // Makes room for `rows` rows whose names take `nameBytes` bytes in all, so
    // that a table filled up to that size is allocated once.
    void Reserve(std::size_t rows, std::size_t nameBytes);
    // Adds a folder for the rows that follow; returns its index.
    std::uint32_t AddFolder(std::string path);
    // Appends one row for the file `name` in folder `folder` (an AddFolder index).
    void AddFoundFile(std::uint32_t folder, std::string_view name, const FileFacts& facts);

    // Filling the table out of row order: sizes it for `rows` rows whose
    // names take `nameBytes` bytes, all of them to be placed, in folders
    // already added. The room is only written as rows are placed into it.
    void SizeRows(std::size_t rows, std::size_t nameBytes);
    // Writes row k (< the rows sized), whose name goes at `nameOffset`: the
    // offset of row k - 1's name plus its length.
    void PlaceRow(std::size_t k, std::uint32_t folder, std::size_t nameOffset, std::string_view name,
                  const FileFacts& facts);
    // Keeps only the first `rows` rows, whose names take `nameBytes` bytes,
    // and the first `folders` folders: those of the rows placed so far.
    void KeepFirstRows(std::size_t rows, std::size_t nameBytes, std::size_t folders);
    // Removes the rows whose flag is set in `remove` (one flag per row) in one
    // pass, keeping the order of the others.
    void RemoveFileRows(const std::vector<bool>& remove);
    // Removes every row and folder.
    void ClearFileTable();

private:
    // Leaves what a resize adds unwritten: room sized ahead becomes resident
    // only as it is filled.
    template <typename T>
    struct UnwrittenAllocator : std::allocator<T> {
        template <typename U>
        struct rebind {
            using other = UnwrittenAllocator<U>;
        };
        UnwrittenAllocator() = default;
        template <typename U>
        UnwrittenAllocator(const UnwrittenAllocator<U>&) noexcept
        { }
        template <typename U, typename... Args>
        void construct(U* at, Args&&... args)
        {
            if constexpr (sizeof...(Args) == 0)
                ::new (static_cast<void*>(at)) U;
            else
                ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
        }
    };

    // 40 bytes. The names lie in names_ one after another in row order, so
    // a row's name ends where the next row's begins, and its offset is kept
    // in 32 bits: `wraps_` holds, for each 4 GiB of names, the first row
    // whose name starts beyond it. No member has a default, so that sized
    // rows stay unwritten.
    struct Row {
        std::uint32_t nameStart;  // the name's offset, its low 32 bits
        std::uint32_t folder;
        std::uint64_t size;
        std::int64_t creationTime;
        std::uint64_t device;
        std::uint64_t inode;
    };
    static_assert(sizeof(Row) == 40);
    const Row& At(int k) const { return rows_[static_cast<std::size_t>(k)]; }
    Row RowOf(std::size_t nameOffset, std::uint32_t folder, const FileFacts& facts) const;
    // Where row k's name starts; row RowCount()'s is the end of the names.
    std::size_t NameOffset(std::size_t k) const
    {
        if (k == rows_.size())
            return names_.size();
        std::size_t high = 0;
        while (high < wraps_.size() && wraps_[high] <= k)
            ++high;
        return (high << offsetBits_) | rows_[k].nameStart;
    }
    // Notes that row k's name starts at `nameOffset`.
    void NoteWraps(std::size_t k, std::size_t nameOffset);

    unsigned offsetBits_ = 32;
    std::vector<std::size_t> wraps_;

    std::vector<std::string> folders_;
    std::vector<Row, UnwrittenAllocator<Row>> rows_;
    std::vector<char, UnwrittenAllocator<char>> names_;
};

}  // namespace snapsift
