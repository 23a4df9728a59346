// OpenSSL 3 is linked as an ordinary shared library of the system (libssl and libcrypto,
// from the libssl-dev package) instead of being loaded and looked up entry point by entry
// point at run time; what is left of "loading" is the library's one-time initialisation.
#include "net/ssl_library.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "net/ssl_exceptions.h"

namespace quenby {

void LoadOpenSSLLibrary() {
  static const bool loaded =
      OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) ==
      1;
  if (!loaded) {
    throw EOSSLCouldNotLoadSSLLibrary(RSOSSLCouldNotLoadSSLLibrary);
  }
}

TSSLCallbackLocks& SSLCallbackLocks() {
  static TSSLCallbackLocks locks;
  return locks;
}

void ReleaseSSLThreadState() {
  OPENSSL_thread_stop();
}

void ClearSSLErrors() {
  ERR_clear_error();
}

}  // namespace quenby
