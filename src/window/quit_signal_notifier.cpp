#include "window/quit_signal_notifier.h"

#include "util/stop_signals.h"

namespace quenby {

TQuitSignalNotifier::TQuitSignalNotifier(TStopSignals& stop_signals, std::function<void()> on_quit)
    : stop_signals_(stop_signals), on_quit_(std::move(on_quit)) {
  fd_ = stop_signals_.OpenDescriptor();
  notifier_ = std::make_unique<QSocketNotifier>(fd_.Get(), QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [this] { TakeSignal(); });
}

TQuitSignalNotifier::~TQuitSignalNotifier() {
  notifier_.reset();
}

void TQuitSignalNotifier::TakeSignal() {
  const int signal_number = TStopSignals::TakeFromDescriptor(fd_.Get());
  if (signal_number == 0) {
    return;
  }
  if (quit_asked_) {
    // The default action of the signal ends the process once it is no longer blocked.
    stop_signals_.Release();
    TStopSignals::RaiseAgain(signal_number);
    return;
  }
  quit_asked_ = true;
  on_quit_();
}

}  // namespace quenby
