#include "console/console_settings.h"

#include <optional>

#include "util/settings_file.h"

namespace quenby {

namespace {

constexpr std::string_view LineBreak = "\r\n";

// The stored value of a "Setup" key, or the override when one was given. The default
// stands in for an empty result, except for an override given empty on purpose.
std::string SetupValue(std::string_view key, const std::optional<std::string>& given,
                       const std::function<std::string()>& fallback) {
  if (given) {
    return *given;
  }
  std::string value = ReadSettingValue(SetupSection, key);
  if (value.empty() && fallback) {
    value = fallback();
  }
  return value;
}

std::function<std::string()> Constant(const std::string& value) {
  return [value] { return value; };
}

}  // namespace

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  const bool has_extension =
      dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
  std::string result(has_extension ? path.substr(0, dot) : path);
  result += extension;
  return result;
}

std::string ExtractFilePath(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

TSettingsDefaults DefaultsForExecutable(std::string_view executable_path) {
  TSettingsDefaults defaults;
  defaults.Root = ExtractFilePath(executable_path);
  defaults.LogFile = ChangeFileExt(executable_path, LogFileExtension);
  return defaults;
}

TConsoleSettings LoadConsoleSettings(const std::string& ini_file, const TSettingsDefaults& defaults,
                                     const TCommandLine& overrides) {
  LoadSettingsFile(ini_file);
  TConsoleSettings settings;
  settings.Host = SetupValue("Host", overrides.Host, defaults.Host);
  settings.Port = SetupValue("Port", overrides.Port, Constant(std::string(DefaultPortText)));
  settings.Root = SetupValue("Root", overrides.Root, Constant(defaults.Root));
  settings.Index =
      SetupValue("Index", overrides.Index, Constant(std::string(DefaultIndexDocument)));
  settings.LogFile = SetupValue("LogFile", overrides.LogFile, Constant(defaults.LogFile));
  if (overrides.AliasLines) {
    settings.AliasLines = *overrides.AliasLines;
  } else {
    ReadSectionText(AliasSection, settings.AliasLines);
  }
  settings.EnableLog =
      overrides.EnableLog.value_or(TextToBool(ReadSettingValue(SetupSection, "EnableLog")));
  settings.AutoStart = TextToBool(ReadSettingValue(SetupSection, "AutoStart"));
  return settings;
}

void SaveConsoleSettings(const std::string& ini_file, const TConsoleSettings& settings) {
  WriteSettingValue(SetupSection, "Host", settings.Host);
  WriteSettingValue(SetupSection, "Port", settings.Port);
  WriteSettingValue(SetupSection, "Root", settings.Root);
  WriteSettingValue(SetupSection, "Index", settings.Index);
  WriteSettingValue(SetupSection, "LogFile", settings.LogFile);
  WriteSettingValue(SetupSection, "EnableLog", BoolToText(settings.EnableLog));
  WriteSettingValue(SetupSection, "AutoStart", BoolToText(settings.AutoStart));
  FlushSettingsSections(ini_file, SetupSection);
  WriteSectionText(AliasSection, JoinLinesCRLF(settings.AliasLines));
  FlushSettingsSections(ini_file, AliasSection);
}

std::string JoinLinesCRLF(const std::vector<std::string>& lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) {
      text += LineBreak;
    }
    text += lines[i];
  }
  return text;
}

}  // namespace quenby
