#include "net/server_io_handler.h"

namespace quenby {

bool TServerIOHandler::AcceptInto(TIOHandlerSocket& handler, TSocketHandle& listening,
                                  TNetThread* thread) {
  if (thread == nullptr) {
    return handler.SocketBinding()->AcceptFrom(listening);
  }
  // Wait in short slices so that a stop request is noticed without extra signalling.
  while (!thread->IsStopped()) {
    const int ready = listening.PollReadable(AcceptWaitStep);
    if (ready < 0) {
      return false;  // the listening socket was closed
    }
    if (ready == 1) {
      const TSocketHandle::TAcceptOutcome outcome =
          handler.SocketBinding()->AcceptWaitingFrom(listening);
      if (outcome != TSocketHandle::TAcceptOutcome::NoneWaiting) {
        return outcome == TSocketHandle::TAcceptOutcome::Accepted;
      }
    }
  }
  return false;
}

std::unique_ptr<TIOHandler> TServerIOHandlerSocket::AcceptConnection(TSocketHandle& listening,
                                                                     TNetThread* thread) {
  auto handler = std::make_unique<TIOHandlerSocket>();
  handler->OpenHandler();
  if (!AcceptInto(*handler, listening, thread)) {
    return nullptr;
  }
  return handler;
}

std::unique_ptr<TIOHandler> TServerIOHandlerSocket::AcceptWaitingConnection(
    TSocketHandle& listening) {
  return AcceptWaitingInto(std::make_unique<TIOHandlerSocket>(), listening);
}

}  // namespace quenby
