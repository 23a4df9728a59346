#include "net/ssl_context.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include "net/ssl_exceptions.h"
#include "net/ssl_io_handler_socket.h"
#include "net/ssl_library.h"
#include "util/text.h"

namespace quenby {

namespace {

/// Oldest protocol version a context accepts: older ones are broken or withdrawn.
constexpr int MinimumProtocolVersion = TLS1_2_VERSION;
/// The session id context every context sets: the 4-byte value 1.
constexpr std::uint32_t SessionIdContext = 1;
constexpr const char* StatusFormat = "SSL status: \"%s\"";

using TLibraryContext = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;

// The context of a connection, through the handler attached to its library socket.
const TSSLContext* ContextOf(const SSL* ssl) {
  const auto* handler =
      ssl != nullptr ? static_cast<const TSSLIOHandlerSocket*>(SSL_get_app_data(ssl)) : nullptr;
  return handler != nullptr ? &handler->Context() : nullptr;
}

// The library's callbacks are C functions: nothing may be thrown through them.
int PasswordCallback(char* buffer, int size, int, void* user_data) {
  const auto* context = static_cast<const TSSLContext*>(user_data);
  try {
    std::string password;
    {
      std::lock_guard<std::mutex> lock(SSLCallbackLocks().Password);
      if (context->OnGetPassword) {
        context->OnGetPassword(password);
      }
    }
    const int length = std::min(static_cast<int>(password.size()), size);
    std::memcpy(buffer, password.data(), static_cast<std::size_t>(length));
    return length;
  } catch (...) {
    return 0;
  }
}

void InfoCallback(const SSL* ssl, int, int) {
  const TSSLContext* context = ContextOf(ssl);
  if (context == nullptr) {
    return;
  }
  try {
    context->ReportStatus(Format(StatusFormat, SSL_state_string_long(ssl)));
  } catch (...) {
    // A failing status handler must not break the handshake it reports on.
  }
}

int VerifyCallback(int preverify_ok, X509_STORE_CTX* store) {
  const auto* ssl = static_cast<const SSL*>(
      X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  const TSSLContext* context = ContextOf(ssl);
  if (context == nullptr) {
    return preverify_ok;
  }
  try {
    const bool agreed = context->VerifyPeer(TX509(X509_STORE_CTX_get_current_cert(store)));
    const bool deep_enough = X509_STORE_CTX_get_error_depth(store) <= context->Options.VerifyDepth;
    return preverify_ok == 1 && deep_enough && agreed ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

// Clears the thread's library errors when a set-up ends, however it ends.
class TSSLErrorScope {
 public:
  TSSLErrorScope() = default;
  ~TSSLErrorScope() { ClearSSLErrors(); }
  TSSLErrorScope(const TSSLErrorScope&) = delete;
  TSSLErrorScope& operator=(const TSSLErrorScope&) = delete;
};

// The library's method for the options' protocol family and mode.
const SSL_METHOD* Method(const TSSLOptions& options) {
  if (options.Mode == sslmUnassigned) {
    throw EOSSLModeNotSet(RSOSSLModeNotSet);
  }
  if (options.Method != sslvSSLv23 && options.Method != sslvTLSv1) {
    throw EOSSLGetMethodError(RSOSSLGetMethodError);
  }
  switch (options.Mode) {
    case sslmServer:
      return TLS_server_method();
    case sslmClient:
      return TLS_client_method();
    case sslmBoth:
      return TLS_method();
    default:
      throw EOSSLGetMethodError(RSOSSLGetMethodError);
  }
}

}  // namespace

TSSLContext::~TSSLContext() {
  SSL_CTX_free(context_);
}

void TSSLContext::InitContext(TSSLContextKind kind) {
  LoadOpenSSLLibrary();
  TSSLErrorScope errors;
  SSL_CTX_free(context_);
  context_ = nullptr;
  if (kind == sslCtxServer && Options.Mode == sslmUnassigned) {
    Options.Mode = sslmServer;
  }
  TLibraryContext context(SSL_CTX_new(Method(Options)), &SSL_CTX_free);
  if (!context) {
    throw EOSSLCreatingContextError(RSOSSLCreatingContextError);
  }
  SSL_CTX* native = context.get();
  SSL_CTX_set_min_proto_version(native, MinimumProtocolVersion);
  // Clients commonly close without a TLS close notification once they have their reply;
  // that reads as the end of the connection, as it does on a plain socket.
  SSL_CTX_set_options(native, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_default_passwd_cb(native, &PasswordCallback);
  SSL_CTX_set_default_passwd_cb_userdata(native, this);
  SSL_CTX_set_default_verify_paths(native);
  context_ = context.release();
  try {
    LoadCertificates();
    if (StatusInfoOn) {
      SSL_CTX_set_info_callback(context_, &InfoCallback);
    }
    // Left empty, the library's own default list stands: it holds only suites that are
    // still considered secure. The traditional default of this handler was written for
    // export and RC4 suites, which current libraries no longer have.
    if (!Options.CipherList.empty() &&
        SSL_CTX_set_cipher_list(context_, Options.CipherList.c_str()) <= 0) {
      throw EOSSLSettingCipherError(RSOSSLSettingCipherError);
    }
    if (Options.VerifyMode != 0) {
      SSL_CTX_set_verify(context_, Options.VerifyMode, VerifyOn ? &VerifyCallback : nullptr);
      SSL_CTX_set_verify_depth(context_, Options.VerifyDepth);
    }
    const std::uint32_t id_context = SessionIdContext;
    SSL_CTX_set_session_id_context(context_, reinterpret_cast<const unsigned char*>(&id_context),
                                   sizeof(id_context));
    if (!Options.RootCertFile.empty()) {
      if (STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(Options.RootCertFile.c_str())) {
        SSL_CTX_set_client_CA_list(context_, names);
      }
    }
  } catch (...) {
    SSL_CTX_free(context_);
    context_ = nullptr;
    throw;
  }
}

void TSSLContext::LoadCertificates() {
  if (!Options.RootCertFile.empty() &&
      SSL_CTX_load_verify_locations(context_, Options.RootCertFile.c_str(), nullptr) <= 0) {
    throw EOSSLLoadingRootCertError(RSOSSLLoadingRootCertError);
  }
  // The chain form also takes intermediate certificates after the server's own, which
  // clients need when the certificate was not issued by a root they trust directly.
  if (!Options.CertFile.empty() &&
      SSL_CTX_use_certificate_chain_file(context_, Options.CertFile.c_str()) <= 0) {
    throw EOSSLLoadingCertError(RSOSSLLoadingCertError);
  }
  if (!Options.KeyFile.empty() &&
      (SSL_CTX_use_PrivateKey_file(context_, Options.KeyFile.c_str(), SSL_FILETYPE_PEM) <= 0 ||
       SSL_CTX_check_private_key(context_) <= 0)) {
    throw EOSSLLoadingKeyError(RSOSSLLoadingKeyError);
  }
}

void TSSLContext::ReportStatus(const std::string& text) const {
  if (!StatusInfoOn || !OnStatusInfo) {
    return;
  }
  std::lock_guard<std::mutex> lock(SSLCallbackLocks().Status);
  OnStatusInfo(text);
}

bool TSSLContext::VerifyPeer(const TX509& certificate) const {
  if (!VerifyOn || !OnVerifyPeer) {
    return true;
  }
  std::lock_guard<std::mutex> lock(SSLCallbackLocks().Verify);
  return OnVerifyPeer(certificate);
}

}  // namespace quenby
