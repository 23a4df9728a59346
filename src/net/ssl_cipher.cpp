#include "net/ssl_cipher.h"

#include <openssl/ssl.h>

namespace quenby {

namespace {

// The library's description buffer size, as its documentation asks for.
constexpr int CipherDescriptionSize = 128;

}  // namespace

TSSLCipher::TSSLCipher(const SSL* ssl) {
  const SSL_CIPHER* cipher = ssl != nullptr ? SSL_get_current_cipher(ssl) : nullptr;
  if (cipher == nullptr) {
    return;
  }
  name_ = SSL_CIPHER_get_name(cipher);
  char buffer[CipherDescriptionSize] = {};
  if (SSL_CIPHER_description(cipher, buffer, sizeof(buffer)) != nullptr) {
    description_ = buffer;
    // The library ends the text with a line break; a status line must stay one line.
    while (!description_.empty() && (description_.back() == '\n' || description_.back() == ' '))
      description_.pop_back();
  }
  bits_ = SSL_CIPHER_get_bits(cipher, nullptr);
  version_ = SSL_CIPHER_get_version(cipher);
}

}  // namespace quenby
