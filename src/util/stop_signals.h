#pragma once

#include <memory>

#include "util/file_handle.h"

namespace quenby {

/// Blocks SIGINT and SIGTERM for the calling thread and every thread it creates from now on, so
/// that they stay pending until Wait takes them. Create it on the main thread before any other
/// thread exists; the destructor restores the previous mask.
class TStopSignals {
 public:
  TStopSignals();
  ~TStopSignals();
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  /// Waits until SIGINT or SIGTERM arrives and returns its number.
  int Wait();
  /// Unblocks both signals again on the calling thread, so that a further one ends the process
  /// at once instead of waiting for a stop that may never finish.
  void Release();
  /// Opens a descriptor that turns readable while SIGINT or SIGTERM is pending, for an event
  /// loop that cannot sit in Wait; pass it to TakeFromDescriptor. Raises EInOutError on failure.
  TFileHandle OpenDescriptor();
  /// Takes one pending signal through a descriptor from OpenDescriptor: its number, or 0 when
  /// none was pending.
  static int TakeFromDescriptor(int descriptor);
  /// Raises `signal_number` on the calling process (after Release, its default action ends it).
  static void RaiseAgain(int signal_number);

 private:
  struct TMasks;  // the platform's signal sets
  std::unique_ptr<TMasks> masks_;
};

}  // namespace quenby
