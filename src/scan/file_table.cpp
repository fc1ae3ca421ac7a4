// SPDX-License-Identifier: MIT
#include "scan/file_table.h"

#include <algorithm>
#include <cassert>
#include <cstdint>

namespace snapsift {

std::string FileTable::Path(int k) const
{
    return JoinPath(Folder(k), Name(k));
}

void FileTable::Reserve(std::size_t rows, std::size_t nameBytes)
{
    rows_.reserve(rows);
    names_.reserve(nameBytes);
}

std::uint32_t FileTable::AddFolder(std::string path)
{
    folders_.push_back(std::move(path));
    return static_cast<std::uint32_t>(folders_.size() - 1);
}

FileTable::Row FileTable::RowOf(std::size_t nameOffset, std::uint32_t folder, const FileFacts& facts) const
{
    const std::size_t low = nameOffset & ((std::size_t{1} << offsetBits_) - 1);
    return Row{static_cast<std::uint32_t>(low),
               folder,
               facts.size,
               facts.creationTime,
               facts.identity.device,
               facts.identity.inode};
}

void FileTable::NoteWraps(std::size_t k, std::size_t nameOffset)
{
    const std::size_t high = nameOffset >> offsetBits_;
    if (wraps_.size() < high)
        wraps_.resize(high, SIZE_MAX);
    for (std::size_t i = 0; i < high; ++i)
        wraps_[i] = std::min(wraps_[i], k);
}

void FileTable::AddFoundFile(std::uint32_t folder, std::string_view name, const FileFacts& facts)
{
    assert(folder < folders_.size());
    NoteWraps(rows_.size(), names_.size());
    rows_.push_back(RowOf(names_.size(), folder, facts));
    names_.insert(names_.end(), name.begin(), name.end());
}

void FileTable::SizeRows(std::size_t rows, std::size_t nameBytes)
{
    rows_.resize(rows);
    names_.resize(nameBytes);
}

void FileTable::PlaceRow(std::size_t k, std::uint32_t folder, std::size_t nameOffset, std::string_view name,
                         const FileFacts& facts)
{
    assert(k < rows_.size() && folder < folders_.size());
    assert(nameOffset <= names_.size() && name.size() <= names_.size() - nameOffset);
    NoteWraps(k, nameOffset);
    rows_[k] = RowOf(nameOffset, folder, facts);
    std::char_traits<char>::copy(names_.data() + nameOffset, name.data(), name.size());
}

void FileTable::KeepFirstRows(std::size_t rows, std::size_t nameBytes, std::size_t folders)
{
    assert(rows <= rows_.size() && nameBytes <= names_.size() && folders <= folders_.size());
    rows_.resize(rows);
    names_.resize(nameBytes);
    folders_.resize(folders);
    while (!wraps_.empty() && wraps_.back() >= rows)
        wraps_.pop_back();
}

void FileTable::RemoveFileRows(const std::vector<bool>& remove)
{
    assert(remove.size() == rows_.size());
    // Names are in row order, so the kept ones move only towards the front.
    std::size_t kept = 0;
    std::size_t nameEnd = 0;
    std::vector<std::size_t> wraps;
    for (std::size_t k = 0; k < rows_.size(); ++k) {
        if (k < remove.size() && remove[k])
            continue;
        const std::size_t start = NameOffset(k);
        const std::size_t length = NameOffset(k + 1) - start;
        std::char_traits<char>::move(names_.data() + nameEnd, names_.data() + start, length);
        Row row = rows_[k];
        row.nameStart = RowOf(nameEnd, row.folder, FileFacts{}).nameStart;
        while (wraps.size() < (nameEnd >> offsetBits_))
            wraps.push_back(kept);
        nameEnd += length;
        rows_[kept++] = row;
    }
    rows_.resize(kept);
    names_.resize(nameEnd);
    wraps_.swap(wraps);
}

void FileTable::ClearFileTable()
{
    // The memory goes too: a new search may find far fewer files.
    decltype(rows_)().swap(rows_);
    std::vector<std::string>().swap(folders_);
    decltype(names_)().swap(names_);
    std::vector<std::size_t>().swap(wraps_);
}

}  // namespace snapsift
