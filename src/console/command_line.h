#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenby {

/// Exit code of a run whose command line could not be understood.
constexpr int UsageExitCode = 2;

/// The options of one run. An option that was not given is an empty optional, so the
/// settings file's value stands; a given option overrides it, an empty text included.
struct TCommandLine {
  bool Help = false;
  bool Headless = false;
  /// Replaces the settings file beside the executable.
  std::optional<std::string> SettingsFile;
  std::optional<std::string> Host;
  /// Kept as text: it is checked when the server starts, like the settings file's port.
  std::optional<std::string> Port;
  std::optional<std::string> Root;
  std::optional<std::string> Index;
  std::optional<std::string> LogFile;
  /// --log gives true, --no-log false; the last one given wins.
  std::optional<bool> EnableLog;
  /// The --alias lines in the order given ("/NAME=DIR"); when given, they replace the
  /// settings file's alias lines. `--alias ""` gives an empty list: no aliases.
  std::optional<std::vector<std::string>> AliasLines;
  /// --tls-cert and --tls-key: serve HTTPS with these PEM files. Given together or not at
  /// all; they take the place of the settings file's [Options] TLSCert and TLSKey.
  std::optional<std::string> TLSCertFile;
  std::optional<std::string> TLSKeyFile;
  /// --tls: serve HTTPS with a self-signed certificate made once and kept.
  std::optional<bool> TLS;
  /// The opt-in features; each flag takes the place of its [Options] key.
  std::optional<bool> KeepAlive;
  std::optional<bool> HTTPCache;
  std::optional<bool> ListFolders;
  std::optional<bool> OpenBrowser;
  std::optional<bool> ReloadModules;
  std::optional<bool> TraceModules;
  std::optional<bool> AllMethods;
};

/// The outcome of parsing: the options, or a one-line message for the user.
struct TCommandLineResult {
  TCommandLine Options;
  /// Empty when the command line is valid.
  std::string Error;
  bool Ok() const { return Error.empty(); }
};

/// Parses the arguments after the program name. Options take "--opt value" or
/// "--opt=value"; a following argument that starts with "--" is not taken as a value.
/// --help ends the parse at once. Never throws for bad input: an unknown option, a missing
/// value or a stray argument gives an error result.
TCommandLineResult ParseCommandLine(const std::vector<std::string>& arguments);

/// The same for main's arguments; argv[0] (the program) is skipped.
TCommandLineResult ParseCommandLine(int argc, const char* const argv[]);

/// The usage text, several lines each ending in "\n", naming `program` in the synopsis.
std::string Usage(std::string_view program = "quenby");

}  // namespace quenby
