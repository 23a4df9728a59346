#pragma once

#include <memory>

#include "net/net_component.h"
#include "net/socket_handle.h"

namespace quenby {

/// The byte channel under a connection: plain sockets here, TLS elsewhere. A connection
/// calls it from its owning thread; CloseHandler may also come from another thread
/// (through TTCPConnection::DropSocket) and must then wake a blocked HandlerReadable,
/// HandlerRecv or HandlerSend.
class TIOHandler : public TNetComponent {
 public:
  /// Runs on the peer thread before any connection work (the TLS handshake, for instance).
  virtual void AfterAcceptHook() {}
  virtual void CloseHandler() {}
  virtual bool HandlerConnected() { return false; }
  virtual void OpenHandler() {}
  /// Waits up to `timeout` ms (-2: no limit) for input; true when input (or the close) is
  /// ready.
  virtual bool HandlerReadable(int timeout) = 0;
  /// One receive: a count, 0 when closed or not connected, SocketError on failure.
  virtual int HandlerRecv(void* buffer, int length) = 0;
  /// One send: a count, 0 when not connected, SocketError on failure.
  virtual int HandlerSend(const void* buffer, int length) = 0;
  /// Whether bytes written straight to the socket (the kernel's whole-file send) reach the
  /// peer as they are; otherwise every byte must pass HandlerSend.
  virtual bool NativeSendAllowed() const { return false; }
};

/// The plain TCP handler: owns one TSocketHandle, its SocketBinding, whose addresses tell
/// the local and remote end of the connection.
class TIOHandlerSocket : public TIOHandler {
 public:
  /// Only used when connecting out, which the server never does.
  bool UseNagle = true;

  /// The binding, or nullptr before OpenHandler. Owned by the handler.
  TSocketHandle* SocketBinding() const { return binding_.get(); }

  /// Reuses the binding after clearing its addresses, or creates a fresh one.
  void OpenHandler() override;
  /// Closes the socket; safe from any thread.
  void CloseHandler() override;
  bool HandlerConnected() override;
  /// Raises EConnClosedGracefully when no socket is held.
  bool HandlerReadable(int timeout) override;
  int HandlerRecv(void* buffer, int length) override;
  int HandlerSend(const void* buffer, int length) override;
  bool NativeSendAllowed() const override { return true; }

 private:
  std::unique_ptr<TSocketHandle> binding_;
};

}  // namespace quenby
