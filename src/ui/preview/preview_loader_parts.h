// SPDX-License-Identifier: MIT
#pragma once

// The loader's record of its helper processes, shared by the loader's two
// halves: the requests and the cache (preview_loader.cpp), and the processes
// and their connections (preview_helpers.cpp).

#include "ui/preview/helper_starter.h"
#include "ui/preview/picture_preview.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <sys/types.h>

namespace snapsift {

// One helper process and the connection to it.
struct PreviewLoader::Helper {
    std::shared_ptr<HelperStart> start;
    int socket = -1;                      // both ways; a socket, so a gone helper raises no SIGPIPE
    QSocketNotifier* notifier = nullptr;  // deleted later: it may be what calls Retire
    QTimer* deadline = nullptr;           // the same
    QElapsedTimer sent;                   // since the request went
    bool busy = false;
    Job job;
    QByteArray inbox;
};

// A helper that was killed and has not gone yet. It still holds memory and
// whatever the kernel holds it in, so it counts against the helpers' limit.
struct PreviewLoader::Abandoned {
    std::shared_ptr<HelperStart> start;
    pid_t pid = -1;                       // -1 until its starter knows it
    int pidfd = -1;                       // readable once the process has ended
    QSocketNotifier* notifier = nullptr;  // on pidfd; deleted later, as it may be what calls Reap
    QElapsedTimer since;                  // since it was killed
};

}  // namespace snapsift
