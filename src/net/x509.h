#pragma once

#include <openssl/types.h>

#include <string>

namespace quenby {

/// A certificate shown to the server's OnVerifyPeer: a view of the library's object, valid
/// only during that call.
class TX509 {
 public:
  explicit TX509(X509* certificate) : certificate_(certificate) {}

  /// The subject's distinguished name, one line ("CN=client,O=Example").
  std::string Subject() const;
  /// The issuer's distinguished name, one line.
  std::string Issuer() const;
  /// The SHA-256 fingerprint (see CertificateFingerprintText).
  std::string Fingerprint() const;
  /// The library's object, for callers that need more.
  X509* Native() const { return certificate_; }

 private:
  X509* certificate_;
};

/// The SHA-256 digest of a certificate as browsers show it: 32 upper-case hex pairs joined
/// by ":". Empty for no certificate.
std::string CertificateFingerprintText(const X509* certificate);

}  // namespace quenby
