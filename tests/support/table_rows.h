#pragma once

#include "scan/file_table.h"

#include <string>
#include <vector>

namespace snapsift::testing {

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

} // namespace snapsift::testing
