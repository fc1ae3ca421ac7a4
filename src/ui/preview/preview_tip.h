// SPDX-License-Identifier: MIT
#pragma once

#include <QFrame>

#include <string>

class QLabel;

namespace snapsift {

class PreviewLoader;
struct PicturePreview;

// A tooltip-like window with a file's picture and the line under it. Shows
// at once what the cache holds (or a "loading" line) and follows the loader's
// answer for the same file.
class PreviewTip final : public QFrame {
    Q_OBJECT
public:
    PreviewTip(PreviewLoader& loader, QWidget* parent);

    // Shows the preview of `path` (raw bytes) near `globalPos`.
    void ShowFor(const std::string& path, QPoint globalPos);
    // The file shown, or empty when hidden.
    const std::string& Path() const { return path_; }
    void Dismiss();

    QLabel* m_picture = nullptr;
    QLabel* m_text = nullptr;

private:
    void OnReady(const QByteArray& path);
    void Fill(const PicturePreview* preview);
    void Place();

    PreviewLoader& loader_;
    std::string path_;
    QPoint anchor_;
};

// The picture and its line as a label pair shows them; used by the tooltip
// and the side-by-side window. A null preview shows the "loading" line.
// `withFacts` adds the capture time and camera under it, where known.
void ShowPreviewIn(QLabel* picture, QLabel* text, const PicturePreview* preview, bool withFacts = false);

}  // namespace snapsift
