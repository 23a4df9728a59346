#include "window/off_thread_call.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <thread>

#include "util/exception.h"

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

// An eventfd the worker writes once when it is done. The write and read also order the worker's
// work before the window thread's next step for the thread sanitizer, which cannot see Qt's own
// locks.
class TDoneSignal {
 public:
  TDoneSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) {
      RaiseLastOSError("Cannot create an event descriptor");
    }
  }
  ~TDoneSignal() { close(fd_); }
  TDoneSignal(const TDoneSignal&) = delete;
  TDoneSignal& operator=(const TDoneSignal&) = delete;

  int Descriptor() const { return fd_; }
  void Raise() {
    const std::uint64_t one = 1;
    while (write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  void Take() {
    std::uint64_t count = 0;
    while (read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
  }

 private:
  int fd_;
};

}  // namespace

void RunOffWindowThread(const std::function<void()>& call) {
  TDoneSignal done;
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
