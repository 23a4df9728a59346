#include "net/ssl_socket.h"

#include <sys/socket.h>

#include <openssl/bio.h>
#include <openssl/ssl.h>

#include <algorithm>

#include "net/ssl_exceptions.h"
#include "net/ssl_library.h"

namespace quenby {

void SetSocketLastError(int code);  // socket_stack.cpp

namespace {

// The library's I/O object type over a TSocketHandle; made once, kept for the process.
BIO_METHOD* SocketHandleMethod(int (*read)(BIO*, char*, int), int (*write)(BIO*, const char*, int),
                               long (*control)(BIO*, int, long, void*)) {
  static BIO_METHOD* const method = [&] {
    BIO_METHOD* made =
        BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quenby socket handle");
    if (made != nullptr) {
      BIO_meth_set_read(made, read);
      BIO_meth_set_write(made, write);
      BIO_meth_set_ctrl(made, control);
    }
    return made;
  }();
  return method;
}

}  // namespace

TSSLSocket::TSSLSocket(SSL_CTX* context, TSocketHandle& binding) : binding_(binding) {
  BIO_METHOD* method = SocketHandleMethod(&BioRead, &BioWrite, &BioControl);
  ssl_ = context != nullptr ? SSL_new(context) : nullptr;
  BIO* bio = ssl_ != nullptr && method != nullptr ? BIO_new(method) : nullptr;
  if (bio == nullptr) {
    SSL_free(ssl_);
    ClearSSLErrors();
    throw EOSSLAcceptError(RSOSSLAcceptError);
  }
  BIO_set_data(bio, this);
  BIO_set_init(bio, 1);
  SSL_set_bio(ssl_, bio, bio);  // the library object owns the BIO from here on
}

TSSLSocket::~TSSLSocket() {
  SSL_free(ssl_);
}

bool TSSLSocket::SetAppData(void* data) {
  return SSL_set_app_data(ssl_, data) == 1;
}

bool TSSLSocket::Accept(int timeout) {
  handshaking_ = timeout > 0;
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
  ClearSSLErrors();
  const int result = SSL_accept(ssl_);
  handshaking_ = false;
  if (result < 1) {
    failed_ = true;
    ClearSSLErrors();
    return false;
  }
  return true;
}

bool TSSLSocket::HasPending() const {
  return SSL_has_pending(ssl_) == 1;
}

template <class Transfer>
int TSSLSocket::Retried(Transfer transfer) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    ClearSSLErrors();
    io_error_ = 0;
    const int result = transfer();
    if (result > 0) {
      return result;
    }
    const int error = SSL_get_error(ssl_, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      return Finish(error);
    }
  }
  return Finish(SSL_ERROR_SSL);
}

int TSSLSocket::Read(void* buffer, int length) {
  timed_out_ = false;
  return Retried([&] { return SSL_read(ssl_, buffer, length); });
}

int TSSLSocket::Write(const void* buffer, int length) {
  return Retried([&] { return SSL_write(ssl_, buffer, length); });
}

// The outcome of a failed read or write, in the terms of a plain socket call.
int TSSLSocket::Finish(int error) {
  ClearSSLErrors();
  if (error == SSL_ERROR_ZERO_RETURN || !binding_.HasSocket()) {
    return 0;  // the peer's close notification, or the socket was closed meanwhile
  }
  // After any other failure the library forbids further use of the connection.
  failed_ = true;
  SetSocketLastError(io_error_ != 0 ? io_error_ : SockErrConnAborted);
  return SocketError;
}

void TSSLSocket::Shutdown() {
  if (failed_ || SSL_is_init_finished(ssl_) != 1) {
    return;
  }
  closing_ = true;
  ClearSSLErrors();
  SSL_shutdown(ssl_);
  ClearSSLErrors();
}

TSSLCipher TSSLSocket::Cipher() const {
  return TSSLCipher(ssl_);
}

// Milliseconds the next receive may wait for input; SelectNoLimit for no limit.
int TSSLSocket::PieceWait() const {
  if (handshaking_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline_ - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
  }
  return read_wait_;
}

int TSSLSocket::ReceivePiece(char* buffer, int length) {
  const int wait = PieceWait();
  if (wait != SelectNoLimit) {
    const int ready = binding_.PollReadable(wait);
    if (ready < 0) {
      return 0;  // closed by another thread: read as the end of the input
    }
    if (ready == 0) {
      timed_out_ = true;
      return SocketError;
    }
  }
  const int count = binding_.ReceiveData(buffer, length);
  if (count == SocketError) {
    io_error_ = SocketStack().SockLastError();
  }
  return count;
}

int TSSLSocket::SendPiece(const char* buffer, int length) {
  // A close notification must not hold a closing thread on a peer that reads nothing.
  const int count = binding_.SendData(buffer, length, closing_ ? MSG_DONTWAIT : 0);
  if (count == SocketError) {
    io_error_ = SocketStack().SockLastError();
  }
  return count;
}

int TSSLSocket::BioRead(BIO* bio, char* buffer, int length) {
  BIO_clear_retry_flags(bio);
  return static_cast<TSSLSocket*>(BIO_get_data(bio))->ReceivePiece(buffer, length);
}

int TSSLSocket::BioWrite(BIO* bio, const char* buffer, int length) {
  BIO_clear_retry_flags(bio);
  return static_cast<TSSLSocket*>(BIO_get_data(bio))->SendPiece(buffer, length);
}

long TSSLSocket::BioControl(BIO*, int command, long, void*) {
  // Sends are unbuffered, so a flush has nothing to do but must report success.
  return command == BIO_CTRL_FLUSH ? 1 : 0;
}

}  // namespace quenby
