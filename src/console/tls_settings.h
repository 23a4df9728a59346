#pragma once

#include <string>
#include <string_view>

#include "console/command_line.h"

namespace quenby {

/// The settings file's section of opt-in features; the window's save leaves it as it is.
inline constexpr std::string_view OptionsSection = "Options";

/// How a start serves HTTPS. Without any of them the server speaks plain HTTP.
struct TTLSSettings {
  std::string CertFile;     ///< [Options] TLSCert, --tls-cert
  std::string KeyFile;      ///< [Options] TLSKey, --tls-key
  bool SelfSigned = false;  ///< [Options] TLS, --tls

  /// Whether a start serves HTTPS: files given, or a self-signed certificate asked for.
  bool On() const { return !CertFile.empty() || !KeyFile.empty() || SelfSigned; }
  /// Whether the self-signed certificate is used: asked for, and no files given.
  bool UsesSelfSigned() const { return SelfSigned && CertFile.empty() && KeyFile.empty(); }
};

/// The [Options] TLS keys of the settings cache (load the file first), a command-line option
/// taking the place of its key when given. Main thread only.
TTLSSettings LoadTLSSettings(const TCommandLine& overrides);

}  // namespace quenby
