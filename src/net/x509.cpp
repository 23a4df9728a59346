#include "net/x509.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace quenby {

namespace {

std::string NameText(const X509_NAME* name) {
  if (name == nullptr) {
    return {};
  }
  std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), &BIO_free);
  if (!out || X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_RFC2253) < 0) {
    return {};
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

std::string TX509::Subject() const {
  return certificate_ != nullptr ? NameText(X509_get_subject_name(certificate_)) : std::string();
}

std::string TX509::Issuer() const {
  return certificate_ != nullptr ? NameText(X509_get_issuer_name(certificate_)) : std::string();
}

std::string TX509::Fingerprint() const {
  return CertificateFingerprintText(certificate_);
}

std::string CertificateFingerprintText(const X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) {
    return {};
  }
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i > 0) {
      text += ':';
    }
    text += Hex[digest[i] >> 4];
    text += Hex[digest[i] & 0x0F];
  }
  return text;
}

}  // namespace quenby
