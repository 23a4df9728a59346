#pragma once

#include <functional>

namespace quenby {

/// Runs `call` on a thread of its own and returns when it has ended, rethrowing what it raised.
/// Meanwhile the calling (window) thread goes on processing events, so windows keep painting and
/// timers and close requests are delivered, but mouse and keyboard input to every window is
/// dropped, not queued: a click during the wait never runs afterwards. The caller must keep its
/// own event handlers from starting another call (or touching what `call` uses) until it returns.
/// Window thread only, with a QApplication; not reentrant.
void RunOffWindowThread(const std::function<void()>& call);

}  // namespace quenby
