// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointF>

#include <functional>

class QWidget;

namespace snapsift {

// While it lives, the window takes no clicks, keys, wheel turns or touches:
// they are thrown away, not kept for later. The window still paints. Made at
// the start of a command that runs long; on its end it discards what the
// window system delivered meanwhile, before the window takes input again.
// Other windows (message boxes opened by the command) take input as usual.
//
// While a search runs, two requests get through: Esc asks to stop the
// search, and the quit button or the close box ask to end the program.
class BusyWindow final : public QObject {
public:
    enum class Request {
        StopSearch,
        Quit
    };

    // `onEscape`, when given, is called for an Esc pressed meanwhile (and
    // the key is thrown away all the same).
    explicit BusyWindow(QWidget* window, std::function<void()> onEscape = {});
    // From now on, Esc and the quit button `quit` (and the close box) reach
    // `handler` instead of being thrown away.
    void TakeRequests(QWidget* quit, std::function<void(Request)> handler);
    ~BusyWindow() override;
    BusyWindow(const BusyWindow&) = delete;
    BusyWindow& operator=(const BusyWindow&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsQuitButtonPressed(QObject* watched, QEvent* event);
    bool IsOverQuitButton(QPointF windowPos) const;
    void Quit();

    QWidget* window_;
    std::function<void()> onEscape_;
    QWidget* quit_ = nullptr;
    std::function<void(Request)> handler_;
    bool quitting_ = false;
    bool pressedOnQuit_ = false;  // the left button went down over the quit button
};

}  // namespace snapsift
