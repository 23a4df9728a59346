#pragma once

#include <openssl/types.h>

#include <string>

namespace quenby {

/// The cipher a TLS connection negotiated, as the library describes it. A value copied at
/// the end of the handshake, so any thread may read it afterwards.
class TSSLCipher {
 public:
  /// No cipher: empty texts, 0 bits.
  TSSLCipher() = default;
  /// The current cipher of `ssl` (none before a handshake).
  explicit TSSLCipher(const SSL* ssl);

  /// The library's name, such as "TLS_AES_256_GCM_SHA384".
  const std::string& Name() const { return name_; }
  /// The library's one-line description (key exchange, authentication, encryption, MAC).
  const std::string& Description() const { return description_; }
  /// Secret bits of the symmetric cipher (256 for AES-256).
  int Bits() const { return bits_; }
  /// The protocol version the cipher belongs to, such as "TLSv1.3".
  const std::string& Version() const { return version_; }

 private:
  std::string name_;
  std::string description_;
  int bits_ = 0;
  std::string version_;
};

}  // namespace quenby
