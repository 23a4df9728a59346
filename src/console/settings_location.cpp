#include "console/settings_location.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "console/console_settings.h"

namespace quenby {

namespace {

constexpr std::string_view ProbeFilePrefix = ".quenby-write-probe-";
constexpr std::string_view ConfigUnderHome = ".config";
constexpr std::string_view StateUnderHome = ".local/state";

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// The base folder the variable names, or Home/under_home when it is unset or relative (a
// relative base folder is invalid and ignored). Empty when neither is usable.
std::string BaseFolder(const std::string& variable, const std::string& home,
                       std::string_view under_home) {
  if (variable.starts_with('/')) {
    return variable;
  }
  if (!home.starts_with('/')) {
    return {};
  }
  return home + "/" + std::string(under_home);
}

std::string UserFolder(const std::string& base) {
  std::string folder = base;
  if (!folder.ends_with('/')) {
    folder += '/';
  }
  folder += UserFolderName;
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return folder + "/";
}

}  // namespace

TUserFolders TUserFolders::FromEnvironment() {
  return {Variable("XDG_CONFIG_HOME"), Variable("XDG_STATE_HOME"), Variable("HOME")};
}

bool CanCreateFilesIn(const std::string& folder) {
  const std::string probe =
      folder + std::string(ProbeFilePrefix) +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  // "x": never opens, and so never removes, a file that is already there.
  std::FILE* file = std::fopen(probe.c_str(), "wx");
  if (file == nullptr) {
    return false;
  }
  std::fclose(file);
  std::remove(probe.c_str());
  return true;
}

TSettingsLocation ChooseSettingsLocation(std::string_view executable_path,
                                         const TUserFolders& folders) {
  TSettingsLocation beside{ChangeFileExt(executable_path, SettingsFileExtension),
                           ChangeFileExt(executable_path, LogFileExtension)};
  if (CanCreateFilesIn(ExtractFilePath(executable_path))) {
    return beside;
  }
  const std::string config = BaseFolder(folders.ConfigHome, folders.Home, ConfigUnderHome);
  const std::string state = BaseFolder(folders.StateHome, folders.Home, StateUnderHome);
  if (config.empty() || state.empty()) {
    return beside;
  }
  return {UserFolder(config) + std::string(UserSettingsFileName),
          UserFolder(state) + std::string(UserLogFileName)};
}

}  // namespace quenby
