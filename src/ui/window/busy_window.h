#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace snapsift {

// While it lives, the window takes no clicks, keys, wheel turns or touches:
// they are thrown away, not kept for later. The window still paints. Made at
// the start of a command that runs long; on its end it discards what the
// window system delivered meanwhile, before the window takes input again.
// Other windows (message boxes opened by the command) take input as usual.
class BusyWindow final : public QObject {
public:
    // `onEscape`, when given, is called for an Esc pressed meanwhile (and
    // the key is thrown away all the same).
    explicit BusyWindow(QWidget* window, std::function<void()> onEscape = {});
    ~BusyWindow() override;
    BusyWindow(const BusyWindow&) = delete;
    BusyWindow& operator=(const BusyWindow&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
    std::function<void()> onEscape_;
};

} // namespace snapsift
