// SPDX-License-Identifier: MIT
#include "app/report_mode.h"

#include "app/record_output.h"
#include "platform/progress.h"
#include "review/content_check.h"
#include "review/protection.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "ui/fact_texts.h"

#include <cerrno>
#include <cstring>
#include <functional>

namespace snapsift {
namespace {

// Why the options were refused, as one line on standard error.
const char* RefusalLine(SearchRefusal refusal)
{
    switch (refusal) {
    case SearchRefusal::None:
        break;
    case SearchRefusal::NeedOtherExtension:
        return "--other needs a non-empty extension";
    case SearchRefusal::NeedFileType:
        return "choose a file type to search for";
    }
    return "";
}

// One field of a record, as the report writes it.
using Field = std::function<std::string(std::string_view)>;

// Appends `bytes` to `out` as a field of the report: whole with --null,
// else escaped as ReportField does.
void AppendField(std::string& out, std::string_view bytes, bool whole)
{
    if (whole) {
        out.append(bytes);
        return;
    }
    for (const char c : bytes) {
        switch (c) {
        case '%':
            out += "%25";
            break;
        case '\t':
            out += "%09";
            break;
        case '\r':
            out += "%0D";
            break;
        case '\n':
            out += "%0A";
            break;
        default:
            out.push_back(c);
        }
    }
}

// One record per table row: name, size, date and path, TAB-separated, each
// built in one buffer.
void PutRows(const FileTable& table, bool whole, RecordOutput& output)
{
    std::string row;
    for (int k = 0; k < table.RowCount(); ++k) {
        row.clear();
        AppendField(row, table.Name(k), whole);
        row += '\t';
        row += SizeText(table.Size(k));
        row += '\t';
        row += DateText(table.CreationTime(k));
        row += '\t';
        const std::string& folder = table.Folder(k);
        AppendField(row, folder, whole);
        if (folder.empty() || folder.back() != '/')
            row += '/';
        AppendField(row, table.Name(k), whole);
        output.Put(row);
    }
}

// The names the combo box offers after a search.
void PutDuplicateNames(const DuplicateCombo& combo, const Field& field, RecordOutput& output)
{
    for (const ComboEntry& entry : combo.Entries()) {
        if (entry.kind == ComboEntryKind::Name)
            output.Put(field(entry.name));
    }
}

// The paths automatic selection picks; a copy that could not be compared
// stays unpicked, and is named on `err`.
void PutAutoSelected(const ResultView& view, const CommandLine& line, const ProtectedFolders& protection,
                     const Field& field, RecordOutput& output, std::FILE* err)
{
    const FileTable& table = view.table;
    NullProgress progress;
    ContentChecker checker;
    const std::vector<std::uint8_t> protectedRows = ProtectedRowFlags(table, protection);
    AutoSelectOptions how;
    how.checker = line.byNameAndSize ? nullptr : &checker;
    how.protectedRows = &protectedRows;
    // A copy that could not be compared stays unpicked, and is named.
    const AutoSelectOutcome picked = PickOlderCopies(view, progress, how);
    for (const AutoSelectOutcome::Unread& unread : picked.unread)
        std::fprintf(err, "snapsift: left unpicked, cannot compare %s: %s\n", table.Path(unread.row).c_str(),
                     unread.error != 0 ? std::strerror(unread.error) : "changed since the search");
    for (const int j : picked.picked)
        output.Put(field(table.Path(view.list.TableRow(j))));
}

}  // namespace

std::string ReportField(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    AppendField(out, bytes, false);
    return out;
}

int RunReport(const CommandLine& line, std::FILE* out, std::FILE* err)
{
    ProtectedFolders protection;
    for (const std::string& folder : line.protect) {
        if (!protection.Add(folder)) {
            std::fprintf(err, "snapsift: cannot protect %s: not a folder\n", folder.c_str());
            return 2;
        }
    }
    ResultView view;
    NullProgress progress;
    const ScanOutcome outcome = ScanFolder(line.folder, line.options, view.table, progress);
    if (outcome.refusal != SearchRefusal::None) {
        std::fprintf(err, "snapsift: %s\n", RefusalLine(outcome.refusal));
        return 2;
    }
    if (outcome.targetError != 0) {
        std::fprintf(err, "snapsift: cannot read folder %s: %s\n", line.folder.c_str(),
                     std::strerror(outcome.targetError));
        return 2;
    }
    if (line.report != CommandLine::ReportKind::Rows)
        view.FillResultView();

    RecordOutput output(out, line.null ? RecordEnd::Null : RecordEnd::Line);
    // With --null a record ends with NUL and its fields are taken whole;
    // otherwise each field is one line's worth.
    const Field field = [&line](std::string_view bytes) { return line.null ? std::string(bytes) : ReportField(bytes); };
    errno = 0;
    switch (line.report) {
    case CommandLine::ReportKind::Rows:
        PutRows(view.table, line.null, output);
        break;
    case CommandLine::ReportKind::Duplicates:
        PutDuplicateNames(view.combo, field, output);
        break;
    case CommandLine::ReportKind::AutoSelect:
        PutAutoSelected(view, line, protection, field, output, err);
        break;
    }
    if (const int error = output.Finish(); error != 0) {
        std::fprintf(err, "snapsift: cannot write the report: %s\n", std::strerror(error));
        return 2;
    }
    return 0;
}

}  // namespace snapsift
