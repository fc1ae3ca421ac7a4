// SPDX-License-Identifier: MIT
// The main window, the About box and the Qt message box, run with the real
// widgets on the offscreen platform. The desktop folder, the trash and the
// deletion log live in a temporary tree made before anything reads them.
// Before Qt, whose "signals" GLib uses as a name.
// clang-format off
#include <gio/gio.h>
// clang-format on

#include "delete/delete_selected.h"
#include "delete/deletion_log.h"
#include "delete/deletion_log_reader.h"
#include "delete/deletion_record.h"
#include "platform/local_time.h"
#include "review/result_view.h"
#include "scan/folder_scan.h"
#include "support/picture_bombs.h"
#include "support/temp_tree.h"
#include "targets/search_targets.h"
#include "ui/app_resources.h"
#include "ui/display_text.h"
#include "ui/fact_texts.h"
#include "ui/picture_type_texts.h"
#include "ui/preview/compare_window.h"
#include "ui/preview/picture_preview.h"
#include "ui/preview/preview_helper.h"
#include "ui/preview/preview_tip.h"
#include "ui/preview/result_previews.h"
#include "ui/preview/thumbnail_cache.h"
#include "ui/window/about_dlg.h"
#include "ui/window/dialog_units.h"
#include "ui/window/duplicate_combo_box.h"
#include "ui/window/file_opener.h"
#include "ui/window/help_page.h"
#include "ui/window/history_dlg.h"
#include "ui/window/picture_types_dlg.h"
#include "ui/window/qt_messenger.h"
#include "ui/window/qt_progress.h"
#include "ui/window/snapsift_dlg.h"
#include "ui/window_texts.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImageWriter>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <semaphore>
#include <sstream>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace snapsift;
using snapsift::testing::Exists;
using snapsift::testing::PngBombBytes;
using snapsift::testing::ProgressiveDcOnlyJpeg;
using snapsift::testing::ReadFile;
using snapsift::testing::RecordingMessenger;
using snapsift::testing::TempDir;
using snapsift::testing::WaitForNewerSecond;

// Qt texts in test failures.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

std::string g_desktop;  // the desktop folder GLib was pointed at
std::string g_trash;    // $XDG_DATA_HOME/Trash
std::string g_logPath;  // the window's deletion log

using Widgets = std::initializer_list<QWidget*>;

std::string BaseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

QString Q(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// What a widget receives from a real double-click.
void DoubleClick(QWidget* widget, QPoint pos)
{
    QTest::mousePress(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, pos);
}

// Calls `handle` with the widget `find` returns, as soon as there is one. For
// code that blocks in a modal loop (exec) until the widget is closed.
void WhenOpen(std::function<QWidget*()> find, std::function<void(QWidget*)> handle)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, find, handle] {
        if (QWidget* widget = find()) {
            timer->stop();
            timer->deleteLater();
            handle(widget);
        }
    });
    timer->start();
}

void WhenModalOpens(std::function<void(QWidget*)> handle)
{
    WhenOpen([] { return QApplication::activeModalWidget(); }, std::move(handle));
}

// Checks an open About box, presses its support button, and closes it.
void CheckAndCloseAboutBox(QWidget* modal, const std::vector<std::string>& opened)
{
    auto* about = qobject_cast<CAboutDlg*>(modal);
    if (!about) {
        ADD_FAILURE() << "the modal window is not the About box";
        modal->close();
        return;
    }
    EXPECT_EQ(about->windowTitle(), Q("ﾊﾞｰｼﾞｮﾝ情報 Snapsift"));
    EXPECT_EQ(about->focusWidget(), about->m_okButton);
    EXPECT_FALSE(about->m_iconLabel->pixmap().isNull());
    EXPECT_FALSE(about->windowIcon().pixmap(16, 16).isNull());
    EXPECT_EQ(about->m_supportButton->text(), Q("Snapsift ヘルプ"));
    EXPECT_TRUE(about->m_supportButton->font().underline());
    const std::size_t before = opened.size();
    QTest::mouseClick(about->m_supportButton, Qt::LeftButton);
    EXPECT_EQ(opened.size(), before + 1);
    if (opened.size() == before + 1) {
        EXPECT_EQ(opened.back(), HelpPagePath());
    }
    EXPECT_TRUE(about->isVisible()) << "the support button must leave the box open";
    QTest::mouseClick(about->m_okButton, Qt::LeftButton);
}

// Counts the paint events a widget receives.
class PaintCounter final : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Runs `action` once, the first time `widget` becomes enabled.
class OnEnabled final : public QObject {
public:
    OnEnabled(QWidget* widget, std::function<void()> action) : widget_(widget), action_(std::move(action))
    {
        widget->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange && widget_->isEnabled() && action_) {
            auto action = std::move(action_);
            action_ = nullptr;
            action();
        }
        return false;
    }

private:
    QWidget* widget_;
    std::function<void()> action_;
};

// A click or a key press as the window system queues it: delivered when the
// event loop next runs.
void PostClick(QWidget* widget)
{
    const QPointF at = QRectF(widget->rect()).center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QCoreApplication::postEvent(
            widget, new QMouseEvent(type, at, widget->mapToGlobal(at), Qt::LeftButton,
                                    type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier));
    }
}

// A click as the window system delivers it: to the window's own surface at
// the widget's place, for Qt to hand on to the widget under the pointer.
void PostSurfaceClick(QWidget* widget)
{
    QWidget* top = widget->window();
    const QPointF at = QPointF(widget->mapTo(top, widget->rect().center()));
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QCoreApplication::postEvent(top->windowHandle(),
                                    new QMouseEvent(type, at, at, top->mapToGlobal(at), Qt::LeftButton,
                                                    type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                                                    Qt::NoModifier));
    }
}

// Typing that QTest's key names do not cover: one key press per character.
void TypeText(QWidget* widget, const QString& text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

void PostKey(QWidget* widget, Qt::Key key)
{
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
        QCoreApplication::postEvent(widget, new QKeyEvent(type, key, Qt::NoModifier, QStringLiteral(" ")));
}

// Every visible label, push button and check box of `window` whose text does
// not fit: its name, its size and the size its text needs. A label needs its
// size hint. A check box needs its size hint's width (indicator, spacing,
// text) and the taller of its indicator and a line of text. A push button
// needs its text with the style's margins on either side and a line of text
// within its frame; its size hint adds a minimum width of its own (80 pixels
// in Fusion) and space above and below the text, which the layout does not
// promise.
std::vector<std::string> CutTexts(QWidget* window)
{
    std::vector<std::string> cut;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(window))
            continue;
        const QStyle* style = widget->style();
        const int line = widget->fontMetrics().height();
        QString text;
        QSize needed;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
            needed = label->sizeHint();
        } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
            text = box->text();
            needed = QSize(box->sizeHint().width(), std::max(line, style->pixelMetric(QStyle::PM_IndicatorHeight)));
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            text = button->text();
            const int frame = button->isFlat() ? 0 : style->pixelMetric(QStyle::PM_DefaultFrameWidth);
            needed = QSize(widget->fontMetrics().horizontalAdvance(text) +
                               2 * (style->pixelMetric(QStyle::PM_ButtonMargin) + frame),
                           line + 2 * frame);
        }
        if (text.isEmpty())
            continue;
        if (needed.width() > widget->width() || needed.height() > widget->height())
            cut.push_back(text.toStdString() + ": " + std::to_string(widget->width()) + "x" +
                          std::to_string(widget->height()) + " needs " + std::to_string(needed.width()) + "x" +
                          std::to_string(needed.height()));
    }
    return cut;
}

// The window's remembered state, as the settings file holds it.
void ForgetWindow()
{
    QSettings(QStringLiteral("snapsift"), QStringLiteral("snapsift")).remove(QStringLiteral("window"));
}

class WindowTest : public ::testing::Test {
protected:
    // Every test starts as a first start does: nothing remembered.
    void SetUp() override { ForgetWindow(); }
    void TearDown() override { dlg.reset(); }

    // With `launch`, files open through the window's own opener, which
    // calls it beside the window in place of the desktop.
    void Open(const QString& fontFamily = {}, Messenger* useMessenger = nullptr,
              std::function<ShellResult(const std::string&)> launch = {})
    {
        WindowServices services{useMessenger ? useMessenger : &messenger,
                                [this](const std::string& path) { opened.push_back(path); },
                                g_logPath,
                                fontFamily,
                                [this](const std::string& path) {
                                    opened.push_back(path);
                                    return helpAnswer;
                                },
                                {}};
        if (launch) {
            services.openFile = nullptr;
            services.launchFile = std::move(launch);
        }
        services.lookAtMountPoint = lookAtMountPoint;
        services.listSubfolders = listSubfolders;
        services.deletionHooks = deletionHooks;
        dlg = std::make_unique<CSnapsiftDlg>(std::move(services));
    }

    // Null: the real ones.
    TrashHooks deletionHooks;
    std::function<MountPointLook(const std::string&)> lookAtMountPoint;
    std::function<std::vector<std::string>(const std::string&, bool)> listSubfolders;

    void Show()
    {
        dlg->show();
        // Generous limits: they end as soon as the window is there, and only
        // a window that never comes fails them, however busy the machine.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get(), 60000));
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get(), 60000));
    }

    // Whether the tree draws an expand arrow before the item.
    bool HasArrow(QTreeWidgetItem* item) const
    {
        std::vector<int> path;
        for (QTreeWidgetItem* at = item; at; at = at->parent())
            path.insert(path.begin(),
                        at->parent() ? at->parent()->indexOfChild(at) : dlg->m_folderTree->indexOfTopLevelItem(at));
        const QAbstractItemModel* model = dlg->m_folderTree->model();
        QModelIndex index;
        for (int row : path)
            index = model->index(row, 0, index);
        return model->hasChildren(index);
    }

    QTreeWidgetItem* DesktopRoot() const { return dlg->m_folderTree->topLevelItem(1); }

    QTreeWidgetItem* DesktopChild(const std::string& name) const
    {
        QTreeWidgetItem* root = DesktopRoot();
        for (int i = 0; root && i < root->childCount(); ++i) {
            if (root->child(i)->text(0) == QString::fromStdString(name))
                return root->child(i);
        }
        return nullptr;
    }

    void Search(QTreeWidgetItem* item)
    {
        dlg->m_folderTree->setCurrentItem(item);
        QTest::mouseClick(dlg->m_searchButton, Qt::LeftButton);
    }

    QStringList Column(int column) const
    {
        QStringList texts;
        const QAbstractItemModel* model = dlg->m_resultList->model();
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, column).data().toString();
        return texts;
    }
    QStringList Names() const { return Column(0); }
    QStringList Paths() const { return Column(3); }

    QStringList ComboEntries() const
    {
        QStringList texts;
        for (int i = 0; i < dlg->m_duplicateCombo->count(); ++i)
            texts << dlg->m_duplicateCombo->itemText(i);
        return texts;
    }

    // The paths of the rows selected in the list view.
    QStringList SelectedPaths() const
    {
        QStringList texts;
        for (const QModelIndex& index : dlg->m_resultList->selectionModel()->selectedRows(3))
            texts << index.data().toString();
        return texts;
    }

    // Whether the list shows the cell's text whole, as the style draws it:
    // within the section less the style's text margin on either side.
    bool CellWhole(int row, int column) const
    {
        const QModelIndex index = dlg->m_resultList->model()->index(row, column);
        const int margin =
            dlg->m_resultList->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, dlg->m_resultList) + 1;
        const int room = dlg->m_resultList->header()->sectionSize(column) - 2 * margin;
        return QFontMetrics(dlg->m_resultList->font()).horizontalAdvance(index.data().toString()) <= room;
    }

    // Name and path as made; size and date as made or wider, so that every
    // size (ten digits at the least) and the whole date and time show.
    void ExpectColumnWidths() const
    {
        const QHeaderView* header = dlg->m_resultList->header();
        EXPECT_EQ(header->sectionSize(0), 100);
        EXPECT_GE(header->sectionSize(1), 70);
        EXPECT_GE(header->sectionSize(2), 140);
        const QAbstractItemModel* model = dlg->m_resultList->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            for (int column : {1, 2})
                EXPECT_TRUE(CellWhole(row, column)) << model->index(row, column).data().toString().toStdString();
        }
        EXPECT_EQ(header->sectionSize(3), 400);
    }

    void ExpectResultButtons(bool enabled) const
    {
        EXPECT_EQ(dlg->m_autoSelectButton->isEnabled(), enabled);
        EXPECT_EQ(dlg->m_deleteButton->isEnabled(), enabled);
        EXPECT_EQ(dlg->m_clearButton->isEnabled(), enabled);
    }

    // Opens the window and searches `folder` for BMP files alone, where it
    // holds two copies of one picture, the one in "old" made a second before
    // the one in "new": automatic selection reads both.
    void SearchOlderAndNewerCopy(const TempDir& folder)
    {
        folder.WriteFile("old/same.bmp", "the same picture");
        WaitForNewerSecond(folder.Path());
        folder.WriteFile("new/same.bmp", "the same picture");
        Open();
        Show();
        dlg->m_checkJpeg->setChecked(false);
        dlg->m_checkBmp->setChecked(true);
        Search(DesktopChild(BaseName(folder.Path())));
        ASSERT_EQ(dlg->Results().list.GetItemCount(), 2);
    }
    // Whether the two rows' files were made at different times, as the
    // file system tells: not so where it keeps no birth time.
    bool RowsHaveTheirOwnBirthTimes() const
    {
        const FileTable& table = dlg->Results().table;
        return table.CreationTime(0) != table.CreationTime(1);
    }

    RecordingMessenger messenger;
    std::vector<std::string> opened;
    ShellResult helpAnswer{true, {}};
    std::unique_ptr<CSnapsiftDlg> dlg;
};

TEST_F(WindowTest, StartsWithJpegTickedButtonsOffAndFocusInTheTree)
{
    Open();
    Show();
    EXPECT_EQ(dlg->windowTitle(), Q("Snapsift Ver1.0"));
    // It opens at its layout's size, which is also its smallest, and grows.
    EXPECT_EQ(dlg->size(), dlg->BaseSize());
    EXPECT_EQ(dlg->minimumSize(), dlg->BaseSize());
    EXPECT_GT(dlg->maximumWidth(), dlg->BaseSize().width());
    EXPECT_GT(dlg->maximumHeight(), dlg->BaseSize().height());
    for (int size : {16, 32})
        EXPECT_FALSE(dlg->windowIcon().pixmap(size, size).isNull()) << size;

    EXPECT_TRUE(dlg->m_checkJpeg->isChecked());
    EXPECT_FALSE(dlg->m_checkBmp->isChecked());
    EXPECT_FALSE(dlg->m_checkGif->isChecked());
    EXPECT_FALSE(dlg->m_checkOther->isChecked());
    EXPECT_TRUE(dlg->m_otherExt->text().isEmpty());
    EXPECT_FALSE(dlg->m_otherExt->isEnabled());
    ExpectResultButtons(false);
    EXPECT_EQ(dlg->m_resultList->model()->rowCount(), 0);
    EXPECT_EQ(dlg->m_duplicateCombo->count(), 0);
    EXPECT_EQ(QApplication::focusWidget(), dlg->m_folderTree);

    // 18 controls, every one of them shown.
    const QList<QWidget*> controls = dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    EXPECT_EQ(controls.size(), 18);
    for (const QWidget* control : controls)
        EXPECT_TRUE(control->isVisible()) << control->metaObject()->className();
    EXPECT_TRUE(dlg->findChildren<QLabel*>(Qt::FindDirectChildrenOnly).isEmpty());
    EXPECT_EQ(dlg->m_versionButton->text(), Q("Snapsift Ver1.0"));

    // What each control says, and the name read out for those without words.
    const std::vector<std::pair<QString, const char*>> shownTexts{
        {dlg->m_checkJpeg->text(), "JPEG形式 ( jpg )"},
        {dlg->m_checkBmp->text(), "BITMAP形式 ( bmp )"},
        {dlg->m_checkGif->text(), "GIF形式 ( gif )"},
        {dlg->m_checkOther->text(), "その他拡張子"},
        {dlg->m_searchButton->text(), "重複ファイル検索実行"},
        {dlg->m_autoSelectButton->text(), "自動削除候補選択"},
        {dlg->m_deleteButton->text(), "選択したファイルを削除"},
        {dlg->m_quitButton->text(), "終了"},
        {dlg->m_clearButton->text(), "クリア"},
        {dlg->m_versionButton->accessibleName(), "バージョン情報を開く"},
        {dlg->m_folderTree->accessibleName(), "検索対象のフォルダ"},
        {dlg->m_otherExt->accessibleName(), "その他の拡張子"},
        {dlg->m_duplicateCombo->accessibleName(), "重複ファイル名"},
        {dlg->m_progress->accessibleName(), "進み具合"},
        {dlg->m_resultList->accessibleName(), "検索結果"},
    };
    for (const auto& [shown, expected] : shownTexts)
        EXPECT_EQ(shown, Q(expected));
    QStringList frameTitles;
    for (const QGroupBox* frame : dlg->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
        frameTitles.append(frame->title());
    frameTitles.sort();
    EXPECT_EQ(frameTitles,
              (QStringList{QString(), Q("検索対象を選択"), Q("検索結果")}));  // the progress frame has none
    for (QWidget* shown : Widgets{dlg->m_folderTree, dlg->m_resultList, dlg->m_duplicateCombo, dlg->m_versionButton,
                                  dlg->m_progress, dlg->m_quitButton})
        EXPECT_TRUE(shown->isVisible());

    // The roots, then the desktop's own subfolders in name order.
    ASSERT_EQ(dlg->m_folderTree->topLevelItemCount(), 2);
    EXPECT_EQ(dlg->m_folderTree->topLevelItem(0)->text(0), Q("カレント"));
    EXPECT_EQ(DesktopRoot()->text(0), Q("デスクトップ"));
    ASSERT_EQ(DesktopRoot()->childCount(), 2);
    EXPECT_EQ(DesktopRoot()->child(0)->text(0), Q("albums"));
    EXPECT_EQ(DesktopRoot()->child(1)->text(0), Q("photos"));
}

TEST_F(WindowTest, EnterDoesNothingAndEscapeOrQuitCloses)
{
    Open();
    Show();
    QTest::keyClick(dlg->m_checkOther, Qt::Key_Space);  // enables the extension box
    ASSERT_TRUE(dlg->m_otherExt->isEnabled());
    // Were Enter to press the search button, "カレント" would be refused aloud.
    dlg->m_folderTree->setCurrentItem(dlg->m_folderTree->topLevelItem(0));
    for (QWidget* target : Widgets{dlg->m_folderTree, dlg->m_checkJpeg, dlg->m_otherExt, dlg->m_resultList}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(dlg->isVisible()) << target->metaObject()->className();
    }
    EXPECT_TRUE(messenger.shown.empty());
    EXPECT_TRUE(dlg->m_checkJpeg->isChecked());

    QTest::keyClick(dlg->m_folderTree, Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);

    Open();
    Show();
    dlg->setResult(-1);
    QTest::mouseClick(dlg->m_quitButton, Qt::LeftButton);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->result(), QDialog::Rejected);

    // Enter on a focused push button presses that button.
    Open();
    Show();
    dlg->setResult(-1);
    dlg->m_quitButton->setFocus();
    QTest::keyClick(dlg->m_quitButton, Qt::Key_Return);
    EXPECT_FALSE(dlg->isVisible());
}

TEST_F(WindowTest, ExtensionBoxTakesFourHalfWidthsAndFollowsItsCheckBox)
{
    Open();
    Show();
    QTest::keyClick(dlg->m_checkOther, Qt::Key_Space);
    EXPECT_TRUE(dlg->m_checkOther->isChecked());
    EXPECT_TRUE(dlg->m_otherExt->isEnabled());
    // A character outside ASCII counts as two: two kanji fill the box.
    const std::pair<const char*, const char*> typed[] = {{"画像", "画像"},  {"画像a", "画像"}, {"a画像", "a画"},
                                                         {"ab画c", "ab画"}, {"éあ", "éあ"},    {"abcde", "abcd"}};
    for (const auto& [keys, kept] : typed) {
        dlg->m_otherExt->clear();
        TypeText(dlg->m_otherExt, Q(keys));
        EXPECT_EQ(dlg->m_otherExt->text(), Q(kept)) << keys;
    }
    dlg->m_otherExt->setText(Q("画像"));
    EXPECT_TRUE(dlg->UpdateData(true));
    EXPECT_EQ(dlg->m_options.m_strOtherExt, "画像");
    QTest::keyClicks(dlg->m_otherExt, "abcde");
    EXPECT_EQ(dlg->m_otherExt->text(), Q("画像")) << "a full box takes nothing more";
    dlg->m_otherExt->clear();
    QTest::keyClicks(dlg->m_otherExt, "abcde");
    EXPECT_EQ(dlg->m_otherExt->text(), Q("abcd"));

    QTest::keyClick(dlg->m_checkOther, Qt::Key_Space);
    EXPECT_FALSE(dlg->m_otherExt->isEnabled());
    EXPECT_EQ(dlg->m_otherExt->text(), Q("abcd")) << "a disabled box keeps its text";
    EXPECT_FALSE(dlg->m_options.m_bOther);
    EXPECT_EQ(dlg->m_options.m_strOtherExt, "abcd");
    EXPECT_TRUE(messenger.shown.empty());

    // Text put there by code bypasses the typing limit; saving refuses it.
    dlg->m_otherExt->setText(Q("画像x"));
    EXPECT_FALSE(dlg->UpdateData(true));
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].text, "4 文字以内で入力してください。");
    EXPECT_EQ(messenger.shown[0].caption, "Snapsift");
    EXPECT_EQ(messenger.shown[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(messenger.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(dlg->m_options.m_strOtherExt, "abcd");
}

TEST_F(WindowTest, SearchPreconditionsAreReported)
{
    Open();
    dlg->m_folderTree->clearSelection();
    QTest::mouseClick(dlg->m_searchButton, Qt::LeftButton);
    Search(dlg->m_folderTree->topLevelItem(0));  // "カレント"
    QTest::keyClick(dlg->m_checkJpeg, Qt::Key_Space);
    Search(DesktopChild("albums"));
    QTest::keyClick(dlg->m_checkOther, Qt::Key_Space);
    Search(DesktopChild("albums"));

    ASSERT_EQ(messenger.shown.size(), 4u);
    EXPECT_EQ(messenger.shown[0].text, kChooseTargetText);
    EXPECT_EQ(messenger.shown[1].text, kNotATargetText);
    EXPECT_EQ(messenger.shown[2].text, "検索したいファイル形式を選択してください");
    EXPECT_EQ(messenger.shown[3].text, kNeedOtherExtensionText);
    for (const MessageRequest& shown : messenger.shown) {
        EXPECT_EQ(shown.caption, "情報");
        EXPECT_EQ(shown.icon, MessageIcon::Information);
    }
    ExpectResultButtons(false);
}

TEST_F(WindowTest, SearchChooseAutoSelectDeleteShowAllAndClear)
{
    // Two copies of dup.jpg of one size, the second made later; pair.jpg
    // twice with different sizes; a name that is not UTF-8.
    TempDir flow(g_desktop);
    const std::string older = flow.MakeFile("a/dup.jpg", 100);
    flow.MakeFile("a/pair.jpg", 10);
    flow.MakeFile("b/pair.jpg", 20);
    flow.MakeFile("solo.jpg", 5);
    flow.MakeFile("notes.txt", 5);
    const std::string odd = flow.MakeFile("b/\x82\xa0.jpg", 1);
    WaitForNewerSecond(flow.Path());
    const std::string newer = flow.MakeFile("b/dup.jpg", 100);
    unlink(g_logPath.c_str());

    Open();
    Show();
    QTreeWidgetItem* target = DesktopChild(BaseName(flow.Path()));
    ASSERT_NE(target, nullptr);
    Search(target);
    EXPECT_TRUE(messenger.shown.empty());
    ASSERT_EQ(Names().size(), 6);
    EXPECT_EQ(Names().mid(0, 5), (QStringList{"dup.jpg", "dup.jpg", "pair.jpg", "pair.jpg", "solo.jpg"}));
    EXPECT_EQ(ComboEntries(), (QStringList{Q(kPromptText), "dup.jpg", "pair.jpg"}));
    EXPECT_EQ(dlg->m_duplicateCombo->currentIndex(), 0);
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q(kPromptText));
    ExpectResultButtons(true);
    ExpectColumnWidths();

    // The double-click opens the focused row's file by its own bytes.
    int oddRow = -1;
    for (int row = 0; row < Paths().size(); ++row) {
        if (Paths()[row].contains(QChar(QChar::ReplacementCharacter)))
            oddRow = row;
    }
    ASSERT_GE(oddRow, 0);
    const QModelIndex oddIndex = dlg->m_resultList->model()->index(oddRow, 0);
    dlg->m_resultList->scrollTo(oddIndex);
    DoubleClick(dlg->m_resultList->viewport(), dlg->m_resultList->visualRect(oddIndex).center());
    EXPECT_EQ(opened, std::vector<std::string>{odd});

    // Down on the closed combo chooses the first name, as a user would.
    dlg->m_duplicateCombo->setFocus();
    QTest::keyClick(dlg->m_duplicateCombo, Qt::Key_Down);
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q("dup.jpg"));
    QStringList chosen = Paths();
    chosen.sort();
    EXPECT_EQ(chosen, (QStringList{QString::fromStdString(older), QString::fromStdString(newer)}));
    EXPECT_EQ(Names(), (QStringList{"dup.jpg", "dup.jpg"}));

    // Only the older of the two equal copies is picked.
    QTest::mouseClick(dlg->m_autoSelectButton, Qt::LeftButton);
    EXPECT_EQ(SelectedPaths(), QStringList{QString::fromStdString(older)});

    QTest::mouseClick(dlg->m_deleteButton, Qt::LeftButton);
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(messenger.shown[0].text, older + "\n" + kConfirmQuestionText);
    EXPECT_FALSE(Exists(older));
    EXPECT_TRUE(Exists(newer));
    EXPECT_TRUE(Exists(g_trash + "/files/dup.jpg"));
    EXPECT_TRUE(Exists(g_trash + "/info/dup.jpg.trashinfo"));
    const std::string log = ReadFile(g_logPath);
    const std::string heading = "## このファイルは不必要ならば削除しても構いません ##\r\n";
    EXPECT_EQ(log.compare(0, heading.size(), heading), 0) << log;
    EXPECT_NE(log.find("\r\n" + older + "\r\n"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), 3) << "every line ends with CR LF";
    EXPECT_EQ(log.back(), '\n');

    // The list shows what is left of the chosen name.
    EXPECT_EQ(Paths(), QStringList{QString::fromStdString(newer)});
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q("dup.jpg"));
    ExpectResultButtons(true);

    // Opening the list offers "すべて表示" in the prompt's place; the chosen
    // name stays chosen. Choosing "すべて表示" brings every row back.
    dlg->m_duplicateCombo->showPopup();
    QCoreApplication::processEvents();
    EXPECT_EQ(ComboEntries(), (QStringList{Q(kShowAllText), "dup.jpg", "pair.jpg"}));
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q("dup.jpg"));
    QAbstractItemView* popup = dlg->m_duplicateCombo->view();
    popup->setCurrentIndex(popup->model()->index(0, 0));
    QTest::keyClick(popup, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(Names().mid(0, 4), (QStringList{"dup.jpg", "pair.jpg", "pair.jpg", "solo.jpg"}));
    EXPECT_EQ(Names().size(), 5);
    ExpectColumnWidths();
    EXPECT_EQ(ComboEntries(), (QStringList{Q(kPromptText), "pair.jpg"}));
    EXPECT_EQ(dlg->m_duplicateCombo->currentIndex(), 0);
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q(kPromptText));

    QTest::mouseClick(dlg->m_clearButton, Qt::LeftButton);
    EXPECT_EQ(dlg->m_resultList->model()->rowCount(), 0);
    EXPECT_EQ(dlg->m_duplicateCombo->count(), 0);
    EXPECT_TRUE(dlg->m_duplicateCombo->currentText().isEmpty());
    ExpectResultButtons(false);
}

// Delete chosen copies from the window, then undo: every file is back as the
// same file, the log is as the deletion left it, and the list and the
// duplicate names are what they were before the deletion.
TEST_F(WindowTest, UndoOfTheLastDeletionBringsFilesAndRowsBack)
{
    TempDir flow(g_desktop);
    std::vector<std::string> files;
    for (const char* folder : {"a", "b", "c/\x82\xa0"}) {
        for (const char* name : {"dup.jpg", "twin.jpg"})
            files.push_back(flow.MakeFile(std::string(folder) + "/" + name, 7));
    }
    unlink(g_logPath.c_str());
    Open();
    Show();
    EXPECT_FALSE(dlg->CanRestoreLast());
    Search(DesktopChild(BaseName(flow.Path())));
    dlg->OnDuplicateChosen(1);  // dup.jpg
    const QStringList namesBefore = Names();
    const QStringList pathsBefore = Paths();
    const QStringList comboBefore = ComboEntries();
    ASSERT_EQ(pathsBefore.size(), 3);

    // Delete two of the three copies; then one path is taken again.
    const ResultView& view = dlg->Results();
    const std::string gone0 = view.table.Path(view.list.TableRow(0));
    const std::string gone1 = view.table.Path(view.list.TableRow(1));
    std::map<std::string, ino_t> inodes;
    for (const std::string& path : files) {
        struct stat st { };
        ASSERT_EQ(lstat(path.c_str(), &st), 0);
        inodes[path] = st.st_ino;
    }
    dlg->m_resultList->selectionModel()->select(
        QItemSelection(dlg->m_resultList->model()->index(0, 0), dlg->m_resultList->model()->index(1, 3)),
        QItemSelectionModel::ClearAndSelect);
    QTest::mouseClick(dlg->m_deleteButton, Qt::LeftButton);
    ASSERT_EQ(Paths().size(), 1);
    EXPECT_TRUE(dlg->CanRestoreLast());
    const std::string log = ReadFile(g_logPath);
    ASSERT_FALSE(Exists(gone0));
    ASSERT_FALSE(Exists(gone1));

    messenger.shown.clear();
    messenger.answers = {MessageAnswer::Cancel};
    dlg->OnRestoreLast();
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].text,
              "直前の削除でごみ箱に移動した 2 個のファイルを元の場所に戻します。よろしいですか？");
    EXPECT_EQ(messenger.shown[0].caption, "確認");
    EXPECT_EQ(messenger.shown[0].buttons, MessageButtons::OkCancel);
    EXPECT_FALSE(Exists(gone0));

    messenger.shown.clear();
    messenger.answers = {};
    dlg->OnRestoreLast();
    ASSERT_EQ(messenger.shown.size(), 2u);
    EXPECT_EQ(messenger.shown[1].text, "2 個のファイルを元の場所に戻しました。");
    EXPECT_EQ(messenger.shown[1].caption, "確認");
    for (const std::string& path : files) {
        struct stat st { };
        ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
        EXPECT_EQ(st.st_ino, inodes[path]) << path;
    }
    EXPECT_EQ(ReadFile(g_logPath), log);
    EXPECT_EQ(Names(), namesBefore);
    EXPECT_EQ(Paths(), pathsBefore);
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q("dup.jpg"));
    EXPECT_EQ(ComboEntries(), comboBefore);
    EXPECT_EQ(dlg->m_progress->value(), dlg->m_progress->minimum());

    // Done: the entry is disabled, and nothing more is put back or said.
    EXPECT_FALSE(dlg->CanRestoreLast());
    messenger.shown.clear();
    dlg->OnRestoreLast();
    EXPECT_TRUE(messenger.shown.empty());
    EXPECT_EQ(Paths(), pathsBefore);
}

// The history window lists the recorded deletions newest first, each with
// its files and their state; it puts back a whole deletion or chosen files,
// sums up each restore, and the list shows what came back.
TEST_F(WindowTest, HistoryWindowPutsBackWholeDeletionsOrChosenFiles)
{
    TempDir flow(g_desktop);
    for (const char* folder : {"a", "b", "c", "d"})
        flow.MakeFile(std::string(folder) + "/dup.jpg", 7);
    unlink(g_logPath.c_str());
    snapsift::testing::RemoveTree(snapsift::RecordsFolder());
    Open();
    Show();
    Search(DesktopChild(BaseName(flow.Path())));
    dlg->OnDuplicateChosen(1);  // dup.jpg
    const QStringList pathsBefore = Paths();
    ASSERT_EQ(pathsBefore.size(), 4);
    const auto deleteRows = [this](int first, int last) {
        dlg->m_resultList->selectionModel()->select(
            QItemSelection(dlg->m_resultList->model()->index(first, 0), dlg->m_resultList->model()->index(last, 3)),
            QItemSelectionModel::ClearAndSelect);
        dlg->OnDeleteSelected();
    };
    deleteRows(0, 0);  // the older deletion: one file
    deleteRows(0, 1);  // the newer one: two files
    ASSERT_EQ(Paths().size(), 1);
    messenger.shown.clear();
    messenger.answers = {};

    bool seen = false;
    WhenModalOpens([&](QWidget* modal) {
        auto* history = qobject_cast<HistoryDlg*>(modal);
        if (!history) {
            ADD_FAILURE() << "the modal window is not the history";
            modal->close();
            return;
        }
        seen = true;
        EXPECT_EQ(history->windowTitle(), Q("削除の履歴"));
        QTreeWidget* list = history->m_list;
        ASSERT_EQ(list->topLevelItemCount(), 2);
        QTreeWidgetItem* newer = list->topLevelItem(0);
        QTreeWidgetItem* older = list->topLevelItem(1);
        EXPECT_EQ(newer->childCount(), 2);
        EXPECT_EQ(older->childCount(), 1);
        EXPECT_EQ(newer->text(1), Q("2 個中 2 個がごみ箱にあります"));
        EXPECT_EQ(older->child(0)->text(1), Q("ごみ箱にあります"));
        EXPECT_EQ(older->text(2), Q(g_logPath.c_str()));

        // One file of the newer deletion, then the whole older one.
        newer->child(1)->setSelected(true);
        history->OnRestore();
        ASSERT_EQ(messenger.shown.size(), 2u);
        EXPECT_EQ(messenger.shown[0].text, "選んだ 1 個のファイルを元の場所に戻します。よろしいですか？");
        EXPECT_EQ(messenger.shown[1].text, "1 個のファイルを元の場所に戻しました。");
        newer = list->topLevelItem(0);
        EXPECT_EQ(newer->text(1), Q("2 個中 1 個がごみ箱にあります"));
        EXPECT_EQ(newer->child(1)->text(1), Q("元に戻しました"));
        list->topLevelItem(1)->setSelected(true);
        history->OnRestore();
        ASSERT_EQ(messenger.shown.size(), 4u);
        EXPECT_EQ(messenger.shown[3].text, "1 個のファイルを元の場所に戻しました。");

        // A file no longer in the trash is not tried again.
        list->topLevelItem(1)->setSelected(true);
        history->OnRestore();
        ASSERT_EQ(messenger.shown.size(), 5u);
        EXPECT_EQ(messenger.shown[4].text, "選んだファイルは、どれもごみ箱にありません。");
        history->m_closeButton->click();
    });
    dlg->OnHistory();
    EXPECT_TRUE(seen);
    // The search ran again: the restored files have their rows back.
    EXPECT_EQ(Paths().size(), 3);
}

// The log cannot take the block (a folder stands under its name): the block
// goes to the fallback log and one message says where. The undo then puts back
// this window's own file, not the one deleted on purpose before; once another
// block follows in that log, the undo says so and moves nothing.
TEST_F(WindowTest, UndoAfterTheFallbackLogPutsBackThisWindowsOwnFile)
{
    TempDir flow(g_desktop);
    for (const char* folder : {"a", "b", "c"})
        flow.MakeFile(std::string(folder) + "/x.jpg", 7);
    unlink(g_logPath.c_str());
    Open();
    Show();
    Search(DesktopChild(BaseName(flow.Path())));
    dlg->OnDuplicateChosen(1);
    auto deleteFirstRow = [&] {
        const ResultView& view = dlg->Results();
        const std::string path = view.table.Path(view.list.TableRow(0));
        dlg->m_resultList->selectionModel()->select(dlg->m_resultList->model()->index(0, 0),
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QTest::mouseClick(dlg->m_deleteButton, Qt::LeftButton);
        return path;
    };
    const std::string a = deleteFirstRow();  // on purpose, into the usual log
    ASSERT_FALSE(Exists(a));
    const std::string aside = g_logPath + ".aside";
    ASSERT_EQ(rename(g_logPath.c_str(), aside.c_str()), 0);
    ASSERT_EQ(mkdir(g_logPath.c_str(), 0755), 0);
    messenger.shown.clear();
    const std::string b = deleteFirstRow();
    rmdir(g_logPath.c_str());
    rename(aside.c_str(), g_logPath.c_str());
    ASSERT_FALSE(Exists(b));
    const std::string fallback = std::string(std::getenv("XDG_STATE_HOME")) + "/snapsift/DeleteLog.log";
    ASSERT_EQ(messenger.shown.size(), 2u);
    EXPECT_EQ(messenger.shown[1].text,
              "削除ログ(DeleteLog.log)を開けませんでした。\n削除の記録は次のファイルに書きました。\n" + fallback);

    // While another deletion's block is the last one, the undo says so and
    // moves nothing.
    const std::string fallbackBefore = ReadFile(fallback);
    ASSERT_EQ(AppendDeletionLog(CurrentTime(), {"/elsewhere/x.jpg"}, fallback), LogOutcome::Written);
    messenger.shown.clear();
    dlg->OnRestoreLast();
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].text, RestoreNotThisDeletionText(fallback));
    EXPECT_FALSE(Exists(b));
    EXPECT_TRUE(dlg->CanRestoreLast());
    {
        std::ofstream rewrite(fallback, std::ios::binary | std::ios::trunc);
        rewrite << fallbackBefore;
    }

    messenger.shown.clear();
    dlg->OnRestoreLast();
    ASSERT_EQ(messenger.shown.size(), 2u);
    EXPECT_EQ(messenger.shown[0].text,
              "直前の削除でごみ箱に移動した 1 個のファイルを元の場所に戻します。よろしいですか？");
    EXPECT_EQ(messenger.shown[1].text, "1 個のファイルを元の場所に戻しました。");
    EXPECT_TRUE(Exists(b));
    EXPECT_FALSE(Exists(a));
    EXPECT_FALSE(dlg->CanRestoreLast());
}

TEST_F(WindowTest, ComboFieldKeepsItsTextWithoutASelectedEntry)
{
    TempDir distinct(g_desktop);
    distinct.MakeFile("x.jpg");
    distinct.MakeFile("y.jpg");
    TempDir twice(g_desktop);
    twice.MakeFile("a/also.jpg");
    twice.MakeFile("b/also.jpg");
    twice.MakeFile("a/same.jpg");
    twice.MakeFile("b/same.jpg");
    Open();

    Search(DesktopChild(BaseName(distinct.Path())));
    EXPECT_EQ(Names(), (QStringList{"x.jpg", "y.jpg"}));
    EXPECT_EQ(dlg->m_duplicateCombo->count(), 0);
    EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q(kNoDuplicatesText));
    EXPECT_TRUE(dlg->m_clearButton->isEnabled());
    EXPECT_FALSE(dlg->m_autoSelectButton->isEnabled());
    EXPECT_FALSE(dlg->m_deleteButton->isEnabled());

    Show();
    Search(DesktopChild(BaseName(twice.Path())));
    for (int opening = 0; opening < 2; ++opening) {
        dlg->m_duplicateCombo->showPopup();
        QCoreApplication::processEvents();
        EXPECT_EQ(ComboEntries(), (QStringList{Q(kShowAllText), "also.jpg", "same.jpg"}));
        EXPECT_EQ(dlg->m_duplicateCombo->currentIndex(), -1);
        EXPECT_EQ(dlg->m_duplicateCombo->currentText(), Q(kPromptText));
        dlg->m_duplicateCombo->hidePopup();
        QCoreApplication::processEvents();
    }
    const QStringList all{"also.jpg", "also.jpg", "same.jpg", "same.jpg"};
    EXPECT_EQ(Names(), all) << "opening the list changes no row";

    // A name typed into the field chooses nothing.
    dlg->m_duplicateCombo->lineEdit()->clear();
    QTest::keyClicks(dlg->m_duplicateCombo, "same.jpg");
    QTest::keyClick(dlg->m_duplicateCombo, Qt::Key_Return);
    dlg->m_resultList->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->m_duplicateCombo->currentIndex(), -1);
    EXPECT_EQ(Names(), all);
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(WindowTest, FilesNamedLikeTheCombosEntriesAreChosenForTheirOwnRows)
{
    // With every file searched, names that read like the combo's own entries
    // are offered as names: each lists its own rows, and only the entry that
    // stands in the prompt's place lists every row.
    TempDir named(g_desktop);
    for (const char* folder : {"a/", "b/"}) {
        named.MakeFile(std::string(folder) + kShowAllText);
        named.MakeFile(std::string(folder) + kPromptText);
        named.MakeFile(std::string(folder) + "x.jpg");
    }
    named.MakeFile(kNoDuplicatesText);
    Open();
    Show();
    QTest::keyClick(dlg->m_checkJpeg, Qt::Key_Space);
    QTest::keyClick(dlg->m_checkOther, Qt::Key_Space);
    dlg->m_otherExt->setText(Q("*"));
    Search(DesktopChild(BaseName(named.Path())));
    ASSERT_EQ(Names().size(), 7);
    EXPECT_EQ(ComboEntries(), (QStringList{Q(kPromptText), "x.jpg", Q(kShowAllText), Q(kPromptText)}));
    EXPECT_EQ(dlg->m_duplicateCombo->currentIndex(), 0);

    auto choose = [this](int index) {
        dlg->m_duplicateCombo->showPopup();
        QCoreApplication::processEvents();
        QAbstractItemView* popup = dlg->m_duplicateCombo->view();
        popup->setCurrentIndex(popup->model()->index(index, 0));
        QTest::keyClick(popup, Qt::Key_Return);
        QCoreApplication::processEvents();
    };
    for (const int index : {2, 3}) {
        choose(index);
        const QString name = index == 2 ? Q(kShowAllText) : Q(kPromptText);
        EXPECT_EQ(Names(), (QStringList{name, name})) << index;
        EXPECT_EQ(dlg->m_duplicateCombo->currentText(), name);
        EXPECT_EQ(ComboEntries(), (QStringList{Q(kShowAllText), "x.jpg", Q(kShowAllText), Q(kPromptText)}));
    }
    choose(0);
    EXPECT_EQ(Names().size(), 7);
    EXPECT_EQ(ComboEntries(), (QStringList{Q(kPromptText), "x.jpg", Q(kShowAllText), Q(kPromptText)}));
    EXPECT_TRUE(messenger.shown.empty());
}

// Holds whoever waits on it until it opens: a disk that does not answer
// until then. Shared with the threads it holds, which may outlive a test.
class Gate final {
public:
    void Wait()
    {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [this] { return open_; });
    }
    void Open()
    {
        const std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// Lets the window's thread run until `done`, or a minute at most.
template <typename Done>
bool ProcessEventsUntil(Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

const QString kNotAnswering = QStringLiteral(" (応答なし)");

// A drive whose mount point does not answer keeps neither the window nor
// the other drives waiting: it shows as not answering, with the whole text
// on hovering, and becomes an ordinary drive once it answers.
TEST_F(WindowTest, ADriveThatDoesNotAnswerShowsSoUntilItAnswers)
{
    const auto gate = std::make_shared<Gate>();
    lookAtMountPoint = [gate](const std::string& point) {
        if (point == "/")
            gate->Wait();
        return LookAtMountPoint(point);
    };
    Open();
    Show();
    QTreeWidgetItem* current = dlg->m_folderTree->topLevelItem(0);
    ASSERT_GT(current->childCount(), 0);
    QTreeWidgetItem* root = current->child(0);
    EXPECT_TRUE(root->text(0).startsWith(QStringLiteral("/ ("))) << root->text(0).toStdString();
    EXPECT_TRUE(root->text(0).endsWith(kNotAnswering)) << root->text(0).toStdString();
    EXPECT_EQ(root->toolTip(0), root->text(0));
    for (int i = 1; i < current->childCount(); ++i)
        EXPECT_FALSE(current->child(i)->text(0).endsWith(kNotAnswering)) << current->child(i)->text(0).toStdString();
    // Searching it is still offered: the search runs beside the window.
    EXPECT_EQ(dlg->Targets().OnSearch(root->data(0, Qt::UserRole).toInt()).path, "/");

    gate->Open();
    EXPECT_TRUE(ProcessEventsUntil([root] { return !root->text(0).endsWith(kNotAnswering); }));
    EXPECT_EQ(root->toolTip(0), root->text(0));
}

// Input that comes while the window waits on something that does not return.
struct StopRequest {
    const char* name;
    void (*post)(CSnapsiftDlg& dlg);
    bool endsProgram;  // else: the window stops waiting and stays
};
void PrintTo(const StopRequest& c, std::ostream* out)
{
    *out << c.name;
}

// Esc, and the two ways of ending the program that a person uses most.
const StopRequest kStopRequests[] = {
    {"escape", [](CSnapsiftDlg& dlg) { PostKey(&dlg, Qt::Key_Escape); }, false},
    {"quit_button_from_the_window_system", [](CSnapsiftDlg& dlg) { PostSurfaceClick(dlg.m_quitButton); }, true},
    {"close_box", [](CSnapsiftDlg& dlg) { QCoreApplication::postEvent(&dlg, new QCloseEvent); }, true},
};

class HeldFolderListingTest : public WindowTest, public ::testing::WithParamInterface<StopRequest> { };

// Opening a folder whose listing does not return: Esc stops waiting for it
// and the folder shows as not answering until its subfolders come; 終了 and
// the close box end the program meanwhile.
TEST_P(HeldFolderListingTest, ComesThroughAndTheSubfoldersComeLater)
{
    const auto gate = std::make_shared<Gate>();
    const auto posted = std::make_shared<std::atomic<bool>>(false);
    listSubfolders = [this, gate, posted](const std::string& path, bool follow) {
        if (BaseName(path) == "photos") {
            if (!posted->exchange(true))
                QMetaObject::invokeMethod(
                    qApp, [this] { GetParam().post(*dlg); }, Qt::QueuedConnection);
            gate->Wait();
        }
        return ListSubfolderNames(path, follow);
    };
    Open();
    Show();
    QTreeWidgetItem* photos = DesktopChild("photos");
    ASSERT_NE(photos, nullptr);
    dlg->m_folderTree->setCurrentItem(photos);
    dlg->OnTreeDblClk();
    EXPECT_TRUE(posted->load());
    if (GetParam().endsProgram) {
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
        gate->Open();
        return;
    }
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(photos->text(0), Q("photos") + kNotAnswering);
    EXPECT_EQ(photos->childCount(), 0);
    dlg->OnTreeDblClk();  // still listing: not listed twice
    gate->Open();
    EXPECT_TRUE(ProcessEventsUntil([photos] { return photos->childCount() > 0; }));
    EXPECT_EQ(photos->text(0), Q("photos"));
    EXPECT_TRUE(photos->toolTip(0).isEmpty());
    ASSERT_EQ(photos->childCount(), 2);
    EXPECT_EQ(photos->child(0)->text(0), Q("2023"));
    EXPECT_EQ(photos->child(1)->text(0), Q("2024"));
    EXPECT_TRUE(messenger.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Requests, HeldFolderListingTest, ::testing::ValuesIn(kStopRequests),
                         [](const ::testing::TestParamInfo<StopRequest>& info) { return info.param.name; });

TEST_F(WindowTest, DoubleClickOnAFolderListsItsSubfoldersUnderIt)
{
    Open();
    Show();
    QTreeWidget* tree = dlg->m_folderTree;
    auto doubleClick = [tree](QTreeWidgetItem* item) {
        tree->scrollToItem(item);
        DoubleClick(tree->viewport(), tree->visualItemRect(item).center());
    };
    doubleClick(DesktopRoot());
    EXPECT_TRUE(DesktopRoot()->isExpanded());
    EXPECT_EQ(DesktopRoot()->childCount(), 2);

    QTreeWidgetItem* photos = DesktopChild("photos");
    ASSERT_NE(photos, nullptr);
    ASSERT_EQ(photos->childCount(), 0);
    doubleClick(photos);
    ASSERT_EQ(photos->childCount(), 2);
    EXPECT_EQ(photos->child(0)->text(0), Q("2023"));
    EXPECT_EQ(photos->child(1)->text(0), Q("2024"));
    EXPECT_TRUE(photos->isExpanded());

    doubleClick(photos);  // listed once only
    EXPECT_EQ(photos->childCount(), 2);
    EXPECT_TRUE(messenger.shown.empty());

    // A folder without subfolders loses its arrow once listed.
    QTreeWidgetItem* albums = DesktopChild("albums");
    ASSERT_TRUE(HasArrow(albums));
    doubleClick(albums);
    EXPECT_EQ(albums->childCount(), 0);
    EXPECT_FALSE(HasArrow(albums));
}

TEST_F(WindowTest, FoldersNotYetListedShowAnArrowAndListWhenExpandedByKey)
{
    Open();
    Show();
    QTreeWidget* tree = dlg->m_folderTree;
    tree->setFocus();
    QTreeWidgetItem* photos = DesktopChild("photos");
    ASSERT_NE(photos, nullptr);
    if (QTreeWidgetItem* drive = tree->topLevelItem(0)->child(0)) {
        EXPECT_TRUE(HasArrow(drive)) << "a drive not yet listed";
    }
    EXPECT_TRUE(HasArrow(DesktopChild("albums")));
    ASSERT_TRUE(HasArrow(photos));
    ASSERT_EQ(photos->childCount(), 0);

    // Enter lists nothing.
    tree->setCurrentItem(photos);
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_EQ(photos->childCount(), 0);
    EXPECT_FALSE(photos->isExpanded());

    // Right lists and opens it.
    QTest::keyClick(tree, Qt::Key_Right);
    ASSERT_EQ(photos->childCount(), 2);
    EXPECT_TRUE(photos->isExpanded());
    QTreeWidgetItem* year2023 = photos->child(0);
    QTreeWidgetItem* year2024 = photos->child(1);
    EXPECT_TRUE(HasArrow(year2023));
    EXPECT_TRUE(HasArrow(year2024));

    // Keypad + on a folder with a subfolder, then on one without.
    tree->setCurrentItem(year2024);
    QTest::keyClick(tree, Qt::Key_Plus, Qt::KeypadModifier);
    ASSERT_EQ(year2024->childCount(), 1);
    EXPECT_EQ(year2024->child(0)->text(0), Q("summer"));
    EXPECT_TRUE(year2024->isExpanded());
    tree->setCurrentItem(year2023);
    QTest::keyClick(tree, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_EQ(year2023->childCount(), 0);
    EXPECT_FALSE(HasArrow(year2023));

    // A click on the arrow lists the folder too.
    QTreeWidgetItem* summer = year2024->child(0);
    ASSERT_TRUE(HasArrow(summer));
    const QRect row = tree->visualItemRect(summer);
    const QPoint arrow(row.left() - tree->indentation() / 2, row.center().y());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, arrow);
    EXPECT_EQ(summer->childCount(), 0);
    EXPECT_FALSE(HasArrow(summer));
    EXPECT_FALSE(summer->isExpanded());
    EXPECT_TRUE(messenger.shown.empty());
}

TEST_F(WindowTest, AboutBoxFromTheVersionButtonAndTheContextMenu)
{
    Open();
    Show();
    WhenModalOpens([this](QWidget* modal) { CheckAndCloseAboutBox(modal, opened); });
    QTest::mouseClick(dlg->m_versionButton, Qt::LeftButton);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // A right-click on a free area of the window; A is the entry's access key.
    bool menuSeen = false;
    WhenOpen([] { return QApplication::activePopupWidget(); },
             [this, &menuSeen](QWidget* popup) {
                 auto* menu = qobject_cast<QMenu*>(popup);
                 if (!menu) {
                     popup->close();
                     return;
                 }
                 menuSeen = true;
                 EXPECT_EQ(menu->actions().size(), 3);
                 EXPECT_EQ(menu->actions().value(0)->text(), Q(kAboutMenuText));
                 // Undo waits for a deletion that moved a file in this run.
                 EXPECT_EQ(menu->actions().value(1)->text(), Q(kRestoreLastMenuText));
                 EXPECT_FALSE(menu->actions().value(1)->isEnabled());
                 // The history is there at any time.
                 EXPECT_EQ(menu->actions().value(2)->text(), Q(kHistoryMenuText));
                 EXPECT_TRUE(menu->actions().value(2)->isEnabled());
                 WhenModalOpens([this](QWidget* modal) { CheckAndCloseAboutBox(modal, opened); });
                 QTest::keyClick(menu, Qt::Key_A);
             });
    QTest::mouseClick(dlg->windowHandle(), Qt::RightButton, {}, QPoint(2, 2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return menuSeen && opened.size() == 2u; }, 60000));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(WindowTest, F1OpensTheHelpPageOrSaysWhereItIs)
{
    Open();
    Show();
    QTest::keyClick(dlg.get(), Qt::Key_F1);
    EXPECT_EQ(opened, std::vector<std::string>{HelpPagePath()});
    EXPECT_TRUE(messenger.shown.empty());
    // The page's title is what the About box calls it.
    const std::string page = ReadFile(HelpPagePath());
    EXPECT_NE(page.find(std::string("<title>") + kAboutHelpText + "</title>"), std::string::npos);

    // No program for it: one message, with the page's full path.
    helpAnswer = {false, "No application is registered as handling this file"};
    QTest::keyClick(dlg.get(), Qt::Key_F1);
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].text, HelpNotOpenedText(HelpPagePath(), true));
    EXPECT_NE(messenger.shown[0].text.find(HelpPagePath()), std::string::npos);
    EXPECT_EQ(HelpPagePath().front(), '/');
    EXPECT_NE(HelpNotOpenedText("/x", true), HelpNotOpenedText("/x", false));
}

// Picture files made byte by byte, as cameras and old tools write them.

// A JPEG whose left half is red and right half blue; with an EXIF
// orientation when `orientation` is not 0 (an APP1 segment after SOI).
std::string JpegBytes(int width, int height, int orientation = 0)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line, line + width / 2, qRgb(255, 0, 0));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    EXPECT_TRUE(writer.write(image));
    std::string jpeg = bytes.toStdString();
    if (orientation) {
        // "Exif\0\0", a big-endian TIFF header, one IFD entry: 0x0112 SHORT 1.
        const std::string exif = std::string("Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 25) +
                                 char(orientation) + std::string("\0\0\0\0\0\0", 6);
        const std::size_t length = exif.size() + 2;
        jpeg.insert(2, "\xff\xe1" + std::string{char(length >> 8), char(length & 0xff)} + exif);
    }
    return jpeg;
}

std::string BmpBytes(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "bmp"));
    return bytes.toStdString();
}

void PutLE16(std::string& out, int value)
{
    out += char(value & 0xff);
    out += char((value >> 8) & 0xff);
}

// A GIF with a 128-colour table. Its LZW codes stay 8 bits wide, so each code
// is one byte: a clear code every 120 pixels keeps the table from growing.
// `pixels` false: a header and one clear code only, as a decompression bomb has.
std::string GifBytes(int width, int height, bool pixels = true)
{
    std::string gif = "GIF89a";
    PutLE16(gif, width);
    PutLE16(gif, height);
    gif += std::string("\xf6\0\0", 3);  // global table of 128 entries
    for (int i = 0; i < 128; ++i)
        gif += std::string{char(i * 2), char(255 - i * 2), char(64)};
    gif += ',';
    PutLE16(gif, 0);
    PutLE16(gif, 0);
    PutLE16(gif, width);
    PutLE16(gif, height);
    gif += '\0';
    gif += char(7);  // minimum code size: clear = 128, end = 129
    std::string codes;
    const long count = pixels ? static_cast<long>(width) * height : 0;
    for (long i = 0; i < count; ++i) {
        if (i % 120 == 0)
            codes += char(128);
        codes += char(i % width * 100 / width);
    }
    if (!pixels)
        codes += char(128);
    codes += char(129);
    for (std::size_t at = 0; at < codes.size(); at += 255) {
        const std::string block = codes.substr(at, 255);
        gif += char(block.size());
        gif += block;
    }
    gif += std::string("\0;", 2);
    return gif;
}

// This process's resident memory and its peak since the last ResetPeakMemory, in bytes.
long long StatusBytes(const char* key)
{
    std::istringstream status(ReadFile("/proc/self/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atoll(line.c_str() + std::strlen(key)) * 1024;
    }
    return -1;
}

bool ResetPeakMemory()
{
    FILE* file = std::fopen("/proc/self/clear_refs", "w");
    const bool ok = file && std::fputs("5", file) >= 0;
    return (file && std::fclose(file) == 0) && ok;
}

// The soft address-space limits of this process's preview helpers.
[[maybe_unused]] std::vector<std::string> HelperAddressSpaceLimits()
{
    std::vector<std::string> limits;
    const std::string parent = std::to_string(getpid());
    QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        entry.toInt(&number);
        const std::string dir = "/proc/" + entry.toStdString();
        if (!number || ReadFile(dir + "/cmdline").find(kDecodePreviewOption) == std::string::npos)
            continue;
        std::istringstream status(ReadFile(dir + "/status"));
        std::string line;
        bool ours = false;
        while (std::getline(status, line))
            ours = ours || line == "PPid:\t" + parent;
        std::istringstream limitLines(ReadFile(dir + "/limits"));
        while (ours && std::getline(limitLines, line)) {
            if (line.rfind("Max address space", 0) == 0) {
                std::istringstream fields(line.substr(std::strlen("Max address space")));
                std::string soft;
                fields >> soft;
                limits.push_back(soft);
            }
        }
    }
    return limits;
}

// Puts the pointer's tooltip on list row `row` and waits for the loader's answer.
void HoverRow(CSnapsiftDlg& dlg, int row)
{
    const QModelIndex index = dlg.m_resultList->model()->index(row, 0);
    dlg.m_resultList->scrollTo(index);
    const QPoint pos = dlg.m_resultList->visualRect(index).center();
    QHelpEvent help(QEvent::ToolTip, pos, dlg.m_resultList->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(dlg.m_resultList->viewport(), &help);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg.Previews().Loader().Busy(); }, 30000));
}

int RowOfPath(const CSnapsiftDlg& dlg, const std::string& path)
{
    const ResultView& view = dlg.Results();
    for (int row = 0; row < view.list.GetItemCount(); ++row) {
        if (view.table.Path(view.list.TableRow(row)) == path)
            return row;
    }
    return -1;
}

QString Failed(const char* reason)
{
    return Q(kPreviewFailedText) + Q("（") + Q(reason) + Q("）");
}

struct PreviewCase {
    const char* file;
    std::function<std::string()> content;
    QSize picture;  // empty: no picture, only the line
    QString line;
    // After the search, before the pointer rests on it: the path becomes a
    // FIFO or a link (a search lists neither).
    enum {
        Keep,
        Fifo,
        Link
    } replace = Keep;
};

TEST_F(WindowTest, PreviewTooltipShowsPictureAndLineOrWhyNot)
{
    const std::vector<PreviewCase> cases = {
        {"rotated.jpg", [] { return JpegBytes(400, 300, 6); }, {192, 256}, "300 × 400 JPEG"},
        {"plain.jpg", [] { return JpegBytes(400, 300); }, {256, 192}, "400 × 300 JPEG"},
        {"\x82\xa0\x82\xa2.jpg", [] { return JpegBytes(640, 480); }, {256, 192}, "640 × 480 JPEG"},
        {"small.bmp", [] { return BmpBytes(100, 50); }, {100, 50}, "100 × 50 BMP"},
        {"anim.gif", [] { return GifBytes(320, 160); }, {256, 128}, "320 × 160 GIF"},
        {"cut.jpg",
         [] {
             std::string j = JpegBytes(400, 300);
             return j.substr(0, j.size() / 2);
         },
         {},
         Failed("壊れているか、途中で切れています")},
        {"cut.bmp",
         [] {
             std::string b = BmpBytes(100, 50);
             return b.substr(0, b.size() * 2 / 3);
         },
         {},
         Failed("壊れているか、途中で切れています")},
        {"empty.jpg", [] { return std::string(); }, {}, Failed("空のファイルです")},
        {"notes.jpg",
         [] { return std::string("not a picture\n"); },
         {},
         Failed("画像ではないか、対応していない形式です")},
        {"bomb.png", [] { return PngBombBytes(); }, {}, Failed("画像が大きすぎます")},
        {"bomb.gif", [] { return GifBytes(16000, 16000, false); }, {}, Failed("画像が大きすぎます")},
        {"dc-only.jpg", [] { return ProgressiveDcOnlyJpeg(20000); }, {}, Failed("画像が大きすぎます")},
        {"pipe.jpg", [] { return JpegBytes(40, 30); }, {}, Failed("通常のファイルではありません"), PreviewCase::Fifo},
        {"link.jpg", [] { return JpegBytes(40, 30); }, {}, Failed("リンクです"), PreviewCase::Link},
    };
    TempDir folder(g_desktop);
    std::vector<std::string> paths;
    for (const PreviewCase& c : cases)
        paths.push_back(folder.WriteFile(c.file, c.content()));

    Open();
    Show();
    dlg->m_checkBmp->setChecked(true);
    dlg->m_checkGif->setChecked(true);
    dlg->m_checkOther->setChecked(true);
    dlg->m_otherExt->setText("png");
    Search(DesktopChild(BaseName(folder.Path())));
    ASSERT_EQ(dlg->Results().list.GetItemCount(), static_cast<int>(cases.size()));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (cases[i].replace == PreviewCase::Keep)
            continue;
        ASSERT_EQ(unlink(paths[i].c_str()), 0);
        if (cases[i].replace == PreviewCase::Fifo)
            ASSERT_EQ(mkfifo(paths[i].c_str(), 0600), 0);
        else
            ASSERT_EQ(symlink(paths[0].c_str(), paths[i].c_str()), 0);
    }

    PreviewTip& tip = dlg->Previews().Tip();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(DisplayText(cases[i].file).toStdString());
        const int row = RowOfPath(*dlg, paths[i]);
        ASSERT_GE(row, 0);
        // Whatever the file, the window itself grows by less than its cache
        // of previews: the decoding happens elsewhere.
        const bool peakReset = ResetPeakMemory();
        const long long before = StatusBytes("VmRSS:");
        HoverRow(*dlg, row);
        if (peakReset) {
            EXPECT_LT(StatusBytes("VmHWM:") - before, kPreviewCacheBytes);
        }
        EXPECT_TRUE(tip.isVisible());
        EXPECT_EQ(tip.Path(), paths[i]);
        EXPECT_EQ(tip.m_text->text(), cases[i].line);
        EXPECT_EQ(tip.m_picture->isVisibleTo(&tip), !cases[i].picture.isEmpty());
        if (!cases[i].picture.isEmpty()) {
            EXPECT_EQ(tip.m_picture->pixmap().size(), cases[i].picture);
        }
    }

    // Its helpers decoded all that under their own memory limit.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    const std::vector<std::string> limits = HelperAddressSpaceLimits();
    EXPECT_FALSE(limits.empty());
    for (const std::string& limit : limits)
        EXPECT_EQ(limit, std::to_string(kPreviewHelperMemoryBytes));
#endif

    // The EXIF orientation turns the left (red) half to the top.
    HoverRow(*dlg, RowOfPath(*dlg, paths[0]));
    const QImage rotated = tip.m_picture->pixmap().toImage();
    EXPECT_GT(qRed(rotated.pixel(96, 10)), 200);
    EXPECT_GT(qBlue(rotated.pixel(96, 245)), 200);
    EXPECT_LT(qRed(rotated.pixel(96, 245)), 60);

    // Leaving the list hides it; resting the pointer on a row shows it again.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(dlg->m_resultList->viewport(), &leave);
    EXPECT_FALSE(tip.isVisible());
    const QModelIndex plain = dlg->m_resultList->model()->index(RowOfPath(*dlg, paths[1]), 0);
    QTest::mouseMove(dlg->m_resultList->viewport(), dlg->m_resultList->visualRect(plain).center());
    EXPECT_TRUE(QTest::qWaitFor([&] { return tip.isVisible() && tip.Path() == paths[1]; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return tip.m_text->text() == Q("400 × 300 JPEG"); }, 30000));
    dlg->hide();
}

TEST_F(WindowTest, ListStaysResponsiveWhileALargePictureDecodes)
{
    TempDir folder(g_desktop);
    const std::string big = folder.WriteFile("big.jpg", JpegBytes(8000, 4000));
    folder.WriteFile("other.jpg", JpegBytes(40, 30));
    Open();
    Show();
    Search(DesktopChild(BaseName(folder.Path())));
    ASSERT_EQ(dlg->Results().list.GetItemCount(), 2);

    // The loader holds the request back until the window's word, so
    // everything the window does meanwhile happens while the decode is due.
    PreviewLoader& loader = dlg->Previews().Loader();
    loader.SetHeld(true);
    std::vector<std::string> order;
    QObject::connect(&loader, &PreviewLoader::Ready, dlg.get(), [&order] { order.push_back("decoded"); });

    const int row = RowOfPath(*dlg, big);
    const QModelIndex index = dlg->m_resultList->model()->index(row, 0);
    const QPoint pos = dlg->m_resultList->visualRect(index).center();
    QHelpEvent help(QEvent::ToolTip, pos, dlg->m_resultList->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(dlg->m_resultList->viewport(), &help);
    PreviewTip& tip = dlg->Previews().Tip();
    EXPECT_TRUE(tip.isVisible());
    EXPECT_EQ(tip.m_text->text(), Q(kPreviewLoadingText));
    EXPECT_TRUE(loader.Busy());

    // The window's thread goes on: timers fire, keys move the list's current row.
    QTimer::singleShot(0, dlg.get(), [&order] { order.push_back("timer"); });
    EXPECT_TRUE(QTest::qWaitFor([&order] { return !order.empty(); }, 5000));
    dlg->m_resultList->setFocus();
    dlg->m_resultList->setCurrentIndex(dlg->m_resultList->model()->index(0, 0));
    QTest::keyClick(dlg->m_resultList, Qt::Key_Down);
    EXPECT_EQ(dlg->m_resultList->currentIndex().row(), 1);
    order.push_back("key");
    EXPECT_TRUE(loader.Busy());

    loader.SetHeld(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !loader.Busy(); }, 60000));
    EXPECT_EQ(order, (std::vector<std::string>{"timer", "key", "decoded"}));
    HoverRow(*dlg, row);
    EXPECT_EQ(tip.m_text->text(), Q("8000 × 4000 JPEG"));
    EXPECT_EQ(tip.m_picture->pixmap().size(), QSize(256, 128));
}

TEST_F(WindowTest, SideBySideWindowShowsListedCopiesAndFollowsTheSelection)
{
    TempDir folder(g_desktop);
    const std::string a = folder.WriteFile("a/IMG_0001.JPG", JpegBytes(400, 300));
    const std::string b = folder.WriteFile("b/IMG_0001.JPG", JpegBytes(300, 300));
    const std::string c = folder.WriteFile("c/IMG_0001.JPG", JpegBytes(400, 300, 6));
    folder.WriteFile("c/other.jpg", JpegBytes(40, 30));
    Open();
    Show();
    Search(DesktopChild(BaseName(folder.Path())));
    ASSERT_EQ(dlg->Results().list.GetItemCount(), 4);
    const int rowA = RowOfPath(*dlg, a), rowB = RowOfPath(*dlg, b), rowC = RowOfPath(*dlg, c);
    QItemSelectionModel* selection = dlg->m_resultList->selectionModel();
    auto select = [&](std::initializer_list<int> rows) {
        QItemSelection chosen;
        for (int row : rows)
            chosen.select(dlg->m_resultList->model()->index(row, 0), dlg->m_resultList->model()->index(row, 3));
        selection->select(chosen, QItemSelectionModel::ClearAndSelect);
    };
    select({rowA, rowC});
    const QStringList selectedBefore = SelectedPaths();

    // The entry stands first in the list's context menu, before the window's own.
    bool menuSeen = false;
    WhenOpen([] { return QApplication::activePopupWidget(); },
             [&menuSeen](QWidget* popup) {
                 auto* menu = qobject_cast<QMenu*>(popup);
                 if (!menu) {
                     popup->close();
                     return;
                 }
                 menuSeen = true;
                 const QList<QAction*> actions = menu->actions();
                 ASSERT_EQ(actions.size(), 5);
                 EXPECT_EQ(actions.value(0)->text(), Q(kCompareMenuText));
                 EXPECT_TRUE(actions.value(1)->isSeparator());
                 EXPECT_EQ(actions.value(2)->text(), Q(kAboutMenuText));
                 EXPECT_EQ(actions.value(3)->text(), Q(kRestoreLastMenuText));
                 EXPECT_EQ(actions.value(4)->text(), Q(kHistoryMenuText));
                 QTest::keyClick(menu, Qt::Key_P);
             });
    const QPoint pos = dlg->m_resultList->visualRect(dlg->m_resultList->model()->index(rowB, 0)).center();
    QContextMenuEvent context(QContextMenuEvent::Mouse, pos, dlg->m_resultList->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(dlg->m_resultList->viewport(), &context);
    EXPECT_TRUE(menuSeen);

    CompareWindow* compare = dlg->Previews().Compare();
    ASSERT_NE(compare, nullptr);
    EXPECT_TRUE(compare->isVisible());
    EXPECT_TRUE(compare->isWindow());
    EXPECT_FALSE(compare->isModal());
    ASSERT_EQ(compare->CardCount(), 3);
    std::vector<std::string> shown;
    for (int card = 0; card < 3; ++card)
        shown.push_back(compare->CardPath(card));
    std::vector<std::pair<int, std::string>> byRow = {{rowA, a}, {rowB, b}, {rowC, c}};
    std::sort(byRow.begin(), byRow.end());
    EXPECT_EQ(shown, (std::vector<std::string>{byRow[0].second, byRow[1].second, byRow[2].second}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg->Previews().Loader().Busy(); }, 30000));
    const std::map<std::string, QSize> pictures = {{a, {256, 192}}, {b, {256, 256}}, {c, {192, 256}}};
    for (int card = 0; card < 3; ++card) {
        const std::string& path = compare->CardPath(card);
        const std::string size =
            SizeText(dlg->Results().table.Size(dlg->Results().list.TableRow(RowOfPath(*dlg, path))));
        const QString text = compare->CardText(card);
        EXPECT_EQ(compare->CardPicture(card)->pixmap().size(), pictures.at(path));
        EXPECT_TRUE(text.contains(QString::fromStdString(path.substr(0, path.rfind('/'))))) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromStdString(size))) << text.toStdString();
        EXPECT_EQ(compare->CardMarked(card), path != b);
        EXPECT_EQ(text.contains(Q(kCompareMarkedText)), path != b);
    }

    // A double-click on a picture opens that file; the list's selection stays.
    int cardB = -1;
    for (int card = 0; card < 3; ++card)
        cardB = compare->CardPath(card) == b ? card : cardB;
    QTest::mouseDClick(compare->CardPicture(cardB), Qt::LeftButton);
    EXPECT_EQ(opened, std::vector<std::string>{b});
    EXPECT_EQ(SelectedPaths(), selectedBefore);

    // The marks follow the main list's selection.
    select({rowB});
    for (int card = 0; card < 3; ++card) {
        EXPECT_EQ(compare->CardMarked(card), compare->CardPath(card) == b);
    }
    EXPECT_EQ(SelectedPaths(), QStringList{QString::fromStdString(b)});

    // Clearing the list leaves no copy to show; Esc closes the window.
    QTest::mouseClick(dlg->m_clearButton, Qt::LeftButton);
    EXPECT_EQ(compare->CardCount(), 0);
    QTest::keyClick(compare, Qt::Key_Escape);
    EXPECT_FALSE(compare->isVisible());
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(WindowTest, AutoSelectComparesContentsRightClickKeepsTheSelectionAndProtectedFoldersStay)
{
    TempDir folder(g_desktop);
    const std::string oldScan = folder.WriteFile("old/scan 01.bmp", "picture one");
    const std::string oldSame = folder.WriteFile("old/same.bmp", "the same picture");
    snapsift::testing::WaitForNewerSecond(folder.Path());
    const std::string newScan = folder.WriteFile("new/scan 01.bmp", "picture two");
    const std::string newSame = folder.WriteFile("new/same.bmp", "the same picture");
    Open();
    Show();
    dlg->m_checkJpeg->setChecked(false);
    dlg->m_checkBmp->setChecked(true);
    Search(DesktopChild(BaseName(folder.Path())));
    ASSERT_EQ(dlg->Results().list.GetItemCount(), 4);
    auto created = [this](const std::string& path) {
        return dlg->Results().table.CreationTime(dlg->Results().list.TableRow(RowOfPath(*dlg, path)));
    };
    if (created(oldSame) >= created(newSame))
        GTEST_SKIP() << "this file system keeps no birth time";

    // Only the copy with the newer copy's bytes; one message for the other.
    QTest::mouseClick(dlg->m_autoSelectButton, Qt::LeftButton);
    EXPECT_EQ(SelectedPaths(), QStringList{QString::fromStdString(oldSame)});
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].text, LeftUnselectedText(1, 0));
    EXPECT_EQ(messenger.shown[0].caption, kInformationCaption);

    // A right-click on another row keeps the selection; the menu key and
    // Shift+F10 open the menu for the current row.
    const QPoint pos =
        dlg->m_resultList->visualRect(dlg->m_resultList->model()->index(RowOfPath(*dlg, newScan), 0)).center();
    QTest::mousePress(dlg->m_resultList->viewport(), Qt::RightButton, {}, pos);
    QTest::mouseRelease(dlg->m_resultList->viewport(), Qt::RightButton, {}, pos);
    EXPECT_EQ(SelectedPaths(), QStringList{QString::fromStdString(oldSame)});
    PreviewTip& tip = dlg->Previews().Tip();
    for (const auto& [key, modifiers] :
         {std::pair{Qt::Key_Menu, Qt::NoModifier}, std::pair{Qt::Key_F10, Qt::ShiftModifier}}) {
        // A preview showing when the menu opens goes away: it would cover the entries.
        HoverRow(*dlg, RowOfPath(*dlg, newScan));
        EXPECT_TRUE(tip.isVisible());
        bool menuSeen = false, tipShown = true;
        WhenOpen([] { return QApplication::activePopupWidget(); },
                 [&menuSeen, &tipShown, &tip](QWidget* popup) {
                     auto* menu = qobject_cast<QMenu*>(popup);
                     menuSeen = menu && menu->actions().value(0)->text() == Q(kCompareMenuText);
                     tipShown = tip.isVisible();
                     popup->close();
                 });
        // The last menu is gone and the list has the focus back before the key.
        EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 30000));
        dlg->activateWindow();
        dlg->m_resultList->setFocus(Qt::OtherFocusReason);
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg->m_resultList->hasFocus(); }, 30000));
        QTest::keyClick(dlg->m_resultList, key, modifiers);
        EXPECT_TRUE(menuSeen) << key;
        EXPECT_FALSE(tipShown) << key;
    }
    EXPECT_EQ(SelectedPaths(), QStringList{QString::fromStdString(oldSame)});

    // The side-by-side window says which copies have the newest copy's bytes.
    dlg->Previews().OpenCompareWindow(RowOfPath(*dlg, oldScan));
    CompareWindow* compare = dlg->Previews().Compare();
    ASSERT_NE(compare, nullptr);
    // The copies are opened beside the window; the marks follow.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !compare->OpeningCopies(); }, 30000));
    for (int card = 0; card < compare->CardCount(); ++card) {
        const QString text = compare->CardText(card);
        EXPECT_EQ(text.contains(Q(kCompareDifferentText)), compare->CardPath(card) == oldScan) << text.toStdString();
        EXPECT_FALSE(text.contains(Q(kCompareSameText)));
    }
    dlg->Previews().OpenCompareWindow(RowOfPath(*dlg, oldSame));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !compare->OpeningCopies(); }, 30000));
    for (int card = 0; card < compare->CardCount(); ++card)
        EXPECT_EQ(compare->CardText(card).contains(Q(kCompareSameText)), compare->CardPath(card) == oldSame);
    compare->close();

    // Esc during the check: it stops, and nothing changes. The file is
    // touched so that the check reads it again.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {12345, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, oldSame.c_str(), times, 0), 0);
    QItemSelectionModel* selection = dlg->m_resultList->selectionModel();
    selection->select(dlg->m_resultList->model()->index(RowOfPath(*dlg, newScan), 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    // A stopped check does not wait long for its reads: a read that has not
    // seen the stop when the check returns is let go here, and touches
    // nothing of the test's once let go.
    const auto checkReturned = std::make_shared<std::atomic<bool>>(false);
    dlg->Checker().afterRead = [window = dlg.get(), checker = &dlg->Checker(), checkReturned](std::uint64_t) {
        if (checkReturned->load())
            return;
        QCoreApplication::postEvent(window, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        while (!checkReturned->load() && !checker->StopRequested())
            std::this_thread::yield();
    };
    QTest::mouseClick(dlg->m_autoSelectButton, Qt::LeftButton);
    checkReturned->store(true);
    dlg->Checker().afterRead = nullptr;
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(SelectedPaths(), QStringList{QString::fromStdString(newScan)});
    EXPECT_EQ(messenger.shown.size(), 1u);

    // Protecting the old folder from the tree's menu: a lock, and the setting.
    QTreeWidgetItem* top = DesktopChild(BaseName(folder.Path()));
    dlg->m_folderTree->setCurrentItem(top);
    dlg->OnTreeDblClk();
    QTreeWidgetItem* oldItem = nullptr;
    for (int i = 0; i < top->childCount(); ++i)
        oldItem = top->child(i)->text(0) == "old" ? top->child(i) : oldItem;
    ASSERT_NE(oldItem, nullptr);
    dlg->m_folderTree->scrollToItem(oldItem);
    bool protectSeen = false;
    WhenOpen([] { return QApplication::activePopupWidget(); },
             [&protectSeen](QWidget* popup) {
                 auto* menu = qobject_cast<QMenu*>(popup);
                 protectSeen = menu && menu->actions().value(0)->text() == Q(kProtectMenuText);
                 if (protectSeen)
                     menu->actions().value(0)->trigger();
                 popup->close();
             });
    const QPoint treePos = dlg->m_folderTree->visualItemRect(oldItem).center();
    QContextMenuEvent treeMenu(QContextMenuEvent::Mouse, treePos, dlg->m_folderTree->viewport()->mapToGlobal(treePos));
    QApplication::sendEvent(dlg->m_folderTree->viewport(), &treeMenu);
    ASSERT_TRUE(protectSeen);
    EXPECT_FALSE(oldItem->icon(0).isNull());
    {
        QSettings settings(QStringLiteral("snapsift"), QStringLiteral("snapsift"));
        EXPECT_EQ(settings.value(QStringLiteral("protection/folders/1/path")).toByteArray().toStdString(),
                  folder / "old");
    }

    // Auto-select leaves the protected copy; the delete refuses it.
    QTest::mouseClick(dlg->m_autoSelectButton, Qt::LeftButton);
    EXPECT_TRUE(SelectedPaths().isEmpty());
    selection->select(dlg->m_resultList->model()->index(RowOfPath(*dlg, oldSame), 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection->select(dlg->m_resultList->model()->index(RowOfPath(*dlg, newScan), 0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    messenger.shown.clear();
    messenger.answers = {MessageAnswer::Cancel};
    QTest::mouseClick(dlg->m_deleteButton, Qt::LeftButton);
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].text, ProtectedNotMovedText({oldSame}) + "\n" + DeleteConfirmationText({newScan}));
    selection->select(dlg->m_resultList->model()->index(RowOfPath(*dlg, oldSame), 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    messenger.shown.clear();
    QTest::mouseClick(dlg->m_deleteButton, Qt::LeftButton);
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].text, std::string(kOnlyProtectedText) + "\n" + ProtectedNotMovedText({oldSame}));
    EXPECT_EQ(snapsift::testing::ReadFile(oldSame), "the same picture");

    // Remembered for the next start; ended from the same menu entry.
    Open();
    top = DesktopChild(BaseName(folder.Path()));
    dlg->m_folderTree->setCurrentItem(top);
    dlg->OnTreeDblClk();
    for (int i = 0; i < top->childCount(); ++i)
        oldItem = top->child(i)->text(0) == "old" ? top->child(i) : oldItem;
    EXPECT_FALSE(oldItem->icon(0).isNull());
    EXPECT_TRUE(dlg->Protection().IsProtected(folder / "old"));
    dlg->OnToggleProtection(oldItem->data(0, Qt::UserRole).toInt());
    EXPECT_TRUE(oldItem->icon(0).isNull());
    QSettings settings(QStringLiteral("snapsift"), QStringLiteral("snapsift"));
    EXPECT_EQ(settings.value(QStringLiteral("protection/folders/size")).toInt(), 0);
}

FileVersion VersionOf(const std::string& path)
{
    struct stat st { };
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return {IdentityOf(st), static_cast<std::uint64_t>(st.st_size), Nanoseconds(TimeOf(st.st_mtim))};
}

QImage Filled(QSize size, Qt::GlobalColor color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

TEST_F(WindowTest, PreviewsShareTheDesktopsThumbnailCache)
{
    TempDir folder(g_desktop);
    const std::string photo = folder.WriteFile("IMG_0002.JPG", JpegBytes(640, 480));
    const std::string small = folder.WriteFile("small.jpg", JpegBytes(40, 30));
    const std::string cut = folder.WriteFile("cut.jpg", JpegBytes(400, 300).substr(0, 500));
    mkdir(g_trash.c_str(), 0700);
    const ThumbnailCache cache;  // this process has the window's XDG_CACHE_HOME
    // Files in the cache itself or in a trash folder get no thumbnails.
    EXPECT_TRUE(cache.Covers(photo));
    EXPECT_FALSE(cache.Covers(cache.Root() + "/large/" + ThumbnailCache::FileName(photo)));
    EXPECT_FALSE(cache.Covers(g_trash + "/files/IMG_0002.JPG"));
    const std::string large = cache.Root() + "/large/" + ThumbnailCache::FileName(photo);
    const auto openAndSearch = [&] {
        dlg.reset();
        Open();
        Show();
        Search(DesktopChild(BaseName(folder.Path())));
        ASSERT_EQ(dlg->Results().list.GetItemCount(), 3);
    };
    const auto hover = [&](const std::string& path) {
        HoverRow(*dlg, RowOfPath(*dlg, path));
        return dlg->Previews().Loader().Find(path);
    };

    // Decoded, then kept where the file managers look, as GIO reads it.
    openAndSearch();
    const PicturePreview* first = hover(photo);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(first->fromThumbnail);
    EXPECT_EQ(PreviewText(*first), Q("640 × 480 JPEG"));
    // The helper stores it after answering, under a temporary name first.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Exists(large); }, 60000));
    struct stat st { };
    ASSERT_EQ(lstat(large.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    GFile* file = g_file_new_for_path(photo.c_str());
    GFileInfo* info = g_file_query_info(file, "thumbnail::*", G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    ASSERT_NE(info, nullptr);
    const char* gioPath = g_file_info_get_attribute_byte_string(info, G_FILE_ATTRIBUTE_THUMBNAIL_PATH);
    EXPECT_EQ(std::string(gioPath ? gioPath : ""), large);
    EXPECT_TRUE(g_file_info_get_attribute_boolean(info, G_FILE_ATTRIBUTE_THUMBNAIL_IS_VALID));
    g_object_unref(info);
    g_object_unref(file);
    const QImage written(QString::fromStdString(large));
    struct stat photoStat { };
    ASSERT_EQ(stat(photo.c_str(), &photoStat), 0);
    EXPECT_EQ(written.size(), QSize(256, 192));
    EXPECT_EQ(written.text("Thumb::URI").toStdString(), ThumbnailCache::Uri(photo));
    EXPECT_EQ(written.text("Thumb::URI").left(8), Q("file:///"));
    EXPECT_EQ(written.text("Thumb::MTime").toLongLong(), static_cast<long long>(photoStat.st_mtime));
    EXPECT_EQ(written.text("Thumb::Size").toLongLong(), static_cast<long long>(photoStat.st_size));
    // No thumbnail of a picture smaller than one; a failure entry for a cut one.
    hover(small);
    EXPECT_FALSE(Exists(cache.Root() + "/large/" + ThumbnailCache::FileName(small)));
    EXPECT_EQ(dlg->Previews().Tip().m_text->text(), Q("40 × 30 JPEG"));
    hover(cut);
    EXPECT_EQ(dlg->Previews().Tip().m_text->text(), Failed("壊れているか、途中で切れています"));
    EXPECT_TRUE(Exists(cache.Root() + "/fail/snapsift-1.0/" + ThumbnailCache::FileName(cut)));
    EXPECT_EQ(cache.FindFailure(cut, VersionOf(cut)), PreviewFailure::Broken);

    // After a restart the thumbnail is what shows (made green here, to tell).
    ASSERT_TRUE(cache.Store(photo, VersionOf(photo), Filled({256, 192}, Qt::green), {640, 480}, "JPEG"));
    openAndSearch();
    const PicturePreview* again = hover(photo);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->fromThumbnail);
    EXPECT_EQ(PreviewText(*again), Q("640 × 480 JPEG"));
    EXPECT_EQ(dlg->Previews().Tip().m_picture->pixmap().toImage().pixel(128, 96), qRgb(0, 255, 0));
    EXPECT_EQ(hover(cut)->failure, PreviewFailure::Broken);

    // One made from another version of the file (another MTime) is not used,
    // and a fresh one replaces it.
    FileVersion older = VersionOf(photo);
    older.mtimeNs -= 60'000'000'000LL;
    ASSERT_TRUE(cache.Store(photo, older, Filled({256, 192}, Qt::green), {640, 480}, "JPEG"));
    openAndSearch();
    const PicturePreview* fresh = hover(photo);
    ASSERT_NE(fresh, nullptr);
    EXPECT_FALSE(fresh->fromThumbnail);
    const QImage shown = dlg->Previews().Tip().m_picture->pixmap().toImage();
    EXPECT_GT(qRed(shown.pixel(10, 96)), 200);
    EXPECT_GT(qBlue(shown.pixel(245, 96)), 200);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return QImage(QString::fromStdString(large)).text("Thumb::MTime").toLongLong() ==
                   static_cast<long long>(photoStat.st_mtime);
        },
        60000));
}

TEST_F(WindowTest, APictureThatNeverOpensHoldsNeitherTheNextNorTheEnd)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "an open that never returns is made with fanotify, which needs root";
    TempDir folder(g_desktop);
    const std::string stuck = folder.WriteFile("share/stuck.jpg", JpegBytes(40, 30));
    const std::string next = folder.WriteFile("share/next.bmp", BmpBytes(100, 50));
    Open();
    Show();
    dlg->m_checkBmp->setChecked(true);
    Search(DesktopChild(BaseName(folder.Path())));
    ASSERT_EQ(dlg->Results().list.GetItemCount(), 2);

    // As on a share that no longer answers: opening the file waits for an
    // answer that this test never gives, until it closes `fan`.
    const int fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY | O_CLOEXEC);
    if (fan < 0)
        GTEST_SKIP() << "no fanotify here: " << std::strerror(errno);
    ASSERT_EQ(fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, stuck.c_str()), 0);

    PreviewLoader& loader = dlg->Previews().Loader();
    PreviewTip& tip = dlg->Previews().Tip();
    const int row = RowOfPath(*dlg, stuck);
    const QModelIndex index = dlg->m_resultList->model()->index(row, 0);
    const QPoint pos = dlg->m_resultList->visualRect(index).center();
    QHelpEvent help(QEvent::ToolTip, pos, dlg->m_resultList->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(dlg->m_resultList->viewport(), &help);
    // The helper is in the open: its event has come.
    char events[4096];
    ssize_t got = -1;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (got = read(fan, events, sizeof events)) > 0; }, 60000));
    for (auto* event = reinterpret_cast<fanotify_event_metadata*>(events); got > 0 && FAN_EVENT_OK(event, got);
         event = FAN_EVENT_NEXT(event, got)) {
        if (event->fd >= 0)
            close(event->fd);  // the answer stays unsent
    }
    // Its time is up now (the usual limit is 5 s).
    loader.SetTimeLimit(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !loader.Busy(); }, 60000));
    EXPECT_EQ(tip.m_text->text(), Failed("読み込みに時間がかかりすぎます"));
    EXPECT_EQ(loader.RunningHelpers(), 0);

    // The next picture previews; the stuck one is not tried again.
    loader.SetTimeLimit(600000);
    HoverRow(*dlg, RowOfPath(*dlg, next));
    EXPECT_EQ(tip.m_text->text(), Q("100 × 50 BMP"));
    EXPECT_EQ(tip.m_picture->pixmap().size(), QSize(100, 50));
    HoverRow(*dlg, row);
    EXPECT_EQ(tip.m_text->text(), Failed("読み込みに時間がかかりすぎます"));
    EXPECT_EQ(loader.RunningHelpers(), 1);

    // The window ends while the open still waits: nothing waits for it.
    dlg.reset();
    close(fan);
}

// Opening a listed file: by a double-click or by Enter on the current row,
// beside the window, and a message with the reason when it does not open.
TEST_F(WindowTest, OpeningAFileRunsBesideTheWindowAndSaysWhyNot)
{
    struct Case {
        const char* name;
        ShellResult result;
        bool byEnter;
        std::string message;  // empty: none
    };
    TempDir folder(g_desktop);
    const std::string file = folder.WriteFile("pic.jpg", "not really a picture");
    ShellResult none;
    none.noProgram = true;
    none.error = "No application is registered as handling this file";
    ShellResult gone;
    gone.error = "Error when getting information for file: No such file or directory";
    const Case cases[] = {
        {"opened_by_double_click", ShellResult{true, ""}, false, ""},
        {"opened_by_enter", ShellResult{true, ""}, true, ""},
        {"no_program", none, false, FileNotOpenedText(file, true, "")},
        {"no_program_by_enter", none, true, FileNotOpenedText(file, true, "")},
        {"failed", gone, false, FileNotOpenedText(file, false, gone.error)},
    };
    // Outlive every case: a launch thread may still be returning.
    std::mutex mutex;
    std::vector<std::string> launched;
    std::thread::id launchThread;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            const std::lock_guard lock(mutex);
            launched.clear();
        }
        Open({}, nullptr, [&, result = c.result](const std::string& path) {
            const std::lock_guard lock(mutex);
            launched.push_back(path);
            launchThread = std::this_thread::get_id();
            return result;
        });
        Show();
        Search(DesktopChild(BaseName(folder.Path())));
        ASSERT_EQ(Paths(), QStringList{QString::fromStdString(file)});
        const QModelIndex index = dlg->m_resultList->model()->index(0, 0);
        dlg->m_resultList->setFocus();
        dlg->m_resultList->setCurrentIndex(index);
        messenger.shown.clear();
        if (c.byEnter)
            QTest::keyClick(dlg->m_resultList, Qt::Key_Return);
        else
            DoubleClick(dlg->m_resultList->viewport(), dlg->m_resultList->visualRect(index).center());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const std::lock_guard lock(mutex);
                return !launched.empty();
            },
            60000));
        // The report comes from a timer of the window's thread.
        if (!c.message.empty())
            EXPECT_TRUE(QTest::qWaitFor([&] { return !messenger.shown.empty(); }, 60000));
        else
            QTest::qWait(3 * FileOpener::kPollMs);
        {
            const std::lock_guard lock(mutex);
            EXPECT_EQ(launched, std::vector<std::string>{file});
            EXPECT_NE(launchThread, std::this_thread::get_id()) << "opened on the window's thread";
        }
        if (c.message.empty()) {
            EXPECT_TRUE(messenger.shown.empty());
        } else if (!messenger.shown.empty()) {
            EXPECT_EQ(messenger.shown.front().text, c.message);
            EXPECT_EQ(messenger.shown.front().caption, kInformationCaption);
            EXPECT_EQ(messenger.shown.front().icon, MessageIcon::Information);
        }
        EXPECT_TRUE(opened.empty());
        dlg.reset();
    }
}

// An open that never returns (the file's disk does not answer) holds neither
// the window nor later opens beyond the limit, which are refused with the reason.
TEST_F(WindowTest, OpensThatNeverReturnAreBounded)
{
    TempDir folder(g_desktop);
    const std::string file = folder.WriteFile("pic.jpg", "x");
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    int started = 0, finished = 0;
    Open({}, nullptr, [&](const std::string&) {
        std::unique_lock lock(mutex);
        ++started;
        released.wait(lock, [&] { return release; });
        ++finished;
        return ShellResult{true, ""};
    });
    Show();
    Search(DesktopChild(BaseName(folder.Path())));
    ASSERT_EQ(Paths().size(), 1);
    dlg->m_resultList->setFocus();
    dlg->m_resultList->setCurrentIndex(dlg->m_resultList->model()->index(0, 0));
    for (int i = 0; i < FileOpener::kMaxOpens + 1; ++i)
        QTest::keyClick(dlg->m_resultList, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::lock_guard lock(mutex);
            return started == FileOpener::kMaxOpens;
        },
        60000));
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown.front().text, FileOpenBusyText(file));
    {
        const std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::lock_guard lock(mutex);
            return finished == FileOpener::kMaxOpens;
        },
        60000));
    QTest::qWait(3 * FileOpener::kPollMs);
    EXPECT_EQ(messenger.shown.size(), 1u);  // the opens that returned said nothing
    dlg.reset();
}

// Two copies of one small JPEG file, a/pic.jpg and b/pic.jpg.
void WriteTwoCopiesOfOnePicture(const TempDir& folder)
{
    folder.WriteFile("a/pic.jpg", JpegBytes(40, 30));
    folder.WriteFile("b/pic.jpg", JpegBytes(40, 30));
}

// A right-click within the hover delay: the pending preview never comes up
// over the menu.
TEST_F(WindowTest, ARightClickWithinTheHoverDelayKeepsThePreviewAway)
{
    TempDir folder(g_desktop);
    WriteTwoCopiesOfOnePicture(folder);
    Open();
    Show();
    Search(DesktopChild(BaseName(folder.Path())));
    ASSERT_EQ(Paths().size(), 2);
    QWidget* viewport = dlg->m_resultList->viewport();
    const QPoint pos = dlg->m_resultList->visualRect(dlg->m_resultList->model()->index(0, 0)).center();
    QTest::mouseMove(viewport, pos);  // the hover delay starts
    QMouseEvent move(QEvent::MouseMove, pos, viewport->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    PreviewTip& tip = dlg->Previews().Tip();
    bool menuSeen = false, tipShown = false;
    WhenOpen([] { return QApplication::activePopupWidget(); },
             [&](QWidget* popup) {
                 menuSeen = true;
                 // Well past the delay, with the menu open.
                 QTest::qWait(3 * ResultPreviews::kHoverDelayMs);
                 tipShown = tip.isVisible();
                 popup->close();
             });
    QTest::mousePress(viewport, Qt::RightButton, {}, pos);
    QTest::mouseRelease(viewport, Qt::RightButton, {}, pos);
    QContextMenuEvent context(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
    QApplication::sendEvent(viewport, &context);
    EXPECT_TRUE(menuSeen);
    EXPECT_FALSE(tipShown);
    QTest::qWait(2 * ResultPreviews::kHoverDelayMs);
    EXPECT_FALSE(tip.isVisible());
}

// What a screen reader reads and which face the other windows take.
TEST_F(WindowTest, NamesReadOutAndFacesOfTheOtherWindows)
{
    TempDir folder(g_desktop);
    WriteTwoCopiesOfOnePicture(folder);
    Open();
    Show();
    Search(DesktopChild(BaseName(folder.Path())));
    dlg->OnDuplicateChosen(1);
    ASSERT_EQ(dlg->m_duplicateCombo->currentText(), Q("pic.jpg"));
    QAccessibleInterface* combo = QAccessible::queryAccessibleInterface(dlg->m_duplicateCombo);
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->text(QAccessible::Name), Q(kDuplicateComboNameText));
    EXPECT_EQ(combo->text(QAccessible::Value), Q("pic.jpg"));
    EXPECT_EQ(combo->role(), QAccessible::ComboBox);
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(dlg->m_folderTree);
    ASSERT_NE(tree, nullptr);
    ASSERT_NE(tree->tableInterface(), nullptr);
    EXPECT_EQ(tree->tableInterface()->columnDescription(0), Q(kFolderTreeNameText));

    const QString face = QFontInfo(dlg->font()).family();
    QMessageBox box(dlg.get());
    EXPECT_EQ(QFontInfo(box.font()).family(), face);
    EXPECT_EQ(QFontInfo(dlg->Previews().Tip().font()).family(), face);
    dlg->Previews().OpenCompareWindow(0);
    ASSERT_NE(dlg->Previews().Compare(), nullptr);
    EXPECT_EQ(QFontInfo(dlg->Previews().Compare()->font()).family(), face);
    dlg->Previews().Compare()->close();
}

// A remembered place fits the screen again, wherever and however large it was.
TEST_F(WindowTest, RememberedPlacesAreFittedOntoTheScreen)
{
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    struct Case {
        const char* name;
        QRect area;
        QRect fitted;
    };
    const Case cases[] = {
        {"inside", {room.left() + 10, room.top() + 10, 200, 100}, {room.left() + 10, room.top() + 10, 200, 100}},
        {"over_the_right_and_bottom",
         {room.right() - 50, room.bottom() - 20, 200, 100},
         {room.right() + 1 - 200, room.bottom() + 1 - 100, 200, 100}},
        {"larger_than_the_screen",
         {room.left() + 5, room.top() + 5, room.width() * 3 / 2, room.height() * 3 / 2},
         room},
        {"above_and_left", {room.left() - 300, room.top() - 50, 200, 100}, {room.left(), room.top(), 200, 100}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FitOnAScreen(c.area), c.fitted) << c.name;

    // Remembered at a smaller scale: its right part would be off the screen.
    {
        QSettings settings(QStringLiteral("snapsift"), QStringLiteral("snapsift"));
        settings.beginGroup(QStringLiteral("window"));
        settings.setValue(QStringLiteral("position"), QPoint(room.right() - 100, room.top() + 10));
        settings.setValue(QStringLiteral("size"), room.size() * 2 / 3);
    }
    Open();
    const QRect placed(dlg->pos(), dlg->size());
    EXPECT_TRUE(room.contains(placed)) << placed.x() << "," << placed.y() << " " << placed.width() << "x"
                                       << placed.height();
}

// At a fractional scale a framed control's inside begins and ends on whole
// screen pixels, so that its contents do not cover the frame's right and
// bottom lines; at whole scales nothing moves.
TEST(FramedControls, InsideAlignsToWholePixels)
{
    struct Case {
        double scale;
        QRect area;
        int frame;
    };
    const Case cases[] = {{1.0, {222, 90, 386, 126}, 1}, {2.0, {223, 91, 385, 125}, 1}, {1.5, {222, 90, 386, 126}, 1},
                          {1.5, {223, 91, 385, 125}, 1}, {1.25, {111, 45, 193, 63}, 2}, {1.75, {-7, 3, 50, 41}, 1}};
    for (const Case& c : cases) {
        const QRect fitted = AlignInsideToPixels(c.area, c.frame, c.scale);
        SCOPED_TRACE(c.scale);
        if (c.scale == std::round(c.scale)) {
            EXPECT_EQ(fitted, c.area);
            continue;
        }
        EXPECT_TRUE(c.area.contains(fitted));
        EXPECT_LT(fitted.left() - c.area.left(), 4);
        EXPECT_LT(c.area.right() - fitted.right(), 4);
        EXPECT_LT(c.area.bottom() - fitted.bottom(), 4);
        for (const int edge : {fitted.left() + c.frame, fitted.left() + fitted.width() - c.frame,
                               fitted.top() + c.frame, fitted.top() + fitted.height() - c.frame}) {
            const double device = edge * c.scale;
            EXPECT_DOUBLE_EQ(device, std::round(device)) << edge;
        }
    }
}

TEST_F(WindowTest, CancelledDeletionKeepsTheListAsItWas)
{
    TempDir many(g_desktop);
    for (int i = 10; i < 40; ++i) {
        many.MakeFile("a/f" + std::to_string(i) + ".jpg");
        many.MakeFile("b/f" + std::to_string(i) + ".jpg");
    }
    Open();
    Show();
    Search(DesktopChild(BaseName(many.Path())));
    ASSERT_EQ(Names().size(), 60);
    const QAbstractItemModel* model = dlg->m_resultList->model();
    QItemSelectionModel* selection = dlg->m_resultList->selectionModel();
    selection->select(QItemSelection(model->index(40, 0), model->index(42, 3)), QItemSelectionModel::ClearAndSelect);
    selection->setCurrentIndex(model->index(41, 0), QItemSelectionModel::NoUpdate);
    QScrollBar* scroll = dlg->m_resultList->verticalScrollBar();
    scroll->setValue(scroll->maximum());
    ASSERT_GT(scroll->value(), 0);
    dlg->m_resultList->setFocus();
    const QStringList selected = SelectedPaths();
    ASSERT_EQ(selected.size(), 3);
    const int scrolled = scroll->value();

    messenger.answers = {MessageAnswer::Cancel};
    dlg->m_deleteButton->click();
    QCoreApplication::processEvents();
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(Names().size(), 60);
    EXPECT_EQ(SelectedPaths(), selected);
    EXPECT_EQ(selection->currentIndex().row(), 41);
    EXPECT_EQ(scroll->value(), scrolled);
    EXPECT_EQ(QApplication::focusWidget(), dlg->m_resultList);
    for (const QString& path : selected)
        EXPECT_TRUE(Exists(path.toStdString()));
}

TEST_F(WindowTest, InputGivenDuringASearchIsThrownAway)
{
    TempDir twice(g_desktop);
    twice.MakeFile("a/same.jpg");
    twice.MakeFile("b/same.jpg");
    Open();
    Show();
    QTreeWidgetItem* target = DesktopChild(BaseName(twice.Path()));
    ASSERT_NE(target, nullptr);
    PaintCounter barPaints;
    dlg->m_progress->installEventFilter(&barPaints);

    // The first time the search lets events through: a click on a check box
    // and a key in the tree, delivered at once.
    int paintsAtStart = -1;
    bool searchRunning = false;
    QTimer::singleShot(0, [&] {
        searchRunning = dlg->m_folderTree->currentItem() == target && !dlg->m_autoSelectButton->isEnabled();
        paintsAtStart = barPaints.paints;
        dlg->m_progress->update();  // to be painted before the search ends
        QTest::mouseClick(dlg->m_checkBmp, Qt::LeftButton);
        QTest::keyClick(dlg->m_folderTree, Qt::Key_Up);
    });
    // As the search ends and enables the buttons: a click on auto-select and
    // Space on delete, still waiting in the queue when the search is done.
    int paintsAtEnd = -1;
    OnEnabled autoSelectEnabled(dlg->m_autoSelectButton, [&] {
        paintsAtEnd = barPaints.paints;
        PostClick(dlg->m_autoSelectButton);
        PostKey(dlg->m_deleteButton, Qt::Key_Space);
    });
    int commandsRun = 0;
    for (QPushButton* button : {dlg->m_autoSelectButton, dlg->m_deleteButton})
        QObject::connect(button, &QPushButton::clicked, [&commandsRun] { ++commandsRun; });
    Search(target);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    ASSERT_TRUE(searchRunning);
    ASSERT_GE(paintsAtStart, 0);
    ASSERT_GE(paintsAtEnd, 0);
    EXPECT_GT(paintsAtEnd, paintsAtStart) << "the bar paints while the search runs";
    EXPECT_EQ(Names(), (QStringList{"same.jpg", "same.jpg"}));
    EXPECT_FALSE(dlg->m_checkBmp->isChecked());
    EXPECT_EQ(dlg->m_folderTree->currentItem(), target);
    EXPECT_EQ(commandsRun, 0);
    EXPECT_TRUE(messenger.shown.empty());
    EXPECT_TRUE(Exists(twice.Path() + "/a/same.jpg"));

    // Afterwards the window takes input again.
    QTest::mouseClick(dlg->m_checkBmp, Qt::LeftButton);
    EXPECT_TRUE(dlg->m_checkBmp->isChecked());
}

// Holds every thread that comes to it until it ends. The first to come posts
// `request` to the window's thread (as input is made there), so that the
// request reaches the window while that thread is held.
class HeldGate final {
public:
    explicit HeldGate(std::function<void()> request) : state_(std::make_shared<State>())
    {
        state_->request = std::move(request);
    }
    ~HeldGate()
    {
        const std::lock_guard lock(state_->mutex);
        state_->release = true;
        state_->released.notify_all();
    }
    HeldGate(const HeldGate&) = delete;
    HeldGate& operator=(const HeldGate&) = delete;

    // What a held thread runs; it returns once the gate has ended.
    std::function<void()> Hold() const
    {
        return [state = state_] {
            std::unique_lock lock(state->mutex);
            if (!state->posted) {
                state->posted = true;
                QMetaObject::invokeMethod(qApp, state->request, Qt::QueuedConnection);
            }
            ++state->holding;
            state->released.wait(lock, [&] { return state->release; });
            --state->holding;
        };
    }
    // Threads held at this moment.
    int Holding() const
    {
        const std::lock_guard lock(state_->mutex);
        return state_->holding;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable released;
        std::function<void()> request;
        bool posted = false;
        bool release = false;
        int holding = 0;
    };
    std::shared_ptr<State> state_;
};

// Holds the search's first listing below its target until released, after
// posting `request` to the window: the request comes while the search is
// under way, and the listing is still unfinished when the window answers it.
class HeldListing final {
public:
    explicit HeldListing(std::function<void()> request) : gate_(std::move(request))
    {
        ScanHooks hooks;
        hooks.beforeOpening = [hold = gate_.Hold()](const std::string&) { hold(); };
        SetScanHooks(std::move(hooks));
    }
    ~HeldListing() { SetScanHooks({}); }
    HeldListing(const HeldListing&) = delete;
    HeldListing& operator=(const HeldListing&) = delete;

    // Listings held at this moment.
    int Holding() const { return gate_.Holding(); }

private:
    HeldGate gate_;
};

const StopRequest kSearchRequests[] = {
    {"escape", [](CSnapsiftDlg& dlg) { PostKey(&dlg, Qt::Key_Escape); }, false},
    {"quit_button", [](CSnapsiftDlg& dlg) { PostClick(dlg.m_quitButton); }, true},
    {"quit_button_from_the_window_system", [](CSnapsiftDlg& dlg) { PostSurfaceClick(dlg.m_quitButton); }, true},
    // Pressed beside the button and released over it: no click, thrown away.
    {"release_alone_over_quit",
     [](CSnapsiftDlg& dlg) {
         QWidget* top = dlg.window();
         const QPointF beside = QPointF(dlg.m_searchButton->mapTo(top, dlg.m_searchButton->rect().center()));
         const QPointF over = QPointF(dlg.m_quitButton->mapTo(top, dlg.m_quitButton->rect().center()));
         QCoreApplication::postEvent(top->windowHandle(),
                                     new QMouseEvent(QEvent::MouseButtonPress, beside, beside, top->mapToGlobal(beside),
                                                     Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
         QCoreApplication::postEvent(top->windowHandle(),
                                     new QMouseEvent(QEvent::MouseButtonRelease, over, over, top->mapToGlobal(over),
                                                     Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
         PostKey(&dlg, Qt::Key_Escape);
     },
     false},
    {"quit_button_by_key", [](CSnapsiftDlg& dlg) { PostKey(dlg.m_quitButton, Qt::Key_Space); }, true},
    {"close_box", [](CSnapsiftDlg& dlg) { QCoreApplication::postEvent(&dlg, new QCloseEvent); }, true},
};

class SearchRequestTest : public WindowTest, public ::testing::WithParamInterface<StopRequest> {
protected:
    // A target with a file of its own and two subfolders with more.
    void SearchHeld(const TempDir& tree)
    {
        tree.MakeFile("keep.jpg");
        tree.MakeFile("a/x.jpg");
        tree.MakeFile("b/deep/y.jpg");
        Open();
        Show();
        QTreeWidgetItem* target = DesktopChild(BaseName(tree.Path()));
        ASSERT_NE(target, nullptr);
        Search(target);
    }
};

// Esc stops the search at once, whatever listing is unfinished: the list
// shows what was found so far and one message says it is incomplete. 終了
// and the close box close the window at once, mid-search too; the program
// then ends (see the test below). Other input stays thrown away.
TEST_P(SearchRequestTest, ComesThroughWhileAListingIsUnfinished)
{
    TempDir tree(g_desktop);
    const HeldListing held([this] { GetParam().post(*dlg); });
    SearchHeld(tree);
    EXPECT_GE(held.Holding(), 1) << "the search waited for the unfinished listing";
    if (GetParam().endsProgram) {
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
        EXPECT_TRUE(messenger.shown.empty());
        return;
    }
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Names(), QStringList{"keep.jpg"});
    ASSERT_EQ(messenger.shown.size(), 1u);
    EXPECT_EQ(messenger.shown[0].text, kSearchStoppedText);
    EXPECT_EQ(messenger.shown[0].caption, kInformationCaption);
    EXPECT_TRUE(dlg->m_clearButton->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Requests, SearchRequestTest, ::testing::ValuesIn(kSearchRequests),
                         [](const ::testing::TestParamInfo<StopRequest>& info) { return info.param.name; });

// A content check whose read does not return until the test ends.
class HeldRead final {
public:
    explicit HeldRead(ContentChecker& checker, std::function<void()> request) : gate_(std::move(request))
    {
        checker.afterRead = [hold = gate_.Hold()](std::uint64_t) { hold(); };
    }
    int Holding() const { return gate_.Holding(); }

private:
    HeldGate gate_;
};

class HeldContentCheckTest : public WindowTest, public ::testing::WithParamInterface<StopRequest> { };

// Esc, 終了 and the close box come through while the content check waits on
// a read that does not return: the check is given up on, nothing is
// selected, and no message follows. The held read goes on alone.
TEST_P(HeldContentCheckTest, ComesThroughWhileAReadIsUnfinished)
{
    TempDir folder(g_desktop);
    ASSERT_NO_FATAL_FAILURE(SearchOlderAndNewerCopy(folder));
    if (!RowsHaveTheirOwnBirthTimes())
        GTEST_SKIP() << "this file system keeps no birth time";
    const HeldRead held(dlg->Checker(), [this] { GetParam().post(*dlg); });
    QTest::mouseClick(dlg->m_autoSelectButton, Qt::LeftButton);
    EXPECT_EQ(held.Holding(), 1) << "the check returned while its read was held";
    EXPECT_TRUE(SelectedPaths().isEmpty());
    EXPECT_TRUE(messenger.shown.empty());
    EXPECT_EQ(dlg->isVisible(), !GetParam().endsProgram);
    if (GetParam().endsProgram) {
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
    }
}

// While the content check's first read does not return, the bar shows that
// work goes on (Qt's busy bar), not an empty one; once stopped, it is an
// ordinary bar again.
TEST_F(WindowTest, ContentCheckBarIsBusyWhileItsFirstReadHangs)
{
    TempDir folder(g_desktop);
    ASSERT_NO_FATAL_FAILURE(SearchOlderAndNewerCopy(folder));
    if (!RowsHaveTheirOwnBirthTimes())
        GTEST_SKIP() << "this file system keeps no birth time";
    bool busyWhileHeld = false;
    // Taken on the window's thread, which has shown the bar before it takes this.
    const HeldRead held(dlg->Checker(), [this, &busyWhileHeld] {
        busyWhileHeld = dlg->m_progress->minimum() == 0 && dlg->m_progress->maximum() == 0;
        PostKey(dlg.get(), Qt::Key_Escape);
    });
    QTest::mouseClick(dlg->m_autoSelectButton, Qt::LeftButton);
    EXPECT_TRUE(busyWhileHeld);
    EXPECT_LT(dlg->m_progress->minimum(), dlg->m_progress->maximum());
}

INSTANTIATE_TEST_SUITE_P(Requests, HeldContentCheckTest, ::testing::ValuesIn(kStopRequests),
                         [](const ::testing::TestParamInfo<StopRequest>& info) { return info.param.name; });

// Holds the deletion's second move beside the window until the window's
// thread has taken a request posted meanwhile: the window answers while a
// file is in hand.
class HeldMove final {
public:
    explicit HeldMove(std::function<void()> request) : state_(std::make_shared<State>())
    {
        hooks.beforeMove = [state = state_, request = std::move(request)](const std::string&) {
            std::unique_lock lock(state->mutex);
            if (++state->moves != 2)
                return;
            QMetaObject::invokeMethod(
                qApp,
                [state, request] {
                    request();
                    // Posted after the request: it runs once the request has been taken.
                    QMetaObject::invokeMethod(
                        qApp,
                        [state] {
                            const std::lock_guard inner(state->mutex);
                            state->release = true;
                            state->released.notify_all();
                        },
                        Qt::QueuedConnection);
                },
                Qt::QueuedConnection);
            state->answered = state->released.wait_for(lock, std::chrono::seconds(60), [&] { return state->release; });
        };
    }
    bool Answered() const
    {
        const std::lock_guard lock(state_->mutex);
        return state_->answered;
    }
    TrashHooks hooks;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable released;
        int moves = 0;
        bool release = false;
        bool answered = false;
    };
    std::shared_ptr<State> state_;
};

class HeldDeletionTest : public WindowTest, public ::testing::WithParamInterface<StopRequest> { };

// The deletion runs beside the window. 終了 and the close box, taken while
// the second of three files is in hand, let that file and the record finish:
// two files in the trash, a block and a finished record naming just them,
// the third file in its place, and no message after the question. Esc is
// thrown away: the deletion goes on to its end and says nothing more.
TEST_P(HeldDeletionTest, FinishesTheFileInHandAndItsRecord)
{
    TempDir folder(g_desktop);
    std::vector<std::string> files;
    for (const char* sub : {"a", "b", "c", "d", "e"})
        files.push_back(folder.MakeFile(std::string(sub) + "/dup.jpg", 7));
    unlink(g_logPath.c_str());
    const HeldMove held([this] { GetParam().post(*dlg); });
    deletionHooks = held.hooks;
    Open();
    Show();
    Search(DesktopChild(BaseName(folder.Path())));
    ASSERT_EQ(dlg->Results().list.GetItemCount(), 5);
    const ResultView& view = dlg->Results();
    std::vector<std::string> chosen;
    for (int j = 0; j < 3; ++j)
        chosen.push_back(view.table.Path(view.list.TableRow(j)));
    dlg->m_resultList->selectionModel()->select(
        QItemSelection(dlg->m_resultList->model()->index(0, 0), dlg->m_resultList->model()->index(2, 3)),
        QItemSelectionModel::ClearAndSelect);
    messenger.shown.clear();
    messenger.answers = {};
    QTest::mouseClick(dlg->m_deleteButton, Qt::LeftButton);
    EXPECT_TRUE(held.Answered()) << "the window did not answer while a file was in hand";

    const bool quit = GetParam().endsProgram;
    ASSERT_EQ(messenger.shown.size(), 1u);  // the question alone
    EXPECT_EQ(messenger.shown[0].text, DeleteConfirmationText(chosen));
    EXPECT_EQ(dlg->isVisible(), !quit);
    const std::size_t moved = quit ? 2 : 3;
    for (std::size_t i = 0; i < chosen.size(); ++i)
        EXPECT_EQ(Exists(chosen[i]), i >= moved) << chosen[i];
    LoggedDeletion block;
    ASSERT_EQ(ReadLastDeletion(g_logPath, block), LogReadOutcome::Read);
    EXPECT_EQ(block.paths, std::vector<std::string>(chosen.begin(), chosen.begin() + static_cast<long>(moved)));
    const std::optional<DeletionRecord> record = RecordOfBlock(RecordsFolder(), g_logPath, block);
    ASSERT_TRUE(record.has_value());
    EXPECT_TRUE(record->complete);
    ASSERT_EQ(record->files.size(), moved);
    for (const TrashedFile& file : record->files)
        EXPECT_EQ(StateOf(file), TrashedState::InTrash) << file.path;
    EXPECT_EQ(dlg->CanRestoreLast(), !quit);
    if (quit) {
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
    } else {
        EXPECT_EQ(dlg->Results().table.RowCount(), 2);  // the rows of the two left
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, HeldDeletionTest, ::testing::ValuesIn(kStopRequests),
                         [](const ::testing::TestParamInfo<StopRequest>& info) { return info.param.name; });

// 終了 mid-search ends the process, with a listing that never finishes.
TEST_F(WindowTest, QuitMidSearchEndsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            TempDir tree(g_desktop);
            tree.MakeFile("a/x.jpg");
            const HeldListing held([this] { PostClick(dlg->m_quitButton); });
            Open();
            Show();
            Search(DesktopChild(BaseName(tree.Path())));
            if (!dlg->isVisible())
                EndProgram(0);
            std::_Exit(1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(WindowTest, ControlsWithoutTextHaveAccessibleNames)
{
    Open();
    Show();
    for (QWidget* widget : dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!widget->isVisible() || qobject_cast<QGroupBox*>(widget))
            continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(accessible, nullptr) << widget->metaObject()->className();
        EXPECT_FALSE(accessible->text(QAccessible::Name).isEmpty()) << widget->metaObject()->className();
    }
    QAccessibleInterface* version = QAccessible::queryAccessibleInterface(dlg->m_versionButton);
    EXPECT_TRUE(version->text(QAccessible::Name).contains(Q("バージョン情報")));
}

class WindowFontTest : public WindowTest, public ::testing::WithParamInterface<const char*> {
protected:
    // Each visible control with its place in the layout, in dialog units.
    std::vector<std::pair<QWidget*, QRect>> LayoutRects() const
    {
        return {{dlg->m_versionButton, {238, 34, 65, 8}},    {dlg->m_folderTree, {10, 15, 90, 89}},
                {dlg->m_checkJpeg, {10, 106, 63, 8}},        {dlg->m_checkBmp, {10, 115, 77, 10}},
                {dlg->m_checkGif, {10, 126, 60, 8}},         {dlg->m_checkOther, {10, 136, 53, 8}},
                {dlg->m_otherExt, {71, 134, 30, 12}},        {dlg->m_searchButton, {144, 5, 76, 13}},
                {dlg->m_duplicateCombo, {111, 30, 120, 12}}, {dlg->m_autoSelectButton, {126, 112, 74, 13}},
                {dlg->m_resultList, {111, 45, 193, 63}},     {dlg->m_deleteButton, {214, 112, 74, 13}},
                {dlg->m_quitButton, {267, 5, 42, 13}},       {dlg->m_clearButton, {224, 5, 35, 13}},
                {dlg->m_progress, {127, 137, 160, 8}}};
    }

    // The window as it opens with nothing remembered: the layout's own size
    // and places, the columns as made.
    void ExpectFirstStartLayout() const
    {
        const DialogUnits du(dlg->font());
        EXPECT_EQ(dlg->size(), QSize(du.X(315), du.Y(155)));
        EXPECT_FALSE(dlg->isMaximized());
        for (const auto& [widget, rect] : LayoutRects())
            EXPECT_EQ(widget->geometry(), du.Rect(rect.x(), rect.y(), rect.width(), rect.height()))
                << widget->metaObject()->className() << " " << widget->accessibleName().toStdString();
        ExpectColumnWidths();
    }

    // Visible controls whose areas overlap, by class name.
    std::vector<std::string> Overlaps() const
    {
        std::vector<QWidget*> shown;
        for (QWidget* w : dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w->isVisible() && !qobject_cast<QGroupBox*>(w))
                shown.push_back(w);
        }
        std::vector<std::string> overlaps;
        for (std::size_t i = 0; i < shown.size(); ++i) {
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                if (shown[i]->geometry().intersects(shown[j]->geometry()))
                    overlaps.push_back(std::string(shown[i]->metaObject()->className()) + "/" +
                                       shown[j]->metaObject()->className());
            }
        }
        return overlaps;
    }
};

// The window, its message boxes, the About box and the side-by-side window
// with each Japanese font that Debian ships (the IPA face also without the
// system's font rules, in a run of its own).
TEST_P(WindowFontTest, EveryTextIsWholeAtEverySize)
{
    const QString family = Q(GetParam());
    ASSERT_TRUE(QFontDatabase::families().contains(family)) << GetParam() << " is not installed";
    TempDir folder(g_desktop);
    const std::string big = folder.MakeFile("a/IMG_0001.JPG", 2147483647);  // sparse
    folder.MakeFile("b/IMG_0001.JPG", 1);
    const std::string lf = folder.MakeFile("c/line\nfeed.jpg");
    folder.MakeFile("d/line\nfeed.jpg");
    Open(family);
    Show();
    EXPECT_EQ(QFontInfo(dlg->font()).family(), family);
    ExpectFirstStartLayout();
    EXPECT_EQ(CutTexts(dlg.get()), std::vector<std::string>{});
    {
        CAboutDlg about([] {}, dlg.get());
        about.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
        EXPECT_EQ(CutTexts(&about), std::vector<std::string>{});
    }

    // The largest size that fits a signed 32-bit count shows whole, and a
    // name with a line feed shows on one line with a mark for it.
    Search(DesktopChild(BaseName(folder.Path())));
    ASSERT_EQ(Names().size(), 4);
    const int bigRow = RowOfPath(*dlg, big), lfRow = RowOfPath(*dlg, lf);
    ASSERT_GE(bigRow, 0);
    ASSERT_GE(lfRow, 0);
    EXPECT_EQ(Column(1).at(bigRow), Q("2147483647byte"));
    EXPECT_TRUE(CellWhole(bigRow, 1));
    ExpectColumnWidths();
    EXPECT_EQ(Names().at(lfRow), Q("line␊feed.jpg"));
    EXPECT_EQ(Paths().at(lfRow), QString::fromStdString(folder / "c/line␊feed.jpg"));
    EXPECT_TRUE(ComboEntries().contains(Q("line␊feed.jpg"))) << ComboEntries().join('|').toStdString();

    // Tabbing into the list frames its first row and selects nothing.
    ASSERT_FALSE(dlg->m_resultList->currentIndex().isValid());
    dlg->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get(), 60000));
    dlg->m_resultList->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(dlg->m_resultList->currentIndex().row(), 0);
    EXPECT_TRUE(SelectedPaths().isEmpty());

    // Larger: the list grows both ways, the tree downwards, the rest keeps
    // its distance to the nearest edges, and nothing overlaps.
    const QSize base = dlg->BaseSize();
    std::map<QWidget*, QRect> before;
    for (const auto& [widget, rect] : LayoutRects())
        before[widget] = widget->geometry();
    dlg->resize(1200, 800);
    QCoreApplication::processEvents();
    ASSERT_EQ(dlg->size(), QSize(1200, 800));
    const QPoint grown(1200 - base.width(), 800 - base.height());
    EXPECT_EQ(dlg->m_resultList->geometry(), before[dlg->m_resultList].adjusted(0, 0, grown.x(), grown.y()));
    EXPECT_EQ(dlg->m_folderTree->geometry(), before[dlg->m_folderTree].adjusted(0, 0, 0, grown.y()));
    for (QWidget* right : Widgets{dlg->m_searchButton, dlg->m_clearButton, dlg->m_quitButton, dlg->m_versionButton})
        EXPECT_EQ(right->geometry(), before[right].translated(grown.x(), 0));
    for (QWidget* corner : Widgets{dlg->m_autoSelectButton, dlg->m_deleteButton})
        EXPECT_EQ(corner->geometry(), before[corner].translated(grown));
    for (QWidget* bottom :
         Widgets{dlg->m_checkJpeg, dlg->m_checkBmp, dlg->m_checkGif, dlg->m_checkOther, dlg->m_otherExt})
        EXPECT_EQ(bottom->geometry(), before[bottom].translated(0, grown.y()));
    EXPECT_EQ(dlg->m_duplicateCombo->geometry(), before[dlg->m_duplicateCombo]);
    EXPECT_EQ(Overlaps(), std::vector<std::string>{});
    EXPECT_EQ(CutTexts(dlg.get()), std::vector<std::string>{});
    for (const auto& [widget, rect] : LayoutRects())
        EXPECT_TRUE(dlg->rect().contains(widget->geometry())) << widget->metaObject()->className();
    // Smaller than the layout is refused.
    dlg->resize(base.width() - 50, base.height() - 50);
    EXPECT_EQ(dlg->size(), base);

    // The 確認 box and the undo question: every line as written, none broken
    // inside, the name with its mark.
    // A path wider than any box breaks at its slashes, however long the
    // temporary folder's own path is.
    std::string wide = folder.Path();
    for (int part = 0; part < 6; ++part)
        wide += "/" + std::string(60, static_cast<char>('a' + part));
    wide += "/IMG_0001.JPG";
    QtMessenger boxes(dlg.get());
    for (const std::string& text : {DeleteConfirmationText({big, lf}), DeleteConfirmationText({wide}),
                                    RestoreQuestionText(3), std::string(kNeedOtherExtensionText),
                                    NotMovedMessageText({NotMoved{lf, NotMovedReason::Gone, {}, {}, {}}})}) {
        QStringList lines;
        int labelWidth = 0;
        QFontMetrics metrics(dlg->font());
        WhenModalOpens([&](QWidget* modal) {
            auto* label = modal->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            if (label) {
                lines = label->text().split(QLatin1Char('\n'));
                labelWidth = label->contentsRect().width();
                metrics = label->fontMetrics();
            }
            modal->close();
        });
        boxes.Show({text, kConfirmCaption, MessageButtons::OkCancel, MessageIcon::None});
        ASSERT_FALSE(lines.isEmpty()) << text;
        for (const QString& line : lines)
            EXPECT_LE(metrics.horizontalAdvance(line), labelWidth) << line.toStdString();
        const QString joined = lines.join(QLatin1Char('|'));
        EXPECT_FALSE(joined.contains(Q("line|feed"))) << joined.toStdString();
        if (text.find("よろしいですか") != std::string::npos) {
            EXPECT_TRUE(joined.contains(Q("よろしいですか？"))) << joined.toStdString();
        }
    }
    EXPECT_EQ(DeleteConfirmationText({lf}), folder / "c/line␊feed.jpg\nをごみ箱に移動してよろしいですか？");

    // The side-by-side window: on the main window's screen, no scroll bar
    // across while the cards fit, no card cut, closed by Esc.
    dlg->resize(base);
    dlg->Previews().OpenCompareWindow(bigRow);
    CompareWindow* compare = dlg->Previews().Compare();
    ASSERT_NE(compare, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(compare));
    ASSERT_EQ(compare->CardCount(), 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg->Previews().Loader().Busy(); }, 30000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg->screen()->availableGeometry().contains(compare->frameGeometry()));
    auto* scroll = compare->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible())
        << compare->width() << "x" << compare->height() << " row " << scroll->widget()->sizeHint().width() << "x"
        << scroll->widget()->sizeHint().height() << " viewport " << scroll->viewport()->width() << "x"
        << scroll->viewport()->height() << " v " << scroll->verticalScrollBar()->isVisible();
    for (int card = 0; card < compare->CardCount(); ++card) {
        QWidget* frame = compare->CardPicture(card)->parentWidget();
        const QRect inView(frame->mapTo(scroll->viewport(), QPoint()), frame->size());
        EXPECT_TRUE(scroll->viewport()->rect().contains(inView)) << card;
    }
    QTest::keyClick(compare, Qt::Key_Escape);
    EXPECT_FALSE(compare->isVisible());
}

// What the window remembers: size, place, maximised state and column widths;
// a place on no screen is not taken; without the file it starts as the first time.
TEST_P(WindowFontTest, SizePlaceAndColumnsAreRemembered)
{
    const QString family = Q(GetParam());
    Open(family);
    Show();
    const QSize base = dlg->BaseSize();
    const QSize larger = base + QSize(40, 30);
    dlg->resize(larger);
    dlg->move(12, 20);
    dlg->m_resultList->header()->resizeSection(0, 150);
    dlg->m_resultList->header()->resizeSection(3, 250);
    const int sizeWidth = dlg->m_resultList->header()->sectionSize(1);
    QTest::keyClick(dlg->m_folderTree, Qt::Key_Escape);
    ASSERT_FALSE(dlg->isVisible());

    Open(family);
    Show();
    EXPECT_EQ(dlg->size(), larger);
    EXPECT_EQ(dlg->pos(), QPoint(12, 20));
    EXPECT_FALSE(dlg->isMaximized());
    EXPECT_EQ(dlg->m_resultList->header()->sectionSize(0), 150);
    EXPECT_EQ(dlg->m_resultList->header()->sectionSize(1), sizeWidth);
    EXPECT_EQ(dlg->m_resultList->header()->sectionSize(3), 250);
    dlg->showMaximized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(dlg->isMaximized());
    dlg->reject();

    Open(family);
    Show();
    EXPECT_TRUE(dlg->isMaximized());
    dlg->showNormal();
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->size(), larger);
    dlg->reject();

    // A place beyond every screen: the window opens where a first start puts it.
    QSettings(QStringLiteral("snapsift"), QStringLiteral("snapsift"))
        .setValue(QStringLiteral("window/position"), QPoint(5000, 5000));
    Open(family);
    Show();
    EXPECT_TRUE(dlg->screen()->availableGeometry().contains(dlg->pos()));
    EXPECT_EQ(dlg->size(), larger);
    const QPoint centred = dlg->pos();
    EXPECT_NE(centred, QPoint(5000, 5000));
    dlg.reset();
    // A size without a place, as a hand-edited file may have: the same.
    QSettings(QStringLiteral("snapsift"), QStringLiteral("snapsift")).remove(QStringLiteral("window/position"));
    Open(family);
    Show();
    EXPECT_EQ(dlg->pos(), centred);
    EXPECT_EQ(dlg->size(), larger);
    dlg.reset();

    ForgetWindow();
    Open(family);
    Show();
    ExpectFirstStartLayout();
}

INSTANTIATE_TEST_SUITE_P(DebianJapaneseFonts, WindowFontTest, ::testing::Values("Noto Sans CJK JP", "IPAPGothic"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index == 0 ? "Noto" : "IPA");
                         });

// The columns that tell copies apart: the name column fits the names shown
// (within two fifths of the list), the path column takes what the window
// grows by, and a width the user sets stays theirs, also in the next run.
TEST_F(WindowTest, NameColumnFitsThePathColumnGrowsAndTheUsersWidthStays)
{
    TempDir folder(g_desktop);
    const std::string camera = "IMG_20240815_123456_HDR.jpg";
    for (const char* copy : {"2023/DCIM/100CANON/", "backup/DCIM/100CANON/"}) {
        folder.MakeFile(std::string(copy) + camera, 1);
        folder.MakeFile(std::string(copy) + "a.jpg", 1);
    }
    folder.MakeFile(std::string(200, 'n') + ".jpg", 1);
    Open();
    Show();
    QHeaderView* header = dlg->m_resultList->header();
    EXPECT_EQ(header->sectionSize(0), 100);
    EXPECT_EQ(header->sectionSize(3), 400);
    auto bound = [this] {
        return std::max(100, std::min(dlg->m_resultList->viewport()->width() * 2 / 5, DialogUnits(dlg->font()).X(160)));
    };
    auto nameRow = [this](const std::string& name) { return static_cast<int>(Names().indexOf(Q(name.c_str()))); };

    Search(DesktopChild(BaseName(folder.Path())));
    ASSERT_EQ(Names().size(), 5);
    // The longest name is held to the bound; at the base size the camera
    // name may be too.
    EXPECT_EQ(header->sectionSize(0), bound());
    EXPECT_FALSE(CellWhole(nameRow(std::string(200, 'n') + ".jpg"), 0));

    // A wider window: the path column takes the width (the columns fill the
    // list), the camera name shows whole, the longest name is still held to
    // the bound.
    const int pathBefore = header->sectionSize(3);
    dlg->resize(dlg->BaseSize() + QSize(700, 0));
    QCoreApplication::processEvents();
    EXPECT_EQ(header->sectionSize(0), bound());
    EXPECT_TRUE(CellWhole(nameRow(camera), 0));
    EXPECT_GT(header->sectionSize(3), pathBefore);
    EXPECT_EQ(header->length(), dlg->m_resultList->viewport()->width());

    // Without the long name, the column fits the camera name exactly.
    dlg->m_duplicateCombo->setCurrentIndex(static_cast<int>(ComboEntries().indexOf(Q(camera.c_str()))));
    dlg->OnDuplicateChosen(dlg->m_duplicateCombo->currentIndex());
    ASSERT_EQ(Names().size(), 2);
    EXPECT_TRUE(CellWhole(0, 0));
    EXPECT_LT(header->sectionSize(0), bound());
    EXPECT_GT(header->sectionSize(0), 100);

    // The user's own width stays through searches and into the next run.
    header->resizeSection(0, 90);
    Search(DesktopChild(BaseName(folder.Path())));
    EXPECT_EQ(header->sectionSize(0), 90);
    dlg->reject();
    Open();
    Show();
    EXPECT_EQ(dlg->m_resultList->header()->sectionSize(0), 90);
    Search(DesktopChild(BaseName(folder.Path())));
    EXPECT_EQ(dlg->m_resultList->header()->sectionSize(0), 90);
    dlg.reset();
    ForgetWindow();
}

// The further picture types: chosen from the menu of the other-extension box,
// searched after the four, said under the box and in its tooltip, and
// remembered; with none chosen the window is the first start's again.
TEST_F(WindowTest, ChosenPictureTypesAreSearchedShownAndRemembered)
{
    QSettings(QStringLiteral("snapsift"), QStringLiteral("snapsift")).remove(QStringLiteral("types"));
    TempDir folder(g_desktop);
    folder.MakeFile("x.png", 1);
    folder.MakeFile("s/y.CR2", 1);
    folder.MakeFile("z.jpg", 1);
    folder.MakeFile("w.heic", 1);
    Open();
    Show();
    auto typeControls = [this] {
        return std::vector<QWidget*>{dlg->m_folderTree, dlg->m_checkJpeg,  dlg->m_checkBmp,
                                     dlg->m_checkGif,   dlg->m_checkOther, dlg->m_otherExt};
    };
    std::vector<QRect> firstPlaces;
    for (QWidget* w : typeControls())
        firstPlaces.push_back(w->geometry());
    EXPECT_EQ(dlg->m_typesLine, nullptr);
    EXPECT_TRUE(dlg->m_otherExt->toolTip().isEmpty());

    // A right-click on the check box offers the entry first; it opens the
    // dialog, where PNG and RAW are ticked.
    auto choose = [this](std::function<void(PictureTypesDlg*)> tick) {
        bool menuSeen = false, dialogSeen = false;
        WhenOpen([] { return QApplication::activePopupWidget(); },
                 [&](QWidget* popup) {
                     auto* menu = qobject_cast<QMenu*>(popup);
                     menuSeen = menu && !menu->actions().isEmpty() &&
                                menu->actions().front()->text() == Q(kChoosePictureTypesMenuText);
                     WhenModalOpens([&](QWidget* modal) {
                         auto* types = qobject_cast<PictureTypesDlg*>(modal);
                         dialogSeen = types != nullptr;
                         if (!types) {
                             modal->close();
                             return;
                         }
                         tick(types);
                         types->m_buttons->button(QDialogButtonBox::Ok)->click();
                     });
                     if (menuSeen)
                         menu->actions().front()->trigger();
                     popup->close();
                 });
        const QPoint at = dlg->m_checkOther->geometry().center();
        QTest::mouseClick(dlg->windowHandle(), Qt::RightButton, {}, at);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return dialogSeen || (!menuSeen && !QApplication::activePopupWidget()); }, 60000));
        EXPECT_TRUE(menuSeen);
        EXPECT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 60000));
    };
    choose([](PictureTypesDlg* types) {
        EXPECT_EQ(types->windowTitle(), Q(kPictureTypesTitleText));
        EXPECT_EQ(types->CheckOf(PictureKind::Raw)->text(),
                  Q("RAW ( cr2, cr3, nef, nrw, arw, dng, orf, rw2, raf, pef, srw )"));
        EXPECT_TRUE(CutTexts(types).empty());
        types->CheckOf(PictureKind::Png)->setChecked(true);
        types->CheckOf(PictureKind::Raw)->setChecked(true);
    });
    ASSERT_NE(dlg->m_typesLine, nullptr);
    EXPECT_TRUE(dlg->m_typesLine->isVisible());
    EXPECT_EQ(dlg->m_typesLine->text(), Q("＋ PNG, RAW"));
    for (QWidget* w : Widgets{dlg->m_checkOther, dlg->m_otherExt, dlg->m_typesLine})
        EXPECT_EQ(
            w->toolTip(),
            Q("ほかに検索する画像の種類:\nPNG ( png )\nRAW ( cr2, cr3, nef, nrw, arw, dng, orf, rw2, raf, pef, srw )"));
    // The line stands under the box, inside the frame, and overlaps nothing.
    const QRect line = dlg->m_typesLine->geometry();
    EXPECT_GE(line.top(), dlg->m_otherExt->geometry().bottom());
    EXPECT_LT(line.bottom(), firstPlaces.back().bottom() + DialogUnits(dlg->font()).Y(3));
    for (QWidget* w : Widgets{dlg->m_folderTree, dlg->m_checkJpeg, dlg->m_checkBmp, dlg->m_checkGif, dlg->m_checkOther,
                              dlg->m_otherExt, dlg->m_progress})
        EXPECT_FALSE(w->geometry().intersects(line)) << w->metaObject()->className();
    EXPECT_TRUE(CutTexts(dlg.get()).empty());
    EXPECT_EQ(QSettings(QStringLiteral("snapsift"), QStringLiteral("snapsift")).value(QStringLiteral("types/chosen")),
              QVariant(QStringLiteral("png,raw")));

    // JPEG first, then PNG, then RAW; HEIC is not chosen.
    Search(DesktopChild(BaseName(folder.Path())));
    EXPECT_TRUE(messenger.shown.empty());
    std::vector<std::string> rows;
    for (int k = 0; k < dlg->Results().table.RowCount(); ++k)
        rows.emplace_back(dlg->Results().table.Name(k));
    EXPECT_EQ(rows, (std::vector<std::string>{"z.jpg", "x.png", "y.CR2"}));
    // Chosen types alone make a search: no message that no type is ticked.
    dlg->m_checkJpeg->setChecked(false);
    Search(DesktopChild(BaseName(folder.Path())));
    EXPECT_TRUE(messenger.shown.empty());
    EXPECT_EQ(dlg->Results().table.RowCount(), 2);
    dlg.reset();

    // Remembered; the settings file's unknown names are left out.
    Open();
    Show();
    ASSERT_NE(dlg->m_typesLine, nullptr);
    EXPECT_EQ(dlg->m_typesLine->text(), Q("＋ PNG, RAW"));
    choose([](PictureTypesDlg* types) {
        EXPECT_TRUE(types->CheckOf(PictureKind::Png)->isChecked());
        EXPECT_TRUE(types->CheckOf(PictureKind::Raw)->isChecked());
        EXPECT_FALSE(types->CheckOf(PictureKind::Heif)->isChecked());
        types->CheckOf(PictureKind::Png)->setChecked(false);
        types->CheckOf(PictureKind::Raw)->setChecked(false);
    });
    // None chosen: the line goes, every control is back in its first place.
    EXPECT_FALSE(dlg->m_typesLine->isVisible());
    EXPECT_TRUE(dlg->m_otherExt->toolTip().isEmpty());
    std::vector<QRect> places;
    for (QWidget* w : typeControls())
        places.push_back(w->geometry());
    EXPECT_EQ(places, firstPlaces);
    EXPECT_FALSE(
        QSettings(QStringLiteral("snapsift"), QStringLiteral("snapsift")).contains(QStringLiteral("types/chosen")));
    dlg.reset();

    for (const auto& [stored, shown] : {std::pair{QString("bogus,heic,HEIC"), "＋ HEIC/HEIF"},
                                        std::pair{QString(2000, QLatin1Char('x')) + ",png", ""}}) {
        QSettings(QStringLiteral("snapsift"), QStringLiteral("snapsift"))
            .setValue(QStringLiteral("types/chosen"), stored);
        Open();
        Show();
        EXPECT_EQ(dlg->m_typesLine ? dlg->m_typesLine->text() : QString(), Q(shown));
        dlg.reset();
    }
    QSettings(QStringLiteral("snapsift"), QStringLiteral("snapsift")).remove(QStringLiteral("types"));
}

// Names as shown: each control character its mark, every other byte kept;
// and the extension box's measure.
TEST(WindowTextsTest, ControlCharactersBecomeMarksAndWidthsCountDoubleOutsideAscii)
{
    const std::pair<std::string, std::string> shown[] = {
        {"a\nb.jpg", "a␊b.jpg"},
        {"a\r\n.jpg", "a␍␊.jpg"},
        {std::string("\0\t\x1f\x7f", 4), "␀␉␟␡"},
        {"x\u2028y\u2029z\u0085", "x␤y␤z␤"},
        {"画像\xff\xfe.jpg", "画像\xff\xfe.jpg"},  // not UTF-8: kept as it is
        {"\xe2\x80", "\xe2\x80"},                  // a cut-off character at the end
    };
    for (const auto& [bytes, marked] : shown)
        EXPECT_EQ(VisibleControls(bytes), marked) << bytes;
    for (const auto& [text, width] : {std::pair{"", 0}, {"abcd", 4}, {"画像", 4}, {"a画", 3}, {"é", 2}, {"😀", 2}})
        EXPECT_EQ(ExtensionWidth(text), width) << text;
}

TEST(QtProgressTest, AnEmptyRangeShowsAnEmptyBar)
{
    QProgressBar bar;
    QtProgress progress(&bar);
    for (const auto& [lower, upper] : {std::pair{0, 0}, std::pair{5, 5}, std::pair{3, 1}}) {
        progress.SetRange(lower, upper);
        EXPECT_LT(bar.minimum(), bar.maximum()) << lower << ".." << upper << " shows a busy bar";
        EXPECT_EQ(bar.value(), bar.minimum());
        progress.SetPos(lower);
        EXPECT_EQ(bar.value(), bar.minimum());
    }
}

// While the walk lists folders, the bar shows the folders listed of those
// known, and none of the walk's own steps; the walk's last step ends that.
TEST(WalkProgressTest, ShowsFoldersListedWhileWalkingThenTheSearchsOwnSteps)
{
    snapsift::testing::RecordingProgress shown;
    WalkProgress walk(shown);
    walk.SetRange(0, 9);  // before the walk: as it comes
    walk.FolderListed(1, 3);
    walk.SetRange(0, 2);
    walk.DeltaPos(2);
    walk.FolderListed(2, 4);
    walk.DeltaPos(3);
    walk.SetPos(0);  // the walk's last step
    walk.SetRange(0, 3);
    walk.DeltaPos(1);
    EXPECT_EQ(shown.ops, (std::vector<std::string>{"range 0 9", "range 0 3", "pos 1", "range 0 4", "pos 2", "pos 0",
                                                   "range 0 3", "delta 1"}));
}

TEST(QtTranslationsTest, QtsOwnTextsAreJapanese)
{
    ASSERT_TRUE(InstallQtTranslations(*QCoreApplication::instance()));
    QLineEdit edit;
    const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QString texts;
    for (QAction* action : menu->actions())
        texts += action->text() + QLatin1Char('|');
    for (const char* word : {"元に戻す", "切り取り", "コピー", "貼り付け"})
        EXPECT_TRUE(texts.contains(Q(word))) << word << " not in " << texts.toStdString();
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text(), Q("キャンセル"));
    EXPECT_TRUE(MissingJapaneseFontNote().empty());
}

TEST(QtMessengerTest, CancelAnswersCancel)
{
    QWidget owner;
    QtMessenger messenger(&owner);
    QString title;
    QString text;
    WhenModalOpens([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            modal->close();
            return;
        }
        title = box->windowTitle();
        text = box->text();
        box->button(QMessageBox::Cancel)->click();
    });
    const MessageAnswer answer =
        messenger.Show({"ごみ箱に移動しますか", "確認", MessageButtons::OkCancel, MessageIcon::None});
    EXPECT_EQ(answer, MessageAnswer::Cancel);
    EXPECT_EQ(title, Q("確認"));
    EXPECT_EQ(text, Q("ごみ箱に移動しますか"));
}

}  // namespace

// GLib reads the desktop folder and the trash location once per process, so
// the temporary ones are set up before anything else runs.
int main(int argc, char** argv)
{
    // The window's preview helpers are this program started again.
    if (snapsift::IsPreviewHelperCall(argc, argv))
        return snapsift::RunPreviewHelper();
    const TempDir root;
    g_desktop = root.MakeFolder("desktop");
    root.MakeFolder("desktop/albums");
    root.MakeFolder("desktop/photos/2023");
    root.MakeFolder("desktop/photos/2024/summer");
    root.WriteFile("config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"" + g_desktop + "\"\n");
    snapsift::testing::SetEnv("HOME", root.MakeFolder("home"));
    snapsift::testing::SetEnv("XDG_CONFIG_HOME", root / "config");
    snapsift::testing::SetEnv("XDG_DATA_HOME", root.MakeFolder("data"));
    snapsift::testing::SetEnv("XDG_CACHE_HOME", root.MakeFolder("cache"));
    snapsift::testing::SetEnv("XDG_STATE_HOME", root / "state");
    g_trash = root / "data/Trash";
    g_logPath = root / "DeleteLog.log";

    QApplication application(argc, argv);
    // The previews' time limit is tested on its own: elsewhere a busy
    // machine must not decide what a preview shows.
    PreviewLoader::SetDefaultTimeLimit(600000);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
