#pragma once

#include <string>
#include <string_view>

namespace quenby {

/// Folder of Quenby's own files under the per-user configuration and state folders.
inline constexpr std::string_view UserFolderName = "quenby";
inline constexpr std::string_view UserSettingsFileName = "quenby.ini";
inline constexpr std::string_view UserLogFileName = "quenby.log";

/// Where the settings file and the default activity log live.
struct TSettingsLocation {
  std::string SettingsFile;
  std::string LogFile;
};

/// The per-user base folders as the environment names them; empty when unset.
struct TUserFolders {
  std::string ConfigHome;  ///< XDG_CONFIG_HOME
  std::string StateHome;   ///< XDG_STATE_HOME
  std::string Home;        ///< HOME

  static TUserFolders FromEnvironment();
};

/// Beside the executable (its path with ".ini" and ".log") when a file can be created in its
/// folder; otherwise ConfigHome/quenby/quenby.ini and StateHome/quenby/quenby.log, with
/// Home/.config and Home/.local/state standing in for a base folder that is unset or not
/// absolute. Creates the two fallback folders when it picks them (a failure to do so shows later,
/// when the file is written). Stays beside the executable when no per-user folder is known.
/// Main thread only; raises nothing but std::bad_alloc.
TSettingsLocation ChooseSettingsLocation(std::string_view executable_path,
                                         const TUserFolders& folders);

/// Whether a new file can be created in `folder` (with its trailing "/"), found out by creating
/// and removing one: permission bits alone do not say so for root or a read-only file system.
bool CanCreateFilesIn(const std::string& folder);

}  // namespace quenby
