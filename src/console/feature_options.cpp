#include "console/feature_options.h"

#include <optional>
#include <string_view>

#include "console/tls_settings.h"
#include "util/settings_file.h"

namespace quenby {

namespace {

bool FeatureOn(const std::optional<bool>& option, std::string_view key) {
  return option.value_or(TextToBool(ReadSettingValue(OptionsSection, key)));
}

}  // namespace

TFeatureOptions LoadFeatureOptions(const TCommandLine& overrides) {
  TFeatureOptions features;
  features.KeepAlive = FeatureOn(overrides.KeepAlive, "KeepAlive");
  features.HTTPCache = FeatureOn(overrides.HTTPCache, "HTTPCache");
  features.ListFolders = FeatureOn(overrides.ListFolders, "ListFolders");
  features.OpenBrowser = FeatureOn(overrides.OpenBrowser, "OpenBrowser");
  features.ReloadModules = FeatureOn(overrides.ReloadModules, "ReloadModules");
  features.TraceModules = FeatureOn(overrides.TraceModules, "TraceModules");
  features.AllMethods = FeatureOn(overrides.AllMethods, "AllMethods");
  return features;
}

}  // namespace quenby
