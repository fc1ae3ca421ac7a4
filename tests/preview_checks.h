// SPDX-License-Identifier: MIT
#pragma once

#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>
#include <ostream>
#include <string>

// Readable failures.
void PrintTo(const QString& text, std::ostream* out);

namespace snapsift {

extern std::string g_previewRoot;  // the temporary home of the preview tests

QString Q(const char* text);
// The tooltip's line for a picture that cannot be previewed for `reason`.
QString Failed(const char* reason);
std::string Shell(const std::string& path);
// Writes `bytes` to `work`/`name` and returns the path.
std::string Put(const testing::TempDir& work, const std::string& name, const std::string& bytes);
// Runs `command` ({in} and {out} replaced) on an input file holding `input`;
// the output file's bytes, or empty.
std::string MadeBy(const testing::TempDir& work, const std::string& input, const std::string& inputName,
                   const std::string& command, const std::string& outputName);

// Which way the red half of a test picture lies once shown.
enum class RedAt {
    Left,
    Top,
    Bottom
};
void ExpectRedAt(const QImage& shown, RedAt where);

// The tooltip of `path` as the window shows it, through a helper process.
struct Shown {
    QString line;
    QSize picture;  // empty without one
    QImage image;
    QString facts;
};
Shown ShowTip(const std::string& path);

class PreviewDecoderTest : public ::testing::Test {
protected:
    void SetUp() override { work_ = std::make_unique<testing::TempDir>(g_previewRoot); }
    std::unique_ptr<testing::TempDir> work_;
};

}  // namespace snapsift
