#include "window/off_thread_call.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QSocketNotifier>
#include <exception>
#include <thread>

#include "util/event_signal.h"

namespace quenby {

namespace {

// Drops user input to every object while it is installed.
class TInputBlocker : public QObject {
 public:
  TInputBlocker() {
    qApp->installEventFilter(this);
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~TInputBlocker() override {
    QApplication::restoreOverrideCursor();
    qApp->removeEventFilter(this);
  }
  TInputBlocker(const TInputBlocker&) = delete;
  TInputBlocker& operator=(const TInputBlocker&) = delete;

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::InputMethod:
      case QEvent::Drop:
        return true;
      default:
        return false;
    }
  }
};

}  // namespace

void RunOffWindowThread(const std::function<void()>& call) {
  // Raised by the worker when it is done.
  TEventSignal done;
  QEventLoop loop;
  bool finished = false;
  QSocketNotifier notifier(done.Descriptor(), QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
    notifier.setEnabled(false);
    done.Take();
    finished = true;
    loop.quit();
  });
  TInputBlocker blocker;
  std::exception_ptr failure;
  // Joined below on every road: the loop ends only when the worker has signalled.
  std::thread worker([&] {
    try {
      call();
    } catch (...) {
      failure = std::current_exception();
    }
    done.Raise();
  });
  // An application-wide exit also ends this loop; the wait goes on painting all the same.
  while (!finished) {
    loop.exec();
  }
  worker.join();
  if (failure) {
    std::rethrow_exception(failure);
  }
}

}  // namespace quenby
