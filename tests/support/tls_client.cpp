#include "support/tls_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "net/self_signed_certificate.h"
#include "net/sigpipe_guard.h"

namespace quenby::test {

TTestCertificate MakeTestCertificate(const TempDir& dir, const std::string& name) {
  TTestCertificate certificate{dir.FilePath(name + "-cert.pem"), dir.FilePath(name + "-key.pem")};
  MakeSelfSignedCertificate(certificate.CertFile, certificate.KeyFile,
                            {name, "localhost", "127.0.0.1"});
  return certificate;
}

TTestCertificate MakeClientCertificate(const TempDir& dir, const std::string& name) {
  TTestCertificate certificate{dir.FilePath(name + "-cert.pem"), dir.FilePath(name + "-key.pem")};
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=" +
      name + " -addext extendedKeyUsage=clientAuth -keyout '" + certificate.KeyFile + "' -out '" +
      certificate.CertFile + "' 2>/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return certificate;
}

TTLSTestClient::TTLSTestClient(int port, const TOptions& options) : options_(options) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(options_.Timeout.count() / 1000);
  limit.tv_usec = static_cast<suseconds_t>(options_.Timeout.count() % 1000 * 1000);
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    error_ = "connect failed";
  }
}

TTLSTestClient::~TTLSTestClient() {
  SSL_free(ssl_);
  SSL_CTX_free(context_);
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void TTLSTestClient::Fail(const std::string& what) {
  char text[256] = {};
  ERR_error_string_n(ERR_get_error(), text, sizeof(text));
  ERR_clear_error();
  error_ = what + ": " + text;
}

bool TTLSTestClient::Handshake() {
  if (!error_.empty()) {
    return false;
  }
  context_ = SSL_CTX_new(TLS_client_method());
  if (!options_.CAFile.empty()) {
    if (SSL_CTX_load_verify_locations(context_, options_.CAFile.c_str(), nullptr) != 1) {
      Fail("CA file");
      return false;
    }
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
  }
  if (!options_.CertFile.empty() &&
      (SSL_CTX_use_certificate_file(context_, options_.CertFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
       SSL_CTX_use_PrivateKey_file(context_, options_.KeyFile.c_str(), SSL_FILETYPE_PEM) != 1)) {
    Fail("client certificate");
    return false;
  }
  ssl_ = SSL_new(context_);
  SSL_set_tlsext_host_name(ssl_, options_.ServerName.c_str());
  if (!options_.CAFile.empty()) {
    SSL_set1_host(ssl_, options_.ServerName.c_str());
  }
  SSL_set_fd(ssl_, fd_);
  // The library writes with plain write(2): a server that already closed must fail the
  // call, not end the test program.
  TSigPipeGuard guard;
  if (SSL_connect(ssl_) != 1) {
    Fail("handshake");
    return false;
  }
  return true;
}

bool TTLSTestClient::Send(const std::string& bytes) {
  TSigPipeGuard guard;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const int count = SSL_write(ssl_, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (count <= 0) {
      Fail("write");
      return false;
    }
    sent += static_cast<std::size_t>(count);
  }
  return true;
}

std::string TTLSTestClient::ReceiveUntilClose() {
  TSigPipeGuard guard;
  std::string received;
  char buffer[65536];
  for (;;) {
    const int count = SSL_read(ssl_, buffer, sizeof(buffer));
    if (count <= 0) {
      if (SSL_get_error(ssl_, count) != SSL_ERROR_ZERO_RETURN) {
        Fail("read");
      }
      return received;
    }
    received.append(buffer, static_cast<std::size_t>(count));
  }
}

std::string TTLSTestClient::CipherName() const {
  return ssl_ != nullptr ? SSL_get_cipher_name(ssl_) : "";
}

int TTLSTestClient::CipherBits() const {
  return ssl_ != nullptr ? SSL_get_cipher_bits(ssl_, nullptr) : 0;
}

int TTLSTestClient::LocalPort() const {
  sockaddr_in address{};
  socklen_t length = sizeof(address);
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

std::string TLSExchange(int port, const std::string& request, const std::string& ca_file) {
  TTLSTestClient::TOptions options;
  options.CAFile = ca_file;
  TTLSTestClient client(port, options);
  if (!client.Handshake() || !client.Send(request)) {
    return {};
  }
  return client.ReceiveUntilClose();
}

}  // namespace quenby::test
