// SPDX-License-Identifier: MIT
#include "scan/file_table.h"

#include <cassert>

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

FileTable::Row FileTable::RowOf(std::size_t nameOffset, std::uint32_t folder, std::string_view name,
                                const FileFacts& facts)
{
    assert(name.size() <= UINT16_MAX);
    return Row{nameOffset,
               folder,
               static_cast<std::uint16_t>(name.size()),
               facts.size,
               facts.creationTime,
               facts.identity.device,
               facts.identity.inode};
}

void FileTable::AddFoundFile(std::uint32_t folder, std::string_view name, const FileFacts& facts)
{
    assert(folder < folders_.size());
    rows_.push_back(RowOf(names_.size(), folder, name, facts));
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
    rows_[k] = RowOf(nameOffset, folder, name, facts);
    std::char_traits<char>::copy(names_.data() + nameOffset, name.data(), name.size());
}

void FileTable::KeepFirstRows(std::size_t rows, std::size_t nameBytes, std::size_t folders)
{
    assert(rows <= rows_.size() && nameBytes <= names_.size() && folders <= folders_.size());
    rows_.resize(rows);
    names_.resize(nameBytes);
    folders_.resize(folders);
}

void FileTable::RemoveFileRows(const std::vector<bool>& remove)
{
    assert(remove.size() == rows_.size());
    // Names are in row order, so the kept ones move only towards the front.
    std::size_t kept = 0;
    std::size_t nameEnd = 0;
    for (std::size_t k = 0; k < rows_.size(); ++k) {
        if (k < remove.size() && remove[k])
            continue;
        Row row = rows_[k];
        std::char_traits<char>::move(names_.data() + nameEnd, names_.data() + row.nameOffset, row.nameLength);
        row.nameOffset = nameEnd;
        nameEnd += row.nameLength;
        rows_[kept++] = row;
    }
    rows_.resize(kept);
    names_.resize(nameEnd);
}

void FileTable::ClearFileTable()
{
    // The memory goes too: a new search may find far fewer files.
    decltype(rows_)().swap(rows_);
    std::vector<std::string>().swap(folders_);
    decltype(names_)().swap(names_);
}

}  // namespace snapsift
