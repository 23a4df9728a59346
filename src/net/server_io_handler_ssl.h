#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "net/server_io_handler.h"
#include "net/ssl_context.h"
#include "net/ssl_io_handler_socket.h"
#include "net/ssl_options.h"
#include "net/x509.h"

namespace quenby {

/// A server I/O handler that wraps every accepted connection in TLS: installed as a
/// server's IOHandler, the server speaks HTTPS without other change. Each accepted
/// connection gets a TSSLIOHandlerSocket, whose handshake runs on the connection's peer
/// thread.
///
/// Threads: options and events are set while the server is inactive; InitHandler runs on
/// the activating thread, AcceptConnection on listener threads. The events run on peer
/// threads, one call at a time per event (process-wide locks).
class TServerIOHandlerSSL : public TServerIOHandler {
 public:
  TSSLOptions SSLOptions;
  /// Bound of each connection's handshake, in ms (0: none).
  int HandshakeTimeOut = DefaultHandshakeTimeOut;
  /// Handshake progress ("SSL status: ...") and each negotiated cipher ("Cipher: ...").
  std::function<void(const std::string&)> OnStatusInfo;
  /// Asked for the key file's password when the key is encrypted.
  std::function<void(std::string&)> OnGetPassword;
  /// Asked about each certificate of a client's chain when VerifyMode asks for peer
  /// verification; false refuses the connection.
  std::function<bool(const TX509&)> OnVerifyPeer;

  /// Sets a new context up from SSLOptions and the assigned events (verification through
  /// OnVerifyPeer when it is set, status reporting when OnStatusInfo is set). Raises the
  /// EOSSL exceptions of TSSLContext::InitContext; the earlier context then stays.
  void InitHandler() override;
  /// Initialises first when InitHandler was never called, then accepts like the plain
  /// handler, making a TSSLIOHandlerSocket that shares the context.
  std::unique_ptr<TIOHandler> AcceptConnection(TSocketHandle& listening,
                                               TNetThread* thread) override;
  std::unique_ptr<TIOHandler> AcceptWaitingConnection(TSocketHandle& listening) override;
  /// The current context; nullptr before the first initialisation.
  std::shared_ptr<TSSLContext> Context() const;

 private:
  // A handler for one connection, sharing the context (made first when there is none).
  std::unique_ptr<TSSLIOHandlerSocket> MakeHandler();

  mutable std::mutex lock_;  // guards context_
  std::shared_ptr<TSSLContext> context_;
};

}  // namespace quenby
