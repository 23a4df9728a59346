// The console's HTTPS: the unattached TLS component, the handler a start attaches when the
// TLS settings ask for it, the self-signed certificate, and the server's address (and the
// browser opened on it).
#include <filesystem>
#include <iostream>

#include "console/server_console.h"
#include "net/self_signed_certificate.h"
#include "net/ssl_exceptions.h"
#include "util/browser_opener.h"

namespace quenby {

namespace {

constexpr const char* ComponentCertFile = "cert.pem";
constexpr const char* ComponentKeyFile = "key.pem";
/// The self-signed pair sits beside the settings file, named after it.
constexpr std::string_view SelfSignedCertSuffix = "-cert.pem";
constexpr std::string_view SelfSignedKeySuffix = "-key.pem";
constexpr const char* AnyAddress = "0.0.0.0";
constexpr const char* LocalHostName = "localhost";

bool FileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// localhost, 127.0.0.1 and the configured host, each once.
std::vector<std::string> SelfSignedNames(const std::string& host) {
  std::vector<std::string> names = {LocalHostName, LoopbackAddress};
  if (!host.empty() && host != AnyAddress && host != LocalHostName && host != LoopbackAddress) {
    names.push_back(host);
  }
  return names;
}

}  // namespace

void TServerConsole::ConfigureSSLComponent() {
  TSSLOptions& options = ServerIOHandlerSSL1.SSLOptions;
  options.RootCertFile = ComponentCertFile;
  options.CertFile = ComponentCertFile;
  options.KeyFile = ComponentKeyFile;
  options.Method = sslvSSLv2;
  options.Mode = sslmServer;
  options.VerifyMode = sslvrfClientOnce;
  options.VerifyDepth = 0;
}

void TServerConsole::AttachTLSHandler() {
  self_signed_fingerprint_.clear();
  if (!TLS.On()) {
    if (tls_handler_) {
      HTTPServer.SetIOHandler(nullptr);
      tls_handler_.reset();
    }
    return;
  }
  auto handler = std::make_unique<TServerIOHandlerSSL>();
  TSSLOptions& options = handler->SSLOptions;
  options.Method = sslvTLSv1;
  options.Mode = sslmServer;
  if (TLS.UsesSelfSigned()) {
    options.CertFile = ChangeFileExt(IniFileName, SelfSignedCertSuffix);
    options.KeyFile = ChangeFileExt(IniFileName, SelfSignedKeySuffix);
    // Made once and kept: a browser exception or a trusted copy stays valid across runs.
    if (!FileExists(options.KeyFile) || !CertificateFileCurrent(options.CertFile)) {
      MakeSelfSignedCertificate(options.CertFile, options.KeyFile, SelfSignedNames(Settings.Host));
    }
    self_signed_fingerprint_ = CertificateFileFingerprint(options.CertFile);
  } else {
    // One file without the other cannot serve: refused as a file that cannot be loaded.
    if (TLS.CertFile.empty()) {
      throw EOSSLLoadingCertError(RSOSSLLoadingCertError);
    }
    if (TLS.KeyFile.empty()) {
      throw EOSSLLoadingKeyError(RSOSSLLoadingKeyError);
    }
    options.CertFile = TLS.CertFile;
    options.KeyFile = TLS.KeyFile;
  }
  HTTPServer.SetIOHandler(handler.get());
  tls_handler_ = std::move(handler);
}

std::string TServerConsole::BaseURL() {
  return URLFor(Settings.Host.empty() ? std::string(AnyAddress) : Settings.Host);
}

std::string TServerConsole::URLFor(const std::string& host) {
  if (!HTTPServer.Active()) {
    return {};
  }
  const bool secure = tls_handler_ != nullptr && HTTPServer.IOHandler() == tls_handler_.get();
  return std::string(secure ? "https://" : "http://") + host + ":" +
         std::to_string(ListeningPort()) + "/";
}

std::string TServerConsole::BrowserURL() {
  const bool any = Settings.Host.empty() || Settings.Host == AnyAddress;
  return URLFor(any ? std::string(LoopbackAddress) : Settings.Host);
}

void TServerConsole::OpenBrowser() {
  const std::string failure = OpenInBrowser(BrowserURL());
  if (failure.empty())
    return;
  if (OnWarning)
    OnWarning(failure);
  else
    std::cerr << "quenby: " << failure << std::endl;
}

}  // namespace quenby
