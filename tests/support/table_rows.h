// SPDX-License-Identifier: MIT
#pragma once

#include "scan/file_table.h"
#include "ui/fact_texts.h"

#include <string>
#include <vector>

namespace snapsift::testing {

// A row for a table the tests fill by hand: a name, the folder it lies in and
// what it is.
struct FoundFile {
    std::string name;
    std::string folder;
    std::uint64_t size = 0;
    std::int64_t creationTime = 0;
    FileIdentity identity{};  // unknown when not given
};

// Appends one row for `file`, in a folder of its own.
inline void AddFoundFile(FileTable& table, FoundFile file)
{
    const std::uint32_t folder = table.AddFolder(std::move(file.folder));
    table.AddFoundFile(folder, file.name, FileFacts{file.size, file.creationTime, file.identity});
}

// One column of a file table as the texts a person sees, row by row.
inline std::vector<std::string> TableNames(const FileTable& table)
{
    std::vector<std::string> out;
    for (int k = 0; k < table.RowCount(); ++k)
        out.emplace_back(table.Name(k));
    return out;
}

inline std::vector<std::string> TablePaths(const FileTable& table)
{
    std::vector<std::string> out;
    for (int k = 0; k < table.RowCount(); ++k)
        out.push_back(table.Path(k));
    return out;
}

inline std::vector<std::string> TableSizeTexts(const FileTable& table)
{
    std::vector<std::string> out;
    for (int k = 0; k < table.RowCount(); ++k)
        out.push_back(SizeText(table.Size(k)));
    return out;
}

inline std::vector<std::string> TableDateTexts(const FileTable& table)
{
    std::vector<std::string> out;
    for (int k = 0; k < table.RowCount(); ++k)
        out.push_back(DateText(table.CreationTime(k)));
    return out;
}

inline std::vector<FileIdentity> TableIdentities(const FileTable& table)
{
    std::vector<FileIdentity> out;
    for (int k = 0; k < table.RowCount(); ++k)
        out.push_back(table.Identity(k));
    return out;
}

// Row k as the report prints it: name, size, date and path, TAB-separated.
inline std::string RowLine(const FileTable& table, int k)
{
    return std::string(table.Name(k)) + '\t' + SizeText(table.Size(k)) + '\t' + DateText(table.CreationTime(k)) + '\t' +
           table.Path(k);
}

}  // namespace snapsift::testing
