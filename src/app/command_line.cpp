// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include "platform/name_order.h"
#include "scan/picture_types.h"

#include <algorithm>
#include <string_view>

namespace snapsift {
namespace {

// A further --other: searched once, however often it is given.
void AddExtension(SearchOptions& options, const std::string& extension)
{
    if (options.m_bOther && EqualIgnoringAsciiCase(options.m_strOtherExt, extension))
        return;
    for (const std::string& earlier : options.moreExtensions) {
        if (EqualIgnoringAsciiCase(earlier, extension))
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

// Which modes the arguments named, before the checks of how they go together.
struct Seen {
    bool report = false;
    bool restore = false;
    bool log = false;
    bool history = false;
};

// Refuses the command line for `why`.
void Refuse(CommandLine& line, std::string why)
{
    line.mode = CommandLine::Mode::BadUsage;
    line.error = std::move(why);
}

// Reads the option at args[i] that takes a value, and the value (i then
// points at it). False when it is refused.
bool ReadOptionWithValue(const std::vector<std::string>& args, std::size_t& i, CommandLine& line, Seen& seen)
{
    const std::string& a = args[i];
    const bool haveValue = i + 1 < args.size() && !args[i + 1].empty();
    const auto bad = [&line](std::string why) {
        Refuse(line, std::move(why));
        return false;
    };
    if (a == "--restore") {
        if (!haveValue)
            return bad("--restore needs an ID (see --history)");
        line.recordId = args[++i];
    } else if (a == "--log") {
        if (!haveValue)
            return bad("--log needs a FILE");
        seen.log = true;
        line.logPath = args[++i];
    } else if (a == "--protect") {
        if (!haveValue)
            return bad("--protect needs a folder");
        line.protect.push_back(args[++i]);
    } else {  // --other or --types, whose value may be empty
        if (i + 1 >= args.size())
            return bad(a == "--other" ? std::string("--other needs an extension")
                                      : TypesRefusal("--types needs a list of picture types"));
        const std::string refusal =
            a == "--other" ? AddOtherExtension(line.options, args[++i]) : AddPictureTypes(line.options, args[++i]);
        if (!refusal.empty())
            return bad(refusal);
    }
    return true;
}

// Reads the option or folder at args[i], and the value after an option that
// takes one (i then points at the value). False once the command line is
// settled: --help or --version, or a refusal.
bool ReadArgument(const std::vector<std::string>& args, std::size_t& i, CommandLine& line, Seen& seen)
{
    SearchOptions& options = line.options;
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
        line.mode = CommandLine::Mode::Help;
        return false;
    }
    if (a == "--version") {
        line.mode = CommandLine::Mode::Version;
        return false;
    }
    if (a == "--restore" || a == "--log" || a == "--protect" || a == "--other" || a == "--types")
        return ReadOptionWithValue(args, i, line, seen);
    if (a == "--restore-last") {
        seen.restore = true;
    } else if (a == "--history") {
        seen.history = true;
    } else if (a == "--report") {
        seen.report = true;
    } else if (a == "--duplicates" || a == "--auto-select") {
        const auto kind =
            a == "--duplicates" ? CommandLine::ReportKind::Duplicates : CommandLine::ReportKind::AutoSelect;
        if (line.report != CommandLine::ReportKind::Rows && line.report != kind) {
            Refuse(line, "--duplicates and --auto-select exclude each other");
            return false;
        }
        line.report = kind;
        seen.report = true;
    } else if (a == "--by-name-and-size") {
        line.byNameAndSize = true;
    } else if (a == "--null") {
        line.null = true;
    } else if (a == "--jpeg") {
        options.m_bJpeg = true;
    } else if (a == "--bmp") {
        options.m_bBmp = true;
    } else if (a == "--gif") {
        options.m_bGif = true;
    } else if (a.size() > 1 && a[0] == '-') {
        Refuse(line, "unknown option: " + a);
        return false;
    } else if (line.folder.empty()) {
        line.folder = a;
    } else {
        Refuse(line, "only one folder can be searched: " + a);
        return false;
    }
    return true;
}

// Checks how the options read go together, and settles the mode.
void Settle(CommandLine& line, const Seen& seen)
{
    const SearchOptions& options = line.options;
    const bool searching =
        seen.report || !line.folder.empty() || AnyTypeTicked(options) || line.byNameAndSize || !line.protect.empty();
    const int undoModes = (seen.restore ? 1 : 0) + (seen.history ? 1 : 0) + (line.recordId.empty() ? 0 : 1);
    if (undoModes > 1)
        return Refuse(line, "--restore-last, --restore and --history exclude each other");
    if (line.null && !seen.report && undoModes == 0)
        return Refuse(line, "--null needs --report, --restore-last, --restore or --history");
    if (seen.log && !seen.restore)
        return Refuse(line, "--log needs --restore-last");
    if (undoModes == 1) {
        if (searching)
            return Refuse(line, std::string(seen.restore   ? "--restore-last"
                                            : seen.history ? "--history"
                                                           : "--restore") +
                                    " takes no folder and no search option");
        line.mode = seen.restore   ? CommandLine::Mode::RestoreLast
                    : seen.history ? CommandLine::Mode::History
                                   : CommandLine::Mode::RestoreRecord;
        return;
    }
    if (!seen.report) {
        if (!line.folder.empty() || AnyTypeTicked(options) || line.byNameAndSize || !line.protect.empty())
            Refuse(line, "these options need --report");
        return;
    }
    if (line.folder.empty())
        return Refuse(line, "--report needs a FOLDER");
    if (line.byNameAndSize && line.report != CommandLine::ReportKind::AutoSelect)
        return Refuse(line, "--by-name-and-size needs --auto-select");
    line.mode = CommandLine::Mode::Report;
    if (!AnyTypeTicked(options))
        line.options.m_bJpeg = true;
}

// One entry per line of the help text, without its line end.
constexpr std::string_view kUsageLines[] = {
    "Usage: snapsift                 open the window",
    "       snapsift --report [--jpeg] [--bmp] [--gif] [--other EXT]... [--types LIST]",
    "                [--duplicates | --auto-select [--by-name-and-size]]",
    "                [--protect DIR]... [--null] FOLDER",
    "       snapsift --restore-last [--log FILE] [--null]",
    "       snapsift --history [--null]",
    "       snapsift --restore ID [--null]",
    "",
    "Report mode searches FOLDER and every folder below it without a window.",
    "With no type option it looks for JPEG files only.",
    "  --report        print one line per found file: name, size, date, path (TAB-separated)",
    "  --duplicates    print the names that occur more than once instead",
    "  --auto-select   print the paths automatic selection picks instead: older",
    "                  copies of the same name and size whose bytes equal a newer copy;",
    "                  a copy that cannot be read is not picked and is named on",
    "                  standard error",
    "  --by-name-and-size  with --auto-select: pick by name, size and date alone,",
    "                  without comparing contents",
    "  --protect DIR   never pick a file in DIR or below it (repeatable)",
    "  --jpeg --bmp --gif   search for *.jpg, *.bmp, *.gif",
    "  --other EXT     also search for *.EXT (* and ? are wildcards; '*' matches every file);",
    "                  repeatable, up to 17 extensions, each searched once",
    "  --types LIST    also search for these picture types (comma-separated, repeatable):",
    "                  png (png), webp (webp), heic (heic, heif), avif (avif),",
    "                  tiff (tif, tiff), jxl (jxl),",
    "                  raw (cr2, cr3, nef, nrw, arw, dng, orf, rw2, raf, pef, srw),",
    "                  jpeg (jpeg, jpe, jfif); an unknown name is refused",
    "  --null          end each record with a NUL character instead of a line end,",
    "                  so that a name holding a line end stays one record; the",
    "                  fields are then written whole, as they are, TAB-separated",
    "",
    "Rows come type by type: JPEG, BMP, GIF, the first --other, the --types in",
    "the order above, then the further --other extensions. Without --null, a TAB,",
    "CR, LF or % inside a name or path is written as %09, %0D, %0A or %25, as the",
    "deletion log writes them, so that each record is one line and TABs separate",
    "its fields alone.",
    "",
    "  --restore-last  put the files of the last deletion back where they were:",
    "                  reads the last block of DeleteLog.log in the current folder",
    "                  (--log FILE names another log), takes the entries that the",
    "                  deletion's record names (without a record: the one entry of",
    "                  each path dated in the block's time; two make it ambiguous)",
    "                  and moves each back when nothing is at its path;",
    "                  prints one line per file and a count",
    "  --history       list every recorded deletion, oldest first: its ID, time,",
    "                  files moved, files still in the trash and log (TAB-separated)",
    "  --restore ID    put back every file of the recorded deletion ID",
    "                  Records are kept in $XDG_STATE_HOME/snapsift/records",
    "                  (~/.local/state/snapsift/records). Their output shows control",
    "                  characters in names as symbols (CR as \u240d, LF as \u240a);",
    "                  with --null names keep their bytes and records end with NUL",
    "  --help          show this text",
    "  --version       show the name and the full version",
    "Trash folders and thumbnail stores are never searched.",
    "",
    "Exit status:",
    "  0  the report was written in full; with --restore-last or --restore,",
    "     every file was restored",
    "  1  the window cannot be opened (no display, or a build without it);",
    "     with --restore-last or --restore, some files were not restored",
    "  2  bad usage, a refused option, a folder that cannot be searched,",
    "     a report that cannot be written (full disk, closed output),",
    "     a log that cannot be read or holds no deletion, or no such record",
};

}  // namespace

std::string UsageText()
{
    std::string text;
    for (const std::string_view line : kUsageLines) {
        text += line;
        text += '\n';
    }
    return text;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    CommandLine line;
    Seen seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!ReadArgument(args, i, line, seen))
            return line;
    }
    Settle(line, seen);
    return line;
}

}  // namespace snapsift
