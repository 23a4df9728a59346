#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "util/file_handle.h"

namespace quenby {

class TStopSignals;

/// Delivers SIGINT and SIGTERM, which TStopSignals keeps blocked in every thread, to the window
/// thread as a call of `on_quit`, so that a terminal's Ctrl-C or the desktop ending the session
/// closes the window as its close box does (stop, save). A further signal after the first ends the
/// process at once, like the headless run's second stop signal. Window thread only.
class TQuitSignalNotifier {
 public:
  TQuitSignalNotifier(TStopSignals& stop_signals, std::function<void()> on_quit);
  ~TQuitSignalNotifier();
  TQuitSignalNotifier(const TQuitSignalNotifier&) = delete;
  TQuitSignalNotifier& operator=(const TQuitSignalNotifier&) = delete;

 private:
  void TakeSignal();

  TStopSignals& stop_signals_;
  std::function<void()> on_quit_;
  TFileHandle fd_;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool quit_asked_ = false;
};

}  // namespace quenby
