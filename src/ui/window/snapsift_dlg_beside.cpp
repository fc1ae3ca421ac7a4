// SPDX-License-Identifier: MIT
// The window's steps that may wait on a disk, run beside it: the deletion's
// and the undo's, and the look at the protected folders before automatic
// selection. The window paints meanwhile and hears 終了 and the close box.
#include "ui/delete_conversation.h"
#include "ui/window/busy_window.h"
#include "ui/window/qt_progress.h"
#include "ui/window/snapsift_dlg.h"

#include <QProgressBar>
#include <QPushButton>

#include <atomic>
#include <memory>
#include <optional>
#include <unordered_map>

namespace snapsift {

bool CSnapsiftDlg::RunStepUntilQuit(BusyWindow& busy, DiskStep step, bool moves)
{
    return RunStep(busy, std::move(step), moves, false) == StepEnd::Ended;
}

CSnapsiftDlg::StepEnd CSnapsiftDlg::RunStep(BusyWindow& busy, DiskStep step, bool moves, bool escapeStops)
{
    BesideWindow beside(std::move(step));
    // Until the first file is done, a busy bar: a disk that does not answer
    // shows as work going on.
    if (moves)
        beside.ShowBusyUntilFirstStep();
    StepEnd end = StepEnd::Ended;
    busy.TakeRequests(m_quitButton, [&](BusyWindow::Request request) {
        if (end == StepEnd::Quit || (request != BusyWindow::Request::Quit && !escapeStops))
            return;  // Esc: thrown away
        beside.Stop();
        if (request == BusyWindow::Request::Quit) {
            end = StepEnd::Quit;
            done(QDialog::Rejected);  // the program ends as soon as this command returns
        } else {
            end = StepEnd::Stopped;
        }
    });
    // A stopped step is waited for (the file in hand, then its record), but
    // not beyond a disk that does not answer.
    const std::atomic<bool> answersStop{false};
    const bool ended = beside.Wait(m_progress, answersStop, moves ? kFinishGrace : BesideWindow::kStopGrace);
    busy.TakeRequests(nullptr, {});
    if (m_progress->minimum() == 0 && m_progress->maximum() == 0)
        m_progress->setRange(0, 100);  // never stepped: no longer busy
    if (end == StepEnd::Ended && !ended)
        end = StepEnd::Stopped;
    return end;
}

std::optional<std::vector<std::uint8_t>> CSnapsiftDlg::ProtectedRowsBeside(BusyWindow& busy, bool& quit)
{
    const FileTable& table = m_view.table;
    std::vector<std::uint8_t> flags(static_cast<std::size_t>(table.RowCount()));
    if (protection_.Empty())
        return flags;
    // The table keeps each folder's path once: its address stands for it.
    struct Look {
        ProtectedFolders protection;
        std::vector<std::string> folders;
        std::vector<std::uint8_t> covered;
    };
    const auto look = std::make_shared<Look>();
    look->protection = protection_;
    std::unordered_map<const std::string*, std::uint32_t> index;
    std::vector<std::uint32_t> folderOfRow(flags.size());
    const std::string* last = nullptr;
    std::uint32_t lastIndex = 0;
    for (std::size_t k = 0; k < flags.size(); ++k) {
        const std::string* folder = &table.Folder(static_cast<int>(k));
        if (folder != last) {
            const auto [it, added] = index.try_emplace(folder, static_cast<std::uint32_t>(look->folders.size()));
            if (added)
                look->folders.push_back(*folder);
            last = folder;
            lastIndex = it->second;
        }
        folderOfRow[k] = lastIndex;
    }
    const StepEnd end = RunStep(
        busy,
        [look](Progress&, const std::stop_token&) { look->covered = CoveredFolders(look->protection, look->folders); },
        false, true);
    if (end != StepEnd::Ended) {
        quit = end == StepEnd::Quit;
        return std::nullopt;
    }
    for (std::size_t k = 0; k < flags.size(); ++k)
        flags[k] = look->covered[folderOfRow[k]];
    return flags;
}

}  // namespace snapsift
