#pragma once

#include <openssl/types.h>

#include <chrono>

#include "net/socket_handle.h"
#include "net/ssl_cipher.h"

namespace quenby {

/// The library's per-connection TLS object, reading and writing through a TSocketHandle.
///
/// The library never holds the raw descriptor: every receive and send goes through the
/// handle, which keeps the descriptor open while a call uses it. So a close from another
/// thread (TSocketHandle::ShutSocket) wakes a blocked handshake, read or write, which then
/// fails, and can never leave the library working on a reused descriptor.
///
/// Threads: one thread at a time (its I/O handler serialises the calls).
class TSSLSocket {
 public:
  /// A library object of `context` over `binding`, which must outlive it. Raises
  /// EOSSLAcceptError when the library cannot make one.
  TSSLSocket(SSL_CTX* context, TSocketHandle& binding);
  /// Frees the library object (without a close notification; see Shutdown).
  ~TSSLSocket();
  TSSLSocket(const TSSLSocket&) = delete;
  TSSLSocket& operator=(const TSSLSocket&) = delete;

  /// Attaches `data` as the library object's application data; false when refused.
  bool SetAppData(void* data);
  /// The server's side of the handshake, bounded as a whole by `timeout` ms (0 or less: no
  /// bound). False when it fails, the peer leaves, the socket is closed or the time runs
  /// out.
  bool Accept(int timeout);
  /// Decrypted bytes are waiting, so a read returns without waiting for the socket.
  bool HasPending() const;
  /// Longest wait in ms (SelectNoLimit: none) for each piece of a record
  /// that a later Read needs.
  void SetReadWait(int timeout) { read_wait_ = timeout; }
  /// Whether the last Read failed because a record stopped arriving within the wait.
  bool ReadTimedOut() const { return timed_out_; }
  /// One TLS read: a count, 0 at the peer's close, SocketError on failure with the socket
  /// stack's last error set (10053 for a TLS failure). When the library asks to read or
  /// write again, the read is repeated once.
  int Read(void* buffer, int length);
  /// One TLS write of the whole buffer: the count, 0 when the socket was closed,
  /// SocketError on failure as for Read. Repeated once on the library's request.
  int Write(const void* buffer, int length);
  /// Sends a close notification when the connection is sound, without waiting for the
  /// peer's and without blocking on a full send buffer.
  void Shutdown();
  /// The negotiated cipher (none before the handshake).
  TSSLCipher Cipher() const;
  SSL* Native() const { return ssl_; }

 private:
  static int BioRead(BIO* bio, char* buffer, int length);
  static int BioWrite(BIO* bio, const char* buffer, int length);
  static long BioControl(BIO* bio, int command, long number, void* pointer);
  int ReceivePiece(char* buffer, int length);
  int SendPiece(const char* buffer, int length);
  int PieceWait() const;
  int Finish(int result);
  /// Runs one library read or write, repeated once when the library asks for it.
  template <class Transfer>
  int Retried(Transfer transfer);

  SSL* ssl_ = nullptr;
  TSocketHandle& binding_;
  bool handshaking_ = false;  // a handshake with a deadline is under way
  std::chrono::steady_clock::time_point deadline_;
  int read_wait_ = SelectNoLimit;
  bool timed_out_ = false;
  bool failed_ = false;
  bool closing_ = false;
  int io_error_ = 0;
};

}  // namespace quenby
