#pragma once

#include <openssl/types.h>

#include <functional>
#include <string>

#include "net/ssl_options.h"
#include "net/x509.h"

namespace quenby {

/// The side a context is set up for.
enum TSSLContextKind { sslCtxClient, sslCtxServer };

/// The library's TLS context with a copy of the options and events it was set up from.
///
/// Threads: set up once by one thread (InitContext); afterwards only read, by any number of
/// connections at once, which is what the library allows for a context. Share it through a
/// std::shared_ptr: connections keep it alive for as long as they run.
class TSSLContext {
 public:
  TSSLContext() = default;
  /// Frees the library's context.
  ~TSSLContext();
  TSSLContext(const TSSLContext&) = delete;
  TSSLContext& operator=(const TSSLContext&) = delete;

  TSSLOptions Options;
  /// Whether OnVerifyPeer is consulted during peer verification.
  bool VerifyOn = false;
  /// Whether handshake progress and the negotiated cipher are told to OnStatusInfo.
  bool StatusInfoOn = false;
  std::function<void(const std::string&)> OnStatusInfo;
  std::function<void(std::string&)> OnGetPassword;
  /// Unassigned: every certificate the library accepts is accepted.
  std::function<bool(const TX509&)> OnVerifyPeer;

  /// Sets the context up from Options: method, certificates, key, ciphers, verification and
  /// session id context, replacing any earlier set-up. For sslCtxServer an unassigned Mode
  /// becomes sslmServer. Raises EOSSLCouldNotLoadSSLLibrary, EOSSLModeNotSet,
  /// EOSSLGetMethodError, EOSSLCreatingContextError, EOSSLLoadingRootCertError,
  /// EOSSLLoadingCertError, EOSSLLoadingKeyError or EOSSLSettingCipherError.
  void InitContext(TSSLContextKind kind);
  /// The library's context; nullptr before InitContext succeeded.
  SSL_CTX* Native() const { return context_; }

  /// Tells OnStatusInfo (when status reporting is on), one caller at a time.
  void ReportStatus(const std::string& text) const;
  /// Asks OnVerifyPeer (true when verification is off or it is unassigned), one caller at
  /// a time.
  bool VerifyPeer(const TX509& certificate) const;

 private:
  void LoadCertificates();

  SSL_CTX* context_ = nullptr;
};

}  // namespace quenby
