#pragma once

#include <memory>

#include "net/io_handler.h"
#include "net/net_thread.h"
#include "net/socket_handle.h"

namespace quenby {

/// Milliseconds of one wait for a client: how quickly a listener notices a stop request.
constexpr int AcceptWaitStep = 100;

/// Accepts connections on a listening binding and makes their I/O handlers. Called on
/// listener threads; it holds no per-connection state.
class TServerIOHandler : public TNetComponent {
 public:
  /// Called once per activation, before any binding is opened.
  virtual void InitHandler() {}
  /// Waits for and accepts one connection; the caller owns the returned handler. Returns
  /// nullptr when `thread` (if given) was stopped or the listening socket was closed.
  /// Raises ESocketError for other accept failures.
  virtual std::unique_ptr<TIOHandler> AcceptConnection(TSocketHandle& listening,
                                                       TNetThread* thread) = 0;
  /// Accepts a connection that is already waiting on a listening socket that does not wait
  /// (TSocketHandle::SetNonBlocking); nullptr when none is or the socket was closed. Raises
  /// ESocketError for other accept failures.
  virtual std::unique_ptr<TIOHandler> AcceptWaitingConnection(TSocketHandle& listening) = 0;

 protected:
  /// Waits for and accepts one connection into `handler`'s binding (opened): in slices of
  /// AcceptWaitStep while `thread` runs, or at once without a thread. False when the thread
  /// stopped or the listening socket was closed. A connection that another thread took
  /// between the wait and the accept is waited for again.
  static bool AcceptInto(TIOHandlerSocket& handler, TSocketHandle& listening, TNetThread* thread);
  /// Hands `handler` back when a connection was waiting and it accepted it, else nullptr.
  template <typename THandler>
  static std::unique_ptr<TIOHandler> AcceptWaitingInto(std::unique_ptr<THandler> handler,
                                                       TSocketHandle& listening) {
    handler->OpenHandler();
    if (handler->SocketBinding()->AcceptWaitingFrom(listening) !=
        TSocketHandle::TAcceptOutcome::Accepted) {
      return nullptr;
    }
    return handler;
  }
};

/// The plain-socket server handler: every accepted connection gets a TIOHandlerSocket.
class TServerIOHandlerSocket : public TServerIOHandler {
 public:
  std::unique_ptr<TIOHandler> AcceptConnection(TSocketHandle& listening,
                                               TNetThread* thread) override;
  std::unique_ptr<TIOHandler> AcceptWaitingConnection(TSocketHandle& listening) override;
};

}  // namespace quenby
