// SPDX-License-Identifier: MIT
#pragma once

#include "ui/window/messenger.h"

class QWidget;

namespace snapsift {

// Message boxes as Qt shows them, owned by `owner`.
class QtMessenger final : public Messenger {
public:
    explicit QtMessenger(QWidget* owner) : owner_(owner) { }
    MessageAnswer Show(const MessageRequest& request) override;

private:
    QWidget* owner_;
};

}  // namespace snapsift
