// SPDX-License-Identifier: MIT
// The side-by-side window's content marks: the copies are opened beside the
// window, and each card says what a content check found once they have answered.
#include "review/content_check.h"
#include "review/result_view.h"
#include "ui/preview/compare_window.h"
#include "ui/preview/content_probe.h"
#include "ui/window_texts.h"

#include <QLabel>

#include <unordered_map>

namespace snapsift {

void CompareWindow::UpdateContentMarks()
{
    // One probe at a time: a stuck one is not joined by more. The next one
    // starts from the poll, after the window has had its turn: gathering
    // thousands of copies' places is work of its own.
    if (probe_ && !probe_->Ended())
        probe_->GiveUp();
    probeAgain_ = true;
    probePoll_.start();
}

void CompareWindow::StartProbe()
{
    probeAgain_ = false;
    probe_.reset();
    probeApplied_ = 0;
    for (Card& card : cards_) {
        card.content.clear();
        if (card.widgets)
            card.widgets->content->clear();
    }
    if (!checker_ || cards_.empty()) {
        probePoll_.stop();
        return;
    }
    std::vector<ContentChecker::CopyPlace> places;
    places.reserve(cards_.size());
    for (const Card& card : cards_)
        places.push_back(ContentChecker::PlaceOf(view_.table, card.tableRow));
    probe_ = std::make_unique<ContentProbe>(std::move(places));
    probePoll_.start();
}

void CompareWindow::OnProbePoll()
{
    if (probeAgain_) {
        if (!probe_ || probe_->Ended())
            StartProbe();
        return;
    }
    if (!probe_) {
        probePoll_.stop();
        return;
    }
    const std::size_t done = probe_->Done();
    if (done != probeApplied_) {
        ApplyProbe();
        probeApplied_ = done;
    }
    // By the count applied: the last copy may have come in since.
    if (done == probe_->Size())
        probePoll_.stop();
}

bool CompareWindow::OpeningCopies() const
{
    return probeAgain_ || (probe_ && probeApplied_ < probe_->Size());
}

void CompareWindow::ApplyProbe()
{
    if (!checker_ || !probe_ || probe_->Size() != cards_.size())
        return;
    const FileTable& table = view_.table;
    // The newest copy of each size (the first of equal ones).
    std::unordered_map<std::uint64_t, int> newest;
    for (int i = 0; i < CardCount(); ++i) {
        const int row = cards_[i].tableRow;
        const auto [it, added] = newest.try_emplace(table.Size(row), i);
        if (!added && table.CreationTime(row) > table.CreationTime(cards_[it->second].tableRow))
            it->second = i;
    }
    for (int i = 0; i < CardCount(); ++i) {
        Card& card = cards_[i];
        const int other = newest.at(table.Size(card.tableRow));
        std::optional<bool> same;
        if (other != i) {
            const ContentProbe::State mine = probe_->StateAt(i);
            const ContentProbe::State theirs = probe_->StateAt(other);
            if (mine && theirs)
                same = checker_->KnownEqual(*mine, *theirs);
        }
        card.content = !same ? QString() : QString::fromUtf8(*same ? kCompareSameText : kCompareDifferentText);
        if (card.widgets && card.widgets->content->text() != card.content)
            card.widgets->content->setText(card.content);
    }
}

}  // namespace snapsift
