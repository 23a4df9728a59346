#include "util/event_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "util/exception.h"

namespace quenby {

TEventSignal::TEventSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!fd_.IsOpen()) {
    RaiseLastOSError("Cannot create an event descriptor");
  }
}

void TEventSignal::Raise() {
  const std::uint64_t one = 1;
  while (write(fd_.Get(), &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void TEventSignal::Take() {
  std::uint64_t count = 0;
  while (read(fd_.Get(), &count, sizeof count) < 0 && errno == EINTR) {
  }
}

}  // namespace quenby
