// SPDX-License-Identifier: MIT
// Picture types beyond the four, and the folders a search leaves out, on
// real temporary trees.

#include "scan/file_table.h"
#include "scan/folder_scan.h"
#include "scan/picture_types.h"
#include "support/scoped_env.h"
#include "support/table_rows.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace snapsift {
namespace {

using Strings = std::vector<std::string>;
using testing::ScanThreads;

TEST(PictureTypesTest, NamesAreKnownWithoutCaseAndListsCountEachTypeOnce)
{
    // Every type has a name of its own that leads back to it, and endings.
    Strings names;
    for (const PictureType& type : PictureTypes()) {
        EXPECT_EQ(PictureKindNamed(type.name), type.kind) << type.name;
        EXPECT_FALSE(type.extensions.empty()) << type.name;
        names.emplace_back(type.name);
    }
    EXPECT_EQ(names, (Strings{"png", "webp", "heic", "avif", "tiff", "jxl", "raw", "jpeg"}));

    struct Case {
        const char* list;
        const char* kinds;  // as PictureKindNames gives them back
        Strings unknown;
    };
    const Case cases[] = {
        {"png", "png", {}},
        {"RAW,Png", "png,raw", {}},      // pass order, not the order given
        {"heic,heic,HEIC", "heic", {}},  // a repeated name is harmless
        {"png,bogus,jpg", "png", {"bogus", "jpg"}},
        {"", "", {""}},
        {"png,", "png", {""}},
        {"heif", "", {"heif"}},  // an ending is no type's name
        {"jpeg,tiff,jxl,avif,webp", "webp,avif,tiff,jxl,jpeg", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        Strings unknown;
        const PictureKinds kinds = ParsePictureKindNames(c.list, &unknown);
        EXPECT_EQ(PictureKindNames(kinds), c.kinds);
        EXPECT_EQ(unknown, c.unknown);
    }
}

class TypesScanTest : public ::testing::Test {
protected:
    // The rows' paths relative to the temporary folder.
    Strings Scan(const std::string& relativeTarget, const SearchOptions& options, int threads = 0)
    {
        std::optional<ScanThreads> set;
        if (threads > 0)
            set.emplace(threads);
        table = FileTable();
        progress.ops.clear();
        const ScanOutcome outcome = ScanFolder(tmp / relativeTarget, options, table, progress);
        EXPECT_EQ(outcome.refusal, SearchRefusal::None);
        Strings paths;
        for (const std::string& path : testing::TablePaths(table))
            paths.push_back(path.substr(tmp.Path().size() + 1));
        return paths;
    }

    static SearchOptions AllKinds()
    {
        SearchOptions options;
        for (const PictureType& type : PictureTypes())
            options.pictureKinds.Add(type.kind);
        return options;
    }

    testing::TempDir tmp;
    FileTable table;
    testing::RecordingProgress progress;
};

// The chosen types come after the four, in table order, then the further
// extensions; each pass visits the target first, then its subfolders from
// the last collected to the first, each folder in name order.
TEST_F(TypesScanTest, EveryChosenTypeIsFoundInPassOrderAlikeWithOneAndEightThreads)
{
    for (const char* name :
         {"a.png",     "b.HEIC",   "c.heif",   "d.webp",   "e.avif",     "f.tif",         "g.TIFF",   "h.jxl",
          "i.cr2",     "j.nef",    "k.jpeg",   "l.jpe",    "m.jfif",     "n.jpg",         "z.dng",    "png",
          "x.png.txt", "y.jpegx",  "w.pngx",   "s1/a.png", "s1/raw.ARW", "s1/deep/x.rw2", "s2/q.cr3", "s2/q.jpg",
          "s2/n.orf",  "s2/r.NRW", "s2/t.pef", "s2/u.srw", "s2/v.raf",   "s2/o.arw.bak"})
        tmp.MakeFile(std::string("T/") + name, 1);
    tmp.MakeFolder("T/s1/folder.png");

    SearchOptions options = AllKinds();
    options.m_bJpeg = true;
    options.m_bOther = true;
    options.m_strOtherExt = "png";  // a type chosen twice: its files stand in two rows
    options.moreExtensions = {"txt"};
    const Strings expected = {
        "T/n.jpg",     "T/s2/q.jpg",                                     // JPEG
        "T/a.png",     "T/s1/a.png",                                     // the typed extension
        "T/a.png",     "T/s1/a.png",                                     // PNG
        "T/d.webp",                                                      // WebP
        "T/b.HEIC",    "T/c.heif",                                       // HEIC/HEIF
        "T/e.avif",                                                      // AVIF
        "T/f.tif",     "T/g.TIFF",                                       // TIFF
        "T/h.jxl",                                                       // JPEG XL
        "T/i.cr2",     "T/j.nef",      "T/z.dng",    "T/s1/deep/x.rw2",  // RAW
        "T/s2/n.orf",  "T/s2/q.cr3",   "T/s2/r.NRW", "T/s2/t.pef",      "T/s2/u.srw",
        "T/s2/v.raf",  "T/s1/raw.ARW", "T/k.jpeg",   "T/l.jpe",         "T/m.jfif",  // JPEG's other endings
        "T/x.png.txt",                                                               // the further extension
    };
    const Strings single = Scan("T", options, 1);
    EXPECT_EQ(single, expected);
    const Strings singleOps = progress.ops;
    const std::vector<FileIdentity> singleIds = testing::TableIdentities(table);
    // 4 folders below the target, 11 passes.
    EXPECT_EQ(std::count(singleOps.begin(), singleOps.end(), "range 0 44"), 1);
    EXPECT_EQ(Scan("T", options, 8), single);
    EXPECT_EQ(progress.ops, singleOps);
    EXPECT_EQ(testing::TableIdentities(table), singleIds);

    // Chosen types alone are a search of their own; with none chosen the
    // search is that of the four.
    SearchOptions raw;
    raw.pictureKinds.Add(PictureKind::Raw);
    EXPECT_EQ(Scan("T/s2", raw),
              (Strings{"T/s2/n.orf", "T/s2/q.cr3", "T/s2/r.NRW", "T/s2/t.pef", "T/s2/u.srw", "T/s2/v.raf"}));
    SearchOptions jpeg;
    jpeg.m_bJpeg = true;
    EXPECT_EQ(Scan("T", jpeg), (Strings{"T/n.jpg", "T/s2/q.jpg"}));
    EXPECT_EQ(CheckSearchOptions(SearchOptions{}), SearchRefusal::NeedFileType);
    SearchOptions emptyMore = raw;
    emptyMore.moreExtensions = {"png", ""};
    EXPECT_EQ(CheckSearchOptions(emptyMore), SearchRefusal::NeedOtherExtension);
}

// Thumbnail stores hold small copies that programs made: never searched,
// wherever they are in the tree, nor when searched directly. Folders that
// only look like one are searched.
TEST_F(TypesScanTest, ThumbnailStoresAreLeftOutWithEverythingBelowThem)
{
    for (const char* name : {"live.png", ".thumbnails/normal/t1.png", "s/.sh_thumbnails/large/t2.png",
                             "home/u/.cache/thumbnails/normal/t3.png", "home/u/.cache/thumbnails/fail/x/t4.png",
                             "thumbnails/k1.png", "home/u/.cache/other/k2.png", "home/u/cache/thumbnails/k3.png",
                             "x.thumbnails/k4.png", ".Thumbnails/k5.png", "s/.sh_thumbnails.old/k6.png"})
        tmp.MakeFile(std::string("T/") + name, 1);
    SearchOptions png;
    png.pictureKinds.Add(PictureKind::Png);
    Strings found = Scan("T", png);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found,
              (Strings{"T/.Thumbnails/k5.png", "T/home/u/.cache/other/k2.png", "T/home/u/cache/thumbnails/k3.png",
                       "T/live.png", "T/s/.sh_thumbnails.old/k6.png", "T/thumbnails/k1.png", "T/x.thumbnails/k4.png"}));
    for (const char* store : {"T/.thumbnails", "T/.thumbnails/normal", "T/s/.sh_thumbnails/large"}) {
        SCOPED_TRACE(store);
        EXPECT_TRUE(Scan(store, png).empty());
    }
}

}  // namespace
}  // namespace snapsift
