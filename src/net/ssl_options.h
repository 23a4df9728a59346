#pragma once

#include <string>

namespace quenby {

/// The protocol family a context asks for. The library offers neither SSLv2 nor SSLv3 any
/// more: asking for them raises EOSSLGetMethodError. sslvSSLv23 and sslvTLSv1 both mean
/// "TLS 1.2 or newer", the versions a current client can still negotiate.
enum TSSLVersion { sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1 };

/// Which end of a connection a context serves.
enum TSSLMode { sslmUnassigned, sslmClient, sslmServer, sslmBoth };

/// Bits of TSSLOptions::VerifyMode; the values are the library's own.
enum TSSLVerifyModeBit : int {
  sslvrfPeer = 1,
  sslvrfFailIfNoPeerCert = 2,
  sslvrfClientOnce = 4,
};

/// How a TLS context is set up. Plain data, copied into the context at its set-up.
struct TSSLOptions {
  /// Trusted certificate authorities (PEM); also the list of acceptable client authorities.
  std::string RootCertFile;
  /// The certificate (PEM), optionally followed by its intermediate certificates.
  std::string CertFile;
  /// The private key (PEM) of CertFile; an encrypted key asks OnGetPassword.
  std::string KeyFile;
  TSSLVersion Method = sslvSSLv23;
  TSSLMode Mode = sslmUnassigned;
  /// A set of TSSLVerifyModeBit values; 0 leaves the library's default (no verification).
  int VerifyMode = 0;
  /// Deepest chain position a verified certificate may come from (0: the peer's own).
  int VerifyDepth = 0;
  /// Carried with the options but not passed on to the library.
  std::string VerifyDirs;
  /// The library's cipher-list syntax; empty keeps the library's secure default.
  std::string CipherList;
};

}  // namespace quenby
