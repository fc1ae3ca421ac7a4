#include "scan/file_table.h"

#include "platform/local_time.h"

#include <cassert>
#include <cstdlib>

namespace snapsift {

std::string SizeText(std::uint64_t size)
{
    return std::to_string(size) + "byte";
}

std::string DateText(std::int64_t creationTime)
{
    // A search formats one date per file, and the C library works out the
    // local time afresh each time. Files copied together share their second,
    // so the last text is kept, for as long as the time zone setting is the
    // one it was made under.
    struct LastDate {
        bool valid = false;
        std::int64_t time = 0;
        bool hasZone = false;
        std::string zone;
        std::string text;
    };
    thread_local LastDate last;
    const char* zone = std::getenv("TZ");
    if (last.valid && last.time == creationTime && last.hasZone == (zone != nullptr) && (!zone || last.zone == zone))
        return last.text;
    last.text = FormatLocalTime(creationTime, "%Y年%m月%d日 %H:%M:%S");
    last.time = creationTime;
    last.hasZone = zone != nullptr;
    last.zone = zone ? zone : "";
    last.valid = true;
    return last.text;
}

void FileTable::AddFoundFile(const FoundFile& file)
{
    m_names.push_back(file.name);
    m_sizes.push_back(SizeText(file.size));
    m_dates.push_back(DateText(file.creationTime));
    m_paths.push_back(file.path);
    m_identities.resize(static_cast<std::size_t>(m_fileCount));
    m_identities.push_back(file.identity);
    ++m_fileCount;
}

void FileTable::AddFoundFile(FoundFile&& file)
{
    m_names.push_back(std::move(file.name));
    m_sizes.push_back(SizeText(file.size));
    m_dates.push_back(DateText(file.creationTime));
    m_paths.push_back(std::move(file.path));
    m_identities.resize(static_cast<std::size_t>(m_fileCount));
    m_identities.push_back(file.identity);
    ++m_fileCount;
}

void FileTable::RemoveFileRow(int k)
{
    assert(k >= 0 && k < m_fileCount);
    m_names.erase(m_names.begin() + k);
    m_sizes.erase(m_sizes.begin() + k);
    m_dates.erase(m_dates.begin() + k);
    m_paths.erase(m_paths.begin() + k);
    if (m_identities.size() == static_cast<std::size_t>(m_fileCount))
        m_identities.erase(m_identities.begin() + k);
    else
        m_identities.clear();  // out of step with the rows: unknown for all
    --m_fileCount;
}

void FileTable::RemoveFileRows(const std::vector<bool>& remove)
{
    assert(static_cast<int>(remove.size()) == m_fileCount);
    if (m_identities.size() != remove.size())
        m_identities.clear();  // out of step with the rows: unknown for all
    std::size_t kept = 0;
    for (std::size_t k = 0; k < remove.size(); ++k) {
        if (remove[k])
            continue;
        if (kept != k) {
            m_names[kept] = std::move(m_names[k]);
            m_sizes[kept] = std::move(m_sizes[k]);
            m_dates[kept] = std::move(m_dates[k]);
            m_paths[kept] = std::move(m_paths[k]);
            if (!m_identities.empty())
                m_identities[kept] = m_identities[k];
        }
        ++kept;
    }
    m_names.resize(kept);
    m_sizes.resize(kept);
    m_dates.resize(kept);
    m_paths.resize(kept);
    if (!m_identities.empty())
        m_identities.resize(kept);
    m_fileCount = static_cast<int>(kept);
}

void FileTable::ClearFileTable()
{
    m_names.clear();
    m_sizes.clear();
    m_dates.clear();
    m_paths.clear();
    m_identities.clear();
    m_fileCount = 0;
}

} // namespace snapsift
