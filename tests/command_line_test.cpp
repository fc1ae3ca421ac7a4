// SPDX-License-Identifier: MIT
// The command line: what each set of arguments asks for, or why it is refused.

#include "app/command_line.h"
#include "scan/picture_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace snapsift {
namespace {

using Strings = std::vector<std::string>;
using Mode = CommandLine::Mode;
using Kind = CommandLine::ReportKind;

TEST(CommandLineTest, Parsing)
{
    struct Case {
        Strings args;
        Mode mode;
        Kind kind = Kind::Rows;
        std::string types = "";  // ticked types as letters j, b, g, o
        std::string ext = "";
        std::string folder = "";
    };
    const std::vector<Case> cases = {
        {{}, Mode::Window},
        {{"--report", "F"}, Mode::Report, Kind::Rows, "j", "", "F"},
        {{"--report", "--gif", "F"}, Mode::Report, Kind::Rows, "g", "", "F"},
        {{"--other", "png", "--report", "F"}, Mode::Report, Kind::Rows, "o", "png", "F"},
        {{"--report", "--other", "", "F"}, Mode::Report, Kind::Rows, "o", "", "F"},
        {{"--report", "--other", "--jpeg", "F"}, Mode::Report, Kind::Rows, "o", "--jpeg", "F"},
        {{"--duplicates", "F"}, Mode::Report, Kind::Duplicates, "j", "", "F"},
        {{"--report", "--auto-select", "--auto-select", "F"}, Mode::Report, Kind::AutoSelect, "j", "", "F"},
        {{"--report", "\x82\xa0 dir"}, Mode::Report, Kind::Rows, "j", "", "\x82\xa0 dir"},
        {{"--null", "--auto-select", "F"}, Mode::Report, Kind::AutoSelect, "j", "", "F"},
        {{"--report", "F", "--null"}, Mode::Report, Kind::Rows, "j", "", "F"},
        {{"--null"}, Mode::BadUsage},
        {{"--null", "F"}, Mode::BadUsage},
        {{"--restore-last", "--null"}, Mode::RestoreLast},
        {{"--history"}, Mode::History},
        {{"--null", "--history"}, Mode::History},
        {{"--restore", "20261208T013510Z"}, Mode::RestoreRecord},
        {{"--restore", "20261208T013510Z", "--null"}, Mode::RestoreRecord},
        {{"--restore"}, Mode::BadUsage},
        {{"--restore", ""}, Mode::BadUsage},
        {{"--history", "--restore-last"}, Mode::BadUsage},
        {{"--restore", "X", "--history"}, Mode::BadUsage},
        {{"--history", "F"}, Mode::BadUsage},
        {{"--history", "--log", "L"}, Mode::BadUsage},
        {{"--restore", "X", "--jpeg"}, Mode::BadUsage},
        {{"--report", "--bogus", "F"}, Mode::BadUsage},
        {{"--report"}, Mode::BadUsage},
        {{"--report", "F", "G"}, Mode::BadUsage},
        {{"--duplicates", "--auto-select", "F"}, Mode::BadUsage},
        {{"--auto-select", "--by-name-and-size", "--protect", "P", "--protect", "Q", "F"},
         Mode::Report,
         Kind::AutoSelect,
         "j",
         "",
         "F"},
        {{"--report", "--by-name-and-size", "F"}, Mode::BadUsage},
        {{"--report", "F", "--protect"}, Mode::BadUsage},
        {{"--protect", "P"}, Mode::BadUsage},
        {{"F"}, Mode::BadUsage},
        {{"--help"}, Mode::Help},
        {{"--report", "F", "--help"}, Mode::Help},
        {{"--version"}, Mode::Version},
        {{"--restore-last"}, Mode::RestoreLast},
        {{"--log", "L", "--restore-last"}, Mode::RestoreLast},
        {{"--log", "L"}, Mode::BadUsage},
        {{"--restore-last", "--log"}, Mode::BadUsage},
        {{"--restore-last", "F"}, Mode::BadUsage},
        {{"--restore-last", "--report", "F"}, Mode::BadUsage},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args)
            joined += "[" + a + "]";
        SCOPED_TRACE(joined);
        const CommandLine line = ParseCommandLine(c.args);
        EXPECT_EQ(line.mode, c.mode);
        if (c.mode == Mode::BadUsage) {
            EXPECT_FALSE(line.error.empty());
        }
        if (c.mode == Mode::RestoreLast) {
            const bool log = std::find(c.args.begin(), c.args.end(), "--log") != c.args.end();
            EXPECT_EQ(line.logPath, log ? "L" : "DeleteLog.log");
        }
        if (c.mode == Mode::RestoreRecord) {
            EXPECT_EQ(line.recordId, "20261208T013510Z");
        }
        if (c.mode != Mode::BadUsage && c.mode != Mode::Report) {
            EXPECT_EQ(line.null, std::find(c.args.begin(), c.args.end(), "--null") != c.args.end());
        }
        if (c.mode != Mode::Report)
            continue;
        EXPECT_EQ(line.report, c.kind);
        EXPECT_EQ(line.null, std::find(c.args.begin(), c.args.end(), "--null") != c.args.end());
        std::string types;
        const SearchOptions& o = line.options;
        for (const auto& [ticked, letter] :
             {std::pair{o.m_bJpeg, 'j'}, {o.m_bBmp, 'b'}, {o.m_bGif, 'g'}, {o.m_bOther, 'o'}}) {
            if (ticked)
                types += letter;
        }
        EXPECT_EQ(types, c.types);
        EXPECT_EQ(o.m_strOtherExt, c.ext);
        EXPECT_EQ(line.folder, c.folder);
    }
}

// --other may be repeated and --types names picture types; each extension
// and type is searched once however often it is named, and an unknown type
// is refused.
TEST(CommandLineTest, MoreTypesAndExtensions)
{
    struct Case {
        Strings args;
        bool ok;
        std::string other = "";  // the first --other
        Strings more = {};       // the further ones
        std::string kinds = "";  // the picture types, as PictureKindNames gives them
    };
    const std::vector<Case> cases = {
        {{"--other", "heic", "--other", "png"}, true, "heic", {"png"}},
        {{"--other", "heic", "--other", "HEIC", "--other", "png", "--other", "heic", "--other", "Png"},
         true,
         "heic",
         {"png"}},
        {{"--other", "", "--other", "png"}, true, "", {"png"}},
        {{"--other", "png", "--other", ""}, true, "png", {""}},
        {{"--types", "raw,png"}, true, "", {}, "png,raw"},
        {{"--types", "png", "--types", "PNG,heic,png"}, true, "", {}, "png,heic"},
        {{"--types", "png", "--other", "png"}, true, "png", {}, "png"},
        {{"--types", "bogus"}, false},
        {{"--types", "png,,heic"}, false},
        {{"--types", ""}, false},
        {{"--types", "heif"}, false},
        {{"--types"}, false},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (const std::string& a : c.args)
            joined += "[" + a + "]";
        SCOPED_TRACE(joined);
        Strings args = {"--report"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("F");
        const CommandLine line = ParseCommandLine(args);
        ASSERT_EQ(line.mode, c.ok ? Mode::Report : Mode::BadUsage) << line.error;
        if (!c.ok) {
            EXPECT_NE(line.error.find("png, webp, heic, avif, tiff, jxl, raw, jpeg"), std::string::npos) << line.error;
            continue;
        }
        EXPECT_EQ(line.options.m_bOther, std::find(c.args.begin(), c.args.end(), "--other") != c.args.end());
        EXPECT_EQ(line.options.m_strOtherExt, c.other);
        EXPECT_EQ(line.options.moreExtensions, c.more);
        EXPECT_EQ(PictureKindNames(line.options.pictureKinds), c.kinds);
        // Picture types alone are a type option: JPEG is not added.
        EXPECT_FALSE(line.options.m_bJpeg);
    }
    // At most 17 extensions.
    Strings many = {"--report"};
    for (int i = 0; i < 18; ++i) {
        std::string extension(1, 'x');
        extension += std::to_string(i);
        many.insert(many.end(), {"--other", extension});
    }
    many.push_back("F");
    EXPECT_EQ(ParseCommandLine(many).mode, Mode::BadUsage);
    many.erase(many.end() - 3, many.end() - 1);
    EXPECT_EQ(ParseCommandLine(many).mode, Mode::Report);
}

}  // namespace
}  // namespace snapsift
