// TLS context set-up: every failure of the set-up raises its own class and message, and a
// good certificate and key (plain or encrypted) give a usable context.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <functional>
#include <memory>

#include "net/server_io_handler_ssl.h"
#include "net/ssl_context.h"
#include "net/ssl_exceptions.h"
#include "support/temp_dir.h"
#include "support/tls_client.h"
#include "util/exception.h"

namespace quenby {
namespace {

// The key file again, encrypted with `password`.
std::string EncryptedKey(const test::TempDir& dir, const std::string& key_file,
                         const std::string& password) {
  std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_file(key_file.c_str(), "r"), &BIO_free);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
  const std::string file = dir.FilePath("encrypted-key.pem");
  std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new_file(file.c_str(), "w"), &BIO_free);
  EXPECT_EQ(PEM_write_bio_PrivateKey(out.get(), key.get(), EVP_aes_256_cbc(), nullptr, 0, nullptr,
                                     const_cast<char*>(password.c_str())),
            1);
  return file;
}

// "Class: message" of what `init` raises; empty when it raises nothing.
std::string Failure(const std::function<void()>& init) {
  try {
    init();
  } catch (const std::exception& e) {
    return ExceptionClassName(e) + ": " + e.what();
  }
  return {};
}

class SSLContextTest : public ::testing::Test {
 protected:
  SSLContextTest()
      : server_(test::MakeTestCertificate(dir_, "server")),
        other_(test::MakeTestCertificate(dir_, "other")) {}

  TSSLOptions Options() const {
    TSSLOptions options;
    options.CertFile = server_.CertFile;
    options.KeyFile = server_.KeyFile;
    return options;
  }

  // The failure of a server context set up from `options`.
  static std::string ServerFailure(const TSSLOptions& options) {
    TSSLContext context;
    context.Options = options;
    return Failure([&] { context.InitContext(sslCtxServer); });
  }

  test::TempDir dir_;
  test::TTestCertificate server_;
  test::TTestCertificate other_;
};

TEST_F(SSLContextTest, EachSetUpFailureHasItsClassAndMessage) {
  struct Case {
    const char* what;
    std::function<void(TSSLOptions&)> change;
    const char* failure;
  };
  const Case cases[] = {
      {"good", [](TSSLOptions&) {}, ""},
      {"TLSv1 means current TLS", [](TSSLOptions& o) { o.Method = sslvTLSv1; }, ""},
      {"both modes", [](TSSLOptions& o) { o.Mode = sslmBoth; }, ""},
      {"SSLv3", [](TSSLOptions& o) { o.Method = sslvSSLv3; },
       "EOSSLGetMethodError: Error geting SSL method."},
      {"SSLv2", [](TSSLOptions& o) { o.Method = sslvSSLv2; },
       "EOSSLGetMethodError: Error geting SSL method."},
      {"missing certificate", [&](TSSLOptions& o) { o.CertFile = dir_.FilePath("none.pem"); },
       "EOSSLLoadingCertError: Could not load certificate."},
      {"certificate that is a key", [&](TSSLOptions& o) { o.CertFile = server_.KeyFile; },
       "EOSSLLoadingCertError: Could not load certificate."},
      {"key of another certificate", [&](TSSLOptions& o) { o.KeyFile = other_.KeyFile; },
       "EOSSLLoadingKeyError: Could not load key, check password."},
      {"missing key", [&](TSSLOptions& o) { o.KeyFile = dir_.FilePath("none.pem"); },
       "EOSSLLoadingKeyError: Could not load key, check password."},
      {"missing root certificate",
       [&](TSSLOptions& o) { o.RootCertFile = dir_.FilePath("none.pem"); },
       "EOSSLLoadingRootCertError: Could not load root certificate."},
      {"unknown cipher list", [](TSSLOptions& o) { o.CipherList = "NO-SUCH-CIPHER"; },
       "EOSSLSettingCipherError: SetCipher failed."},
  };
  for (const Case& c : cases) {
    TSSLOptions options = Options();
    c.change(options);
    EXPECT_EQ(ServerFailure(options), c.failure) << c.what;
  }
}

TEST_F(SSLContextTest, ServerContextTakesServerModeAndAClientContextNeedsAMode) {
  TSSLContext server;
  server.Options = Options();
  server.InitContext(sslCtxServer);
  EXPECT_EQ(server.Options.Mode, sslmServer);
  EXPECT_NE(server.Native(), nullptr);

  TSSLContext client;
  EXPECT_EQ(Failure([&] { client.InitContext(sslCtxClient); }),
            "EOSSLModeNotSet: Mode has not been set.");
  EXPECT_EQ(client.Native(), nullptr);
}

TEST_F(SSLContextTest, AnEncryptedKeyAsksForItsPassword) {
  TSSLOptions options = Options();
  options.KeyFile = EncryptedKey(dir_, server_.KeyFile, "s3cret");
  for (const std::string password : {"s3cret", "wrong", ""}) {
    TServerIOHandlerSSL handler;
    handler.SSLOptions = options;
    int asked = 0;
    handler.OnGetPassword = [&](std::string& answer) {
      ++asked;
      answer = password;
    };
    const std::string failure = Failure([&] { handler.InitHandler(); });
    EXPECT_GE(asked, 1) << password;
    EXPECT_EQ(failure, password == "s3cret"
                           ? ""
                           : "EOSSLLoadingKeyError: Could not load key, check password.")
        << password;
  }
}

}  // namespace
}  // namespace quenby
