#pragma once

#include <openssl/types.h>

#include <chrono>
#include <string>

#include "support/temp_dir.h"

namespace quenby::test {

/// A certificate and its key, made at test time (never kept in the source tree).
struct TTestCertificate {
  std::string CertFile;
  std::string KeyFile;
};

/// A self-signed certificate for localhost and 127.0.0.1 (common name `name`) in `dir`, as
/// NAME-cert.pem and NAME-key.pem.
TTestCertificate MakeTestCertificate(const TempDir& dir, const std::string& name = "localhost");

/// A self-signed client certificate (common name `name`, extended key usage clientAuth) in
/// `dir`, made with the openssl command; fails the test when the command fails.
TTestCertificate MakeClientCertificate(const TempDir& dir, const std::string& name);

/// A blocking TLS client on 127.0.0.1 for tests, on the library directly. Every wait is
/// bounded by `timeout`.
class TTLSTestClient {
 public:
  struct TOptions {
    /// Verify the server against this certificate file; empty: no verification.
    std::string CAFile;
    /// The name checked against the server's certificate and sent as server name.
    std::string ServerName = "localhost";
    /// A client certificate and key to offer; empty: none.
    std::string CertFile;
    std::string KeyFile;
    std::chrono::milliseconds Timeout = std::chrono::seconds(20);
  };

  /// Connects; a failure shows in Handshake.
  TTLSTestClient(int port, const TOptions& options);
  ~TTLSTestClient();
  TTLSTestClient(const TTLSTestClient&) = delete;
  TTLSTestClient& operator=(const TTLSTestClient&) = delete;

  /// The client's side of the handshake; false (Error() tells why) when it fails.
  bool Handshake();
  /// Writes every byte; false when the connection fails.
  bool Send(const std::string& bytes);
  /// Everything until the server closes (or an error, or the time-out).
  std::string ReceiveUntilClose();
  /// Name and secret bits of the negotiated cipher.
  std::string CipherName() const;
  int CipherBits() const;
  /// The client's own port.
  int LocalPort() const;
  /// The library's reason for the latest failure.
  const std::string& Error() const { return error_; }

 private:
  void Fail(const std::string& what);

  TOptions options_;
  int fd_ = -1;
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  std::string error_;
};

/// Sends `request` on a new TLS connection verified against `ca_file` and returns every byte
/// until the server closes; empty when the handshake fails.
std::string TLSExchange(int port, const std::string& request, const std::string& ca_file);

}  // namespace quenby::test
