// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace snapsift {

// What a message box offers and shows. Texts are UTF-8 bytes; a path inside a
// text may carry bytes that are not UTF-8 and is shown as well as it can be.
enum class MessageButtons {
    Ok,
    OkCancel
};
enum class MessageIcon {
    None,
    Information,
    Exclamation
};
enum class MessageAnswer {
    Ok,
    Cancel
};

struct MessageRequest {
    std::string text;
    std::string caption;
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
};

// A modal message box owned by the main window. The window supplies the real
// one; tests supply one that records each request and answers from a script.
class Messenger {
public:
    virtual ~Messenger() = default;
    // Shows the box and returns the button the user pressed. Closing the box
    // any other way counts as Cancel (or Ok when Ok is the only button).
    virtual MessageAnswer Show(const MessageRequest& request) = 0;
};

}  // namespace snapsift
