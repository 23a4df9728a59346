#include "net/ssl_io_handler_socket.h"

#include "net/net_exceptions.h"
#include "net/ssl_exceptions.h"
#include "net/ssl_library.h"
#include "util/text.h"

namespace quenby {

namespace {

constexpr const char* CipherFormat =
    "Cipher: name = %s; description = %s; bits = %d; version = %s; ";

}  // namespace

TSSLIOHandlerSocket::TSSLIOHandlerSocket(std::shared_ptr<TSSLContext> context,
                                         int handshake_timeout)
    : context_(std::move(context)), handshake_timeout_(handshake_timeout) {}

TSSLIOHandlerSocket::~TSSLIOHandlerSocket() {
  {
    // Before the base class closes the socket that the library object reads through.
    std::lock_guard<std::mutex> lock(ssl_lock_);
    ssl_socket_.reset();
  }
  context_.reset();  // may be the last user of the library context
  // A peer thread ends right after its connection goes. The library's own end-of-thread
  // clean-up runs later, possibly after the process-end wait for threads is over, when a
  // leak check finds the thread's state unreleased; so it is released here, after the
  // handler's last library call.
  ReleaseSSLThreadState();
}

void TSSLIOHandlerSocket::AfterAcceptHook() {
  try {
    std::lock_guard<std::mutex> lock(ssl_lock_);
    if (SocketBinding() == nullptr) {
      throw EOSSLAcceptError(RSOSSLAcceptError);
    }
    ssl_socket_ = std::make_unique<TSSLSocket>(context_->Native(), *SocketBinding());
    if (!ssl_socket_->SetAppData(this)) {
      throw EOSSLDataBindingError(RSOSSLDataBindingError);
    }
    if (!ssl_socket_->Accept(handshake_timeout_)) {
      throw EOSSLAcceptError(RSOSSLAcceptError);
    }
    cipher_ = ssl_socket_->Cipher();
  } catch (...) {
    CloseHandler();
    throw;
  }
  context_->ReportStatus(Format(CipherFormat, cipher_.Name().c_str(), cipher_.Description().c_str(),
                                cipher_.Bits(), cipher_.Version().c_str()));
}

void TSSLIOHandlerSocket::CloseHandler() {
  {
    std::unique_lock<std::mutex> lock(ssl_lock_, std::try_to_lock);
    if (lock.owns_lock() && ssl_socket_) {
      ssl_socket_->Shutdown();
      ssl_socket_.reset();
    }
  }
  TIOHandlerSocket::CloseHandler();
}

bool TSSLIOHandlerSocket::HandlerReadable(int timeout) {
  {
    std::lock_guard<std::mutex> lock(ssl_lock_);
    if (ssl_socket_) {
      if (ssl_socket_->HasPending()) {
        return true;
      }
      ssl_socket_->SetReadWait(timeout);
    }
  }
  return TIOHandlerSocket::HandlerReadable(timeout);
}

int TSSLIOHandlerSocket::HandlerRecv(void* buffer, int length) {
  std::lock_guard<std::mutex> lock(ssl_lock_);
  if (!ssl_socket_ || !HandlerConnected()) {
    return 0;
  }
  const int count = ssl_socket_->Read(buffer, length);
  if (count == SocketError && ssl_socket_->ReadTimedOut()) {
    throw EReadTimeout(RSReadTimeout);
  }
  return count;
}

int TSSLIOHandlerSocket::HandlerSend(const void* buffer, int length) {
  std::lock_guard<std::mutex> lock(ssl_lock_);
  if (!ssl_socket_ || !HandlerConnected()) {
    return 0;
  }
  return ssl_socket_->Write(buffer, length);
}

}  // namespace quenby
