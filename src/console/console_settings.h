#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/command_line.h"
#include "util/file_system.h"  // ExecutablePath, the path the defaults are derived from

namespace quenby {

inline constexpr std::string_view SetupSection = "Setup";
inline constexpr std::string_view AliasSection = "Alias";
inline constexpr std::string_view DefaultPortText = "80";
inline constexpr std::string_view DefaultIndexDocument = "index.htm";
inline constexpr std::string_view SettingsFileExtension = ".ini";
inline constexpr std::string_view LogFileExtension = ".log";

/// The console's settings controls as plain values: the only live copy of the settings.
/// Owned by the console and used on its main thread only.
struct TConsoleSettings {
  std::string Host;                     ///< edHost
  std::string Port;                     ///< edPort, kept as text and converted at each start
  std::string Root;                     ///< edRoot
  std::string Index;                    ///< edIndex
  std::string LogFile;                  ///< edLogFile
  bool EnableLog = false;               ///< chkEnableLog
  bool AutoStart = false;               ///< chkAutoStart
  std::vector<std::string> AliasLines;  ///< memoAlias, one entry per line
};

/// The values that stand in for missing or empty keys.
struct TSettingsDefaults {
  std::string Root;     ///< DefaultRootDir: the executable's folder with its trailing "/"
  std::string LogFile;  ///< the executable's path with ".log"
  /// The machine's own address; asked only when the host is neither stored nor given.
  std::function<std::string()> Host;
};

/// `path` with the extension of its last path element replaced by `extension` (added when
/// there is none).
std::string ChangeFileExt(std::string_view path, std::string_view extension);

/// The folder part of `path` up to and including its last "/"; empty without one.
std::string ExtractFilePath(std::string_view path);

/// The defaults derived from the executable's path (the host source is left unset).
TSettingsDefaults DefaultsForExecutable(std::string_view executable_path);

/// Reads the settings file through the settings cache: Host, Port, Root, Index and LogFile
/// in that order, each replaced by its default when missing or empty, then the alias lines
/// and the two flags. A value given in `overrides` takes the place of the stored one (an
/// empty text included, which then stays empty); given alias lines replace the stored
/// ones. Main thread only. Raises EInOutError for a file that exists but cannot be read, and
/// whatever the host source raises.
TConsoleSettings LoadConsoleSettings(const std::string& ini_file, const TSettingsDefaults& defaults,
                                     const TCommandLine& overrides = {});

/// Writes the settings into the "Setup" keys (an empty text removes its key), flushes
/// "Setup", then writes and flushes the "Alias" section. Other sections stay as they are.
/// Main thread only. Raises EInOutError "Unable to write to %s" when the file cannot be
/// written, and EIniFileError for a line that cannot be stored.
void SaveConsoleSettings(const std::string& ini_file, const TConsoleSettings& settings);

/// The lines joined by CR LF, without a line break after the last one.
std::string JoinLinesCRLF(const std::vector<std::string>& lines);

}  // namespace quenby
