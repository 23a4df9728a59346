#pragma once

#include "util/file_handle.h"

namespace quenby {

/// A descriptor that turns readable once another thread raises it, so that an event loop can
/// wait for a worker without polling. The write and the read also order the worker's work
/// before the reader's next step (for the thread sanitizer too). Raise from any thread; Take
/// from the waiting one.
class TEventSignal {
 public:
  /// Raises EInOutError when no descriptor can be made.
  TEventSignal();

  int Descriptor() const { return fd_.Get(); }
  void Raise();
  /// Clears the signal; returns at once when it was not raised.
  void Take();

 private:
  TFileHandle fd_;
};

}  // namespace quenby
