#include "console/tls_settings.h"

#include "util/settings_file.h"

namespace quenby {

TTLSSettings LoadTLSSettings(const TCommandLine& overrides) {
  TTLSSettings settings;
  settings.CertFile = overrides.TLSCertFile.value_or(ReadSettingValue(OptionsSection, "TLSCert"));
  settings.KeyFile = overrides.TLSKeyFile.value_or(ReadSettingValue(OptionsSection, "TLSKey"));
  settings.SelfSigned = overrides.TLS.value_or(TextToBool(ReadSettingValue(OptionsSection, "TLS")));
  return settings;
}

}  // namespace quenby
