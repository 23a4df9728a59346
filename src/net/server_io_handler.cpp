#include "net/server_io_handler.h"

namespace quenby {

std::unique_ptr<TIOHandler> TServerIOHandlerSocket::AcceptConnection(TSocketHandle& listening,
                                                                     TNetThread* thread) {
  auto handler = std::make_unique<TIOHandlerSocket>();
  handler->OpenHandler();
  if (thread != nullptr) {
    // Wait in short slices so that a stop request is noticed without extra signalling.
    while (!thread->IsStopped()) {
      const int ready = listening.PollReadable(AcceptWaitStep);
      if (ready < 0) {
        return nullptr;  // the listening socket was closed
      }
      if (ready == 1) {
        if (handler->SocketBinding()->AcceptFrom(listening)) {
          return handler;
        }
        return nullptr;
      }
    }
    return nullptr;
  }
  if (handler->SocketBinding()->AcceptFrom(listening)) {
    return handler;
  }
  return nullptr;
}

}  // namespace quenby
