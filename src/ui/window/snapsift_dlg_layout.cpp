// SPDX-License-Identifier: MIT
// The main window's construction: its controls, where they stand, and which
// handler each one runs. The handlers themselves are in snapsift_dlg_handlers.cpp.
#include "ui/preview/result_previews.h"
#include "ui/window/dialog_units.h"
#include "ui/window/duplicate_combo_box.h"
#include "ui/window/qt_progress.h"
#include "ui/window/result_model.h"
#include "ui/window/snapsift_dlg.h"
#include "ui/window/window_geometry.h"
#include "ui/window_texts.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QToolTip>
#include <QTreeView>
#include <QTreeWidget>
#include <QValidator>

#include <algorithm>
#include <string>

namespace snapsift {

namespace {

// Refuses any text wider than the limit, a character outside ASCII counting
// as two, so typing and pasting stop there.
class WidthLimitValidator final : public QValidator {
public:
    WidthLimitValidator(int limit, QObject* parent) : QValidator(parent), limit_(limit) { }
    State validate(QString& input, int&) const override
    {
        return ExtensionWidth(input.toStdString()) <= limit_ ? Acceptable : Invalid;
    }

private:
    int limit_;
};

// Enter presses the push button that has the focus. The buttons are not
// auto-default, so an Enter meant for the tree, the list or a box presses
// nothing.
class EnterPressesButton final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            auto* button = qobject_cast<QPushButton*>(watched);
            if (button && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
                button->click();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

QPushButton* MakeButton(QWidget* parent, const char* text, bool flat = false)
{
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFlat(flat);
    button->installEventFilter(new EnterPressesButton(button));
    return button;
}

// Places a control by its rectangle in dialog units, and says how it
// follows the window's edges when the window grows.
void Place(EdgeLayout& layout, const DialogUnits& du, QWidget* w, int x, int y, int width, int height,
           int follow = kFollowNone)
{
    layout.Add(w, du.Rect(x, y, width, height), follow);
}

// A frame behind the controls it frames, so that clicks reach them.
QGroupBox* MakeFrame(QWidget* parent, const char* title)
{
    auto* frame = new QGroupBox(QString::fromUtf8(title), parent);
    return frame;
}

}  // namespace

void CSnapsiftDlg::CreateControls()
{
    setFont(DialogFont(services_.fontFamily));
    // Message boxes, tooltips and the other windows take the window's face,
    // not the desktop's default one.
    QApplication::setFont(font());
    QToolTip::setFont(font());
    const DialogUnits du(font());
    setWindowTitle(QString::fromUtf8(kWindowTitleText));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // Opens at the layout's own size, which is also the smallest.
    baseSize_ = QSize(du.X(315), du.Y(155));
    setMinimumSize(baseSize_);
    resize(baseSize_);

    CreateTargetControls(du);
    CreateResultControls(du);
    CreateFrames(du);
    SetTabOrder();
    ConnectControls();
    progressDriver_ = std::make_unique<QtProgress>(m_progress);
}

void CSnapsiftDlg::CreateTargetControls(const DialogUnits& du)
{
    // 1: the version button.
    m_versionButton = MakeButton(this, kWindowTitleText, true);
    m_versionButton->setFocusPolicy(Qt::NoFocus);
    m_versionButton->setAccessibleName(QString::fromUtf8(kVersionButtonNameText));
    Place(edges_, du, m_versionButton, 238, 34, 65, 8, kFollowRight);
    // 2: the target tree.
    m_folderTree = new QTreeWidget(this);
    m_folderTree->setHeaderHidden(true);
    // Read out as the tree's one column, not as its number.
    m_folderTree->setHeaderLabel(QString::fromUtf8(kFolderTreeNameText));
    m_folderTree->setAccessibleName(QString::fromUtf8(kFolderTreeNameText));
    m_folderTree->setRootIsDecorated(true);
    m_folderTree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_folderTree->setFrameShape(QFrame::StyledPanel);
    m_folderTree->setFrameShadow(QFrame::Sunken);
    // 3 to 7: the types and the extension box.
    m_checkJpeg = new QCheckBox(QString::fromUtf8(kJpegCheckText), this);
    m_checkBmp = new QCheckBox(QString::fromUtf8(kBmpCheckText), this);
    m_checkGif = new QCheckBox(QString::fromUtf8(kGifCheckText), this);
    m_checkOther = new QCheckBox(QString::fromUtf8(kOtherCheckText), this);
    m_otherExt = new QLineEdit(this);
    m_otherExt->setValidator(new WidthLimitValidator(kOtherExtLimit, m_otherExt));
    m_otherExt->setEnabled(false);
    m_otherExt->setAccessibleName(QString::fromUtf8(kOtherExtensionNameText));
    PlaceTypeControls(false);
}

void CSnapsiftDlg::CreateResultControls(const DialogUnits& du)
{
    // 8, 9: search and the duplicate names.
    m_searchButton = MakeButton(this, kSearchButtonText);
    Place(edges_, du, m_searchButton, 144, 5, 76, 13, kFollowRight);
    m_duplicateCombo = new DuplicateComboBox(m_view.combo, this);
    m_duplicateCombo->setAccessibleName(QString::fromUtf8(kDuplicateComboNameText));
    m_duplicateCombo->lineEdit()->setAccessibleName(QString::fromUtf8(kDuplicateComboNameText));
    Place(edges_, du, m_duplicateCombo, 111, 30, 120, 12);
    // 10 to 12: auto-select, the result list, delete.
    m_autoSelectButton = MakeButton(this, kAutoSelectButtonText);
    Place(edges_, du, m_autoSelectButton, 126, 112, 74, 13, kFollowRight | kFollowBottom);
    CreateResultList();
    Place(edges_, du, m_resultList, 111, 45, 193, 63, kGrowWidth | kGrowHeight);
    previews_ = new ResultPreviews(*m_resultList, m_view, services_.openFile, *this);
    previews_->SetContentChecker(&contentChecker_);
    m_deleteButton = MakeButton(this, kDeleteButtonText);
    Place(edges_, du, m_deleteButton, 214, 112, 74, 13, kFollowRight | kFollowBottom);
    // 13, 14: quit and clear.
    m_quitButton = MakeButton(this, kQuitButtonText);
    Place(edges_, du, m_quitButton, 267, 5, 42, 13, kFollowRight);
    m_clearButton = MakeButton(this, kClearButtonText);
    Place(edges_, du, m_clearButton, 224, 5, 35, 13, kFollowRight);
    // 16: the progress bar (its frame, 17, comes with the other frames).
    m_progress = new QProgressBar(this);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(QString::fromUtf8(kProgressNameText));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    Place(edges_, du, m_progress, 127, 137, 160, 8, kFollowBottom | kGrowWidth);
}

void CSnapsiftDlg::CreateResultList()
{
    m_resultList = new ResultListView(this);
    m_resultList->setAccessibleName(QString::fromUtf8(kResultListNameText));
    resultModel_ = new ResultModel(m_view, this);
    m_resultList->setModel(resultModel_);
    m_resultList->setRootIsDecorated(false);
    m_resultList->setItemsExpandable(false);
    m_resultList->setUniformRowHeights(true);
    m_resultList->setAllColumnsShowFocus(true);
    m_resultList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_resultList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_resultList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_resultList->setSortingEnabled(false);
    m_resultList->header()->setSectionsClickable(false);
    m_resultList->header()->setSectionsMovable(false);
    // The header asks its selection model, on every repaint, whether each
    // column it draws is wholly selected, which walks every range of the
    // list's selection: with thousands of separately selected rows a repaint
    // cost milliseconds, and a deletion that repaints as it advances grew
    // with the square of the rows. Its sections are not clickable and do not
    // show the selection, so it gets a selection of its own, always empty.
    m_resultList->header()->setSelectionModel(new QItemSelectionModel(resultModel_, m_resultList->header()));
    m_resultList->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The selection stays as visible without the focus as with it.
    QPalette palette = m_resultList->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    m_resultList->setPalette(palette);
}

void CSnapsiftDlg::CreateFrames(const DialogUnits& du)
{
    // 15, 17, 20: the frames of the results, the progress bar and the targets.
    QGroupBox* resultsFrame = MakeFrame(this, kResultsFrameText);
    Place(edges_, du, resultsFrame, 107, 19, 202, 111, kGrowWidth | kGrowHeight);
    QGroupBox* progressFrame = MakeFrame(this, "");
    Place(edges_, du, progressFrame, 106, 129, 202, 19, kFollowBottom | kGrowWidth);
    QGroupBox* targetsFrame = MakeFrame(this, kTargetsFrameText);
    Place(edges_, du, targetsFrame, 7, 5, 97, 144, kGrowHeight);
    // Frames sit behind what they frame so clicks reach the controls.
    for (QGroupBox* frame : {resultsFrame, progressFrame, targetsFrame})
        frame->lower();
}

void CSnapsiftDlg::SetTabOrder()
{
    QWidget* tabOrder[] = {m_folderTree,   m_checkJpeg,    m_checkBmp,       m_checkGif,         m_checkOther,
                           m_otherExt,     m_searchButton, m_duplicateCombo, m_autoSelectButton, m_resultList,
                           m_deleteButton, m_quitButton,   m_clearButton};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
}

void CSnapsiftDlg::ConnectControls()
{
    connect(m_searchButton, &QPushButton::clicked, this, &CSnapsiftDlg::OnSearch);
    connect(m_deleteButton, &QPushButton::clicked, this, &CSnapsiftDlg::OnDeleteSelected);
    connect(m_autoSelectButton, &QPushButton::clicked, this, &CSnapsiftDlg::OnAutoSelect);
    connect(m_resultList, &QTreeView::doubleClicked, this, &CSnapsiftDlg::OnResultDblClk);
    connect(m_folderTree, &QTreeWidget::itemDoubleClicked, this, &CSnapsiftDlg::OnTreeDblClk);
    connect(m_folderTree, &QTreeWidget::itemExpanded, this, &CSnapsiftDlg::OnTreeItemExpanded);
    connect(m_clearButton, &QPushButton::clicked, this, &CSnapsiftDlg::OnClear);
    // A choice in the combo rebuilds the combo's own entries; let the combo
    // finish its own handling of the click first.
    connect(m_duplicateCombo, &QComboBox::activated, this, &CSnapsiftDlg::OnDuplicateChosen, Qt::QueuedConnection);
    connect(m_duplicateCombo, &DuplicateComboBox::aboutToShowPopup, this, &CSnapsiftDlg::OnDuplicateDropDown);
    connect(m_checkOther, &QCheckBox::clicked, this, &CSnapsiftDlg::OnOtherExtToggle);
    connect(m_versionButton, &QPushButton::clicked, this, &CSnapsiftDlg::OnVersion);
    ConnectTypeControls();
    ConnectColumns();
    connect(m_quitButton, &QPushButton::clicked, this, &CSnapsiftDlg::reject);
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &CSnapsiftDlg::OnHelp);
}

}  // namespace snapsift
