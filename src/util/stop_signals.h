#pragma once

#include <memory>

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

 private:
  struct TMasks;  // the platform's signal sets
  std::unique_ptr<TMasks> masks_;
};

}  // namespace quenby
