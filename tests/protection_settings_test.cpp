// SPDX-License-Identifier: MIT
// The protected folders' entries of the settings file: every form the
// settings write or a person types, read back byte for byte, within bounds.
#include "support/temp_tree.h"
#include "ui/window/protection_settings.h"

#include <gtest/gtest.h>

#include <QSettings>

#include <string>
#include <vector>

namespace snapsift::testing {
namespace {

// --- The settings' entries, decoded ----------------------------------------

struct DecodeCase {
    const char* value;    // as in the file
    std::string path;     // the reading that protects
    std::string written;  // kept as written: broken; empty: a sound path
};

TEST(ProtectionSettingsTest, DecodesEveryFormAndKeepsWhatIsNoPathAsWritten)
{
    const DecodeCase cases[] = {
        {"@ByteArray(/x/caf\\xc3\\xa9)", "/x/caf\xc3\xa9", ""},
        {"\"@ByteArray(/x/a,b;c)\"", "/x/a,b;c", ""},
        {"@ByteArray(/x/a1\\x1\\x32 )",
         std::string("/x/a1\x01"
                     "2 "),
         ""},
        {"@ByteArray(/x/\\x82\\xa0)", "/x/\x82\xa0", ""},  // Shift-JIS bytes, escaped
        {"/plain/caf\xc3\xa9  ", "/plain/caf\xc3\xa9", ""},
        {"/x/a ; a comment", "/x/a", ""},
        // Written by hand: raw bytes beyond ASCII in a byte array.
        {"@ByteArray(/x/caf\xc3\xa9)", "/x/caf\xc3\xa9", "@ByteArray(/x/caf\xc3\xa9)"},
        // The same, as the window keeps it afterwards.
        {"@@ByteArray(/x/caf\xc3\xa9)", "/x/caf\xc3\xa9", "@ByteArray(/x/caf\xc3\xa9)"},
        {"@ByteArray(/x/caf", "/x/caf", "@ByteArray(/x/caf"},
        {"@ByteArray(relative)", "relative", "@ByteArray(relative)"},
        {"/a,/b", "/a,/b", "/a,/b"},
        {"@ByteArray(/x/\\x3042)", "/x/\xe3\x81\x82", "@ByteArray(/x/\\x3042)"},
        {"\"/x/open", "/x/open", "\"/x/open"},
        {"@Point(1 2)", "@Point(1 2)", "@Point(1 2)"},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.value);
        const KeptFolder folder = DecodeProtectedPath(c.value);
        EXPECT_EQ(folder.path, c.path);
        EXPECT_EQ(folder.written, c.written);
    }
}

// What the window writes, the reader reads back byte for byte; a broken entry
// kept as its text reads back as the same broken entry.
TEST(ProtectionSettingsTest, ReadsBackWhatTheSettingsWrite)
{
    TempDir dir;
    const std::string file = dir / "t.conf";
    const std::vector<std::string> paths = {"/x/caf\xc3\xa9",
                                            "/x/\x82\xa0\x83\x41",
                                            "/x/a,b;c\"d\\e",
                                            "/x/ lead",
                                            "/x/trail ",
                                            "/x/new\nline",
                                            "/x/1\x01"
                                            "23",
                                            "/x/@at"};
    const std::string broken = "@ByteArray(/x/caf\xc3\xa9)";
    {
        QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("protection"));
        settings.beginWriteArray(QStringLiteral("folders"));
        int i = 0;
        for (const std::string& path : paths) {
            settings.setArrayIndex(i++);
            settings.setValue(QStringLiteral("path"), QByteArray::fromStdString(path));
        }
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("path"), QString::fromStdString(broken));
        settings.endArray();
    }
    const ProtectionSettings read = ReadProtectionSettings(ReadFile(file));
    ASSERT_EQ(read.folders.size(), paths.size() + 1);
    EXPECT_FALSE(read.cut);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(read.folders[i].path, paths[i]);
        EXPECT_EQ(read.folders[i].written, "") << paths[i];
    }
    EXPECT_EQ(read.folders.back().path, "/x/caf\xc3\xa9");
    EXPECT_EQ(read.folders.back().written, broken);
}

TEST(ProtectionSettingsTest, ReadsWithinBoundsWhateverTheFileClaims)
{
    // Two billion claimed, two there: both read, the claim said to be cut.
    ProtectionSettings read = ReadProtectionSettings(
        "[window]\nfolders\\1\\path=/not/this\n[protection]\nfolders\\2\\path=/b\nfolders\\1\\path=/a\n"
        "folders\\size=2000000000\n[other]\nfolders\\3\\path=/nor/this\n");
    ASSERT_EQ(read.folders.size(), 2u);
    EXPECT_EQ(read.folders[0].path, "/a");  // in the order of their numbers
    EXPECT_EQ(read.folders[1].path, "/b");
    EXPECT_TRUE(read.cut);
    // More entries than are read: the first by number.
    std::string text = "[protection]\n";
    for (std::size_t i = kMaxProtectedFolders + 1; i >= 1; --i)
        text += "folders\\" + std::to_string(i) + "\\path=/f" + std::to_string(i) + "\n";
    read = ReadProtectionSettings(text);
    ASSERT_EQ(read.folders.size(), kMaxProtectedFolders);
    EXPECT_EQ(read.folders.front().path, "/f1");
    EXPECT_EQ(read.folders.back().path, "/f" + std::to_string(kMaxProtectedFolders));
    EXPECT_TRUE(read.cut);
    EXPECT_FALSE(ReadProtectionSettings("[protection]\nfolders\\size=10000\n").cut);
}

}  // namespace
}  // namespace snapsift::testing
