// SPDX-License-Identifier: MIT
#include "app/report_mode.h"

#include "platform/progress.h"
#include "review/content_check.h"
#include "review/protection.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "scan/picture_types.h"
#include "ui/fact_texts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// The report's standard output. Remembers the first failed write, so that
// the report can say why it is incomplete.
class ReportOutput final {
public:
    ReportOutput(std::FILE* out, char end) : out_(out), end_(end) {}
    // One record and its end: a line end, or NUL with --null.
    void PutLine(const std::string& text)
    {
        if (error_ != 0)
            return;
        if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fputc(end_, out_) == EOF)
            Fail();
    }
    // Flushes what is buffered; 0 when everything reached the output, else the error number.
    int Finish()
    {
        if (error_ == 0 && (std::fflush(out_) != 0 || std::ferror(out_)))
            Fail();
        return error_;
    }

private:
    void Fail() { error_ = errno != 0 ? errno : EIO; }

    std::FILE* out_;
    char end_;
    int error_ = 0;
};

// Whether two extensions match the same names: equal but for the case of ASCII letters.
bool SameExtension(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [&](char x, char y) { return lower(x) == lower(y); });
}

// A further --other: searched once, however often it is given.
void AddExtension(SearchOptions& options, const std::string& extension)
{
    if (options.m_bOther && SameExtension(options.m_strOtherExt, extension))
        return;
    for (const std::string& earlier : options.moreExtensions) {
        if (SameExtension(earlier, extension))
            return;
    }
    options.moreExtensions.push_back(extension);
}

// Why a --types list is refused: `why`, then the names --types knows.
std::string TypesRefusal(std::string why)
{
    why += " (known: ";
    for (const PictureType& type : PictureTypes()) {
        why += type.name;
        why += type.kind == PictureTypes().back().kind ? ")" : ", ";
    }
    return why;
}

// Adds the types of a --types list; why it is refused, or empty.
std::string AddPictureTypes(SearchOptions& options, std::string_view list)
{
    std::vector<std::string> unknown;
    const PictureKinds kinds = ParsePictureKindNames(list, &unknown);
    if (!unknown.empty() && unknown.front().empty())
        return TypesRefusal("--types holds an empty name");
    if (!unknown.empty()) {
        std::string why = "unknown picture type '";
        why += unknown.front();
        why += '\'';
        return TypesRefusal(std::move(why));
    }
    for (const PictureKind kind : kinds.InOrder())
        options.pictureKinds.Add(kind);
    return {};
}

// Adds the extension of an --other: the first is the typed extension, the
// others are searched after the picture types. Why it is refused, or empty.
std::string AddOtherExtension(SearchOptions& options, const std::string& extension)
{
    if (!options.m_bOther) {
        options.m_bOther = true;
        options.m_strOtherExt = extension;
        return {};
    }
    AddExtension(options, extension);
    if (options.moreExtensions.size() <= kMostMoreExtensions)
        return {};
    std::string why = "--other can name at most ";
    why += std::to_string(kMostMoreExtensions + 1);
    why += " extensions";
    return why;
}

} // namespace

std::string ReportField(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
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
    return out;
}

std::string UsageText()
{
    return "Usage: snapsift                 open the window\n"
           "       snapsift --report [--jpeg] [--bmp] [--gif] [--other EXT]... [--types LIST]\n"
           "                [--duplicates | --auto-select [--by-name-and-size]]\n"
           "                [--protect DIR]... [--null] FOLDER\n"
           "       snapsift --restore-last [--log FILE] [--null]\n"
           "       snapsift --history [--null]\n"
           "       snapsift --restore ID [--null]\n"
           "\n"
           "Report mode searches FOLDER and every folder below it without a window.\n"
           "With no type option it looks for JPEG files only.\n"
           "  --report        print one line per found file: name, size, date, path (TAB-separated)\n"
           "  --duplicates    print the names that occur more than once instead\n"
           "  --auto-select   print the paths automatic selection picks instead: older\n"
           "                  copies of the same name and size whose bytes equal a newer copy;\n"
           "                  a copy that cannot be read is not picked and is named on\n"
           "                  standard error\n"
           "  --by-name-and-size  with --auto-select: pick by name, size and date alone,\n"
           "                  without comparing contents\n"
           "  --protect DIR   never pick a file in DIR or below it (repeatable)\n"
           "  --jpeg --bmp --gif   search for *.jpg, *.bmp, *.gif\n"
           "  --other EXT     also search for *.EXT (* and ? are wildcards; '*' matches every file);\n"
           "                  repeatable, up to 17 extensions, each searched once\n"
           "  --types LIST    also search for these picture types (comma-separated, repeatable):\n"
           "                  png (png), webp (webp), heic (heic, heif), avif (avif),\n"
           "                  tiff (tif, tiff), jxl (jxl),\n"
           "                  raw (cr2, cr3, nef, nrw, arw, dng, orf, rw2, raf, pef, srw),\n"
           "                  jpeg (jpeg, jpe, jfif); an unknown name is refused\n"
           "  --null          end each record with a NUL character instead of a line end,\n"
           "                  so that a name holding a line end stays one record; the\n"
           "                  fields are then written whole, as they are, TAB-separated\n"
           "\n"
           "Rows come type by type: JPEG, BMP, GIF, the first --other, the --types in\n"
           "the order above, then the further --other extensions. Without --null, a TAB,\n"
           "CR, LF or % inside a name or path is written as %09, %0D, %0A or %25, as the\n"
           "deletion log writes them, so that each record is one line and TABs separate\n"
           "its fields alone.\n"
           "\n"
           "  --restore-last  put the files of the last deletion back where they were:\n"
           "                  reads the last block of DeleteLog.log in the current folder\n"
           "                  (--log FILE names another log), takes the entries that the\n"
           "                  deletion's record names (without a record: the one entry of\n"
           "                  each path dated in the block's time; two make it ambiguous)\n"
           "                  and moves each back when nothing is at its path;\n"
           "                  prints one line per file and a count\n"
           "  --history       list every recorded deletion, oldest first: its ID, time,\n"
           "                  files moved, files still in the trash and log (TAB-separated)\n"
           "  --restore ID    put back every file of the recorded deletion ID\n"
           "                  Records are kept in $XDG_STATE_HOME/snapsift/records\n"
           "                  (~/.local/state/snapsift/records). Their output shows control\n"
           "                  characters in names as symbols (CR as \u240d, LF as \u240a);\n"
           "                  with --null names keep their bytes and records end with NUL\n"
           "  --help          show this text\n"
           "  --version       show the name and the full version\n"
           "Trash folders and thumbnail stores are never searched.\n"
           "\n"
           "Exit status:\n"
           "  0  the report was written in full; with --restore-last or --restore,\n"
           "     every file was restored\n"
           "  1  the window cannot be opened (no display, or a build without it);\n"
           "     with --restore-last or --restore, some files were not restored\n"
           "  2  bad usage, a refused option, a folder that cannot be searched,\n"
           "     a report that cannot be written (full disk, closed output),\n"
           "     a log that cannot be read or holds no deletion, or no such record\n";
}

CommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    CommandLine line;
    SearchOptions& options = line.options;
    bool report = false;
    bool restore = false;
    bool log = false;
    bool history = false;
    auto bad = [&line](std::string why) {
        line.mode = CommandLine::Mode::BadUsage;
        line.error = std::move(why);
        return line;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            line.mode = CommandLine::Mode::Help;
            return line;
        }
        if (a == "--version") {
            line.mode = CommandLine::Mode::Version;
            return line;
        }
        if (a == "--restore-last") {
            restore = true;
        } else if (a == "--history") {
            history = true;
        } else if (a == "--restore") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return bad("--restore needs an ID (see --history)");
            line.recordId = args[++i];
        } else if (a == "--log") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return bad("--log needs a FILE");
            log = true;
            line.logPath = args[++i];
        } else if (a == "--report") {
            report = true;
        } else if (a == "--duplicates" || a == "--auto-select") {
            const auto kind = a == "--duplicates" ? CommandLine::ReportKind::Duplicates
                                                  : CommandLine::ReportKind::AutoSelect;
            if (line.report != CommandLine::ReportKind::Rows && line.report != kind)
                return bad("--duplicates and --auto-select exclude each other");
            line.report = kind;
            report = true;
        } else if (a == "--by-name-and-size") {
            line.byNameAndSize = true;
        } else if (a == "--protect") {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return bad("--protect needs a folder");
            line.protect.push_back(args[++i]);
        } else if (a == "--null") {
            line.null = true;
        } else if (a == "--jpeg") {
            options.m_bJpeg = true;
        } else if (a == "--bmp") {
            options.m_bBmp = true;
        } else if (a == "--gif") {
            options.m_bGif = true;
        } else if (a == "--other" || a == "--types") {
            if (i + 1 >= args.size())
                return bad(a == "--other" ? std::string("--other needs an extension")
                                          : TypesRefusal("--types needs a list of picture types"));
            const std::string refusal =
                a == "--other" ? AddOtherExtension(options, args[++i]) : AddPictureTypes(options, args[++i]);
            if (!refusal.empty())
                return bad(refusal);
        } else if (a.size() > 1 && a[0] == '-') {
            return bad("unknown option: " + a);
        } else if (line.folder.empty()) {
            line.folder = a;
        } else {
            return bad("only one folder can be searched: " + a);
        }
    }
    const bool searching =
        report || !line.folder.empty() || AnyTypeTicked(options) || line.byNameAndSize || !line.protect.empty();
    const int undoModes = (restore ? 1 : 0) + (history ? 1 : 0) + (line.recordId.empty() ? 0 : 1);
    if (undoModes > 1)
        return bad("--restore-last, --restore and --history exclude each other");
    if (line.null && !report && undoModes == 0)
        return bad("--null needs --report, --restore-last, --restore or --history");
    if (log && !restore)
        return bad("--log needs --restore-last");
    if (undoModes == 1) {
        if (searching)
            return bad(std::string(restore ? "--restore-last" : history ? "--history" : "--restore") +
                       " takes no folder and no search option");
        line.mode = restore   ? CommandLine::Mode::RestoreLast
                    : history ? CommandLine::Mode::History
                              : CommandLine::Mode::RestoreRecord;
        return line;
    }
    if (!report) {
        if (!line.folder.empty() || AnyTypeTicked(options) || line.byNameAndSize || !line.protect.empty())
            return bad("these options need --report");
        return line;
    }
    if (line.folder.empty())
        return bad("--report needs a FOLDER");
    if (line.byNameAndSize && line.report != CommandLine::ReportKind::AutoSelect)
        return bad("--by-name-and-size needs --auto-select");
    line.mode = CommandLine::Mode::Report;
    if (!AnyTypeTicked(options))
        options.m_bJpeg = true;
    return line;
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

    const FileTable& table = view.table;
    ReportOutput output(out, line.null ? '\0' : '\n');
    // With --null a record ends with NUL and its fields are taken whole;
    // otherwise each field is one line's worth.
    const auto field = [&line](std::string_view bytes) { return line.null ? std::string(bytes) : ReportField(bytes); };
    errno = 0;
    switch (line.report) {
    case CommandLine::ReportKind::Rows:
        for (int k = 0; k < table.RowCount(); ++k) {
            std::string row = field(table.Name(k));
            row += '\t';
            row += SizeText(table.Size(k));
            row += '\t';
            row += DateText(table.CreationTime(k));
            row += '\t';
            row += field(table.Path(k));
            output.PutLine(row);
        }
        break;
    case CommandLine::ReportKind::Duplicates:
        // The names the combo box offers after a search.
        for (const ComboEntry& entry : view.combo.Entries()) {
            if (entry.kind == ComboEntryKind::Name)
                output.PutLine(field(entry.name));
        }
        break;
    case CommandLine::ReportKind::AutoSelect: {
        ContentChecker checker;
        const std::vector<std::uint8_t> protectedRows = ProtectedRowFlags(table, protection);
        AutoSelectOptions how;
        how.checker = line.byNameAndSize ? nullptr : &checker;
        how.protectedRows = &protectedRows;
        // A copy that could not be compared stays unpicked, and is named.
        const AutoSelectOutcome picked = OnAutoSelect(view, progress, how);
        for (const AutoSelectOutcome::Unread& unread : picked.unread)
            std::fprintf(err, "snapsift: left unpicked, cannot compare %s: %s\n", table.Path(unread.row).c_str(),
                         unread.error != 0 ? std::strerror(unread.error) : "changed since the search");
        for (const int j : picked.picked)
            output.PutLine(field(table.Path(view.list.TableRow(j))));
        break;
    }
    }
    if (const int error = output.Finish(); error != 0) {
        std::fprintf(err, "snapsift: cannot write the report: %s\n", std::strerror(error));
        return 2;
    }
    return 0;
}

} // namespace snapsift
