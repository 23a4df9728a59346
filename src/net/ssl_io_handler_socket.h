#pragma once

#include <memory>
#include <mutex>

#include "net/io_handler.h"
#include "net/ssl_cipher.h"
#include "net/ssl_context.h"
#include "net/ssl_socket.h"

namespace quenby {

/// Milliseconds a TLS handshake may take as a whole before its connection is dropped, so
/// that a client that connects and says nothing cannot hold a peer thread.
constexpr int DefaultHandshakeTimeOut = 10000;

/// The I/O handler of one accepted TLS connection: a socket handler whose receives and
/// sends pass through TLS. It shares the server's context (kept alive by the shared
/// pointer) and owns its TSSLSocket.
///
/// Threads: the peer thread makes every call; CloseHandler may also come from another
/// thread (a server stop, a module's close request). Such a close only closes the socket
/// when the peer thread is inside the library, which wakes that call; the library object
/// is then freed with the handler.
class TSSLIOHandlerSocket : public TIOHandlerSocket {
 public:
  TSSLIOHandlerSocket(std::shared_ptr<TSSLContext> context, int handshake_timeout);
  ~TSSLIOHandlerSocket() override;

  /// The TLS handshake. Raises EOSSLAcceptError (failed, refused, timed out, peer gone)
  /// or EOSSLDataBindingError after closing the handler. On success tells OnStatusInfo
  /// the "Cipher: ..." line.
  void AfterAcceptHook() override;
  /// Sends a close notification (when no other thread is inside the library), frees the
  /// TLS socket and closes the socket.
  void CloseHandler() override;
  /// True at once when decrypted bytes wait; else waits on the socket.
  bool HandlerReadable(int timeout) override;
  /// A TLS read. Raises EReadTimeout when a record stops arriving for longer than the
  /// last HandlerReadable wait.
  int HandlerRecv(void* buffer, int length) override;
  int HandlerSend(const void* buffer, int length) override;
  /// Never: the kernel's file send would bypass TLS.
  bool NativeSendAllowed() const override { return false; }

  /// The negotiated cipher; set by the handshake, then read-only (any thread).
  const TSSLCipher& Cipher() const { return cipher_; }
  /// The shared context (also read by the library's callbacks).
  const TSSLContext& Context() const { return *context_; }

 private:
  std::shared_ptr<TSSLContext> context_;
  const int handshake_timeout_;
  std::mutex ssl_lock_;  // guards ssl_socket_ (held during every library call)
  std::unique_ptr<TSSLSocket> ssl_socket_;
  TSSLCipher cipher_;
};

}  // namespace quenby
