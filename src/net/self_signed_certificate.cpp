#include "net/self_signed_certificate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <functional>
#include <memory>

#include "net/socket_stack.h"
#include "net/ssl_exceptions.h"
#include "net/ssl_library.h"
#include "net/x509.h"
#include "util/exception.h"
#include "util/file_handle.h"

namespace quenby {

namespace {

constexpr const char* KeyCurve = "P-256";
constexpr long SecondsPerDay = 86400;
/// How far back a new certificate's validity starts.
constexpr long ClockSlackSeconds = 3600;
/// Random bytes of a serial number; the top bit is cleared so that it stays positive.
constexpr int SerialBytes = 16;
constexpr mode_t KeyFileMode = 0600;
constexpr mode_t CertificateFileMode = 0644;

template <typename T, void (*Free)(T*)>
struct TFreeWith {
  void operator()(T* object) const { Free(object); }
};
using TKey = std::unique_ptr<EVP_PKEY, TFreeWith<EVP_PKEY, EVP_PKEY_free>>;
using TCertificate = std::unique_ptr<X509, TFreeWith<X509, X509_free>>;
using TExtension = std::unique_ptr<X509_EXTENSION, TFreeWith<X509_EXTENSION, X509_EXTENSION_free>>;
using TBio = std::unique_ptr<BIO, TFreeWith<BIO, BIO_free_all>>;

[[noreturn]] void Fail() {
  ClearSSLErrors();
  throw ESelfSignedCertificateError(RSSelfSignedCertificateError);
}

void Check(bool ok) {
  if (!ok) {
    Fail();
  }
}

std::string AltNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) {
      text += ',';
    }
    text += (TSocketStack::IsIPv4Address(name) ? "IP:" : "DNS:") + name;
  }
  return text;
}

void AddExtension(X509* certificate, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  TExtension extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
  Check(extension != nullptr && X509_add_ext(certificate, extension.get(), -1) == 1);
}

void SetSerialNumber(X509* certificate) {
  unsigned char bytes[SerialBytes];
  Check(RAND_bytes(bytes, sizeof(bytes)) == 1);
  bytes[0] &= 0x7F;
  std::unique_ptr<BIGNUM, TFreeWith<BIGNUM, BN_free>> number(
      BN_bin2bn(bytes, sizeof(bytes), nullptr));
  Check(number != nullptr && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate)));
}

TCertificate SignedCertificate(EVP_PKEY* key, const std::vector<std::string>& names) {
  TCertificate certificate(X509_new());
  Check(certificate != nullptr);
  X509* native = certificate.get();
  Check(X509_set_version(native, X509_VERSION_3) == 1);
  SetSerialNumber(native);
  Check(X509_gmtime_adj(X509_getm_notBefore(native), -ClockSlackSeconds) != nullptr);
  Check(X509_gmtime_adj(X509_getm_notAfter(native), SelfSignedValidityDays * SecondsPerDay) !=
        nullptr);
  X509_NAME* subject = X509_get_subject_name(native);
  Check(X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(names.front().c_str()),
                                   -1, -1, 0) == 1);
  Check(X509_set_issuer_name(native, subject) == 1);
  Check(X509_set_pubkey(native, key) == 1);
  AddExtension(native, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(native, NID_key_usage, "critical,digitalSignature");
  AddExtension(native, NID_ext_key_usage, "serverAuth");
  AddExtension(native, NID_subject_key_identifier, "hash");
  AddExtension(native, NID_subject_alt_name, AltNames(names));
  Check(X509_sign(native, key, EVP_sha256()) > 0);
  return certificate;
}

std::string PemText(const std::function<int(BIO*)>& write) {
  TBio out(BIO_new(BIO_s_mem()));
  Check(out != nullptr && write(out.get()) == 1);
  char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  Check(length > 0);
  return std::string(data, static_cast<std::size_t>(length));
}

// Writes `content` beside `file_name` with `mode`, then renames it over the file.
void ReplaceFile(const std::string& file_name, const std::string& content, mode_t mode) {
  std::string temp_name = file_name + ".XXXXXX";
  TFileHandle file(::mkstemp(temp_name.data()));
  if (!file.IsOpen()) {
    RaiseLastOSError("Cannot create " + temp_name);
  }
  int error = ::fchmod(file.Get(), mode) == 0 ? 0 : errno;
  if (error == 0) {
    error = WriteAll(file.Get(), content);
  }
  if (error == 0 && ::fsync(file.Get()) != 0) {
    error = errno;
  }
  const int close_error = file.Close();
  if (error == 0) {
    error = close_error;
  }
  if (error == 0 && ::rename(temp_name.c_str(), file_name.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(temp_name.c_str());
    errno = error;
    RaiseLastOSError("Cannot write " + file_name);
  }
}

TCertificate ReadCertificate(const std::string& cert_file) {
  LoadOpenSSLLibrary();
  TBio in(BIO_new_file(cert_file.c_str(), "r"));
  TCertificate certificate(in ? PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr) : nullptr);
  ClearSSLErrors();
  return certificate;
}

}  // namespace

void MakeSelfSignedCertificate(const std::string& cert_file, const std::string& key_file,
                               const std::vector<std::string>& names) {
  LoadOpenSSLLibrary();
  Check(!names.empty());
  TKey key(EVP_EC_gen(KeyCurve));
  Check(key != nullptr);
  TCertificate certificate = SignedCertificate(key.get(), names);
  const std::string key_text = PemText([&](BIO* out) {
    return PEM_write_bio_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  const std::string certificate_text =
      PemText([&](BIO* out) { return PEM_write_bio_X509(out, certificate.get()); });
  ReplaceFile(key_file, key_text, KeyFileMode);
  ReplaceFile(cert_file, certificate_text, CertificateFileMode);
}

std::string CertificateFileFingerprint(const std::string& cert_file) {
  TCertificate certificate = ReadCertificate(cert_file);
  if (!certificate) {
    throw EOSSLLoadingCertError(RSOSSLLoadingCertError);
  }
  return CertificateFingerprintText(certificate.get());
}

bool CertificateFileCurrent(const std::string& cert_file) {
  TCertificate certificate = ReadCertificate(cert_file);
  return certificate && X509_cmp_current_time(X509_get0_notBefore(certificate.get())) < 0 &&
         X509_cmp_current_time(X509_get0_notAfter(certificate.get())) > 0;
}

}  // namespace quenby
