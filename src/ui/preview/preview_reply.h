// SPDX-License-Identifier: MIT
#pragma once

// The window's side of a helper's answer: the bytes on the connection, read
// back into a preview. Nothing a helper sends is trusted beyond its bounds.

#include "ui/preview/picture_preview.h"

#include <QByteArray>

namespace snapsift {

// The most bytes one answer can take: its header and a fitted picture.
extern const qsizetype kMaxReplyBytes;

// What the start of a helper's inbox holds.
struct ReplyRead {
    enum class State {
        Incomplete,  // not all of the answer has come yet
        Broken,      // no answer a helper gives: the helper is not to be trusted
        Complete,    // `preview` holds the answer, which took `bytes` bytes
    };
    State state = State::Incomplete;
    PicturePreview preview;
    bool unchanged = false;  // the file is the version the request named
    qsizetype bytes = 0;
};

ReplyRead ReadReply(const QByteArray& inbox);

}  // namespace snapsift
