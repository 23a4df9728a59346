#pragma once

#include "console/command_line.h"

namespace quenby {

/// The opt-in features beyond the console's own behaviour. Each is off unless its
/// command-line option or its [Options] key turns it on; off, replies and log lines stay
/// what they always were.
struct TFeatureOptions {
  bool KeepAlive = false;      ///< [Options] KeepAlive, --keep-alive
  bool HTTPCache = false;      ///< [Options] HTTPCache, --http-cache
  bool ListFolders = false;    ///< [Options] ListFolders, --list-folders
  bool OpenBrowser = false;    ///< [Options] OpenBrowser, --open
  bool ReloadModules = false;  ///< [Options] ReloadModules, --reload-modules
  bool TraceModules = false;   ///< [Options] TraceModules, --trace-modules
  bool AllMethods = false;     ///< [Options] AllMethods, --all-methods

  bool operator==(const TFeatureOptions&) const = default;
};

/// The [Options] feature keys of the settings cache (load the file first), a command-line
/// option taking the place of its key when given. Main thread only.
TFeatureOptions LoadFeatureOptions(const TCommandLine& overrides);

}  // namespace quenby
