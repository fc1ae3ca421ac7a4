// SPDX-License-Identifier: MIT
#include "preview_checks.h"

#include "support/picture_samples.h"
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_tip.h"
#include "ui/window_texts.h"

#include <QLabel>
#include <QPixmap>
#include <QTest>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace snapsift {

using testing::TempDir;

std::string g_previewRoot;

QString Q(const char* text)
{
    return QString::fromUtf8(text);
}

QString Failed(const char* reason)
{
    return Q(kPreviewFailedText) + Q("（") + Q(reason) + Q("）");
}

std::string Shell(const std::string& path)
{
    return "'" + path + "'";
}

std::string Put(const TempDir& work, const std::string& name, const std::string& bytes)
{
    return work.WriteFile(name, bytes);
}

std::string MadeBy(const TempDir& work, const std::string& input, const std::string& inputName,
                   const std::string& command, const std::string& outputName)
{
    const std::string in = Put(work, inputName, input);
    const std::string out = work / outputName;
    std::string line = command;
    line.replace(line.find("{in}"), 4, Shell(in));
    line.replace(line.find("{out}"), 5, Shell(out));
    if (!testing::RunTool(line))
        return {};
    return testing::ReadFile(out);
}

void ExpectRedAt(const QImage& shown, RedAt where)
{
    const int w = shown.width();
    const int h = shown.height();
    const QPoint near = where == RedAt::Left ? QPoint(w / 8, h / 2) : QPoint(w / 2, h / 8);
    const QPoint far = where == RedAt::Left ? QPoint(w * 7 / 8, h / 2) : QPoint(w / 2, h * 7 / 8);
    const QRgb first = shown.pixel(where == RedAt::Bottom ? far : near);
    const QRgb second = shown.pixel(where == RedAt::Bottom ? near : far);
    EXPECT_GT(qRed(first), 180);
    EXPECT_LT(qBlue(first), 90);
    EXPECT_GT(qBlue(second), 180);
    EXPECT_LT(qRed(second), 90);
}

Shown ShowTip(const std::string& path)
{
    PreviewLoader loader;
    PreviewTip tip(loader, nullptr);
    tip.ShowFor(path, QPoint(20, 20));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !loader.Busy(); }, 120000));
    Shown shown;
    shown.line = tip.m_text->text();
    if (tip.m_picture->isVisibleTo(&tip)) {
        shown.image = tip.m_picture->pixmap().toImage();
        shown.picture = shown.image.size();
    }
    if (const PicturePreview* preview = loader.Find(path))
        shown.facts = FactsText(*preview);
    return shown;
}

}  // namespace snapsift
