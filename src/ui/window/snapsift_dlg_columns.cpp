// SPDX-License-Identifier: MIT
// The result list's columns: their widths as made or remembered, the size and
// date columns wide enough for their texts, the name column fitted to the
// names shown, and the path column taking what the window grows by.
#include "ui/display_text.h"
#include "ui/fact_texts.h"
#include "ui/window/dialog_units.h"
#include "ui/window/result_model.h"
#include "ui/window/snapsift_dlg.h"

#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTreeView>

#include <algorithm>
#include <functional>
#include <string>

namespace snapsift {

namespace {

// The width a list cell needs to show the widest of `texts` whole, in the
// list's own font.
int CellWidth(const QTreeView& list, const QStringList& texts)
{
    QStyleOptionViewItem cell;
    cell.initFrom(&list);
    cell.font = list.font();
    cell.fontMetrics = QFontMetrics(cell.font);
    cell.features = QStyleOptionViewItem::HasDisplay;
    int width = 0;
    for (const QString& text : texts) {
        cell.text = text;
        width = std::max(width, list.style()->sizeFromContents(QStyle::CT_ItemViewItem, &cell, {}, &list).width());
    }
    return width;
}

// A text of every digit in turn, made by `shape`: the widest digit decides.
QStringList EveryDigit(const std::function<QString(const QString& digit)>& shape)
{
    QStringList texts;
    for (char digit = '0'; digit <= '9'; ++digit)
        texts << shape(QString(QLatin1Char{digit}));
    return texts;
}

}  // namespace

int CSnapsiftDlg::SizeColumnNeed() const
{
    // Ten digits at the least (every size up to 2147483647 and beyond), and
    // as many as the largest listed size has.
    std::uint64_t largest = 0;
    for (int row = 0; row < m_view.list.GetItemCount(); ++row)
        largest = std::max(largest, m_view.table.Size(m_view.list.TableRow(row)));
    const int digits = std::max<int>(10, static_cast<int>(std::to_string(largest).size()));
    return CellWidth(*m_resultList, EveryDigit([digits](const QString& d) {
        return DisplayText(SizeText(0)).replace(QLatin1Char('0'), d.repeated(digits));
    }));
}

int CSnapsiftDlg::DateColumnNeed() const
{
    return CellWidth(*m_resultList, EveryDigit([](const QString& d) {
        QString text = DisplayText(DateText(0));
        for (QChar& c : text) {
            if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                c = d.at(0);
        }
        return text;
    }));
}

void CSnapsiftDlg::SetResultColumnWidths(const std::vector<int>& remembered)
{
    // Pixels, as the columns were made: name, size, date, path; or as the
    // user left them. Size and date, which automatic selection compares, are
    // never narrower than their texts.
    static constexpr int kWidths[kResultColumnCount] = {kNameColumnWidth, 70, 140, 400};
    const bool useRemembered = remembered.size() == std::size(kWidths);
    {
        const ColumnsFitting fitting(fittingColumns_);
        for (int column = 0; column < static_cast<int>(std::size(kWidths)); ++column)
            m_resultList->header()->resizeSection(column, useRemembered ? remembered[column] : kWidths[column]);
    }
    FitValueColumns();
}

void CSnapsiftDlg::FitValueColumns()
{
    QHeaderView* header = m_resultList->header();
    const ColumnsFitting fitting(fittingColumns_);
    FitNameColumn(true);
    header->resizeSection(kSizeColumn, std::max(header->sectionSize(kSizeColumn), SizeColumnNeed()));
    header->resizeSection(kDateColumn, std::max(header->sectionSize(kDateColumn), DateColumnNeed()));
}

int CSnapsiftDlg::NameColumnNeed() const
{
    // Measuring every name of a large list takes long: the names that look
    // widest (a character outside ASCII counting as two) are measured.
    constexpr std::size_t kMeasured = 64;
    std::vector<std::pair<std::size_t, int>> widest;  // estimate, table row
    for (int row = 0; row < m_view.list.GetItemCount(); ++row) {
        const int tableRow = m_view.list.TableRow(row);
        std::size_t estimate = 0;
        for (const char c : m_view.table.Name(tableRow)) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte & 0xC0) != 0x80)
                estimate += byte < 0x80 ? 1 : 2;
        }
        widest.emplace_back(estimate, tableRow);
        if (widest.size() >= 4 * kMeasured) {
            std::nth_element(widest.begin(), widest.begin() + kMeasured, widest.end(), std::greater<>());
            widest.resize(kMeasured);
        }
    }
    QStringList texts;
    std::sort(widest.begin(), widest.end(), std::greater<>());
    for (std::size_t i = 0; i < widest.size() && i < kMeasured; ++i)
        texts << ShownText(m_view.table.Name(widest[i].second));
    return CellWidth(*m_resultList, texts);
}

void CSnapsiftDlg::FitNameColumn(bool remeasure)
{
    // Once the user has set the name column's width, it is theirs.
    if (ownNameWidth_)
        return;
    if (remeasure)
        nameColumnNeed_ = NameColumnNeed();
    // As wide as the widest name shown, from its first width up to two
    // fifths of the list and some forty characters: the path, whose end
    // tells copies apart, needs the room more than a very long name.
    const int bound = std::max(kNameColumnWidth, std::min(m_resultList->viewport()->width() * 2 / 5,
                                                          DialogUnits(font()).X(kMostNameColumnUnits)));
    const ColumnsFitting fitting(fittingColumns_);
    m_resultList->header()->resizeSection(kNameColumn, std::clamp(nameColumnNeed_, kNameColumnWidth, bound));
}

void CSnapsiftDlg::ConnectColumns()
{
    QHeaderView* header = m_resultList->header();
    // The path column, last, fills what the list has beyond the others: the
    // part of a path that tells copies apart is its end.
    header->setStretchLastSection(true);
    connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int) {
        if (column == kNameColumn && !fittingColumns_)
            ownNameWidth_ = true;
    });
}

}  // namespace snapsift
